// Encode FL3: the members that an index file names, packed in its order
// into an archive that replaces the old one only once it is complete.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/text.h"
#include "fl3/fl3.h"
#include "fl3/format.h"
#include "fl3/stream.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace vid::fl3 {

namespace {

std::string number(std::uint64_t n) { return std::to_string(n); }

// The new archive, written beside its final name. Removed unless it was
// moved onto that name.
class TempArchive {
public:
    TempArchive(std::string path, platform::File file) : path_(std::move(path)), file_(std::move(file)) {}
    TempArchive(const TempArchive&) = delete;
    TempArchive& operator=(const TempArchive&) = delete;
    ~TempArchive() {
        if (!path_.empty()) {
            file_.close();
            platform::remove_file(path_);
        }
    }
    platform::File& file() { return file_; }
    // Closes the file and moves it onto `target`.
    bool commit(const std::string& target) {
        if (!file_.close() || !platform::replace_file(path_, target)) return false;
        path_.clear();
        return true;
    }

private:
    std::string path_;
    platform::File file_;
};

std::optional<TempArchive> create_temp_beside(const std::string& target) {
    // "<archive>.tmp", "<archive>.tmp1", ... or, when that is over the path
    // limit, "~1.tmp", "~2.tmp", ... in the archive's folder.
    std::size_t cut = target.find_last_of(std::string{'/', platform::kSeparator});
    for (int n = 0; n < 100; ++n) {
        std::string path = target + ".tmp" + (n ? number(static_cast<std::uint64_t>(n)) : "");
        if (!platform::fits(path) && cut != std::string::npos)
            path = target.substr(0, cut + 1) + "~" + number(static_cast<std::uint64_t>(n + 1)) + ".tmp";
        if (!platform::fits(path)) return std::nullopt;
        if (auto f = platform::File::open(path, platform::OpenMode::create_new)) return std::optional<TempArchive>(std::in_place, path, std::move(*f));
        if (!platform::exists(path)) return std::nullopt;  // not a name clash: the folder refuses
    }
    return std::nullopt;
}

}  // namespace

std::optional<Index> load_index(Ui& ui, const std::string& index_path) {
    if (!platform::fits(index_path)) {
        ui.alert(platform::too_long_message(index_path));
        return std::nullopt;
    }
    auto file = platform::File::open(index_path, platform::OpenMode::read_existing);
    if (!file) {
        ui.alert(format("%s not found", {index_path}));
        return std::nullopt;
    }
    auto size = file->size();
    if (!size) {
        ui.alert(format("Can't read %s", {index_path}));
        return std::nullopt;
    }
    if (*size > 0xFFFFFFFFu) {
        ui.alert(format("%s is too large for an FL3 index: its length must fit the 4-byte directory length "
                        "of an FL3 header.",
                        {index_path}));
        return std::nullopt;
    }
    // The member folder is the index path less "\_index.bin", whatever the
    // file's name really is.
    const std::size_t cut = kIndexName.size() + 1;
    const auto folder =
        index_path.size() > cut ? std::optional<std::string>(index_path.substr(0, index_path.size() - cut)) : std::nullopt;
    if (!folder) {
        ui.alert(format("%s names no member folder: the folder is the path less its last 11 characters.",
                        {index_path}));
        return std::nullopt;
    }

    FileReader in(*file, *size, std::size_t{64} << 10);
    Directory dir = read_directory(in, kMaxEntries);
    if (in.failed()) {
        ui.alert(format("Can't read %s", {index_path}));
        return std::nullopt;
    }
    switch (dir.end) {
        case Directory::End::marker: break;
        case Directory::End::end_of_data:
            ui.alert(format("%s is not a complete FL3 index: it has no end marker (FF FF FF FF) before the end "
                            "of the file. Nothing is written.",
                            {index_path}));
            return std::nullopt;
        case Directory::End::limit:
            ui.alert(format("%s holds more than 65535 entries, more than an FL3 archive can hold. Nothing is "
                            "written.",
                            {index_path}));
            return std::nullopt;
    }

    Index index;
    index.path = index_path;
    index.member_folder = *folder;
    index.file_length = static_cast<std::uint32_t>(*size);
    index.names.reserve(dir.entries.size());
    for (Entry& e : dir.entries) {
        if (!is_safe_name(e.name)) {
            ui.alert(format("%s:\n", {index_path}) + refused_name_message(e.name) + ". Nothing is written.");
            return std::nullopt;
        }
        std::string path = platform::join(index.member_folder, e.name);
        if (!platform::fits(path)) {
            ui.alert(platform::too_long_message(path) + ". Nothing is written.");
            return std::nullopt;
        }
        index.names.push_back(std::move(e.name));
    }
    return index;
}

bool compact(Ui& ui, const Index& index, const std::string& archive_path) {
    if (!platform::fits(archive_path)) {
        ui.alert(platform::too_long_message(archive_path));
        return false;
    }
    auto temp = create_temp_beside(archive_path);
    if (!temp) {
        ui.alert(format("Can't create %s", {archive_path}));
        return false;
    }
    ui.status(format("Compacting %s", {archive_path}), Draw::now);
    const std::string cant_write = format("Can't write %s", {archive_path});

    FileWriter out(temp->file());
    out.write_zeros(kHeaderSize);  // the header's place; the header is written last

    struct Packed {
        std::uint32_t size;
        const std::string* name;
    };
    std::vector<Packed> packed;
    packed.reserve(index.names.size());
    std::uint64_t data_end = kHeaderSize;
    // A skipped member leaves the directory, and so the directory length,
    // shorter by its entry; bytes after the index's end marker still count.
    std::uint64_t dir_length = index.file_length;
    bool all_packed = true;

    for (const std::string& name : index.names) {
        const std::string path = platform::join(index.member_folder, name);
        auto member = platform::File::open(path, platform::OpenMode::read_existing);
        auto size = member ? member->size() : std::nullopt;
        if (!size) {
            ui.alert(format("%s not found\nSkip it", {path}));
            dir_length -= std::min<std::uint64_t>(dir_length, 5 + name.size());
            all_packed = false;
            continue;
        }
        if (*size > kMaxMemberSize) {
            ui.alert(format("%s is too large for an FL3 archive: a member holds at most 4294967294 bytes "
                            "(4 GiB less 2). The archive %s is not written.",
                            {path, archive_path}));
            return false;
        }
        if (data_end + *size > 0xFFFFFFFFu) {
            ui.alert(format("The members of %s take 4 GiB or more, more than an FL3 archive can hold before its "
                            "directory. The archive %s is not written.",
                            {index.path, archive_path}));
            return false;
        }
        ui.status(format("Compacting %s into %s", {name, path}), Draw::now);

        // Exactly `size` bytes: if the file shrinks meanwhile, zero bytes
        // stand for what it no longer holds.
        std::uint64_t left = *size;
        bool at_end = false;
        while (left > 0) {
            auto room = out.space();
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, room.size()));
            std::size_t got = at_end ? 0 : member->read_full(room.first(n));
            if (got < n) {
                at_end = true;
                std::memset(room.data() + got, 0, n - got);
            }
            if (!out.commit(n)) break;
            left -= n;
        }
        if (!out.ok()) {
            ui.alert(cant_write);
            return false;
        }
        packed.push_back({static_cast<std::uint32_t>(*size), &name});
        data_end += *size;
    }

    Bytes directory;
    for (const Packed& p : packed) {
        directory.clear();
        put_entry(directory, p.size, *p.name);
        out.write(directory);
    }
    directory.clear();
    put_u32(directory, kEndMarker);
    out.write(directory);

    Header h;
    h.dir_length = static_cast<std::uint32_t>(dir_length);
    h.dir_offset = static_cast<std::uint32_t>(data_end);
    h.entry_count = static_cast<std::uint16_t>(packed.size());
    const auto header = header_bytes(h);
    if (!out.flush() || !temp->file().seek(0) || !temp->file().write(header)) {
        ui.alert(cant_write);
        return false;
    }
    if (!temp->commit(archive_path)) {
        ui.alert(format("Can't create %s", {archive_path}));
        return false;
    }
    if (!all_packed) {
        // The archive is consistent, but it lacks the members that were skipped.
        ui.status(format("Compacting %s: %d of %d members skipped",
                         {archive_path, number(index.names.size() - packed.size()), number(index.names.size())}),
                  Draw::later);
        return false;
    }
    ui.status("Compacting OK", Draw::later);
    return true;
}

}  // namespace vid::fl3

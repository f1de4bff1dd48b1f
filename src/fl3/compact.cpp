// Encode FL3: the members that an index file names, packed in its order
// into an archive that replaces the old one only once it is complete.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"
#include "platform/output.h"
#include "fl3/archive.h"
#include "fl3/fl3.h"
#include "fl3/format.h"
#include "fl3/stream.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace vid::fl3 {

std::optional<Index> load_index(Ui& ui, const std::string& index_path) {
    if (!platform::fits(index_path)) {
        ui.alert(too_long_message(index_path));
        return std::nullopt;
    }
    // The members lie beside their index, which has the one name that
    // Extract FL3 gives it: any other name is refused before anything is read.
    const auto parts = platform::split_path(index_path);
    if (!is_index_name(parts.name)) {
        ui.alert(format("%s is not named as an FL3 index: an index is named _index.bin (in any case) and its "
                        "members lie beside it. Nothing is written.",
                        {index_path}));
        return std::nullopt;
    }
    auto file = open_input(ui, index_path);
    if (!file) return std::nullopt;
    auto size = file->size();
    if (!size) {
        ui.alert(cant_read(index_path));
        return std::nullopt;
    }
    if (*size > 0xFFFFFFFFu) {
        ui.alert(format("%s is too large for an FL3 index: its length must fit the 4-byte directory length "
                        "of an FL3 header.",
                        {index_path}));
        return std::nullopt;
    }
    FileReader in(*file, *size, std::size_t{64} << 10);
    Directory dir = read_directory(in, kMaxEntries);
    if (in.failed()) {
        ui.alert(cant_read(index_path));
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
    index.id = file->id();
    index.member_folder = std::string(parts.folder);
    index.file_length = static_cast<std::uint32_t>(*size);
    index.names.reserve(dir.entries.size());
    for (Entry& e : dir.entries) {
        if (!is_safe_name(e.name)) {
            ui.alert(format("%s:\n", {index_path}) + refused_name_message(e.name) + ". Nothing is written.");
            return std::nullopt;
        }
        std::string path = index.member_folder + e.name;
        if (!platform::fits(path)) {
            ui.alert(too_long_message(path) + ". Nothing is written.");
            return std::nullopt;
        }
        index.names.push_back(std::move(e.name));
    }
    return index;
}

namespace {

// How one member went into the archive.
enum class Packing { packed, skipped, failed };

}  // namespace

bool compact(Ui& ui, const Index& index, const std::string& archive_path) {
    const std::string cant_create = vid::cant_create(archive_path);
    if (!platform::fits(archive_path)) {
        ui.alert(too_long_message(archive_path));
        return false;
    }
    // The archive is checked and held before any member is read. A
    // symbolic link named as the archive has its target replaced.
    auto temp = platform::Output::create(archive_path, platform::Existing::replace_target);
    if (!temp || (temp->replaced() && temp->replaced() == index.id)) {
        ui.alert(cant_create);
        return false;
    }
    const std::optional<platform::FileId> archive_id = temp->replaced();
    platform::File& file = temp->file();
    ui.status(format("Compacting %s", {archive_path}), Draw::now);
    const std::string cant_write = vid::cant_write(archive_path);
    const std::string not_written = format("Compacting %s: not written", {archive_path});
    const auto fail = [&ui, &not_written](const std::string& text) {
        ui.alert(text);
        ui.status(not_written, Draw::later);
        return false;
    };

    FileWriter out(file);
    ArchiveWriter archive(out);
    archive.reserve_header();  // the header is written last
    // A skipped member leaves the directory, and so the directory length,
    // shorter by its entry; bytes after the index's end marker still count.
    std::uint64_t dir_length = index.file_length;

    // Packs one member at the end of the data; a member that cannot be read
    // as it was found is skipped with an Alert and leaves nothing behind.
    const auto pack = [&](const std::string& name) -> Packing {
        const std::string path = index.member_folder + name;
        const auto id = platform::id_of(path);
        if (is_index_name(name) || (id && id == index.id)) {
            ui.alert(format("%s names the index file itself as a member: %s is not packed\nSkip it",
                            {index.path, path}));
            return Packing::skipped;
        }
        if (id && id == archive_id) {
            fail(cant_create);
            return Packing::failed;
        }
        platform::OpenError why = platform::OpenError::none;
        auto member = platform::File::open(path, platform::OpenMode::read_existing, &why);
        auto size = member ? member->size() : std::nullopt;
        if (!size) {
            ui.alert(input_error_text(why, path) + "\nSkip it");
            return Packing::skipped;
        }
        if (*size > kMaxMemberSize) {
            fail(format("%s is too large for an FL3 archive: a member holds at most 4294967294 bytes "
                        "(4 GiB less 2). The archive %s is not written.",
                        {path, archive_path}));
            return Packing::failed;
        }
        const std::uint64_t data_end = archive.data_end();
        if (data_end + *size > 0xFFFFFFFFu) {
            fail(format("The members of %s take 4 GiB or more, more than an FL3 archive can hold before its "
                        "directory. The archive %s is not written.",
                        {index.path, archive_path}));
            return Packing::failed;
        }
        ui.status(format("Compacting %s into %s", {name, path}), Draw::now);

        // Exactly `size` bytes, and then the end of the file: a member that
        // shrinks or grows meanwhile is not packed half old, half new.
        std::uint64_t left = *size;
        bool in_step = true;  // the member's position is where its bytes so far end
        if (left >= kSystemCopyMin && out.flush()) {
            left -= file.copy_range_from(*member, 0, left);
            in_step = member->seek(*size - left);
        }
        while (in_step && left > 0) {
            auto room = out.space();
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, room.size()));
            std::size_t got = member->read_full(room.first(n));
            if (got < n) break;
            if (!out.commit(n)) break;
            left -= n;
        }
        if (!out.ok()) {
            fail(cant_write);
            return Packing::failed;
        }
        std::uint8_t probe = 0;
        if (!in_step || left > 0 || member->read(std::span(&probe, 1)) > 0) {
            // Take back what was written of it.
            if (!out.flush() || !file.seek(data_end) || !file.resize(data_end)) {
                fail(cant_write);
                return Packing::failed;
            }
            ui.alert(format("%s changed while it was packed: it is not packed\nSkip it", {path}));
            return Packing::skipped;
        }
        archive.add(name, static_cast<std::uint32_t>(*size));
        return Packing::packed;
    };

    for (const std::string& name : index.names) {
        switch (pack(name)) {
            case Packing::packed: break;
            case Packing::skipped: dir_length -= std::min<std::uint64_t>(dir_length, 5 + name.size()); break;
            case Packing::failed: return false;
        }
    }
    const std::size_t skipped = index.names.size() - archive.count();
    const std::string counts = format("%d of %d", {std::to_string(skipped), std::to_string(index.names.size())});
    if (skipped > 0 && archive_id) {
        // An existing archive is never replaced by one that lacks members.
        ui.alert(format("%s members of %s could not be packed: the archive %s is left unchanged.",
                        {counts, index.path, archive_path}));
        ui.status(format("Compacting %s: %s members skipped, archive unchanged", {archive_path, counts}), Draw::later);
        return false;
    }

    if (!archive.finish(static_cast<std::uint32_t>(dir_length))) return fail(cant_write);
    if (!temp->commit()) return fail(cant_create);
    if (skipped > 0) {
        // A new archive: consistent, but without the members that were skipped.
        ui.status(format("Compacting %s: %s members skipped", {archive_path, counts}), Draw::later);
        return false;
    }
    ui.status("Compacting OK", Draw::later);
    return true;
}

}  // namespace vid::fl3

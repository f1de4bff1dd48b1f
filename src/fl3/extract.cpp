// Extract FL3: the archive's directory becomes `_index.bin` and every
// member a file of the member folder.
#include <array>
#include <string>
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

// What the directory read says about the archive's consistency; empty when
// header and directory agree.
std::string directory_problem(const Header& h, const Directory& dir) {
    switch (dir.end) {
        case Directory::End::end_of_data:
            return "The directory has no end marker before the end of the file.";
        case Directory::End::limit:
            return format("The directory holds more entries than the %d that the header counts.",
                          {number(h.entry_count)});
        case Directory::End::marker: break;
    }
    if (dir.entries.size() < h.entry_count)
        return format("The header counts %d members, but the directory holds only %d.",
                      {number(h.entry_count), number(dir.entries.size())});
    if (dir.length > h.dir_length)
        return format("The directory takes %d bytes, more than the %d of the header's directory length: "
                      "_index.bin holds only part of it.",
                      {number(dir.length), number(h.dir_length)});
    return {};
}

// A member that will be extracted, and where.
struct Planned {
    const Entry* entry;
    std::string path;
};

struct Plan {
    std::vector<Planned> members;
    std::vector<std::string> problems;  // one line each, for a single Alert
};

Plan plan_members(const Header& h, const Directory& dir, const std::string& folder, std::uint64_t archive_size) {
    Plan plan;
    if (auto p = directory_problem(h, dir); !p.empty()) plan.problems.push_back(std::move(p));

    const Entry* first_refused = nullptr;
    std::size_t refused = 0;
    std::string first_long;
    std::size_t too_long = 0;
    std::size_t truncated = 0;
    for (const Entry& e : dir.entries) {
        if (!is_safe_name(e.name)) {
            if (refused++ == 0) first_refused = &e;
            continue;
        }
        std::string path = platform::join(folder, e.name);
        if (!platform::fits(path)) {
            if (too_long++ == 0) first_long = path;
            continue;
        }
        if (kHeaderSize + e.position + e.size > archive_size) ++truncated;
        plan.members.push_back({&e, std::move(path)});
    }
    if (refused > 0) {
        std::string line = refused_name_message(first_refused->name) + ".";
        if (refused > 1)
            line += format(" %d more members are refused for the same reason.", {number(refused - 1)});
        plan.problems.push_back(std::move(line));
    }
    if (too_long > 0) {
        std::string line = platform::too_long_message(first_long) + ".";
        if (too_long > 1) line += format(" %d more members are not extracted for the same reason.", {number(too_long - 1)});
        plan.problems.push_back(std::move(line));
    }
    if (truncated > 0)
        plan.problems.push_back(format(
            "The archive is truncated: %d of its members run past its end; they are written at their full "
            "size, with zero bytes in place of the missing data.",
            {number(truncated)}));
    return plan;
}

}  // namespace

bool extract(Ui& ui, const std::string& archive_path) {
    ui.status(format("Extracting %s", {archive_path}), Draw::now);
    if (!platform::fits(archive_path)) {
        ui.alert(platform::too_long_message(archive_path));
        return false;
    }
    auto archive = platform::File::open(archive_path, platform::OpenMode::read_existing);
    if (!archive) {
        ui.alert(format("%s not found", {archive_path}));
        return false;
    }
    const std::string cant_read = format("Can't read %s", {archive_path});
    auto archive_size = archive->size();
    if (!archive_size) {
        ui.alert(cant_read);
        return false;
    }
    FileReader in(*archive, *archive_size);

    std::array<std::uint8_t, kHeaderSize> header_buf{};
    auto header = parse_header(ByteView(header_buf).first(in.read(header_buf)));
    if (in.failed()) {
        ui.alert(cant_read);
        return false;
    }
    if (!header) {
        ui.alert(format("%s is not an FL3 archive: it is shorter than the 28 bytes of an FL3 header.", {archive_path}));
        return false;
    }
    if (header->dir_offset >= *archive_size) {
        ui.alert(format("%s is damaged: its directory would start at byte %d, beyond the end of the file "
                        "(%d bytes). Nothing is extracted.",
                        {archive_path, number(header->dir_offset), number(*archive_size)}));
        return false;
    }

    auto folder = platform::overwrite_from_end(archive_path, 4, '_');
    if (!folder) {
        ui.alert(format("Can't create a member folder for %s", {archive_path}));
        return false;
    }
    const std::string index_path = platform::join(*folder, kIndexName);
    if (!platform::fits(index_path)) {
        ui.alert(platform::too_long_message(index_path));
        return false;
    }
    // An existing folder is reused; a folder that cannot be made shows
    // itself when _index.bin cannot be created in it.
    platform::create_directory(*folder);

    // _index.bin: the header's directory length in bytes from the directory
    // offset. What lies past the end of the archive reads as zeros (an index
    // file that held bytes after its end marker counts them in that length).
    {
        auto out = platform::File::open(index_path, platform::OpenMode::create_always);
        if (!out) {
            ui.alert(format("Can't create %s", {index_path}));
            return false;
        }
        in.seek(header->dir_offset);
        CopyResult r = copy_zero_filled(in, *out, header->dir_length);
        if (r == CopyResult::ok && !out->close()) r = CopyResult::write_failed;
        if (r != CopyResult::ok) {
            ui.alert(r == CopyResult::read_failed ? cant_read : format("Can't write %s", {index_path}));
            return false;
        }
    }

    in.seek(header->dir_offset);
    const Directory dir = read_directory(in, header->entry_count);
    if (in.failed()) {
        ui.alert(cant_read);
        return false;
    }

    const Plan plan = plan_members(*header, dir, *folder, *archive_size);
    if (!plan.problems.empty()) {
        std::string text = format("%s is not extracted in full:", {archive_path});
        for (const auto& line : plan.problems) text += "\n" + line;
        ui.alert(text);
    }

    for (const Planned& m : plan.members) {
        ui.status(format("Extracting %s:%s", {archive_path, m.entry->name}), Draw::now);
        auto out = platform::File::open(m.path, platform::OpenMode::create_always);
        if (!out) {
            // The text goes to the status line, which the Alert then shows.
            std::string text = format("Can't create %s", {m.path});
            ui.status(text, Draw::later);
            ui.alert(text);
            return false;
        }
        in.seek(kHeaderSize + m.entry->position);
        CopyResult r = copy_zero_filled(in, *out, m.entry->size);
        if (r == CopyResult::ok && !out->close()) r = CopyResult::write_failed;
        if (r != CopyResult::ok) {
            ui.alert(r == CopyResult::read_failed ? cant_read : format("Can't write %s", {m.path}));
            return false;
        }
    }

    if (!plan.problems.empty()) {
        ui.status(format("Extracting %s: not extracted in full", {archive_path}), Draw::later);
        return false;
    }
    ui.status("Extracting OK", Draw::later);
    return true;
}

}  // namespace vid::fl3

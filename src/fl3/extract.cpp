// Extract FL3: the archive's directory becomes `_index.bin` and every
// member a file of the member folder.
#include <array>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "fl3/fl3.h"
#include "fl3/format.h"
#include "fl3/stream.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace vid::fl3 {

namespace {

// What the directory read says about the archive's consistency; empty when
// header and directory agree.
std::string directory_problem(const Header& h, const Directory& dir) {
    switch (dir.end) {
        case Directory::End::end_of_data:
            return "The directory has no end marker before the end of the file.";
        case Directory::End::limit:
            return format("The directory holds more entries than the %d that the header counts.",
                          {std::to_string(h.entry_count)});
        case Directory::End::marker: break;
    }
    if (dir.entries.size() < h.entry_count)
        return format("The header counts %d members, but the directory holds only %d.",
                      {std::to_string(h.entry_count), std::to_string(dir.entries.size())});
    if (dir.length > h.dir_length)
        return format("The directory takes %d bytes, more than the %d of the header's directory length: "
                      "_index.bin holds only part of it.",
                      {std::to_string(dir.length), std::to_string(h.dir_length)});
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

// One line for the members left out for the same reason: the first one's
// explanation and how many more there are.
void add_left_out(std::vector<std::string>& problems, const std::vector<const Entry*>& members, std::string first,
                  std::string_view more) {
    if (members.empty()) return;
    first += ".";
    if (members.size() > 1) first += format(more, {std::to_string(members.size() - 1)});
    problems.push_back(std::move(first));
}

Plan plan_members(const Header& h, const Directory& dir, const std::string& folder, std::uint64_t archive_size) {
    Plan plan;
    if (auto p = directory_problem(h, dir); !p.empty()) plan.problems.push_back(std::move(p));

    std::vector<const Entry*> refused, index_named, too_long;
    std::size_t truncated = 0;
    for (const Entry& e : dir.entries) {
        if (!is_safe_name(e.name)) {
            refused.push_back(&e);
            continue;
        }
        if (is_index_name(e.name)) {
            index_named.push_back(&e);
            continue;
        }
        std::string path = platform::join(folder, e.name);
        if (!platform::fits(path)) {
            too_long.push_back(&e);
            continue;
        }
        if (kHeaderSize + e.position + e.size > archive_size) ++truncated;
        plan.members.push_back({&e, std::move(path)});
    }
    constexpr std::string_view refused_more = " %d more members are refused for the same reason.";
    if (!refused.empty()) add_left_out(plan.problems, refused, refused_name_message(refused[0]->name), refused_more);
    if (!index_named.empty())
        add_left_out(plan.problems, index_named,
                     format("Member \"%s\" is refused: it has the name of the index file that extraction writes",
                            {printable_name(index_named[0]->name)}),
                     refused_more);
    if (!too_long.empty())
        add_left_out(plan.problems, too_long, too_long_message(platform::join(folder, too_long[0]->name)),
                     " %d more members are not extracted for the same reason.");
    if (truncated > 0)
        plan.problems.push_back(format(
            "The archive is truncated: %d of its members run past its end; they are written only as far as the "
            "archive holds them.",
            {std::to_string(truncated)}));
    return plan;
}

}  // namespace

bool extract(Ui& ui, const std::string& archive_path) {
    ui.status(format("Extracting %s", {archive_path}), Draw::now);
    const std::string nothing = format("Extracting %s: nothing extracted", {archive_path});
    const std::string not_in_full = format("Extracting %s: not extracted in full", {archive_path});
    // An Alert, then the final status text that says how the run ended.
    const auto fail = [&ui](const std::string& text, const std::string& final_text) {
        ui.alert(text);
        ui.status(final_text, Draw::later);
        return false;
    };
    if (!platform::fits(archive_path)) return fail(too_long_message(archive_path), nothing);
    ArchiveReader archive(archive_path);
    const std::string cant_read = vid::cant_read(archive_path);
    switch (archive.opened()) {
        case Opened::ok: break;
        case Opened::cant_open: ui.alert(input_error_text(archive.open_error(), archive_path)); return false;
        case Opened::cant_read: return fail(cant_read, nothing);
        case Opened::too_short: return fail(too_short_text(archive_path), nothing);
        case Opened::directory_beyond_end:
            return fail(beyond_end_text(archive_path, archive.header().dir_offset, archive.size()), nothing);
    }
    const Header* header = &archive.header();
    const std::uint64_t archive_size = archive.size();

    auto folder = platform::overwrite_from_end(archive_path, 4, '_');
    if (!folder)
        return fail(no_output_name_message(archive_path),
                    nothing);
    const std::string index_path = platform::join(*folder, kIndexName);
    if (!platform::fits(index_path)) return fail(too_long_message(index_path), nothing);
    // Nothing is ever written through a link: not into a linked folder either.
    if (platform::is_link(*folder))
        return fail(format("%s is a link, not a folder: the members are not extracted through it", {*folder}),
                    nothing);
    // An existing folder is reused; a folder that cannot be made shows
    // itself when _index.bin cannot be created in it.
    platform::create_directory(*folder);

    // _index.bin: the header's directory length in bytes from the directory
    // offset, as far as the archive holds them.
    bool index_cut = false;
    {
        auto out = create_output(ui, index_path);
        if (!out) return false;
        const CopyResult r = archive.copy_index(out->file());
        if (r == CopyResult::read_failed) return fail(cant_read, nothing);
        if (r == CopyResult::write_failed || !out->commit())
            return fail(cant_write(index_path), nothing);
        index_cut = r == CopyResult::cut_short;
    }

    const Directory& dir = archive.read_directory();
    if (archive.read_failed()) return fail(cant_read, not_in_full);

    Plan plan = plan_members(*header, dir, *folder, archive_size);
    if (index_cut)
        plan.problems.insert(plan.problems.begin(),
                             format("The header's directory length (%d bytes) runs past the end of the file: "
                                    "_index.bin holds the %d bytes that the archive has.",
                                    {std::to_string(header->dir_length), std::to_string(archive_size - header->dir_offset)}));
    if (!plan.problems.empty()) {
        std::string text = format("%s is not extracted in full:", {archive_path});
        for (const auto& line : plan.problems) text += "\n" + line;
        ui.alert(text);
    }

    for (const Planned& m : plan.members) {
        ui.status(format("Extracting %s:%s", {archive_path, m.entry->name}), Draw::now);
        platform::OutputError why = platform::OutputError::none;
        auto out = platform::Output::create(m.path, platform::Existing::replace, &why);
        if (!out) {
            // The text goes to the status line, which the Alert then shows.
            const std::string text = output_error_text(why, m.path);
            ui.status(text, Draw::later);
            ui.alert(text);
            return false;
        }
        const CopyResult r = archive.copy(ArchiveReader::offset_of(*m.entry), m.entry->size, out->file());
        if (r == CopyResult::read_failed) return fail(cant_read, not_in_full);
        if (r == CopyResult::write_failed) return fail(cant_write(m.path), not_in_full);
        if (!out->commit()) {
            const std::string text = cant_create(m.path);
            ui.status(text, Draw::later);
            ui.alert(text);
            return false;
        }
    }

    if (!plan.problems.empty()) {
        ui.status(not_in_full, Draw::later);
        return false;
    }
    ui.status("Extracting OK", Draw::later);
    return true;
}

}  // namespace vid::fl3

// list-fl3: the directories of archives, as text or JSON.
//
// Each archive is printed as soon as its directory is read and then let go,
// so that ten archives of 65,535 members take no more memory than one.
#include <cstdio>
#include <string_view>

#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "project/common.h"
#include "project/json_writer.h"
#include "project/project.h"

namespace vid::project {

namespace {

// One archive opened and its directory read, or the reason why not.
struct Reading {
    std::uint64_t size = 0;
    std::string problem;
    const fl3::Directory* dir = nullptr;  // the entries, when there are any to list
};

Reading read_listing(Ui& ui, fl3::ArchiveReader& archive, const std::string& path) {
    Reading r;
    switch (archive.opened()) {
        case fl3::Opened::ok: break;
        case fl3::Opened::cant_open:
            ui.alert(input_error_text(archive.open_error(), path));
            r.problem = "not found";
            return r;
        case fl3::Opened::cant_read: r.problem = cant_read(path); break;
        case fl3::Opened::too_short: r.problem = fl3::too_short_text(path); break;
        case fl3::Opened::directory_beyond_end:
            r.problem = fl3::beyond_end_text(path, archive.header().dir_offset);
            break;
    }
    r.size = archive.size();
    if (!r.problem.empty()) {
        ui.alert(r.problem);
        return r;
    }
    r.dir = &archive.read_directory();
    if (!archive.directory_complete()) {
        r.problem = format("%s is damaged: its directory does not end where its header says; the members read so "
                           "far are listed.",
                           {path});
        ui.alert(r.problem);
    }
    return r;
}

// "1 member", "2,345 members".
std::string counted(std::uint64_t n, std::string_view what) {
    return grouped(n) + " " + std::string(what) + (n == 1 ? "" : "s");
}

// Size and offset right-aligned in columns of 14, then the name.
std::string line(std::string_view size, std::string_view offset, std::string_view name) {
    const auto pad = [](std::string_view s) { return std::string(s.size() < 14 ? 14 - s.size() : 0, ' ') + std::string(s); };
    return pad(size) + " " + pad(offset) + "  " + std::string(name);
}

}  // namespace

int list_fl3(Ui& ui, const std::vector<std::string>& archives, bool json) {
    bool ok = true;
    std::uint64_t members = 0, bytes = 0;
    // The JSON goes to standard output as it is made.
    JsonWriter out([](std::string_view piece) { return std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size(); });
    if (json) {
        out.begin_object();
        out.begin_array("archives");
    }
    for (const std::string& path : archives) {
        fl3::ArchiveReader archive(path, std::size_t{64} << 10);
        const Reading r = read_listing(ui, archive, path);
        ok = ok && r.problem.empty();
        static const std::vector<fl3::Entry> none;
        const std::vector<fl3::Entry>& entries = r.dir ? r.dir->entries : none;
        std::uint64_t sum = 0;
        if (json) {
            out.begin_object();
            out.text("path", path);
            out.number("size", r.size);
            if (!r.problem.empty()) out.text("problem", r.problem);
            out.begin_array("members");
            for (const fl3::Entry& e : entries) {
                out.begin_object();
                out.text("name", e.name);
                out.number("size", e.size);
                out.number("offset", fl3::ArchiveReader::offset_of(e));
                out.end_object();
                sum += e.size;
            }
            out.end_array();
            out.number("member_count", entries.size());
            out.number("member_bytes", sum);
            out.end_object();
        } else if (r.problem.empty() || !entries.empty()) {
            ui.status(line("size", "offset", path), Draw::now);
            for (const fl3::Entry& e : entries) {
                ui.status(line(grouped(e.size), grouped(fl3::ArchiveReader::offset_of(e)),
                               fl3::printable_name(e.name)),
                          Draw::now);
                sum += e.size;
            }
            ui.status(format("%s: %s, %s", {path, counted(entries.size(), "member"), counted(sum, "byte")}),
                      Draw::now);
        }
        members += entries.size();
        bytes += sum;
    }
    if (json) {
        out.end_array();
        out.number("member_count", members);
        out.number("member_bytes", bytes);
        out.end_object();
        out.finish();
        std::fflush(stdout);
        return ok ? 0 : 1;
    }
    if (archives.size() > 1)
        ui.status(format("Total: %s, %s, %s",
                         {counted(archives.size(), "archive"), counted(members, "member"), counted(bytes, "byte")}),
                  Draw::later);
    return ok ? 0 : 1;
}

}  // namespace vid::project

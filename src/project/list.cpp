// list-fl3: the directories of archives, as text or JSON.
#include <array>
#include <cstdio>
#include <string_view>

#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "project/common.h"
#include "project/project.h"

namespace vid::project {

namespace {

Listed read_listing(Ui& ui, const std::string& path) {
    Listed l;
    l.path = path;
    fl3::ArchiveReader archive(path, std::size_t{64} << 10);
    switch (archive.opened()) {
        case fl3::Opened::ok: break;
        case fl3::Opened::cant_open:
            ui.alert(input_error_text(archive.open_error(), path));
            l.problem = "not found";
            return l;
        case fl3::Opened::cant_read: l.problem = cant_read(path); break;
        case fl3::Opened::too_short: l.problem = fl3::too_short_text(path); break;
        case fl3::Opened::directory_beyond_end:
            l.problem = fl3::beyond_end_text(path, archive.header().dir_offset);
            break;
    }
    l.size = archive.size();
    if (!l.problem.empty()) {
        ui.alert(l.problem);
        return l;
    }
    const fl3::Directory& dir = archive.read_directory();
    for (const fl3::Entry& e : dir.entries) {
        Item it;
        it.name = e.name;
        it.size = e.size;
        it.offset = fl3::ArchiveReader::offset_of(e);
        l.members.push_back(std::move(it));
    }
    if (!archive.directory_complete()) {
        l.problem = format("%s is damaged: its directory does not end where its header says; the members read so "
                           "far are listed.",
                           {path});
        ui.alert(l.problem);
    }
    return l;
}

// "1 member", "2,345 members".
std::string counted(std::uint64_t n, std::string_view what) {
    return count_text(n) + " " + std::string(what) + (n == 1 ? "" : "s");
}

// Size and offset right-aligned in columns of 14, then the name.
std::string line(std::string_view size, std::string_view offset, std::string_view name) {
    const auto pad = [](std::string_view s) { return std::string(s.size() < 14 ? 14 - s.size() : 0, ' ') + std::string(s); };
    return pad(size) + " " + pad(offset) + "  " + std::string(name);
}

}  // namespace

int list_fl3(Ui& ui, const std::vector<std::string>& archives, bool json) {
    std::vector<Listed> listed;
    bool ok = true;
    for (const auto& path : archives) {
        listed.push_back(read_listing(ui, path));
        ok = ok && listed.back().problem.empty();
    }
    if (json) {
        const std::string text = listing_json(listed);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return ok ? 0 : 1;
    }
    std::uint64_t members = 0, bytes = 0;
    for (const Listed& l : listed) {
        if (!l.problem.empty() && l.members.empty()) continue;
        ui.status(line("size", "offset", l.path), Draw::now);
        std::uint64_t sum = 0;
        for (const Item& it : l.members) {
            ui.status(line(count_text(it.size), count_text(it.offset), fl3::printable_name(it.name)), Draw::now);
            sum += it.size;
        }
        ui.status(format("%s: %s, %s", {l.path, counted(l.members.size(), "member"), counted(sum, "byte")}),
                  Draw::now);
        members += l.members.size();
        bytes += sum;
    }
    if (listed.size() > 1)
        ui.status(format("Total: %s, %s, %s",
                         {counted(listed.size(), "archive"), counted(members, "member"), counted(bytes, "byte")}),
                  Draw::later);
    return ok ? 0 : 1;
}

}  // namespace vid::project

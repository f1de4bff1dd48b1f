// list-fl3: the directories of archives, as text or JSON.
#include <array>
#include <cstdio>
#include <string_view>

#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"
#include "fl3/format.h"
#include "fl3/stream.h"
#include "project/common.h"
#include "project/project.h"

namespace vid::project {

namespace {

Listed read_listing(Ui& ui, const std::string& path) {
    Listed l;
    l.path = path;
    auto f = open_input(ui, path);
    if (!f) {
        l.problem = "not found";
        return l;
    }
    const auto size = f->size();
    if (!size) {
        l.problem = cant_read(path);
        ui.alert(l.problem);
        return l;
    }
    l.size = *size;
    fl3::FileReader in(*f, *size, std::size_t{64} << 10);
    std::array<std::uint8_t, fl3::kHeaderSize> head{};
    const auto h = fl3::parse_header(ByteView(head).first(in.read(head)));
    if (!h || h->dir_offset >= *size) {
        l.problem = !h ? format("%s is not an FL3 archive: it is shorter than the 28 bytes of an FL3 header.", {path})
                       : format("%s is damaged: its directory would start at byte %d, beyond the end of the file.",
                                {path, std::to_string(h->dir_offset)});
        ui.alert(l.problem);
        return l;
    }
    in.seek(h->dir_offset);
    const fl3::Directory dir = fl3::read_directory(in, h->entry_count);
    for (const fl3::Entry& e : dir.entries) {
        Item it;
        it.name = e.name;
        it.size = e.size;
        it.offset = fl3::kHeaderSize + e.position;
        l.members.push_back(std::move(it));
    }
    if (dir.end != fl3::Directory::End::marker || dir.entries.size() != h->entry_count) {
        l.problem = format("%s is damaged: its directory does not end where its header says; the members read so "
                           "far are listed.",
                           {path});
        ui.alert(l.problem);
    }
    return l;
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
        ui.status(format("%s: %s members, %s bytes", {l.path, count_text(l.members.size()), count_text(sum)}),
                  Draw::now);
        members += l.members.size();
        bytes += sum;
    }
    if (listed.size() > 1)
        ui.status(format("Total: %s archives, %s members, %s bytes",
                         {count_text(listed.size()), count_text(members), count_text(bytes)}),
                  Draw::later);
    return ok ? 0 : 1;
}

}  // namespace vid::project

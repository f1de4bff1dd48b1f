// list-fl3: the directories of archives, as text or JSON.
//
// Each archive is printed as soon as its directory is read and then let go,
// so that ten archives of 65,535 members take no more memory than one.
#include <cstdio>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "project/common.h"
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
    return count_text(n) + " " + std::string(what) + (n == 1 ? "" : "s");
}

// Size and offset right-aligned in columns of 14, then the name.
std::string line(std::string_view size, std::string_view offset, std::string_view name) {
    const auto pad = [](std::string_view s) { return std::string(s.size() < 14 ? 14 - s.size() : 0, ' ') + std::string(s); };
    return pad(size) + " " + pad(offset) + "  " + std::string(name);
}

// The JSON of listing_json() (nlohmann's dump with an indent of one space),
// written piece by piece to standard output.
class JsonOut {
public:
    ~JsonOut() { flush(); }

    void raw(std::string_view s) {
        text_ += s;
        if (text_.size() >= kFlushAt) flush();
    }
    void indent(int level) { text_.append(static_cast<std::size_t>(level), ' '); }
    // `"key": "text"`, or `"key_hex": "..."` for a text that is not UTF-8,
    // as the manifest keeps such names.
    void text(int level, std::string_view key, const std::string& value) {
        std::string quoted;
        try {
            quoted = nlohmann::ordered_json(value).dump();
        } catch (const nlohmann::ordered_json::type_error&) {
            static const char digits[] = "0123456789abcdef";
            quoted.assign(1, '"');
            for (unsigned char c : value) {
                quoted += digits[c >> 4];
                quoted += digits[c & 15];
            }
            quoted += '"';
            indent(level);
            key_of(std::string(key) + "_hex");
            raw(quoted);
            return;
        }
        indent(level);
        key_of(key);
        raw(quoted);
    }
    void number(int level, std::string_view key, std::uint64_t value) {
        indent(level);
        key_of(key);
        raw(std::to_string(value));
    }
    void key_of(std::string_view key) {
        raw("\"");
        raw(key);
        raw("\": ");
    }
    void flush() {
        std::fwrite(text_.data(), 1, text_.size(), stdout);
        text_.clear();
    }

private:
    static constexpr std::size_t kFlushAt = std::size_t{1} << 20;
    std::string text_;
};

}  // namespace

int list_fl3(Ui& ui, const std::vector<std::string>& archives, bool json) {
    bool ok = true;
    std::uint64_t members = 0, bytes = 0;
    JsonOut out;
    if (json) out.raw(archives.empty() ? "{\n \"archives\": []" : "{\n \"archives\": [\n");
    bool first = true;
    for (const std::string& path : archives) {
        fl3::ArchiveReader archive(path, std::size_t{64} << 10);
        const Reading r = read_listing(ui, archive, path);
        ok = ok && r.problem.empty();
        static const std::vector<fl3::Entry> none;
        const std::vector<fl3::Entry>& entries = r.dir ? r.dir->entries : none;
        std::uint64_t sum = 0;
        if (json) {
            if (!first) out.raw(",\n");
            out.raw("  {\n");
            out.text(3, "path", path);
            out.raw(",\n");
            out.number(3, "size", r.size);
            out.raw(",\n");
            if (!r.problem.empty()) {
                out.text(3, "problem", r.problem);
                out.raw(",\n");
            }
            out.raw(entries.empty() ? "   \"members\": []" : "   \"members\": [\n");
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const fl3::Entry& e = entries[i];
                out.raw(i == 0 ? "    {\n" : ",\n    {\n");
                out.text(5, "name", e.name);
                out.raw(",\n");
                out.number(5, "size", e.size);
                out.raw(",\n");
                out.number(5, "offset", fl3::ArchiveReader::offset_of(e));
                out.raw("\n    }");
                sum += e.size;
            }
            if (!entries.empty()) out.raw("\n   ]");
            out.raw(",\n");
            out.number(3, "member_count", entries.size());
            out.raw(",\n");
            out.number(3, "member_bytes", sum);
            out.raw("\n  }");
        } else if (r.problem.empty() || !entries.empty()) {
            ui.status(line("size", "offset", path), Draw::now);
            for (const fl3::Entry& e : entries) {
                ui.status(line(count_text(e.size), count_text(fl3::ArchiveReader::offset_of(e)),
                               fl3::printable_name(e.name)),
                          Draw::now);
                sum += e.size;
            }
            ui.status(format("%s: %s, %s", {path, counted(entries.size(), "member"), counted(sum, "byte")}),
                      Draw::now);
        }
        members += entries.size();
        bytes += sum;
        first = false;
    }
    if (json) {
        if (!archives.empty()) out.raw("\n ]");
        out.raw(",\n");
        out.number(1, "member_count", members);
        out.raw(",\n");
        out.number(1, "member_bytes", bytes);
        out.raw("\n}\n");
        out.flush();
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

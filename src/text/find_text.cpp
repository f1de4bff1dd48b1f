#include "text/find_text.h"

#include <vector>

#include "core/messages.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "platform/codepage.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "script/listing_codepage.h"
#include "script/texts.h"
#include "text/text_jobs.h"

namespace vid::text {

namespace {

struct Search {
    Ui& ui;
    std::vector<std::string> needles;  // `what` in the code page, and as typed
    unsigned codepage;
    const std::function<bool(const TextHit&)>& hit;
    const std::atomic<bool>* stop;
    FindCounts counts;
    bool stopped = false;

    bool halted() {
        if (!stopped && stop && stop->load()) stopped = true;
        return stopped;
    }

    // The texts of one script's bytes.
    void script(ByteView data, TextHit place) {
        ++counts.scripts;
        const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
        bool found = false;
        for (const script::ScriptText& t : script::map_script(data).texts) {
            const std::string_view text = bytes.substr(t.text_at, t.text_size);
            bool holds = false;
            for (const std::string& n : needles) holds = holds || holds_text(text, n, codepage);
            if (!holds) continue;
            found = true;
            ++counts.hits;
            place.n = t.n;
            place.text = std::string(text);
            if (!hit(place)) {
                stopped = true;
                break;
            }
        }
        if (found) ++counts.with_hits;
    }

    void loose(const std::string& path, const std::string& where) {
        if (halted()) return;
        const auto data = read_script(ui, path);
        if (!data) {
            counts.complete = false;
            return;
        }
        const ByteView view(reinterpret_cast<const std::uint8_t*>(data->data()), data->size());
        script(view, {where, path, {}, 0, data->size(), 0, {}});
    }

    void archive(const std::string& path, const std::string& where) {
        if (halted()) return;
        fl3::ArchiveReader reader(path);
        if (reader.opened() != fl3::Opened::ok) {
            ui.alert(fl3::opened_text(reader, path));
            counts.complete = false;
            return;
        }
        const fl3::Directory& directory = reader.read_directory();
        Bytes data;
        for (const fl3::Entry& e : directory.entries) {
            if (halted()) return;
            if (!is_script_name(e.name)) continue;
            const std::string name = fl3::printable_name(e.name);
            const std::uint64_t offset = fl3::ArchiveReader::offset_of(e);
            if (e.size > kMaxScript) {
                ui.alert(format("%s:%s is too large: %s bytes", {path, name, std::to_string(e.size)}));
                counts.complete = false;
                continue;
            }
            // Memory only for bytes the archive holds: a directory may say more.
            const bool held = offset + e.size <= reader.size();
            if (held) {
                data.resize(e.size);
                reader.reader().seek(offset);
            }
            if (!held || reader.reader().read(data) != data.size()) {
                ui.alert(reader.read_failed()
                             ? cant_read(path)
                             : format("%s ends before its member %s does: it is not searched", {path, name}));
                counts.complete = false;
                continue;
            }
            script(data, {where + ":" + name, path, e.name, offset, e.size, 0, {}});
        }
        if (reader.read_failed()) {
            ui.alert(cant_read(path));
            counts.complete = false;
        }
    }
};

}  // namespace

bool holds_text(std::string_view text, std::string_view what, unsigned codepage) {
    if (what.empty() || what.size() > text.size()) return false;
    // The lead bytes of two-byte characters in code page 932.
    const auto lead = [codepage](unsigned char c) {
        return codepage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
    };
    for (std::size_t at = 0; at + what.size() <= text.size();) {
        if (text.compare(at, what.size(), what) == 0) return true;
        at += lead(static_cast<unsigned char>(text[at])) ? 2 : 1;
    }
    return false;
}

std::string found_text(const FindCounts& n, std::string_view what) {
    const std::string scripts = grouped(n.scripts) + (n.scripts == 1 ? " script" : " scripts");
    if (n.hits == 0) return format("Found no text holding \"%s\" in %s", {what, scripts});
    return format("Found %s in %s of %s",
                  {grouped(n.hits) + (n.hits == 1 ? " text" : " texts"), grouped(n.with_hits), scripts});
}

FindCounts find_text(Ui& ui, const std::string& path, std::string_view what, unsigned codepage,
                     const std::function<bool(const TextHit&)>& hit, const std::atomic<bool>* stop) {
    Search s{ui, {}, codepage, hit, stop, {}};
    platform::Codepage game(codepage);
    std::string converted, back;
    if (game.from_utf8(what, converted)) s.needles.push_back(converted);
    // Bytes typed in the code page itself (a Japanese system's console).
    if (converted != what && game.to_utf8(what, back)) s.needles.emplace_back(what);
    if (s.needles.empty()) {
        ui.alert(format("Find text: %s is neither UTF-8 text that code page %s holds nor text of that code page",
                        {std::string(what), std::to_string(codepage)}));
        s.counts.complete = false;
        return s.counts;
    }
    const auto entries = platform::list_folder(path);
    if (entries) {
        std::vector<ScriptFile> scripts, archives;
        s.counts.complete = find_scripts(ui, path, scripts, &archives);
        for (const ScriptFile& f : scripts) s.loose(f.path, f.name);
        for (const ScriptFile& a : archives) s.archive(a.path, a.name);
    } else if (is_script_name(platform::split_path(path).name)) {
        s.loose(path, path);
    } else {
        s.archive(path, path);
    }
    return s.counts;
}

}  // namespace vid::text

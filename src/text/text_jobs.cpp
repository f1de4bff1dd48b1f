#include "text/text_jobs.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <new>
#include <optional>
#include <unordered_map>

#include "core/messages.h"
#include "core/bytes.h"
#include "core/files.h"
#include "core/table.h"
#include "core/text.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "script/listing.h"
#include "script/texts.h"

namespace vid::text {

using namespace script;

namespace {

// Scripts and tables are read whole; jump targets are 32-bit positions.
constexpr std::uint64_t kMaxScript = 256u << 20;
constexpr std::uint64_t kMaxTable = 1024u << 20;
// Lines of one Alert at most, then how many more.
constexpr std::size_t kMaxLines = 20;

std::string_view as_text(ByteView bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

bool ends_with_ab(std::string_view name) {
    if (name.size() < 4) return false;
    const std::string_view end = name.substr(name.size() - 3);
    return end[0] == '.' && (end[1] | 0x20) == 'a' && (end[2] | 0x20) == 'b';
}

void walk(Ui& ui, const std::string& folder, const std::string& prefix, std::vector<ScriptFile>& out, bool& ok) {
    auto entries = platform::list_folder(folder);
    if (!entries) {
        ui.alert(format("can't read the folder %s", {folder}));
        ok = false;
        return;
    }
    for (const platform::FolderEntry& e : *entries) {
        if (!e.folder && !ends_with_ab(e.name)) continue;
        const std::string path = platform::join(folder, e.name);
        if (!platform::fits(path)) {
            ui.alert(too_long_message(path));
            ok = false;
            continue;
        }
        const std::string name = prefix + platform::name_to_utf8(e.name);
        if (e.folder)
            walk(ui, path, name + "/", out, ok);
        else
            out.push_back({name, path});
    }
}

std::optional<std::string> read_file(Ui& ui, const std::string& path, std::uint64_t limit) {
    auto in = open_input(ui, path);
    if (!in) return std::nullopt;
    const auto size = in->size();
    if (!size) {
        ui.alert(format("can't read %s", {path}));
        return std::nullopt;
    }
    if (*size > limit) {
        ui.alert(format("%s is too large: %s bytes", {path, std::to_string(*size)}));
        return std::nullopt;
    }
    std::string data(static_cast<std::size_t>(*size), '\0');
    if (in->read_full(std::span(reinterpret_cast<std::uint8_t*>(data.data()), data.size())) != data.size()) {
        ui.alert(format("can't read %s", {path}));
        return std::nullopt;
    }
    return data;
}

ByteView bytes_of(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

std::string_view slice(std::string_view data, std::uint32_t at, std::uint32_t size) { return data.substr(at, size); }

// "text:\n- line\n- line" with at most kMaxLines lines.
std::string listed(std::string head, const std::vector<std::string>& lines) {
    for (std::size_t i = 0; i < lines.size() && i < kMaxLines; ++i) head += "\n- " + lines[i];
    if (lines.size() > kMaxLines) head += format("\n- and %s more", {std::to_string(lines.size() - kMaxLines)});
    return head;
}

bool write_file(Ui& ui, const std::string& path, std::string_view data, platform::Existing existing,
                bool keep) {
    auto out = create_output(ui, path, existing);
    if (!out) return false;
    if (!out->file().write(bytes_of(data))) {
        ui.alert(cant_write(path));
        return false;
    }
    return commit_keeping_original(ui, *out, keep);
}

std::string unsupported_text(unsigned codepage) {
    return format("code page %s is not supported here", {std::to_string(codepage)});
}

std::string count_text(std::size_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

}  // namespace

bool find_scripts(Ui& ui, const std::string& folder, std::vector<ScriptFile>& scripts) {
    bool ok = true;
    scripts.clear();
    walk(ui, folder, "", scripts, ok);
    std::sort(scripts.begin(), scripts.end(), [](const ScriptFile& a, const ScriptFile& b) { return a.name < b.name; });
    return ok;
}

bool export_texts(Ui& ui, const std::string& folder, const std::string& table_path, unsigned codepage) {
    ui.status(format("Exporting texts of %s", {folder}), Draw::now);
    platform::Codepage cp(codepage);
    if (!cp.supported()) {
        ui.alert(unsupported_text(codepage));
        ui.status("Exporting texts failed", Draw::later);
        return false;
    }
    if (!platform::fits(table_path)) {
        ui.alert(too_long_message(table_path));
        ui.status("Exporting texts failed", Draw::later);
        return false;
    }
    std::vector<ScriptFile> scripts;
    bool ok = find_scripts(ui, folder, scripts);
    if (!ok && scripts.empty()) {
        ui.status("Exporting texts failed", Draw::later);
        return false;  // not even the folder could be read: no table
    }
    const char delim = table_delimiter(table_path);
    std::string table(kUtf8Mark);
    std::size_t texts = 0;
    try {
        std::vector<std::string_view> header(std::begin(kTableColumns), std::end(kTableColumns));
        append_row(table, header, delim);
        std::string voice, original, n;
        ValueBuffer idx;
        for (const ScriptFile& s : scripts) {
            const auto data = read_file(ui, s.path, kMaxScript);
            if (!data) {
                ok = false;
                continue;
            }
            const ScriptMap map = map_script(bytes_of(*data));
            std::vector<std::string> bad;
            for (const ScriptText& t : map.texts) {
                if (!cp.to_utf8(slice(*data, t.voice_at, t.voice_size), voice) ||
                    !cp.to_utf8(slice(*data, t.text_at, t.text_size), original)) {
                    bad.push_back(format("instruction %s", {std::to_string(t.n)}));
                    continue;
                }
                n = std::to_string(t.n);
                const std::string_view row[] = {s.name,  n,     t.opcode == 0 ? "init" : "update",
                                                value_text(t.idx, 4, idx), voice, original, {}};
                append_row(table, row, delim);
                ++texts;
            }
            if (!bad.empty()) {
                ok = false;
                ui.alert(listed(format("%s: these texts are not valid in code page %s and were left out of the table:",
                                       {s.path, std::to_string(codepage)}),
                                bad));
            }
        }
    } catch (const std::bad_alloc&) {
        ui.alert("not enought memory");
        ui.status("Exporting texts failed", Draw::later);
        return false;
    }
    if (!write_file(ui, table_path, table, platform::Existing::replace_target, false)) {
        ui.status("Exporting texts failed", Draw::later);
        return false;
    }
    const std::string counts = count_text(texts, "text", "texts") + " of " +
                               count_text(scripts.size(), "script", "scripts");
    ui.status(format(ok ? "Exporting OK: %s" : "Exporting: %s, with failures", {counts}), Draw::later);
    return ok;
}

namespace {

struct Row {
    std::uint64_t number = 0;  // as the spreadsheet counts
    std::uint32_t n = 0;
    std::string op, original, translation;
};

// The columns of a table's header: index of each needed column.
struct Columns {
    int script = -1, n = -1, op = -1, original = -1, translation = -1;
};

std::string trimmed_lower(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::optional<std::uint32_t> parse_n(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    std::uint32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v == 0) return std::nullopt;
    return v;
}

std::string row_text(std::uint64_t row, std::string_view what) {
    return format("row %s: %s", {std::to_string(row), what});
}

// What import does with one script: true when it was written or had
// nothing to change.
bool import_script(Ui& ui, const ScriptFile& script, std::vector<Row>& rows, platform::Codepage& cp,
                   std::size_t& imported, std::size_t& written) {
    const auto data = read_file(ui, script.path, kMaxScript);
    if (!data) return false;
    const ScriptMap map = map_script(bytes_of(*data));
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.number < b.number; });
    std::vector<std::string> refused;
    std::vector<TextEdit> edits;
    std::map<std::uint32_t, std::uint64_t> seen;  // instruction -> row
    std::string text, bytes;
    bool longer_or_shorter = false;
    for (Row& r : rows) {
        const std::string n = std::to_string(r.n);
        const auto it = std::lower_bound(map.texts.begin(), map.texts.end(), r.n,
                                         [](const ScriptText& t, std::uint32_t v) { return t.n < v; });
        if (it == map.texts.end() || it->n != r.n) {
            refused.push_back(row_text(r.number, r.n <= map.starts.size()
                                                     ? format("instruction %s is not a text", {n})
                                                     : format("there is no instruction %s", {n})));
            continue;
        }
        const ScriptText& t = *it;
        if (!cp.to_utf8(slice(*data, t.text_at, t.text_size), text)) {
            refused.push_back(row_text(
                r.number, format("the text of instruction %s is not valid in code page %s", {n, std::to_string(cp.number())})));
            continue;
        }
        const std::string_view op = t.opcode == 0 ? "init" : "update";
        if (text != r.original || (!r.op.empty() && r.op != op)) {
            refused.push_back(row_text(r.number, format("the original no longer matches the text of instruction %s "
                                                        "(the table is older than the script)",
                                                        {n})));
            continue;
        }
        if (const auto [at, fresh] = seen.emplace(r.n, r.number); !fresh) {
            refused.push_back(
                row_text(r.number, format("instruction %s has a translation in row %s already",
                                          {n, std::to_string(at->second)})));
            continue;
        }
        if (r.translation.find_first_of("\r\n") != std::string::npos) {
            refused.push_back(row_text(r.number, "the translation holds a line break"));
            continue;
        }
        if (r.translation.find('\0') != std::string::npos) {
            refused.push_back(row_text(r.number, "the translation holds a zero byte"));
            continue;
        }
        if (t.open_voice) {
            refused.push_back(row_text(r.number, format("the voice marker of instruction %s has no full stop, so "
                                                        "its text cannot be told from the voice name",
                                                        {n})));
            continue;
        }
        if (r.translation == r.original) continue;  // the script's bytes stay as they are
        if (!cp.from_utf8(r.translation, bytes)) {
            const std::string why = refused_character(r.translation, cp);
            refused.push_back(row_text(r.number, why == kNotUtf8 ? "the translation is not UTF-8 text (save the table as UTF-8)"
                                                                 : format("code page %s cannot hold %s",
                                                                          {std::to_string(cp.number()), why})));
            continue;
        }
        if (t.opcode == 0 && !t.voice && bytes.starts_with("\x5C\x56")) {
            refused.push_back(row_text(r.number, "the translation begins with \\V, which the game takes for a "
                                                 "voice marker"));
            continue;
        }
        if (bytes.size() != t.text_size) longer_or_shorter = true;
        edits.push_back({static_cast<std::size_t>(it - map.texts.begin()), bytes});
    }
    if (!refused.empty()) {
        ui.alert(listed(format("%s was left unchanged:", {script.path}), refused));
        return false;
    }
    if (edits.empty()) return true;
    if (longer_or_shorter) {
        const auto loose = loose_jumps(map);
        if (!loose.empty()) {
            std::vector<std::string> lines;
            for (const ScriptJump& j : loose)
                lines.push_back(format("the jump at %s to %s", {value_text(j.at, 8), value_text(j.to, 8)}));
            ui.alert(listed(format("%s was left unchanged: its texts cannot change length, since these jumps "
                                   "(0x0201) do not land on the start of an instruction:",
                                   {script.path}),
                            lines));
            return false;
        }
        if (map.tail)
            ui.alert(format("%s holds instructions 0x8000 with a tail, which is not understood: positions "
                            "inside it are not moved with the texts",
                            {script.path}));
    }
    const std::size_t count = edits.size();
    const Rebuilt rebuilt = rebuild_script(bytes_of(*data), map, std::move(edits));
    if (!write_file(ui, script.path, as_text(rebuilt.data), platform::Existing::replace, true)) return false;
    imported += count;
    ++written;
    std::string done = format("%s: %s", {script.path, count_text(count, "text", "texts")});
    if (longer_or_shorter) done += ", " + count_text(rebuilt.jumps_moved, "jump", "jumps") + " moved";
    ui.status(done, Draw::now);
    return true;
}

}  // namespace

bool import_texts(Ui& ui, const std::string& folder, const std::string& table_path, unsigned codepage) {
    ui.status(format("Importing texts of %s", {table_path}), Draw::now);
    const auto failed = [&] {
        ui.status("Importing texts failed", Draw::later);
        return false;
    };
    platform::Codepage cp(codepage);
    if (!cp.supported()) {
        ui.alert(unsupported_text(codepage));
        return failed();
    }
    try {
        const auto table = read_file(ui, table_path, kMaxTable);
        if (!table) return failed();
        TableReader reader(*table, table_delimiter(table_path));
        std::vector<std::string> fields;
        Columns col;
        if (reader.next(fields)) {
            for (std::size_t i = 0; i < fields.size(); ++i) {
                const std::string name = trimmed_lower(fields[i]);
                int* slot = name == "script"        ? &col.script
                            : name == "n"           ? &col.n
                            : name == "op"          ? &col.op
                            : name == "original"    ? &col.original
                            : name == "translation" ? &col.translation
                                                    : nullptr;
                if (slot != nullptr && *slot < 0) *slot = static_cast<int>(i);
            }
        }
        std::vector<std::string> missing;
        for (const auto& [name, index] : {std::pair{"script", col.script}, std::pair{"n", col.n},
                                          std::pair{"original", col.original}, std::pair{"translation", col.translation}})
            if (index < 0) missing.push_back(format("\"%s\"", {name}));
        if (!missing.empty()) {
            ui.alert(listed(format("%s has no header row with these columns:", {table_path}), missing));
            return failed();
        }
        const std::size_t width =
            static_cast<std::size_t>(std::max({col.script, col.n, col.op, col.original, col.translation})) + 1;
        const auto field = [&](int i) -> std::string& { return fields[static_cast<std::size_t>(i)]; };

        std::vector<ScriptFile> scripts;
        bool ok = find_scripts(ui, folder, scripts);
        std::unordered_map<std::string, std::size_t> by_name;
        for (std::size_t i = 0; i < scripts.size(); ++i) by_name.emplace(scripts[i].name, i);
        std::vector<std::vector<Row>> rows(scripts.size());
        std::vector<std::string> table_refused;
        while (reader.next(fields)) {
            if (reader.open_quote()) {
                table_refused.push_back(row_text(reader.row(), "a quoted field has no closing quote"));
                continue;
            }
            if (fields.size() < width) fields.resize(width);
            if (field(col.translation).empty()) continue;
            const std::string& name = field(col.script);
            const auto found = by_name.find(name);
            if (found == by_name.end()) {
                table_refused.push_back(
                    row_text(reader.row(), format("there is no script \"%s\" in %s", {name, folder})));
                continue;
            }
            const auto n = parse_n(field(col.n));
            if (!n) {
                table_refused.push_back(
                    row_text(reader.row(), format("\"%s\" is not an instruction number", {field(col.n)})));
                continue;
            }
            Row r;
            r.number = reader.row();
            r.n = *n;
            if (col.op >= 0) r.op = trimmed_lower(field(col.op));
            r.original = std::move(field(col.original));
            r.translation = std::move(field(col.translation));
            rows[found->second].push_back(std::move(r));
        }
        if (!table_refused.empty()) {
            ok = false;
            ui.alert(listed(format("%s: these rows were refused:", {table_path}), table_refused));
        }
        std::size_t imported = 0, written = 0, unchanged = 0;
        for (std::size_t i = 0; i < scripts.size(); ++i) {
            if (rows[i].empty()) continue;
            if (!import_script(ui, scripts[i], rows[i], cp, imported, written)) {
                ok = false;
                ++unchanged;
            }
        }
        std::string counts = count_text(imported, "text", "texts") + " into " +
                             count_text(written, "script", "scripts");
        if (!ok && unchanged > 0) counts += ", " + count_text(unchanged, "script", "scripts") + " left unchanged";
        ui.status(format(ok ? "Importing OK: %s" : "Importing: %s, with failures", {counts}), Draw::later);
        return ok;
    } catch (const std::bad_alloc&) {
        ui.alert("not enought memory");
        return failed();
    }
}

}  // namespace vid::text

#include "text/text_jobs.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Scripts are read whole; jump targets are 32-bit positions. Tables are
// read piece by piece (core/table.h).
// Import keeps the rows of the scripts it works on at most to this much:
// their original and translation texts and kRowCost for each row.
constexpr std::uint64_t kRowBudget = std::uint64_t{16} << 20;
constexpr std::uint64_t kRowCost = 256;
// The sheet of a spreadsheet table, and how its columns look.
constexpr std::string_view kSheet = "texts";
constexpr TableColumn kColumns[] = {
    {kTableColumns[0], ColumnLook::key, 24},      {kTableColumns[1], ColumnLook::key, 6},
    {kTableColumns[2], ColumnLook::key, 8},       {kTableColumns[3], ColumnLook::key, 8},
    {kTableColumns[4], ColumnLook::key, 12},      {kTableColumns[5], ColumnLook::original, 50},
    {kTableColumns[6], ColumnLook::translation, 60},
};

std::string_view table_format_name(std::string_view path) {
    switch (table_format(path)) {
        case TableFormat::xlsx: return "XLSX";
        case TableFormat::ods: return "ODS";
        case TableFormat::tsv: return "TSV";
        case TableFormat::csv: break;
    }
    return "CSV";
}
// Lines of one Alert at most, then how many more.
constexpr std::size_t kMaxLines = 20;

std::string_view as_text(ByteView bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

bool ends_with_fl3(std::string_view name) {
    if (name.size() < 5) return false;
    const std::string_view end = name.substr(name.size() - 4);
    return end[0] == '.' && (end[1] | 0x20) == 'f' && (end[2] | 0x20) == 'l' && end[3] == '3';
}

void walk(Ui& ui, const std::string& folder, const std::string& prefix, std::vector<ScriptFile>& out, bool& ok,
          std::vector<ScriptFile>& archives) {
    auto entries = platform::list_folder(folder);
    if (!entries) {
        ui.alert(format("can't read the folder %s", {folder}));
        ok = false;
        return;
    }
    for (const platform::FolderEntry& e : *entries) {
        const bool archive = !e.folder && ends_with_fl3(e.name);
        if (!e.folder && !archive && !is_script_name(e.name)) continue;
        const std::string path = platform::join(folder, e.name);
        if (!platform::fits(path)) {
            ui.alert(too_long_message(path));
            ok = false;
            continue;
        }
        const std::string name = prefix + platform::name_to_utf8(e.name);
        if (e.folder)
            walk(ui, path, name + "/", out, ok, archives);
        else
            (archive ? archives : out).push_back({name, path});
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

}  // namespace

bool is_script_name(std::string_view name) {
    if (name.size() < 4) return false;
    const std::string_view end = name.substr(name.size() - 3);
    return end[0] == '.' && (end[1] | 0x20) == 'a' && (end[2] | 0x20) == 'b';
}

std::optional<std::string> read_script(Ui& ui, const std::string& path) { return read_file(ui, path, kMaxScript); }

namespace {

ByteView bytes_of(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

std::string_view slice(std::string_view data, std::uint32_t at, std::uint32_t size) { return data.substr(at, size); }

// The lines of an Alert as they come: the first kMaxLines kept, the rest
// only counted.
struct Lines {
    std::vector<std::string> first;
    std::size_t count = 0;

    void add(std::string line) {
        if (first.size() < kMaxLines) first.push_back(std::move(line));
        ++count;
    }
    bool empty() const { return count == 0; }
};

// "text:\n- line\n- line" with at most kMaxLines lines.
std::string listed(std::string head, const Lines& lines) {
    for (const std::string& l : lines.first) head += "\n- " + l;
    if (lines.count > kMaxLines) head += format("\n- and %s more", {std::to_string(lines.count - kMaxLines)});
    return head;
}

std::string listed(std::string head, const std::vector<std::string>& lines) {
    Lines l;
    for (const std::string& line : lines) l.add(line);
    return listed(std::move(head), l);
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

// A game folder given instead of the folder that unpack writes: its
// scripts are inside the archives.
std::string archives_only_text(const std::string& folder, std::size_t archives, std::string_view nothing_done) {
    return format("%s holds no AB script but %s: the scripts are inside %s. Unpack the game first (vidodide unpack "
                  "GAME WORK, or Unpack Game in the Windows program; extract-fl3 or Extract FL3 for a single "
                  "archive), then give the folder that it writes. %s",
                  {folder, count_text(archives, "FL3 archive", "FL3 archives"), archives == 1 ? "it" : "them",
                   nothing_done});
}

}  // namespace

bool find_scripts(Ui& ui, const std::string& folder, std::vector<ScriptFile>& scripts,
                  std::vector<ScriptFile>* archives) {
    bool ok = true;
    scripts.clear();
    std::vector<ScriptFile> fl3;
    walk(ui, folder, "", scripts, ok, fl3);
    const auto by_name = [](const ScriptFile& a, const ScriptFile& b) { return a.name < b.name; };
    std::sort(scripts.begin(), scripts.end(), by_name);
    std::sort(fl3.begin(), fl3.end(), by_name);
    if (archives) *archives = std::move(fl3);
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
    std::vector<ScriptFile> archives;
    bool ok = find_scripts(ui, folder, scripts, &archives);
    if (!ok && scripts.empty()) {
        ui.status("Exporting texts failed", Draw::later);
        return false;  // not even the folder could be read: no table
    }
    if (scripts.empty() && !archives.empty()) {
        ui.alert(archives_only_text(folder, archives.size(), "No table was written."));
        ui.status("Exporting texts failed", Draw::later);
        return false;
    }
    std::size_t texts = 0;
    try {
        // The table takes its name only when complete.
        const auto table = create_table(ui, table_path, kColumns, kSheet);
        if (!table) {
            ui.status("Exporting texts failed", Draw::later);
            return false;
        }
        const std::string_view format_name = table_format_name(table_path);
        std::string voice, original, n;
        ValueBuffer idx;
        for (const ScriptFile& s : scripts) {
            const auto data = read_script(ui, s.path);
            if (!data) {
                ok = false;
                continue;
            }
            const ScriptMap map = map_script(bytes_of(*data));
            Lines bad, unheld;
            for (const ScriptText& t : map.texts) {
                if (!cp.to_utf8(slice(*data, t.voice_at, t.voice_size), voice) ||
                    !cp.to_utf8(slice(*data, t.text_at, t.text_size), original)) {
                    bad.add(format("instruction %s", {std::to_string(t.n)}));
                    continue;
                }
                n = std::to_string(t.n);
                const std::string_view row[] = {s.name,  n,     t.opcode == 0 ? "init" : "update",
                                                value_text(t.idx, 4, idx), voice, original, {}};
                std::string why;
                for (std::string_view field : row)
                    if (why.empty()) why = table->cannot_hold(field);
                if (!why.empty()) {
                    unheld.add(format("instruction %s: %s", {n, why}));
                    continue;
                }
                if (!table->add(row)) {
                    ui.status("Exporting texts failed", Draw::later);
                    return false;
                }
                ++texts;
            }
            if (!bad.empty()) {
                ok = false;
                ui.alert(listed(format("%s: these texts are not valid in code page %s and were left out of the table:",
                                       {s.path, std::to_string(codepage)}),
                                bad));
            }
            if (!unheld.empty()) {
                ok = false;
                ui.alert(listed(format("%s: these texts cannot be held in an %s table and were left out of it (a CSV "
                                       "table holds them):",
                                       {s.path, format_name}),
                                unheld));
            }
        }
        if (!table->finish()) {
            ui.status("Exporting texts failed", Draw::later);
            return false;
        }
    } catch (const std::bad_alloc&) {
        ui.alert(kOutOfMemory);
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
    CellKind kind = CellKind::text;  // of the translation's cell
    std::uint32_t max_line = 0;      // the widest line that the text box shows; 0: no limit
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

// "A", "B", ... "Z", "AA": a column as spreadsheets name it.
std::string column_name(std::size_t column) {
    std::string name;
    for (std::size_t c = column + 1; c > 0; c = (c - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (c - 1) % 26));
    return name;
}

// The columns that import uses.
enum Field { f_script, f_n, f_op, f_original, f_translation, f_max_line, f_count };
constexpr std::string_view kFieldNames[f_count] = {"script", "n", "op", "original", "translation", "max_line"};

// One row of the table: the fields that import uses.
struct TableRow {
    std::string fields[f_count];
    CellKind kinds[f_count] = {};
    int cut = -1;  // the first field longer than kMaxField

    std::string& operator[](Field f) { return fields[f]; }
};

// Reads the next row into `row`; `slots` gives each column's field (-1
// for a column that import does not use, whose bytes are not kept).
bool next_row(TableRows& in, const std::vector<int>& slots, const RowLimits& limits, TableRow& row) {
    for (std::string& f : row.fields) f.clear();
    for (CellKind& k : row.kinds) k = CellKind::text;
    row.cut = -1;
    return in.next(limits, [&](Cell& cell) {
        if (cell.column >= slots.size() || slots[cell.column] < 0) return;
        const int slot = slots[cell.column];
        row.fields[slot].swap(cell.text);
        row.kinds[slot] = cell.kind;
        if (cell.cut && row.cut < 0) row.cut = slot;
    });
}

std::uint64_t row_cost(const Row& r) { return kRowCost + r.op.size() + r.original.size() + r.translation.size(); }

std::string mib_text(std::uint64_t bytes) {
    return format("%s MiB (%s bytes)", {std::to_string(bytes >> 20), std::to_string(bytes)});
}

// ---- How a text differs from the one expected ----

// The length of the UTF-8 sequence that begins with `c` (1 for a byte that
// begins none).
std::size_t sequence_length(unsigned char c) {
    if (c >= 0xF0 && c < 0xF8) return 4;
    if (c >= 0xE0) return 3;
    if (c >= 0xC0) return 2;
    return 1;
}

// The start of each character of `s`, and its end.
std::vector<std::size_t> characters(std::string_view s) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < s.size(); i += sequence_length(static_cast<unsigned char>(s[i]))) at.push_back(i);
    at.push_back(s.size());
    return at;
}

// `s` shortened to kShown characters each side of its character `mark`,
// which is put in brackets ("[]" when `s` ends there).
constexpr std::size_t kShown = 20;

std::string shown(std::string_view s, std::size_t mark) {
    const std::vector<std::size_t> at = characters(s);
    const std::size_t count = at.size() - 1;
    const std::size_t first = mark > kShown ? mark - kShown : 0;
    const std::size_t last = std::min(count, mark + 1 + kShown);
    std::string out = first > 0 ? "..." : "";
    out += s.substr(at[first], at[std::min(mark, count)] - at[first]);
    out += "[";
    if (mark < count) out += s.substr(at[mark], at[mark + 1] - at[mark]);
    out += "]";
    if (mark < count) out += s.substr(at[mark + 1], at[std::max(last, mark + 1)] - at[mark + 1]);
    if (last < count) out += "...";
    return out;
}

// Both texts shortened around their first difference, marked.
std::pair<std::string, std::string> difference(std::string_view expected, std::string_view found) {
    std::size_t same = 0;
    while (same < expected.size() && same < found.size() && expected[same] == found[same]) ++same;
    // The first character that differs, counted in the characters that
    // both begin with.
    std::size_t index = 0;
    for (std::size_t i = 0; i < same; ++index) {
        const std::size_t n = sequence_length(static_cast<unsigned char>(expected[i]));
        if (i + n > same) break;
        i += n;
    }
    return {shown(expected, index), shown(found, index)};
}

bool digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The value of a number as spreadsheets read one: a sign, digits with
// thousands separators, a fraction, an exponent, a percent sign.
std::optional<long double> number_value(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    bool percent = false;
    if (s.ends_with('%')) {
        percent = true;
        s.remove_suffix(1);
    }
    std::string plain;
    bool any = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == ',' && any && digits(s.substr(i + 1, 3)) && (i + 4 == s.size() || !digits(s.substr(i + 4, 1))))
            continue;
        if ((c >= '0' && c <= '9')) any = true;
        plain += c;
    }
    if (!any) return std::nullopt;
    if (plain.starts_with('+')) plain.erase(0, 1);
    char* end = nullptr;
    const long double v = std::strtold(plain.c_str(), &end);
    if (end != plain.c_str() + plain.size()) return std::nullopt;
    return percent ? v / 100 : v;
}

// A date or a time as spreadsheets take one: 1/2, 2024-01-02, 1.2.24,
// 12:30, "Jan 2".
bool date_like(std::string_view s) {
    const auto numbers = [](std::string_view t, std::string_view separators) {
        std::size_t parts = 0;
        for (std::size_t i = 0; i <= t.size();) {
            std::size_t j = i;
            while (j < t.size() && separators.find(t[j]) == std::string_view::npos) ++j;
            if (!digits(t.substr(i, j - i)) || j - i > 4) return std::size_t{0};
            ++parts;
            if (j == t.size()) break;
            i = j + 1;
        }
        return parts;
    };
    const std::size_t parts = numbers(s, "/-.");
    if (parts == 2 || parts == 3) return true;
    std::string_view time = s;
    for (std::string_view suffix : {" AM", " PM", " am", " pm", "AM", "PM", "am", "pm"})
        if (time.ends_with(suffix)) {
            time.remove_suffix(suffix.size());
            break;
        }
    const std::size_t clock = numbers(time, ":");
    if ((clock == 2 || clock == 3) && time.find(':') != std::string_view::npos) return true;
    static constexpr std::string_view months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                  "jul", "aug", "sep", "oct", "nov", "dec"};
    const std::string lower = trimmed_lower(s);
    for (std::string_view m : months) {
        const std::size_t at = lower.find(m);
        if (at == std::string::npos) continue;
        const std::string rest = lower.substr(0, at) + lower.substr(at + 3);
        if (!rest.empty() && std::all_of(rest.begin(), rest.end(), [](char c) {
                return (c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '/' || c == '.' || c == ',' ||
                       (c >= 'a' && c <= 'z');
            }) && std::any_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
            lower.size() <= 14)
            return true;
    }
    return false;
}

// What a spreadsheet did to `expected` to give `found`, when it looks like
// its conversion of a text it took for something else; empty otherwise.
std::string spreadsheet_change(std::string_view expected, std::string_view found) {
    const auto value = number_value(expected);
    if (value) {
        const std::string_view unsigned_part = expected.substr(expected.find_first_not_of("+- ") == std::string_view::npos
                                                                   ? 0
                                                                   : expected.find_first_not_of("+- "));
        if (unsigned_part.size() > 1 && unsigned_part[0] == '0' && unsigned_part[1] >= '0' && unsigned_part[1] <= '9')
            if (const auto f = number_value(found); f && *f == *value)
                return "it took the text for a number and dropped its leading zeros";
        if (const auto f = number_value(found);
            f && (*f == *value || (*value != 0 && std::fabs((*f - *value) / *value) < 1e-9L)))
            return "it took the text for a number and wrote the number its own way";
    }
    if (date_like(expected)) return "it took the text for a date";
    if (!expected.empty() && (expected[0] == '=' || expected[0] == '+' || expected[0] == '-' || expected[0] == '@'))
        return "it ran the text as a formula and kept its result";
    if (found.starts_with("#") || found.starts_with("Err:")) return "it ran the text as a formula and kept its result";
    return {};
}

// A row whose original is not the script's text.
std::string stale_text(std::string_view script, const std::string& n, std::string_view expected,
                       std::string_view found) {
    const auto [want, got] = difference(expected, found);
    std::string out = format("the original no longer matches the text of instruction %s in %s: the script has "
                             "\"%s\", the table \"%s\"",
                             {n, script, want, got});
    const std::string change = spreadsheet_change(expected, found);
    if (change.empty()) return out + " (the table is older than the script, or the original was changed)";
    return out + format(". This looks like a spreadsheet's doing: %s. Export the table as XLSX or ODS instead, whose "
                        "cells stay text (or open the CSV with every column as text)",
                        {change});
}

// A translation's cell that held no typed text; empty for text and numbers.
std::string kind_text(CellKind kind, std::string_view text) {
    switch (kind) {
        case CellKind::formula:
            return format("the translation is the result of a formula (\"%s\"), not a text: type the text itself "
                          "(in a cell formatted as text, \"=\" stays as typed)",
                          {text});
        case CellKind::error:
            return format("the translation is the error of a formula (\"%s\"), not a text: type the text itself", {text});
        case CellKind::date:
            return format("the translation is a date (\"%s\" as the spreadsheet shows it), not a text: format the cell "
                          "as text and type it again",
                          {text});
        case CellKind::truth:
            return format("the translation is a truth value (\"%s\"), not a text: format the cell as text and type it "
                          "again",
                          {text});
        case CellKind::text:
        case CellKind::number: break;
    }
    return {};
}

// What import does with one script: true when it was written or had
// nothing to change.
bool import_script(Ui& ui, const ScriptFile& script, std::vector<Row>& rows, platform::Codepage& cp,
                   std::size_t& imported, std::size_t& written) {
    const auto data = read_script(ui, script.path);
    if (!data) return false;
    const ScriptMap map = map_script(bytes_of(*data));
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.number < b.number; });
    Lines refused;
    std::vector<TextEdit> edits;
    std::map<std::uint32_t, std::uint64_t> seen;  // instruction -> row
    std::string text, bytes;
    bool longer_or_shorter = false;
    for (Row& r : rows) {
        const std::string n = std::to_string(r.n);
        const auto it = std::lower_bound(map.texts.begin(), map.texts.end(), r.n,
                                         [](const ScriptText& t, std::uint32_t v) { return t.n < v; });
        if (it == map.texts.end() || it->n != r.n) {
            refused.add(row_text(r.number, r.n <= map.starts.size() ? format("instruction %s is not a text", {n})
                                                                    : format("there is no instruction %s", {n})));
            continue;
        }
        const ScriptText& t = *it;
        if (!cp.to_utf8(slice(*data, t.text_at, t.text_size), text)) {
            refused.add(row_text(
                r.number, format("the text of instruction %s is not valid in code page %s", {n, std::to_string(cp.number())})));
            continue;
        }
        const std::string_view op = t.opcode == 0 ? "init" : "update";
        if (text != r.original) {
            refused.add(row_text(r.number, stale_text(script.name, n, text, r.original)));
            continue;
        }
        if (!r.op.empty() && r.op != op) {
            refused.add(row_text(r.number, format("instruction %s in %s is an %s text, the table says \"%s\" (the table "
                                                  "is older than the script)",
                                                  {n, script.name, op, r.op})));
            continue;
        }
        if (const auto [at, fresh] = seen.emplace(r.n, r.number); !fresh) {
            refused.add(
                row_text(r.number, format("instruction %s has a translation in row %s already",
                                          {n, std::to_string(at->second)})));
            continue;
        }
        if (const std::string why = kind_text(r.kind, r.translation); !why.empty()) {
            refused.add(row_text(r.number, why));
            continue;
        }
        if (r.translation.find_first_of("\r\n") != std::string::npos) {
            refused.add(row_text(r.number, "the translation holds a line break"));
            continue;
        }
        if (r.translation.find('\0') != std::string::npos) {
            refused.add(row_text(r.number, "the translation holds a zero byte"));
            continue;
        }
        if (t.open_voice) {
            refused.add(row_text(r.number, format("the voice marker of instruction %s has no full stop, so "
                                                  "its text cannot be told from the voice name",
                                                  {n})));
            continue;
        }
        if (r.translation == r.original) continue;  // the script's bytes stay as they are
        if (!cp.from_utf8(r.translation, bytes)) {
            const std::string why = refused_character(r.translation, cp);
            refused.add(row_text(r.number, why == kNotUtf8 ? "the translation is not UTF-8 text (save the table as UTF-8)"
                                                           : format("code page %s cannot hold %s",
                                                                    {std::to_string(cp.number()), why})));
            continue;
        }
        if (t.opcode == 0 && !t.voice && bytes.starts_with("\x5C\x56")) {
            refused.add(row_text(r.number, "the translation begins with \\V, which the game takes for a "
                                           "voice marker"));
            continue;
        }
        // The game's text box does not wrap. A character of two bytes in the
        // code page is a full-width one, which takes two columns.
        if (r.max_line > 0 && bytes.size() > r.max_line) {
            refused.add(row_text(r.number, format("the translation is %s columns wide, more than the %s of a line of "
                                                  "the text box (a full-width character counts 2)",
                                                  {std::to_string(bytes.size()), std::to_string(r.max_line)})));
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

bool import_texts(Ui& ui, const std::string& folder, const std::string& table_path, unsigned codepage,
                  std::uint32_t max_line) {
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
        const auto reader = open_table(ui, table_path, kSheet);
        if (!reader) return failed();
        const auto read_failed = [&] {
            ui.alert(reader->error());
            return failed();
        };

        // The header: the column of each name, which may stand once.
        std::vector<std::size_t> found_at[f_count];
        reader->next(RowLimits{{}, kMaxField}, [&](Cell& cell) {
            if (cell.cut) return;
            const std::string name = trimmed_lower(cell.text);
            for (int f = 0; f < f_count; ++f)
                if (name == kFieldNames[f]) found_at[f].push_back(cell.column);
        });
        if (!reader->error().empty()) return read_failed();
        Lines missing, twice;
        for (const Field f : {f_script, f_n, f_original, f_translation})
            if (found_at[f].empty()) missing.add(format("\"%s\"", {kFieldNames[f]}));
        for (int f = 0; f < f_count; ++f) {
            if (found_at[f].size() < 2) continue;
            std::string columns;
            for (std::size_t i = 0; i < found_at[f].size(); ++i)
                columns += (i == 0 ? "" : i + 1 == found_at[f].size() ? " and " : ", ") + column_name(found_at[f][i]);
            twice.add(format("\"%s\" (columns %s)", {kFieldNames[f], columns}));
        }
        if (!missing.empty()) {
            ui.alert(listed(format("%s has no header row with these columns:", {table_path}), missing));
            return failed();
        }
        if (!twice.empty()) {
            ui.alert(listed(format("%s has these columns more than once, so no script was changed:", {table_path}),
                            twice));
            return failed();
        }
        std::vector<int> slots;
        RowLimits limits;
        for (int f = 0; f < f_count; ++f) {
            if (found_at[f].empty()) continue;
            const std::size_t column = found_at[f][0];
            if (slots.size() <= column) slots.resize(column + 1, -1);
            slots[column] = f;
        }
        for (const int slot : slots) limits.columns.push_back(slot >= 0 ? kMaxField : 0);

        std::vector<ScriptFile> scripts;
        std::vector<ScriptFile> archives;
        bool ok = find_scripts(ui, folder, scripts, &archives);
        if (scripts.empty() && !archives.empty()) {
            ui.alert(archives_only_text(folder, archives.size(), "No script was changed."));
            return failed();
        }
        std::unordered_map<std::string, std::size_t> by_name;
        for (std::size_t i = 0; i < scripts.size(); ++i) by_name.emplace(scripts[i].name, i);

        // A row for the script it names, or why not. `quiet` leaves out the
        // reasons (a second reading of the table, which told them already).
        TableRow fields;
        Lines table_refused;
        std::size_t translations = 0;
        const auto take_row = [&](bool quiet, std::size_t& script, Row& r) -> bool {
            const auto refuse = [&](std::string_view why) {
                if (!quiet) table_refused.add(row_text(reader->row(), why));
                return false;
            };
            if (reader->open_quote()) return refuse("a quoted field has no closing quote");
            if (fields[f_translation].empty()) return false;
            if (!quiet) ++translations;
            if (fields.cut >= 0)
                return refuse(format("its \"%s\" is longer than %s, the most that a field may hold",
                                     {kFieldNames[fields.cut], mib_text(kMaxField)}));
            const std::string& name = fields[f_script];
            const auto found = by_name.find(name);
            if (found == by_name.end()) return refuse(format("there is no script \"%s\" in %s", {name, folder}));
            const auto n = parse_n(fields[f_n]);
            if (!n) return refuse(format("\"%s\" is not an instruction number", {fields[f_n]}));
            script = found->second;
            r.number = reader->row();
            r.n = *n;
            r.op = trimmed_lower(fields[f_op]);
            r.original = std::move(fields[f_original]);
            r.translation = std::move(fields[f_translation]);
            r.kind = fields.kinds[f_translation];
            r.max_line = max_line;
            if (!fields[f_max_line].empty() && fields[f_max_line].find_first_not_of(' ') != std::string::npos) {
                const auto most = parse_n(fields[f_max_line]);
                if (!most) return refuse(format("\"%s\" in \"max_line\" is not a number of columns", {fields[f_max_line]}));
                r.max_line = *most;
            }
            return true;
        };

        // The rows are kept for every script at once while they fit in
        // kRowBudget, which is all that a table of a game's texts needs.
        // Past it only each script's share is counted, and the table is read
        // again for each run of scripts whose rows fit.
        std::vector<std::vector<Row>> rows(scripts.size());
        std::vector<std::uint64_t> cost(scripts.size());
        std::uint64_t kept = 0;
        bool all_kept = true;
        while (next_row(*reader, slots, limits, fields)) {
            std::size_t script = 0;
            Row r;
            if (!take_row(false, script, r)) continue;
            const std::uint64_t c = row_cost(r);
            cost[script] += c;
            if (!all_kept) continue;
            kept += c;
            if (kept <= kRowBudget) {
                rows[script].push_back(std::move(r));
                continue;
            }
            all_kept = false;
            for (std::vector<Row>& v : rows) std::vector<Row>().swap(v);
        }
        if (!reader->error().empty()) return read_failed();
        // A row that cannot be told to belong to a script could belong to
        // any: nothing is written.
        if (!table_refused.empty()) {
            ui.alert(listed(format("%s: no script was changed, since these rows were refused:", {table_path}),
                            table_refused));
            return failed();
        }
        if (translations == 0) {
            ui.alert(format("%s has no translation to import: every cell of its \"translation\" column is empty",
                            {table_path}));
            return failed();
        }
        std::size_t imported = 0, written = 0, unchanged = 0;
        const auto import_run = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                if (rows[i].empty()) continue;
                if (!import_script(ui, scripts[i], rows[i], cp, imported, written)) {
                    ok = false;
                    ++unchanged;
                }
                std::vector<Row>().swap(rows[i]);
            }
        };
        if (all_kept) {
            import_run(0, scripts.size());
        } else {
            for (std::size_t from = 0; from < scripts.size();) {
                if (cost[from] > kRowBudget) {
                    ui.alert(format("%s was left unchanged: its rows in the table take more than %s (their "
                                    "original and translation texts, and %s bytes for each row), the most that "
                                    "import takes for one script",
                                    {scripts[from].path, mib_text(kRowBudget), std::to_string(kRowCost)}));
                    ok = false;
                    ++unchanged;
                    ++from;
                    continue;
                }
                std::size_t to = from;
                std::uint64_t sum = 0;
                while (to < scripts.size() && sum + cost[to] <= kRowBudget) sum += cost[to++];
                if (sum > 0) {
                    if (!reader->rewind()) return read_failed();
                    next_row(*reader, slots, limits, fields);  // the header
                    while (next_row(*reader, slots, limits, fields)) {
                        std::size_t script = 0;
                        Row r;
                        if (take_row(true, script, r) && script >= from && script < to)
                            rows[script].push_back(std::move(r));
                    }
                    if (!reader->error().empty()) return read_failed();
                    import_run(from, to);
                }
                from = to;
            }
        }
        std::string counts = count_text(imported, "text", "texts") + " into " +
                             count_text(written, "script", "scripts");
        if (!ok && unchanged > 0) counts += ", " + count_text(unchanged, "script", "scripts") + " left unchanged";
        ui.status(format(ok ? "Importing OK: %s" : "Importing: %s, with failures", {counts}), Draw::later);
        return ok;
    } catch (const std::bad_alloc&) {
        ui.alert(kOutOfMemory);
        return failed();
    }
}

}  // namespace vid::text

#include "text/text_jobs.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
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
// read piece by piece.
constexpr std::uint64_t kMaxScript = 256u << 20;
constexpr std::uint64_t kMaxTable = 1024u << 20;
constexpr std::size_t kTablePiece = std::size_t{1} << 20;
// Import keeps the rows of the scripts it works on at most to this much:
// their original and translation texts and kRowCost for each row.
constexpr std::uint64_t kRowBudget = std::uint64_t{16} << 20;
constexpr std::uint64_t kRowCost = 256;
// Export writes its table out whenever this much is waiting.
constexpr std::size_t kFlushAt = std::size_t{1} << 20;
// Lines of one Alert at most, then how many more.
constexpr std::size_t kMaxLines = 20;

std::string_view as_text(ByteView bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

bool ends_with_ab(std::string_view name) {
    if (name.size() < 4) return false;
    const std::string_view end = name.substr(name.size() - 3);
    return end[0] == '.' && (end[1] | 0x20) == 'a' && (end[2] | 0x20) == 'b';
}

bool ends_with_fl3(std::string_view name) {
    if (name.size() < 5) return false;
    const std::string_view end = name.substr(name.size() - 4);
    return end[0] == '.' && (end[1] | 0x20) == 'f' && (end[2] | 0x20) == 'l' && end[3] == '3';
}

void walk(Ui& ui, const std::string& folder, const std::string& prefix, std::vector<ScriptFile>& out, bool& ok,
          std::size_t& archives) {
    auto entries = platform::list_folder(folder);
    if (!entries) {
        ui.alert(format("can't read the folder %s", {folder}));
        ok = false;
        return;
    }
    for (const platform::FolderEntry& e : *entries) {
        if (!e.folder && ends_with_fl3(e.name)) ++archives;
        if (!e.folder && !ends_with_ab(e.name)) continue;
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

bool find_scripts(Ui& ui, const std::string& folder, std::vector<ScriptFile>& scripts, std::size_t* archives) {
    bool ok = true;
    scripts.clear();
    std::size_t fl3 = 0;
    walk(ui, folder, "", scripts, ok, fl3);
    if (archives) *archives = fl3;
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
    std::size_t archives = 0;
    bool ok = find_scripts(ui, folder, scripts, &archives);
    if (!ok && scripts.empty()) {
        ui.status("Exporting texts failed", Draw::later);
        return false;  // not even the folder could be read: no table
    }
    if (scripts.empty() && archives > 0) {
        ui.alert(archives_only_text(folder, archives, "No table was written."));
        ui.status("Exporting texts failed", Draw::later);
        return false;
    }
    const char delim = table_delimiter(table_path);
    // The table goes out in pieces: the output is started once the first
    // piece is full (or at the end), and takes its name only when complete.
    std::string table(kUtf8Mark);
    std::optional<platform::Output> out;
    const auto put_out = [&]() -> bool {
        if (!out) {
            out = create_output(ui, table_path, platform::Existing::replace_target);
            if (!out) return false;
        }
        if (!out->file().write(bytes_of(table))) {
            ui.alert(cant_write(table_path));
            return false;
        }
        table.clear();
        return true;
    };
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
            Lines bad;
            for (const ScriptText& t : map.texts) {
                if (!cp.to_utf8(slice(*data, t.voice_at, t.voice_size), voice) ||
                    !cp.to_utf8(slice(*data, t.text_at, t.text_size), original)) {
                    bad.add(format("instruction %s", {std::to_string(t.n)}));
                    continue;
                }
                n = std::to_string(t.n);
                const std::string_view row[] = {s.name,  n,     t.opcode == 0 ? "init" : "update",
                                                value_text(t.idx, 4, idx), voice, original, {}};
                append_row(table, row, delim);
                ++texts;
                if (table.size() >= kFlushAt && !put_out()) {
                    ui.status("Exporting texts failed", Draw::later);
                    return false;
                }
            }
            if (!bad.empty()) {
                ok = false;
                ui.alert(listed(format("%s: these texts are not valid in code page %s and were left out of the table:",
                                       {s.path, std::to_string(codepage)}),
                                bad));
            }
        }
    } catch (const std::bad_alloc&) {
        ui.alert(kOutOfMemory);
        ui.status("Exporting texts failed", Draw::later);
        return false;
    }
    if (!put_out() || !commit_keeping_original(ui, *out, false)) {
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

// The rows of a table file, read kTablePiece bytes at a time, exactly as
// TableReader (core/table.h) reads a table held whole: the same fields, row
// numbers and open quotes. Each field is handed to `take(column, text, cut)`
// with at most `limit(column)` of its bytes (`cut` when it holds more), so
// that neither a long field nor a long row is ever held whole.
class TableStream {
public:
    TableStream(platform::File& file, std::uint64_t size, char delimiter)
        : file_(file), size_(size), delim_(delimiter), piece_(kTablePiece) {
        fill();
        if (end_ - pos_ >= kUtf8Mark.size() && std::memcmp(piece_.data(), kUtf8Mark.data(), kUtf8Mark.size()) == 0)
            pos_ = kUtf8Mark.size();
    }

    // The next row; false at the end. Empty lines are skipped.
    template <class Limit, class Take>
    bool next(Limit limit, Take take) {
        open_quote_ = false;
        // Empty lines are no rows, but they count.
        for (;;) {
            const int c = peek();
            if (c < 0) return false;
            if (c != '\r' && c != '\n') break;
            ++row_;
            ++pos_;
            if (c == '\r' && peek() == '\n') ++pos_;
        }
        ++row_;
        std::string field;
        for (std::size_t column = 0;; ++column) {
            field.clear();
            const std::size_t most = limit(column);
            bool cut = false;
            const auto add = [&](const char* p, std::size_t n) {
                if (cut) return;
                if (n > most - field.size()) {
                    field.append(p, most - field.size());
                    cut = true;
                } else {
                    field.append(p, n);
                }
            };
            if (peek() == '"') {
                // Quoted: up to the quote that is not doubled; whatever
                // follows it up to the delimiter belongs to the field as well.
                ++pos_;
                for (;;) {
                    if (peek() < 0) {
                        open_quote_ = true;
                        break;
                    }
                    const char* at = here();
                    const auto* q = static_cast<const char*>(std::memchr(at, '"', end_ - pos_));
                    if (q == nullptr) {
                        add(at, end_ - pos_);
                        pos_ = end_;
                        continue;
                    }
                    add(at, static_cast<std::size_t>(q - at));
                    pos_ += static_cast<std::size_t>(q - at) + 1;
                    if (peek() == '"') {
                        add("\"", 1);
                        ++pos_;
                        continue;
                    }
                    break;
                }
            }
            while (peek() >= 0) {
                const char* at = here();
                const char* stop = at;
                const char* last = at + (end_ - pos_);
                while (stop < last && *stop != delim_ && *stop != '\r' && *stop != '\n') ++stop;
                add(at, static_cast<std::size_t>(stop - at));
                pos_ += static_cast<std::size_t>(stop - at);
                if (stop < last) break;
            }
            take(column, field, cut);
            const int c = peek();
            if (c < 0) return true;
            ++pos_;
            if (c == delim_) continue;
            if (c == '\r' && peek() == '\n') ++pos_;
            return true;
        }
    }
    std::uint64_t row() const { return row_; }
    bool open_quote() const { return open_quote_; }
    // The system read less than the file holds.
    bool failed() const { return failed_; }

private:
    // The next byte, reading the next piece when this one is used up; -1 at
    // the end.
    int peek() {
        if (pos_ == end_ && !fill()) return -1;
        return static_cast<unsigned char>(piece_[pos_]);
    }
    const char* here() const { return reinterpret_cast<const char*>(piece_.data()) + pos_; }
    bool fill() {
        if (done_) return false;
        const std::size_t n = file_.read_full(piece_);
        read_ += n;
        pos_ = 0;
        end_ = n;
        if (n < piece_.size()) {
            done_ = true;
            failed_ = read_ < size_;
        }
        return n > 0;
    }

    platform::File& file_;
    std::uint64_t size_, read_ = 0;
    char delim_;
    Bytes piece_;
    std::size_t pos_ = 0, end_ = 0;
    bool done_ = false, failed_ = false;
    std::uint64_t row_ = 0;
    bool open_quote_ = false;
};

// The columns that import uses.
enum Field { f_script, f_n, f_op, f_original, f_translation, f_count };
constexpr std::string_view kFieldNames[f_count] = {"script", "n", "op", "original", "translation"};

// One row of the table: the fields that import uses.
struct TableRow {
    std::string fields[f_count];
    int cut = -1;  // the first field longer than kMaxField

    std::string& operator[](Field f) { return fields[f]; }
};

// Reads the next row into `row`; `slots` gives each column's field (-1
// for a column that import does not use, whose bytes are not kept).
template <class Stream>
bool next_row(Stream& in, const std::vector<int>& slots, TableRow& row) {
    for (std::string& f : row.fields) f.clear();
    row.cut = -1;
    return in.next([&](std::size_t column) { return column < slots.size() && slots[column] >= 0 ? kMaxField : 0; },
                   [&](std::size_t column, std::string& text, bool cut) {
                       if (column >= slots.size() || slots[column] < 0) return;
                       const int slot = slots[column];
                       row.fields[slot].swap(text);
                       if (cut && row.cut < 0) row.cut = slot;
                   });
}

std::uint64_t row_cost(const Row& r) { return kRowCost + r.op.size() + r.original.size() + r.translation.size(); }

std::string mib_text(std::uint64_t bytes) {
    return format("%s MiB (%s bytes)", {std::to_string(bytes >> 20), std::to_string(bytes)});
}

// What import does with one script: true when it was written or had
// nothing to change.
bool import_script(Ui& ui, const ScriptFile& script, std::vector<Row>& rows, platform::Codepage& cp,
                   std::size_t& imported, std::size_t& written) {
    const auto data = read_file(ui, script.path, kMaxScript);
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
        if (text != r.original || (!r.op.empty() && r.op != op)) {
            refused.add(row_text(r.number, format("the original no longer matches the text of instruction %s "
                                                  "(the table is older than the script)",
                                                  {n})));
            continue;
        }
        if (const auto [at, fresh] = seen.emplace(r.n, r.number); !fresh) {
            refused.add(
                row_text(r.number, format("instruction %s has a translation in row %s already",
                                          {n, std::to_string(at->second)})));
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
        auto in = open_input(ui, table_path);
        if (!in) return failed();
        const auto size = in->size();
        if (!size) {
            ui.alert(format("can't read %s", {table_path}));
            return failed();
        }
        if (*size > kMaxTable) {
            ui.alert(format("%s is too large: %s bytes", {table_path, std::to_string(*size)}));
            return failed();
        }
        const char delim = table_delimiter(table_path);
        const auto cant_read_table = [&] {
            ui.alert(format("can't read %s", {table_path}));
            return failed();
        };

        // The header: the first column of each name.
        std::vector<int> slots;
        int found_at[f_count] = {-1, -1, -1, -1, -1};
        TableStream reader(*in, *size, delim);
        reader.next([](std::size_t) { return kMaxField; },
                    [&](std::size_t column, std::string& text, bool cut) {
                        if (cut) return;
                        const std::string name = trimmed_lower(text);
                        for (int f = 0; f < f_count; ++f)
                            if (name == kFieldNames[f] && found_at[f] < 0) found_at[f] = static_cast<int>(column);
                    });
        if (reader.failed()) return cant_read_table();
        Lines missing;
        for (const Field f : {f_script, f_n, f_original, f_translation})
            if (found_at[f] < 0) missing.add(format("\"%s\"", {kFieldNames[f]}));
        if (!missing.empty()) {
            ui.alert(listed(format("%s has no header row with these columns:", {table_path}), missing));
            return failed();
        }
        for (int f = 0; f < f_count; ++f) {
            if (found_at[f] < 0) continue;
            const auto column = static_cast<std::size_t>(found_at[f]);
            if (slots.size() <= column) slots.resize(column + 1, -1);
            slots[column] = f;
        }

        std::vector<ScriptFile> scripts;
        std::size_t archives = 0;
        bool ok = find_scripts(ui, folder, scripts, &archives);
        if (scripts.empty() && archives > 0) {
            ui.alert(archives_only_text(folder, archives, "No script was changed."));
            return failed();
        }
        std::unordered_map<std::string, std::size_t> by_name;
        for (std::size_t i = 0; i < scripts.size(); ++i) by_name.emplace(scripts[i].name, i);

        // A row for the script it names, or why not. `quiet` leaves out the
        // reasons (a second reading of the table, which told them already).
        TableRow fields;
        Lines table_refused;
        const auto take_row = [&](TableStream& from, bool quiet, std::size_t& script, Row& r) -> bool {
            const auto refuse = [&](std::string_view why) {
                if (!quiet) table_refused.add(row_text(from.row(), why));
                return false;
            };
            if (from.open_quote()) return refuse("a quoted field has no closing quote");
            if (fields[f_translation].empty()) return false;
            if (fields.cut >= 0)
                return refuse(format("its \"%s\" is longer than %s, the most that a field may hold",
                                     {kFieldNames[fields.cut], mib_text(kMaxField)}));
            const std::string& name = fields[f_script];
            const auto found = by_name.find(name);
            if (found == by_name.end()) return refuse(format("there is no script \"%s\" in %s", {name, folder}));
            const auto n = parse_n(fields[f_n]);
            if (!n) return refuse(format("\"%s\" is not an instruction number", {fields[f_n]}));
            script = found->second;
            r.number = from.row();
            r.n = *n;
            r.op = trimmed_lower(fields[f_op]);
            r.original = std::move(fields[f_original]);
            r.translation = std::move(fields[f_translation]);
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
        while (next_row(reader, slots, fields)) {
            std::size_t script = 0;
            Row r;
            if (!take_row(reader, false, script, r)) continue;
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
        if (reader.failed()) return cant_read_table();
        if (!table_refused.empty()) {
            ok = false;
            ui.alert(listed(format("%s: these rows were refused:", {table_path}), table_refused));
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
                    if (!in->seek(0)) return cant_read_table();
                    TableStream again(*in, *size, delim);
                    next_row(again, slots, fields);  // the header
                    while (next_row(again, slots, fields)) {
                        std::size_t script = 0;
                        Row r;
                        if (take_row(again, true, script, r) && script >= from && script < to)
                            rows[script].push_back(std::move(r));
                    }
                    if (again.failed()) return cant_read_table();
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

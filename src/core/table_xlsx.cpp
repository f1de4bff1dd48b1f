// XLSX tables: read through the zip and XML readers, written with
// libxlsxwriter.
#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <random>
#include <set>
#include <vector>

#include "core/files.h"
#include "core/messages.h"
#include "core/table_sheet.h"
#include "core/table_sheet_read.h"
#include "core/text.h"
#include "platform/output.h"
#include "platform/paths.h"
#include "platform/temp_registry.h"

namespace vid {

namespace {

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// The code unit of an escape "_xHHHH_" at the start of `s`.
std::optional<unsigned> escape_at(std::string_view s) {
    if (s.size() < 7 || s[0] != '_' || (s[1] != 'x' && s[1] != 'X') || s[6] != '_') return std::nullopt;
    unsigned v = 0;
    for (std::size_t i = 2; i < 6; ++i) {
        if (!is_hex(s[i])) return std::nullopt;
        const char c = s[i];
        v = v * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return v;
}

void append_utf8(std::string& out, unsigned c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool lower_is(std::string_view s, std::string_view lower) {
    return s.size() == lower.size() && std::equal(s.begin(), s.end(), lower.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
           });
}

bool ends_with(std::string_view s, std::string_view end) { return s.size() >= end.size() && s.ends_with(end); }

std::optional<std::uint64_t> number_of(const char* s) {
    if (s == nullptr) return std::nullopt;
    const std::string_view v(s);
    std::uint64_t n = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || end != v.data() + v.size()) return std::nullopt;
    return n;
}

// The most of some things that a part may list.
constexpr std::size_t kMaxListed = 65536;

}  // namespace

std::string xlsx_unescape(std::string_view text) {
    if (text.find('_') == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto unit = escape_at(text.substr(i));
        if (!unit) {
            out += text[i++];
            continue;
        }
        if (*unit >= 0xD800 && *unit < 0xDC00) {
            const auto low = escape_at(text.substr(i + 7));
            if (low && *low >= 0xDC00 && *low < 0xE000) {
                append_utf8(out, 0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00));
                i += 14;
                continue;
            }
        }
        if (*unit >= 0xD800 && *unit < 0xE000) {  // a half of a pair alone: no character
            out += text[i++];
            continue;
        }
        append_utf8(out, *unit);
        i += 7;
    }
    return out;
}

std::string xlsx_escape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (escape_at(text.substr(i))) out += "_x005F";
        out += text[i];
    }
    return out;
}

bool date_format(std::string_view code) {
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = static_cast<char>(code[i] >= 'A' && code[i] <= 'Z' ? code[i] - 'A' + 'a' : code[i]);
        switch (c) {
            case '"': {  // literal text
                const std::size_t close = code.find('"', i + 1);
                if (close == std::string_view::npos) return false;
                i = close;
                break;
            }
            case '\\':
            case '_':
            case '*': ++i; break;  // the next character is shown, not read
            case '[': {  // a colour, a condition or a locale; [h], [mm], [ss]: elapsed time
                const std::size_t close = code.find(']', i + 1);
                if (close == std::string_view::npos) return false;
                const std::string_view inside = code.substr(i + 1, close - i - 1);
                if (!inside.empty() && inside.find_first_not_of("hHmMsS") == std::string_view::npos) return true;
                i = close;
                break;
            }
            case 'g':
                if (lower_is(code.substr(i, 7), "general")) {
                    i += 6;
                    break;
                }
                return true;  // an era
            case 'e':
                if (i + 1 < code.size() && (code[i + 1] == '+' || code[i + 1] == '-')) break;  // 0.0E+00
                return true;                                                                   // an era's year
            case 'd':
            case 'm':
            case 'y':
            case 'h':
            case 's':
            case 'b':
                return true;
            case 'a':
                if (lower_is(code.substr(i, 5), "am/pm") || lower_is(code.substr(i, 3), "a/p")) return true;
                break;
            default: break;
        }
    }
    return false;
}

std::optional<std::size_t> cell_column(std::string_view ref) {
    std::size_t column = 0, letters = 0;
    for (char c : ref) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c < 'A' || c > 'Z') break;
        column = column * 26 + static_cast<std::size_t>(c - 'A' + 1);
        if (++letters > 3) return std::nullopt;
    }
    if (letters == 0 || column > 16384) return std::nullopt;
    return column - 1;
}

namespace {

struct Relation {
    std::string id, type, target;
};

// A part's relationships (_rels/NAME.rels).
struct RelsHandler : XmlHandler {
    std::vector<Relation> relations;
    const ZipReader* zip;

    explicit RelsHandler(const ZipReader& z) : zip(&z) {}
    void start(std::string_view name, const char** a) override {
        if (name != "Relationship") return;
        const char* mode = xml_attribute(a, "TargetMode");
        if (mode != nullptr && std::string_view(mode) == "External") return;
        if (relations.size() >= kMaxListed) {
            parser->fail(format("%s lists more than %s relationships in %s", {zip->path(), std::to_string(kMaxListed), zip->part()}));
            return;
        }
        const char* id = xml_attribute(a, "Id");
        const char* type = xml_attribute(a, "Type");
        const char* target = xml_attribute(a, "Target");
        if (id != nullptr && type != nullptr && target != nullptr) relations.push_back({id, type, target});
    }
    void end(std::string_view) override {}
    void text(std::string_view) override {}
};

struct SheetEntry {
    std::string name, id;
};

// xl/workbook.xml: the sheets, in their order.
struct WorkbookHandler : XmlHandler {
    std::vector<SheetEntry> sheets;
    const ZipReader* zip;

    explicit WorkbookHandler(const ZipReader& z) : zip(&z) {}
    void start(std::string_view name, const char** a) override {
        if (name != "sheet") return;
        if (sheets.size() >= kMaxListed) {
            parser->fail(format("%s lists more than %s sheets", {zip->path(), std::to_string(kMaxListed)}));
            return;
        }
        const char* sheet = xml_attribute(a, "name");
        const char* id = xml_attribute(a, "id");
        if (sheet != nullptr && id != nullptr) sheets.push_back({sheet, id});
    }
    void end(std::string_view) override {}
    void text(std::string_view) override {}
};

// xl/styles.xml: which cell formats show a date.
struct StylesHandler : XmlHandler {
    std::set<std::uint64_t> date_formats;  // custom number formats that show a date
    std::vector<std::uint64_t> formats;    // the number format of each cell format
    bool in_formats = false, in_cells = false;
    const ZipReader* zip;

    explicit StylesHandler(const ZipReader& z) : zip(&z) {}
    void start(std::string_view name, const char** a) override {
        if (name == "numFmts") in_formats = true;
        if (name == "cellXfs") in_cells = true;
        if (in_formats && name == "numFmt") {
            const auto id = number_of(xml_attribute(a, "numFmtId"));
            const char* code = xml_attribute(a, "formatCode");
            if (id && code != nullptr && date_format(code) && date_formats.size() < kMaxListed) date_formats.insert(*id);
        }
        if (in_cells && name == "xf") {
            if (formats.size() >= kMaxListed) {
                parser->fail(format("%s lists more than %s cell formats", {zip->path(), std::to_string(kMaxListed)}));
                return;
            }
            formats.push_back(number_of(xml_attribute(a, "numFmtId")).value_or(0));
        }
    }
    void end(std::string_view name) override {
        if (name == "numFmts") in_formats = false;
        if (name == "cellXfs") in_cells = false;
    }
    void text(std::string_view) override {}

    // Whether each cell format shows a date: the built-in formats of dates
    // and times (14 to 22, 45 to 47, and those of East Asian dates, 27 to 36
    // and 50 to 58), or a format of the file's own that shows one.
    std::vector<bool> dates() const {
        std::vector<bool> out;
        for (const std::uint64_t f : formats)
            out.push_back((f >= 14 && f <= 22) || (f >= 27 && f <= 36) || (f >= 45 && f <= 47) ||
                          (f >= 50 && f <= 58) || date_formats.count(f) > 0);
        return out;
    }
};

// xl/sharedStrings.xml: every string of the shared table, held at once.
struct SharedHandler : XmlHandler {
    std::string pool;
    std::vector<std::uint32_t> ends;  // where each string ends in pool
    std::string current;
    int in_string = 0;   // inside <si>
    int phonetic = 0;    // inside <rPh>, whose text is a reading aid
    bool in_text = false;
    const ZipReader* zip;

    explicit SharedHandler(const ZipReader& z) : zip(&z) {}
    void start(std::string_view name, const char** a) override {
        if (name == "si") {
            in_string = 1;
            current.clear();
        } else if (name == "rPh") {
            ++phonetic;
        } else if (name == "t") {
            in_text = in_string > 0 && phonetic == 0;
        }
        (void)a;
    }
    void end(std::string_view name) override {
        if (name == "t") in_text = false;
        if (name == "rPh") --phonetic;
        if (name != "si") return;
        in_string = 0;
        const std::string text = xlsx_unescape(current);
        const std::uint64_t held = pool.size() + text.size() + 8 * (ends.size() + 1);
        if (held > zip->limits().shared) {
            parser->fail(format("%s: its shared strings take more than %s bytes (their texts and 8 bytes for each), "
                                "the most that is read",
                                {zip->path(), std::to_string(zip->limits().shared)}));
            return;
        }
        pool += text;
        ends.push_back(static_cast<std::uint32_t>(pool.size()));
    }
    void text(std::string_view t) override {
        if (!in_text) return;
        if (current.size() + t.size() > zip->limits().shared) {
            parser->fail(format("%s: its shared strings take more than %s bytes (their texts and 8 bytes for each), "
                                "the most that is read",
                                {zip->path(), std::to_string(zip->limits().shared)}));
            return;
        }
        current += t;
    }
};

class XlsxRows : public SheetRows {
public:
    XlsxRows(platform::File file, std::uint64_t size, const std::string& path, std::string_view sheet,
             const SheetLimits& limits)
        : SheetRows(std::move(file), size, path, "XLSX", limits), wanted_(sheet), sheet_(*this) {}

    bool prepare();

    XmlHandler& restart() override {
        sheet_.reset();
        return sheet_;
    }
    std::uint64_t last_row() const override { return sheet_.row; }

private:
    // The sheet's rows, cell by cell.
    struct SheetHandler : XmlHandler {
        XlsxRows& rows;
        std::uint64_t row = 0;
        bool in_data = false, in_row = false, in_cell = false, row_content = false;
        std::size_t column = 0;
        std::optional<std::size_t> last_column;
        bool column_ok = false;
        std::string type;
        std::uint64_t style = 0;
        bool formula = false, in_value = false, in_inline = false, in_text = false, cut = false;
        int phonetic = 0;
        std::string value, inline_text;

        explicit SheetHandler(XlsxRows& r) : rows(r) {}
        void reset() {
            row = 0;
            in_data = in_row = in_cell = row_content = false;
        }
        std::size_t keep() const {
            if (!column_ok) return 0;
            const std::size_t most = rows.limit(column);
            return most == 0 ? 0 : std::max<std::size_t>(most, 64);
        }
        void start(std::string_view name, const char** a) override {
            if (name == "sheetData") {
                in_data = true;
                return;
            }
            if (!in_data) return;
            if (name == "row") {
                const auto r = number_of(xml_attribute(a, "r"));
                row = r && *r > row ? *r : row + 1;
                in_row = true;
                row_content = false;
                last_column.reset();
            } else if (name == "c" && in_row) {
                in_cell = true;
                const char* ref = xml_attribute(a, "r");
                const auto c = ref != nullptr ? cell_column(ref) : std::nullopt;
                column = c ? *c : (last_column ? *last_column + 1 : 0);
                column_ok = column < 16384;
                last_column = column;
                const char* t = xml_attribute(a, "t");
                type = t != nullptr ? t : "n";
                style = number_of(xml_attribute(a, "s")).value_or(0);
                formula = cut = false;
                value.clear();
                inline_text.clear();
                phonetic = 0;
            } else if (in_cell) {
                if (name == "f") formula = true;
                if (name == "v") in_value = true;
                if (name == "is") in_inline = true;
                if (name == "rPh") ++phonetic;
                if (name == "t") in_text = in_inline && phonetic == 0;
            }
        }
        void end(std::string_view name) override {
            if (name == "sheetData") in_data = false;
            if (!in_data) return;
            if (name == "v") in_value = false;
            if (name == "is") in_inline = false;
            if (name == "rPh") --phonetic;
            if (name == "t") in_text = false;
            if (name == "c" && in_cell) {
                in_cell = false;
                cell_done();
            }
            if (name == "row" && in_row) {
                in_row = false;
                if (row_content) parser->pause();
            }
        }
        void text(std::string_view t) override {
            std::string* into = in_value ? &value : in_text ? &inline_text : nullptr;
            if (into == nullptr || t.empty()) return;
            row_content = true;
            const std::size_t most = keep();
            if (into->size() + t.size() > most) {
                into->append(t.substr(0, most - std::min(most, into->size())));
                cut = true;
            } else {
                into->append(t);
            }
        }
        void cell_done() {
            if (keep() == 0) return;
            std::string text;
            CellKind kind = CellKind::text;
            bool over = cut;
            if (type == "s") {
                const auto index = number_of(value.c_str());
                if (!index || *index >= rows.shared_ends_.size()) {
                    parser->fail(format("%s is damaged: a cell of row %s refers to shared string %s, of %s",
                                        {rows.zip_.path(), std::to_string(row), value,
                                         std::to_string(rows.shared_ends_.size())}));
                    return;
                }
                const std::size_t from = *index == 0 ? 0 : rows.shared_ends_[*index - 1];
                const std::size_t to = rows.shared_ends_[*index];
                const std::size_t most = rows.limit(column);
                text.assign(rows.shared_pool_, from, std::min(to - from, most));
                over = to - from > most;
            } else if (type == "inlineStr") {
                text = xlsx_unescape(inline_text);
            } else if (type == "str") {
                text = xlsx_unescape(value);
            } else if (type == "b") {
                text = value == "1" ? "TRUE" : value == "0" ? "FALSE" : value;
                kind = CellKind::truth;
            } else if (type == "e") {
                text = value;
                kind = CellKind::error;
            } else if (type == "d") {
                text = value;
                kind = CellKind::date;
            } else {
                text = value;
                kind = style < rows.date_styles_.size() && rows.date_styles_[style] ? CellKind::date : CellKind::number;
            }
            if (formula && kind != CellKind::error) kind = CellKind::formula;
            rows.give(column, text, over, kind);
        }
    };

    std::string wanted_;
    std::string shared_pool_;
    std::vector<std::uint32_t> shared_ends_;
    std::vector<bool> date_styles_;
    SheetHandler sheet_;
};

bool XlsxRows::prepare() {
    if (!zip_.ok()) {
        error_ = zip_.error();
        return false;
    }
    std::string workbook = "xl/workbook.xml";
    if (zip_.has("_rels/.rels")) {
        RelsHandler package(zip_);
        if (!read_part("_rels/.rels", package)) return false;
        for (const Relation& r : package.relations)
            if (ends_with(r.type, "/officeDocument")) workbook = package_path("", r.target);
    }
    WorkbookHandler book(zip_);
    if (!read_part(workbook, book)) return false;
    const std::size_t slash = workbook.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : workbook.substr(0, slash + 1);
    RelsHandler relations(zip_);
    if (!read_part(folder + "_rels/" + workbook.substr(folder.size()) + ".rels", relations)) return false;
    std::string styles, shared;
    for (const Relation& r : relations.relations) {
        if (ends_with(r.type, "/styles")) styles = package_path(folder, r.target);
        if (ends_with(r.type, "/sharedStrings")) shared = package_path(folder, r.target);
    }
    // The sheet named as export names it, or else the first.
    std::string first, named;
    for (const SheetEntry& s : book.sheets) {
        const auto r = std::find_if(relations.relations.begin(), relations.relations.end(),
                                    [&](const Relation& rel) { return rel.id == s.id; });
        if (r == relations.relations.end() || !ends_with(r->type, "/worksheet")) continue;
        const std::string part = package_path(folder, r->target);
        if (first.empty()) first = part;
        if (named.empty() && same_name(s.name, wanted_)) named = part;
    }
    rows_part_ = !named.empty() ? named : first;
    if (rows_part_.empty()) {
        error_ = format("%s holds no sheet", {zip_.path()});
        return false;
    }
    if (!styles.empty() && zip_.has(styles)) {
        StylesHandler s(zip_);
        if (!read_part(styles, s)) return false;
        date_styles_ = s.dates();
    }
    if (!shared.empty() && zip_.has(shared)) {
        SharedHandler s(zip_);
        if (!read_part(shared, s)) return false;
        shared_pool_ = std::move(s.pool);
        shared_ends_ = std::move(s.ends);
    }
    return rewind();
}

}  // namespace

std::unique_ptr<TableRows> open_xlsx(Ui& ui, platform::File file, std::uint64_t size, const std::string& path,
                                     std::string_view sheet, const SheetLimits& limits) {
    auto rows = std::make_unique<XlsxRows>(std::move(file), size, path, sheet, limits);
    if (!rows->prepare()) {
        ui.alert(rows->error());
        return nullptr;
    }
    return rows;
}

namespace {

// libxlsxwriter writes the workbook to a file name of its own: a scratch
// file beside the table, copied into the table's output once complete.
class XlsxWriter : public TableWriter {
public:
    XlsxWriter(Ui& ui, platform::Output out) : ui_(ui), out_(std::move(out)) {}
    ~XlsxWriter() override {
        if (book_ != nullptr) lxw_workbook_free(book_);
        drop_scratch();
    }

    bool start(std::span<const TableColumn> columns, std::string_view sheet);

    std::string cannot_hold(std::string_view text) const override {
        if (std::string why = xml_cannot_hold(text, true); !why.empty()) return why;
        const std::size_t characters =
            static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
        if (characters > 32767)
            return format("it is %s characters long, more than the 32767 that an XLSX cell holds",
                          {std::to_string(characters)});
        return {};
    }

    bool add(std::span<const std::string_view> fields) override {
        if (row_ >= LXW_ROW_MAX) {
            ui_.alert(format("%s would hold more than %s rows, the most that an XLSX sheet holds: use a CSV table",
                             {out_.final_path(), std::to_string(LXW_ROW_MAX)}));
            return false;
        }
        lxw_col_t column = 0;
        for (std::string_view f : fields) {
            const std::string text = xlsx_escape(f);
            lxw_format* look = formats_[std::min<std::size_t>(column, formats_.size() - 1)][row_ == 0 ? 1 : 0];
            const lxw_error e = text.empty() ? worksheet_write_blank(sheet_, row_, column, look)
                                             : worksheet_write_string(sheet_, row_, column, text.c_str(), look);
            if (e != LXW_NO_ERROR) return failed(e);
            ++column;
        }
        ++row_;
        return true;
    }

    bool finish() override;

private:
    bool failed(lxw_error e) {
        ui_.alert(format("can't write %s: %s", {out_.final_path(), lxw_strerror(e)}));
        return false;
    }
    void drop_scratch() {
        if (scratch_.empty()) return;
        platform::remove_file(scratch_);
        platform::untrack_temp(slot_);
        scratch_.clear();
    }

    Ui& ui_;
    platform::Output out_;
    std::string scratch_;
    int slot_ = -1;
    lxw_workbook* book_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
    std::vector<std::array<lxw_format*, 2>> formats_;  // each column's: [cell, header]
    lxw_row_t row_ = 0;
};

bool XlsxWriter::start(std::span<const TableColumn> columns, std::string_view sheet) {
    // A new name that nothing stands at: taken once, then written by the library.
    const std::string folder(platform::split_path(out_.final_path()).folder);
    std::random_device random;
    for (int attempt = 0; attempt < 16 && scratch_.empty(); ++attempt) {
        std::string name = platform::temp_path(folder, random());
        if (!platform::fits(name)) break;
        const int slot = platform::track_temp(name);
        if (platform::File::open(name, platform::OpenMode::create_new)) {
            scratch_ = std::move(name);
            slot_ = slot;
        } else {
            platform::untrack_temp(slot);
        }
    }
    if (scratch_.empty()) {
        ui_.alert(format("Can't create %s", {out_.final_path()}));
        return false;
    }
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;  // each row goes to a temporary file as it is written
    book_ = workbook_new_opt(scratch_.c_str(), &options);
    if (book_ != nullptr) sheet_ = workbook_add_worksheet(book_, std::string(sheet).c_str());
    if (sheet_ == nullptr) {
        ui_.alert(format("Can't create %s", {out_.final_path()}));
        return false;
    }
    for (lxw_col_t c = 0; c < columns.size(); ++c) {
        std::array<lxw_format*, 2> looks{};
        for (int header = 0; header < 2; ++header) {
            lxw_format* f = workbook_add_format(book_);
            format_set_num_format_index(f, 49);  // "@", text: what is typed stays as typed
            format_set_align(f, LXW_ALIGN_VERTICAL_TOP);
            if (header) format_set_bold(f);
            if (columns[c].look == ColumnLook::original) format_set_bg_color(f, 0xE4E4E4);
            if (columns[c].look != ColumnLook::key && !header) format_set_text_wrap(f);
            looks[static_cast<std::size_t>(header)] = f;
        }
        formats_.push_back(looks);
        if (const lxw_error e = worksheet_set_column(sheet_, c, c, columns[c].width, looks[0]); e != LXW_NO_ERROR)
            return failed(e);
    }
    worksheet_freeze_panes(sheet_, 1, 0);
    std::vector<std::string_view> header;
    for (const TableColumn& c : columns) header.push_back(c.name);
    return add(header);
}

bool XlsxWriter::finish() {
    const lxw_error e = workbook_close(book_);
    book_ = nullptr;
    if (e != LXW_NO_ERROR) return failed(e);
    auto in = platform::File::open(scratch_, platform::OpenMode::read_existing);
    const auto size = in ? in->size() : std::nullopt;
    if (!size) {
        ui_.alert(format("can't write %s", {out_.final_path()}));
        return false;
    }
    std::uint64_t done = out_.file().copy_range_from(*in, 0, *size);
    std::vector<std::uint8_t> piece(std::size_t{1} << 20);
    while (done < *size) {
        const std::size_t n = in->seek(done) ? in->read_full(piece) : 0;
        if (n == 0 || !out_.file().write(std::span(piece.data(), n))) {
            ui_.alert(cant_write(out_.final_path()));
            return false;
        }
        done += n;
    }
    in->close();
    drop_scratch();
    return commit_keeping_original(ui_, out_, false);
}

}  // namespace

std::unique_ptr<TableWriter> create_xlsx(Ui& ui, const std::string& path, std::span<const TableColumn> columns,
                                         std::string_view sheet) {
    auto out = create_output(ui, path, platform::Existing::replace_target);
    if (!out) return nullptr;
    auto writer = std::make_unique<XlsxWriter>(ui, std::move(*out));
    if (!writer->start(columns, sheet)) return nullptr;
    return writer;
}

}  // namespace vid

// ODS tables: content.xml read through the zip and XML readers, and the
// package written by hand.
#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <optional>

#include "core/files.h"
#include "core/messages.h"
#include "core/table_sheet.h"
#include "core/table_sheet_read.h"
#include "core/text.h"

namespace vid {

namespace {

constexpr std::size_t kMaxColumns = 16384;

std::uint64_t count_of(const char* s, std::uint64_t otherwise) {
    if (s == nullptr) return otherwise;
    const std::string_view v(s);
    std::uint64_t n = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    return ec == std::errc() && end == v.data() + v.size() && n > 0 ? n : otherwise;
}

// Elements inside a paragraph whose text is not the cell's: comments,
// notes, ruby readings, drawings.
bool left_out(std::string_view name) {
    static constexpr std::string_view names[] = {
        "annotation", "note-body", "note-citation", "ruby-text", "frame", "custom-shape", "rect", "line",
        "polyline", "polygon", "path", "circle", "ellipse", "connector", "g", "control", "image", "object",
        "measure", "caption", "regular-polygon", "page-thumbnail"};
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

class OdsRows : public SheetRows {
public:
    OdsRows(platform::File file, std::uint64_t size, const std::string& path, std::string_view sheet,
            const SheetLimits& limits)
        : SheetRows(std::move(file), size, path, "ODS", limits), content_(*this) {
        content_.wanted = sheet;
    }

    bool prepare() {
        if (!zip_.ok()) {
            error_ = zip_.error();
            return false;
        }
        // A first reading to find the table named as export names it.
        content_.scanning = true;
        if (!read_part("content.xml", content_)) return false;
        if (content_.tables == 0) {
            error_ = format("%s holds no sheet", {zip_.path()});
            return false;
        }
        content_.chosen = content_.named.value_or(0);
        content_.scanning = false;
        rows_part_ = "content.xml";
        return rewind();
    }

    XmlHandler& restart() override {
        content_.reset();
        return content_;
    }
    std::uint64_t last_row() const override { return content_.row; }

private:
    struct ContentHandler : XmlHandler {
        OdsRows& rows;
        bool scanning = false;
        std::size_t tables = 0, chosen = 0;
        std::optional<std::size_t> named;
        std::string wanted;

        int table_depth = 0;
        bool in_chosen = false, in_row = false, in_cell = false, row_content = false;
        std::uint64_t row = 0, next_row = 1;
        std::uint64_t row_repeat = 1;
        std::size_t column = 0, cell_repeat = 1;
        CellKind kind = CellKind::text;
        int skip = 0;        // depth inside an element left out
        int paragraph = 0;   // depth inside text:p / text:h
        int paragraphs = 0;  // paragraphs of the cell so far
        bool last_white = true, pending = false, cut = false;
        std::size_t most = 0;
        std::string shown;  // the cell's text so far

        explicit ContentHandler(OdsRows& r) : rows(r) {}
        void reset() {
            table_depth = 0;
            tables = 0;
            in_chosen = in_row = in_cell = false;
            row = 0;
            next_row = 1;
        }
        // The most bytes kept of the cell: the largest limit of its columns.
        std::size_t cell_most() const {
            const std::size_t end = std::min(kMaxColumns, column + std::min<std::size_t>(cell_repeat, kMaxColumns));
            std::size_t m = 0;
            const std::size_t listed = std::min(end, rows.limits_->columns.size());
            for (std::size_t c = column; c < listed; ++c) m = std::max(m, rows.limits_->columns[c]);
            if (end > rows.limits_->columns.size()) m = std::max(m, rows.limits_->rest);
            return m;
        }
        void add(std::string_view s) {
            if (cut) return;
            if (shown.size() + s.size() > most) {
                shown.append(s.substr(0, most - std::min(most, shown.size())));
                cut = true;
            } else {
                shown.append(s);
            }
        }
        void add_spaces(std::uint64_t n) {
            while (n > 0 && !cut) {
                const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, 64));
                add(std::string_view("                                                                ", k));
                n -= k;
            }
        }
        void flush_pending() {
            if (pending) add(" ");
            pending = false;
        }
        void start(std::string_view name, const char** a) override {
            if (name == "table") {
                if (++table_depth == 1) {
                    const std::size_t index = tables++;
                    if (const char* n = xml_attribute(a, "name"); scanning && !named && n != nullptr && same_name(n, wanted))
                        named = index;
                    in_chosen = !scanning && index == chosen;
                }
                return;
            }
            if (!in_chosen || table_depth != 1) return;
            if (name == "table-row") {
                in_row = true;
                row_content = false;
                row = next_row;
                row_repeat = count_of(xml_attribute(a, "number-rows-repeated"), 1);
                next_row = row + row_repeat;
                column = 0;
                return;
            }
            if (!in_row) return;
            if (name == "table-cell" || name == "covered-table-cell") {
                in_cell = true;
                cell_repeat = static_cast<std::size_t>(
                    std::min<std::uint64_t>(count_of(xml_attribute(a, "number-columns-repeated"), 1), kMaxColumns));
                kind = CellKind::text;
                for (const char** at = a; *at != nullptr; at += 2) {
                    std::string_view n(at[0]);
                    n = n.substr(n.rfind(':') == std::string_view::npos ? 0 : n.rfind(':') + 1);
                    const std::string_view v(at[1]);
                    if (n == "value-type") {
                        if (v == "error") kind = CellKind::error;
                        else if (kind == CellKind::text && (v == "float" || v == "percentage" || v == "currency"))
                            kind = CellKind::number;
                        else if (kind == CellKind::text && (v == "date" || v == "time")) kind = CellKind::date;
                        else if (kind == CellKind::text && v == "boolean") kind = CellKind::truth;
                    }
                }
                if (xml_attribute(a, "formula") != nullptr && kind != CellKind::error) kind = CellKind::formula;
                shown.clear();
                cut = false;
                skip = paragraph = paragraphs = 0;
                most = column < kMaxColumns ? cell_most() : 0;
                return;
            }
            if (!in_cell) return;
            if (skip > 0 || left_out(name)) {
                ++skip;
                return;
            }
            if (name == "p" || name == "h") {
                if (paragraph == 0) {
                    if (paragraphs++ > 0) add("\n");
                    last_white = true;
                    pending = false;
                }
                ++paragraph;
                return;
            }
            if (paragraph == 0) return;
            if (name == "s") {
                flush_pending();
                add_spaces(count_of(xml_attribute(a, "c"), 1));
                last_white = true;
            } else if (name == "tab") {
                flush_pending();
                add("\t");
                last_white = true;
            } else if (name == "line-break") {
                flush_pending();
                add("\n");
                last_white = true;
            }
        }
        void end(std::string_view name) override {
            if (name == "table") {
                if (--table_depth == 0) in_chosen = false;
                return;
            }
            if (!in_chosen || table_depth != 1) return;
            if (in_cell && skip > 0) {
                --skip;
                return;
            }
            if (in_cell && (name == "p" || name == "h") && paragraph > 0) {
                if (--paragraph == 0) pending = false;  // white space at a paragraph's end is no text
                return;
            }
            if (name == "table-cell" || name == "covered-table-cell") {
                if (in_cell) cell_done();
                in_cell = false;
                return;
            }
            if (name == "table-row" && in_row) {
                in_row = false;
                if (row_content) parser->pause();
            }
        }
        void text_of(std::string_view t) {
            for (std::size_t i = 0; i < t.size();) {
                const char c = t[i];
                if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                    if (!last_white) pending = true;
                    last_white = true;
                    ++i;
                    continue;
                }
                std::size_t j = i;
                while (j < t.size() && t[j] != ' ' && t[j] != '\t' && t[j] != '\r' && t[j] != '\n') ++j;
                flush_pending();
                add(t.substr(i, j - i));
                last_white = false;
                i = j;
            }
        }
        void text(std::string_view t) override {
            if (!in_cell || skip > 0 || paragraph == 0) return;
            text_of(t);
        }
        void cell_done() {
            if (!shown.empty() || cut) row_content = true;
            if (column < kMaxColumns && (!shown.empty() || cut)) {
                const std::size_t end = std::min(kMaxColumns, column + cell_repeat);
                for (std::size_t c = column; c < end; ++c) {
                    if (rows.limit(c) == 0) {
                        // Past the columns asked for, nothing more is wanted.
                        if (c >= rows.limits_->columns.size() && rows.limits_->rest == 0) break;
                        continue;
                    }
                    std::string copy = shown;
                    rows.give(c, copy, cut, kind);
                }
            }
            column = std::min(kMaxColumns, column + cell_repeat);
        }
    };

    ContentHandler content_;
};

}  // namespace

std::unique_ptr<TableRows> open_ods(Ui& ui, platform::File file, std::uint64_t size, const std::string& path,
                                    std::string_view sheet, const SheetLimits& limits) {
    auto rows = std::make_unique<OdsRows>(std::move(file), size, path, sheet, limits);
    if (!rows->prepare()) {
        ui.alert(rows->error());
        return nullptr;
    }
    return rows;
}

namespace {

constexpr std::string_view kMimetype = "application/vnd.oasis.opendocument.spreadsheet";

constexpr std::string_view kManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
    "manifest:version=\"1.2\">"
    "<manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.2\" "
    "manifest:media-type=\"application/vnd.oasis.opendocument.spreadsheet\"/>"
    "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
    "<manifest:file-entry manifest:full-path=\"settings.xml\" manifest:media-type=\"text/xml\"/>"
    "</manifest:manifest>";

constexpr std::string_view kContentHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
    "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" office:version=\"1.2\">"
    "<office:automatic-styles>"
    "<number:text-style style:name=\"N0\"><number:text-content/></number:text-style>";

// A cell style of each look, plain and bold (the header): text, at the top.
constexpr std::string_view kLooks[] = {"key", "original", "translation"};

// Appends each piece in turn (MinGW's g++ -O3 sees false overlaps in
// chains of string concatenations).
void put(std::string& out, std::initializer_list<std::string_view> pieces) {
    for (std::string_view p : pieces) out += p;
}

std::string cell_style(std::string_view look, bool header) {
    std::string s;
    put(s, {"<style:style style:name=\"ce-", look, header ? "-h" : "",
            "\" style:family=\"table-cell\" style:data-style-name=\"N0\"><style:table-cell-properties "
            "style:vertical-align=\"top\""});
    if (look == "original") s += " fo:background-color=\"#e4e4e4\"";
    if (look != "key" && !header) s += " fo:wrap-option=\"wrap\"";
    s += "/>";
    if (header) s += "<style:text-properties fo:font-weight=\"bold\"/>";
    s += "</style:style>";
    return s;
}

std::string settings(std::string_view sheet) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<office:document-settings xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:config=\"urn:oasis:names:tc:opendocument:xmlns:config:1.0\" office:version=\"1.2\">"
        "<office:settings><config:config-item-set config:name=\"ooo:view-settings\">"
        "<config:config-item-map-indexed config:name=\"Views\"><config:config-item-map-entry>";
    const auto item = [&](std::string_view n, std::string_view type, std::string_view v) {
        put(out, {"<config:config-item config:name=\"", n, "\" config:type=\"", type, "\">", v, "</config:config-item>"});
    };
    item("ViewId", "string", "view1");
    out += "<config:config-item-map-named config:name=\"Tables\"><config:config-item-map-entry config:name=\"";
    append_xml(out, sheet);
    out += "\">";
    // The first row frozen: split below row 1, the lower pane active.
    item("HorizontalSplitMode", "short", "0");
    item("VerticalSplitMode", "short", "2");
    item("HorizontalSplitPosition", "int", "0");
    item("VerticalSplitPosition", "int", "1");
    item("ActiveSplitRange", "short", "2");
    item("PositionLeft", "int", "0");
    item("PositionRight", "int", "0");
    item("PositionTop", "int", "0");
    item("PositionBottom", "int", "1");
    out += "</config:config-item-map-entry></config:config-item-map-named></config:config-item-map-entry>"
           "</config:config-item-map-indexed></config:config-item-set></office:settings></office:document-settings>";
    return out;
}

// A text as the paragraph of a cell: spaces that ODF would collapse as
// text:s, tabs and line feeds as their elements.
void append_paragraph(std::string& out, std::string_view text) {
    out += "<text:p>";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == ' ') {
            std::size_t j = i;
            while (j < text.size() && text[j] == ' ') ++j;
            const bool between = i > 0 && j < text.size() && j - i == 1 && text[i - 1] != '\t' &&
                                 text[i - 1] != '\n' && text[j] != '\t' && text[j] != '\n';
            if (between) {
                out += ' ';
            } else if (j - i == 1) {
                out += "<text:s/>";
            } else {
                put(out, {"<text:s text:c=\"", std::to_string(j - i), "\"/>"});
            }
            i = j;
        } else if (c == '\t') {
            out += "<text:tab/>";
            ++i;
        } else if (c == '\n') {
            out += "<text:line-break/>";
            ++i;
        } else {
            std::size_t j = i;
            while (j < text.size() && text[j] != ' ' && text[j] != '\t' && text[j] != '\n') ++j;
            append_xml(out, text.substr(i, j - i));
            i = j;
        }
    }
    out += "</text:p>";
}

class OdsWriter : public TableWriter {
public:
    OdsWriter(Ui& ui, platform::Output out) : ui_(ui), out_(std::move(out)), zip_(out_.file()) {}

    bool start(std::span<const TableColumn> columns, std::string_view sheet) {
        for (const TableColumn& c : columns) looks_.push_back(kLooks[static_cast<int>(c.look)]);
        if (!zip_.begin("mimetype", true) || !zip_.write(kMimetype) || !zip_.end() ||
            !zip_.begin("META-INF/manifest.xml") || !zip_.write(kManifest) || !zip_.end() ||
            !zip_.begin("settings.xml") || !zip_.write(settings(sheet)) || !zip_.end() || !zip_.begin("content.xml"))
            return failed();
        pending_ = kContentHead;
        for (std::size_t c = 0; c < columns.size(); ++c)
            put(pending_, {"<style:style style:name=\"co", std::to_string(c),
                           "\" style:family=\"table-column\"><style:table-column-properties style:column-width=\"",
                           std::to_string(columns[c].width * 21 / 10), "mm\"/></style:style>"});
        for (std::string_view look : kLooks) pending_ += cell_style(look, false) + cell_style(look, true);
        pending_ += "</office:automatic-styles><office:body><office:spreadsheet><table:table table:name=\"";
        append_xml(pending_, sheet);
        pending_ += "\">";
        for (std::size_t c = 0; c < columns.size(); ++c)
            put(pending_, {"<table:table-column table:style-name=\"co", std::to_string(c),
                           "\" table:default-cell-style-name=\"ce-", looks_[c], "\"/>"});
        std::vector<std::string_view> header;
        for (const TableColumn& c : columns) header.push_back(c.name);
        pending_ += "<table:table-header-rows>";
        header_ = true;
        const bool ok = add(header);
        header_ = false;
        pending_ += "</table:table-header-rows>";
        return ok;
    }

    std::string cannot_hold(std::string_view text) const override {
        if (text.find('\r') != std::string_view::npos) return "it holds a carriage return, which ODS cannot hold";
        return xml_cannot_hold(text, false);
    }

    bool add(std::span<const std::string_view> fields) override {
        pending_ += "<table:table-row>";
        std::size_t c = 0;
        for (std::string_view f : fields) {
            put(pending_, {"<table:table-cell table:style-name=\"ce-", looks_[std::min(c, looks_.size() - 1)],
                           header_ ? "-h\"" : "\""});
            if (f.empty()) {
                pending_ += "/>";
            } else {
                pending_ += " office:value-type=\"string\">";
                append_paragraph(pending_, f);
                pending_ += "</table:table-cell>";
            }
            ++c;
        }
        pending_ += "</table:table-row>";
        if (pending_.size() < (std::size_t{1} << 16)) return true;
        if (!zip_.write(pending_)) return failed();
        pending_.clear();
        return true;
    }

    bool finish() override {
        pending_ += "</table:table></office:spreadsheet></office:body></office:document-content>";
        if (!zip_.write(pending_) || !zip_.end() || !zip_.close()) return failed();
        return commit_keeping_original(ui_, out_, false);
    }

private:
    bool failed() {
        ui_.alert(cant_write(out_.final_path()));
        return false;
    }

    Ui& ui_;
    platform::Output out_;
    ZipWriter zip_;
    std::vector<std::string_view> looks_;
    std::string pending_;
    bool header_ = false;
};

}  // namespace

std::unique_ptr<TableWriter> create_ods(Ui& ui, const std::string& path, std::span<const TableColumn> columns,
                                        std::string_view sheet) {
    auto out = create_output(ui, path, platform::Existing::replace_target);
    if (!out) return nullptr;
    auto writer = std::make_unique<OdsWriter>(ui, std::move(*out));
    if (!writer->start(columns, sheet)) return nullptr;
    return writer;
}

}  // namespace vid

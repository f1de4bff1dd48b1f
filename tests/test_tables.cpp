// Translation tables as files: CSV and TSV (with the apostrophe that keeps a
// formula a text), and XLSX and ODS read from zips whose XML is written
// here by hand, written and read back, and refused when damaged or hostile.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "core/table.h"
#include "core/table_sheet.h"
#include "core/table_sheet_read.h"
#include "test_support.h"

namespace vid {
namespace {

// ---- A zip, byte by byte ----

struct Entry {
    std::string name;
    std::string data;
    bool deflate = true;
    std::optional<std::uint32_t> declared;  // the inflated size the headers give, when not the true one
    std::uint16_t flags = 0;
    std::optional<std::uint32_t> crc;       // a check sum of its own
};

void put16(std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::string deflated(std::string_view data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Local headers, data, the central directory and its end, as the zip
// format lays them out (version 2.0, no extra fields, 1980-01-01).
std::string zip_of(const std::vector<Entry>& entries) {
    std::string out, directory;
    for (const Entry& e : entries) {
        const std::string stored = e.deflate ? deflated(e.data) : e.data;
        const std::uint32_t crc =
            e.crc.value_or(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                                            static_cast<uInt>(e.data.size()))));
        const std::uint32_t size = e.declared.value_or(static_cast<std::uint32_t>(e.data.size()));
        // Flags, method, time, date (1980-01-01), check sum, sizes, name length, no extra field.
        const auto header = [&](std::string& h) {
            for (unsigned v : {unsigned{e.flags}, e.deflate ? 8u : 0u, 0u, 0x21u}) put16(h, v);
            for (std::uint32_t v : {crc, static_cast<std::uint32_t>(stored.size()), size}) put32(h, v);
            put16(h, static_cast<unsigned>(e.name.size())), put16(h, 0);
        };
        const auto at = static_cast<std::uint32_t>(out.size());
        put32(out, 0x04034b50), put16(out, 20);
        header(out);
        out += e.name + stored;
        put32(directory, 0x02014b50), put16(directory, 20), put16(directory, 20);
        header(directory);
        for (unsigned v : {0u, 0u, 0u}) put16(directory, v);  // comment, disk, internal attributes
        put32(directory, 0), put32(directory, at);            // external attributes, the local header
        directory += e.name;
    }
    const auto at = static_cast<std::uint32_t>(out.size());
    out += directory;
    const auto count = static_cast<unsigned>(entries.size());
    put32(out, 0x06054b50);
    for (unsigned v : {0u, 0u, count, count}) put16(out, v);
    put32(out, static_cast<std::uint32_t>(directory.size())), put32(out, at), put16(out, 0);
    return out;
}

// ---- Rows as text ----

// "ROW:A=text|C=7#" with "#" after a number, "@" a date, "=" a formula's
// result, "?" a truth value, "!" an error, "+" a cut text; rows joined by
// " / ", then "; " and the error when reading failed.
std::string rows_of(TableRows& rows, const RowLimits& limits) {
    std::string out;
    for (;;) {
        std::string row;
        const bool got = rows.next(limits, [&](Cell& c) {
            row += (row.empty() ? "" : "|") + std::string(1, static_cast<char>('A' + c.column)) + "=" + c.text;
            static constexpr const char* marks[] = {"", "#", "@", "=", "?", "!"};
            row += marks[static_cast<int>(c.kind)];
            if (c.cut) row += "+";
        });
        if (!got) break;
        out += (out.empty() ? "" : " / ") + std::to_string(rows.row()) + ":" + row;
    }
    if (!rows.error().empty()) out += "; " + rows.error();
    return out;
}

const RowLimits kThree{{100, 100, 100}, 0};

// The table `bytes` as the file `name` in `dir`, opened.
std::unique_ptr<TableRows> open_bytes(test::RecordingUi& ui, const test::ScratchDir& dir, std::string_view name,
                                      const std::string& bytes, const SheetLimits& limits = {}) {
    test::write_file(dir.file(name), bytes);
    const TableFormat f = table_format(name);
    if (f == TableFormat::xlsx || f == TableFormat::ods) return open_sheet(ui, dir.file(name), f, "texts", limits);
    return open_table(ui, dir.file(name), "texts");
}

// ---- CSV and TSV ----

// Rows as "ROW:field|field" joined by " / "; "!" after a row with an open quote.
std::string csv_rows(std::string_view text, char delimiter) {
    TableReader reader(text, delimiter);
    std::vector<std::string> fields;
    std::string out;
    while (reader.next(fields)) {
        out += (out.empty() ? "" : " / ") + std::to_string(reader.row()) + ":";
        for (std::size_t i = 0; i < fields.size(); ++i) out += (i ? "|" : "") + fields[i];
        if (reader.open_quote()) out += "!";
    }
    return out;
}

TEST(Table, ReadingAsSpreadsheetsSaveIt) {
    const struct {
        std::string_view text;
        char delimiter;
        std::string_view rows;
    } cases[] = {
        {"\xEF\xBB\xBFscript,n\r\na.ab,1\r\n", ',', "1:script|n / 2:a.ab|1"},
        {"script,n\na.ab,1", ',', "1:script|n / 2:a.ab|1"},
        {"a\rb\r", ',', "1:a / 2:b"},
        // Every special case in one row: a comma, doubled quotes, CR LF and
        // LF inside quotes, an empty quoted field, an empty last field.
        {"x,\"a,b\",\"say \"\"hi\"\"\",\"l1\r\nl2\nl3\",\"\",\r\nnext", ',',
         "1:x|a,b|say \"hi\"|l1\r\nl2\nl3|| / 2:next"},
        // Empty lines are no rows but count; a quote inside a bare field is a quote.
        {"a\n\n\r\nb\"c\n", ',', "1:a / 4:b\"c"},
        {"a\t\"b\tc\"\td,e\n", '\t', "1:a|b\tc|d,e"},
        // Text after a closing quote stays with its field; a quote never closed
        // takes the rest.
        {"\"ab\"cd,e\n\"open,\nf", ',', "1:abcd|e / 2:open,\nf!"},
    };
    for (const auto& c : cases) EXPECT_EQ(csv_rows(c.text, c.delimiter), c.rows) << c.text;
}

TEST(Table, WritingQuotesWhereNeeded) {
    const std::string_view fields[] = {"plain", "a,b", "say \"hi\"", "l1\nl2", "cr\r", "tab\there", ""};
    std::string csv, tsv;
    append_row(csv, fields, ',');
    append_row(tsv, fields, '\t');
    EXPECT_EQ(csv, "plain,\"a,b\",\"say \"\"hi\"\"\",\"l1\nl2\",\"cr\r\",tab\there,\r\n");
    EXPECT_EQ(tsv, "plain\ta,b\t\"say \"\"hi\"\"\"\t\"l1\nl2\"\t\"cr\r\"\t\"tab\there\"\t\r\n");
    EXPECT_EQ(csv_rows(csv, ','), "1:plain|a,b|say \"hi\"|l1\nl2|cr\r|tab\there|");
    for (const auto& [path, format] :
         {std::pair{"t.tsv", TableFormat::tsv}, std::pair{"T.TSV", TableFormat::tsv}, std::pair{"t.csv", TableFormat::csv},
          std::pair{"tsv", TableFormat::csv}, std::pair{"t.tsv.csv", TableFormat::csv},
          std::pair{"t.XLSX", TableFormat::xlsx}, std::pair{"t.ods", TableFormat::ods},
          std::pair{"t.xls", TableFormat::csv}, std::pair{"t.odsx", TableFormat::csv}})
        EXPECT_EQ(table_format(path), format) << path;
    EXPECT_EQ(table_delimiter("t.tsv"), '\t');
    EXPECT_EQ(table_delimiter("t.xlsx"), ',');
}

TEST(Table, FormulasStayTextInCsv) {
    // The text, and the field that stands for it.
    const struct {
        std::string_view text, field;
    } cases[] = {
        {"=1+1", "'=1+1"}, {"+81 3", "'+81 3"}, {"-- end --", "'-- end --"}, {"@home", "'@home"},
        {"\tindent", "'\tindent"}, {"\rx", "'\rx"},
        // Apostrophes before a formula's first character get one more...
        {"'=x", "''=x"}, {"''-", "'''-"},
        // ...any other text stands as it is.
        {"'Tis", "'Tis"}, {"'", "'"}, {"''", "''"}, {"", ""}, {"a=b", "a=b"}, {"007", "007"}, {" =x", " =x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(csv_field(c.text), c.field) << c.text;
        EXPECT_EQ(csv_text(c.field), c.text) << c.field;
    }
    // A spreadsheet that showed the apostrophe as its own and saved the
    // text without it: read as the same text.
    EXPECT_EQ(csv_text("=1+1"), "=1+1");

    // Written and read back through the files.
    test::ScratchDir dir;
    test::RecordingUi ui;
    const TableColumn columns[] = {{"original", ColumnLook::original, 10}, {"translation", ColumnLook::translation, 10}};
    {
        const auto table = create_table(ui, dir.file("t.csv"), columns, "texts");
        ASSERT_TRUE(table);
        const std::string_view row[] = {"=1+1", "-1"};
        const std::string_view row2[] = {"'Tis", "''@"};
        ASSERT_TRUE(table->add(row));
        ASSERT_TRUE(table->add(row2));
        ASSERT_TRUE(table->finish());
    }
    EXPECT_EQ(test::read_file(dir.file("t.csv")),
              test::bytes_of("\xEF\xBB\xBForiginal,translation\r\n'=1+1,'-1\r\n'Tis,'''@\r\n"));
    const auto rows = open_table(ui, dir.file("t.csv"), "texts");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows_of(*rows, kThree), "1:A=original|B=translation / 2:A==1+1|B=-1 / 3:A='Tis|B=''@");
    EXPECT_TRUE(ui.alerts().empty());
}

TEST(Table, NotCsvText) {
    const struct {
        std::string bytes;
        std::string_view why;
    } cases[] = {
        {std::string("\xFF\xFEs\0c\0r\0", 8), "%s is UTF-16 text (as Excel's \"Unicode Text\" saves it), which import "
                                               "does not read: save it as \"CSV UTF-8\", or use an XLSX or ODS table"},
        {std::string("s\0c\0r\0i\0p\0t\0,\0n\0", 16),
         "%s is UTF-16 text, which import does not read: save it as \"CSV UTF-8\", or use an XLSX or ODS table"},
        {"PK\x03\x04rest", "%s is a zip file (an XLSX or ODS table?), not CSV text: give it the name it should have "
                           "(.xlsx or .ods)"},
    };
    for (const auto& c : cases) {
        test::ScratchDir dir;
        test::RecordingUi ui;
        EXPECT_FALSE(open_bytes(ui, dir, "t.csv", c.bytes));
        std::string want(c.why);
        want.replace(want.find("%s"), 2, dir.file("t.csv"));
        EXPECT_EQ(ui.alerts(), std::vector<std::string>{want});
    }
    // Text with a zero byte or two is still CSV (import refuses those rows).
    // Limits count the text, not the apostrophe that keeps a formula a text:
    // 4 bytes of text each in row 3, the limit 4.
    test::ScratchDir dir;
    test::RecordingUi ui;
    const auto rows = open_bytes(ui, dir, "t.csv", std::string("script,n\na\0b,1\n'=abc,=abcd,'abcd,abcde\n", 39));
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows_of(*rows, RowLimits{{}, 4}),
              std::string("1:A=scri+|B=n / 2:A=a\0b|B=1 / 3:A==abc|B==abc+|C='abc+|D=abcd+", 62));
}

// ---- XLSX ----

constexpr std::string_view kRels =
    "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";

std::string workbook(std::string_view sheets) {
    return "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>" +
           std::string(sheets) + "</sheets></workbook>";
}

std::string relations(std::string_view list) {
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
           std::string(list) + "</Relationships>";
}

std::string relation(std::string_view id, std::string_view type, std::string_view target) {
    return "<Relationship Id=\"" + std::string(id) +
           "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + std::string(type) +
           "\" Target=\"" + std::string(target) + "\"/>";
}

std::string sheet(std::string_view rows) {
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
           std::string(rows) + "</sheetData></worksheet>";
}

// A workbook of one sheet "texts" holding `rows`, with `more` entries.
std::string xlsx_of(std::string_view rows, std::vector<Entry> more = {}) {
    std::vector<Entry> entries = {
        {"_rels/.rels", std::string(kRels)},
        {"xl/workbook.xml", workbook("<sheet name=\"texts\" sheetId=\"1\" r:id=\"rId1\"/>")},
        {"xl/_rels/workbook.xml.rels",
         relations(relation("rId1", "worksheet", "worksheets/sheet1.xml") +
                   relation("rId2", "sharedStrings", "sharedStrings.xml"))},
        {"xl/worksheets/sheet1.xml", sheet(rows)},
    };
    entries.insert(entries.end(), more.begin(), more.end());
    return zip_of(entries);
}

TEST(Xlsx, ReadingWhatSpreadsheetsSave) {
    const std::string styles =
        "<styleSheet><numFmts count=\"1\"><numFmt numFmtId=\"164\" "
        "formatCode=\"[$-411]ggge&quot;年&quot;m&quot;月&quot;d&quot;日&quot;\"/><numFmt numFmtId=\"165\" "
        "formatCode=\"0.00E+00&quot; items&quot;\"/></numFmts><cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs>"
        "<cellXfs count=\"5\"><xf numFmtId=\"0\"/><xf numFmtId=\"49\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/>"
        "<xf numFmtId=\"165\"/></cellXfs></styleSheet>";
    // Plain, rich text with a phonetic reading, escapes.
    const std::string shared =
        "<sst count=\"4\" uniqueCount=\"4\"><si><t>script</t></si><si><t>translation</t></si>"
        "<si><r><rPr><b/></rPr><t>窓が</t></r><r><t xml:space=\"preserve\">開いて </t></r>"
        "<rPh sb=\"0\" eb=\"1\"><t>マド</t></rPh><phoneticPr fontId=\"1\"/></si>"
        "<si><t>line_x000D_end &amp; _x005F_x0041_ _xD83D__xDE00_ _xD83D_</t></si></sst>";
    const std::string first = sheet("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>not this sheet</t></is></c></row>");
    const std::string texts = sheet(
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"C1\" t=\"s\"><v>1</v></c></row>"
        "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>2</v></c><c r=\"B2\"><v>7</v></c>"
        "<c r=\"C2\" t=\"inlineStr\"><is><r><t>Hel</t></r><r><rPr><i/></rPr><t>lo</t></r></is></c></row>"
        // A formatted empty cell is no row; row 4 is not there at all.
        "<row r=\"3\" spans=\"1:3\"><c r=\"A3\" s=\"1\"/></row>"
        // Cells without a reference follow each other from A.
        "<row r=\"5\"><c t=\"s\"><v>3</v></c><c s=\"2\"><v>45292</v></c><c t=\"str\"><f>A1</f><v>script</v></c></row>"
        // A row without a number follows the last.
        "<row><c r=\"A6\" t=\"b\"><v>1</v></c><c r=\"B6\" t=\"e\"><v>#NAME?</v></c><c r=\"C6\" s=\"3\"><v>45292</v></c>"
        "</row>"
        "<row r=\"7\"><c r=\"A7\" s=\"4\"><v>12</v></c><c r=\"B7\" s=\"1\"><v>0.5</v></c>"
        "<c r=\"AB7\" t=\"inlineStr\"><is><t>far</t></is></c></row>"
        // A column beyond the limits only: a row that holds nothing asked for.
        "<row r=\"8\"><c r=\"D8\" t=\"inlineStr\"><is><t>far</t></is></c></row>");
    const std::string bytes = zip_of({
        {"_rels/.rels", std::string(kRels)},
        {"xl/workbook.xml",
         workbook("<sheet name=\"Notes\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"TEXTS\" sheetId=\"2\" r:id=\"rId2\"/>")},
        {"xl/_rels/workbook.xml.rels",
         relations(relation("rId1", "worksheet", "worksheets/sheet1.xml") +
                   relation("rId2", "worksheet", "/xl/charts/../worksheets/sheet2.xml") +
                   relation("rId3", "sharedStrings", "sharedStrings.xml") + relation("rId4", "styles", "styles.xml"))},
        {"xl/styles.xml", styles},
        {"xl/sharedStrings.xml", shared, false},
        {"xl/worksheets/sheet1.xml", first},
        {"xl/worksheets/sheet2.xml", texts},
    });
    test::ScratchDir dir;
    test::RecordingUi ui;
    auto rows = open_bytes(ui, dir, "t.xlsx", bytes);
    ASSERT_TRUE(rows) << ui.alerts()[0];
    EXPECT_EQ(rows_of(*rows, kThree),
              "1:A=script|C=translation / 2:A=窓が開いて |B=7#|C=Hello / "
              "5:A=line\rend & _x0041_ 😀 _xD83D_|B=45292@|C=script= / 6:A=TRUE?|B=#NAME?!|C=45292@ / "
              "7:A=12#|B=0.5# / 8:");
    // Again from the start, with less of each cell kept.
    ASSERT_TRUE(rows->rewind());
    EXPECT_EQ(rows_of(*rows, RowLimits{{3, 0, 5}, 0}),
              "1:A=scr+|C=trans+ / 2:A=窓+|C=Hello / 5:A=lin+|C=scrip=+ / 6:A=TRU?+|C=45292@ / 7:A=12# / 8:");
    EXPECT_TRUE(ui.alerts().empty());
    rows.reset();  // the file is held while it is read

    // Without a sheet of the name asked for: the first sheet.
    const auto first_sheet = open_sheet(ui, dir.file("t.xlsx"), TableFormat::xlsx, "other");
    ASSERT_TRUE(first_sheet);
    EXPECT_EQ(rows_of(*first_sheet, kThree), "1:A=not this sheet");
}

TEST(Xlsx, NumberFormatsThatShowDates) {
    const struct {
        std::string_view code;
        bool date;
    } cases[] = {
        {"General", false},  {"0.00", false},         {"#,##0", false},       {"0.00E+00", false},
        {"\"d\"0", false},   {"0\\d", false},         {"[Red]0.0", false},    {"@", false},
        {"yyyy-mm-dd", true}, {"d/m", true},          {"h:mm AM/PM", true},   {"[h]:mm", true},
        {"[$-411]ge.m.d", true}, {"mmm", true},       {"[ss]", true},         {"GENERAL", false},
    };
    for (const auto& c : cases) EXPECT_EQ(date_format(c.code), c.date) << c.code;
}

// ---- ODS ----

std::string content(std::string_view tables) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content "
           "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
           "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
           "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\">"
           "<office:body><office:spreadsheet>" +
           std::string(tables) + "</office:spreadsheet></office:body></office:document-content>";
}

std::string ods_of(std::string_view tables) {
    return zip_of({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false},
                   {"content.xml", content(tables)}});
}

TEST(Ods, ReadingWhatSpreadsheetsSave) {
    const std::string bytes = ods_of(
        "<table:table table:name=\"Sheet1\"><table:table-row><table:table-cell office:value-type=\"string\">"
        "<text:p>not this one</text:p></table:table-cell></table:table-row></table:table>"
        "<table:table table:name=\"Texts\"><table:table-column table:number-columns-repeated=\"3\"/>"
        "<table:table-header-rows><table:table-row><table:table-cell office:value-type=\"string\"><text:p>script"
        "</text:p></table:table-cell><table:table-cell table:number-columns-repeated=\"2\" "
        "office:value-type=\"string\"><text:p>same</text:p></table:table-cell></table:table-row>"
        "</table:table-header-rows>"
        // Rows 2 to 4, empty.
        "<table:table-row table:number-rows-repeated=\"3\"><table:table-cell "
        "table:number-columns-repeated=\"1024\"/></table:table-row>"
        // White space collapsed; text:s, text:tab, text:line-break; two
        // paragraphs; a number shown as its cell shows it.
        "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>  a   b\n c  </text:p>"
        "</table:table-cell><table:table-cell office:value-type=\"float\" office:value=\"7\"><text:p>007</text:p>"
        "</table:table-cell><table:table-cell office:value-type=\"string\"><text:p><text:s/>lead<text:s "
        "text:c=\"3\"/>x<text:tab/>y<text:line-break/>z<text:s/></text:p><text:p>second <text:span "
        "text:style-name=\"T1\">span</text:span></text:p></table:table-cell></table:table-row>"
        // Rows 6 and 7 alike: the row is handed out once. A covered cell
        // counts as a column; an annotation is not the cell's text.
        "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell table:formula=\"of:=[.A1]\" "
        "office:value-type=\"string\"><text:p>script</text:p></table:table-cell><table:covered-table-cell/>"
        "<table:table-cell office:value-type=\"date\" office:date-value=\"2024-01-02\"><office:annotation><text:p>a "
        "note</text:p></office:annotation><text:p>01/02/24</text:p></table:table-cell></table:table-row>"
        "<table:table-row><table:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\"><text:p>TRUE"
        "</text:p></table:table-cell><table:table-cell office:value-type=\"string\" calcext:value-type=\"error\" "
        "table:formula=\"of:=X\"><text:p>#NAME?</text:p></table:table-cell><table:table-cell><text:p><text:ruby>"
        "<text:ruby-base>漢字</text:ruby-base><text:ruby-text>かんじ</text:ruby-text></text:ruby></text:p>"
        "</table:table-cell></table:table-row></table:table>");
    test::ScratchDir dir;
    test::RecordingUi ui;
    auto rows = open_bytes(ui, dir, "t.ods", bytes);
    ASSERT_TRUE(rows) << ui.alerts()[0];
    EXPECT_EQ(rows_of(*rows, kThree),
              "1:A=script|B=same|C=same / 5:A=a b c|B=007#|C= lead   x\ty\nz \nsecond span / "
              "6:A=script=|C=01/02/24@ / 8:A=TRUE?|B=#NAME?!|C=漢字");
    ASSERT_TRUE(rows->rewind());
    EXPECT_EQ(rows_of(*rows, RowLimits{{0, 2}, 0}), "1:B=sa+ / 5:B=00#+ / 6: / 8:B=#N!+");
    rows.reset();
    const auto first_sheet = open_sheet(ui, dir.file("t.ods"), TableFormat::ods, "other");
    ASSERT_TRUE(first_sheet);
    EXPECT_EQ(rows_of(*first_sheet, kThree), "1:A=not this one");
    EXPECT_TRUE(ui.alerts().empty());
}

// ---- Written and read back ----

TEST(Sheets, WrittenAndReadBack) {
    const TableColumn columns[] = {{"key", ColumnLook::key, 8},
                                   {"original", ColumnLook::original, 30},
                                   {"translation", ColumnLook::translation, 30}};
    const std::vector<std::vector<std::string_view>> rows = {
        {"007", "=1+1", "1/2"},
        {"  two  spaces ", "tab\there", "line\nbreak"},
        {"a & <b> \"c\"", "窓が開いています。", "_x0041_ _x005F_"},
        {"", "x", ""},
        {"-5", "@home", "'=x"},
    };
    const std::string want =
        "1:A=key|B=original|C=translation / 2:A=007|B==1+1|C=1/2 / 3:A=  two  spaces |B=tab\there|C=line\nbreak / "
        "4:A=a & <b> \"c\"|B=窓が開いています。|C=_x0041_ _x005F_ / 5:B=x / 6:A=-5|B=@home|C='=x";
    for (const std::string_view name : {"t.xlsx", "t.ods", "t.csv", "t.tsv"}) {
        test::ScratchDir dir;
        test::RecordingUi ui;
        {
            const auto table = create_table(ui, dir.file(name), columns, "texts");
            ASSERT_TRUE(table) << name;
            for (const auto& r : rows) {
                for (std::string_view f : r) EXPECT_EQ(table->cannot_hold(f), "") << name << f;
                ASSERT_TRUE(table->add(r)) << name;
            }
            ASSERT_TRUE(table->finish()) << name;
        }
        const auto read = open_table(ui, dir.file(name), "texts");
        ASSERT_TRUE(read) << name;
        EXPECT_EQ(rows_of(*read, kThree), want) << name;
        EXPECT_TRUE(ui.alerts().empty()) << name;
        // Nothing but the table is left in the folder.
        EXPECT_EQ(test::names_in(dir.path()).size(), 1u) << name;
    }
}

TEST(Sheets, WhatEachFormatCannotHold) {
    test::ScratchDir dir;
    test::RecordingUi ui;
    const TableColumn columns[] = {{"original", ColumnLook::original, 30}};
    const auto xlsx = create_table(ui, dir.file("t.xlsx"), columns, "texts");
    const auto ods = create_table(ui, dir.file("t.ods"), columns, "texts");
    ASSERT_TRUE(xlsx && ods);
    const std::string longest(32767, 'x');
    const struct {
        std::string text;
        std::string_view xlsx, ods;
    } cases[] = {
        {"bell\x07", "", "it holds the control character U+0007"},
        {"cr\rlf", "", "it holds a carriage return, which ODS cannot hold"},
        {longest, "", ""},
        {longest + "y", "it is 32768 characters long, more than the 32767 that an XLSX cell holds", ""},
        {"a\xEF\xBF\xBE", "it holds U+FFFE, which is no character", "it holds U+FFFE, which is no character"},
        {"a\xC3", "it is not UTF-8 text", "it is not UTF-8 text"},
        {std::string("a\0b", 3), "it holds a zero byte", "it holds a zero byte"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(xlsx->cannot_hold(c.text), c.xlsx) << c.text.substr(0, 10);
        EXPECT_EQ(ods->cannot_hold(c.text), c.ods) << c.text.substr(0, 10);
    }
    // A control character goes into XLSX as its escape, and comes back.
    const std::string_view row[] = {"bell\x07 cr\r"};
    ASSERT_TRUE(xlsx->add(row));
    ASSERT_TRUE(xlsx->finish());
    const auto read = open_table(ui, dir.file("t.xlsx"), "texts");
    ASSERT_TRUE(read);
    EXPECT_EQ(rows_of(*read, kThree), "1:A=original / 2:A=bell\x07 cr\r");
}

// ---- Damaged and hostile files ----

// `bytes` as the table `name`, opened and read: refused with `why` ("%s" is
// the file's path; empty: read), as the one Alert when opened or as the
// error when its rows are read.
void expect_refused(const std::string& name, const std::string& bytes, std::string_view why,
                    const SheetLimits& limits = {}) {
    test::ScratchDir dir;
    test::RecordingUi ui;
    auto rows = open_bytes(ui, dir, name, bytes, limits);
    std::string want(why);
    if (!want.empty()) want.replace(want.find("%s"), 2, dir.file(name));
    if (rows) {
        rows_of(*rows, kThree);
        EXPECT_EQ(rows->error(), want) << why;
    } else {
        EXPECT_EQ(ui.alerts(), std::vector<std::string>{want});
    }
}

TEST(Sheets, DamagedFilesAreRefused) {
    const std::string good = xlsx_of("<row r=\"1\"><c t=\"inlineStr\"><is><t>x</t></is></c></row>");
    std::string cut_short = good.substr(0, good.size() - 30);
    std::string flipped = good;
    // The sheet's deflated data, a few bytes in: its last entry's data
    // comes right after its name.
    flipped[flipped.find("xl/worksheets/sheet1.xml") + 24 + 5] ^= 0x55;
    const struct {
        std::string name, bytes;
        std::string_view why;
    } cases[] = {
        {"t.xlsx", "not a zip at all", "%s is damaged or is no XLSX file: its zip directory cannot be read"},
        {"t.ods", cut_short, "%s is damaged or is no ODS file: its zip directory cannot be read"},
        {"t.xlsx", xlsx_of("<row><c>", {}),
         "%s is damaged: its part xl/worksheets/sheet1.xml is not well-formed XML (mismatched tag, line 1)"},
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels)}}),
         "%s is damaged or is no XLSX file: it holds no xl/workbook.xml"},
        {"t.ods", zip_of({{"mimetype", "x", false}}), "%s is damaged or is no ODS file: it holds no content.xml"},
        {"t.xlsx", xlsx_of("<row r=\"2\"><c t=\"s\"><v>3</v></c></row>", {{"xl/sharedStrings.xml", "<sst><si><t>a</t></si></sst>"}}),
         "%s is damaged: a cell of row 2 refers to shared string 3, of 1"},
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels), true, std::nullopt, 1}}),
         "%s is encrypted: save it again without a password"},
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels), false, std::nullopt, 0, 1234}}),
         "%s is damaged: the check sum of its part _rels/.rels does not match"},
        {"t.xlsx", flipped, "%s is damaged: its part xl/worksheets/sheet1.xml cannot be inflated"},
        {"t.ods", ods_of(""), "%s holds no sheet"},
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels)}, {"xl/workbook.xml", workbook("")},
                           {"xl/_rels/workbook.xml.rels", relations("")}}),
         "%s holds no sheet"},
    };
    for (const auto& c : cases) expect_refused(c.name, c.bytes, c.why);
}

TEST(Sheets, HostileFilesAreRefusedAtTheirLimit) {
    const SheetLimits small{.part = 4000, .shared = 100, .tag = 400, .depth = 8, .files = 6};
    const auto nested = [](unsigned depth) {
        std::string open, close;
        for (unsigned i = 0; i < depth; ++i) {
            open += "<n>";
            close += "</n>";
        }
        return open + close;
    };
    const auto padded = [](std::size_t size) {  // a part of exactly `size` bytes
        const std::string head = "<worksheet><sheetData/>";
        const std::string tail = "</worksheet>";
        return head + std::string(size - head.size() - tail.size(), ' ') + tail;
    };
    // 10 shared strings of 2 bytes: 20 + 8 * 10 = 100 bytes held.
    std::string ten = "<sst>";
    for (int i = 0; i < 10; ++i) ten += "<si><t>ab</t></si>";
    const std::string eleven = ten + "<si><t>c</t></si>";
    const struct {
        std::string name, bytes;
        std::string_view why;  // empty: read
    } cases[] = {
        // Each part's size: 4000 bytes read, 4001 refused, as said and as inflated.
        {"t.xlsx", xlsx_of("", {}), ""},
        {"t.ods", ods_of("<table:table table:name=\"a\"/>"), ""},
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels)}, {"xl/workbook.xml", padded(4000)}}),
         "%s is damaged or is no XLSX file: it holds no xl/_rels/workbook.xml.rels"},
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels)}, {"xl/workbook.xml", padded(4001)}}),
         "%s: its part xl/workbook.xml inflates to 4001 bytes, more than 4000 bytes, the most that is read of one "
         "part"},
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels)}, {"xl/workbook.xml", padded(4001), true, 4000}}),
         "%s is damaged: the check sum of its part xl/workbook.xml does not match"},
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels)}, {"xl/workbook.xml", padded(5000), false, 100}}),
         "%s is damaged: the check sum of its part xl/workbook.xml does not match"},
        // Nesting: 8 deep read, 9 refused.
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels)}, {"xl/workbook.xml", nested(8)}}),
         "%s is damaged or is no XLSX file: it holds no xl/_rels/workbook.xml.rels"},
        {"t.xlsx", zip_of({{"_rels/.rels", std::string(kRels)}, {"xl/workbook.xml", nested(9)}}),
         "%s: its part xl/workbook.xml holds elements more than 8 deep, the most that is read"},
        // A tag of the limit's size is read; one of three times that not.
        {"t.ods", ods_of("<table:table table:name=\"" + std::string(370, 'x') + "\"/>"), ""},
        {"t.ods", ods_of("<table:table table:name=\"" + std::string(1200, 'x') + "\"/>"),
         "%s: its part content.xml holds a tag of more than 400 bytes, the most that is read"},
        // Entities, which could expand without end.
        {"t.xlsx", zip_of({{"_rels/.rels", "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaa\"><!ENTITY b "
                                           "\"&a;&a;&a;&a;\">]><Relationships>&b;</Relationships>"}}),
         "%s: its part _rels/.rels holds a document type declaration, which no spreadsheet writes"},
        // Shared strings: 100 bytes held, then more.
        {"t.xlsx", xlsx_of("", {{"xl/sharedStrings.xml", ten + "</sst>"}}), ""},
        {"t.xlsx", xlsx_of("", {{"xl/sharedStrings.xml", eleven + "</sst>"}}),
         "%s: its shared strings take more than 100 bytes (their texts and 8 bytes for each), the most that is read"},
        // Files: 6 read, 7 refused.
        {"t.xlsx", xlsx_of("", {{"a", ""}, {"b", ""}}), ""},
        {"t.xlsx", xlsx_of("", {{"a", ""}, {"b", ""}, {"c", ""}}),
         "%s holds 7 files, more than 6, the most that a table may hold"},
    };
    for (const auto& c : cases) expect_refused(c.name, c.bytes, c.why, small);
}

}  // namespace
}  // namespace vid

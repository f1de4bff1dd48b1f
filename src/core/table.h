// Tables as spreadsheets save them: CSV (RFC 4180), tab-separated, XLSX and
// ODS, chosen by the name's extension.
//
// CSV and TSV, written: UTF-8 with a byte-order mark, rows ending in CR LF,
// a field in double quotes when it holds the delimiter, a quote, a carriage
// return or a line feed (quotes doubled inside). Read: with or without the
// mark, rows ending in CR LF, LF or CR, fields quoted or not; a quoted field
// may hold line breaks. On top of that, the texts of a table: a text that a
// spreadsheet would run as a formula (one that begins with "=", "+", "-",
// "@", a tab or a carriage return) is written with an apostrophe in front,
// as is a text of apostrophes followed by one of those; a field read that
// begins with apostrophes and then one of those loses its first apostrophe.
// Any other text stands as it is, apostrophes included.
//
// XLSX and ODS (see table_sheet.h): one sheet, every cell a text cell.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui.h"
#include "platform/file.h"

namespace vid {

inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

enum class TableFormat { csv, tsv, xlsx, ods };

// The format of the table file at `path`, by the end of its name (any
// case): ".tsv", ".xlsx", ".ods"; CSV for any other name.
TableFormat table_format(std::string_view path);
// The delimiter of a CSV or TSV table at `path`: a tab for ".tsv", a comma
// otherwise.
char table_delimiter(std::string_view path);

// The most that a table file may hold.
inline constexpr std::uint64_t kMaxTableFile = std::uint64_t{1} << 30;

// ---- CSV and TSV ----

// Appends one row (CR LF at its end), each field as it stands.
void append_row(std::string& out, std::span<const std::string_view> fields, char delimiter);
// The field that stands for `text` in a CSV or TSV table (see above), and
// the text of a field read.
std::string csv_field(std::string_view text);
std::string_view csv_text(std::string_view field);

// How many bytes of each column's fields a reader keeps: `columns[i]` for
// column i, `rest` for the columns after them. A field that holds more is
// cut there (and its bytes beyond are read, never kept).
struct RowLimits {
    std::vector<std::size_t> columns;
    std::size_t rest = 0;
    std::size_t operator()(std::size_t column) const { return column < columns.size() ? columns[column] : rest; }
};

// Hands out the rows of a CSV or TSV table one by one, from text held whole
// or from a file read a piece at a time, so that neither a long field nor a
// long row is ever held whole. Fields as they stand (no apostrophe taken
// off).
class TableReader {
public:
    TableReader(std::string_view text, char delimiter);
    // `size`: what the file holds, to tell a read that failed from its end.
    TableReader(platform::File& file, std::uint64_t size, char delimiter);

    // The next row's fields, each handed to `take(column, text, cut)` with
    // at most `limits(column)` of its bytes (`cut` when it holds more); false
    // at the end. Empty lines are skipped.
    bool next(const RowLimits& limits, const std::function<void(std::size_t, std::string&, bool)>& take);
    // The next row's fields, whole.
    bool next(std::vector<std::string>& fields);
    // The row last returned, counted as a spreadsheet counts them (the
    // first row is 1; empty lines count).
    std::uint64_t row() const { return row_; }
    // True when the last row returned ended inside a quoted field.
    bool open_quote() const { return open_quote_; }
    // The system read less of the file than it holds.
    bool failed() const { return failed_; }

private:
    int peek() {
        if (pos_ == end_ && !fill()) return -1;
        return static_cast<unsigned char>(data_[pos_]);
    }
    bool fill();

    platform::File* file_ = nullptr;
    std::uint64_t size_ = 0, read_ = 0;
    char delim_;
    std::vector<char> piece_;
    const char* data_ = nullptr;
    std::size_t pos_ = 0, end_ = 0;
    bool done_ = false, failed_ = false;
    std::uint64_t row_ = 0;
    bool open_quote_ = false;
};

// ---- Any table ----

// What a cell held in the spreadsheet. CSV and TSV hold text only.
enum class CellKind { text, number, date, formula, truth, error };

struct Cell {
    std::size_t column;  // from 0 (A)
    std::string& text;   // as the spreadsheet shows it; may be moved from
    bool cut;            // it held more than the limit of its column
    CellKind kind;
};

// The rows of a table of any format, one by one.
class TableRows {
public:
    virtual ~TableRows() = default;
    // The next row that holds anything: each cell that is not empty is
    // handed to `take`, at most `limits(column)` of its bytes. False at the
    // end, or when reading failed (error() then says why).
    virtual bool next(const RowLimits& limits, const std::function<void(Cell&)>& take) = 0;
    // Back before the first row; false after an error().
    virtual bool rewind() = 0;
    // The row last returned, as the spreadsheet numbers it (from 1).
    std::uint64_t row() const { return row_; }
    // CSV and TSV: the last row returned ended inside a quoted field.
    bool open_quote() const { return open_quote_; }
    // Why reading stopped before the end, as an Alert's text; empty at the end.
    const std::string& error() const { return error_; }

protected:
    std::uint64_t row_ = 0;
    bool open_quote_ = false;
    std::string error_;
};

// Opens the table at `path` for reading, in the format its name gives; of a
// spreadsheet, the sheet named `sheet` (in any case), or else the first.
// Alerts and returns nothing when it cannot: not found, too large, UTF-16
// text, a spreadsheet file named as CSV, a damaged or hostile XLSX or ODS
// file.
std::unique_ptr<TableRows> open_table(Ui& ui, const std::string& path, std::string_view sheet);

// How a column looks in a spreadsheet: keys plain, the original shaded (to
// be read, not changed), the translation wrapped (to be typed into).
enum class ColumnLook { key, original, translation };

struct TableColumn {
    std::string_view name;
    ColumnLook look;
    unsigned width;  // in characters
};

// Writes a table, row by row, as a new file that takes its name only when
// complete (see platform::Output). In a spreadsheet every cell is a text
// cell, the header row (the column names, written first) is bold and stays
// in view, and the columns look as `columns` say.
class TableWriter {
public:
    virtual ~TableWriter() = default;
    // Why this format cannot hold `text` in a cell; empty when it can.
    virtual std::string cannot_hold(std::string_view text) const = 0;
    // Adds a row of one field per column; false after an Alert.
    virtual bool add(std::span<const std::string_view> fields) = 0;
    // Completes the table under its name; false after an Alert.
    virtual bool finish() = 0;
};

// Starts the table at `path` in the format its name gives, its sheet named
// `sheet`; Alerts and returns nothing when it cannot.
std::unique_ptr<TableWriter> create_table(Ui& ui, const std::string& path, std::span<const TableColumn> columns,
                                          std::string_view sheet);

}  // namespace vid

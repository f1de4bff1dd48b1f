// Tables as spreadsheets save them: CSV (RFC 4180) or tab-separated.
//
// Written: UTF-8 with a byte-order mark, rows ending in CR LF, a field in
// double quotes when it holds the delimiter, a quote, a carriage return or
// a line feed (quotes doubled inside). Read: with or without the mark, rows
// ending in CR LF, LF or CR, fields quoted or not; a quoted field may hold
// line breaks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vid {

inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The delimiter of the table file at `path`: a tab for a name ending in
// ".tsv" (any case), a comma otherwise.
char table_delimiter(std::string_view path);

// Appends one row (CR LF at its end).
void append_row(std::string& out, std::span<const std::string_view> fields, char delimiter);

// Hands out the rows of a table one by one.
class TableReader {
public:
    TableReader(std::string_view text, char delimiter);

    // The next row's fields; false at the end. Empty lines are skipped.
    bool next(std::vector<std::string>& fields);
    // The row last returned, counted as a spreadsheet counts them (the
    // first row is 1; empty lines count).
    std::uint64_t row() const { return row_; }
    // True when the last row returned ended inside a quoted field.
    bool open_quote() const { return open_quote_; }

private:
    std::string_view text_;
    char delim_;
    std::size_t pos_ = 0;
    std::uint64_t row_ = 0;
    bool open_quote_ = false;
};

}  // namespace vid

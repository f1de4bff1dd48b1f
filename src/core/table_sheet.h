// Spreadsheet tables: XLSX (Office Open XML) and ODS (OpenDocument), each a
// zip of XML parts.
//
// Written with one sheet: every cell a text cell (an inline string in XLSX,
// office:value-type "string" in ODS), the header row bold and frozen, the
// columns as wide and shaded as asked, each column's empty cells formatted
// as text so that what is typed into them stays text. XLSX is written with
// libxlsxwriter; ODS by hand, through minizip.
//
// Read: the sheet of the name asked for (in any case), or else the first.
// XLSX: shared strings, inline strings and rich text runs (phonetic runs
// left out), "_xHHHH_" escapes, numbers as the cell holds them, the types
// of cells told from their "t" attribute, a formula and their number
// format (a date). ODS: the text shown (paragraphs joined with line feeds,
// spaces, tabs and line breaks as text:s, text:tab and text:line-break;
// annotations and ruby texts left out), repeated rows and cells, the type of
// cells from office:value-type and table:formula. The zip is read through
// minizip, the XML through expat, a piece at a time, within SheetLimits: a
// zip bomb, a huge or deeply nested XML part or a document type declaration
// (which no spreadsheet writes; entities could expand without end) is
// refused with an Alert that names the limit.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/table.h"
#include "core/ui.h"

namespace vid {

struct SheetLimits {
    // The bytes that one XML part may inflate to.
    std::uint64_t part = std::uint64_t{256} << 20;
    // The shared strings of an XLSX table held at once: their bytes, and 8
    // for each string.
    std::uint64_t shared = std::uint64_t{16} << 20;
    // The bytes of one XML tag (or comment), which the parser holds whole:
    // a tag of this size is always read, one of twice this size never.
    std::uint64_t tag = std::uint64_t{4} << 20;
    // Elements inside each other.
    unsigned depth = 64;
    // Files in the zip.
    std::uint64_t files = 10000;
};

// The table file at `path`, opened for reading, with its size; Alerts and
// returns nothing when it is not there, cannot be read or is over
// kMaxTableFile.
std::optional<platform::File> open_table_file(Ui& ui, const std::string& path, std::uint64_t& size);

std::unique_ptr<TableRows> open_sheet(Ui& ui, const std::string& path, TableFormat format, std::string_view sheet,
                                      const SheetLimits& limits = {});

std::unique_ptr<TableWriter> create_xlsx(Ui& ui, const std::string& path, std::span<const TableColumn> columns,
                                         std::string_view sheet);
std::unique_ptr<TableWriter> create_ods(Ui& ui, const std::string& path, std::span<const TableColumn> columns,
                                        std::string_view sheet);

}  // namespace vid

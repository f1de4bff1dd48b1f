// What the XLSX and ODS readers share: the zip and the open file behind
// them, and the row being handed out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/table.h"
#include "core/table_xml.h"
#include "core/table_zip.h"

namespace vid {

class SheetRows : public TableRows {
public:
    bool next(const RowLimits& limits, const std::function<void(Cell&)>& take) final;
    bool rewind() final;

protected:
    SheetRows(platform::File file, std::uint64_t size, std::string path, std::string_view kind,
              const SheetLimits& limits)
        : file_(std::move(file)), zip_(file_, size, std::move(path), kind, limits) {}

    // Reads the part whole through `handler`; false with error_ set.
    bool read_part(std::string_view part, XmlHandler& handler);

    // The format's reading of the rows: the handler of the part
    // `rows_part_` (which pauses at the end of each row that holds
    // anything), made ready to read from the start, and the number of the
    // row it read last.
    virtual XmlHandler& restart() = 0;
    virtual std::uint64_t last_row() const = 0;
    std::string rows_part_;

    // Hands a cell of the row being read to the caller, cut to its limit.
    void give(std::size_t column, std::string& text, bool cut, CellKind kind);
    std::size_t limit(std::size_t column) const { return limits_ ? (*limits_)(column) : 0; }

    // While next() runs: what the caller asked for.
    const RowLimits* limits_ = nullptr;
    const std::function<void(Cell&)>* take_ = nullptr;

    platform::File file_;
    ZipReader zip_;
    std::unique_ptr<XmlPart> rows_;
};

std::unique_ptr<TableRows> open_xlsx(Ui& ui, platform::File file, std::uint64_t size, const std::string& path,
                                     std::string_view sheet, const SheetLimits& limits);
std::unique_ptr<TableRows> open_ods(Ui& ui, platform::File file, std::uint64_t size, const std::string& path,
                                    std::string_view sheet, const SheetLimits& limits);

// Whether a sheet's name is `wanted`, in any case (ASCII).
bool same_name(std::string_view name, std::string_view wanted);

// A folder of the package ("xl/" of "xl/workbook.xml") joined with a target
// of its relationships ("worksheets/sheet1.xml", "/xl/sheet.xml",
// "../x.xml"), as a part name without its leading slash.
std::string package_path(std::string_view folder, std::string_view target);

// "_x000D_" and the like (a UTF-16 code unit in hex) as the character.
std::string xlsx_unescape(std::string_view text);
// The escape that keeps a text like "_x0041_" as it is in a cell.
std::string xlsx_escape(std::string_view text);
// Whether a number format's code shows a date or a time.
bool date_format(std::string_view code);
// "B12" -> column 1 (B), or nothing.
std::optional<std::size_t> cell_column(std::string_view ref);

}  // namespace vid

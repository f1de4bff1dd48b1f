// Translation tables: every text of every AB script under a folder in one
// spreadsheet (Export Texts), and the translations of a spreadsheet written
// back into the scripts (Import Texts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui.h"
#include "platform/codepage.h"
#include "script/listing_codepage.h"

namespace vid::text {

using script::kGameCodepage;


// The table's columns, in the order in which export writes them.
inline constexpr std::string_view kTableColumns[] = {"script", "n", "op", "idx", "voice", "original", "translation"};

struct ScriptFile {
    std::string name;  // relative to the folder, with "/", as UTF-8
    std::string path;  // as the system takes it
};

// A name ending in ".ab" (any case) after at least one character.
bool is_script_name(std::string_view name);

// The largest script that is read.
inline constexpr std::uint64_t kMaxScript = 256u << 20;

// A script's bytes, read whole; nothing, after an Alert, when it cannot be
// read or is larger than kMaxScript.
std::optional<std::string> read_script(Ui& ui, const std::string& path);

// Every AB script (a name ending in ".ab", any case) under `folder`, in
// the order of their names; folders that are links are not followed.
// Alerts for a folder that cannot be read or a path over the limit; false
// then, with the scripts that could be found. `archives`, when given, gets
// the FL3 archives (".fl3", any case) met on the way, in the same order.
bool find_scripts(Ui& ui, const std::string& folder, std::vector<ScriptFile>& scripts,
                  std::vector<ScriptFile>* archives = nullptr);

// The most that import reads of one field of the columns it uses; a row
// with a longer one is refused.
inline constexpr std::size_t kMaxField = std::size_t{1} << 20;

// Writes the table of every text under `folder` to `table_path`, in the
// format its name gives (core/table.h: CSV, TSV, XLSX or ODS). True when
// every script was read and every text converted and held by the format. A
// folder without scripts that holds FL3 archives gets no table, but an
// Alert that says to unpack them first.
bool export_texts(Ui& ui, const std::string& folder, const std::string& table_path, unsigned codepage);

// Writes the translations of the table at `table_path` into the scripts
// under `folder`. A script with any refused row is left unchanged; a row
// that names no script or instruction (or cannot be read), a column named
// twice, or a table without any translation changes none. True when no row
// was refused and every script was written. The table is read piece by
// piece, and the rows kept at once hold at most a few MiB: a table of more
// is read again for each group of scripts that fits. A translation wider
// than `max_line` columns (bytes in the code page: a full-width character
// of 932 counts 2; 0: no limit), or than the row's "max_line" column says,
// is refused.
bool import_texts(Ui& ui, const std::string& folder, const std::string& table_path, unsigned codepage,
                  std::uint32_t max_line = 0);

}  // namespace vid::text

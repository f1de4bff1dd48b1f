// Translation tables: every text of every AB script under a folder in one
// spreadsheet (Export Texts), and the translations of a spreadsheet written
// back into the scripts (Import Texts).
#pragma once

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

// Every AB script (a name ending in ".ab", any case) under `folder`, in
// the order of their names; folders that are links are not followed.
// Alerts for a folder that cannot be read or a path over the limit; false
// then, with the scripts that could be found.
bool find_scripts(Ui& ui, const std::string& folder, std::vector<ScriptFile>& scripts);

// Writes the table of every text under `folder` to `table_path` (CSV, or
// tab-separated for a name ending in ".tsv"). True when every script was
// read and every text converted.
bool export_texts(Ui& ui, const std::string& folder, const std::string& table_path, unsigned codepage);

// Writes the translations of the table at `table_path` into the scripts
// under `folder`. A script with any refused row is left unchanged. True
// when no row was refused and every script was written.
bool import_texts(Ui& ui, const std::string& folder, const std::string& table_path, unsigned codepage);

}  // namespace vid::text

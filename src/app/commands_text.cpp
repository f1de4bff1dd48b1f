// Export Texts and Import Texts: a folder of scripts, then the table.
#include <windows.h>

#include <optional>
#include <string>

#include "app/commands.h"
#include "app/open_dialog.h"
#include "app/window_ui.h"
#include "platform/file.h"
#include "text/text_jobs.h"

namespace vid::app {

namespace {

// The table to write, in the save dialog (an existing one is replaced after
// the dialog has asked).
// A name typed without an extension gets .xlsx, the table that survives
// spreadsheets.
constexpr const char* kTables = "Tables (*.xlsx;*.ods;*.csv;*.tsv)";
constexpr const char* kTablePattern = "*.xlsx;*.ods;*.csv;*.tsv";

std::optional<std::string> ask_new_table(HWND owner, const char* title, const std::string& initial_dir) {
    return ask_one_file(owner, kTables, kTablePattern, title, OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST,
                        "xlsx", initial_dir, true);
}

}  // namespace

void export_texts(HWND window) {
    const std::string cwd = platform::current_directory();
    const auto folder = ask_folder(window, "Select the folder of the scripts to export", cwd);
    if (!folder) return;
    const auto table = ask_new_table(window, "Select the table to write", cwd);
    if (!table) return;
    WindowUi ui(window);
    text::export_texts(ui, *folder, *table, script::kGameCodepage);
}

void import_texts(HWND window) {
    const std::string cwd = platform::current_directory();
    const auto folder = ask_folder(window, "Select the folder of the scripts to import into", cwd);
    if (!folder) return;
    const auto table = ask_one_file(window, kTables, kTablePattern, "Select the table to import",
                                    OFN_EXPLORER | OFN_FILEMUSTEXIST, "xlsx", cwd);
    if (!table) return;
    WindowUi ui(window);
    text::import_texts(ui, *folder, *table, script::kGameCodepage);
}

}  // namespace vid::app

// Export Texts and Import Texts: a folder of scripts, then the table.
#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

#include "app/commands.h"
#include "app/open_dialog.h"
#include "app/window_ui.h"
#include "platform/file.h"
#include "script/text_jobs.h"

namespace vid::app {

namespace {

// The folder browser opens on the current folder.
int CALLBACK start_in_current(HWND dialog, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

std::optional<std::string> ask_folder(HWND owner, const char* title, const std::string& start) {
    char name[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pszDisplayName = name;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = start_in_current;
    info.lParam = reinterpret_cast<LPARAM>(start.c_str());
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (chosen == nullptr) return std::nullopt;
    char path[MAX_PATH] = {};
    const bool ok = SHGetPathFromIDListA(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    if (!ok) return std::nullopt;
    return std::string(path);
}

constexpr const char* kTables = "Tables (*.csv;*.tsv)";
constexpr const char* kTablePattern = "*.csv;*.tsv";

}  // namespace

void export_texts(HWND window) {
    const std::string cwd = platform::current_directory();
    const auto folder = ask_folder(window, "Select the folder of the scripts to export", cwd);
    if (!folder) return;
    const auto table = ask_one_file(window, kTables, kTablePattern, "Select the table to write",
                                    OFN_EXPLORER | OFN_OVERWRITEPROMPT, "csv", cwd);
    if (!table) return;
    WindowUi ui(window);
    script::export_texts(ui, *folder, *table, script::kGameCodepage);
}

void import_texts(HWND window) {
    const std::string cwd = platform::current_directory();
    const auto folder = ask_folder(window, "Select the folder of the scripts to import into", cwd);
    if (!folder) return;
    const auto table = ask_one_file(window, kTables, kTablePattern, "Select the table to import",
                                    OFN_EXPLORER | OFN_FILEMUSTEXIST, "csv", cwd);
    if (!table) return;
    WindowUi ui(window);
    script::import_texts(ui, *folder, *table, script::kGameCodepage);
}

}  // namespace vid::app

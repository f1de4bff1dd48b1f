// Export Texts and Import Texts: a folder of scripts, then the table.
#include <windows.h>
#include <shobjidl.h>

#include <optional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/open_dialog.h"
#include "app/window_ui.h"
#include "platform/file.h"
#include "script/text_jobs.h"

namespace vid::app {

namespace {

// Paths are ANSI strings throughout the program; the file dialog speaks UTF-16.
std::wstring wide(const char* text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
    out.resize(out.size() - 1);
    return out;
}

std::string narrow(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// The folder, in the system's file dialog in its folder-picking mode,
// opening on `start`: a folder is chosen like a file (its name typed, or
// Open pressed in it). Nothing when the user cancelled.
std::optional<std::string> ask_folder(HWND owner, const char* title, const std::string& start) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    std::optional<std::string> chosen;
    IFileOpenDialog* dialog = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                   reinterpret_cast<void**>(&dialog)))) {
        FILEOPENDIALOGOPTIONS options = 0;
        dialog->GetOptions(&options);
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
        const std::wstring wtitle = wide(title), wstart = wide(start.c_str());
        dialog->SetTitle(wtitle.c_str());
        IShellItem* folder = nullptr;
        if (SUCCEEDED(SHCreateItemFromParsingName(wstart.c_str(), nullptr, IID_IShellItem,
                                                  reinterpret_cast<void**>(&folder)))) {
            dialog->SetFolder(folder);
            folder->Release();
        }
        IShellItem* result = nullptr;
        if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&result))) {
            PWSTR path = nullptr;
            if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
                chosen = narrow(path);
                CoTaskMemFree(path);
            }
            result->Release();
        }
        dialog->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return chosen;
}

// The table to write, in the save dialog (an existing one is replaced after
// the dialog has asked).
constexpr const char* kTables = "Tables (*.csv;*.tsv)";
constexpr const char* kTablePattern = "*.csv;*.tsv";

std::optional<std::string> ask_new_table(HWND owner, const char* title, const std::string& initial_dir) {
    return ask_one_file(owner, kTables, kTablePattern, title, OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST,
                        "csv", initial_dir, true);
}

}  // namespace

void export_texts(HWND window) {
    const std::string cwd = platform::current_directory();
    const auto folder = ask_folder(window, "Select the folder of the scripts to export", cwd);
    if (!folder) return;
    const auto table = ask_new_table(window, "Select the table to write", cwd);
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

#include "app/open_dialog.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "app/shell.h"

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

}  // namespace


std::string filter_of(const char* text, const char* pattern) {
    std::string f(text);
    f.push_back('\0');
    f.append(pattern);
    f.push_back('\0');
    f.push_back('\0');
    return f;
}

std::optional<std::string> ask_one_file(HWND owner, const char* filter_text, const char* pattern, const char* title,
                                        DWORD flags, const char* default_ext, const std::string& initial_dir,
                                        bool save) {
    std::vector<char> file(260, '\0');
    const std::string filter = filter_of(filter_text, pattern);
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = kOpenFileNameSize;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = initial_dir.c_str();
    ofn.lpstrTitle = title;
    ofn.Flags = flags;
    ofn.lpstrDefExt = default_ext;
    if (!(save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn))) return std::nullopt;
    return std::string(file.data());
}

namespace {

constexpr DWORD kMakeFolderButton = 1;

std::wstring path_of(IShellItem* item) {
    std::wstring out;
    PWSTR path = nullptr;
    if (item && SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        out = path;
        CoTaskMemFree(path);
    }
    return out;
}

bool is_folder(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

HWND window_of(IUnknown* dialog) {
    HWND window = nullptr;
    IOleWindow* ole = nullptr;
    if (SUCCEEDED(dialog->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&ole)))) {
        ole->GetWindow(&window);
        ole->Release();
    }
    return window;
}

// Why `path` cannot be the folder chosen; "" when it can.
std::string refusal(const std::wstring& path, NewFolder new_folder) {
    if (path.empty()) return "Choose a folder on a disk.";
    if (is_folder(path)) return "";
    if (exists(path)) return narrow(path.c_str()) + " is a file: choose a folder.";
    if (new_folder == NewFolder::allowed) return "";
    return narrow(path.c_str()) + " does not exist: choose a folder that exists.";
}

// Makes the folder `path` and those above it that are missing. Each folder
// made is told to the shell by its item (the way it is listed as a folder),
// so that the dialog's list takes it in.
bool make_folders(const std::wstring& path) {
    // Folder by folder below the root (C:\ or \\server\share\).
    const std::size_t root = path.rfind(L"\\\\", 0) == 0 ? path.find(L'\\', path.find(L'\\', 2) + 1) : 2;
    if (root == std::wstring::npos || path.size() <= root + 1) return false;
    for (std::size_t at = path.find(L'\\', root + 1);; at = path.find(L'\\', at + 1)) {
        const std::wstring folder = path.substr(0, at);
        if (!is_folder(folder)) {
            if (!CreateDirectoryW(folder.c_str(), nullptr)) return false;
            PIDLIST_ABSOLUTE item = nullptr;
            if (SUCCEEDED(SHParseDisplayName(folder.c_str(), nullptr, &item, 0, nullptr)) && item) {
                SHChangeNotify(SHCNE_MKDIR, SHCNF_IDLIST, item, nullptr);
                CoTaskMemFree(item);
            }
        }
        if (at == std::wstring::npos) return true;
    }
}

// The dialog's events: the name chosen is checked before the dialog closes,
// and "Make New Folder" makes the folder named in the name box (or "New
// Folder", numbered when taken) inside the folder shown, then puts its
// name in the box, so that Open chooses it. The object lives on the stack
// of ask_folder, for as long as the dialog.
class FolderEvents : public IFileDialogEvents, public IFileDialogControlEvents {
public:
    explicit FolderEvents(NewFolder new_folder) : new_folder_(new_folder) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IFileDialogEvents)
            *out = static_cast<IFileDialogEvents*>(this);
        else if (iid == IID_IFileDialogControlEvents)
            *out = static_cast<IFileDialogControlEvents*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

    HRESULT STDMETHODCALLTYPE OnFileOk(IFileDialog* dialog) override {
        IShellItem* item = nullptr;
        std::wstring path;
        if (SUCCEEDED(dialog->GetResult(&item))) {
            path = path_of(item);
            item->Release();
        }
        const std::string why = refusal(path, new_folder_);
        if (why.empty()) return S_OK;
        message_box(window_of(dialog), why, "Alert", MB_OK | MB_ICONHAND);
        return S_FALSE;  // the dialog stays open
    }
    HRESULT STDMETHODCALLTYPE OnFolderChanging(IFileDialog*, IShellItem*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFolderChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnSelectionChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShareViolation(IFileDialog*, IShellItem*, FDE_SHAREVIOLATION_RESPONSE*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnTypeChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnOverwrite(IFileDialog*, IShellItem*, FDE_OVERWRITE_RESPONSE*) override {
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE OnItemSelected(IFileDialogCustomize*, DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnButtonClicked(IFileDialogCustomize* customize, DWORD id) override {
        if (id != kMakeFolderButton) return S_OK;
        IFileDialog* dialog = nullptr;
        if (FAILED(customize->QueryInterface(IID_IFileDialog, reinterpret_cast<void**>(&dialog)))) return S_OK;
        make_folder(dialog);
        dialog->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCheckButtonToggled(IFileDialogCustomize*, DWORD, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnControlActivating(IFileDialogCustomize*, DWORD) override { return S_OK; }

private:
    void make_folder(IFileDialog* dialog) {
        const HWND window = window_of(dialog);
        IShellItem* shown = nullptr;
        std::wstring base;
        if (SUCCEEDED(dialog->GetFolder(&shown))) {
            base = path_of(shown);
            shown->Release();
        }
        std::wstring name;
        PWSTR typed = nullptr;
        if (SUCCEEDED(dialog->GetFileName(&typed)) && typed) {
            name = typed;
            CoTaskMemFree(typed);
        }
        while (!name.empty() && name.back() == L' ') name.pop_back();
        while (!name.empty() && name.front() == L' ') name.erase(0, 1);
        const bool absolute = (name.size() >= 2 && name[1] == L':') || name.rfind(L"\\\\", 0) == 0;
        if (base.empty() && !absolute) {
            message_box(window, "Open a folder on a disk to make the new folder in.", "Alert", MB_OK | MB_ICONHAND);
            return;
        }
        if (!base.empty() && base.back() == L'\\') base.pop_back();
        if (name.empty()) {
            name = L"New Folder";
            for (int n = 2; exists(base + L"\\" + name); ++n) name = L"New Folder (" + std::to_wstring(n) + L")";
        }
        const std::wstring path = absolute ? name : name.front() == L'\\' ? base.substr(0, 2) + name
                                                                          : base + L"\\" + name;
        if (!is_folder(path)) {
            const std::string why = exists(path)          ? refusal(path, NewFolder::allowed)
                                    : !make_folders(path) ? narrow(path.c_str()) + " could not be made."
                                                          : "";
            if (!why.empty()) {
                message_box(window, why, "Alert", MB_OK | MB_ICONHAND);
                return;
            }
        }
        dialog->SetFileName(name.c_str());
    }

    NewFolder new_folder_;
    ULONG refs_ = 1;
};

}  // namespace

std::optional<std::string> ask_folder(HWND owner, const char* title, const std::string& start,
                                      NewFolder new_folder) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    std::optional<std::string> chosen;
    IFileOpenDialog* dialog = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                   reinterpret_cast<void**>(&dialog)))) {
        // The dialog's own checks of the name are off: for a new name some
        // systems show "File does not exist" and then return the name all
        // the same. The name is checked by OnFileOk instead.
        FILEOPENDIALOGOPTIONS options = 0;
        dialog->GetOptions(&options);
        options &= ~static_cast<FILEOPENDIALOGOPTIONS>(FOS_PATHMUSTEXIST | FOS_FILEMUSTEXIST);
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
        const std::wstring wtitle = wide(title), wstart = wide(start.c_str());
        dialog->SetTitle(wtitle.c_str());
        IShellItem* folder = nullptr;
        if (SUCCEEDED(SHCreateItemFromParsingName(wstart.c_str(), nullptr, IID_IShellItem,
                                                  reinterpret_cast<void**>(&folder)))) {
            dialog->SetFolder(folder);
            folder->Release();
        }
        if (new_folder == NewFolder::allowed) {
            IFileDialogCustomize* customize = nullptr;
            if (SUCCEEDED(dialog->QueryInterface(IID_IFileDialogCustomize, reinterpret_cast<void**>(&customize)))) {
                customize->AddPushButton(kMakeFolderButton, L"Make New Folder");
                customize->Release();
            }
        }
        FolderEvents events(new_folder);
        DWORD cookie = 0;
        const bool advised = SUCCEEDED(dialog->Advise(static_cast<IFileDialogEvents*>(&events), &cookie));
        IShellItem* result = nullptr;
        if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&result))) {
            const std::wstring path = path_of(result);
            result->Release();
            // Checked again for a dialog that did not ask OnFileOk.
            const std::string why = refusal(path, new_folder);
            if (why.empty())
                chosen = narrow(path.c_str());
            else
                message_box(owner, why, "Alert", MB_OK | MB_ICONHAND);
        }
        if (advised) dialog->Unadvise(cookie);
        dialog->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return chosen;
}

}  // namespace vid::app

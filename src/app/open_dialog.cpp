#include "app/open_dialog.h"

#include <vector>

namespace vid::app {

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

}  // namespace vid::app

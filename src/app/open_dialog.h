// The system's open-file and folder dialogs as the commands use them.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <optional>
#include <string>

namespace vid::app {

// Size of the dialog description: the layout without the fields that later
// system versions appended (76 bytes in the 32-bit layout; the 64-bit system
// wants the same layout at its own size).
inline constexpr DWORD kOpenFileNameSize =
    static_cast<DWORD>(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName));
#ifndef _WIN64
static_assert(kOpenFileNameSize == 76);
#endif

// The filter list of one pair: text, zero, pattern, zero, and the empty
// string that ends the list.
std::string filter_of(const char* text, const char* pattern);

// One file chosen in the dialog (260-character buffer, starting empty), or
// nothing when the user cancelled or the dialog failed.
// With `save`, the save dialog (GetSaveFileNameA) of the same layout.
std::optional<std::string> ask_one_file(HWND owner, const char* filter_text, const char* pattern, const char* title,
                                        DWORD flags, const char* default_ext, const std::string& initial_dir,
                                        bool save = false);

// Whether a folder dialog takes the name of a folder that is not there yet.
enum class NewFolder {
    refused,  // the folder must exist: another name is refused in the dialog
    allowed,  // a new name is taken as it is (the command makes the folder),
              // and the dialog has a "Make New Folder" button
};

// A folder, in the system's file dialog in its folder-picking mode,
// opening on `start`: a folder is chosen like a file (its name typed, or
// Open pressed in it). A name that is not a folder is refused in the
// dialog with an Alert owned by it, and the dialog stays open. Nothing
// when the user cancelled.
std::optional<std::string> ask_folder(HWND owner, const char* title, const std::string& start,
                                      NewFolder new_folder = NewFolder::refused);

}  // namespace vid::app

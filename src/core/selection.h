// The open-file dialog's answer with multiple selection, taken apart.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vid {

struct Selection {
    std::vector<std::string> paths;  // full paths, in the dialog's order
    bool single = false;             // the dialog returned exactly one file
    std::string folder;              // the folder of a multi-file answer
};

// The dialog's buffer holds either one zero-terminated full path followed
// by a second zero, or a folder and then each file name, each
// zero-terminated, the list ending with an empty string. Folder and name are
// joined with one backslash, even after a drive's root folder ("C:\" gives
// "C:\\name"). Nothing past the end of `buffer` is read; a list that is not
// terminated within it ends there.
Selection walk_selection(std::span<const char> buffer);

// The names that the dialog's file-name box held, as captured while the
// selection changed: each name in double quotes, separated by single spaces
// ("\"a.wv5\" \"b.wv5\""). A text that does not begin with a quote is a
// single name and is taken whole. The list ends at the first empty name.
std::vector<std::string> split_quoted_names(std::string_view text);

}  // namespace vid

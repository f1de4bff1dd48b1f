// The entries of a folder, for commands that walk a whole folder tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vid::platform {

struct FolderEntry {
    std::string name;
    bool folder = false;     // a folder (never a link to one: walks do not follow them)
    std::uint64_t size = 0;  // a file's size as the listing found it (for a link: POSIX its file's, Windows its own)
};

// The files and folders in `folder`, without "." and "..", in no particular
// order. Regular files and links to regular files count as files; links to
// folders, devices, FIFOs and sockets are left out. Nothing when the folder
// cannot be read.
std::optional<std::vector<FolderEntry>> list_folder(const std::string& folder);

}  // namespace vid::platform

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/folders.h"
#include "platform/paths.h"

namespace vid::platform {

std::optional<std::vector<FolderEntry>> list_folder(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<FolderEntry> entries;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const std::string path = join(folder, e->d_name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            entries.push_back({e->d_name, true, 0});
        } else if (S_ISREG(st.st_mode) || (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))) {
            entries.push_back({e->d_name, false, static_cast<std::uint64_t>(st.st_size)});
        }
    }
    ::closedir(dir);
    return entries;
}

}  // namespace vid::platform

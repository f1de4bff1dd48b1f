#include <windows.h>

#include <cstring>

#include "platform/folders.h"
#include "platform/paths.h"

namespace vid::platform {

std::optional<std::vector<FolderEntry>> list_folder(const std::string& folder) {
    WIN32_FIND_DATAA data{};
    HANDLE f = FindFirstFileA(join(folder, "*").c_str(), &data);
    if (f == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<FolderEntry> entries;
    do {
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
        const DWORD a = data.dwFileAttributes;
        const bool dir = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (dir && link) continue;  // junctions and folder links are not followed
        if ((a & FILE_ATTRIBUTE_DEVICE) != 0) continue;
        entries.push_back({data.cFileName, dir, dir ? 0 : (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
    } while (FindNextFileA(f, &data));
    FindClose(f);
    return entries;
}

}  // namespace vid::platform

// Win32 files: CreateFileA and its family, 8-bit paths as they stand.
#include <windows.h>

#include <cstring>

#include "platform/file.h"

namespace vid::platform {

namespace {

HANDLE h(std::intptr_t v) { return reinterpret_cast<HANDLE>(v); }

// The volume and the file's number on it. FileIdInfo answers from the file
// itself; the older call also asks the volume for its label, which Wine
// cannot always read.
std::optional<FileId> handle_id(HANDLE f) {
    FILE_ID_INFO info{};
    if (GetFileInformationByHandleEx(f, FileIdInfo, &info, sizeof info)) {
        std::uint64_t low = 0, high = 0;
        static_assert(sizeof info.FileId.Identifier == 16);
        std::memcpy(&low, info.FileId.Identifier, 8);
        std::memcpy(&high, info.FileId.Identifier + 8, 8);
        return FileId{info.VolumeSerialNumber, low ^ (high * 0x9E3779B97F4A7C15ull)};
    }
    BY_HANDLE_FILE_INFORMATION old{};
    if (!GetFileInformationByHandle(f, &old)) return std::nullopt;
    return FileId{old.dwVolumeSerialNumber, (static_cast<std::uint64_t>(old.nFileIndexHigh) << 32) | old.nFileIndexLow};
}

}  // namespace

std::optional<File> File::open(const std::string& path, OpenMode mode, OpenError* why) {
    if (why) *why = OpenError::missing;
    DWORD access = GENERIC_WRITE;
    DWORD disposition = CREATE_ALWAYS;
    switch (mode) {
        case OpenMode::read_existing:
            access = GENERIC_READ;
            disposition = OPEN_EXISTING;
            break;
        case OpenMode::create_always: disposition = CREATE_ALWAYS; break;
        case OpenMode::create_new: disposition = CREATE_NEW; break;
    }
    const DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        if (why) *why = OpenError::folder;
        return std::nullopt;
    }
    // An input is shared with programs that only read or write it: a file
    // open in an editor or a player stays readable. The program's own
    // outputs never write into an input (they are new files moved into place,
    // and a move onto a file that is open fails).
    const bool input = mode == OpenMode::read_existing;
    HANDLE handle = CreateFileA(path.c_str(), access, input ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL | (input ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (why && (e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION)) *why = OpenError::in_use;
        return std::nullopt;
    }
    File file(reinterpret_cast<std::intptr_t>(handle));
    // Devices, pipes and consoles are not files: never read or written.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        if (why) *why = OpenError::not_regular;
        return std::nullopt;
    }
    if (why) *why = OpenError::none;
    return file;
}

std::size_t File::read(std::span<std::uint8_t> out) {
    if (handle_ == -1 || out.empty()) return 0;
    DWORD want = out.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(out.size());
    DWORD got = 0;
    if (!ReadFile(h(handle_), out.data(), want, &got, nullptr)) return 0;
    return got;
}

std::size_t File::read_at(std::uint64_t offset, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (handle_ != -1 && done < out.size()) {
        const std::size_t rest = out.size() - done;
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD got = 0;
        if (!ReadFile(h(handle_), out.data() + done, rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest), &got,
                      &at) ||
            got == 0)
            break;
        done += got;
    }
    return done;
}

bool File::write(std::span<const std::uint8_t> data) {
    if (handle_ == -1) return false;
    std::size_t done = 0;
    while (done < data.size()) {
        std::size_t rest = data.size() - done;
        DWORD want = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        DWORD put = 0;
        if (!WriteFile(h(handle_), data.data() + done, want, &put, nullptr) || put == 0) return false;
        done += put;
    }
    return true;
}

std::optional<std::uint64_t> File::size() const {
    if (handle_ == -1) return std::nullopt;
    DWORD high = 0;
    DWORD low = GetFileSize(h(handle_), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return std::nullopt;
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

bool File::seek(std::uint64_t pos) {
    if (handle_ == -1) return false;
    LONG high = static_cast<LONG>(pos >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(h(handle_), static_cast<LONG>(pos & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

std::optional<std::uint64_t> File::tell() const {
    if (handle_ == -1) return std::nullopt;
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(h(handle_), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return std::nullopt;
    return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

// Windows copies whole files in the system, not ranges: the caller copies.
std::uint64_t File::copy_range_from(File&, std::uint64_t, std::uint64_t) { return 0; }

bool File::resize(std::uint64_t size) {
    if (handle_ == -1) return false;
    const auto here = tell();
    return here && seek(size) && SetEndOfFile(h(handle_)) && seek(*here);
}

std::optional<FileId> File::id() const {
    if (handle_ == -1) return std::nullopt;
    return handle_id(h(handle_));
}

bool File::close() {
    if (handle_ == -1) return true;
    BOOL ok = CloseHandle(h(handle_));
    handle_ = -1;
    return ok != 0;
}

bool create_directory(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<FileId> id_of(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::nullopt;
    const auto id = handle_id(f);
    CloseHandle(f);
    return id;
}

std::optional<std::int64_t> modified_of(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                     data.ftLastWriteTime.dwLowDateTime);
}

bool remove_file(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool link_file(const std::string& existing, const std::string& link) {
    return CreateHardLinkA(link.c_str(), existing.c_str(), nullptr) != 0;
}

bool move_replacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool is_link(const std::string& path) {
    const DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::optional<std::string> find_name_any_case(const std::string& folder, std::string_view name) {
    // Names are compared without case by the system itself.
    const std::string path = folder + std::string(name);
    WIN32_FIND_DATAA data{};
    HANDLE f = FindFirstFileA(path.c_str(), &data);
    if (f == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(f);
    return std::string(data.cFileName);
}

std::string current_directory() {
    char buf[MAX_PATH + 1] = {};
    DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    if (n == 0 || n > sizeof buf) return ".";
    return std::string(buf, n);
}

}  // namespace vid::platform

// Outputs on Windows: a new file beside the final name, moved onto it with
// MoveFileExA. No reparse point is followed for writing.
#include <windows.h>

#include <string>

#include "platform/output.h"
#include "platform/paths.h"
#include "platform/temp_registry.h"

namespace vid::platform {

namespace {

std::atomic<std::atomic<bool>*> stop_flag{nullptr};

BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        if (std::atomic<bool>* stop = stop_flag.exchange(nullptr)) {
            stop->store(true);
            return TRUE;
        }
    remove_tracked_temps();
    return FALSE;  // the default handling ends the process
}

std::string folder_of(const std::string& path) { return std::string(split_path(path).folder); }

// The number of names the file has (more than one: hard links).
DWORD link_count(HANDLE f) {
    FILE_STANDARD_INFO info{};
    return GetFileInformationByHandleEx(f, FileStandardInfo, &info, sizeof info) ? info.NumberOfLinks : 1;
}

// The final target of the reparse point `path`; nothing when it cannot be reached.
std::optional<std::string> link_target(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    char buf[MAX_PATH + 8] = {};
    const DWORD n = GetFinalPathNameByHandleA(h, buf, sizeof buf, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(h);
    if (n == 0 || n >= sizeof buf) return std::nullopt;
    std::string target(buf, n);
    if (target.rfind("\\\\?\\", 0) == 0) target.erase(0, 4);
    return target;
}

}  // namespace

void install_interrupt_cleanup() {
    static const bool installed = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
    (void)installed;
}

void stop_on_interrupt(std::atomic<bool>* stop) {
    install_interrupt_cleanup();
    stop_flag.store(stop);
}

void remove_raw(const char* path) noexcept { DeleteFileA(path); }

std::optional<Output> Output::create(const std::string& final_path, Existing existing, OutputError* why) {
    const auto fail = [why](OutputError e) -> std::optional<Output> {
        if (why) *why = e;
        return std::nullopt;
    };
    if (why) *why = OutputError::none;
    Output out;
    out.existing_ = existing;
    out.final_ = final_path;

    DWORD attrs = GetFileAttributesA(out.final_.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (existing == Existing::keep) return fail(OutputError::cant_create);
        if (existing == Existing::replace_target) {
            auto target = link_target(out.final_);
            if (!target) return fail(OutputError::cant_create);
            out.final_ = *target;
            attrs = GetFileAttributesA(out.final_.c_str());
        }
    }
    if (attrs != INVALID_FILE_ATTRIBUTES && !(existing == Existing::replace && (attrs & FILE_ATTRIBUTE_REPARSE_POINT))) {
        if (attrs & FILE_ATTRIBUTE_DIRECTORY) return fail(OutputError::folder);
        if (existing == Existing::keep) return fail(OutputError::cant_create);
        // Hold the old file without sharing (but for its replacement): a
        // program that holds it keeps it from being replaced.
        HANDLE h = CreateFileA(out.final_.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) return fail(OutputError::cant_create);
        out.hold_ = File(reinterpret_cast<std::intptr_t>(h));
        if (GetFileType(h) != FILE_TYPE_DISK) return fail(OutputError::not_regular);
        // The attributes that the new file takes over (a read-only file stays read-only).
        out.mode_ = attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        // Only Encode FL3's archive needs to know which file it replaces.
        if (existing == Existing::replace_target) out.replaced_ = out.hold_.id();
        // A hard link in the way: only its name is replaced.
        if (existing == Existing::replace && link_count(h) > 1) out.hold_.close();
    }

    const std::string folder = folder_of(out.final_);
    for (int tries = 0; tries < 100; ++tries) {
        std::string temp = temp_path(folder, GetCurrentProcessId());
        if (temp.size() > MAX_PATH - 1) return fail(OutputError::cant_create);
        // Remembered before it exists: a console event at any moment from
        // here on removes it. Shared for deleting, so that the console
        // handler can remove it while it is open; shared for reading, so
        // that what is written can be read back before it is committed.
        const int slot = track_temp(temp);
        HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            untrack_temp(slot);
            if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) continue;
            return fail(OutputError::cant_create);
        }
        out.file_ = File(reinterpret_cast<std::intptr_t>(h));
        out.temp_ = std::move(temp);
        out.slot_ = slot;
        return out;
    }
    return fail(OutputError::cant_create);
}

bool Output::commit() {
    if (temp_.empty()) return false;
    bool ok = file_.close();
    // Held: the old file is this name's alone (a hard link is never held).
    const bool own = hold_.is_open();
    hold_.close();
    if (ok) {
        const DWORD flags = existing_ == Existing::keep ? 0 : MOVEFILE_REPLACE_EXISTING;
        ok = MoveFileExA(temp_.c_str(), final_.c_str(), flags) != 0;
        const DWORD attrs = mode_.value_or(0);
        if (!ok && own && (attrs & FILE_ATTRIBUTE_READONLY) && GetLastError() == ERROR_ACCESS_DENIED) {
            // The system replaces no read-only file: clear the old file's
            // attribute for the move, and give it back if the move fails.
            // (A read-only file with other names keeps its attribute and
            // refuses the output.)
            SetFileAttributesA(final_.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
            ok = MoveFileExA(temp_.c_str(), final_.c_str(), flags) != 0;
            if (!ok) SetFileAttributesA(final_.c_str(), attrs);
        }
        if (ok) {
            temp_.clear();
            if (attrs != 0) SetFileAttributesA(final_.c_str(), attrs);
        }
    }
    discard();
    return ok;
}

}  // namespace vid::platform

// Outputs on POSIX: a new file beside the final name, renamed onto it.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "platform/output.h"
#include "platform/paths.h"
#include "platform/temp_registry.h"

namespace vid::platform {

namespace {

std::atomic<std::atomic<bool>*> stop_flag{nullptr};

void on_interrupt(int sig) {
    if (sig == SIGINT)
        if (std::atomic<bool>* stop = stop_flag.exchange(nullptr)) {
            stop->store(true);
            return;
        }
    remove_tracked_temps();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

std::string folder_of(const std::string& path) { return std::string(split_path(path).folder); }

// The target of the symbolic link `path`, relative targets taken from the
// link's folder; nothing when it cannot be read.
std::optional<std::string> link_target(const std::string& path) {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return std::nullopt;
    std::string target(buf.data(), static_cast<std::size_t>(n));
    if (target.front() != '/') target = folder_of(path) + target;
    return target;
}

}  // namespace

void install_interrupt_cleanup() {
    static const bool installed = [] {
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            struct sigaction old {};
            // A signal that the caller chose to ignore (nohup) stays ignored.
            if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
            struct sigaction sa {};
            sa.sa_handler = on_interrupt;
            sigemptyset(&sa.sa_mask);
            ::sigaction(sig, &sa, nullptr);
        }
        return true;
    }();
    (void)installed;
}

void stop_on_interrupt(std::atomic<bool>* stop) {
    install_interrupt_cleanup();
    stop_flag.store(stop);
}

void remove_raw(const char* path) noexcept { ::unlink(path); }

std::optional<Output> Output::create(const std::string& final_path, Existing existing, OutputError* why) {
    const auto fail = [why](OutputError e) -> std::optional<Output> {
        if (why) *why = e;
        return std::nullopt;
    };
    if (why) *why = OutputError::none;
    Output out;
    out.existing_ = existing;
    out.final_ = final_path;

    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(out.final_.c_str(), &st) != 0) {
            if (errno == ENOENT) break;  // nothing there yet
            return fail(OutputError::cant_create);
        }
        if (S_ISLNK(st.st_mode)) {
            if (existing == Existing::keep) return fail(OutputError::cant_create);
            if (existing == Existing::replace) break;  // the link itself gives way
            auto target = hops < 40 ? link_target(out.final_) : std::nullopt;
            if (!target) return fail(OutputError::cant_create);
            out.final_ = *target;
            continue;
        }
        if (S_ISDIR(st.st_mode)) return fail(OutputError::folder);
        if (!S_ISREG(st.st_mode)) return fail(OutputError::not_regular);
        if (existing == Existing::keep) return fail(OutputError::cant_create);
        out.mode_ = static_cast<std::uint32_t>(st.st_mode & 07777);
        out.replaced_ = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
        // A hard link in the way: only its name is replaced, the file it
        // shares stays as it is, so there is nothing to hold.
        if (existing == Existing::replace && st.st_nlink > 1) break;
        // Hold the old file as the program holds every file it uses: another
        // program that holds it (flock) keeps it from being replaced.
        const int fd = ::open(out.final_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return fail(OutputError::cant_create);
        out.hold_ = File(fd);
        struct stat held {};
        if (::fstat(fd, &held) != 0 || held.st_ino != st.st_ino || held.st_dev != st.st_dev ||
            ::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return fail(OutputError::cant_create);
        break;
    }

    const std::string folder = folder_of(out.final_);
    for (int tries = 0; tries < 100; ++tries) {
        std::string temp = temp_path(folder, static_cast<unsigned long>(::getpid()));
        // Remembered before it exists: an interrupt at any moment from here
        // on removes it (a name of this process's, so nobody else's file).
        const int slot = track_temp(temp);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int e = errno;
            untrack_temp(slot);
            if (e == EEXIST || e == EINTR) continue;
            return fail(OutputError::cant_create);
        }
        out.file_ = File(fd);
        out.temp_ = std::move(temp);
        out.slot_ = slot;
        return out;
    }
    return fail(OutputError::cant_create);
}

bool Output::commit() {
    if (temp_.empty()) return false;
    if (mode_) ::fchmod(static_cast<int>(file_.handle_), static_cast<mode_t>(*mode_));  // best effort
    bool ok = file_.close();
    if (ok && existing_ == Existing::keep) {
        // Never replace: a name taken meanwhile refuses the output. Where the
        // system cannot rename without replacing, link() does the same.
        if (::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, final_.c_str(), RENAME_NOREPLACE) == 0) {
            temp_.clear();
        } else {
            ok = (errno == EINVAL || errno == ENOSYS) && ::link(temp_.c_str(), final_.c_str()) == 0;
        }
    } else if (ok) {
        ok = ::rename(temp_.c_str(), final_.c_str()) == 0;
        if (ok) temp_.clear();
    }
    discard();  // removes what is left of the temporary file, releases the old one
    return ok;
}

}  // namespace vid::platform

// POSIX files: the Linux command line and the unit tests.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/file.h"

namespace vid::platform {

// Every file is opened under an exclusive lock taken at open time: a file
// that another program holds (flock) is reported in use, and an output never
// replaces a file that the program itself is reading (the output holds the
// old file under the same lock first). An output is emptied only once it is
// held. (On Windows an input shares reading and writing with other programs;
// a file being read cannot be replaced there either.)
namespace {

void set(OpenError* why, OpenError e) {
    if (why) *why = e;
}

}  // namespace

std::optional<File> File::open(const std::string& path, OpenMode mode, OpenError* why) {
    set(why, OpenError::missing);
    // O_NONBLOCK: opening a FIFO must never wait for a writer or a reader.
    // No link is followed where a file is created.
    int flags = O_CLOEXEC | O_NONBLOCK;
    switch (mode) {
        case OpenMode::read_existing: flags |= O_RDONLY; break;
        case OpenMode::create_always: flags |= O_WRONLY | O_CREAT | O_NOFOLLOW; break;
        case OpenMode::create_new: flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EISDIR) set(why, OpenError::folder);
        if (errno == ENXIO) set(why, OpenError::not_regular);  // a FIFO without a reader
        return std::nullopt;
    }
    File file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    // Like the Windows program, only plain files are opened.
    if (S_ISDIR(st.st_mode)) {
        set(why, OpenError::folder);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        set(why, OpenError::not_regular);
        return std::nullopt;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) return std::nullopt;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) set(why, OpenError::in_use);
        return std::nullopt;
    }
    if (mode == OpenMode::create_always && ::ftruncate(fd, 0) != 0) return std::nullopt;
    set(why, OpenError::none);
    return file;
}

std::size_t File::read(std::span<std::uint8_t> out) {
    if (handle_ < 0 || out.empty()) return 0;
    for (;;) {
        ssize_t n = ::read(static_cast<int>(handle_), out.data(), out.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return 0;
    }
}

bool File::write(std::span<const std::uint8_t> data) {
    if (handle_ < 0) return false;
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(static_cast<int>(handle_), data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::uint64_t> File::size() const {
    struct stat st {};
    if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

bool File::seek(std::uint64_t pos) {
    if (handle_ < 0) return false;
    return ::lseek(static_cast<int>(handle_), static_cast<off_t>(pos), SEEK_SET) == static_cast<off_t>(pos);
}

std::optional<std::uint64_t> File::tell() const {
    if (handle_ < 0) return std::nullopt;
    off_t p = ::lseek(static_cast<int>(handle_), 0, SEEK_CUR);
    if (p < 0) return std::nullopt;
    return static_cast<std::uint64_t>(p);
}

bool File::resize(std::uint64_t size) {
    return handle_ >= 0 && ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0;
}

std::uint64_t File::copy_range_from(File& in, std::uint64_t offset, std::uint64_t n) {
    if (handle_ < 0 || in.handle_ < 0) return 0;
    std::uint64_t done = 0;
    auto off = static_cast<off_t>(offset);
    while (done < n) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, std::uint64_t{1} << 30));
        const ssize_t got = ::copy_file_range(static_cast<int>(in.handle_), &off, static_cast<int>(handle_), nullptr,
                                              chunk, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // the end of `in`, or a system or file system that cannot copy this way
        done += static_cast<std::uint64_t>(got);
    }
    return done;
}

std::optional<FileId> File::id() const {
    struct stat st {};
    if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &st) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool File::close() {
    if (handle_ < 0) return true;
    int rc = ::close(static_cast<int>(handle_));
    handle_ = -1;
    return rc == 0;
}

bool create_directory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<FileId> id_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<std::int64_t> modified_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool is_link(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::optional<std::string> find_name_any_case(const std::string& folder, std::string_view name) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return std::nullopt;
    std::optional<std::string> found;
    const std::string wanted(name);
    while (const dirent* e = ::readdir(dir)) {
        std::string_view candidate(e->d_name);
        if (candidate.size() != name.size()) continue;
        if (candidate == name) {
            found = std::string(candidate);
            break;
        }
        // Several variants: the same one whatever the folder's order.
        if (::strcasecmp(e->d_name, wanted.c_str()) == 0 && (!found || candidate < *found))
            found = std::string(candidate);
    }
    ::closedir(dir);
    return found;
}

std::string current_directory() {
    char buf[4096];
    if (::getcwd(buf, sizeof buf) == nullptr) return ".";
    return buf;
}

}  // namespace vid::platform

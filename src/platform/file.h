// Files, as the program opens them.
//
// Three open modes: an existing file for reading (on Windows, shared with
// other programs that read or write it; here, under an exclusive lock); create
// always (an existing file is replaced); create new (never replaces). Paths
// are 8-bit strings, passed to the system as they stand. On Windows the
// handles come from CreateFileA and its family; elsewhere from POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vid::platform {

enum class OpenMode {
    read_existing,  // GENERIC_READ, read and write sharing, OPEN_EXISTING
    create_always,  // GENERIC_WRITE, no sharing, CREATE_ALWAYS
    create_new,     // GENERIC_WRITE, no sharing, CREATE_NEW
};

// What identifies a file on its volume, whatever the name it is reached by.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

// Why a file could not be opened.
enum class OpenError {
    none,
    missing,      // no such file, or no access
    in_use,       // another program holds it (a lock; on Windows, a handle that shares nothing)
    folder,       // the name is a folder
    not_regular,  // a FIFO, device or socket: never read (it could block forever)
};

class File {
public:
    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // Opens `path` in `mode`; an empty optional when the system refuses.
    // Only regular files are opened, and opening never waits.
    static std::optional<File> open(const std::string& path, OpenMode mode, OpenError* why = nullptr);

    bool is_open() const;

    // Reads up to out.size() bytes; returns how many were read (0 at the
    // end of the file or on a read failure).
    std::size_t read(std::span<std::uint8_t> out);
    // Reads until `out` is full or the file ends; returns the count read.
    std::size_t read_full(std::span<std::uint8_t> out);
    // The same from byte `offset`, in calls that name their place: threads
    // may read one file this way at once. Where the position is afterwards
    // is not told.
    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> out);
    // Writes all of `data`; false when the system wrote less.
    bool write(std::span<const std::uint8_t> data);

    // Size of the file in bytes; nullopt when the system cannot tell.
    std::optional<std::uint64_t> size() const;
    // Moves to `pos` bytes from the start.
    bool seek(std::uint64_t pos);
    // Current position from the start.
    std::optional<std::uint64_t> tell() const;
    // Cuts or extends the file to `size` bytes; the position is unchanged.
    bool resize(std::uint64_t size);
    // The file's identity on its volume.
    std::optional<FileId> id() const;
    // Copies up to `n` bytes of `in`, from its byte `offset`, to this
    // file's position, the fastest way the system offers (on Linux
    // copy_file_range or splice, which copy inside the system, or a buffer
    // of its own where those would copy at half speed). Neither file's
    // position but this one's moves. Returns the bytes copied: fewer when
    // `in` ends or the system cannot copy this way (0 on Windows); the
    // caller copies the rest itself.
    std::uint64_t copy_range_from(File& in, std::uint64_t offset, std::uint64_t n);

    // Closes the handle; false when the system reports a failure (a write
    // that could not be completed). Safe to call twice.
    bool close();

private:
    friend class Output;
    explicit File(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = -1;
};

// Folder creation; true when it was created or already exists.
bool create_directory(const std::string& path);
// The identity of the file that `path` names (links followed).
std::optional<FileId> id_of(const std::string& path);
// When the file that `path` names (links followed) was last written, in the
// system's finest unit; nothing when it cannot be told.
std::optional<std::int64_t> modified_of(const std::string& path);
// Removes the file (or link) `path`; false when the system refuses.
bool remove_file(const std::string& path);
// Gives the file `existing` the second name `link` (a hard link), which
// must not exist; false when the system refuses (another volume, a file
// system without links, a file held without sharing).
bool link_file(const std::string& existing, const std::string& link);
// Moves the file `from` onto the name `to` in one step, replacing a file
// there (on one volume); false when the system refuses.
bool move_replacing(const std::string& from, const std::string& to);
// True when `path` itself is a symbolic link (or, on Windows, a reparse point).
bool is_link(const std::string& path);
// The name of the entry of `folder` (a folder part as split_path() gives it:
// empty for the current folder, else ending with its separator or drive)
// that equals `name` in any case: the exact name when there is one, else
// the byte-wise smallest of the names that differ only in case; nothing
// when there is none.
std::optional<std::string> find_name_any_case(const std::string& folder, std::string_view name);
// The process's current directory.
std::string current_directory();

}  // namespace vid::platform

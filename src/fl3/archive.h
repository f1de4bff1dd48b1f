// FL3 archives read and written: the one reader of an archive's header and
// directory and the one writer of them, under Extract FL3, Encode FL3,
// list-fl3, the decoders' member check and the mod project.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"
#include "fl3/format.h"
#include "fl3/stream.h"
#include "platform/file.h"

namespace vid::fl3 {

// How far an archive could be opened.
enum class Opened {
    ok,
    cant_open,             // the file cannot be opened (see open_error())
    cant_read,             // the system read less than the file holds
    too_short,             // shorter than the 28 bytes of a header
    directory_beyond_end,  // the header places the directory at or past the end of the file
};

// "NAME is not an FL3 archive: it is shorter than the 28 bytes of an FL3 header."
std::string too_short_text(std::string_view path);
// "NAME is damaged: its directory would start at byte N, beyond the end of
// the file." (with `size`: "... of the file (S bytes). Nothing is extracted.")
std::string beyond_end_text(std::string_view path, std::uint32_t dir_offset,
                            std::optional<std::uint64_t> size = std::nullopt);

class ArchiveReader;

// Why the archive at `path` did not open, as an Alert tells it ("NAME not
// found", "Can't read NAME", too short, its directory past the end with the
// file's size); empty when it opened.
std::string opened_text(const ArchiveReader& reader, std::string_view path);

class ArchiveReader {
public:
    // Opens the archive at `path` for reading (regular files only) and reads
    // its header.
    explicit ArchiveReader(const std::string& path, std::size_t buffer_size = kBufferSize);
    // The same over a file already open, of `size` bytes (an archive being
    // written, read back).
    ArchiveReader(platform::File& file, std::uint64_t size, std::size_t buffer_size = kBufferSize);
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    Opened opened() const { return opened_; }
    platform::OpenError open_error() const { return open_error_; }
    const Header& header() const { return header_; }
    std::uint64_t size() const { return size_; }

    // Reads the directory from the header's offset: at most the header's
    // count of entries (and then the end marker, if it follows). Call once
    // opened() is ok; read_failed() tells a short read of the system.
    const Directory& read_directory();
    const Directory& directory() const { return dir_; }
    // The directory ended with its marker after exactly the header's count.
    bool directory_complete() const;

    // Where an entry's bytes start in the archive.
    static std::uint64_t offset_of(const Entry& e) { return kHeaderSize + e.position; }
    // Copies `n` bytes from `offset` to `out`'s position, as far as the
    // archive holds them.
    CopyResult copy(std::uint64_t offset, std::uint64_t n, platform::File& out);
    // Copies the bytes of `_index.bin` to `out`'s position: the header's
    // directory length from the directory offset, as far as the archive
    // holds them (cut_short when it ends first). Call once opened() is ok.
    CopyResult copy_index(platform::File& out) { return copy(header_.dir_offset, header_.dir_length, out); }

    bool read_failed() const { return in_ && in_->failed(); }
    // The archive's file, opened by the reader, for the caller to keep once
    // the directory is read; the reader reads no more.
    std::optional<platform::File> take_file();
    platform::File& file() { return *file_; }
    FileReader& reader() { return *in_; }

private:
    void read_header();

    std::optional<platform::File> owned_;
    platform::File* file_ = nullptr;
    std::optional<FileReader> in_;
    Opened opened_ = Opened::cant_open;
    platform::OpenError open_error_ = platform::OpenError::none;
    std::uint64_t size_ = 0;
    Header header_;
    Directory dir_;
};

// Writes an archive: the header's place first, then the members' bytes
// (written by the caller, through `out` or straight to its file after a
// flush), each recorded with add(), then finish() writes the directory and,
// last, the header at the start of the file.
class ArchiveWriter {
public:
    explicit ArchiveWriter(FileWriter& out) : out_(out) {}

    // The 28 bytes of the header's place.
    bool reserve_header() { return out_.write_zeros(kHeaderSize); }
    // A member whose `size` bytes were written after the ones before.
    void add(std::string_view name, std::uint32_t size);
    // Where the next member's bytes start.
    std::uint64_t data_end() const { return data_end_; }
    std::size_t count() const { return entries_.size(); }
    // The directory, the end marker and the header. `dir_length` is the
    // header's directory length (the bytes of the index the archive was
    // built from); by default the directory's own length.
    bool finish(std::optional<std::uint32_t> dir_length = std::nullopt);

private:
    FileWriter& out_;
    std::vector<std::pair<std::string, std::uint32_t>> entries_;
    std::uint64_t data_end_ = kHeaderSize;
};

}  // namespace vid::fl3

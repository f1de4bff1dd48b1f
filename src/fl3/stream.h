// Streaming through a bounded buffer: members of any size pass through a
// few MiB of memory, and many small members cost few system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/bytes.h"
#include "fl3/format.h"
#include "platform/file.h"

namespace vid::fl3 {

inline constexpr std::size_t kBufferSize = std::size_t{4} << 20;
// Pieces at least this large are copied inside the system where it can
// (File::copy_range_from); smaller ones go through the buffers, where many
// of them cost one system call.
inline constexpr std::uint64_t kSystemCopyMin = std::uint64_t{64} << 10;

// Reads a file of known size through one buffer. Positions are absolute;
// nothing is ever read at or past `size`.
class FileReader : public ByteSource {
public:
    FileReader(platform::File& file, std::uint64_t size, std::size_t buffer_size = kBufferSize);

    std::uint64_t size() const { return size_; }
    std::uint64_t pos() const { return pos_; }
    platform::File& file() { return file_; }
    // Moves to `pos` (clamped to the size); reuses buffered bytes when it can.
    void seek(std::uint64_t pos);
    // Bytes from the current position on, at most `max`, straight out of the
    // buffer; empty at the end of the file or when the system reads less
    // than the file's size promised (see failed()).
    ByteView next(std::size_t max);
    std::size_t read(std::span<std::uint8_t> out) override;
    // True once the system returned fewer bytes than the file's size promised.
    bool failed() const { return failed_; }

private:
    bool fill();

    platform::File& file_;
    std::uint64_t size_;
    Bytes buf_;
    std::uint64_t buf_pos_ = 0;  // file position of buf_[0]
    std::size_t buf_len_ = 0;
    std::uint64_t pos_ = 0;
    std::uint64_t file_pos_ = 0;  // where the system's file position stands
    bool failed_ = false;
};

// Writes a file through one buffer.
class FileWriter {
public:
    explicit FileWriter(platform::File& file, std::size_t buffer_size = kBufferSize);

    // Free buffer space to fill, then commit() the bytes filled; never empty.
    std::span<std::uint8_t> space();
    bool commit(std::size_t n);
    bool write(ByteView data);
    bool write_zeros(std::uint64_t n);
    bool flush();
    std::uint64_t written() const { return written_; }
    bool ok() const { return ok_; }
    platform::File& file() { return file_; }

private:
    platform::File& file_;
    Bytes buf_;
    std::size_t len_ = 0;
    std::uint64_t written_ = 0;
    bool ok_ = true;
};

// Copies `n` bytes from `in` at its position to `out`'s position, as far
// as the file holds them: `cut_short` when it ends first (nothing stands
// for the missing bytes). Inside the system where system_copy_pays(), else
// straight from the reader's buffer.
enum class CopyResult { ok, cut_short, read_failed, write_failed };
CopyResult copy_held(FileReader& in, platform::File& out, std::uint64_t n);

}  // namespace vid::fl3

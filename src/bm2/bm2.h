// BM2 images: LZSS-compressed bitmaps, and the alpha variant of the game.
//
// A BM2 file is a 16-byte header (8 bytes the decoder does not need, the
// packed size and the unpacked size, both signed 32-bit little-endian)
// followed by the packed data. The decoded data are either a complete
// Windows bitmap file, written out unchanged, or an alpha picture that
// begins with "BM2A", written as a 32-bit or an 8-bit bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <memory>

#include "core/bytes.h"
#include "platform/file.h"
#include "core/ui.h"

namespace vid::bm2 {

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kWindowSize = 4096;
inline constexpr std::size_t kWindowStart = kWindowSize - 18;  // first write position in the window
inline constexpr std::size_t kMaxMatch = 18;

// The most bytes that `packed_size` bytes of LZSS data can decode to: at
// best a flag byte and eight matches of 18 bytes, 144 bytes from 17.
constexpr std::uint64_t max_unpacked(std::uint64_t packed_size) {
    return packed_size / 17 * 144 + (packed_size % 17) / 2 * kMaxMatch;
}

// Decompresses `packed` into `out`, with the window of 4096 bytes that
// starts all zero and is first written at 4078. Stops at the end of the
// packed data or when `out` is full, whichever comes first, and returns the
// number of bytes produced; the rest of `out` is set to zero.
std::size_t lzss_decode(ByteView packed, std::span<std::uint8_t> out);

// Where LzssReader pulls the packed data from: read() fills the front of
// `out` and returns the count, 0 at the end.
class PackedSource {
public:
    virtual ~PackedSource() = default;
    virtual std::size_t read(std::span<std::uint8_t> out) = 0;
};

// The packed data of an open BM2 file, pulled from its current position;
// a read failure ends them and is remembered.
class FilePacked final : public PackedSource {
public:
    explicit FilePacked(platform::File& f) : f_(f) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        const std::size_t n = f_.read(out);
        if (n == 0) failed_ = true;  // asked only for bytes that the file holds
        return n;
    }
    bool failed() const { return failed_; }

private:
    platform::File& f_;
    bool failed_ = false;
};

// Decodes an LZSS stream piece by piece into a buffer of its own that keeps
// the window's 4096 bytes before each piece, pulling the packed data
// through a buffer of its own as well: memory stays bounded however large
// the image. After the end of the stream come zeros, up to the unpacked
// size, as lzss_decode() gives them.
class LzssReader {
public:
    static constexpr std::size_t kPiece = 256 * 1024;
    static constexpr std::size_t kInput = 64 * 1024;

    // `packed_size` bytes from `packed` (fewer if it ends first).
    LzssReader(PackedSource& packed, std::uint64_t packed_size, std::uint64_t unpacked_size,
               std::size_t piece = kPiece, std::size_t input = kInput);
    // The packed data in memory.
    LzssReader(ByteView packed, std::uint64_t unpacked_size, std::size_t piece = kPiece, std::size_t input = kInput);
    ~LzssReader();
    LzssReader(const LzssReader&) = delete;
    LzssReader& operator=(const LzssReader&) = delete;

    // The next decoded bytes (about `piece` bytes: up to 150 more), valid
    // until the next call; empty once all unpacked-size bytes were given.
    ByteView next();
    // Bytes the stream itself produced so far.
    std::uint64_t produced() const { return produced_; }

private:
    LzssReader(PackedSource* source, std::unique_ptr<PackedSource> own, std::uint64_t packed_size,
               std::uint64_t unpacked_size, std::size_t piece, std::size_t input);
    // Keeps the unread packed bytes from `i_` on and reads more after them.
    void refill();

    PackedSource* source_;
    std::unique_ptr<PackedSource> own_;  // source_, when it reads packed data in memory
    std::uint64_t left_;  // packed bytes not yet pulled from the source
    std::uint64_t total_;
    std::size_t piece_;
    std::size_t in_size_;
    std::unique_ptr<std::uint8_t[]> in_;
    std::size_t in_end_ = 0;  // packed bytes held in in_
    std::size_t i_ = 0;       // next packed byte in in_
    bool ended_ = false;      // the stream has given all it holds
    std::unique_ptr<std::uint8_t[]> buf_;
    std::size_t pos_ = 0;  // where the next byte goes in buf_
    std::uint64_t given_ = 0;
    std::uint64_t produced_ = 0;
    std::uint64_t tail_ = 0;
    bool have_tail_ = false;
};

// Where an alpha picture's parts start: its 22-byte header, then the pixels
// (32 bits) or a colour table of 256 entries of 4 bytes and then the indexes
// (8 bits, two bytes per pixel).
inline constexpr std::size_t kAlphaPicture = 22;
inline constexpr std::size_t kAlphaIndexes = kAlphaPicture + 1024;

// The fields of an alpha picture's header that the decoder uses. Bytes
// that the decoded data do not hold read as zero.
struct AlphaHeader {
    std::uint16_t bit_count = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
};

bool is_alpha(ByteView decoded);
AlphaHeader alpha_header(ByteView decoded);

enum class AlphaResult {
    written,       // the bitmap is complete
    missing_rows,  // the data hold fewer rows than the header declares: only the complete rows
                   // are written, and the bitmap's headers describe those
    cut_header,    // the data end inside the alpha header (22 bytes) or, with 8 bits, inside the
                   // colour table (1046 bytes): nothing written
    bad_bit_count, // neither 8 nor 24 bits: nothing written
    too_large,     // the bitmap would not fit the 32-bit sizes of a bitmap file: nothing written
    write_failed,  // `emit` refused a piece
};

struct AlphaOutcome {
    AlphaResult result = AlphaResult::written;
    AlphaHeader header;
    std::uint64_t size = 0;         // bytes of decoded data
    std::uint64_t header_size = 0;  // with cut_header: the bytes the header needs (22 or 1046)
    std::uint32_t rows_held = 0;    // complete rows the data hold, up to the height
};

// Receives the bitmap file in pieces, in order; false stops the writer.
using Emit = std::function<bool(ByteView)>;
// Gives the decoded data in pieces, in order; an empty piece at the end.
using Pieces = std::function<ByteView()>;

// Writes the bitmap file of an alpha picture of `size` decoded bytes that
// begin with "BM2A": 24 bits as a 32-bit bitmap, 8 bits as an 8-bit bitmap
// whose row fill bytes are the first bytes of the decoded data. The
// headers always agree with what is written, and nothing is written that
// the data do not hold (but the row fill).
AlphaOutcome write_alpha(const Pieces& pieces, std::uint64_t size, const Emit& emit);
// The same with the decoded data whole.
AlphaOutcome write_alpha(ByteView decoded, const Emit& emit);

// Converts one BM2 file into a bitmap file beside it: the path with its
// last character replaced by "P". Reports progress and problems through
// `ui`; true when the file was decoded completely (the 8-bit alpha warning
// included).
bool decode_file(Ui& ui, const std::string& path);

}  // namespace vid::bm2

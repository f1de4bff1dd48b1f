// The alpha pictures of BM2 images, written as Windows bitmap files.
//
// Alpha header (offsets in the decoded data): "BM2A" at 0, bit count at 8,
// width at 14, height at 16, all 16-bit; the picture starts at 22.
//  - 24 bits: 4 bytes per pixel in the layout of a 32-bit bitmap's pixel
//    array; written after the headers of a 32-bit bitmap.
//  - 8 bits: a 1024-byte colour table, then at 1046 two bytes per pixel
//    (colour index, alpha). The bitmap keeps the index; every row is filled
//    up to a multiple of 4 bytes with the first bytes of the decoded data.
// The decoded data arrive in pieces, so that a large picture never has to
// be held whole. A picture whose data hold fewer rows than its header
// declares is written with the complete rows only; nothing is made up.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "bm2/bm2.h"

namespace vid::bm2 {

namespace {

constexpr std::size_t kPictureOffset = 22;
constexpr std::size_t kColourTableSize = 1024;
constexpr std::size_t kIndexedPixelsOffset = kPictureOffset + kColourTableSize;  // 1046
constexpr std::uint32_t kHeadersSize = 54;  // file header and information header
constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;

std::uint16_t u16_at(ByteView data, std::size_t pos) {
    const std::uint8_t lo = pos < data.size() ? data[pos] : 0;
    const std::uint8_t hi = pos + 1 < data.size() ? data[pos + 1] : 0;
    return static_cast<std::uint16_t>(lo | (hi << 8));
}

std::array<std::uint8_t, kHeadersSize> bitmap_headers(std::uint32_t file_size, std::uint32_t pixels_offset,
                                                       const AlphaHeader& h, std::uint16_t bits) {
    std::array<std::uint8_t, kHeadersSize> b{};
    b[0] = 'B';
    b[1] = 'M';
    store_u32(&b[2], file_size);
    store_u32(&b[10], pixels_offset);
    store_u32(&b[14], 40);
    store_u32(&b[18], h.width);
    store_u32(&b[22], h.height);
    store_u16(&b[26], 1);
    store_u16(&b[28], bits);
    return b;  // compression, image size, resolution and colour counts stay 0
}

// Emits `n` zero bytes in pieces.
bool emit_zeros(const Emit& emit, std::uint64_t n) {
    static constexpr std::array<std::uint8_t, 65536> kZeros{};
    while (n > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(n, kZeros.size()));
        if (!emit(ByteView(kZeros.data(), piece))) return false;
        n -= piece;
    }
    return true;
}

// The decoded data, read once from the start: the head (the first 1046
// bytes, or all when shorter) is gathered first, for the headers and the
// colour table; then the bytes from an offset within the head on.
class Decoded {
public:
    explicit Decoded(const Pieces& pieces) : pieces_(pieces) {
        while (head_size_ < head_.size()) {
            if (piece_.empty() && (piece_ = pieces_()).empty()) break;
            const std::size_t n = std::min(piece_.size(), head_.size() - head_size_);
            std::memcpy(head_.data() + head_size_, piece_.data(), n);
            head_size_ += n;
            piece_ = piece_.subspan(n);
        }
    }
    ByteView head() const { return ByteView(head_.data(), head_size_); }

    // Goes back to `offset` (at most 1046); next() gives the bytes from there.
    void start_at(std::size_t offset) { pending_ = offset < head_size_ ? head().subspan(offset) : ByteView{}; }
    // The next bytes; empty at the end.
    ByteView next() {
        ByteView out = !pending_.empty() ? pending_ : !piece_.empty() ? piece_ : pieces_();
        if (!pending_.empty()) {
            pending_ = {};
        } else {
            piece_ = {};
        }
        return out;
    }

private:
    const Pieces& pieces_;
    std::array<std::uint8_t, kIndexedPixelsOffset> head_{};
    std::size_t head_size_ = 0;
    ByteView piece_;    // what the last piece holds after the head
    ByteView pending_;  // the part of the head still to give
};

// The rows of `width` pixels that `pixels` pixels fill completely, up to `height`.
std::uint32_t whole_rows(std::uint64_t pixels, std::uint16_t width, std::uint16_t height) {
    if (width == 0) return height;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(pixels / width, height));
}

AlphaOutcome write_32(Decoded& data, std::uint64_t size, AlphaOutcome r, const Emit& emit) {
    const std::uint64_t picture = size - kPictureOffset;
    const std::uint64_t needed = 4 * std::uint64_t{r.header.width} * r.header.height;
    r.rows_held = whole_rows(picture / 4, r.header.width, r.header.height);
    // All of the picture when it holds every row (bytes after the last row
    // included); else its complete rows only.
    const std::uint64_t body = picture >= needed ? picture : 4 * std::uint64_t{r.header.width} * r.rows_held;
    if (kHeadersSize + body > kMaxFileSize) {
        r.result = AlphaResult::too_large;
        return r;
    }
    AlphaHeader shown = r.header;
    shown.height = static_cast<std::uint16_t>(r.rows_held);
    const auto headers = bitmap_headers(static_cast<std::uint32_t>(kHeadersSize + body), kHeadersSize, shown, 32);
    r.result = AlphaResult::write_failed;
    if (!emit(headers)) return r;
    std::uint64_t written = 0;
    data.start_at(kPictureOffset);
    for (ByteView piece = data.next(); !piece.empty() && written < body; piece = data.next()) {
        piece = piece.first(static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), body - written)));
        if (!emit(piece)) return r;
        written += piece.size();
    }
    // Pieces that end before `size` (a caller's short data) leave zeros.
    if (!emit_zeros(emit, body - written)) return r;
    r.result = r.rows_held < r.header.height ? AlphaResult::missing_rows : AlphaResult::written;
    return r;
}

AlphaOutcome write_8(Decoded& data, std::uint64_t size, AlphaOutcome r, const Emit& emit) {
    const std::size_t width = r.header.width;
    const std::size_t fill = (4 - width % 4) % 4;
    const std::size_t row = width + fill;
    const std::uint64_t offset = kHeadersSize + kColourTableSize;  // 1078
    // A pixel is held when its index byte is; its alpha byte is dropped anyway.
    const std::uint64_t pixels = (size - kIndexedPixelsOffset + 1) / 2;
    r.rows_held = whole_rows(pixels, r.header.width, r.header.height);
    const std::size_t height = r.rows_held;
    const std::uint64_t file_size = offset + static_cast<std::uint64_t>(row) * height;
    if (file_size > kMaxFileSize) {
        r.result = AlphaResult::too_large;
        return r;
    }
    AlphaHeader shown = r.header;
    shown.height = static_cast<std::uint16_t>(height);
    const ByteView head = data.head();
    const ByteView table =
        head.size() > kPictureOffset ? head.subspan(kPictureOffset, std::min(kColourTableSize, head.size() - kPictureOffset))
                                     : ByteView{};
    const auto headers = bitmap_headers(static_cast<std::uint32_t>(file_size), static_cast<std::uint32_t>(offset),
                                        shown, 8);
    r.result = AlphaResult::write_failed;
    if (!emit(headers) || !emit(table) || !emit_zeros(emit, kColourTableSize - table.size())) return r;

    // Rows go out through a buffer of whole rows; the index bytes come from
    // the pieces, the first of each pair, at even offsets from 1046.
    std::array<std::uint8_t, 3> fill_bytes{};
    std::copy_n(head.begin(), std::min<std::size_t>(3, head.size()), fill_bytes.begin());  // "BM2"
    const std::size_t buf_size = std::max<std::size_t>(row, 65536);
    const auto buf = std::make_unique_for_overwrite<std::uint8_t[]>(buf_size);
    std::size_t used = 0;
    std::size_t x = 0, y = 0;
    std::uint64_t pos = 0;  // offset from 1046 of the next byte of the pieces
    auto end_row = [&] {
        std::memcpy(&buf[used], fill_bytes.data(), fill);
        used += fill;
        x = 0;
        ++y;
        if (buf_size - used < row || y == height) {
            if (!emit(ByteView(buf.get(), used))) return false;
            used = 0;
        }
        return true;
    };
    if (width > 0) {
        data.start_at(kIndexedPixelsOffset);
        for (ByteView piece = data.next(); !piece.empty() && y < height; piece = data.next()) {
            std::size_t k = pos % 2;  // the first index byte of this piece
            pos += piece.size();
            for (; k < piece.size() && y < height; k += 2) {
                buf[used++] = piece[k];
                if (++x == width && !end_row()) return r;
            }
        }
        // Pieces that end before `size` (a caller's short data) leave zeros.
        while (y < height) {
            const std::size_t n = width - x;
            std::memset(&buf[used], 0, n);
            used += n;
            x = width;
            if (!end_row()) return r;
        }
    }
    r.result = r.rows_held < r.header.height ? AlphaResult::missing_rows : AlphaResult::written;
    return r;
}

}  // namespace

bool is_alpha(ByteView decoded) { return decoded.size() >= 4 && std::memcmp(decoded.data(), "BM2A", 4) == 0; }

AlphaHeader alpha_header(ByteView decoded) {
    return AlphaHeader{u16_at(decoded, 8), u16_at(decoded, 14), u16_at(decoded, 16)};
}

AlphaOutcome write_alpha(const Pieces& pieces, std::uint64_t size, const Emit& emit) {
    Decoded data(pieces);
    AlphaOutcome r;
    r.size = size;
    r.header = alpha_header(data.head());
    // The header first, then its bit count, then the colour table.
    const auto cut = [&r](std::uint64_t needs) {
        r.header_size = needs;
        r.result = AlphaResult::cut_header;
        return r;
    };
    if (size < kPictureOffset) return cut(kPictureOffset);
    switch (r.header.bit_count) {
        case 24: return write_32(data, size, r, emit);
        case 8: return size < kIndexedPixelsOffset ? cut(kIndexedPixelsOffset) : write_8(data, size, r, emit);
        default: r.result = AlphaResult::bad_bit_count; return r;
    }
}

AlphaOutcome write_alpha(ByteView decoded, const Emit& emit) {
    bool given = false;
    return write_alpha(
        [&]() -> ByteView {
            if (given) return {};
            given = true;
            return decoded;
        },
        decoded.size(), emit);
}

}  // namespace vid::bm2

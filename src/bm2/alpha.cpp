// The alpha pictures of BM2 images, written as Windows bitmap files.
//
// Alpha header (offsets in the decoded data): "BM2A" at 0, bit count at 8,
// width at 14, height at 16, all 16-bit; the picture starts at 22.
//  - 24 bits: 4 bytes per pixel in the layout of a 32-bit bitmap's pixel
//    array; written after the headers of a 32-bit bitmap.
//  - 8 bits: a 1024-byte colour table, then at 1046 two bytes per pixel
//    (colour index, alpha). The bitmap keeps the index; every row is filled
//    up to a multiple of 4 bytes with the first bytes of the decoded data.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "bm2/bm2.h"

namespace vid::bm2 {

namespace {

constexpr std::size_t kPictureOffset = 22;
constexpr std::size_t kColourTableSize = 1024;
constexpr std::size_t kIndexedPixelsOffset = kPictureOffset + kColourTableSize;  // 1046
constexpr std::uint32_t kHeadersSize = 54;                                       // file header and information header
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

ByteView tail_from(ByteView data, std::size_t pos) {
    return pos < data.size() ? data.subspan(pos) : ByteView{};
}

AlphaOutcome write_32(ByteView decoded, AlphaOutcome r, const Emit& emit) {
    const ByteView picture = tail_from(decoded, kPictureOffset);
    const std::uint64_t needed = 4 * r.pixels_needed;
    const std::uint64_t body = std::max<std::uint64_t>(picture.size(), needed);
    r.pixels_held = std::min<std::uint64_t>(picture.size() / 4, r.pixels_needed);
    if (kHeadersSize + body > kMaxFileSize) {
        r.result = AlphaResult::too_large;
        return r;
    }
    const auto headers = bitmap_headers(static_cast<std::uint32_t>(kHeadersSize + body), kHeadersSize, r.header, 32);
    if (!emit(headers) || !emit(picture) || !emit_zeros(emit, body - picture.size())) {
        r.result = AlphaResult::write_failed;
        return r;
    }
    r.result = picture.size() < needed ? AlphaResult::missing_pixels : AlphaResult::written;
    return r;
}

AlphaOutcome write_8(ByteView decoded, AlphaOutcome r, const Emit& emit) {
    const std::size_t width = r.header.width;
    const std::size_t height = r.header.height;
    const std::size_t fill = (4 - width % 4) % 4;
    const std::size_t row = width + fill;
    const std::uint64_t offset = kHeadersSize + kColourTableSize;  // 1078
    const std::uint64_t file_size = offset + static_cast<std::uint64_t>(row) * height;
    const ByteView pairs = tail_from(decoded, kIndexedPixelsOffset);
    // A pixel is held when its index byte is; its alpha byte is dropped anyway.
    r.pixels_held = std::min<std::uint64_t>((pairs.size() + 1) / 2, r.pixels_needed);
    if (file_size > kMaxFileSize) {
        r.result = AlphaResult::too_large;
        return r;
    }
    const ByteView table = decoded.subspan(std::min(kPictureOffset, decoded.size()),
                                           std::min(kColourTableSize, tail_from(decoded, kPictureOffset).size()));
    const auto headers = bitmap_headers(static_cast<std::uint32_t>(file_size), static_cast<std::uint32_t>(offset),
                                        r.header, 8);
    if (!emit(headers) || !emit(table) || !emit_zeros(emit, kColourTableSize - table.size())) {
        r.result = AlphaResult::write_failed;
        return r;
    }

    // Rows go out through a buffer of whole rows.
    std::vector<std::uint8_t> buf(std::max<std::size_t>(row, 65536));
    std::size_t used = 0;
    const std::uint8_t* in = pairs.data();
    const std::size_t in_size = pairs.size();
    std::size_t k = 0;  // pixel number
    for (std::size_t y = 0; y < height; ++y) {
        if (buf.size() - used < row) {
            if (!emit(ByteView(buf.data(), used))) {
                r.result = AlphaResult::write_failed;
                return r;
            }
            used = 0;
        }
        std::uint8_t* dst = buf.data() + used;
        if (2 * (k + width) <= in_size) {
            for (std::size_t x = 0; x < width; ++x) dst[x] = in[2 * (k + x)];
        } else {
            for (std::size_t x = 0; x < width; ++x) dst[x] = 2 * (k + x) < in_size ? in[2 * (k + x)] : 0;
        }
        std::memcpy(dst + width, decoded.data(), fill);  // "BM2A" holds at least 3 bytes
        used += row;
        k += width;
    }
    if (used > 0 && !emit(ByteView(buf.data(), used))) {
        r.result = AlphaResult::write_failed;
        return r;
    }
    r.result = r.pixels_held < r.pixels_needed ? AlphaResult::missing_pixels : AlphaResult::written;
    return r;
}

}  // namespace

bool is_alpha(ByteView decoded) { return decoded.size() >= 4 && std::memcmp(decoded.data(), "BM2A", 4) == 0; }

AlphaHeader alpha_header(ByteView decoded) {
    return AlphaHeader{u16_at(decoded, 8), u16_at(decoded, 14), u16_at(decoded, 16)};
}

AlphaOutcome write_alpha(ByteView decoded, const Emit& emit) {
    AlphaOutcome r;
    r.header = alpha_header(decoded);
    r.pixels_needed = static_cast<std::uint64_t>(r.header.width) * r.header.height;
    switch (r.header.bit_count) {
        case 24: return write_32(decoded, r, emit);
        case 8: return write_8(decoded, r, emit);
        default: r.result = AlphaResult::bad_bit_count; return r;
    }
}

}  // namespace vid::bm2

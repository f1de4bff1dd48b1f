// LZSS decompression straight into the output.
//
// The format's window is a ring of 4096 bytes, zero at the start, written
// from position 4078 on. Every output byte goes both to the output and to
// the window, so the window always holds the last 4096 output bytes, and
// output byte o sits at window position (4078 + o) mod 4096. A match source
// p therefore names the output byte D places back, D from 1 to 4096; when
// that lies before the first output byte, it is one of the window's
// initial zeros. The decoder keeps no window: it copies from the output.
#include <cstring>

#include "bm2/bm2.h"

namespace vid::bm2 {

namespace {

// How far back (1 to 4096) window position `p` is from the write position
// that belongs to output byte `o`.
inline std::size_t distance(std::size_t o, std::size_t p) {
    const std::size_t w = (kWindowStart + o) & (kWindowSize - 1);
    return ((w - p - 1) & (kWindowSize - 1)) + 1;
}

// Copies `len` bytes from `dist` places back to out + o; `o + len` is
// within the output.
inline void copy_match(std::uint8_t* out, std::size_t o, std::size_t dist, std::size_t len) {
    std::uint8_t* dst = out + o;
    if (dist > o) {
        // Starts in the initial zeros of the window.
        const std::size_t zeros = dist - o < len ? dist - o : len;
        std::memset(dst, 0, zeros);
        for (std::size_t t = zeros; t < len; ++t) dst[t] = out[o + t - dist];
        return;
    }
    const std::uint8_t* src = dst - dist;
    if (dist >= len) {
        std::memcpy(dst, src, len);
    } else if (dist == 1) {
        std::memset(dst, *src, len);
    } else {
        for (std::size_t t = 0; t < len; ++t) dst[t] = src[t];  // overlapping: repeats the pattern
    }
}

}  // namespace

std::size_t lzss_decode(ByteView packed, std::span<std::uint8_t> out_span) {
    const std::uint8_t* in = packed.data();
    const std::size_t in_size = packed.size();
    std::uint8_t* out = out_span.data();
    const std::size_t out_size = out_span.size();
    std::size_t i = 0;
    std::size_t o = 0;

    // Whole groups (a flag byte and eight items) while both the packed data
    // and the output have room for the largest group: no checks per item.
    while (in_size - i >= 17 && out_size - o >= 8 * kMaxMatch) {
        unsigned flags = in[i++];
        for (int k = 0; k < 8; ++k, flags >>= 1) {
            if (flags & 1u) {
                out[o++] = in[i++];
            } else {
                const std::size_t p = in[i] | (static_cast<std::size_t>(in[i + 1] & 0xF0u) << 4);
                const std::size_t len = (in[i + 1] & 0x0Fu) + 3u;
                i += 2;
                copy_match(out, o, distance(o, p), len);
                o += len;
            }
        }
    }

    // The tail, item by item, with every bound checked.
    while (i < in_size && o < out_size) {
        unsigned flags = in[i++];
        for (int k = 0; k < 8 && i < in_size && o < out_size; ++k, flags >>= 1) {
            if (flags & 1u) {
                out[o++] = in[i++];
            } else {
                if (in_size - i < 2) return o;  // a match cut by the end of the data
                const std::size_t p = in[i] | (static_cast<std::size_t>(in[i + 1] & 0xF0u) << 4);
                std::size_t len = (in[i + 1] & 0x0Fu) + 3u;
                i += 2;
                if (len > out_size - o) len = out_size - o;
                copy_match(out, o, distance(o, p), len);
                o += len;
            }
        }
    }
    return o;
}

}  // namespace vid::bm2

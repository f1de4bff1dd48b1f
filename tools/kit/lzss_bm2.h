// An LZSS compressor of ours for the BM2 format, and makers of the images
// that BM2 files hold: ordinary bitmap files and alpha pictures.
#pragma once

#include <cstdint>
#include <span>

#include "core/bytes.h"

namespace vid::kit {

// Compresses `data` into the LZSS stream of BM2 files (4096-byte window,
// zero at the start, first written at 4078; matches of 3 to 18 bytes).
// Greedy, with hash chains; matches may reach into the window's initial
// zeros.
Bytes lzss_encode(ByteView data);

// A BM2 file around already packed data, with the sizes given as they
// should appear in the header (any values, for files that lie).
Bytes bm2_wrap(ByteView packed, std::int32_t packed_size, std::int32_t unpacked_size);

// A BM2 file that decodes to `decoded`.
Bytes bm2_file(ByteView decoded);

// A 24-bit bottom-up Windows bitmap file of `width` x `height` that looks
// like a game screen: sky, hills, tiled ground and grainy sprites.
Bytes bmp24(std::uint16_t width, std::uint16_t height, std::uint64_t seed);

// The decoded data of an alpha picture: "BM2A", the bit count, width and
// height at their places, then `picture` from offset 22.
Bytes bm2_alpha(std::uint16_t bit_count, std::uint16_t width, std::uint16_t height, ByteView picture);

// A picture for bm2_alpha: 24 bits gives 4 bytes per pixel (blue, green,
// red, alpha); 8 bits a 1024-byte colour table and 2 bytes per pixel
// (index, alpha).
Bytes alpha_picture(std::uint16_t bit_count, std::uint16_t width, std::uint16_t height, std::uint64_t seed);

}  // namespace vid::kit

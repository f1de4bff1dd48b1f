// PNG files made from their parts, for tests, fuzz seeds and benchmarks:
// the inflated image data (filter bytes included) are given as they stand,
// so that a file may hold more or less than its header needs.
#pragma once

#include <cstdint>

#include "core/bytes.h"

namespace vid::kit {

struct PngParts {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    std::uint8_t depth = 8;
    std::uint8_t colour = 6;  // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
    std::uint8_t interlace = 0;
    Bytes raw;                // the inflated image data: each row's filter byte, then its samples
    std::uint64_t zeros = 0;  // zero bytes deflated after `raw`
    Bytes plte, trns;         // chunk bodies; empty: no chunk
    int level = 6;            // zlib's compression level
    std::size_t idat = 0;     // IDAT chunks of at most this many bytes; 0: one
    bool iend = true;
};

Bytes png_file(const PngParts& parts);

// One PNG chunk: length, type, body, CRC.
Bytes png_chunk(const char* type, ByteView body);

}  // namespace vid::kit

// LZSS compression for BM2 images: the stream that lzss_decode() reads.
//
// Items behind flag bytes (least significant bit first; 1 = literal byte,
// 0 = match of two bytes: window position and length 3 to 18), over the
// window of 4096 bytes that starts all zero and is first written at 4078.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/bytes.h"

namespace vid::bm2 {

// Compresses `data`. Every match source lies at most 4096 bytes back,
// the window's initial zeros included. The parse is optimal for the
// format's costs (9 bits a literal, 17 a match) given the longest match at
// every position: never larger than taking the longest match at each step.
// Memory beyond the output: under 1 MiB, whatever the size of `data`.
Bytes lzss_encode(ByteView data);

}  // namespace vid::bm2

// BM2 LZSS: every stream the compressor makes decodes to exactly its input,
// with the fast decoder and with a byte-at-a-time window decoder.
#include <cstdint>
#include <cstdlib>

#include "bm2/bm2.h"
#include "bm2/lzss_encode.h"

namespace {

// The format as it is described: a 4096-byte ring, zero at first, written from 4078.
vid::Bytes window_decode(vid::ByteView in, std::size_t out_size) {
    vid::Bytes out, window(4096, 0);
    std::size_t i = 0, w = 4078;
    auto put = [&](std::uint8_t b) { out.push_back(b), window[w] = b, w = (w + 1) % 4096; };
    while (i < in.size() && out.size() < out_size) {
        unsigned flags = in[i++];
        for (int k = 0; k < 8 && i < in.size() && out.size() < out_size; ++k, flags >>= 1) {
            if (flags & 1) {
                put(in[i++]);
            } else {
                if (i + 1 >= in.size()) std::abort();  // the compressor never cuts a match
                std::size_t p = in[i] | ((in[i + 1] & 0xF0u) << 4), len = (in[i + 1] & 0x0Fu) + 3u;
                for (i += 2; len > 0 && out.size() < out_size; --len, p = (p + 1) % 4096) put(window[p]);
            }
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks a stretch factor, so that long inputs with long
    // repeats are reached from short ones.
    vid::Bytes input(data, data + size);
    if (size > 1 && data[0] < 16) {
        input.clear();
        for (std::size_t k = 1; k < size; ++k) input.insert(input.end(), data[0] + 1u, data[k]);
    }
    const vid::Bytes packed = vid::bm2::lzss_encode(input);
    if (packed.size() > input.size() + (input.size() + 7) / 8) std::abort();  // all literals is the worst
    vid::Bytes out(input.size());
    if (vid::bm2::lzss_decode(packed, out) != input.size() || out != input) std::abort();
    if (window_decode(packed, input.size()) != input) std::abort();
    return 0;
}

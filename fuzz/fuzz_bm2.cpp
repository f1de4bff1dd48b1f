// BM2: the LZSS decompressor against a byte-at-a-time window decoder, and
// the alpha bitmap writer, whose headers must agree with what it writes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bm2/bm2.h"

namespace {

std::vector<std::uint8_t> window_decode(vid::ByteView in, std::size_t out_size) {
    std::vector<std::uint8_t> out(out_size, 0), window(4096, 0);
    std::size_t i = 0, o = 0, w = 4078;
    auto put = [&](std::uint8_t b) {
        out[o++] = b;
        window[w] = b;
        w = (w + 1) % 4096;
    };
    while (i < in.size() && o < out_size) {
        unsigned flags = in[i++];
        for (int k = 0; k < 8 && i < in.size() && o < out_size; ++k, flags >>= 1) {
            if (flags & 1) {
                put(in[i++]);
                continue;
            }
            if (i + 1 >= in.size()) return out;
            std::size_t p = in[i] | ((in[i + 1] & 0xF0u) << 4), len = (in[i + 1] & 0x0Fu) + 3u;
            i += 2;
            for (; len > 0 && o < out_size; --len, p = (p + 1) % 4096) put(window[p]);
        }
    }
    return out;
}

void check_alpha(vid::ByteView decoded) {
    const vid::bm2::AlphaHeader h = vid::bm2::alpha_header(decoded);
    if (std::uint64_t{h.width} * h.height > (1u << 14)) return;  // keep each run short
    std::uint64_t written = 0;
    std::vector<std::uint8_t> head;
    const auto r = vid::bm2::write_alpha(decoded, [&](vid::ByteView piece) {
        if (head.size() < 6) head.insert(head.end(), piece.begin(), piece.begin() + std::min<std::size_t>(6, piece.size()));
        written += piece.size();
        return true;
    });
    if (r.result == vid::bm2::AlphaResult::written || r.result == vid::bm2::AlphaResult::missing_pixels) {
        if (head.size() < 6 || vid::load_u32(&head[2]) != written) std::abort();
    } else if (written != 0) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first two bytes choose the unpacked size, the rest is the stream.
    const std::size_t out_size = static_cast<std::size_t>(data[0] | (data[1] << 8)) % 20000;
    const vid::ByteView packed(data + 2, size - 2);
    std::vector<std::uint8_t> out(out_size, 0);
    const std::size_t n = vid::bm2::lzss_decode(packed, out);
    if (n > out_size || n > vid::bm2::max_unpacked(packed.size())) std::abort();
    if (out != window_decode(packed, out_size)) std::abort();
    // The piecewise reader, in small pieces.
    // It must give what the whole-buffer decoder gives, whose output cut at
    // any size is the same as decoding to that size.
    const std::size_t long_size = out_size + 300;
    std::vector<std::uint8_t> long_out(long_size);
    const std::size_t long_n = vid::bm2::lzss_decode(packed, long_out);
    if (!std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n), long_out.begin())) std::abort();
    vid::bm2::LzssReader reader(packed, long_size, 1 + data[0] % 200u);
    std::size_t at = 0;
    for (vid::ByteView piece = reader.next(); !piece.empty(); piece = reader.next()) {
        if (piece.size() > long_size - at || !std::equal(piece.begin(), piece.end(), long_out.begin() + static_cast<std::ptrdiff_t>(at)))
            std::abort();
        at += piece.size();
    }
    if (at != long_size || reader.produced() != long_n) std::abort();

    // The alpha writer, on what was decoded and on the input itself.
    if (vid::bm2::is_alpha(out)) check_alpha(out);
    std::vector<std::uint8_t> raw{'B', 'M', '2', 'A'};
    raw.insert(raw.end(), data, data + size);
    check_alpha(raw);
    return 0;
}

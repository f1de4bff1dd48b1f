// BM2: the LZSS decompressor and its piecewise reader against a
// byte-at-a-time window decoder, and the alpha bitmap writer, whose headers
// must agree with what it writes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "bm2/bm2.h"

namespace {

using vid::Bytes;
using vid::ByteView;

// The format as it is described: a 4096-byte ring, zero at first, written from 4078.
Bytes window_decode(ByteView in, std::size_t out_size, std::size_t& o) {
    Bytes out(out_size, 0), window(4096, 0);
    std::size_t i = 0, w = 4078;
    o = 0;
    auto put = [&](std::uint8_t b) { window[w] = out[o++] = b, w = (w + 1) % 4096; };
    while (i < in.size() && o < out_size) {
        unsigned flags = in[i++];
        for (int k = 0; k < 8 && i < in.size() && o < out_size; ++k, flags >>= 1) {
            if (flags & 1) {
                put(in[i++]);
            } else if (i + 1 < in.size()) {
                std::size_t p = in[i] | ((in[i + 1] & 0xF0u) << 4), len = (in[i + 1] & 0x0Fu) + 3u;
                for (i += 2; len > 0 && o < out_size; --len, p = (p + 1) % 4096) put(window[p]);
            } else {
                return out;  // a match cut by the end of the data
            }
        }
    }
    return out;
}

struct Trickle : vid::bm2::PackedSource {
    Trickle(ByteView d, std::size_t s) : data(d), step(s) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        const std::size_t n = std::min({out.size(), step, data.size() - pos});
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), n, out.begin());
        return pos += n, n;
    }
    ByteView data;
    std::size_t step, pos = 0;
};

// Whatever it writes starts with a file size equal to the bytes written, and
// is no larger than the data can justify.
void check_alpha(ByteView decoded) {
    const auto h = vid::bm2::alpha_header(decoded);
    Bytes file;
    const auto r = vid::bm2::write_alpha(decoded, [&](ByteView p) { return file.insert(file.end(), p.begin(), p.end()), true; });
    const bool wrote = r.result == vid::bm2::AlphaResult::written || r.result == vid::bm2::AlphaResult::missing_rows;
    if (wrote ? file.size() < 6 || vid::load_u32(&file[2]) != file.size() : !file.empty()) std::abort();
    // Nothing beyond the data: whatever the declared size, the bitmap holds
    // the rows that the data hold (and the row fill of 8-bit rows).
    if (wrote && (r.rows_held > h.height || vid::load_u32(&file[22]) != r.rows_held ||
                  file.size() > 1078 + 2 * decoded.size()))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first two bytes choose the unpacked size, the rest is the stream.
    const std::size_t out_size = static_cast<std::size_t>(data[0] | (data[1] << 8)) % 20000;
    const ByteView packed(data + 2, size - 2);
    std::size_t produced = 0;
    const Bytes want = window_decode(packed, out_size + 300, produced);
    Bytes out(out_size);
    const std::size_t n = vid::bm2::lzss_decode(packed, out);
    if (n != std::min(produced, out_size) || n > vid::bm2::max_unpacked(packed.size()) ||
        !std::equal(out.begin(), out.end(), want.begin()))
        std::abort();
    vid::bm2::LzssReader reader(packed, want.size(), 1 + data[0] % 200u);
    Bytes pieces;
    for (ByteView p = reader.next(); !p.empty(); p = reader.next()) pieces.insert(pieces.end(), p.begin(), p.end());
    if (pieces != want || reader.produced() != produced) std::abort();
    // The packed data pulled in reads of 1 to 8 bytes into the smallest input buffer.
    Trickle trickle(packed, 1 + data[1] % 8u);
    vid::bm2::LzssReader pulled(trickle, packed.size(), want.size(), 1 + data[0] % 200u, 0);
    pieces.clear();
    for (ByteView p = pulled.next(); !p.empty(); p = pulled.next()) pieces.insert(pieces.end(), p.begin(), p.end());
    if (pieces != want || pulled.produced() != produced) std::abort();
    // The alpha writer, on what was decoded and on the input itself.
    if (vid::bm2::is_alpha(out)) check_alpha(out);
    Bytes raw{'B', 'M', '2', 'A'};
    raw.insert(raw.end(), data, data + size);
    check_alpha(raw);
    return 0;
}

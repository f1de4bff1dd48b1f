// WV5: the run decoder on any bytes, whole and in small pieces; it must stop
// at the end of the data or at its output limit, account for every byte, and
// give the same samples however the data arrive.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "wv5/wv5.h"

namespace {

struct Pieces : vid::wv5::Source, vid::wv5::Sink {
    Pieces(vid::ByteView d, std::size_t p) : data(d), piece(p) {}
    std::size_t read(std::span<std::uint8_t> to) override {
        const std::size_t n = std::min({to.size(), piece, data.size() - pos});
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), n, to.begin());
        return pos += n, n;
    }
    bool write(vid::ByteView b) override { return out.insert(out.end(), b.begin(), b.end()), true; }
    vid::ByteView data;
    std::size_t piece, pos = 0;
    vid::Bytes out;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto h = vid::wv5::parse_header(vid::ByteView(data, size));
    if (!h) return 0;
    const vid::ByteView runs(data + vid::wv5::kHeaderSize, size - vid::wv5::kHeaderSize);
    constexpr std::uint64_t kLimit = 1 << 17;
    Pieces a(runs, 1 << 20), b(runs, 1 + data[0] % 7);
    const auto ra = vid::wv5::decode_runs(*h, a, a, kLimit);
    const auto rb = vid::wv5::decode_runs(*h, b, b, kLimit);
    if (ra.bytes != a.out.size() || ra.bytes % 2 != 0 || ra.bytes > kLimit) std::abort();
    if (a.out != b.out || ra.stop != rb.stop || ra.runs_done != rb.runs_done) std::abort();
    if (ra.stop == vid::wv5::Stop::done && ra.runs_done != std::max(0, h->runs)) std::abort();
    const auto wav = vid::wv5::wav_header(*h, static_cast<std::uint32_t>(ra.bytes));
    if (vid::load_u16(&wav[22]) * 2 != vid::load_u16(&wav[32])) std::abort();
    return 0;
}

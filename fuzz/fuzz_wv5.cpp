// WV5: the run decoder on any bytes, fed in small pieces; it must stop at
// the end of the data or at its output limit, and account for every byte.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "wv5/wv5.h"

namespace {

class Pieces : public vid::wv5::Source {
public:
    Pieces(vid::ByteView d, std::size_t piece) : d_(d), piece_(piece) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        const std::size_t n = std::min({out.size(), piece_, d_.size() - pos_});
        std::copy_n(d_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out.begin());
        pos_ += n;
        return n;
    }

private:
    vid::ByteView d_;
    std::size_t piece_;
    std::size_t pos_ = 0;
};

class Count : public vid::wv5::Sink {
public:
    bool write(vid::ByteView b) override {
        bytes += b.size();
        for (std::uint8_t x : b) sum += x;
        return true;
    }
    std::uint64_t bytes = 0;
    std::uint64_t sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto h = vid::wv5::parse_header(vid::ByteView(data, size));
    if (!h) return 0;
    const vid::ByteView runs(data + vid::wv5::kHeaderSize, size - vid::wv5::kHeaderSize);
    constexpr std::uint64_t kLimit = 1 << 17;
    Pieces whole(runs, 1 << 20), small(runs, 1 + data[0] % 7);
    Count a, b;
    const auto ra = vid::wv5::decode_runs(*h, whole, a, kLimit);
    const auto rb = vid::wv5::decode_runs(*h, small, b, kLimit);
    if (ra.bytes != a.bytes || ra.bytes % 2 != 0 || ra.bytes > kLimit) std::abort();
    if (ra.bytes != rb.bytes || a.sum != b.sum || ra.stop != rb.stop || ra.runs_done != rb.runs_done) std::abort();
    if (ra.stop == vid::wv5::Stop::done && ra.runs_done != std::max(0, h->runs)) std::abort();
    const auto wav = vid::wv5::wav_header(*h, static_cast<std::uint32_t>(ra.bytes));
    if (vid::load_u16(&wav[22]) * 2 != vid::load_u16(&wav[32])) std::abort();
    return 0;
}

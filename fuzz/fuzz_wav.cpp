// Encode WV5's input: the WAV reader on any bytes, then the encoder on what
// it reads. An accepted file's sizes must lie within the bytes and every
// sample must be readable; the codes must cover every sample, the runs
// must decode to as many samples, and what they decode to must encode
// again to the same samples exactly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <variant>
#include <vector>

#include "wv5/encoder.h"
#include "wv5/runs.h"
#include "wv5/convert.h"
#include "wv5/wav_reader.h"
#include "wv5/wv5.h"

namespace {

using Samples = std::vector<std::int16_t>;

struct Memory : vid::wv5::RandomInput {
    explicit Memory(vid::ByteView d) : data(d) {}
    std::uint64_t size() const override { return data.size(); }
    std::size_t read_at(std::uint64_t pos, std::span<std::uint8_t> out) override {
        if (pos >= data.size()) return 0;
        const std::size_t n = std::min<std::size_t>(out.size(), data.size() - static_cast<std::size_t>(pos));
        std::memcpy(out.data(), data.data() + pos, n);
        return n;
    }
    vid::ByteView data;
};

struct Io : vid::wv5::Source, vid::wv5::Sink {
    vid::ByteView in;
    vid::Bytes out;
    std::size_t read(std::span<std::uint8_t> to) override {
        const std::size_t k = std::min(to.size(), in.size());
        std::copy_n(in.begin(), k, to.begin());
        in = in.subspan(k);
        return k;
    }
    bool write(vid::ByteView b) override { return out.insert(out.end(), b.begin(), b.end()), true; }
};

// Encodes and decodes `s`; what the decoder gives.
Samples round_trip(const Samples& s, bool two) {
    vid::wv5::CodeStream stream(two, 4);
    vid::Bytes codes;
    stream.push(s, codes);
    stream.finish(codes);
    if (codes.size() != s.size()) std::abort();
    std::uint64_t runs = 0;
    const vid::Bytes packed = vid::wv5::pack_runs(codes, &runs);
    vid::wv5::Header h;
    h.channels = two ? 2 : 1;
    h.runs = static_cast<std::int32_t>(runs);
    Io io;
    io.in = packed;
    const auto r = vid::wv5::decode_runs(h, io, io);
    if (r.stop != vid::wv5::Stop::done || io.out.size() != 2 * s.size()) std::abort();
    Samples back(s.size());
    for (std::size_t i = 0; i < back.size(); ++i) back[i] = static_cast<std::int16_t>(vid::load_u16(&io.out[2 * i]));
    return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Memory m(vid::ByteView(data, size));
    const auto r = vid::wv5::read_wav(m);
    const auto* sound = std::get_if<vid::wv5::WavSound>(&r);
    if (!sound) {
        if (std::get<std::string>(r).empty()) std::abort();
        return 0;
    }
    const std::uint32_t sample_size = sound->bits / 8u;
    if (sound->channels < 1 || sound->channels > 8 || sound->rate < 1000 || sound->rate > 384000) std::abort();
    if (sample_size == 0 || sound->data_offset + sound->data_size > size || sound->data_size % sample_size != 0)
        std::abort();
    vid::wv5::SampleReader reader(m, *sound);
    if (!sound->is_16_bit()) {
        // Any other format: every value read, finite, within full scale for integers; then converted.
        std::vector<double> values(3 * 1000 / sound->channels * sound->channels), all;
        while (const std::size_t n = reader.read(std::span<double>(values)))
            all.insert(all.end(), values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
        if (reader.failed() || all.size() != sound->data_size / sample_size) std::abort();
        for (double v : all)
            if (!std::isfinite(v) || (!sound->floating && (v < -1 || v >= 1))) std::abort();
        all.resize(std::min<std::size_t>(all.size(), 4096) / sound->channels * sound->channels);
        vid::wv5::Converter c(sound->channels, sound->rate, 1, 22050);
        std::vector<std::int16_t> out;
        if (!c.push(all, out) || !c.finish(out)) std::abort();
        return 0;
    }
    Samples s, buf(1000);
    while (const std::size_t n = reader.read(buf))
        s.insert(s.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    if (reader.failed() || s.size() != sound->data_size / 2u) std::abort();
    if (sound->channels > 2) return 0;
    s.resize(std::min<std::size_t>(s.size(), 1023));
    const bool two = sound->channels == 2;
    const Samples once = round_trip(s, two);
    if (round_trip(once, two) != once) std::abort();
    return 0;
}

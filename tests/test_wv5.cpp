// WV5 sounds: the run decoder, the WAV headers and the per-file converter.
#include <gtest/gtest.h>

#include <algorithm>

#include "kit/samples.h"
#include "kit/wv5_encode.h"
#include "test_support.h"
#include "wv5/wv5.h"

namespace vid {
namespace {

// Hands out the data a few bytes at a time, to cross every buffer edge.
class PieceSource : public wv5::Source {
public:
    PieceSource(ByteView data, std::size_t piece) : data_(data), piece_(piece) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        const std::size_t n = std::min({out.size(), piece_, data_.size() - pos_});
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out.begin());
        pos_ += n;
        return n;
    }

private:
    ByteView data_;
    std::size_t piece_;
    std::size_t pos_ = 0;
};

class Collect : public wv5::Sink {
public:
    bool write(ByteView b) override {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return true;
    }
    std::vector<std::int16_t> samples() const {
        std::vector<std::int16_t> s;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
            s.push_back(static_cast<std::int16_t>(load_u16(&bytes[i])));
        return s;
    }
    Bytes bytes;
};

struct Decoded {
    wv5::Outcome outcome;
    std::vector<std::int16_t> samples;
};

Decoded decode(const Bytes& file, std::size_t piece = 1 << 20, std::uint64_t max_bytes = wv5::kMaxDataSize) {
    const auto h = wv5::parse_header(file);
    EXPECT_TRUE(h);
    PieceSource src(ByteView(file).subspan(wv5::kHeaderSize), piece);
    Collect sink;
    const wv5::Outcome o = wv5::decode_runs(*h, src, sink, max_bytes);
    EXPECT_EQ(o.bytes, sink.bytes.size());
    return {o, sink.samples()};
}

using Samples = std::vector<std::int16_t>;

TEST(Wv5, RunsAndChannels) {
    using kit::Wv5Builder;
    Bytes codes(256);
    for (std::size_t i = 0; i < 256; ++i) codes[i] = static_cast<std::uint8_t>(i + 1);
    const struct {
        const char* what;
        Bytes file;
        Samples want;  // the first samples
        std::size_t count;
    } cases[] = {
        {"kind 0", Wv5Builder(1, 8000).run0({10, 138, 0}).finish(), {13, 0, 0}, 3},
        {"kind k", Wv5Builder(1, 8000).repeat(5, 2).finish(), {2, 4, 6, 8, 10}, 5},
        {"wraps", Wv5Builder(1, 8000).run0({127, 127}).finish(), {32767, -2}, 2},
        {"down", Wv5Builder(1, 8000).repeat(2, 134).run3(2, 255).finish(), {-7, -14, 32755, -12}, 4},
        {"kind 3 count 0 reads its code", Wv5Builder(1, 8000).run3(0, 5).run0({1}).finish(), {1}, 1},
        {"kind 0 count 0", Wv5Builder(1, 8000).run0({}).run0({2}).finish(), {2}, 1},
        {"kind 3", Wv5Builder(1, 8000).run3(1000, 1).finish(), {1, 2, 3}, 1000},
        {"two channels, kind 1", Wv5Builder(2, 8000).run1(codes).finish(), {1, 2, 4, 6, 9, 13, 17, 22}, 256},
        {"alternation across runs", Wv5Builder(2, 8000).run0({10}).repeat(5, 1).run0({1}).finish(),
         {13, 1, 14, 2, 15, 3, 16}, 7},
        {"three channels decode as two", Wv5Builder(3, 8000).repeat(4, 3).finish(), {3, 3, 6, 6}, 4},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
            const Decoded d = decode(c.file, piece);
            EXPECT_EQ(d.outcome.stop, wv5::Stop::done) << c.what;
            ASSERT_EQ(d.samples.size(), c.count) << c.what;
            EXPECT_EQ(Samples(d.samples.begin(), d.samples.begin() + static_cast<std::ptrdiff_t>(c.want.size())),
                      c.want)
                << c.what << ", pieces of " << piece;
        }
    }
}

TEST(Wv5, LongRunsCrossTheOutputBuffer) {
    // 40001 samples of a ramp on two channels, more than one buffer, then
    // one code: it goes to the second channel.
    for (std::size_t piece : {std::size_t{3}, std::size_t{1} << 20}) {
        const Decoded d = decode(kit::Wv5Builder(2, 8000).run3(40001, 1).run0({10}).finish(), piece);
        ASSERT_EQ(d.samples.size(), 40002u);
        EXPECT_EQ(d.samples[39998], 20000);
        EXPECT_EQ(d.samples[39999], 20000);
        EXPECT_EQ(d.samples[40000], 20001);
        EXPECT_EQ(d.samples[40001], 20013);
    }
}

TEST(Wv5, FilesThatEndEarly) {
    const Bytes cut_codes = kit::Wv5Builder(1, 8000).run0({1}).raw_run(Bytes{0, 5, 1, 1}).finish();
    Decoded d = decode(cut_codes);
    EXPECT_EQ(d.outcome.stop, wv5::Stop::input_ended);
    EXPECT_EQ(d.outcome.runs_done, 1);
    EXPECT_EQ(d.samples, (Samples{1, 2, 3})) << "the codes that are there";

    for (const Bytes& cut : {Bytes{3, 9, 0}, Bytes{7}, Bytes{0}}) {
        d = decode(kit::Wv5Builder(1, 8000).repeat(2, 1).raw_run(cut).finish());
        EXPECT_EQ(d.outcome.stop, wv5::Stop::input_ended);
        EXPECT_EQ(d.samples, (Samples{1, 2}));
    }
    d = decode(kit::Wv5Builder(1, 8000).repeat(2, 1).finish(std::nullopt, 5));
    EXPECT_EQ(d.outcome.stop, wv5::Stop::input_ended);
    EXPECT_EQ(d.outcome.runs_done, 1);

    d = decode(kit::Wv5Builder(1, 8000).repeat(4, 1).repeat(4, 1).finish(), 1 << 20, 10);
    EXPECT_EQ(d.outcome.stop, wv5::Stop::too_long);
    EXPECT_EQ(d.samples.size(), 4u);
}

TEST(Wv5, WavHeader) {
    const wv5::Header h{3, 22050, 5, 1};
    Bytes want = test::bytes_of("RIFF");
    put_u32(want, 20 + 38);
    put_text(want, "WAVEfmt ");
    put_u32(want, 18);
    put_u16(want, 1);
    put_u16(want, 2);  // any count but 1 is two channels
    put_u32(want, 22050);
    put_u32(want, 4 * 22050);
    put_u16(want, 4);
    put_u16(want, 16);
    put_u16(want, 0);
    put_text(want, "data");
    put_u32(want, 20);
    const auto got = wv5::wav_header(h, h.promised_data_size());
    EXPECT_EQ(Bytes(got.begin(), got.end()), want);
    EXPECT_EQ((wv5::Header{1, 8000, 7, 0}).promised_data_size(), 14u);
}

TEST(DecodeWv5, WritesAValidWavBesideTheInput) {
    test::ScratchDir dir;
    const std::string in = dir.file("name.wv5"), out = dir.file("name.wAV");
    test::write_file(in, kit::Wv5Builder(1, 11025).run0({10, 138, 0}).finish());
    test::write_file(out, "an older file");
    test::RecordingUi ui;
    EXPECT_TRUE(wv5::decode_file(ui, in));
    Bytes want = test::read_file(out);
    ASSERT_EQ(want.size(), 46u + 6u);
    EXPECT_EQ(load_u32(&want[4]), 6u + 38u);
    EXPECT_EQ(load_u32(&want[42]), 6u);
    EXPECT_EQ(Bytes(want.begin() + 46, want.end()), (Bytes{13, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ui.events, (std::vector<test::Event>{{test::Event::status_now, "Decoding " + in}}));

    // The header promises 100 frames, the runs end after 3 samples and a
    // cut run: the sizes are rewritten to what was written.
    test::write_file(in, kit::Wv5Builder(2, 11025).run0({1, 2, 3}).raw_run(Bytes{1, 7}).finish(100));
    EXPECT_FALSE(wv5::decode_file(ui, in));
    ASSERT_EQ(ui.alerts().size(), 1u);
    EXPECT_NE(ui.alerts()[0].find(in), std::string::npos);
    want = test::read_file(out);
    ASSERT_EQ(want.size(), 46u + 8u);
    EXPECT_EQ(load_u32(&want[4]), 8u + 38u);
    EXPECT_EQ(load_u32(&want[42]), 8u);

    test::write_file(in, Bytes(17, 0));
    EXPECT_FALSE(wv5::decode_file(ui, in));
    EXPECT_FALSE(test::file_exists(out)) << "no WAV file without its headers";
    EXPECT_FALSE(wv5::decode_file(ui, dir.file("none.wv5")));
    EXPECT_EQ(ui.alerts().back(), dir.file("none.wv5") + " not found");
    const std::string long_path = dir.file(std::string(260, 'n') + ".wv5");
    EXPECT_FALSE(wv5::decode_file(ui, long_path));
    EXPECT_NE(ui.alerts().back().find(long_path), std::string::npos);
}

TEST(Wv5, SampleSoundsUseEveryRunKind) {
    for (const auto& [name, file] : kit::sample_sounds()) {
        const auto h = wv5::parse_header(file);
        ASSERT_TRUE(h) << name;
        bool seen[4] = {};  // kinds 0, 1, 3 and any other
        std::size_t pos = wv5::kHeaderSize;
        for (std::int32_t r = 0; r < h->runs; ++r) {
            const std::uint8_t kind = file.at(pos);
            seen[kind == 0 ? 0 : kind == 1 ? 1 : kind == 3 ? 2 : 3] = true;
            pos += kind == 0 ? 2u + file.at(pos + 1) : kind == 1 ? 257u : kind == 3 ? 4u : 2u;
        }
        EXPECT_EQ(pos, file.size()) << name;
        EXPECT_TRUE(seen[0] && seen[1] && seen[2] && seen[3]) << name;
        const Decoded d = decode(file);
        EXPECT_EQ(d.outcome.stop, wv5::Stop::done);
        EXPECT_EQ(d.samples.size(), std::size_t{h->frames} * h->wav_channels()) << name;
    }
}

}  // namespace
}  // namespace vid

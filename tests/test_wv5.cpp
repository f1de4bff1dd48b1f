// WV5 sounds: the run decoder, and the WAV file it makes piece by piece (Decode WV5's files are
// checked by the command-line cases).
#include <gtest/gtest.h>

#include <algorithm>

#include "formats.h"
#include "kit/wv5_encode.h"
#include "test_support.h"
#include "wv5/codec.h"
#include "wv5/wv5.h"

namespace vid {
namespace {

using Samples = std::vector<std::int16_t>;
using kit::Wv5Builder;

// Decodes the runs of `file`, handed out `piece` bytes at a time to cross every buffer edge.
std::pair<wv5::Outcome, Samples> decode(const Bytes& file, std::size_t piece = 1 << 20,
                                        std::uint64_t max_bytes = wv5::kMaxDataSize) {
    struct Pieces : wv5::Source, wv5::Sink {
        ByteView data;
        std::size_t piece, pos = 0;
        Bytes out;
        std::size_t read(std::span<std::uint8_t> to) override {
            const std::size_t n = std::min({to.size(), piece, data.size() - pos});
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), n, to.begin());
            return pos += n, n;
        }
        bool write(ByteView b) override { return out.insert(out.end(), b.begin(), b.end()), true; }
    } io;
    io.data = ByteView(file).subspan(wv5::kHeaderSize);
    io.piece = piece;
    const auto h = wv5::parse_header(file);
    EXPECT_TRUE(h);
    const wv5::Outcome o = wv5::decode_runs(*h, io, io, max_bytes);
    EXPECT_EQ(o.bytes, io.out.size());
    Samples s(io.out.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::int16_t>(load_u16(&io.out[2 * i]));
    return {o, s};
}

TEST(Wv5, RunsAndChannels) {
    Bytes codes(256);
    for (std::size_t i = 0; i < 256; ++i) codes[i] = static_cast<std::uint8_t>(i + 1);
    // Each step up from 0 and back down: code c, then c + 128.
    Bytes there_and_back(256);
    Samples steps(256, 0);
    for (std::size_t c = 0; c < 128; ++c) {
        there_and_back[2 * c] = static_cast<std::uint8_t>(c);
        there_and_back[2 * c + 1] = static_cast<std::uint8_t>(c + 128);
        steps[2 * c] = static_cast<std::int16_t>(formats::kWv5Steps[c]);
    }
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
        {"every step", Wv5Builder(1, 8000).run1(there_and_back).finish(), steps, 256},
        {"three channels decode as two", Wv5Builder(3, 8000).repeat(4, 3).finish(), {3, 3, 6, 6}, 4},
        // More than one output buffer, then one code: it goes to the second channel.
        {"long run", Wv5Builder(2, 8000).run3(40001, 1).run0({10}).finish(), {1, 1, 2, 2}, 40002},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{1} << 20}) {
            const auto [outcome, samples] = decode(c.file, piece);
            EXPECT_EQ(outcome.stop, wv5::Stop::done) << c.what;
            ASSERT_EQ(samples.size(), c.count) << c.what;
            EXPECT_TRUE(std::equal(c.want.begin(), c.want.end(), samples.begin())) << c.what << ", pieces of " << piece;
        }
    }
    const Samples tail = decode(cases[11].file).second;
    EXPECT_EQ(Samples(tail.end() - 4, tail.end()), (Samples{20000, 20000, 20001, 20013}));
}

TEST(Wv5, FilesThatEndEarly) {
    auto [outcome, samples] = decode(Wv5Builder(1, 8000).run0({1}).raw_run(Bytes{0, 5, 1, 1}).finish());
    EXPECT_EQ(outcome.stop, wv5::Stop::input_ended);
    EXPECT_EQ(outcome.runs_done, 1);
    EXPECT_EQ(samples, (Samples{1, 2, 3})) << "the codes that are there";
    for (const Bytes& cut : {Bytes{3, 9, 0}, Bytes{7}, Bytes{0}}) {
        std::tie(outcome, samples) = decode(Wv5Builder(1, 8000).repeat(2, 1).raw_run(cut).finish());
        EXPECT_EQ(outcome.stop, wv5::Stop::input_ended);
        EXPECT_EQ(samples, (Samples{1, 2}));
    }
    outcome = decode(Wv5Builder(1, 8000).repeat(2, 1).finish(std::nullopt, 5)).first;  // more runs announced
    EXPECT_EQ(outcome.stop, wv5::Stop::input_ended);
    EXPECT_EQ(outcome.runs_done, 1);
    std::tie(outcome, samples) = decode(Wv5Builder(1, 8000).repeat(4, 1).repeat(4, 1).finish(), 1 << 20, 10);
    EXPECT_EQ(outcome.stop, wv5::Stop::too_long);
    EXPECT_EQ(samples.size(), 4u);
}

// decode_to_wav: the 46 bytes of headers, then the samples; the sizes follow
// the samples decoded when the frame count promises others.
TEST(Wv5, WavFileMadePieceByPiece) {
    struct Io : wv5::Source, wv5::SoundOutput {
        Bytes in, out;
        std::size_t pos = 0, refuse_after = SIZE_MAX;
        std::size_t read(std::span<std::uint8_t> to) override {  // 3 bytes at a time
            const std::size_t n = std::min({to.size(), std::size_t{3}, in.size() - pos});
            std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(pos), n, to.begin());
            return pos += n, n;
        }
        bool write(ByteView b) override {
            if (out.size() + b.size() > refuse_after) return false;
            return out.insert(out.end(), b.begin(), b.end()), true;
        }
        bool write_at(std::uint64_t at, ByteView b) override {
            return std::copy(b.begin(), b.end(), out.begin() + static_cast<std::ptrdiff_t>(at)), true;
        }
    };
    // A "fmt " chunk of 18 bytes (PCM, 8000 Hz, 16 bits, no extension), then the data.
    const auto wav = [](std::uint16_t channels, const Bytes& samples) {
        const Bytes format = test::fmt(1, channels, 8000, static_cast<std::uint16_t>(2 * channels), 16) + Bytes{0, 0};
        return test::riff({test::chunk("fmt ", format), test::chunk("data", samples)});
    };
    const struct {
        const char* what;
        Bytes file;
        Bytes want;  // empty: it does not decode
        std::string why;
    } cases[] = {
        {"frames as promised", Wv5Builder(1, 8000).repeat(2, 1).finish(), wav(1, {1, 0, 2, 0}), ""},
        {"more frames promised", Wv5Builder(2, 8000).run0({1, 1, 1}).finish(9), wav(2, {1, 0, 1, 0, 2, 0}), ""},
        {"fewer frames promised", Wv5Builder(1, 8000).repeat(2, 2).finish(1), wav(1, {2, 0, 4, 0}), ""},
        {"ends early", Wv5Builder(1, 8000).repeat(2, 1).finish(std::nullopt, 2), {}, "it ends early: 1 of its 2 runs decode"},
        {"no header", Bytes(17, 0), {}, "it ends inside its 18-byte header"},
    };
    for (const auto& c : cases) {
        Io io;
        io.in = c.file;
        std::string why;
        const wv5::Stop stop = wv5::decode_to_wav(io, io, why);
        EXPECT_EQ(stop == wv5::Stop::done, c.why.empty()) << c.what;
        EXPECT_EQ(why, c.why) << c.what;
        if (c.why.empty()) EXPECT_EQ(io.out, c.want) << c.what;
    }
    Io full;
    full.in = cases[0].file;
    full.refuse_after = 47;
    std::string why;
    EXPECT_EQ(wv5::decode_to_wav(full, full, why), wv5::Stop::write_failed);
}

}  // namespace
}  // namespace vid

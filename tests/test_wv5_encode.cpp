// WV5 encoding: reading WAV files, packing codes into runs, choosing the codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats.h"
#include "formats/kinds.h"
#include "kit/kit.h"
#include "kit/wv5_encode.h"
#include "test_support.h"
#include "wv5/codec.h"
#include "wv5/encoder.h"
#include "wv5/runs.h"
#include "wv5/wav_reader.h"
#include "wv5/wv5.h"

namespace vid {
namespace {

using Samples = std::vector<std::int16_t>;


using Memory = wv5::MemoryInput;
using test::chunk, test::fmt, test::riff;

// An extensible "fmt " body whose sub-format begins with `sub_tag`.
Bytes extensible(std::uint16_t channels, std::uint16_t bits, std::uint16_t sub_tag) {
    Bytes b = fmt(0xFFFE, channels, 22050, static_cast<std::uint16_t>(channels * bits / 8), bits);
    put_u16(b, 22), put_u16(b, bits), put_u32(b, 3), put_u16(b, sub_tag);
    const Bytes tail = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

void put_f32(Bytes& b, float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    put_u32(b, u);
}

TEST(Wv5Encode, WavFilesAcceptedAndTheirSamples) {
    const Bytes mono_data = {1, 0, 2, 0, 0xFF, 0xFF}, stereo_data = {1, 0, 2, 0, 3, 0, 4, 0};
    const Bytes mono8000 = chunk("fmt ", fmt(1, 1, 8000, 2, 16));
    const auto wav = [](const Bytes& format, const Bytes& data) { return riff({chunk("fmt ", format), chunk("data", data)}); };
    const double q = 1 / 32768.0;  // one step of 16 bits
    const std::vector<double> mono = {q, 2 * q, -q}, stereo = {q, 2 * q, 3 * q, 4 * q};
    const struct {
        Bytes file;
        std::string described;
        std::uint64_t offset;
        std::uint32_t size;
        std::vector<double> values;  // as fractions of full scale; each format's smallest, zero and largest
    } cases[] = {
        {riff({mono8000, chunk("data", mono_data)}), "8000 Hz mono 16-bit", 44, 6, mono},
        {wav(fmt(1, 2, 44100, 4, 16) + Bytes{0, 0}, stereo_data), "44100 Hz stereo 16-bit", 46, 8, stereo},  // fmt of 18 bytes
        {wav(extensible(2, 16, 1), stereo_data), "22050 Hz stereo 16-bit", 68, 8, stereo},
        // "LIST" of odd size (one pad byte) before "fmt ": data at 12 + 12 + 24 + 8.
        {riff({chunk("LIST", {'I', 'N', 'F'}), chunk("fmt ", fmt(1, 1, 11025, 2, 16)), chunk("data", mono_data)}),
         "11025 Hz mono 16-bit", 56, 6, mono},
        {riff({chunk("data", mono_data), mono8000}), "8000 Hz mono 16-bit", 20, 6, mono},
        {riff({mono8000, chunk("data", mono_data)}) + Bytes{9, 9, 9}, "8000 Hz mono 16-bit", 44, 6, mono},  // bytes after the form
        {wav(fmt(1, 2, 8000, 4, 16), {}), "8000 Hz stereo 16-bit", 44, 0, {}},
        // Half a frame at the end: every sample is read (whole frames are the conversion's business).
        {wav(fmt(1, 2, 8000, 4, 16), mono_data), "8000 Hz stereo 16-bit", 44, 6, mono},
        {wav(fmt(1, 1, 1000, 1, 8), {0x00, 0x80, 0xFF}), "1000 Hz mono 8-bit", 44, 3, {-1, 0, 127 / 128.0}},
        {wav(fmt(1, 2, 384000, 4, 16), {0x00, 0x80, 0, 0, 0xFF, 0x7F, 0, 0}), "384000 Hz stereo 16-bit", 44, 8,
         {-1, 0, 32767 / 32768.0, 0}},
        {wav(fmt(1, 1, 8000, 3, 24), {0, 0, 0x80, 1, 0, 0, 0xFF, 0xFF, 0x7F}), "8000 Hz mono 24-bit", 44, 9,
         {-1, 1 / 8388608.0, 8388607 / 8388608.0}},
        {wav(fmt(1, 1, 8000, 4, 32), {0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}), "8000 Hz mono 32-bit", 44, 8,
         {-1, -1 / 2147483648.0}},
        // 1.5 and -0.25 as IEEE 754 single, then NaN (read as silence).
        {wav(extensible(1, 32, 3), {0, 0, 0xC0, 0x3F, 0, 0, 0x80, 0xBE, 0, 0, 0xC0, 0x7F}), "22050 Hz mono 32-bit float",
         68, 12, {1.5, -0.25, 0}},
        {wav(fmt(3, 8, 8000, 64, 64), Bytes{0, 0, 0, 0, 0, 0, 0xE0, 0x3F} + Bytes(56, 0)),
         "8000 Hz 8 channels 64-bit float", 44, 64, {0.5, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.described + " at " + std::to_string(c.offset));
        Memory m(c.file);
        const auto r = wv5::read_wav(m);
        ASSERT_TRUE(std::holds_alternative<wv5::WavSound>(r)) << std::get<std::string>(r);
        const auto& s = std::get<wv5::WavSound>(r);
        EXPECT_EQ(s.describe(), c.described);
        EXPECT_EQ(s.data_offset, c.offset);
        EXPECT_EQ(s.data_size, c.size);
        wv5::SampleReader reader(m, s);
        std::vector<double> got(16);
        got.resize(reader.read(std::span<double>(got)));
        EXPECT_EQ(got, c.values);
    }
    Memory m(cases[3].file);
    const auto s = std::get<wv5::WavSound>(wv5::read_wav(m));
    wv5::SampleReader reader(m, s);
    Samples got(8);
    got.resize(reader.read(got));
    EXPECT_EQ(got, (Samples{1, 2, -1}));
    EXPECT_FALSE(reader.failed());
}

TEST(Wv5Encode, WavFilesRefused) {
    const Bytes data = {1, 0, 2, 0}, short_extensible = extensible(1, 16, 1);
    Bytes no_extension = short_extensible;
    no_extension[16] = 0;  // cbSize 0 in a chunk of 40 bytes
    const Bytes fmt16 = chunk("fmt ", fmt(1, 1, 8000, 2, 16)), data4 = chunk("data", data);
    const auto with_fmt = [&](const Bytes& body) { return riff({chunk("fmt ", body), data4}); };
    const std::string not_wav = "is not a WAV file: it does not begin with a RIFF/WAVE header",
                      lies = "lies about its sizes: its ", too_few = " bytes, too few to hold its 'fmt ' and 'data' chunks",
                      accepted = ": only PCM of 8, 16, 24 or 32 bits and floating point of 32 or 64 bits, with 1 to 8 "
                                 "channels, can be encoded";
    const struct {
        Bytes file;
        std::string problem;
    } cases[] = {
        {test::bytes_of("RIFF\4\0\0\0WAVX"), not_wav},
        {test::bytes_of("RIFF"), not_wav},
        {with_fmt(fmt(1, 1, 8000, 2, 12)), "is 12-bit PCM with 1 channel" + accepted},
        {with_fmt(fmt(3, 1, 8000, 2, 16)), "is 16-bit floating point with 1 channel" + accepted},
        {with_fmt(fmt(2, 1, 8000, 256, 4)), "is compressed (format 0x0002) with 1 channel" + accepted},
        {with_fmt(fmt(1, 9, 8000, 18, 16)), "is 16-bit PCM with 9 channels" + accepted},
        {with_fmt(extensible(2, 24, 2)), "is compressed (format 0x0002) with 2 channels" + accepted},
        {with_fmt(fmt(1, 1, 999, 2, 16)), "has a sample rate of 999 Hz: rates from 1000 to 384000 Hz can be encoded"},
        {with_fmt(fmt(1, 1, 384001, 2, 16)), "has a sample rate of 384001 Hz: rates from 1000 to 384000 Hz can be encoded"},
        {riff({chunk("fmt ", fmt(1, 2, 8000, 4, 24)), chunk("data", Bytes(6, 0))}),
         "has a 'fmt ' chunk that does not fit: a block align of 4 bytes for 2 channels of 24 bits"},
        {with_fmt(fmt(1, 1, 8000, 3, 24)), lies + "'data' chunk of 4 bytes is not a whole number of 3-byte samples"},
        {with_fmt(Bytes(short_extensible.begin(), short_extensible.begin() + 24)),
         "has an extensible 'fmt ' chunk of 24 bytes, too short: an extensible format needs 40"},
        {with_fmt(no_extension),
         "has an extensible 'fmt ' chunk that announces an extension of 0 bytes: an extensible format needs 22"},
        {riff({fmt16, data4}, 0), lies + "RIFF header announces 8" + too_few + " (the file holds 48)"},
        {riff({fmt16, data4}, 28), lies + "RIFF header announces 36" + too_few + " (the file holds 48)"},
        {riff({Bytes{'L', 'I', 'S', 'T', 3, 0, 0, 0, 'I', 'N', 'F'}, fmt16, data4}),
         "has a 'LIST' chunk of 3 bytes without the pad byte that must follow a chunk of odd size"},
        {riff({fmt16, data4, data4}), "has two 'data' chunks: which one holds its sound is not clear"},
        {with_fmt(Bytes(14, 0)), "has a 'fmt ' chunk of 14 bytes, too short for a sound format (16 at least)"},
        {with_fmt(fmt(1, 1, 0, 2, 16)), "has a 'fmt ' chunk that does not fit: a sample rate of 0"},
        {riff({data4}), "has no 'fmt ' chunk: it does not say what its samples are"},
        {riff({fmt16, chunk("LIST", data)}), "has no 'data' chunk: it holds no samples"},
        {riff({fmt16, chunk("data", {1, 0, 2, 0, 3})}),
         lies + "'data' chunk of 5 bytes is not a whole number of 2-byte samples"},
        {riff({fmt16, data4}, 100), "is cut short: its RIFF header announces 108 bytes, the file holds 48"},
        {riff({fmt16, chunk("data", data, 1000)}),
         "is cut short: its 'data' chunk announces 1000 bytes, the file holds 4 after its header"},
        {riff({fmt16, data4}, 38) + Bytes(8, 0), lies + "'data' chunk of 4 bytes goes past the end of the RIFF form"},
    };
    for (const auto& c : cases) {
        Memory m(c.file);
        const auto r = wv5::read_wav(m);
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << c.problem;
        EXPECT_EQ(std::get<std::string>(r), c.problem);
    }
}

Bytes repeated(std::uint8_t code, std::size_t n) { return Bytes(n, code); }
struct Collect : wv5::Sink {
    Bytes out;
    bool write(ByteView b) override { return out.insert(out.end(), b.begin(), b.end()), true; }
};
// `n` codes of which no two neighbours are equal.
Bytes varied(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i % 2 == 0 ? 10 + i % 7 : 20);
    return b;
}

// The codes of packed runs, expanded by the run kinds.
Bytes expand(const Bytes& runs) {
    Bytes codes;
    for (std::size_t i = 0; i < runs.size();) {
        const std::uint8_t kind = runs[i];
        if (kind == 0) {
            codes.insert(codes.end(), runs.begin() + static_cast<std::ptrdiff_t>(i) + 2,
                         runs.begin() + static_cast<std::ptrdiff_t>(i + 2 + runs[i + 1]));
            i += 2u + runs[i + 1];
        } else if (kind == 1) {
            codes.insert(codes.end(), runs.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                         runs.begin() + static_cast<std::ptrdiff_t>(i + 257));
            i += 257;
        } else if (kind == 3) {
            codes.insert(codes.end(), load_u16(&runs[i + 1]), runs[i + 3]);
            i += 4;
        } else {
            codes.insert(codes.end(), kind, runs[i + 1]);
            i += 2;
        }
    }
    return codes;
}

TEST(Wv5Encode, Runs) {
    const struct {
        const char* what;
        Bytes codes;
        Bytes runs;              // the exact runs; or, when `bytes` is not 0, only
        std::size_t bytes = 0;   // their size
        std::uint64_t count = 0;  // and number
    } cases[] = {
        {"nothing", {}, {}},
        {"one code", {5}, {0, 1, 5}},
        {"two equal: kind 2", {5, 5}, {2, 5}},
        {"three equal: kind 3, there is no kind k of 3", {5, 5, 5}, {3, 3, 0, 5}},
        {"four equal: kind 4", {5, 5, 5, 5}, {4, 5}},
        {"255 equal", repeated(5, 255), {255, 5}},
        {"256 equal: one kind 3 run rather than two short ones", repeated(5, 256), {3, 0, 1, 5}},
        {"65535 equal", repeated(7, 65535), {3, 0xFF, 0xFF, 7}},
        {"a short repeat inside codes costs as much as a literal: one run",
         {1, 2, 7, 7, 7, 7, 3},
         {0, 7, 1, 2, 7, 7, 7, 7, 3}},
        {"five equal inside codes are worth their own run", {1, 2, 7, 7, 7, 7, 7, 3}, {0, 2, 1, 2, 5, 7, 0, 1, 3}},
        {"255 different", varied(255), Bytes{0, 255} + varied(255)},
        {"256 different: kind 1", varied(256), Bytes{1} + varied(256)},
        {"257 different: kind 1 and a one-code kind 0", varied(257), {}, 257 + 3, 2},
        {"512 different: two kind 1", varied(512), {}, 2 * 257, 2},
        {"511 different", varied(511), {}, 257 + 2 + 255, 2},
        {"65536 equal: two runs, 6 bytes", repeated(9, 65536), {}, 6, 2},
        {"65537 equal", repeated(9, 65537), {}, 6, 2},
        {"131070 equal: two full kind 3", repeated(9, 131070), {}, 8, 2},
        {"a block, a repeat, a block", varied(256) + repeated(3, 300) + varied(256), {}, 257 + 4 + 257, 3},
    };
    for (const auto& c : cases) {
        std::uint64_t count = 0;
        const Bytes packed = wv5::pack_runs(c.codes, &count);
        if (c.bytes == 0) EXPECT_EQ(packed, c.runs) << c.what;
        if (c.bytes != 0) EXPECT_EQ(std::pair(packed.size(), count), std::pair(c.bytes, c.count)) << c.what;
        EXPECT_EQ(expand(packed), c.codes) << c.what;
    }
}

TEST(Wv5Encode, PackerStreamsLongSounds) {
    // Silence and bursts across several windows: the streamed runs cover
    // the codes and cost no more than a few bytes per window over packing all at once.
    Bytes codes;
    for (int i = 0; i < 40; ++i) codes = codes + repeated(0, 7000 + 3 * i) + varied(1000 + 37 * i);
    Collect sink;
    wv5::RunPacker packer(sink);
    for (std::size_t at = 0; at < codes.size(); at += 10007)
        ASSERT_TRUE(packer.push(ByteView(codes).subspan(at, std::min<std::size_t>(10007, codes.size() - at))));
    ASSERT_TRUE(packer.finish());
    std::uint64_t runs = 0;
    const Bytes whole = wv5::pack_runs(codes, &runs);
    EXPECT_EQ(expand(sink.out), codes);
    EXPECT_EQ(packer.bytes(), sink.out.size());
    EXPECT_LE(sink.out.size(), whole.size() + 4 * (codes.size() / wv5::RunPacker::kWindow + 1));
}

TEST(Wv5Encode, PackerWindowEdgesChangeNothing) {
    // A repeat across the end of the packer's window, or across the point up
    // to which a full window is written: streamed runs equal runs packed at once.
    const std::size_t window = 2 * (65535 + 256);  // the smallest window: twice the longest run and a block
    for (std::size_t at : {window - 500, window - 65535 - 256 - 500}) {
        const Bytes codes = varied(at) + repeated(5, 1000) + varied(3000) + repeated(6, 70000) + varied(9);
        Collect sink;
        wv5::RunPacker packer(sink, 0);
        ASSERT_TRUE(packer.push(codes));
        ASSERT_TRUE(packer.finish());
        EXPECT_EQ(sink.out, wv5::pack_runs(codes)) << at;
    }
}

// The codes the search chooses for `samples`.
Bytes search(const Samples& samples, bool two_channels) {
    // In pieces of odd sizes: the channels alternate across them.
    wv5::CodeStream s(two_channels);
    Bytes out;
    for (std::size_t at = 0; at < samples.size(); at += 7)
        s.push(std::span<const std::int16_t>(samples).subspan(at, std::min<std::size_t>(7, samples.size() - at)), out);
    s.finish(out);
    return out;
}

TEST(Wv5Encode, SearchFollowsSteps) {
    // Steps of the table: 13 is table[10], 32767 table[127], 1 table[1].
    EXPECT_EQ(search({13, 0, 0}, false), (Bytes{10, 138, 0}));
    EXPECT_EQ(search({32767, -2}, false), (Bytes{127, 127})) << "through the wrap";
    EXPECT_EQ(search({13, 1, 0, 2}, true), (Bytes{10, 1, 138, 1})) << "channels alternate";
    EXPECT_EQ(search({-32768}, false), (Bytes{255})) << "-32767, 1 away, not +32767";
    // Looking ahead: 24 then 112. The nearest step first (25, error 1) leaves
    // 87 to go, 3 from the step 90: 1 + 9. Missing by 2 first (22) leaves
    // exactly 90: 4 + 0.
    EXPECT_EQ(search({24, 112}, false), (Bytes{15, 32}));
    EXPECT_EQ(search({}, true), Bytes{});
}

// A WAV file of a 1 kHz sine at half of full scale in its first two
// channels, and the same sine negated in any others.
Bytes sine_wav(std::uint16_t tag, std::uint16_t bits, std::uint16_t channels, std::uint32_t rate, std::size_t frames) {
    Bytes data;
    for (std::size_t f = 0; f < frames; ++f) {
        for (unsigned c = 0; c < channels; ++c) {
            const double v = (c < 2 ? 0.5 : -0.5) * std::sin(2 * 3.14159265358979 * 1000 * double(f) / rate);
            if (tag == 3 && bits == 32) {
                put_f32(data, static_cast<float>(v));
            } else if (tag == 3) {
                std::uint64_t u;
                std::memcpy(&u, &v, 8);
                put_u32(data, static_cast<std::uint32_t>(u)), put_u32(data, static_cast<std::uint32_t>(u >> 32));
            } else if (bits == 8) {
                data.push_back(static_cast<std::uint8_t>(128 + std::lround(v * 127)));
            } else {
                const auto x = static_cast<std::uint32_t>(std::llround(v * double(1ull << (bits - 1))));
                for (unsigned b = 0; b < bits / 8u; ++b) data.push_back(static_cast<std::uint8_t>(x >> (8 * b)));
            }
        }
    }
    return riff({chunk("fmt ", fmt(tag, channels, rate, static_cast<std::uint16_t>(channels * bits / 8), bits)),
                 chunk("data", data)});
}

TEST(Wv5Encode, AnyWavConvertedToTheOriginalsFormat) {
    const struct {
        std::uint16_t tag, bits, channels;
        std::uint32_t rate;
        unsigned original_channels;  // 0: no original
        std::uint32_t original_rate;
        double gain;       // of the sine in each channel written, by the mix
        std::string line;  // after "Converted x.wav: ", before "; 0 samples clipped"
    } cases[] = {
        {1, 16, 2, 44100, 1, 22050, 1, "44100 Hz stereo 16-bit -> 22050 Hz mono 16-bit"},
        {3, 32, 2, 44100, 1, 22050, 1, "44100 Hz stereo 32-bit float -> 22050 Hz mono 16-bit"},
        {1, 24, 1, 11025, 2, 22050, 1, "11025 Hz mono 24-bit -> 22050 Hz stereo 16-bit"},
        // Left: (s + (-4s) / 2) / 3.
        {3, 64, 6, 48000, 2, 22050, -1 / 3.0, "48000 Hz 6 channels 64-bit float -> 22050 Hz stereo 16-bit"},
        {1, 32, 3, 22050, 1, 22050, 1 / 3.0, "22050 Hz 3 channels 32-bit -> 22050 Hz mono 16-bit"},
        {1, 8, 2, 8000, 0, 0, 1, "8000 Hz stereo 8-bit -> 8000 Hz stereo 16-bit"},
        {1, 16, 1, 96000, 1, 8000, 1, "96000 Hz mono 16-bit -> 8000 Hz mono 16-bit"},
        {1, 16, 1, 8000, 2, 8000, 1, "8000 Hz mono 16-bit -> 8000 Hz stereo 16-bit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        test::ScratchDir dir;
        const std::size_t frames = c.rate / 2;  // half a second
        test::write_file(dir.file("x.wav"), sine_wav(c.tag, c.bits, c.channels, c.rate, frames));
        if (c.original_channels)
            test::write_file(dir.file("x.wv5"), kit::Wv5Builder(static_cast<std::uint16_t>(c.original_channels),
                                                                c.original_rate).finish());
        test::RecordingUi ui;
        ASSERT_TRUE(wv5::encode_file(ui, dir.file("x.wav")));
        ASSERT_TRUE(wv5::decode_file(ui, dir.file("x.wv5")));
        EXPECT_TRUE(ui.alerts().empty()) << ui.alerts()[0];
        EXPECT_EQ(ui.texts(test::Event::status_now)[1], "Converted " + dir.file("x.wav") + ": " + c.line + "; 0 samples clipped");
        const unsigned channels = c.original_channels ? c.original_channels : c.channels;
        const std::uint32_t rate = c.original_channels ? c.original_rate : c.rate;
        const Bytes back = test::read_file(dir.file("x.wAV"));
        ASSERT_GT(back.size(), 46u);
        EXPECT_EQ(load_u16(&back[22]), channels);
        EXPECT_EQ(load_u32(&back[24]), rate);
        const std::size_t got = (back.size() - 46) / 2 / channels, want = rate / 2;
        EXPECT_LE(std::max(got, want) - std::min(got, want), 1u) << got << " frames";
        // Against the ideal sine at the new rate, away from the ends.
        for (unsigned ch = 0; ch < channels; ++ch) {
            double signal = 0, noise = 0;
            for (std::size_t f = rate / 50; f + rate / 50 < got; ++f) {
                const double ideal = c.gain * 16384 * std::sin(2 * 3.14159265358979 * 1000 * double(f) / rate);
                const double e = static_cast<std::int16_t>(load_u16(&back[46 + 2 * (f * channels + ch)])) - ideal;
                signal += ideal * ideal, noise += e * e;
            }
            EXPECT_GE(10 * std::log10(signal / std::max(noise, 1e-9)), 40.0) << "channel " << ch;
        }
    }
}

TEST(Wv5Encode, ConversionsClippedOrRefused) {
    test::ScratchDir dir;
    // Full scale is 32768: 1.0 is one past the largest sample, -1.0 the
    // smallest; values round to the nearest, halves away from zero.
    const float full = 32768.0f;
    Bytes loud;
    for (float v : {1.5f, -2.0f, 0.25f, 1.0f, 32767 / full, -1.0f, -32769 / full, 0.5f / full, -0.5f / full, 0.49f / full})
        put_f32(loud, v);
    const Bytes loud_wav = riff({chunk("fmt ", fmt(3, 1, 8000, 4, 32)), chunk("data", loud)});
    test::write_file(dir.file("loud.wav"), loud_wav);
    test::write_file(dir.file("many.wav"), sine_wav(1, 16, 3, 8000, 10));
    test::RecordingUi ui;
    ASSERT_TRUE(wv5::encode_file(ui, dir.file("loud.wav")));
    EXPECT_EQ(ui.last_status(), "Converted " + dir.file("loud.wav") +
                                    ": 8000 Hz mono 32-bit float -> 8000 Hz mono 16-bit; 4 samples clipped");
    EXPECT_EQ(load_u32(&test::read_file(dir.file("loud.wv5"))[10]), 10u) << "frames";
    std::string why;
    EXPECT_EQ(wv5::encoder_samples(loud_wav, 1, 8000, why),
              (Samples{32767, -32768, 8192, 32767, 32767, -32768, -32768, 1, -1, 0}))
        << why;
    EXPECT_FALSE(wv5::encode_file(ui, dir.file("many.wav")));
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{dir.file("many.wav") +
                                                    " has 3 channels: without a WV5 original of that name to take the "
                                                    "format from, only one or two channels can be encoded"});
    EXPECT_FALSE(test::file_exists(dir.file("many.wv5")));
}

// The root-mean-square and the largest error of `codes` against `want`,
// replayed with the format's step table (written down by hand), channel by
// channel, wrapping at 16 bits.
std::pair<double, int> error_of(const Bytes& codes, const Samples& want, bool two_channels = false) {
    EXPECT_EQ(codes.size(), want.size());
    std::uint16_t value[2] = {0, 0};
    double sum = 0;
    int worst = 0;
    for (std::size_t i = 0; i < std::min(codes.size(), want.size()); ++i) {
        std::uint16_t& v = value[two_channels ? i % 2 : 0];
        const std::uint16_t step = formats::kWv5Steps[codes[i] & 0x7F];
        v = static_cast<std::uint16_t>(codes[i] < 128 ? v + step : v - step);
        const int e = std::abs(static_cast<std::int16_t>(v) - want[i]);
        sum += double(e) * e;
        worst = std::max(worst, e);
    }
    return {std::sqrt(sum / double(std::max<std::size_t>(want.size(), 1))), worst};
}

TEST(Wv5Encode, SearchErrorOnSoundsItCannotFollow) {
    // Bounds measured once on these seeded sounds and written down: a search
    // that keeps fewer values, tries fewer codes or commits too early misses them.
    kit::Rng rng(5);
    Samples noise(20000), square(20000), quiet(20000), sine(std::size_t{1} << 21);
    for (auto& s : noise) s = static_cast<std::int16_t>(rng.next() >> 48);
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 50) % 2 ? -30000 : 30000;
    for (auto& s : quiet) s = static_cast<std::int16_t>(int(rng.below(201)) - 100);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<std::int16_t>(std::lround(20000 * std::sin(double(i) * 2 * 3.14159265358979 / 441.3)));
    const struct {
        const char* what;
        const Samples& sound;
        double rms;
        int worst;
    } cases[] = {
        {"full-scale white noise", noise, 300, 1500},
        {"square wave of +-30000", square, 19, 900},
        {"quiet noise of +-100", quiet, 1.45, 6},
        {"2^21 samples of a loud sine", sine, 3.9, 14},
    };
    for (const auto& c : cases) {
        const auto [rms, worst] = error_of(search(c.sound, false), c.sound);
        EXPECT_LE(rms, c.rms) << c.what;
        EXPECT_LE(worst, c.worst) << c.what;
    }
}

// Samples decoded from pseudo-random codes: sound the codes can follow exactly.
Samples decoded_noise(std::size_t n, bool two_channels, std::uint32_t seed) {
    Bytes codes(n);
    for (auto& c : codes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<std::uint8_t>(seed >> 16);
        if ((seed >> 12) % 4 != 0) c &= 0x9F;  // mostly small steps, sometimes any
    }
    kit::Wv5Builder b(two_channels ? 2 : 1, 8000);
    kit::wv5_pack(b, codes);
    const Bytes file = b.finish();
    wv5::MemorySource in(ByteView(file).subspan(wv5::kHeaderSize));
    Collect out;
    wv5::decode_runs(*wv5::parse_header(file), in, out);
    Samples s(out.out.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::int16_t>(load_u16(&out.out[2 * i]));
    return s;
}

TEST(Wv5Encode, DecodedSoundComesBackExactly) {
    // Odd counts too: two channels that end on the first channel's sample.
    for (bool two : {false, true})
        for (std::size_t n : {std::size_t{1}, std::size_t{127}, std::size_t{256}, std::size_t{5001}}) {
            const Samples want = decoded_noise(n, two, static_cast<std::uint32_t>(n));
            EXPECT_EQ(error_of(search(want, two), want, two).second, 0) << n << (two ? " stereo" : "");
        }
}

TEST(Wv5Encode, LongDecodedFileComesBackExactly) {
    // Longer than the packer's window, in two channels, through the files.
    const Samples want = decoded_noise(2 * 160000, true, 99);
    Bytes data;
    for (std::int16_t v : want) put_u16(data, static_cast<std::uint16_t>(v));
    test::ScratchDir dir;
    test::write_file(dir.file("long.wav"), riff({chunk("fmt ", fmt(1, 2, 22050, 4, 16)), chunk("data", data)}));
    test::RecordingUi ui;
    ASSERT_TRUE(wv5::encode_file(ui, dir.file("long.wav")));
    ASSERT_TRUE(wv5::decode_file(ui, dir.file("long.wv5")));
    EXPECT_TRUE(ui.alerts().empty());
    const Bytes back = test::read_file(dir.file("long.wAV"));
    ASSERT_EQ(back.size(), 46 + data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin() + 46));
    const Bytes packed = test::read_file(dir.file("long.wv5"));
    EXPECT_EQ(load_u32(&packed[10]), 160000u) << "frames";
    EXPECT_FALSE(test::file_exists(dir.file("long.wv5.orig")));
}


// The samples that the encoder takes from a WAV file, up to the last of
// its data chunk, in each sample format; of two channels, a last frame cut
// short is kept as it stands (16 bits, the rate kept) or dropped (converted).
TEST(Wv5Encode, SamplesUpToTheLastOfTheData) {
    const struct {
        const char* what;
        Bytes format;
        Bytes data;
        unsigned channels;
        Samples want;
    } cases[] = {
        {"16-bit mono", fmt(1, 1, 8000, 2, 16), {1, 0, 2, 0, 0xFB, 0xFF}, 1, {1, 2, -5}},
        {"16-bit stereo and one sample more", fmt(1, 2, 8000, 4, 16), {1, 0, 2, 0, 3, 0, 4, 0, 0xFB, 0xFF}, 2,
         {1, 2, 3, 4, -5}},
        // Unsigned: (b - 128) * 256.
        {"8-bit", fmt(1, 1, 8000, 1, 8), {128, 255, 0, 129}, 1, {0, 32512, -32768, 256}},
        {"8-bit stereo and one sample more", fmt(1, 2, 8000, 2, 8), {129, 130, 131, 132, 133}, 2, {256, 512, 768, 1024}},
        // The top 16 bits, rounded by the lowest byte: 0x80 is a half.
        {"24-bit", fmt(1, 1, 8000, 3, 24), {0x7F, 0x34, 0x12, 0x80, 0x34, 0x12, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF}, 1,
         {0x1234, 0x1235, -32768, -1}},
        // 0x00008000 is half of the lowest 16-bit step, 0xFFFF8001 just less than half below zero.
        {"32-bit", fmt(1, 1, 8000, 4, 32), {0x00, 0x80, 0x00, 0x00, 0x01, 0x80, 0xFF, 0xFF}, 1, {1, 0}},
        {"64-bit float", fmt(3, 1, 8000, 8, 64), {0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0xD0, 0xBF}, 1,
         {16384, -8192}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string why;
        EXPECT_EQ(wv5::encoder_samples(riff({chunk("fmt ", c.format), chunk("data", c.data)}), c.channels, 8000, why),
                  c.want)
            << why;
    }
    // Converted samples are read 16,384 at a time: one more, and a sound of
    // a single sample, come out whole.
    for (const std::size_t n : {std::size_t{16385}, std::size_t{1}}) {
        Bytes data(n);
        Samples want(n);
        for (std::size_t i = 0; i < n; ++i) {
            data[i] = static_cast<std::uint8_t>(i % 251 + 3);
            want[i] = static_cast<std::int16_t>((data[i] - 128) * 256);
        }
        std::string why;
        EXPECT_EQ(wv5::encoder_samples(riff({chunk("fmt ", fmt(1, 1, 8000, 1, 8)), chunk("data", data)}), 1, 8000, why),
                  want)
            << n << " samples " << why;
    }
}

// A WV5 header counts fewer than 2^31 frames, with one to spare for the
// resampler's rounding: at 1000 Hz to 384,000 Hz, 5,592,405 frames give
// 2,147,483,520, one more is too long; at one rate 2,147,483,646 frames
// are the most. For two channels as for one (8-bit samples: the data
// chunk's size still fits its 32 bits).
TEST(Wv5Encode, LongestSoundByFrames) {
    const struct {
        std::uint16_t channels;
        std::uint32_t rate, frames;
        bool fits;
    } cases[] = {
        {1, 1000, 5592405u, true},        {1, 1000, 5592406u, false},
        {2, 1000, 5592405u, true},        {2, 1000, 5592406u, false},
        {1, 384000, 2147483646u, true},   {1, 384000, 2147483647u, false},
        {2, 384000, 2147483646u, true},   {2, 384000, 2147483647u, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.frames) + " frames");
        const wv5::WavSound sound{.channels = c.channels, .rate = c.rate, .data_offset = 44,
                                  .data_size = static_cast<std::uint32_t>(std::uint64_t{c.frames} * c.channels), .bits = 8};
        const wv5::Template tmpl{.header = wv5::parse_header(kit::Wv5Builder(c.channels, 384000).finish())};
        test::RecordingUi ui;
        EXPECT_EQ(wv5::prepare(ui, sound, "x.wav", tmpl, "x.wv5").has_value(), c.fits);
        EXPECT_EQ(ui.alerts(), c.fits ? std::vector<std::string>{}
                                      : std::vector<std::string>{"x.wav is too long: a WV5 sound holds fewer than 2^31 frames"});
    }
}

// The header of a stereo sound counts frames, pairs of samples: Encode
// WV5 writes it so and the check reads it so; the decoded WAV file says
// two channels of 16 bits. A sound that ends on the first channel's sample
// of one more frame (as Decode WV5 writes them, and Encode WV5 takes them)
// is encoded with its 5 samples, 2 whole frames by its header, and passes
// repack's check.
TEST(Wv5Encode, StereoHeaderCountsFrames) {
    const Bytes original = kit::Wv5Builder(2, 11025).run0({1, 2}).finish();
    for (const std::vector<std::int16_t>& samples :
         {std::vector<std::int16_t>{100, -100, 200, -200, 300, -300, 400, -400, 500, -500, 600, -600},
          std::vector<std::int16_t>{100, -100, 200, -200, 300}}) {
        SCOPED_TRACE(samples.size());
        Bytes data;
        for (std::int16_t v : samples) put_u16(data, static_cast<std::uint16_t>(v));
        const Bytes wav = riff({chunk("fmt ", fmt(1, 2, 11025, 4, 16)), chunk("data", data)});
        const auto c = formats::encode_member(formats::Kind::wv5, wav, original, "x.wav");
        ASSERT_TRUE(c.bytes) << c.why;
        const Bytes& w = *c.bytes;
        ASSERT_GE(w.size(), wv5::kHeaderSize);
        EXPECT_EQ(load_u32(&w[10]), samples.size() / 2) << "frames";
        const auto v = formats::verify_member(formats::Kind::wv5, w, wav);
        EXPECT_TRUE(v.ok) << v.why;
        EXPECT_EQ(Bytes(w.begin(), w.begin() + 4), Bytes(original.begin(), original.begin() + 4)) << "the lead kept";
        EXPECT_EQ(load_u16(&w[4]), 2u);
        EXPECT_EQ(load_u32(&w[6]), 11025u);
        if (samples.size() % 2) continue;
        const auto d = formats::decode_member(formats::Kind::wv5, w, false);
        ASSERT_TRUE(d.bytes) << d.why;
        // RIFF of 38 + 24 bytes; an 18-byte "fmt ": PCM, 2 channels, 11025 Hz, 44100 bytes a second, 4 a frame,
        // 16 bits; 24 bytes of data.
        ASSERT_EQ(d.bytes->size(), 46u + 24);
        EXPECT_EQ(Bytes(d.bytes->begin(), d.bytes->begin() + 46),
                  test::hex("52494646 3E000000 57415645 666D7420 12000000 0100 0200 112B0000 44AC0000 0400 1000 0000 "
                            "64617461 18000000"));
    }
}

}  // namespace
}  // namespace vid

// WV5 encoding: reading WAV files, packing codes into runs, choosing the codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "kit/wv5_encode.h"
#include "test_support.h"
#include "wv5/encoder.h"
#include "wv5/runs.h"
#include "wv5/wav_reader.h"
#include "wv5/wv5.h"

namespace vid {
namespace {

using Samples = std::vector<std::int16_t>;

Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }

struct Memory : wv5::RandomInput {
    explicit Memory(Bytes b) : data(std::move(b)) {}
    std::uint64_t size() const override { return data.size(); }
    std::size_t read_at(std::uint64_t pos, std::span<std::uint8_t> out) override {
        if (pos >= data.size()) return 0;
        const std::size_t n = std::min<std::size_t>(out.size(), data.size() - static_cast<std::size_t>(pos));
        std::memcpy(out.data(), data.data() + pos, n);
        return n;
    }
    Bytes data;
};

Bytes chunk(std::string_view id, const Bytes& body, std::optional<std::uint32_t> size = std::nullopt) {
    Bytes b = test::bytes_of(id);
    put_u32(b, size.value_or(static_cast<std::uint32_t>(body.size())));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2 == 1) b.push_back(0);  // pad byte
    return b;
}

// A plain "fmt " body: tag, channels, rate, block align, bits.
Bytes fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t align, std::uint16_t bits) {
    Bytes b;
    put_u16(b, tag), put_u16(b, channels), put_u32(b, rate), put_u32(b, rate * align), put_u16(b, align);
    put_u16(b, bits);
    return b;
}

// An extensible "fmt " body whose sub-format begins with `sub_tag`.
Bytes extensible(std::uint16_t channels, std::uint16_t bits, std::uint16_t sub_tag) {
    Bytes b = fmt(0xFFFE, channels, 22050, static_cast<std::uint16_t>(channels * bits / 8), bits);
    put_u16(b, 22), put_u16(b, bits), put_u32(b, 3), put_u16(b, sub_tag);
    const Bytes tail = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

Bytes riff(std::initializer_list<Bytes> chunks, std::optional<std::uint32_t> size = std::nullopt) {
    Bytes body = test::bytes_of("WAVE");
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes b = test::bytes_of("RIFF");
    put_u32(b, size.value_or(static_cast<std::uint32_t>(body.size())));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

TEST(Wv5Encode, WavFilesAccepted) {
    const Bytes mono_data = {1, 0, 2, 0, 0xFF, 0xFF};
    const Bytes stereo_data = {1, 0, 2, 0, 3, 0, 4, 0};
    const struct {
        const char* what;
        Bytes file;
        std::uint16_t channels;
        std::uint32_t rate;
        std::uint64_t offset;
        std::uint32_t size;
    } cases[] = {
        {"plain mono", riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", mono_data)}), 1, 8000, 44, 6},
        {"stereo, fmt of 18 bytes",
         riff({chunk("fmt ", Bytes(fmt(1, 2, 44100, 4, 16)) + Bytes{0, 0}), chunk("data", stereo_data)}), 2, 44100, 46,
         8},
        {"extensible", riff({chunk("fmt ", extensible(2, 16, 1)), chunk("data", stereo_data)}), 2, 22050, 68, 8},
        // "LIST" of odd size (one pad byte) before "fmt ": data at 12 + 12 + 24 + 8.
        {"LIST first, odd size",
         riff({chunk("LIST", {'I', 'N', 'F'}), chunk("fmt ", fmt(1, 1, 11025, 2, 16)), chunk("data", mono_data)}), 1,
         11025, 56, 6},
        {"data before fmt", riff({chunk("data", mono_data), chunk("fmt ", fmt(1, 1, 8000, 2, 16))}), 1, 8000, 20, 6},
        {"bytes after the RIFF form",
         riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", mono_data)}) + Bytes{9, 9, 9}, 1, 8000, 44, 6},
        {"no samples", riff({chunk("fmt ", fmt(1, 2, 8000, 4, 16)), chunk("data", {})}), 2, 8000, 44, 0},
        {"two channels, half a frame at the end",
         riff({chunk("fmt ", fmt(1, 2, 8000, 4, 16)), chunk("data", mono_data)}), 2, 8000, 44, 6},
    };
    for (const auto& c : cases) {
        Memory m(c.file);
        const auto r = wv5::read_wav(m);
        ASSERT_TRUE(std::holds_alternative<wv5::WavSound>(r)) << c.what << ": " << std::get<std::string>(r);
        const auto& s = std::get<wv5::WavSound>(r);
        EXPECT_EQ(s.channels, c.channels) << c.what;
        EXPECT_EQ(s.rate, c.rate) << c.what;
        EXPECT_EQ(s.data_offset, c.offset) << c.what;
        EXPECT_EQ(s.data_size, c.size) << c.what;
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
    const Bytes data = {1, 0, 2, 0};
    const Bytes short_extensible = extensible(1, 16, 1);
    Bytes no_extension = short_extensible;
    no_extension[16] = 0;  // cbSize 0 in a chunk of 40 bytes
    const std::string accepted = ": only 16-bit PCM with one or two channels can be encoded";
    const struct {
        Bytes file;
        std::string problem;
    } cases[] = {
        {test::bytes_of("RIFF\4\0\0\0WAVX"), "is not a WAV file: it does not begin with a RIFF/WAVE header"},
        {test::bytes_of("RIFF"), "is not a WAV file: it does not begin with a RIFF/WAVE header"},
        {riff({chunk("fmt ", fmt(1, 1, 8000, 1, 8)), chunk("data", data)}), "is 8-bit PCM with 1 channel" + accepted},
        {riff({chunk("fmt ", fmt(1, 2, 8000, 6, 24)), chunk("data", data)}),
         "is 24-bit PCM with 2 channels" + accepted},
        {riff({chunk("fmt ", fmt(3, 1, 8000, 4, 32)), chunk("data", data)}),
         "is 32-bit floating point with 1 channel" + accepted},
        {riff({chunk("fmt ", fmt(2, 1, 8000, 256, 4)), chunk("data", data)}),
         "is compressed (format 0x0002) with 1 channel" + accepted},
        {riff({chunk("fmt ", fmt(1, 3, 8000, 6, 16)), chunk("data", data)}),
         "is 16-bit PCM with 3 channels" + accepted},
        {riff({chunk("fmt ", extensible(2, 32, 3)), chunk("data", data)}),
         "is 32-bit floating point with 2 channels" + accepted},
        {riff({chunk("fmt ", Bytes(short_extensible.begin(), short_extensible.begin() + 24)), chunk("data", data)}),
         "has an extensible 'fmt ' chunk of 24 bytes, too short: an extensible format needs 40"},
        {riff({chunk("fmt ", no_extension), chunk("data", data)}),
         "has an extensible 'fmt ' chunk that announces an extension of 0 bytes: an extensible format needs 22"},
        {riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", data)}, 0),
         "lies about its sizes: its RIFF header announces 8 bytes, too few to hold its 'fmt ' and 'data' chunks (the "
         "file holds 48)"},
        {riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", data)}, 28),
         "lies about its sizes: its RIFF header announces 36 bytes, too few to hold its 'fmt ' and 'data' chunks (the "
         "file holds 48)"},
        {riff({Bytes{'L', 'I', 'S', 'T', 3, 0, 0, 0, 'I', 'N', 'F'}, chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", data)}),
         "has a 'LIST' chunk of 3 bytes without the pad byte that must follow a chunk of odd size"},
        {riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", data), chunk("data", data)}),
         "has two 'data' chunks: which one holds its sound is not clear"},
        {riff({chunk("fmt ", Bytes(14, 0)), chunk("data", data)}),
         "has a 'fmt ' chunk of 14 bytes, too short for a sound format (16 at least)"},
        {riff({chunk("fmt ", fmt(1, 2, 8000, 2, 16)), chunk("data", data)}),
         "has a 'fmt ' chunk that does not fit: a block align of 2 bytes for 2 channels of 16 bits"},
        {riff({chunk("fmt ", fmt(1, 1, 0, 2, 16)), chunk("data", data)}),
         "has a 'fmt ' chunk that does not fit: a sample rate of 0"},
        {riff({chunk("data", data)}), "has no 'fmt ' chunk: it does not say what its samples are"},
        {riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("LIST", data)}),
         "has no 'data' chunk: it holds no samples"},
        {riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", {1, 0, 2, 0, 3})}),
         "lies about its sizes: its 'data' chunk of 5 bytes is not a whole number of 2-byte samples"},
        {riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", data)}, 100),
         "is cut short: its RIFF header announces 108 bytes, the file holds 48"},
        {riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", data, 1000)}),
         "is cut short: its 'data' chunk announces 1000 bytes, the file holds 4 after its header"},
        {riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", data)}, 38) + Bytes(8, 0),
         "lies about its sizes: its 'data' chunk of 4 bytes goes past the end of the RIFF form"},
    };
    for (const auto& c : cases) {
        Memory m(c.file);
        const auto r = wv5::read_wav(m);
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << c.problem;
        EXPECT_EQ(std::get<std::string>(r), c.problem);
    }
}

Bytes repeated(std::uint8_t code, std::size_t n) { return Bytes(n, code); }
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

TEST(Wv5Encode, RunsExactBytes) {
    const struct {
        const char* what;
        Bytes codes;
        Bytes runs;
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
    };
    for (const auto& c : cases) EXPECT_EQ(wv5::pack_runs(c.codes), c.runs) << c.what;
}

TEST(Wv5Encode, RunsAtTheLimits) {
    const struct {
        const char* what;
        Bytes codes;
        std::size_t bytes;
        std::uint64_t runs;
    } cases[] = {
        {"257 different: kind 1 and a one-code kind 0", varied(257), 257 + 3, 2},
        {"512 different: two kind 1", varied(512), 2 * 257, 2},
        {"511 different", varied(511), 257 + 2 + 255, 2},
        {"65536 equal: two runs, 6 bytes", repeated(9, 65536), 6, 2},
        {"65537 equal", repeated(9, 65537), 6, 2},
        {"131070 equal: two full kind 3", repeated(9, 131070), 8, 2},
        {"a block, a repeat, a block", varied(256) + repeated(3, 300) + varied(256), 257 + 4 + 257, 3},
    };
    for (const auto& c : cases) {
        std::uint64_t runs = 0;
        const Bytes packed = wv5::pack_runs(c.codes, &runs);
        EXPECT_EQ(packed.size(), c.bytes) << c.what;
        EXPECT_EQ(runs, c.runs) << c.what;
        EXPECT_EQ(expand(packed), c.codes) << c.what;
    }
}

TEST(Wv5Encode, PackerStreamsLongSounds) {
    // Silence and bursts across several windows: the streamed runs cover
    // the codes and cost no more than a few bytes per window over packing all at once.
    Bytes codes;
    for (int i = 0; i < 40; ++i) codes = codes + repeated(0, 7000 + 3 * i) + varied(1000 + 37 * i);
    struct Collect : wv5::Sink {
        Bytes out;
        bool write(ByteView b) override { return out.insert(out.end(), b.begin(), b.end()), true; }
    } sink;
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
    struct Io : wv5::Source, wv5::Sink {
        ByteView in;
        Bytes out;
        std::size_t read(std::span<std::uint8_t> to) override {
            const std::size_t k = std::min(to.size(), in.size());
            std::copy_n(in.begin(), k, to.begin());
            in = in.subspan(k);
            return k;
        }
        bool write(ByteView bytes) override { return out.insert(out.end(), bytes.begin(), bytes.end()), true; }
    } io;
    io.in = ByteView(file).subspan(wv5::kHeaderSize);
    wv5::decode_runs(*wv5::parse_header(file), io, io);
    Samples s(io.out.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::int16_t>(load_u16(&io.out[2 * i]));
    return s;
}

TEST(Wv5Encode, DecodedSoundComesBackExactly) {
    for (bool two : {false, true}) {
        // Odd counts too: two channels that end on the first channel's sample.
        for (std::size_t n : {std::size_t{1}, std::size_t{127}, std::size_t{256}, std::size_t{5001}}) {
            const Samples want = decoded_noise(n, two, static_cast<std::uint32_t>(n));
            const Bytes codes = search(want, two);
            ASSERT_EQ(codes.size(), want.size());
            // Replay the codes by the format: channel by channel, wrapping at 16 bits.
            std::uint16_t value[2] = {0, 0};
            for (std::size_t i = 0; i < codes.size(); ++i) {
                std::uint16_t& v = value[two ? i % 2 : 0];
                v = static_cast<std::uint16_t>(v + wv5::step_of(codes[i]));
                ASSERT_EQ(static_cast<std::int16_t>(v), want[i])
                    << "sample " << i << " of " << n << (two ? " stereo" : "");
            }
        }
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

}  // namespace
}  // namespace vid

// BM2 images: the LZSS stream, the alpha bitmaps and the per-file converter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "bm2/bm2.h"
#include "kit/kit.h"
#include "kit/lzss_bm2.h"
#include "platform/file.h"
#include "test_support.h"

namespace vid {
namespace {

// The decompressor exactly as the format describes it: a 4096-byte ring,
// one byte at a time.
Bytes reference_lzss(ByteView in, std::size_t out_size) {
    Bytes out(out_size, 0), window(4096, 0);
    std::size_t i = 0, o = 0, w = 4078;
    auto put = [&](std::uint8_t b) {
        out[o++] = b;
        window[w] = b;
        w = (w + 1) % 4096;
    };
    while (i < in.size()) {
        unsigned flags = in[i++];
        for (int k = 0; k < 8 && i < in.size(); ++k, flags >>= 1) {
            if (flags & 1) {
                if (o < out_size) put(in[i]);
                ++i;
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

TEST(Lzss, HandBuiltStreams) {
    struct Case {
        const char* what;
        Bytes packed;
        std::size_t out_size;
        Bytes want;  // the whole output block, zero where nothing was produced
        std::size_t produced;
    } cases[] = {
        {"literal run", {0xFF, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0x01, 'I'}, 9, test::bytes_of("ABCDEFGHI"), 9},
        // Window position 0 was never written: zeros, not spaces.
        {"match into the unwritten window", {0x05, 'A', 0x00, 0x01, 'B'}, 6, {'A', 0, 0, 0, 0, 'B'}, 6},
        // 0xEE 0xF? names position 4078, where the first output byte went.
        {"one byte repeated", {0x01, 'x', 0xEE, 0xF4}, 8, test::bytes_of("xxxxxxxx"), 8},
        {"overlapping pattern", {0x03, 'a', 'b', 0xEE, 0xF3}, 8, test::bytes_of("abababab"), 8},
        {"match cut at the unpacked size", {0x01, 'q', 0xEE, 0xFF}, 5, test::bytes_of("qqqqq"), 5},
        {"flags past the end of the data", {0x07, 'z'}, 4, {'z', 0, 0, 0}, 1},
        {"match cut by the end of the data", {0x00, 0x12}, 3, {0, 0, 0}, 0},
        {"literals past the unpacked size", {0xFF, '1', '2', '3'}, 2, test::bytes_of("12"), 2},
        {"nothing", {}, 2, {0, 0}, 0},
    };
    for (const auto& c : cases) {
        Bytes out(c.out_size, 0);
        EXPECT_EQ(bm2::lzss_decode(c.packed, out), c.produced) << c.what;
        EXPECT_EQ(out, c.want) << c.what;
        EXPECT_EQ(reference_lzss(c.packed, c.out_size), c.want) << c.what;
    }
}

TEST(Lzss, AgreesWithTheByteAtATimeDecoder) {
    kit::Rng rng(7);
    // Our compressor's streams, and random streams (distances up to 4096,
    // sources in the initial zeros, overlaps, cuts), at several sizes.
    const Bytes image = kit::bmp24(150, 90, 3);
    const Bytes packed = kit::lzss_encode(image);
    Bytes out(image.size());
    EXPECT_EQ(bm2::lzss_decode(packed, out), image.size());
    EXPECT_EQ(out, image);
    for (int round = 0; round < 200; ++round) {
        Bytes stream(rng.below(6000));
        for (auto& b : stream) b = rng.below(4) ? rng.byte() : 0xFF;
        const std::size_t size = rng.below(20000);
        Bytes got(size, 0);
        bm2::lzss_decode(stream, got);
        ASSERT_EQ(got, reference_lzss(stream, size)) << "round " << round;
        // In small pieces, past the end of the stream.
        bm2::LzssReader reader(stream, size + 200, 1 + round % 97);
        Bytes pieces;
        for (ByteView piece = reader.next(); !piece.empty(); piece = reader.next())
            pieces.insert(pieces.end(), piece.begin(), piece.end());
        ASSERT_EQ(pieces, reference_lzss(stream, size + 200)) << "round " << round;
    }
}

TEST(Lzss, SizeBoundIsReached) {
    Bytes all_matches(17, 0);  // a flag byte of matches and eight 18-byte matches
    for (std::size_t k = 2; k < 17; k += 2) all_matches[k] = 0x0F;
    Bytes out(1000, 1);
    EXPECT_EQ(bm2::lzss_decode(all_matches, out), 144u);
    EXPECT_EQ(bm2::max_unpacked(17), 144u);
    EXPECT_EQ(bm2::max_unpacked(3), 18u);
    EXPECT_EQ(bm2::max_unpacked(1), 0u);
}

TEST(Lzss, ReaderGivesTheSameBytesInPieces) {
    // More than one piece, and an unpacked size past what the stream gives.
    const Bytes image = kit::bmp24(400, 300, 5);
    const Bytes packed = kit::lzss_encode(image);
    for (const std::size_t size : {image.size(), image.size() + 300000, std::size_t{5000}}) {
        Bytes whole(size);
        const std::size_t produced = bm2::lzss_decode(packed, whole);
        for (const std::size_t piece_size : {bm2::LzssReader::kPiece, std::size_t{777}}) {
            bm2::LzssReader reader(packed, size, piece_size);
            Bytes pieces;
            for (ByteView piece = reader.next(); !piece.empty(); piece = reader.next()) {
                EXPECT_LE(piece.size(), piece_size + 150);
                pieces.insert(pieces.end(), piece.begin(), piece.end());
            }
            EXPECT_EQ(pieces, whole) << size;
            EXPECT_EQ(reader.produced(), produced) << size;
        }
    }
}

struct Written {
    bm2::AlphaOutcome outcome;
    Bytes file;
};

// Writes through the whole-data entry and through pieces of 7 bytes (odd,
// so that pixel pairs straddle them); both must give the same file.
Written write_alpha(const Bytes& decoded) {
    Written w, in_pieces;
    w.outcome = bm2::write_alpha(decoded, [&](ByteView piece) {
        w.file.insert(w.file.end(), piece.begin(), piece.end());
        return true;
    });
    std::size_t pos = 0;
    in_pieces.outcome = bm2::write_alpha(
        [&] {
            const ByteView piece = ByteView(decoded).subspan(pos, std::min<std::size_t>(7, decoded.size() - pos));
            pos += piece.size();
            return piece;
        },
        decoded.size(),
        [&](ByteView piece) {
            in_pieces.file.insert(in_pieces.file.end(), piece.begin(), piece.end());
            return true;
        });
    EXPECT_EQ(in_pieces.file, w.file);
    EXPECT_EQ(in_pieces.outcome.result, w.outcome.result);
    return w;
}

void expect_headers(const Bytes& f, std::uint32_t size, std::uint32_t offset, std::uint16_t w, std::uint16_t h,
                    std::uint16_t bits) {
    ASSERT_GE(f.size(), 54u);
    Bytes want{'B', 'M'};
    for (std::uint32_t v : {size, 0u, offset, 40u, std::uint32_t{w}, std::uint32_t{h}}) put_u32(want, v);
    put_u16(want, 1);
    put_u16(want, bits);
    want.resize(54, 0);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 54), want) << "width " << w;
    EXPECT_EQ(f.size(), size) << "width " << w;
}

TEST(Alpha, EightBitRowsAreFilledWithTheFirstDecodedBytes) {
    for (std::uint16_t width = 1; width <= 5; ++width) {
        const std::uint16_t height = 3;
        const Bytes picture = kit::alpha_picture(8, width, height, width);
        const Bytes decoded = kit::bm2_alpha(8, width, height, picture);
        const std::uint32_t fill = (4 - width % 4) % 4;
        // The size the format gives, which is also the length written.
        const std::uint32_t size =
            1078 + static_cast<std::uint32_t>(decoded.size() - 1046) / 2 + height * fill;
        const Written w = write_alpha(decoded);
        EXPECT_EQ(w.outcome.result, bm2::AlphaResult::written);
        expect_headers(w.file, size, 1078, width, height, 8);
        EXPECT_TRUE(std::equal(picture.begin(), picture.begin() + 1024, w.file.begin() + 54));
        Bytes rows;
        for (std::size_t y = 0, k = 0; y < height; ++y) {
            for (std::size_t x = 0; x < width; ++x, ++k) rows.push_back(picture[1024 + 2 * k]);
            rows.insert(rows.end(), decoded.begin(), decoded.begin() + fill);  // "B", "BM" or "BM2"
        }
        EXPECT_EQ(Bytes(w.file.begin() + 1078, w.file.end()), rows) << "width " << width;
    }
}

TEST(Alpha, TwentyFourBitsBecomeA32BitBitmap) {
    for (std::uint16_t width = 1; width <= 5; ++width) {
        const Bytes picture = kit::alpha_picture(24, width, 2, width);
        const Bytes decoded = kit::bm2_alpha(24, width, 2, picture);
        const Written w = write_alpha(decoded);
        EXPECT_EQ(w.outcome.result, bm2::AlphaResult::written);
        expect_headers(w.file, static_cast<std::uint32_t>(decoded.size() + 32), 54, width, 2, 32);
        EXPECT_EQ(Bytes(w.file.begin() + 54, w.file.end()), picture);
    }
}

TEST(Alpha, DataThatLie) {
    // Bit counts other than 8 and 24: nothing written.
    for (std::uint16_t bits : {std::uint16_t{0}, std::uint16_t{16}, std::uint16_t{32}}) {
        const Written w = write_alpha(kit::bm2_alpha(bits, 2, 2, Bytes(16, 1)));
        EXPECT_EQ(w.outcome.result, bm2::AlphaResult::bad_bit_count);
        EXPECT_TRUE(w.file.empty());
    }
    // Fewer pixels than the size needs: the rest are zero, the headers
    // agree with what is written.
    Written w = write_alpha(kit::bm2_alpha(24, 3, 2, Bytes(10, 9)));
    EXPECT_EQ(w.outcome.result, bm2::AlphaResult::missing_pixels);
    EXPECT_EQ(w.outcome.pixels_held, 2u);
    expect_headers(w.file, 54 + 24, 54, 3, 2, 32);
    EXPECT_EQ(Bytes(w.file.begin() + 54, w.file.end()), Bytes({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 0, 0, 0, 0, 0, 0, 0,
                                                              0, 0, 0, 0, 0, 0, 0}));
    w = write_alpha(kit::bm2_alpha(8, 3, 2, Bytes(1000, 5)));  // the colour table is cut short
    EXPECT_EQ(w.outcome.result, bm2::AlphaResult::missing_pixels);
    expect_headers(w.file, 1078 + 8, 1078, 3, 2, 8);
    EXPECT_EQ(w.file[54 + 999], 5);
    Bytes rest(24 + 8, 0);  // the end of the table, then two rows of zeros and their fill
    rest[27] = rest[31] = 'B';
    EXPECT_EQ(Bytes(w.file.begin() + 54 + 1000, w.file.end()), rest);
    w = write_alpha(kit::bm2_alpha(24, 65535, 65535, {}));  // would need 16 GiB
    EXPECT_EQ(w.outcome.result, bm2::AlphaResult::too_large);
    EXPECT_TRUE(w.file.empty());
    w = write_alpha(Bytes{'B', 'M', '2', 'A', 0, 0, 0, 0, 8});  // the header itself is cut: width and height 0
    EXPECT_EQ(w.outcome.result, bm2::AlphaResult::written);
    expect_headers(w.file, 1078, 1078, 0, 0, 8);
}

TEST(DecodeBm2, WritesBesideTheInput) {
    test::ScratchDir dir;
    const Bytes bmp = kit::bmp24(33, 7, 1);
    const std::string in = dir.file("pic.bm2"), in8 = dir.file("a8.bm2"), in16 = dir.file("a16.bm2");
    test::write_file(in, kit::bm2_file(bmp));
    test::write_file(dir.file("pic.bmP"), "old contents, longer than nothing");
    test::write_file(in8, kit::bm2_file(kit::bm2_alpha(8, 3, 2, kit::alpha_picture(8, 3, 2, 1))));
    test::write_file(in16, kit::bm2_file(kit::bm2_alpha(16, 3, 2, Bytes(24, 1))));

    test::RecordingUi ui;
    EXPECT_TRUE(bm2::decode_file(ui, in));
    EXPECT_EQ(test::read_file(dir.file("pic.bmP")), bmp);
    EXPECT_TRUE(bm2::decode_file(ui, in8)) << "the warning is not a failure";
    EXPECT_EQ(test::read_file(dir.file("a8.bmP")).size(), 1086u);
    EXPECT_FALSE(bm2::decode_file(ui, in16));
    EXPECT_EQ(test::read_file(dir.file("a16.bmP")).size(), 0u);
    EXPECT_FALSE(bm2::decode_file(ui, dir.file("none.bm2")));
    EXPECT_FALSE(test::file_exists(dir.file("none.bmP")));
    // Decoded in several pieces: the same bitmap as from the whole data.
    const Bytes big = kit::bm2_alpha(8, 701, 400, kit::alpha_picture(8, 701, 400, 9));
    test::write_file(dir.file("big.bm2"), kit::bm2_file(big));
    test::RecordingUi quiet;
    EXPECT_TRUE(bm2::decode_file(quiet, dir.file("big.bm2")));
    EXPECT_EQ(test::read_file(dir.file("big.bmP")), write_alpha(big).file);
    using E = test::Event;
    EXPECT_EQ(ui.events, (std::vector<E>{
                             {E::status_now, "Decoding " + in},
                             {E::status_now, "Decoding " + in8},
                             {E::alert, "8bits alpha BMP are not correctly decoded\nIt's only to view not mod"},
                             {E::status_now, "Decoding " + in16},
                             {E::alert, "Decode 8 or 24 bits alpha BMP only"},
                             {E::status_now, "Decoding " + dir.file("none.bm2")},
                             {E::alert, dir.file("none.bm2") + " not found"},
                         }));
}

TEST(DecodeBm2, FilesThatLieAreRefusedWithTheirName) {
    test::ScratchDir dir;
    const Bytes packed = kit::lzss_encode(Bytes(100, 'x'));
    const auto n = static_cast<std::int32_t>(packed.size());
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"short.bm2", Bytes(15, 0)},
        {"negative_packed.bm2", kit::bm2_wrap(packed, -1, 100)},
        {"negative_unpacked.bm2", kit::bm2_wrap(packed, n, -100)},
        {"beyond_end.bm2", kit::bm2_wrap(packed, n + 1, 100)},
        {"too_big.bm2", kit::bm2_wrap(packed, n, 0x7FFFFFFF)},
        {"missing_pixels.bm2", kit::bm2_file(kit::bm2_alpha(24, 100, 100, Bytes(40, 1)))},
    };
    for (const auto& c : cases) {
        test::RecordingUi ui;
        test::write_file(dir.file(c.name), c.file);
        EXPECT_FALSE(bm2::decode_file(ui, dir.file(c.name))) << c.name;
        ASSERT_EQ(ui.alerts().size(), 1u) << c.name;
        EXPECT_NE(ui.alerts()[0].find(dir.file(c.name)), std::string::npos) << ui.alerts()[0];
    }
    EXPECT_EQ(test::read_file(dir.file("missing_pixels.bmP")).size(), 54u + 40000u);

    test::RecordingUi ui;
    const std::string long_path = dir.file(std::string(260, 'n') + ".bm2");
    EXPECT_FALSE(bm2::decode_file(ui, long_path));
    ASSERT_EQ(ui.alerts().size(), 1u);
    EXPECT_NE(ui.alerts()[0].find(long_path), std::string::npos);

    platform::create_directory(dir.file("busy.bmP"));
    test::write_file(dir.file("busy.bm2"), kit::bm2_file(Bytes(4, 1)));
    EXPECT_FALSE(bm2::decode_file(ui, dir.file("busy.bm2")));
    EXPECT_EQ(ui.alerts().back(), "Can't create " + dir.file("busy.bmP"));
}

}  // namespace
}  // namespace vid

// BM2 images: the LZSS stream, the alpha bitmaps and the per-file converter.
#include <gtest/gtest.h>

#include <algorithm>

#include "bm2/bm2.h"
#include "kit/lzss_bm2.h"
#include "platform/file.h"
#include "test_support.h"

namespace vid {
namespace {

// Everything an LzssReader gives, in pieces of about `piece` bytes.
Bytes read_pieces(const Bytes& packed, std::size_t size, std::size_t piece) {
    bm2::LzssReader reader(packed, size, piece);
    Bytes all;
    for (ByteView p = reader.next(); !p.empty(); p = reader.next()) {
        EXPECT_LE(p.size(), piece + 150);
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TEST(Lzss, HandBuiltStreams) {
    Bytes all_matches(17, 0);  // a flag byte of matches and eight 18-byte matches into the zero window
    for (std::size_t k = 2; k < 17; k += 2) all_matches[k] = 0x0F;
    const struct {
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
        {"the most that 17 bytes give", all_matches, 150, Bytes(150, 0), 144},
    };
    for (const auto& c : cases) {
        Bytes out(c.out_size, 1);
        EXPECT_EQ(bm2::lzss_decode(c.packed, out), c.produced) << c.what;
        EXPECT_EQ(out, c.want) << c.what;
        EXPECT_EQ(read_pieces(c.packed, c.out_size, 3), c.want) << c.what;
    }
    EXPECT_EQ(bm2::max_unpacked(17), 144u);  // the bound that files are checked against is reached
}

TEST(Lzss, RoundTripsThroughOurCompressor) {
    const Bytes image = kit::bmp24(400, 300, 5), packed = kit::lzss_encode(image);
    Bytes whole(image.size());
    EXPECT_EQ(bm2::lzss_decode(packed, whole), image.size());
    EXPECT_EQ(whole, image);
    // Pieces, and unpacked sizes past and short of what the stream gives.
    for (const std::size_t size : {image.size(), image.size() + 300000, std::size_t{500}}) {
        Bytes want(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(std::min(size, image.size())));
        want.resize(size, 0);
        EXPECT_EQ(read_pieces(packed, size, bm2::LzssReader::kPiece), want);
        EXPECT_EQ(read_pieces(packed, size, 777), want);
    }
}

// Writes through the whole-data entry and through pieces of 7 bytes (odd,
// so that pixel pairs straddle them); both must give the same file.
std::pair<bm2::AlphaOutcome, Bytes> write_alpha(const Bytes& decoded) {
    Bytes whole, pieces;
    auto into = [](Bytes& b) { return [&b](ByteView p) { return b.insert(b.end(), p.begin(), p.end()), true; }; };
    const auto outcome = bm2::write_alpha(decoded, into(whole));
    std::size_t pos = 0, at = 0;
    const auto next = [&] { return at = pos, pos = std::min(pos + 7, decoded.size()), ByteView(decoded).subspan(at, pos - at); };
    EXPECT_EQ(bm2::write_alpha(next, decoded.size(), into(pieces)).result, outcome.result);
    EXPECT_EQ(pieces, whole);
    return {outcome, whole};
}

// A bitmap file: its two headers, then `body`.
Bytes bmp(std::uint32_t offset, std::uint16_t width, std::uint16_t height, std::uint16_t bits, const Bytes& body) {
    Bytes f{'B', 'M'};
    for (std::uint32_t v : {54u + std::uint32_t(body.size()), 0u, offset, 40u, std::uint32_t{width}, std::uint32_t{height}})
        put_u32(f, v);
    put_u16(f, 1);
    put_u16(f, bits);
    f.resize(54, 0);
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

// The 8-bit bitmap of an 8-bit alpha picture: the colour table, the indexes,
// each row filled to 4 bytes with the first decoded bytes ("B", "BM" or "BM2").
Bytes alpha8_bmp(std::uint16_t width, std::uint16_t height, const Bytes& picture) {
    Bytes body(picture.begin(), picture.begin() + 1024);
    for (std::size_t y = 0, k = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x, ++k) body.push_back(picture[1024 + 2 * k]);
        for (std::size_t x = width; x % 4; ++x) body.push_back("BM2"[x - width]);
    }
    return bmp(1078, width, height, 8, body);
}

TEST(Alpha, WidthsOneToFive) {
    for (std::uint16_t width = 1; width <= 5; ++width) {
        // 24 bits: the picture as it is, under 32-bit headers.
        const Bytes picture24 = kit::alpha_picture(24, width, 2, width);
        auto [outcome, file] = write_alpha(kit::bm2_alpha(24, width, 2, picture24));
        EXPECT_EQ(outcome.result, bm2::AlphaResult::written);
        EXPECT_EQ(file, bmp(54, width, 2, 32, picture24)) << "width " << width;
        const Bytes picture = kit::alpha_picture(8, width, 3, width);
        std::tie(outcome, file) = write_alpha(kit::bm2_alpha(8, width, 3, picture));
        EXPECT_EQ(outcome.result, bm2::AlphaResult::written);
        EXPECT_EQ(file, alpha8_bmp(width, 3, picture)) << "width " << width;
    }
}

TEST(Alpha, DataThatLie) {
    Bytes cut24(24, 0), cut8(1032, 0);  // pixels the data do not hold are zero
    std::fill_n(cut24.begin(), 10, 9);
    std::fill_n(cut8.begin(), 1000, 5);  // the colour table is cut short; then two rows of zeros and their fill
    cut8[1027] = cut8[1031] = 'B';
    // 8 bits, 3 x 2: the last pixel's index byte is the last byte, or is missing.
    Bytes last8(1032, 5), short8(1032, 5);
    last8[1027] = last8[1031] = short8[1027] = short8[1031] = 'B';
    short8[1030] = 0;
    const struct {
        Bytes decoded;
        bm2::AlphaResult result;
        Bytes file;  // empty: nothing written
    } cases[] = {
        {kit::bm2_alpha(0, 2, 2, Bytes(16, 1)), bm2::AlphaResult::bad_bit_count, {}},
        {kit::bm2_alpha(16, 2, 2, Bytes(16, 1)), bm2::AlphaResult::bad_bit_count, {}},
        {kit::bm2_alpha(32, 2, 2, Bytes(16, 1)), bm2::AlphaResult::bad_bit_count, {}},
        {kit::bm2_alpha(24, 3, 2, Bytes(10, 9)), bm2::AlphaResult::missing_pixels, bmp(54, 3, 2, 32, cut24)},
        {kit::bm2_alpha(8, 3, 2, Bytes(1000, 5)), bm2::AlphaResult::missing_pixels, bmp(1078, 3, 2, 8, cut8)},
        {kit::bm2_alpha(8, 3, 2, Bytes(1035, 5)), bm2::AlphaResult::written, bmp(1078, 3, 2, 8, last8)},
        {kit::bm2_alpha(8, 3, 2, Bytes(1034, 5)), bm2::AlphaResult::missing_pixels, bmp(1078, 3, 2, 8, short8)},
        {kit::bm2_alpha(24, 65535, 65535, {}), bm2::AlphaResult::too_large, {}},  // would need 16 GiB
        {{'B', 'M', '2', 'A', 0, 0, 0, 0, 8}, bm2::AlphaResult::written, bmp(1078, 0, 0, 8, Bytes(1024, 0))},
    };
    for (const auto& c : cases) {
        const auto [outcome, file] = write_alpha(c.decoded);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(file, c.file);
    }
}

TEST(DecodeBm2, OrdinaryAndLargeImages) {
    test::ScratchDir dir;
    const Bytes ordinary = kit::bmp24(33, 7, 1), picture = kit::alpha_picture(8, 701, 400, 9);
    // An ordinary bitmap is written unchanged; a large alpha one is decoded in pieces.
    for (const auto& [decoded, want] : {std::pair{ordinary, ordinary},
                                        std::pair{kit::bm2_alpha(8, 701, 400, picture), alpha8_bmp(701, 400, picture)}}) {
        test::write_file(dir.file("in.bm2"), kit::bm2_file(decoded));
        test::RecordingUi ui;
        EXPECT_TRUE(bm2::decode_file(ui, dir.file("in.bm2")));
        EXPECT_EQ(test::read_file(dir.file("in.bmP")), want);
    }
}

TEST(DecodeBm2, FilesThatLieAreRefusedWithTheirName) {
    test::ScratchDir dir;
    const Bytes packed = kit::lzss_encode(Bytes(100, 'x'));
    const auto n = static_cast<std::int32_t>(packed.size());
    platform::create_directory(dir.file("busy.bmP"));
    const std::tuple<std::string, Bytes, std::string> cases[] = {  // name, bytes, part of the Alert
        {"short.bm2", Bytes(15, 0), "ends inside its 16-byte header"},
        {"negative_packed.bm2", kit::bm2_wrap(packed, -1, 100), "gives a negative size (packed -1, unpacked 100)"},
        {"negative_unpacked.bm2", kit::bm2_wrap(packed, n, -100), "gives a negative size"},
        {"beyond_end.bm2", kit::bm2_wrap(packed, n + 1, 100), "announces " + std::to_string(n + 1) + " bytes of packed data"},
        {"too_big.bm2", kit::bm2_wrap(packed, n, 0x7FFFFFFF), "cannot decode to the 2147483647 bytes"},
        {"missing_pixels.bm2", kit::bm2_file(kit::bm2_alpha(24, 100, 100, Bytes(40, 1))), "needs 10000 pixels, the data hold 10"},
        {"busy.bm2", kit::bm2_file(Bytes(4, 1)), "busy.bmP is a folder"},  // the output
        {std::string(260, 'n') + ".bm2", {}, "Path too long"},
    };
    for (const auto& [name, bytes, part] : cases) {
        test::RecordingUi ui;
        if (name.size() < 200) test::write_file(dir.file(name), bytes);
        EXPECT_FALSE(bm2::decode_file(ui, dir.file(name))) << name;
        ASSERT_EQ(ui.alerts().size(), 1u) << name;
        const std::string path = dir.file(name);  // the file, or its output ending in "P"
        EXPECT_NE(ui.alerts()[0].find(path.substr(0, path.size() - 1)), std::string::npos) << ui.alerts()[0];
        EXPECT_NE(ui.alerts()[0].find(part), std::string::npos) << ui.alerts()[0];
    }
    EXPECT_EQ(test::read_file(dir.file("missing_pixels.bmP")).size(), 54u + 40000u);
}

}  // namespace
}  // namespace vid

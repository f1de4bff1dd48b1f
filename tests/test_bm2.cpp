// BM2 images: the LZSS stream, the alpha bitmaps and the per-file converter.
#include <gtest/gtest.h>

#include <algorithm>

#include "bm2/bm2.h"
#include "kit/lzss_bm2.h"
#include "platform/file.h"
#include "test_support.h"

namespace vid {
namespace {

// Packed data handed out 7 bytes at a time at most.
struct Trickle : bm2::PackedSource {
    explicit Trickle(ByteView d) : data(d) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        const std::size_t n = std::min({out.size(), std::size_t{7}, data.size() - pos});
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), n, out.begin());
        return pos += n, n;
    }
    ByteView data;
    std::size_t pos = 0;
};

// Everything an LzssReader gives, in pieces of about `piece` bytes; with
// `trickle`, its packed data come in reads of 7 bytes into its smallest
// input buffer.
Bytes read_pieces(const Bytes& packed, std::size_t size, std::size_t piece, bool trickle = false) {
    Trickle source(packed);
    bm2::LzssReader reader = trickle ? bm2::LzssReader(source, packed.size(), size, piece, 0)
                                     : bm2::LzssReader(packed, size, piece);
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
        EXPECT_EQ(read_pieces(c.packed, c.out_size, 3, true), c.want) << c.what;
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
        EXPECT_EQ(read_pieces(packed, size, 777, true), want);
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
    Bytes f = test::bmp_head(54 + std::uint32_t(body.size()), offset, width, height, bits);
    f.resize(54, 0);
    return f + body;
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
    using R = bm2::AlphaResult;
    const Bytes table(1024, 5);
    const auto plus = [](Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; };
    const Bytes header24 = kit::bm2_alpha(24, 0, 0, {});  // the 22 bytes of a 24-bit 0 x 0 picture
    const struct {
        const char* what;
        Bytes decoded;
        R result;
        std::uint32_t rows;
        Bytes file;  // empty: nothing written
    } cases[] = {
        {"bit count 0", kit::bm2_alpha(0, 2, 2, Bytes(16, 1)), R::bad_bit_count, 0, {}},
        {"bit count 16", kit::bm2_alpha(16, 2, 2, Bytes(16, 1)), R::bad_bit_count, 0, {}},
        {"bit count 32", kit::bm2_alpha(32, 2, 2, Bytes(16, 1)), R::bad_bit_count, 0, {}},
        // The alpha header is 22 bytes; an 8-bit picture needs its colour table too.
        {"header of 9 bytes", {'B', 'M', '2', 'A', 0, 0, 0, 0, 24}, R::cut_header, 0, {}},
        {"header of 21 bytes", Bytes(header24.begin(), header24.end() - 1), R::cut_header, 0, {}},
        {"header of 22 bytes", header24, R::written, 0, bmp(54, 0, 0, 32, {})},
        {"colour table cut", kit::bm2_alpha(8, 0, 0, Bytes(1023, 5)), R::cut_header, 0, {}},
        {"colour table whole", kit::bm2_alpha(8, 0, 0, table), R::written, 0, bmp(1078, 0, 0, 8, table)},
        // 24 bits, 3 x 2: rows of 12 bytes. Only complete rows are written,
        // and the headers give their number as the height.
        {"24: half a row", kit::bm2_alpha(24, 3, 2, Bytes(10, 9)), R::missing_rows, 0, bmp(54, 3, 0, 32, {})},
        {"24: one row", kit::bm2_alpha(24, 3, 2, Bytes(12, 9)), R::missing_rows, 1, bmp(54, 3, 1, 32, Bytes(12, 9))},
        {"24: a byte short", kit::bm2_alpha(24, 3, 2, Bytes(23, 9)), R::missing_rows, 1, bmp(54, 3, 1, 32, Bytes(12, 9))},
        {"24: both rows", kit::bm2_alpha(24, 3, 2, Bytes(24, 9)), R::written, 2, bmp(54, 3, 2, 32, Bytes(24, 9))},
        {"24: 65535 x 65535 of nothing", kit::bm2_alpha(24, 65535, 65535, {}), R::missing_rows, 0,
         bmp(54, 65535, 0, 32, {})},
        // 8 bits, 3 x 2: a pixel is there with its index byte; rows of 3
        // indexes and one fill byte ("B").
        {"8: two pixels", kit::bm2_alpha(8, 3, 2, plus(table, {1, 0xA1, 2, 0xA2})), R::missing_rows, 0,
         bmp(1078, 3, 0, 8, table)},
        {"8: one row", kit::bm2_alpha(8, 3, 2, plus(table, {1, 0xA1, 2, 0xA2, 3})), R::missing_rows, 1,
         bmp(1078, 3, 1, 8, plus(table, {1, 2, 3, 'B'}))},
        {"8: both rows", kit::bm2_alpha(8, 3, 2, plus(table, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6})), R::written, 2,
         bmp(1078, 3, 2, 8, plus(table, {1, 2, 3, 'B', 4, 5, 6, 'B'}))},
        {"8: 65532 x 65535 of nothing", kit::bm2_alpha(8, 65532, 65535, table), R::missing_rows, 0,
         bmp(1078, 65532, 0, 8, table)},
    };
    for (const auto& c : cases) {
        const auto [outcome, file] = write_alpha(c.decoded);
        EXPECT_EQ(outcome.result, c.result) << c.what;
        EXPECT_EQ(outcome.rows_held, c.rows) << c.what;
        EXPECT_EQ(file, c.file) << c.what;
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
    const Bytes old = test::bytes_of("an older bitmap");
    const struct {
        std::string name;
        Bytes file;
        std::string part;  // part of the Alert
        Bytes out;         // the bitmap afterwards; `old` when the older one must stay
    } cases[] = {
        {"short.bm2", Bytes(15, 0), "ends inside its 16-byte header", old},
        {"negative_packed.bm2", kit::bm2_wrap(packed, -1, 100), "gives a negative size (packed -1, unpacked 100)", old},
        {"negative_unpacked.bm2", kit::bm2_wrap(packed, n, -100), "gives a negative size", old},
        {"beyond_end.bm2", kit::bm2_wrap(packed, n + 1, 100), "announces " + std::to_string(n + 1) + " bytes of packed data",
         old},
        {"too_big.bm2", kit::bm2_wrap(packed, n, 0x7FFFFFFF), "cannot decode to the 2147483647 bytes", old},
        {"cut_header.bm2", kit::bm2_file(Bytes{'B', 'M', '2', 'A', 0, 0, 0, 0, 24}), ".bm2 is damaged: its alpha picture has 9 bytes of decoded data, its header needs 22",
         old},
        {"cut_table.bm2", kit::bm2_file(kit::bm2_alpha(8, 2, 2, Bytes(100, 1))), "its header and colour table need 1046", old},
        // 10 pixels of 100 x 100: not one complete row.
        {"missing_rows.bm2", kit::bm2_file(kit::bm2_alpha(24, 100, 100, Bytes(40, 1))),
         ".bm2 is damaged: its header declares a 100x100 picture, its 62 bytes of decoded data hold 100x0; only those "
         "complete rows are written",
         bmp(54, 100, 0, 32, {})},
        {"busy.bm2", kit::bm2_file(Bytes(4, 1)), "busy.bmP is a folder", {}},  // the output
        {std::string(260, 'n') + ".bm2", {}, "Path too long", {}},
    };
    for (const auto& c : cases) {
        test::RecordingUi ui;
        const std::string path = dir.file(c.name), out = path.substr(0, path.size() - 1) + "P";
        if (c.name.size() < 200) test::write_file(path, c.file);
        if (!c.out.empty()) test::write_file(out, old);
        EXPECT_FALSE(bm2::decode_file(ui, path)) << c.name;
        ASSERT_EQ(ui.alerts().size(), 1u) << c.name;
        // The file, or its output ending in "P".
        EXPECT_NE(ui.alerts()[0].find(path.substr(0, path.size() - 1)), std::string::npos) << ui.alerts()[0];
        EXPECT_NE(ui.alerts()[0].find(c.part), std::string::npos) << ui.alerts()[0];
        if (!c.out.empty()) EXPECT_EQ(test::read_file(out), c.out) << c.name;
    }
}

}  // namespace
}  // namespace vid

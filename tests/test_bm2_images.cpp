// Encode BM2's readers: PNG files (what their image data inflate to, and
// the pixel limit) and bitmap files (header versions, masks, colour
// indexes, cut files, pixels far from the headers), as files on disk.
#include <gtest/gtest.h>

#include "bm2/encode.h"
#include "bm2/image.h"
#include "kit/png_maker.h"
#include "test_support.h"

namespace vid {
namespace {

struct Expect {
    Bytes rgba;        // the picture's first pixels (up to 16 bytes); empty when refused
    bool alpha = false;
    std::string why;   // the end of the Alert when refused
};

// Reads `file` as Encode BM2 does, from disk, and checks the outcome.
void check_read(const char* name, const Bytes& file, const Expect& e, std::uint32_t width = 0) {
    test::ScratchDir dir;
    test::write_file(dir.file("in"), file);
    test::RecordingUi ui;
    const auto p = bm2::read_image_file(ui, dir.file("in"));
    if (!e.why.empty()) {
        EXPECT_FALSE(p) << name;
        ASSERT_EQ(ui.alerts().size(), 1u) << name;
        EXPECT_EQ(ui.alerts()[0], dir.file("in") + " is not an image that Encode BM2 reads: " + e.why) << name;
        return;
    }
    ASSERT_TRUE(p) << name << testing::PrintToString(ui.alerts());
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{}) << name;
    if (width) EXPECT_EQ(p->width, width) << name;
    EXPECT_EQ(Bytes(p->rgba.begin(), p->rgba.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(16, p->rgba.size()))),
              e.rgba)
        << name;
    EXPECT_EQ(p->has_alpha, e.alpha) << name;
}

kit::PngParts png(std::uint32_t w, std::uint32_t h, std::uint8_t depth, std::uint8_t colour, Bytes raw) {
    return {.width = w, .height = h, .depth = depth, .colour = colour, .raw = std::move(raw)};
}

TEST(ImageReaders, PngFiles) {
    const Bytes rgba1 = {0, 1, 2, 3, 4};  // filter byte, one RGBA pixel
    // Adam7 of 3 x 3 grey pixels valued 10 (3y + x) + 1: pass 1 holds (0,0);
    // pass 4 (2,0); pass 5 (0,2) (2,2); pass 6 (1,0) then (1,2); pass 7 row
    // 1. Passes 2 and 3 are empty. 15 bytes with the filter bytes.
    const Bytes adam7 = {0, 1, 0, 21, 0, 61, 81, 0, 11, 0, 71, 0, 31, 41, 51};
    const auto with = [](kit::PngParts p, auto change) {
        change(p);
        return kit::png_file(p);
    };
    const Bytes white_row = [] {
        Bytes r(1 + (1u << 18), 0xFF);  // 2^21 pixels of 1 bit
        r[0] = 0;
        return r;
    }();
    const struct {
        const char* name;
        Bytes file;
        Expect e;
        std::uint32_t width = 0;
    } cases[] = {
        {"RGBA, exact", kit::png_file(png(1, 1, 8, 6, rgba1)), {{1, 2, 3, 4}, true}},
        {"one byte past", kit::png_file(png(1, 1, 8, 6, Bytes{0, 1, 2, 3, 4, 0})),
         {{}, false, "its compressed image data inflate past the 5 bytes that its 1x1 pixels need"}},
        {"a MiB of zeros past", with(png(1, 1, 8, 6, rgba1), [](auto& p) { p.zeros = 1 << 20; }),
         {{}, false, "its compressed image data inflate past the 5 bytes that its 1x1 pixels need"}},
        {"one byte short", kit::png_file(png(1, 1, 8, 6, Bytes{0, 1, 2, 3})),
         {{}, false, "it is not a readable PNG image (IDAT stream too short)"}},
        {"without IEND", with(png(1, 1, 8, 6, rgba1), [](auto& p) { p.iend = false; }),
         {{}, false, "it ends without its IEND chunk (the file is cut)"}},
        {"Adam7, exact", with(png(3, 3, 8, 0, adam7), [](auto& p) { p.interlace = 1; }),
         {{1, 1, 1, 255, 11, 11, 11, 255, 21, 21, 21, 255, 31, 31, 31, 255}, false}},
        {"Adam7, one byte past", with(png(3, 3, 8, 0, adam7), [](auto& p) { p.interlace = 1, p.raw.push_back(0); }),
         {{}, false, "its compressed image data inflate past the 15 bytes that its 3x3 pixels need"}},
        {"16-bit RGB, in IDAT chunks of 3 bytes",
         with(png(1, 1, 16, 2, Bytes{0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}), [](auto& p) { p.idat = 3; }),
         {{0x12, 0x56, 0x9A, 255}, false}},
        {"palette with tRNS", with(png(2, 1, 8, 3, Bytes{0, 1, 0}), [](auto& p) {
             p.plte = {10, 20, 30, 40, 50, 60};
             p.trns = {128};
         }),
         {{40, 50, 60, 255, 10, 20, 30, 128}, true}},
        {"1920x1080, 16-bit RGB, stored: a file of 12 MB", [] {
             kit::PngParts p = png(1920, 1080, 16, 2, {});
             for (std::uint32_t y = 0; y < 1080; ++y) {
                 p.raw.push_back(0);
                 for (std::uint32_t x = 0; x < 1920 * 6; ++x) p.raw.push_back(static_cast<std::uint8_t>(x + y));
             }
             p.level = 0;
             const Bytes f = kit::png_file(p);
             EXPECT_GT(f.size(), 12'000'000u);
             return f;
         }(),
         {{0, 2, 4, 255, 6, 8, 10, 255, 12, 14, 16, 255, 18, 20, 22, 255}, false}, 1920},
        {"2^21 pixels", kit::png_file(png(1u << 21, 1, 1, 0, white_row)),
         {{255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255}, false}, 1u << 21},
        {"2^21 + 1 pixels", kit::png_file(png((1u << 21) + 1, 1, 1, 0, white_row)),
         {{}, false, "it has 2097153x1 pixels, more than 2097152 in all"}},
    };
    for (const auto& c : cases) check_read(c.name, c.file, c.e, c.width);
}

// A bitmap file: `info` bytes of information header (40, 108 or 124) with
// `masks` after its first 40 bytes (or after it, for 40 with bit fields),
// a colour table of `table`, the pixels at `pixels_at`, then `tail`.
struct Bmp {
    std::uint32_t info = 40, width = 1;
    std::int32_t height = 1;
    std::uint16_t bits = 24;
    std::uint32_t compression = 0, used = 0;
    std::vector<std::uint32_t> masks;
    Bytes table, pixels;
    std::uint32_t pixels_at = 0;  // 0: right after the table
    std::size_t tail = 0;
    Bytes file() const {
        Bytes f{'B', 'M'};
        const std::uint32_t masks_after = info == 40 ? 4 * static_cast<std::uint32_t>(masks.size()) : 0;
        const auto at = pixels_at ? pixels_at : 14 + info + masks_after + static_cast<std::uint32_t>(table.size());
        for (std::uint32_t v : {0u, 0u, at, info, width, static_cast<std::uint32_t>(height)}) put_u32(f, v);
        put_u16(f, 1);
        put_u16(f, bits);
        for (std::uint32_t v : {compression, 0u, 0u, 0u, used, 0u}) put_u32(f, v);
        for (std::uint32_t m : masks) put_u32(f, m);
        f.resize(std::max<std::size_t>(f.size(), 14 + info), 0);
        f.insert(f.end(), table.begin(), table.end());
        f.resize(at, 0x5A);
        f.insert(f.end(), pixels.begin(), pixels.end());
        f.resize(f.size() + tail, 0xA5);
        return f;
    }
};

TEST(ImageReaders, BitmapFiles) {
    const std::vector<std::uint32_t> usual = {0x00FF0000, 0x0000FF00, 0x000000FF};
    const Bytes one32 = {1, 2, 3, 0}, one24 = {1, 2, 3, 0};
    const auto bmp = [](auto change) {
        Bmp b;
        change(b);
        return b.file();
    };
    const std::string masks = "its colour masks are not those of 8-bit blue, green and red";
    const struct {
        const char* name;
        Bytes file;
        Expect e;
        std::uint32_t width = 0;
    } cases[] = {
        {"V4 header, 32 bits with the usual masks",
         bmp([&](Bmp& b) { b.info = 108, b.bits = 32, b.compression = 3, b.masks = usual, b.pixels = one32; }),
         {{3, 2, 1, 255}}},
        {"V5 header, 24 bits", bmp([&](Bmp& b) { b.info = 124, b.pixels = one24; }), {{3, 2, 1, 255}}},
        {"V5 header, 32 bits with alpha", bmp([&](Bmp& b) {
             b.info = 124, b.bits = 32, b.compression = 3, b.masks = usual, b.pixels = {1, 2, 3, 9};
         }),
         {{3, 2, 1, 9}, true}},
        {"40-byte header, masks red and blue swapped", bmp([&](Bmp& b) {
             b.bits = 32, b.compression = 3, b.masks = {0x000000FF, 0x0000FF00, 0x00FF0000}, b.pixels = one32;
         }),
         {{}, false, masks}},
        {"V5 header, 5-6-5 masks", bmp([&](Bmp& b) {
             b.info = 124, b.bits = 32, b.compression = 3, b.masks = {0xF800, 0x07E0, 0x001F}, b.pixels = one32;
         }),
         {{}, false, masks}},
        // Two colours used; the file holds a third entry (9, 9, 9) after them,
        // which index 2 must not take: an index past the table shows black.
        {"8 bits, an index equal to the colours used", bmp([](Bmp& b) {
             b.bits = 8, b.used = 2, b.width = 3;
             b.table = {10, 20, 30, 0, 40, 50, 60, 0, 9, 9, 9, 0};
             b.pixels = {1, 2, 0, 0};
         }),
         {{60, 50, 40, 255, 0, 0, 0, 255, 30, 20, 10, 255}}},
        {"cut inside its last row", [&] {
             Bytes f = bmp([](Bmp& b) { b.width = 2, b.height = 2, b.pixels = Bytes(16, 7); });
             f.pop_back();
             return f;
         }(),
         {{}, false, "its pixels end after the file"}},
        {"pixels 5000 bytes in, 100 bytes after them", bmp([&](Bmp& b) {
             b.width = 2, b.height = -2, b.pixels_at = 5000, b.tail = 100;
             b.pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
         }),
         {{3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}}},
        {"2^21 pixels", bmp([](Bmp& b) {
             b.bits = 1, b.width = 2048, b.height = 1024, b.table = {0, 0, 0, 0, 255, 255, 255, 0};
             b.pixels = Bytes(256 * 1024, 0xFF);
         }),
         {{255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255}}, 2048},
        {"2^21 + 1 pixels", bmp([](Bmp& b) {
             b.bits = 1, b.width = (1u << 21) + 1, b.table = {0, 0, 0, 0, 255, 255, 255, 0};
             b.pixels = Bytes(256 * 1024 + 4, 0xFF);
         }),
         {{}, false, "it has 2097153x1 pixels, more than 2097152 in all"}},
    };
    for (const auto& c : cases) check_read(c.name, c.file, c.e, c.width);
}

TEST(ImageReaders, AlphaImagesHoldAtMost65535PixelsAcross) {
    for (const std::uint32_t width : {65535u, 65536u}) {
        bm2::Picture p;
        p.width = width, p.height = 1, p.has_alpha = true;
        p.rgba.assign(std::size_t{width} * 4, 7);
        std::string why;
        const auto decoded = bm2::fresh_decoded(p, why);
        if (width == 65535) {
            ASSERT_TRUE(decoded) << why;
            EXPECT_EQ(Bytes(decoded->begin() + 14, decoded->begin() + 18), (Bytes{0xFF, 0xFF, 1, 0}));
            EXPECT_EQ(decoded->size(), 22u + 4 * 65535);
        } else {
            EXPECT_FALSE(decoded);
            EXPECT_EQ(why, "an alpha BM2 image holds at most 65535x65535 pixels");
        }
    }
}

}  // namespace
}  // namespace vid

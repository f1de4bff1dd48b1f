// Encode BM2 and Decode BM2 to PNG: round trips for every kind of BM2
// image, edits, new images, and bad input that changes nothing.
#include <gtest/gtest.h>

#include "bm2/bm2.h"
#include "bm2/encode.h"
#include "bm2/image.h"
#include "kit/kit.h"
#include "kit/lzss_bm2.h"
#include "platform/file.h"
#include "test_support.h"

namespace vid {
namespace {

using test::bmp_head;

// An 8-bit bitmap file of `width` x `height` (rows bottom-up, filled to 4
// bytes with 0xEE), whose colour table has `colours` entries: entry i is
// blue i, green 255 - i, red 3 i.
Bytes bmp8(std::uint32_t width, std::uint32_t height, std::uint32_t colours) {
    const std::uint32_t stride = (width + 3) / 4 * 4, offset = 54 + 4 * colours;
    Bytes f = bmp_head(offset + stride * height, offset, width, height, 8);
    for (std::uint32_t v : {0u, stride * height, 2835u, 2835u, colours, 0u}) put_u32(f, v);
    for (std::uint32_t i = 0; i < colours; ++i)
        for (std::uint32_t b : {i, 255 - i, 3 * i, 0u}) put_u8(f, static_cast<std::uint8_t>(b));
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) put_u8(f, static_cast<std::uint8_t>((x * 7 + y) % colours));
        for (std::uint32_t x = width; x < stride; ++x) put_u8(f, 0xEE);
    }
    return f;
}

// A 4-bit bitmap file of 5 x 3, 16 colours as in bmp8(): two pixels a byte,
// the first in the high half; the last byte's low half and the row's fill
// bytes are 0xE and 0xEE.
Bytes bmp4() {
    Bytes f = bmp_head(54 + 64 + 12, 54 + 64, 5, 3, 4);
    f.resize(54, 0);
    for (std::uint32_t i = 0; i < 16; ++i)
        for (std::uint32_t b : {i, 255 - i, 3 * i, 0u}) put_u8(f, static_cast<std::uint8_t>(b));
    for (std::uint8_t b : {0x01, 0x23, 0x4E, 0xEE, 0x56, 0x78, 0x9E, 0xEE, 0xAB, 0xCD, 0xEE, 0xEE}) f.push_back(b);
    return f;
}

// A 32-bit bitmap file of 3 x 2 with the given fourth bytes.
Bytes bmp32(std::uint8_t fourth) {
    Bytes f = bmp_head(54 + 24, 54, 3, 2, 32);
    f.resize(54, 0);
    for (std::uint8_t k = 0; k < 6; ++k)
        for (std::uint8_t b : {std::uint8_t(k * 40), std::uint8_t(k + 1), std::uint8_t(200 - k), fourth}) f.push_back(b);
    return f;
}

// A BM2 file of `decoded` whose leading header bytes are "LEADBYTE".
Bytes original_of(const Bytes& decoded) {
    Bytes f = kit::bm2_file(decoded);
    for (std::size_t k = 0; k < 8; ++k) f[k] = static_cast<std::uint8_t>("LEADBYTE"[k]);
    return f;
}

// An alpha picture whose unread header bytes are not zero.
Bytes alpha_of(std::uint16_t bits, std::uint16_t width, std::uint16_t height) {
    Bytes d = kit::bm2_alpha(bits, width, height, kit::alpha_picture(bits, width, height, width));
    for (std::size_t k : {4u, 5u, 6u, 7u, 10u, 11u, 12u, 13u, 18u, 19u, 20u, 21u}) d[k] = static_cast<std::uint8_t>(k);
    return d;
}

Bytes decoded_of(const std::string& path) {
    std::string why;
    const auto image = bm2::parse_bm2(test::read_file(path), why);
    EXPECT_TRUE(image) << why;
    return image ? image->decoded : Bytes{};
}

struct Kind {
    const char* name;
    Bytes decoded;
    bool through_bmp;  // the bitmap that Decode BM2 writes encodes back too
};

std::vector<Kind> kinds() {
    return {
        {"ordinary, 24 bits", kit::bmp24(37, 11, 2), true},
        {"ordinary, 8 bits with 200 colours", bmp8(13, 5, 200), true},
        {"ordinary, 4 bits", bmp4(), true},
        {"ordinary, 32 bits without alpha", bmp32(0), true},
        {"ordinary, 32 bits with alpha", bmp32(0x80), true},
        {"alpha, 24 bits", alpha_of(24, 9, 7), true},
        {"alpha, 8 bits", alpha_of(8, 11, 6), false},
    };
}

TEST(EncodeBm2, UneditedImagesGiveBackTheOriginalsData) {
    for (const Kind& kind : kinds()) {
        for (const bool png : {false, true}) {
            if (!png && !kind.through_bmp) continue;
            test::ScratchDir dir;
            const Bytes original = original_of(kind.decoded);
            test::write_file(dir.file("pic.BM2"), original);
            test::RecordingUi ui;
            ASSERT_TRUE(png ? bm2::decode_png_file(ui, dir.file("pic.BM2")) : bm2::decode_file(ui, dir.file("pic.BM2")))
                << kind.name;
            const std::string image = dir.file(png ? "pic.png" : "pic.BMP");
            test::RecordingUi encoding;
            ASSERT_TRUE(bm2::encode_file(encoding, image)) << kind.name << (png ? " (PNG)" : " (BMP)") << testing::PrintToString(encoding.alerts());
            EXPECT_EQ(encoding.alerts(), std::vector<std::string>{}) << kind.name;
            EXPECT_EQ(encoding.texts(test::Event::status_now), std::vector<std::string>{"Encoding " + image});
            // The original, in the case it had, is replaced and kept once.
            EXPECT_FALSE(test::file_exists(dir.file("pic.bm2"))) << kind.name;
            EXPECT_EQ(test::read_file(dir.file("pic.BM2.orig")), original) << kind.name;
            const Bytes made = test::read_file(dir.file("pic.BM2"));
            EXPECT_EQ(Bytes(made.begin(), made.begin() + 8), test::bytes_of("LEADBYTE")) << kind.name;
            EXPECT_EQ(decoded_of(dir.file("pic.BM2")), kind.decoded) << kind.name << (png ? " (PNG)" : " (BMP)");
        }
    }
}

TEST(EncodeBm2, EditedPixelsChangeAndNothingElse) {
    test::ScratchDir dir;
    const Bytes decoded = bmp8(13, 5, 200);
    test::write_file(dir.file("pic.bm2"), original_of(decoded));
    test::write_file(dir.file("pic.bm2.orig"), "an earlier run's original");
    // Top-left pixel (last stored row) to entry 9's colour; the one after it
    // to a colour no entry has (nearest: entry 0, blue 0 green 255 red 0,
    // at a distance of 1; entry 1 is at 10).
    Bytes edited = decoded;
    const std::size_t top_left = 54 + 800 + 16 * 4;
    edited[top_left] = 9;
    test::write_file(dir.file("pic.bmp"), edited);
    std::string why;
    auto read = bm2::read_bmp(edited, why);
    ASSERT_TRUE(read) << why;
    read->rgba[4] = 0, read->rgba[5] = 255, read->rgba[6] = 1;  // pixel (1, 0): red 0, green 255, blue 1
    test::write_file(dir.file("pic.png"), bm2::write_png(*read));
    test::RecordingUi ui;
    ASSERT_TRUE(bm2::encode_file(ui, dir.file("pic.png")));
    ASSERT_EQ(ui.alerts().size(), 1u);
    EXPECT_EQ(ui.alerts()[0], dir.file("pic.png") + ": 1 pixel changed colour: its colour is not in the palette of " +
                                  dir.file("pic.bm2") + ", which gives it the nearest one");
    Bytes want = edited;
    want[top_left + 1] = 0;
    EXPECT_EQ(decoded_of(dir.file("pic.bm2")), want);
    // The first original stays the kept one: an earlier run's is not
    // replaced, and a file that this run made is no original to keep.
    EXPECT_EQ(test::read_file(dir.file("pic.bm2.orig")), test::bytes_of("an earlier run's original"));
    std::filesystem::remove(dir.file("pic.bm2.orig"));
    ASSERT_TRUE(bm2::encode_file(ui, dir.file("pic.bmp")));
    EXPECT_EQ(decoded_of(dir.file("pic.bm2")), edited);
    EXPECT_FALSE(test::file_exists(dir.file("pic.bm2.orig")));
}

TEST(EncodeBm2, NewImagesWithoutAnOriginal) {
    test::ScratchDir dir;
    // 2 x 2, top row red then green, bottom row blue then white.
    bm2::Picture p{.width = 2, .height = 2, .has_alpha = true,
                   .rgba = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 255, 255, 255, 255}};
    test::write_file(dir.file("alpha.png"), bm2::write_png(p));
    p.has_alpha = false;
    test::write_file(dir.file("plain.png"), bm2::write_png(p));
    test::RecordingUi ui;
    ASSERT_TRUE(bm2::encode_file(ui, dir.file("alpha.png")));
    ASSERT_TRUE(bm2::encode_file(ui, dir.file("plain.png")));
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{});
    const Bytes alpha24 = {'B', 'M', '2', 'A', 0, 0, 0, 0, 24, 0, 0, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0, 0,
                           // bottom row first: blue, white; then red, green (blue, green, red, alpha)
                           255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 255, 255, 0, 255, 0, 128};
    EXPECT_EQ(decoded_of(dir.file("alpha.bm2")), alpha24);
    Bytes bitmap{'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,
                 0, 0, 0, 0, 16, 0, 0, 0};
    bitmap.resize(54, 0);
    for (std::uint8_t b : {255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0}) bitmap.push_back(b);
    EXPECT_EQ(decoded_of(dir.file("plain.bm2")), bitmap);
    const Bytes plain = test::read_file(dir.file("plain.bm2"));
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 8), Bytes(8, 0));
    EXPECT_FALSE(test::file_exists(dir.file("plain.bm2.orig")));
}

TEST(EncodeBm2, BadInputIsRefusedAndChangesNothing) {
    test::ScratchDir dir;
    const Bytes alpha8 = original_of(alpha_of(8, 11, 6)), ordinary = original_of(kit::bmp24(37, 11, 2));
    const Bytes damaged(ordinary.begin(), ordinary.end() - 5);
    const struct {
        const char* name;
        Bytes image;
        Bytes original;  // empty: none
        std::string alert;
    } cases[] = {
        {"text.bmp", test::bytes_of("hello"), {}, "text.bmp is not an image that Encode BM2 reads: it is neither"},
        {"cut.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0}, {}, "cut.png is not an image that Encode BM2 reads: it ends inside its header"},
        {"rle.bmp", [] { Bytes b = bmp8(4, 4, 16); b[30] = 1; return b; }(), {}, "rle.bmp is not an image that Encode BM2 reads: it is compressed"},
        {"small.bmp", kit::bmp24(36, 11, 2), ordinary, "small.bmp is 36x11 pixels, its original"},
        {"flat.bmp", bmp8(11, 6, 256), alpha8, "flat.bmp has no alpha, and"},
        {"broken.bmp", kit::bmp24(37, 11, 2), damaged, "broken.bm2 is damaged: its header announces"},
    };
    for (const auto& c : cases) {
        const std::string stem = std::string(c.name).substr(0, std::string(c.name).find('.'));
        test::write_file(dir.file(c.name), c.image);
        if (!c.original.empty()) test::write_file(dir.file(stem + ".bm2"), c.original);
        test::RecordingUi ui;
        EXPECT_FALSE(bm2::encode_file(ui, dir.file(c.name))) << c.name;
        ASSERT_EQ(ui.alerts().size(), 1u) << c.name;
        EXPECT_EQ(ui.alerts()[0].rfind(dir.file(c.alert.substr(0, c.alert.find(' '))), 0), 0u) << ui.alerts()[0];
        EXPECT_NE(ui.alerts()[0].find(c.alert.substr(c.alert.find(' '))), std::string::npos) << ui.alerts()[0];
        EXPECT_EQ(test::file_exists(dir.file(stem + ".bm2")), !c.original.empty()) << c.name;
        if (!c.original.empty()) EXPECT_EQ(test::read_file(dir.file(stem + ".bm2")), c.original) << c.name;
        EXPECT_FALSE(test::file_exists(dir.file(stem + ".bm2.orig"))) << c.name;
    }
}

// Colours mapped onto the original's data. 8 bits: where the picture shows
// the colour its pixel's original index shows, the index stays; else the
// nearest entry (squared distance), the lowest index among equals, and the
// pixel is counted if it is visible. What the picture does not give (alpha,
// for a picture without it) stays as the original has it.
TEST(EncodeBm2, ColoursMapToThePaletteByAFixedRule) {
    // Entries 0 and 1 the same colour (red 10, green 20, blue 30), 2 red 200, 3 black, 4 red 20.
    Bytes bitmap = bmp_head(54 + 20 + 4, 54 + 20, 4, 1, 8);
    for (std::uint32_t v : {0u, 4u, 0u, 0u, 5u, 0u}) put_u32(bitmap, v);
    bitmap = bitmap + Bytes{30, 20, 10, 0, 30, 20, 10, 0, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0, 20, 0, /* pixels */ 1, 2, 2, 2};
    // An alpha picture: entries 0 (red 3, green 2, blue 1) and 1 (6, 5, 4), the rest black.
    Bytes indexed(1024, 0);
    for (std::uint8_t k = 0; k < 3; ++k) indexed[k] = static_cast<std::uint8_t>(1 + k), indexed[4 + k] = static_cast<std::uint8_t>(4 + k);
    indexed.insert(indexed.end(), {0, 9, 0, 9});
    const struct {
        const char* what;
        Bytes original;
        bm2::Picture picture;
        Bytes tail;  // of the data rebuilt
        std::uint64_t recoloured;
    } cases[] = {
        {"8-bit bitmap", bitmap, {.width = 4, .height = 1, .rgba = {
             10, 20, 30, 255,    // the colour index 1 shows: stays 1
             10, 20, 30, 255,    // the same colour where 2 was: 0, the lower of the two
             10, 0, 0, 255,      // 100 from black (3) and from red 20 (4): 3
             11, 20, 30, 255}},  // 1 from entries 0 and 1: 0
         {1, 0, 3, 0}, 2},
        // Both colours are nearest entry 1; only the visible pixel counts as changed.
        {"8-bit alpha", kit::bm2_alpha(8, 2, 1, indexed),
         {.width = 2, .height = 1, .has_alpha = true, .rgba = {100, 100, 100, 0, 101, 100, 100, 255}}, {1, 0, 1, 255}, 1},
        {"24-bit alpha, a picture without alpha", kit::bm2_alpha(24, 2, 1, Bytes{1, 2, 3, 50, 4, 5, 6, 60}),
         {.width = 2, .height = 1, .rgba = {9, 8, 7, 255, 6, 5, 4, 255}}, {7, 8, 9, 50, 4, 5, 6, 60}, 0},
    };
    for (const auto& c : cases) {
        std::string alert;
        const auto r = bm2::rebuild(c.original, c.picture, "image", "original", alert);
        ASSERT_TRUE(r) << c.what << ": " << alert;
        EXPECT_EQ(Bytes(r->decoded.end() - static_cast<std::ptrdiff_t>(c.tail.size()), r->decoded.end()), c.tail) << c.what;
        EXPECT_EQ(r->recoloured, c.recoloured) << c.what;
    }
}

// decode-bm2 --png holds the decoded data and the picture whole: past 2^21
// pixels it refuses, naming the limit, before decoding more than the
// first piece; data too short for their alpha header say so.

TEST(EncodeBm2, DecodePngRefusesWhatItCannotHold) {
    const Bytes bmp_8 = [] {  // 2048 x 1025 at 8 bits: 2 MiB of pixels, 2^21 + 2048 of them
        Bytes f = bmp_head(0, 54 + 1024, 2048, 1025, 8);
        f.resize(54 + 1024 + 2048 * 1025, 0);
        return f;
    }();
    const struct {
        const char* name;
        Bytes decoded;
        std::string encode_says, why;  // the Alerts: path + " cannot be written as a PNG image: " + why, path + encode_says + why
    } cases[] = {
        {"alpha, 2048 x 2048", kit::bm2_alpha(24, 2048, 2048, Bytes(std::size_t{2048} * 2048 * 4, 0)),
         " holds a picture that Encode BM2 cannot write: ", "it has 2048x2048 pixels, more than 2097152 in all"},
        {"bitmap, 2048 x 1025", bmp_8, " holds a bitmap that Encode BM2 cannot write: ",
         "it has 2048x1025 pixels, more than 2097152 in all"},
        {"alpha header cut at 10 bytes", Bytes{'B', 'M', '2', 'A', 0, 0, 0, 0, 24, 0}, " is damaged: ",
         "its alpha picture has 10 bytes of decoded data, its header needs 22"},
    };
    for (const auto& c : cases) {
        test::ScratchDir dir;
        test::write_file(dir.file("x.bm2"), kit::bm2_file(c.decoded));
        test::RecordingUi ui;
        EXPECT_FALSE(bm2::decode_png_file(ui, dir.file("x.bm2"))) << c.name;
        EXPECT_EQ(ui.alerts(), std::vector<std::string>{dir.file("x.bm2") + " cannot be written as a PNG image: " + c.why}) << c.name;
        EXPECT_FALSE(test::file_exists(dir.file("x.png"))) << c.name;
        // As the original of a picture of 1 x 1.
        test::write_file(dir.file("x.bmp"), kit::bmp24(1, 1, 5));
        test::RecordingUi encoding;
        EXPECT_FALSE(bm2::encode_file(encoding, dir.file("x.bmp"))) << c.name;
        EXPECT_EQ(encoding.alerts(), std::vector<std::string>{dir.file("x.bm2") + c.encode_says + c.why}) << c.name;
    }
}

}  // namespace
}  // namespace vid

#if !defined(__SANITIZE_ADDRESS__)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kit/png_maker.h"

namespace vid {
namespace {

// The peak resident memory, in MiB, of a child process that runs `work`,
// less that of a child that does nothing (the pages of this process that
// both start with); `ok`: what `work` returned.
double child_peak_mib(const std::function<bool()>& work, bool& ok) {
    const auto peak_kib = [](const std::function<bool()>& f, bool& done) -> long {
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(f() ? 0 : 1);
        int status = 0;
        rusage usage{};
        if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return 1L << 30;
        done = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return usage.ru_maxrss;
    };
    bool idle_ok = false;
    const long idle = peak_kib([] { return true; }, idle_ok);
    return static_cast<double>(peak_kib(work, ok) - idle) / 1024.0;
}

// Encode BM2 within 64 MiB: a PNG whose data inflate to 128 MiB past its
// one pixel, and a picture of 2^21 different colours onto an 8-bit original
// (the nearest-colour answers are not all kept).
TEST(EncodeBm2, MemoryStaysBoundedWhateverTheFile) {
    test::ScratchDir dir;
    test::write_file(dir.file("bomb.png"), kit::png_file({.raw = {0, 1, 2, 3, 4}, .zeros = std::uint64_t{128} << 20}));
    {
        Bytes original = bmp8(2048, 1024, 256), picture = kit::bmp24(2048, 1024, 1);
        for (std::size_t k = 0; k < std::size_t{2048} * 1024; ++k) {  // colour k: every pixel its own
            picture[54 + 3 * k] = static_cast<std::uint8_t>(k), picture[55 + 3 * k] = static_cast<std::uint8_t>(k >> 8);
            picture[56 + 3 * k] = static_cast<std::uint8_t>(k >> 16);
        }
        test::write_file(dir.file("many.bm2"), kit::bm2_file(original));
        test::write_file(dir.file("many.bmp"), picture);
    }
    for (const char* name : {"bomb.png", "many.bmp"}) {
        bool ok = false;
        const double mib = child_peak_mib(
            [&] {
                test::RecordingUi ui;
                return bm2::encode_file(ui, dir.file(name)) == (name[0] == 'm');  // the PNG is refused
            },
            ok);
        EXPECT_LT(mib, 60.0) << name;
        EXPECT_TRUE(ok) << name;
    }
}

}  // namespace
}  // namespace vid
#endif

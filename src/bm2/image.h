// Pictures as image editors save them (Windows bitmaps and PNG files), and
// the layout of the bitmap files that ordinary BM2 images hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "core/bytes.h"

namespace vid::bm2 {

// The most pixels a picture may have (2^21: 1920 x 1080 fits, far beyond any
// screen of the game): its RGBA copy then takes 8 MiB, and encoding it, original
// included, stays within 64 MiB.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 21;

// Pixels top row first, four bytes each: red, green, blue, alpha (255
// where the file has no alpha).
struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool has_alpha = false;
    Bytes rgba;
};

// Where the pixels of a bitmap file are, for reading them or writing
// others in their place. Uncompressed bitmaps of 1, 4, 8, 24 or 32 bits per
// pixel (32 bits also with the usual bit fields), rows bottom-up or
// top-down; all of it inside the file's bytes.
struct BitmapLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 0;
    bool top_down = false;
    std::size_t pixels_at = 0;   // offset of the first stored row
    std::size_t stride = 0;      // bytes per stored row, fill included
    std::size_t palette_at = 0;  // offset of the colour table (blue, green, red, unused)
    std::size_t colours = 0;     // entries of the colour table (bits of 8 or fewer)

    // Offset of the stored row that shows picture row `y` (0 = top).
    std::size_t row_at(std::uint32_t y) const {
        return pixels_at + stride * (top_down ? y : height - 1 - y);
    }
};

// The layout of the bitmap file `file`; nothing, with the reason in `why`
// ("its ... "), when it is not one that can be read. `file` may be the
// first bytes only (headers and colour table) of a file of `file_size`
// bytes.
std::optional<BitmapLayout> bitmap_layout(ByteView file, std::string& why, std::uint64_t file_size);
std::optional<BitmapLayout> bitmap_layout(ByteView file, std::string& why);

// A bitmap file as a picture. A 32-bit bitmap has alpha when any of its
// fourth bytes is not zero.
std::optional<Picture> read_bmp(ByteView file, std::string& why);
// Gives a file's next bytes: fills the front of `out` and returns the
// count, 0 at the end.
using ReadSome = std::function<std::size_t(std::span<std::uint8_t>)>;

// A PNG file as a picture (any colour type and depth; 16-bit samples are
// cut to 8 bits), its bytes pulled from `read` as the rows need them. A
// file whose image data inflate past what its width and height need, or
// end before, is refused; so is one cut before its IEND chunk.
std::optional<Picture> read_png(const ReadSome& read, std::string& why);
std::optional<Picture> read_png(ByteView file, std::string& why);
// A bitmap or PNG file, told apart by their first bytes.
std::optional<Picture> read_image(ByteView file, std::string& why);

// A PNG file of `picture`: RGBA when it has alpha, else RGB; empty when it
// cannot be made.
Bytes write_png(const Picture& picture);

// The picture that the decoded data of a BM2 image hold: the bitmap of an
// ordinary image, or the alpha picture with its alpha (8 bits: the colour
// table's colour of each index byte, and the pixel's alpha byte).
std::optional<Picture> picture_of_decoded(ByteView decoded, std::string& why);
// Checks the decoded data as picture_of_decoded() does, without making the
// picture: its width and height, or nothing with the reason in `why`.
std::optional<std::pair<std::uint32_t, std::uint32_t>> decoded_picture_size(ByteView decoded, std::string& why);

}  // namespace vid::bm2

// Windows bitmap files read into pictures, and the pictures that BM2
// decoded data hold.
//
// A bitmap file: a 14-byte file header ("BM", size, two reserved words,
// offset of the pixels), an information header whose first 4 bytes give
// its size (40, or 52, 56, 108, 124 for the later versions, all starting
// alike), for 8 bits or fewer a colour table of 4-byte entries (blue,
// green, red, unused), then the rows, each filled to a multiple of 4 bytes,
// bottom-up unless the height is negative.
#include "bm2/image.h"

#include <cstring>

#include "bm2/bm2.h"

namespace vid::bm2 {

namespace {

constexpr std::size_t kFileHeader = 14;
constexpr std::uint32_t kRgb = 0;        // uncompressed
constexpr std::uint32_t kBitFields = 3;  // uncompressed, with channel masks

bool pixels_fit(std::uint64_t width, std::uint64_t height, std::string& why) {
    if (width == 0 || height == 0) {
        why = "it has no pixels";
        return false;
    }
    const auto count = checked_mul(width, height);
    if (!count || *count > kMaxPixels) {
        why = "it has " + std::to_string(width) + "x" + std::to_string(height) + " pixels, more than " +
              std::to_string(kMaxPixels) + " in all";
        return false;
    }
    return true;
}

Picture blank(std::uint32_t width, std::uint32_t height) {
    Picture p;
    p.width = width;
    p.height = height;
    p.rgba.resize(std::size_t{width} * height * 4);
    return p;
}

// The index of pixel `x` in a row of 1, 4 or 8 bits per pixel (the first
// pixel in the most significant bits).
std::uint8_t index_at(const std::uint8_t* row, std::uint32_t x, std::uint16_t bits) {
    const std::size_t bit = std::size_t{x} * bits;
    const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
    return static_cast<std::uint8_t>((row[bit / 8] >> shift) & ((1u << bits) - 1));
}

}  // namespace

std::optional<BitmapLayout> bitmap_layout(ByteView file, std::string& why) {
    return bitmap_layout(file, why, file.size());
}

std::optional<BitmapLayout> bitmap_layout(ByteView file, std::string& why, std::uint64_t file_size) {
    // The file header, then the 40 bytes that every information header
    // begins with; of these, the fields read here.
    Cursor c(file);
    std::uint8_t b = 0, m = 0;
    std::uint32_t pixels_at = 0, info = 0, raw_width = 0, raw_height = 0, compression = 0, used = 0;
    std::uint16_t bits = 0;
    const bool headers = c.read(b) && c.read(m) && c.skip(8) /* file size, reserved words */ && c.read(pixels_at) &&
                         c.read(info) && c.read(raw_width) && c.read(raw_height) && c.skip(2) /* planes */ &&
                         c.read(bits) && c.read(compression) && c.skip(12) /* image size, resolution */ &&
                         c.read(used) && c.skip(4) /* important colours */;
    if (!headers || b != 'B' || m != 'M') {
        why = "it does not begin with the headers of a bitmap";
        return std::nullopt;
    }
    if (info != 40 && info != 52 && info != 56 && info != 108 && info != 124) {
        why = "its information header has " + std::to_string(info) + " bytes (40, 52, 56, 108 and 124 are read)";
        return std::nullopt;
    }
    BitmapLayout l;
    const auto width = static_cast<std::int32_t>(raw_width);
    const auto height = static_cast<std::int32_t>(raw_height);
    l.bits = bits;
    if (width <= 0 || height == 0 || height == INT32_MIN) {
        why = "its size is " + std::to_string(width) + "x" + std::to_string(height);
        return std::nullopt;
    }
    l.width = static_cast<std::uint32_t>(width);
    l.top_down = height < 0;
    l.height = static_cast<std::uint32_t>(height < 0 ? -height : height);
    if (!pixels_fit(l.width, l.height, why)) return std::nullopt;
    if (l.bits != 1 && l.bits != 4 && l.bits != 8 && l.bits != 24 && l.bits != 32) {
        why = "it has " + std::to_string(l.bits) + " bits per pixel (1, 4, 8, 24 and 32 are read)";
        return std::nullopt;
    }
    // The masks (red, green, blue) are at 54 in every header version: inside
    // the later ones, right after the 40-byte one.
    std::uint32_t red = 0, green = 0, blue = 0;
    const bool masks = c.read(red) && c.read(green) && c.read(blue);
    const bool fields = compression == kBitFields && l.bits == 32 && masks;
    if (compression != kRgb && !fields) {
        why = "it is compressed (method " + std::to_string(compression) + ")";
        return std::nullopt;
    }
    if (fields && (red != 0x00FF0000 || green != 0x0000FF00 || blue != 0x000000FF)) {
        why = "its colour masks are not those of 8-bit blue, green and red";
        return std::nullopt;
    }
    // pixels_fit() keeps the width to 2^21 at most, so a row's size cannot overflow.
    l.stride = (std::size_t{l.width} * l.bits + 31) / 32 * 4;
    l.palette_at = kFileHeader + info;
    if (l.bits <= 8) {
        const std::size_t most = std::size_t{1} << l.bits;
        if (used > most) {
            why = "its colour table has " + std::to_string(used) + " entries, more than " + std::to_string(most);
            return std::nullopt;
        }
        l.colours = used ? used : most;
        const auto table_end = checked_add(l.palette_at, 4 * std::uint64_t{l.colours});
        if (!table_end || *table_end > file.size()) {
            why = "its colour table ends after the file";
            return std::nullopt;
        }
    }
    l.pixels_at = pixels_at;
    const auto rows = checked_mul(l.stride, l.height);
    const auto pixels_end = rows ? checked_add(l.pixels_at, *rows) : std::nullopt;
    if (!pixels_end || *pixels_end > file_size) {
        why = "its pixels end after the file";
        return std::nullopt;
    }
    return l;
}

std::optional<Picture> read_bmp(ByteView file, std::string& why) {
    const auto l = bitmap_layout(file, why);
    if (!l) return std::nullopt;
    // bitmap_layout() has checked that the table and the rows lie in the file.
    const auto palette = Cursor(file, l->palette_at).take(4 * l->colours);
    if (!palette) {
        why = "its colour table ends after the file";
        return std::nullopt;
    }
    Picture p = blank(l->width, l->height);
    std::uint8_t* out = p.rgba.data();
    bool alpha = false;
    for (std::uint32_t y = 0; y < l->height; ++y) {
        const auto stored = Cursor(file, l->row_at(y)).take(l->stride);
        if (!stored) {
            why = "its pixels end after the file";
            return std::nullopt;
        }
        const std::uint8_t* row = stored->data();
        for (std::uint32_t x = 0; x < l->width; ++x, out += 4) {
            const std::uint8_t* bgr = nullptr;
            out[3] = 255;
            if (l->bits <= 8) {
                const std::size_t index = index_at(row, x, l->bits);
                static constexpr std::uint8_t kBlack[3] = {0, 0, 0};  // an index past the table
                bgr = index < l->colours ? palette->data() + 4 * index : kBlack;
            } else {
                bgr = row + std::size_t{x} * (l->bits / 8);
                if (l->bits == 32) {
                    out[3] = bgr[3];
                    alpha = alpha || bgr[3] != 0;
                }
            }
            out[0] = bgr[2];
            out[1] = bgr[1];
            out[2] = bgr[0];
        }
    }
    // A 32-bit bitmap whose fourth bytes are all zero has no alpha: it is opaque.
    p.has_alpha = alpha;
    if (l->bits == 32 && !alpha)
        for (std::size_t k = 3; k < p.rgba.size(); k += 4) p.rgba[k] = 255;
    return p;
}

std::optional<Picture> read_image(ByteView file, std::string& why) {
    static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() >= 8 && std::memcmp(file.data(), kPng, 8) == 0) return read_png(file, why);
    if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') return read_bmp(file, why);
    why = "it is neither a bitmap nor a PNG image";
    return std::nullopt;
}

namespace {

// The parts of an alpha picture's decoded data.
struct AlphaParts {
    AlphaHeader h;
    ByteView table;  // 24 bits: the pixels (blue, green, red, alpha); 8 bits: the colour table
    ByteView pairs;  // 8 bits: the index and the alpha of each pixel
};

std::optional<AlphaParts> alpha_parts(ByteView decoded, std::string& why) {
    if (decoded.size() < kAlphaPicture) {
        why = "its alpha picture has " + std::to_string(decoded.size()) + " bytes of decoded data, its header needs " +
              std::to_string(kAlphaPicture);
        return std::nullopt;
    }
    const AlphaHeader h = alpha_header(decoded);
    if (h.bit_count != 8 && h.bit_count != 24) {
        why = "its alpha picture has " + std::to_string(h.bit_count) + " bits (8 and 24 are read)";
        return std::nullopt;
    }
    if (!pixels_fit(h.width, h.height, why)) return std::nullopt;
    // pixels_fit() keeps the count to 2^21 at most: these sizes cannot overflow.
    const std::size_t count = std::size_t{h.width} * h.height;
    const bool direct = h.bit_count == 24;
    Cursor c(decoded, kAlphaPicture);
    const auto table = c.take(direct ? 4 * count : kAlphaIndexes - kAlphaPicture);
    const auto pairs = c.take(direct ? 0 : 2 * count);
    if (!table || !pairs) {
        const std::size_t need = direct ? kAlphaPicture + 4 * count : kAlphaIndexes + 2 * count;
        why = "its " + std::to_string(h.width) + "x" + std::to_string(h.height) + " picture needs " +
              std::to_string(need) + " bytes of data, it holds " + std::to_string(decoded.size());
        return std::nullopt;
    }
    return AlphaParts{h, *table, *pairs};
}

}  // namespace

std::optional<std::pair<std::uint32_t, std::uint32_t>> decoded_picture_size(ByteView decoded, std::string& why) {
    if (!is_alpha(decoded)) {
        const auto l = bitmap_layout(decoded, why);
        if (!l) return std::nullopt;
        return std::pair{l->width, l->height};
    }
    const auto parts = alpha_parts(decoded, why);
    if (!parts) return std::nullopt;
    return std::pair<std::uint32_t, std::uint32_t>{parts->h.width, parts->h.height};
}

std::optional<Picture> picture_of_decoded(ByteView decoded, std::string& why) {
    if (!is_alpha(decoded)) return read_bmp(decoded, why);
    const auto parts = alpha_parts(decoded, why);
    if (!parts) return std::nullopt;
    const AlphaHeader& h = parts->h;
    Picture p = blank(h.width, h.height);
    p.has_alpha = true;
    std::uint8_t* out = p.rgba.data();
    for (std::uint32_t y = 0; y < h.height; ++y) {
        const std::size_t first = std::size_t{h.height - 1 - y} * h.width;  // rows are stored bottom-up
        for (std::uint32_t x = 0; x < h.width; ++x, out += 4) {
            const std::size_t k = first + x;
            const std::uint8_t* bgr = nullptr;
            if (h.bit_count == 24) {
                bgr = parts->table.data() + 4 * k;
                out[3] = bgr[3];
            } else {
                const std::uint8_t* pair = parts->pairs.data() + 2 * k;
                bgr = parts->table.data() + 4 * std::size_t{pair[0]};
                out[3] = pair[1];
            }
            out[0] = bgr[2];
            out[1] = bgr[1];
            out[2] = bgr[0];
        }
    }
    return p;
}

}  // namespace vid::bm2

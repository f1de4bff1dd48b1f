// The decoded data of BM2 images made from pictures: new ones, and the
// original's data with other pixels.
#include "bm2/encode.h"

#include <vector>

#include "bm2/bm2.h"
#include "bm2/lzss_encode.h"
#include "core/text.h"

namespace vid::bm2 {

namespace {

// Colour table entries (blue, green, red, unused) and the index for a
// colour: the entry of exactly that colour, else the nearest by the sum of
// the squares of the red, green and blue differences. Among entries at the
// same distance (the same colour twice, or a colour halfway between two)
// the lowest index is taken. Answers are kept in a cache of a fixed 4096
// slots (48 KiB), each colour in one slot chosen by its bits: memory does
// not grow with the picture's colours.
class Palette {
public:
    Palette(const std::uint8_t* table, std::size_t colours) : table_(table), colours_(colours) {}

    bool shows(std::size_t index, const std::uint8_t* rgba) const {
        if (index >= colours_) return rgba[0] == 0 && rgba[1] == 0 && rgba[2] == 0;  // past the table: black
        const std::uint8_t* e = table_ + 4 * index;
        return e[2] == rgba[0] && e[1] == rgba[1] && e[0] == rgba[2];
    }
    // The index for `rgba`; `exact` false when no entry has that colour.
    std::uint8_t nearest(const std::uint8_t* rgba, bool& exact) {
        const std::uint32_t key = rgba[0] | (rgba[1] << 8) | (static_cast<std::uint32_t>(rgba[2]) << 16);
        Slot& slot = cache_[(key * 2654435761u) >> 20];
        if (slot.key != key + 1) {
            std::uint32_t best = UINT32_MAX;
            for (std::size_t i = 0; i < colours_ && best != 0; ++i) {
                const std::uint8_t* e = table_ + 4 * i;
                const int dr = e[2] - rgba[0], dg = e[1] - rgba[1], db = e[0] - rgba[2];
                const auto d = static_cast<std::uint32_t>(dr * dr + dg * dg + db * db);
                if (d < best) {
                    best = d;
                    slot.answer = static_cast<std::uint16_t>(i | (d == 0 ? 0x100 : 0));
                }
            }
            slot.key = key + 1;
        }
        exact = (slot.answer & 0x100) != 0;
        return static_cast<std::uint8_t>(slot.answer);
    }

private:
    struct Slot {
        std::uint32_t key = 0;      // the colour + 1; 0: empty
        std::uint16_t answer = 0;   // index, and 0x100 when exact
    };
    const std::uint8_t* table_;
    std::size_t colours_;
    std::vector<Slot> cache_ = std::vector<Slot>(4096);
};

// The index a pixel of `picture` gets where the original had `old`;
// `recoloured` counts it when its colour is not in the palette and it is
// `seen` (not fully transparent).
std::uint8_t index_for(Palette& palette, std::size_t old, const std::uint8_t* rgba, bool seen,
                       std::uint64_t& recoloured) {
    if (palette.shows(old, rgba)) return static_cast<std::uint8_t>(old);
    bool exact = false;
    const std::uint8_t index = palette.nearest(rgba, exact);
    if (!exact && seen) ++recoloured;
    return index;
}

void put_bgr(std::uint8_t* at, const std::uint8_t* rgba) {
    at[0] = rgba[2];
    at[1] = rgba[1];
    at[2] = rgba[0];
}

std::string size_text(std::uint64_t w, std::uint64_t h) { return std::to_string(w) + "x" + std::to_string(h); }

void rebuild_alpha(Bytes& out, const Picture& picture, std::uint64_t& recoloured) {
    const AlphaHeader h = alpha_header(out);
    Palette palette(out.data() + kAlphaPicture, 256);
    const std::uint8_t* px = picture.rgba.data();
    for (std::uint32_t y = 0; y < h.height; ++y) {
        const std::size_t first = std::size_t{h.height - 1u - y} * h.width;  // rows are stored bottom-up
        for (std::uint32_t x = 0; x < h.width; ++x, px += 4) {
            if (h.bit_count == 24) {
                std::uint8_t* at = out.data() + kAlphaPicture + 4 * (first + x);
                put_bgr(at, px);
                if (picture.has_alpha) at[3] = px[3];
            } else {
                std::uint8_t* pair = out.data() + kAlphaIndexes + 2 * (first + x);
                pair[0] = index_for(palette, pair[0], px, px[3] != 0, recoloured);
                pair[1] = px[3];
            }
        }
    }
}

void rebuild_bitmap(Bytes& out, const BitmapLayout& l, const Picture& picture, std::uint64_t& recoloured) {
    Palette palette(out.data() + l.palette_at, l.colours);
    const std::uint8_t* px = picture.rgba.data();
    for (std::uint32_t y = 0; y < l.height; ++y) {
        std::uint8_t* row = out.data() + l.row_at(y);
        for (std::uint32_t x = 0; x < l.width; ++x, px += 4) {
            if (l.bits <= 8) {
                const std::size_t bit = std::size_t{x} * l.bits;
                const unsigned shift = 8 - l.bits - static_cast<unsigned>(bit % 8);
                const unsigned mask = ((1u << l.bits) - 1) << shift;
                std::uint8_t& byte = row[bit / 8];
                const std::uint8_t index = index_for(palette, (byte & mask) >> shift, px, true, recoloured);
                byte = static_cast<std::uint8_t>((byte & ~mask) | ((static_cast<unsigned>(index) << shift) & mask));
            } else {
                std::uint8_t* at = row + std::size_t{x} * (l.bits / 8);
                put_bgr(at, px);
                if (l.bits == 32 && picture.has_alpha) at[3] = px[3];
            }
        }
    }
}

}  // namespace

bool check_bm2_header(ByteView header, std::uint64_t file_size, std::uint64_t& packed, std::uint64_t& unpacked,
                      std::string& why) {
    if (file_size < kHeaderSize || header.size() < kHeaderSize) {
        why = "it ends inside its 16-byte header";
        return false;
    }
    const auto packed_bytes = static_cast<std::int32_t>(load_u32(header.data() + 8));
    const auto unpacked_bytes = static_cast<std::int32_t>(load_u32(header.data() + 12));
    if (packed_bytes < 0 || unpacked_bytes < 0) {
        why = "its header gives a negative size";
        return false;
    }
    packed = static_cast<std::uint64_t>(packed_bytes);
    unpacked = static_cast<std::uint64_t>(unpacked_bytes);
    if (packed > file_size - kHeaderSize) {
        why = "its header announces " + std::to_string(packed) + " bytes of packed data, the file holds " + std::to_string(file_size - kHeaderSize);
        return false;
    }
    if (unpacked > max_unpacked(packed)) {
        why = std::to_string(packed) + " packed bytes cannot decode to the " + std::to_string(unpacked) + " bytes its header announces";
        return false;
    }
    return true;
}

std::optional<Bm2Image> parse_bm2(ByteView file, std::string& why) {
    std::uint64_t packed = 0, size = 0;
    if (!check_bm2_header(file.first(std::min(file.size(), kHeaderSize)), file.size(), packed, size, why))
        return std::nullopt;
    if (size > kMaxDecoded) {
        why = "its decoded data take " + std::to_string(size) + " bytes, more than the " + std::to_string(kMaxDecoded) + " read";
        return std::nullopt;
    }
    Bm2Image image;
    std::copy_n(file.begin(), 8, image.lead.begin());
    image.decoded.resize(static_cast<std::size_t>(size));
    const std::size_t produced = lzss_decode(file.subspan(kHeaderSize, static_cast<std::size_t>(packed)), image.decoded);
    if (produced != size) {
        why = "its packed data decode to " + std::to_string(produced) + " of the " + std::to_string(size) + " bytes its header announces";
        return std::nullopt;
    }
    return image;
}

Bytes bm2_bytes(const std::array<std::uint8_t, 8>& lead, ByteView decoded) {
    const Bytes packed = lzss_encode(decoded);
    Bytes out(lead.begin(), lead.end());
    out.reserve(kHeaderSize + packed.size());
    put_u32(out, static_cast<std::uint32_t>(packed.size()));
    put_u32(out, static_cast<std::uint32_t>(decoded.size()));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

std::optional<Bytes> fresh_decoded(const Picture& picture, std::string& why) {
    const std::uint32_t w = picture.width, h = picture.height;
    Bytes out;
    if (picture.has_alpha) {
        if (w > 0xFFFF || h > 0xFFFF) {
            why = "an alpha BM2 image holds at most 65535x65535 pixels";
            return std::nullopt;
        }
        out = {'B', 'M', '2', 'A', 0, 0, 0, 0};
        put_u16(out, 24);
        put_u32(out, 0);
        put_u16(out, static_cast<std::uint16_t>(w));
        put_u16(out, static_cast<std::uint16_t>(h));
        put_u32(out, 0);
        out.resize(kAlphaPicture + std::size_t{w} * h * 4);
    } else {
        const std::size_t stride = (std::size_t{w} * 3 + 3) / 4 * 4;
        const std::size_t total = 54 + stride * h;
        out = {'B', 'M'};
        put_u32(out, static_cast<std::uint32_t>(total));
        put_u32(out, 0);
        put_u32(out, 54);
        put_u32(out, 40);
        put_u32(out, w);
        put_u32(out, h);
        put_u16(out, 1);
        put_u16(out, 24);
        put_u32(out, 0);
        put_u32(out, static_cast<std::uint32_t>(stride * h));
        out.resize(total, 0);  // resolution and colour counts 0, rows filled with zeros
    }
    // Now the picture into the layout just made, as into an original.
    std::string alert;
    if (!rebuild_in_place(out, picture, "", "", alert)) {
        why = alert;
        return std::nullopt;
    }
    return out;
}

std::optional<Rebuilt> rebuild(ByteView original, const Picture& picture, std::string_view image,
                               std::string_view original_name, std::string& alert) {
    Rebuilt r;
    r.decoded.assign(original.begin(), original.end());
    const auto count = rebuild_in_place(r.decoded, picture, image, original_name, alert);
    if (!count) return std::nullopt;
    r.recoloured = *count;
    return r;
}

std::optional<std::uint64_t> rebuild_in_place(Bytes& decoded, const Picture& picture, std::string_view image,
                                              std::string_view original_name, std::string& alert) {
    std::string why;
    const auto shown = decoded_picture_size(decoded, why);  // checks the original's layout
    if (!shown) {
        alert = is_alpha(decoded) ? format("%s is damaged: %s", {original_name, why})
                                  : format("%s holds a bitmap that Encode BM2 cannot write: %s", {original_name, why});
        return std::nullopt;
    }
    if (shown->first != picture.width || shown->second != picture.height) {
        alert = format("%s is %s pixels, its original %s is %s: an image must keep its original's width and height",
                       {image, size_text(picture.width, picture.height), original_name,
                        size_text(shown->first, shown->second)});
        return std::nullopt;
    }
    std::uint64_t recoloured = 0;
    if (is_alpha(decoded)) {
        if (alpha_header(decoded).bit_count == 8 && !picture.has_alpha) {
            alert = format("%s has no alpha, and %s is an 8-bit alpha image: encode it from a PNG with its alpha "
                           "(vidodide decode-bm2 --png writes one)",
                           {image, original_name});
            return std::nullopt;
        }
        rebuild_alpha(decoded, picture, recoloured);
    } else {
        const auto layout = bitmap_layout(decoded, why);  // it was read above, so it has a layout
        if (!layout) {
            alert = format("%s holds a bitmap that Encode BM2 cannot write: %s", {original_name, why});
            return std::nullopt;
        }
        rebuild_bitmap(decoded, *layout, picture, recoloured);
    }
    return recoloured;
}

}  // namespace vid::bm2

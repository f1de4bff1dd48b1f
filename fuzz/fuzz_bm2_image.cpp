// Encode BM2's readers: bitmap and PNG files as editors save them, and the
// pictures that BM2 decoded data hold. Whatever they accept must survive a
// PNG round trip unchanged and go back into the data it came from.
//
// The first byte picks what the rest becomes: raw bytes; a bitmap file
// whose headers come from the next bytes; a PNG file of the next bytes'
// pixels with a few bytes changed; the decoded data of an alpha picture.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bm2/encode.h"
#include "bm2/image.h"

namespace {

using vid::Bytes;
using vid::ByteView;

std::uint8_t at(ByteView in, std::size_t k) { return k < in.size() ? in[k] : 0; }

Bytes bitmap_of(ByteView in) {
    static constexpr std::uint16_t kBits[] = {1, 4, 8, 24, 32, 16};
    const std::uint32_t width = 1 + at(in, 0) % 17, height = 1 + at(in, 1) % 9;
    const std::uint16_t bits = kBits[at(in, 2) % 6];
    const std::uint32_t info = at(in, 3) & 1 ? 40 : 124, colours = at(in, 4) & 0x80 ? at(in, 4) & 0x7F : 0;
    Bytes f{'B', 'M'};
    const std::uint32_t offset = 14 + info + (bits <= 8 ? 4 * (colours ? colours : 1u << bits) : 0);
    for (std::uint32_t v : {0u, 0u, offset, info, width, at(in, 3) & 2 ? 0u - height : height}) vid::put_u32(f, v);
    vid::put_u16(f, 1);
    vid::put_u16(f, bits);
    vid::put_u32(f, at(in, 3) & 4 ? 3 : 0);  // bit fields
    for (std::uint32_t v : {0u, 0u, 0u, colours, 0u}) vid::put_u32(f, v);
    if (info > 40) {
        for (std::uint32_t v : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) vid::put_u32(f, v);
        f.resize(14 + info, 0);
    }
    f.insert(f.end(), in.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(in.size(), 5)), in.end());
    return f;
}

Bytes png_of(ByteView in) {
    vid::bm2::Picture p;
    p.width = 1 + at(in, 0) % 9;
    p.height = 1 + at(in, 1) % 9;
    p.has_alpha = at(in, 2) & 1;
    p.rgba.resize(std::size_t{p.width} * p.height * 4);
    for (std::size_t k = 0; k < p.rgba.size(); ++k) p.rgba[k] = p.has_alpha || k % 4 != 3 ? at(in, 8 + k) : 255;
    Bytes png = vid::bm2::write_png(p);
    for (std::size_t k = 3; k + 1 < 8 && !png.empty(); k += 2)  // up to two bytes changed
        if (at(in, k) != 0) png[at(in, k + 1) * 7u % png.size()] ^= at(in, k);
    return png;
}

Bytes alpha_of(ByteView in) {
    Bytes d{'B', 'M', '2', 'A', 1, 2, 3, 4};
    vid::put_u16(d, at(in, 0) & 1 ? 8 : 24);
    vid::put_u32(d, 0x05060708);
    vid::put_u16(d, at(in, 1) % 7);
    vid::put_u16(d, at(in, 2) % 7);
    vid::put_u32(d, 0x090A0B0C);
    if (at(in, 0) & 1) d.resize(22 + 1024, 0x11);  // a colour table
    d.insert(d.end(), in.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(in.size(), 3)), in.end());
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const ByteView rest(data + 1, size - 1);
    Bytes made;
    switch (data[0] % 4) {
        case 0: made.assign(rest.begin(), rest.end()); break;
        case 1: made = bitmap_of(rest); break;
        case 2: made = png_of(rest); break;
        default: made = alpha_of(rest); break;
    }
    std::string why;
    const auto image = vid::bm2::read_image(made, why);
    if (image) {
        if (image->rgba.size() != std::size_t{image->width} * image->height * 4) std::abort();
        // Into a new BM2 image and out again: the same pixels.
        const auto decoded = vid::bm2::fresh_decoded(*image, why);
        if (decoded) {
            const auto back = vid::bm2::picture_of_decoded(*decoded, why);
            if (!back || back->rgba != image->rgba) std::abort();
        }
    }
    // As the decoded data of a BM2 image: its picture, through PNG, rebuilds the same data.
    const auto shown = vid::bm2::picture_of_decoded(made, why);
    if (!shown || shown->rgba.size() > (1u << 20)) return 0;
    const Bytes png = vid::bm2::write_png(*shown);
    const auto read = vid::bm2::read_png(png, why);
    if (!read || read->rgba != shown->rgba || read->has_alpha != shown->has_alpha) std::abort();
    std::string alert;
    const auto rebuilt = vid::bm2::rebuild(made, *read, "image", "original", alert);
    if (!rebuilt || rebuilt->decoded != made || rebuilt->recoloured != 0) std::abort();
    return 0;
}

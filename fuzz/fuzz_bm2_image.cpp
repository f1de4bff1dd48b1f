// Encode BM2's readers: bitmap and PNG files as editors save them, and the
// pictures that BM2 decoded data hold. Whatever they accept must survive a
// PNG round trip unchanged and go back into the data it came from.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bm2/encode.h"
#include "bm2/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vid::ByteView bytes(data, size);
    std::string why;
    const auto image = vid::bm2::read_image(bytes, why);
    if (image) {
        if (image->rgba.size() != std::size_t{image->width} * image->height * 4) std::abort();
        // Into a new BM2 image and out again: the same pixels.
        const auto decoded = vid::bm2::fresh_decoded(*image, why);
        if (!decoded) return 0;
        const auto back = vid::bm2::picture_of_decoded(*decoded, why);
        if (!back || back->rgba != image->rgba) std::abort();
    }
    // As the decoded data of a BM2 image: its picture, through PNG, rebuilds the same data.
    const auto shown = vid::bm2::picture_of_decoded(bytes, why);
    if (!shown || shown->rgba.size() > (1u << 20)) return 0;
    const vid::Bytes png = vid::bm2::write_png(*shown);
    const auto read = vid::bm2::read_png(png, why);
    if (!read || read->rgba != shown->rgba || read->has_alpha != shown->has_alpha) std::abort();
    std::string alert;
    const auto rebuilt = vid::bm2::rebuild(bytes, *read, "image", "original", alert);
    if (rebuilt && rebuilt->decoded != vid::Bytes(bytes.begin(), bytes.end())) std::abort();
    return 0;
}

#include "bm2/codec.h"

#include "bm2/bm2.h"
#include "core/text.h"

namespace vid::bm2 {

std::optional<Bytes> editable_bytes(ByteView file, bool bitmap, std::string& why) {
    const auto image = parse_bm2(file, why);
    if (!image) return std::nullopt;
    if (is_alpha(image->decoded)) {
        const auto bits = alpha_header(image->decoded).bit_count;
        if (bits != 8 && bits != 24) {
            why = "an alpha picture of " + std::to_string(bits) + " bits: only 8 or 24 bits decode";
            return std::nullopt;
        }
    }
    if (bitmap) {
        if (!is_alpha(image->decoded)) return image->decoded;  // the bitmap file as the image holds it
        Bytes out;
        const auto r = write_alpha(image->decoded, [&out](ByteView piece) {
            out.insert(out.end(), piece.begin(), piece.end());
            return true;
        });
        if (r.result != AlphaResult::written) {
            why = "its alpha picture is incomplete";
            return std::nullopt;
        }
        return out;
    }
    const auto picture = picture_of_decoded(image->decoded, why);
    if (!picture) return std::nullopt;
    Bytes png = write_png(*picture);
    if (png.empty()) {
        why = "no PNG image can be made of it";
        return std::nullopt;
    }
    return png;
}

std::optional<Picture> picture_of_bm2(ByteView file, std::string& why) {
    const auto image = parse_bm2(file, why);
    if (!image) return std::nullopt;
    return picture_of_decoded(image->decoded, why);
}

std::optional<Encoded> encode_over(const Picture& picture, Bm2Image original, std::string_view image,
                                   std::string_view original_name, std::string& alert) {
    const auto recoloured = rebuild_in_place(original.decoded, picture, image, original_name, alert);
    if (!recoloured) return std::nullopt;
    return Encoded{bm2_bytes(original.lead, original.decoded), *recoloured};
}

std::optional<Encoded> encode_over(ByteView image_file, ByteView original_file, std::string_view image,
                                   std::string_view original_name, std::string& why) {
    const auto picture = read_image(image_file, why);
    if (!picture) return std::nullopt;
    auto original = parse_bm2(original_file, why);
    if (!original) return std::nullopt;
    return encode_over(*picture, std::move(*original), image, original_name, why);
}

std::string recoloured_text(std::string_view image, std::string_view original_name, std::uint64_t recoloured) {
    if (recoloured == 0) return {};
    if (recoloured == 1)
        return format("%s: 1 pixel changed colour: its colour is not in the palette of %s, which gives it the "
                      "nearest one",
                      {image, original_name});
    return format("%s: %s pixels changed colour: their colours are not in the palette of %s, which gives them the "
                  "nearest ones",
                  {image, std::to_string(recoloured), original_name});
}

}  // namespace vid::bm2

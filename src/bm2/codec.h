// BM2 images in memory: a BM2 file to its editable file or its picture,
// and a picture back into a BM2 file over an original. Encode BM2, the
// mod project and its check all go through these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bm2/encode.h"
#include "bm2/image.h"
#include "core/bytes.h"

namespace vid::bm2 {

// The editable file of the BM2 file `file`: a PNG image with its alpha, or
// with `bitmap` the bitmap that Decode BM2 writes. Nothing, with the
// reason in `why`, when it is damaged or holds no picture that can be
// written so.
std::optional<Bytes> editable_bytes(ByteView file, bool bitmap, std::string& why);

// The picture of the BM2 file `file`; nothing, with the reason in `why`.
std::optional<Picture> picture_of_bm2(ByteView file, std::string& why);

struct Encoded {
    Bytes bytes;                  // the new BM2 file
    std::uint64_t recoloured = 0;  // pixels that took the palette's nearest colour
};

// The BM2 file of `picture` over the decoded `original`, rebuilt in place:
// its kind, headers, layout and palette kept (see rebuild). Nothing, with an
// Alert text naming `image` or `original_name` in `alert`, when the picture
// cannot go there.
std::optional<Encoded> encode_over(const Picture& picture, Bm2Image original, std::string_view image,
                                   std::string_view original_name, std::string& alert);

// The same from files in memory: the image file `image_file` (bitmap or
// PNG) over the BM2 file `original_file`.
std::optional<Encoded> encode_over(ByteView image_file, ByteView original_file, std::string_view image,
                                   std::string_view original_name, std::string& why);

// The Alert of Encode BM2 for pixels that took the nearest colour of the
// palette of `original_name`; empty for none.
std::string recoloured_text(std::string_view image, std::string_view original_name, std::uint64_t recoloured);

}  // namespace vid::bm2

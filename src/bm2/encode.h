// Encode BM2: pictures back into BM2 images, and the PNG side of Decode BM2.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bm2/image.h"
#include "core/bytes.h"
#include "core/ui.h"

namespace vid::bm2 {

// The most decoded bytes that Encode BM2 reads from an original or makes.
inline constexpr std::uint64_t kMaxDecoded = 4 * kMaxPixels + (1u << 20);

// A BM2 file, decoded whole: its eight leading header bytes and its data.
struct Bm2Image {
    std::array<std::uint8_t, 8> lead{};
    Bytes decoded;
};

// Checks and decodes the bytes of a BM2 file; nothing, with the reason in
// `why`, when its header or its packed data are damaged.
std::optional<Bm2Image> parse_bm2(ByteView file, std::string& why);

// The bytes of a BM2 file: `lead`, the packed and unpacked sizes and the
// compressed `decoded` (at most kMaxDecoded bytes).
Bytes bm2_bytes(const std::array<std::uint8_t, 8>& lead, ByteView decoded);

// The decoded data of a BM2 image made from `picture` alone: with alpha an
// alpha image of 24 bits, without an ordinary image holding a 24-bit
// bitmap. Nothing, with the reason in `why`, when it does not fit.
std::optional<Bytes> fresh_decoded(const Picture& picture, std::string& why);

struct Rebuilt {
    Bytes decoded;
    std::uint64_t recoloured = 0;  // pixels whose colour is not in the palette: the nearest one was taken
};

// The decoded data `original` with the pixels of `picture` in place of
// its own: same kind, same headers and layout. In an 8-bit image a pixel
// that shows the original's colour keeps the original's index; another
// colour takes the nearest palette entry. Without alpha in `picture`, a
// 24- or 32-bit target keeps its own alpha bytes; an 8-bit alpha image
// needs alpha. Nothing, with an Alert text naming `image` or `original`
// in `alert`, when the picture cannot go there.
std::optional<Rebuilt> rebuild(ByteView original, const Picture& picture, std::string_view image,
                               std::string_view original_name, std::string& alert);

// The whole of the file `path` when it has at most `limit` bytes; else
// nothing, after an Alert.
std::optional<Bytes> read_whole(Ui& ui, const std::string& path, std::uint64_t limit);

// Encodes one image (bitmap or PNG) into "STEM.bm2" beside it, replacing
// an original of that name in any case, which is kept once as
// "ORIGINAL.orig". True when the BM2 file was written.
bool encode_file(Ui& ui, const std::string& path);

// Decodes one BM2 file into "STEM.png" beside it, alpha included. True
// when the PNG file was written.
bool decode_png_file(Ui& ui, const std::string& path);

}  // namespace vid::bm2

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

// Checks the header of a BM2 file of `file_size` bytes (`header`: its
// first 16 bytes, fewer when the file is shorter) and gives its packed and
// unpacked sizes; false, with the reason in `why`, when it is damaged.
bool check_bm2_header(ByteView header, std::uint64_t file_size, std::uint64_t& packed, std::uint64_t& unpacked,
                      std::string& why);

// Checks and decodes the bytes of a BM2 file; nothing, with the reason in
// `why`, when its header or its packed data are damaged or it decodes to
// more than kMaxDecoded bytes.
std::optional<Bm2Image> parse_bm2(ByteView file, std::string& why);

// The BM2 file `path`, decoded whole, its packed data read in pieces.
// Nothing after an Alert: "%s is damaged: ..." or, for data of more than
// kMaxDecoded bytes, `too_large` (a format of the path and the reason, which
// names the pixels when the data's header gives them).
std::optional<Bm2Image> read_bm2_file(Ui& ui, const std::string& path, std::string_view too_large);

// The bitmap or PNG file `path` as a picture, read in pieces (a bitmap's
// headers and rows, a PNG's bytes as its rows need them). Nothing after an
// Alert.
std::optional<Picture> read_image_file(Ui& ui, const std::string& path);

// The bytes of a BM2 file: `lead`, the packed and unpacked sizes and the
// compressed `decoded` (at most kMaxDecoded bytes).
Bytes bm2_bytes(const std::array<std::uint8_t, 8>& lead, ByteView decoded);

// The decoded data of a BM2 image made from `picture` alone: with alpha an
// alpha image of 24 bits, without an ordinary image holding a 24-bit
// bitmap. Nothing, with the reason in `why`, when it does not fit.
std::optional<Bytes> fresh_decoded(const Picture& picture, std::string& why);

struct Rebuilt {
    Bytes decoded;
    // Pixels that show a colour not in the palette, for which the nearest
    // one was taken. Fully transparent pixels of an alpha image show no
    // colour and are not counted.
    std::uint64_t recoloured = 0;
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
// The same, in place: `decoded` becomes the new data (unchanged when
// nothing is returned); gives the count of pixels that changed colour.
std::optional<std::uint64_t> rebuild_in_place(Bytes& decoded, const Picture& picture, std::string_view image,
                                              std::string_view original_name, std::string& alert);

// Encodes one image (bitmap or PNG) into "STEM.bm2" beside it, replacing
// an original of that name in any case, which is kept once as
// "ORIGINAL.orig". True when the BM2 file was written.
bool encode_file(Ui& ui, const std::string& path);

// Decodes one BM2 file into "STEM.png" beside it, alpha included. True
// when the PNG file was written.
bool decode_png_file(Ui& ui, const std::string& path);

}  // namespace vid::bm2

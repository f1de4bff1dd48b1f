// The files that Encode BM2 and decode-bm2 --png read, pulled in pieces:
// memory follows the picture (at most kMaxPixels), never the file's size.
#include <algorithm>

#include "bm2/bm2.h"
#include "bm2/encode.h"
#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"

namespace vid::bm2 {

namespace {

using platform::File;

// The file header, the largest information header, its bit-field masks
// and the largest colour table: what a bitmap holds before its pixels.
constexpr std::size_t kBitmapHead = 14 + 124 + 12 + 1024;

// The width and height that the first decoded bytes of a BM2 image give:
// an alpha picture's header, or a bitmap's information header.
std::optional<std::pair<std::uint64_t, std::uint64_t>> size_in(ByteView head) {
    if (is_alpha(head) && head.size() >= 18) {
        const AlphaHeader h = alpha_header(head);
        return std::pair<std::uint64_t, std::uint64_t>{h.width, h.height};
    }
    if (head.size() < 26 || head[0] != 'B' || head[1] != 'M') return std::nullopt;
    const auto width = static_cast<std::int32_t>(load_u32(head.data() + 18));
    const auto height = static_cast<std::int32_t>(load_u32(head.data() + 22));
    if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
    return std::pair<std::uint64_t, std::uint64_t>{static_cast<std::uint64_t>(width),
                                                   static_cast<std::uint64_t>(height < 0 ? -height : height)};
}

// A bitmap file whose information header and colour table are in `head`
// (the file's first bytes): those bytes up to its pixels, then its pixel
// rows, read from where the file has them. Bytes between the colour table
// and the pixels, and after the last row, are never read.
std::optional<Picture> read_bitmap_file(File& in, ByteView head, std::uint64_t file_size, std::string& why,
                                        bool& read_failed) {
    const auto l = bitmap_layout(head, why, file_size);
    if (!l) return std::nullopt;
    const std::size_t prefix = std::min(l->pixels_at, head.size());
    Bytes composed(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(prefix));
    composed.resize(prefix + l->stride * l->height);
    if (!in.seek(l->pixels_at) || in.read_full(std::span(composed).subspan(prefix)) != composed.size() - prefix) {
        read_failed = true;
        return std::nullopt;
    }
    store_u32(composed.data() + 10, static_cast<std::uint32_t>(prefix));
    return read_bmp(composed, why);
}

}  // namespace

std::optional<Picture> read_image_file(Ui& ui, const std::string& path) {
    auto in = open_input(ui, path);
    if (!in) return std::nullopt;
    const auto size = in->size();
    Bytes head(static_cast<std::size_t>(std::min<std::uint64_t>(size.value_or(0), kBitmapHead)));
    if (!size || in->read_full(head) != head.size()) {
        ui.alert(cant_read(path));
        return std::nullopt;
    }
    static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::string why;
    bool read_failed = false;
    std::optional<Picture> picture;
    if (head.size() >= 8 && std::equal(kPng, kPng + 8, head.begin())) {
        std::uint64_t given = 0;
        const ReadSome read = [&](std::span<std::uint8_t> out) -> std::size_t {
            std::size_t n = 0;
            if (given < head.size()) {
                n = std::min(out.size(), static_cast<std::size_t>(head.size() - given));
                std::copy_n(head.begin() + static_cast<std::ptrdiff_t>(given), n, out.begin());
            } else if (given < *size) {
                n = in->read(out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), *size - given))));
                read_failed = read_failed || n == 0;
            }
            given += n;
            return n;
        };
        picture = read_png(read, why);
    } else if (head.size() >= 2 && head[0] == 'B' && head[1] == 'M') {
        picture = read_bitmap_file(*in, head, *size, why, read_failed);
    } else {
        why = "it is neither a bitmap nor a PNG image";
    }
    if (read_failed) {
        ui.alert(cant_read(path));
        return std::nullopt;
    }
    if (!picture) ui.alert(format("%s is not an image that Encode BM2 reads: %s", {path, why}));
    return picture;
}

std::optional<Bm2Image> read_bm2_file(Ui& ui, const std::string& path, std::string_view too_large) {
    auto in = open_input(ui, path);
    if (!in) return std::nullopt;
    const auto size = in->size();
    std::uint8_t header[kHeaderSize];
    if (!size || (*size >= kHeaderSize && in->read_full(header) != kHeaderSize)) {
        ui.alert(cant_read(path));
        return std::nullopt;
    }
    std::string why;
    std::uint64_t packed = 0, unpacked = 0;
    if (!check_bm2_header(ByteView(header, std::min<std::uint64_t>(*size, kHeaderSize)), *size, packed, unpacked,
                          why)) {
        ui.alert(format("%s is damaged: %s", {path, why}));
        return std::nullopt;
    }
    FilePacked source(*in);
    LzssReader reader(source, packed, unpacked);
    Bm2Image image;
    std::copy_n(header, 8, image.lead.begin());
    ByteView piece = reader.next();
    if (unpacked > kMaxDecoded) {
        // The picture's size is named when its header is in the first piece.
        const auto wh = size_in(piece);
        if (wh && wh->first * wh->second > kMaxPixels)
            why = "it has " + std::to_string(wh->first) + "x" + std::to_string(wh->second) + " pixels, more than " + std::to_string(kMaxPixels) +
                  " in all";
        else
            why = "its decoded data take " + std::to_string(unpacked) + " bytes, more than the " + std::to_string(kMaxDecoded) + " read";
        ui.alert(format(too_large, {path, why}));
        return std::nullopt;
    }
    image.decoded.reserve(static_cast<std::size_t>(unpacked));
    for (; !piece.empty(); piece = reader.next()) image.decoded.insert(image.decoded.end(), piece.begin(), piece.end());
    if (source.failed()) {
        ui.alert(cant_read(path));
        return std::nullopt;
    }
    if (reader.produced() < unpacked) {
        ui.alert(format("%s is damaged: its packed data decode to %s of the %s bytes its header announces",
                        {path, std::to_string(reader.produced()), std::to_string(unpacked)}));
        return std::nullopt;
    }
    return image;
}

}  // namespace vid::bm2

// Decode BM2: one BM2 file to one bitmap file beside it.
#include <new>
#include <string>
#include <vector>

#include "bm2/bm2.h"
#include "core/text.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace vid::bm2 {

namespace {

using platform::File;
using platform::OpenMode;

std::string num(std::uint64_t v) { return std::to_string(v); }
std::string num(std::int32_t v) { return std::to_string(v); }

// Holds the packed data and the decoded data of one file.
struct Blocks {
    std::vector<std::uint8_t> packed;
    std::vector<std::uint8_t> decoded;
};

bool allocate(Blocks& b, std::size_t packed_size, std::size_t unpacked_size) {
    try {
        b.packed.assign(packed_size, 0);
        b.decoded.assign(unpacked_size, 0);
        return true;
    } catch (const std::bad_alloc&) {
        b = Blocks{};
        return false;
    }
}

// Reads and checks the header and the packed data, and decodes them.
// The sizes are checked against the file's real size before anything is
// allocated: the packed data must be in the file, and the unpacked size
// must be one that the packed data can decode to.
bool load(Ui& ui, const std::string& path, File& in, Blocks& blocks) {
    std::uint8_t header[kHeaderSize];
    const auto file_size = in.size();
    if (!file_size) {
        ui.alert(format("Can't read %s", {path}));
        return false;
    }
    if (*file_size < kHeaderSize || in.read_full(header) != kHeaderSize) {
        ui.alert(format("%s is not a BM2 image: it ends inside its 16-byte header", {path}));
        return false;
    }
    const auto packed_size = static_cast<std::int32_t>(load_u32(header + 8));
    const auto unpacked_size = static_cast<std::int32_t>(load_u32(header + 12));
    if (packed_size < 0 || unpacked_size < 0) {
        ui.alert(format("%s is not a BM2 image: its header gives a negative size (packed %s, unpacked %s)",
                        {path, num(packed_size), num(unpacked_size)}));
        return false;
    }
    const std::uint64_t packed_in_file = *file_size - kHeaderSize;
    if (static_cast<std::uint64_t>(packed_size) > packed_in_file) {
        ui.alert(format("%s is damaged: its header announces %s bytes of packed data, the file holds %s",
                        {path, num(packed_size), num(packed_in_file)}));
        return false;
    }
    const std::uint64_t can_give = max_unpacked(static_cast<std::uint64_t>(packed_size));
    if (static_cast<std::uint64_t>(unpacked_size) > can_give) {
        ui.alert(format("%s is damaged: %s packed bytes cannot decode to the %s bytes its header announces",
                        {path, num(packed_size), num(unpacked_size)}));
        return false;
    }
    if (!allocate(blocks, static_cast<std::size_t>(packed_size), static_cast<std::size_t>(unpacked_size))) {
        ui.alert(format("not enought memory to decode %s (%s bytes)", {path, num(unpacked_size)}));
        return false;
    }
    if (in.read_full(blocks.packed) != blocks.packed.size()) {
        ui.alert(format("Can't read %s", {path}));
        return false;
    }
    // Bytes that the stream does not produce stay zero.
    lzss_decode(blocks.packed, blocks.decoded);
    return true;
}

bool write_bitmap(Ui& ui, const std::string& path, const std::string& out_name, File& out, ByteView decoded) {
    if (!is_alpha(decoded)) {
        if (!out.write(decoded)) {
            ui.alert(format("Can't write %s", {out_name}));
            return false;
        }
        return true;
    }
    const AlphaOutcome r = write_alpha(decoded, [&out](ByteView piece) { return out.write(piece); });
    switch (r.result) {
        case AlphaResult::written: break;
        case AlphaResult::missing_pixels:
            ui.alert(format("%s is damaged: its %sx%s picture needs %s pixels, the data hold %s; the missing "
                            "pixels are written as zero",
                            {path, num(std::uint64_t{r.header.width}), num(std::uint64_t{r.header.height}),
                             num(r.pixels_needed), num(r.pixels_held)}));
            break;
        case AlphaResult::bad_bit_count: ui.alert("Decode 8 or 24 bits alpha BMP only"); return false;
        case AlphaResult::too_large:
            ui.alert(format("%s is damaged: a %sx%s picture is too large for a bitmap file",
                            {path, num(std::uint64_t{r.header.width}), num(std::uint64_t{r.header.height})}));
            return false;
        case AlphaResult::write_failed: ui.alert(format("Can't write %s", {out_name})); return false;
    }
    if (r.header.bit_count == 8) ui.alert("8bits alpha BMP are not correctly decoded\nIt's only to view not mod");
    return r.result == AlphaResult::written;
}

}  // namespace

bool decode_file(Ui& ui, const std::string& path) {
    if (!platform::fits(path)) {
        ui.alert(platform::too_long_message(path));
        return false;
    }
    ui.status(format("Decoding %s", {path}), Draw::now);
    auto in = File::open(path, OpenMode::read_existing);
    if (!in) {
        ui.alert(format("%s not found", {path}));
        return false;
    }
    const std::string out_name = platform::replace_tail(path, 1, "P").value_or(path);
    auto out = File::open(out_name, OpenMode::create_always);
    if (!out) {
        ui.alert(format("Can't create %s", {out_name}));
        return false;
    }
    Blocks blocks;
    bool ok = load(ui, path, *in, blocks) && write_bitmap(ui, path, out_name, *out, blocks.decoded);
    if (!out->close() && ok) {
        ui.alert(format("Can't write %s", {out_name}));
        ok = false;
    }
    return ok;
}

}  // namespace vid::bm2

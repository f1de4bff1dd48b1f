// Decode BM2: one BM2 file to one bitmap file beside it.
#include <memory>
#include <new>
#include <span>
#include <string>

#include "bm2/bm2.h"
#include "fl3/decode_start.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/file.h"

namespace vid::bm2 {

namespace {

using platform::File;

// The sizes of one file's packed and decoded data.
struct Sizes {
    std::uint64_t packed = 0;
    std::uint64_t unpacked = 0;
};

// Reads and checks the header, leaving the file at the packed data. The
// sizes are checked against the file's real size: the packed data must be
// in the file, and the unpacked size must be one that the packed data can
// decode to.
bool read_header(Ui& ui, const std::string& path, File& in, Sizes& sizes) {
    std::uint8_t header[kHeaderSize];
    const auto file_size = in.size();
    if (!file_size) {
        ui.alert(cant_read(path));
        return false;
    }
    if (*file_size < kHeaderSize || in.read_full(header) != kHeaderSize) {
        ui.alert(format("%s is not a BM2 image: it ends inside its 16-byte header", {path}));
        return false;
    }
    const auto packed_bytes = static_cast<std::int32_t>(load_u32(header + 8));
    const auto unpacked_bytes = static_cast<std::int32_t>(load_u32(header + 12));
    if (packed_bytes < 0 || unpacked_bytes < 0) {
        ui.alert(format("%s is not a BM2 image: its header gives a negative size (packed %s, unpacked %s)",
                        {path, std::to_string(packed_bytes), std::to_string(unpacked_bytes)}));
        return false;
    }
    const std::uint64_t packed_in_file = *file_size - kHeaderSize;
    if (static_cast<std::uint64_t>(packed_bytes) > packed_in_file) {
        ui.alert(format("%s is damaged: its header announces %s bytes of packed data, the file holds %s",
                        {path, std::to_string(packed_bytes), std::to_string(packed_in_file)}));
        return false;
    }
    if (static_cast<std::uint64_t>(unpacked_bytes) > max_unpacked(static_cast<std::uint64_t>(packed_bytes))) {
        ui.alert(format("%s is damaged: %s packed bytes cannot decode to the %s bytes its header announces",
                        {path, std::to_string(packed_bytes), std::to_string(unpacked_bytes)}));
        return false;
    }
    sizes.packed = static_cast<std::uint64_t>(packed_bytes);
    sizes.unpacked = static_cast<std::uint64_t>(unpacked_bytes);
    return true;
}

// What became of the bitmap file.
enum class Written {
    none,     // nothing worth keeping: the output is dropped
    damaged,  // written as far as the data go, with an Alert; the file failed
    ok,
};

// Decodes the packed data piece by piece and writes the bitmap file.
Written write_bitmap(Ui& ui, const std::string& path, const std::string& out_name, File& in, File& out,
                     const Sizes& sizes) {
    FilePacked packed(in);
    const std::uint64_t unpacked = sizes.unpacked;
    LzssReader reader(packed, sizes.packed, unpacked);
    const ByteView first = reader.next();  // all of the data, or at least the first 256 KiB
    const auto write = [&out](ByteView piece) { return out.write(piece); };
    if (!is_alpha(first)) {
        for (ByteView piece = first; !piece.empty(); piece = reader.next()) {
            if (!write(piece)) {
                ui.alert(cant_write(out_name));
                return Written::none;
            }
        }
        if (packed.failed()) {
            ui.alert(cant_read(path));
            return Written::none;
        }
        return Written::ok;
    }
    bool first_given = false;
    const auto pieces = [&]() -> ByteView {
        if (first_given) return reader.next();
        first_given = true;
        return first;
    };
    const AlphaOutcome r = write_alpha(pieces, unpacked, write);
    if (packed.failed()) {
        ui.alert(cant_read(path));
        return Written::none;
    }
    const std::string width = std::to_string(std::uint64_t{r.header.width}), height = std::to_string(std::uint64_t{r.header.height});
    switch (r.result) {
        case AlphaResult::written: break;
        case AlphaResult::missing_rows:
            ui.alert(format("%s is damaged: its header declares a %sx%s picture, its %s bytes of decoded data hold "
                            "%sx%s; only those complete rows are written",
                            {path, width, height, std::to_string(r.size), width, std::to_string(std::uint64_t{r.rows_held})}));
            break;
        case AlphaResult::cut_header:
            ui.alert(format(r.header_size > 22
                                ? "%s is damaged: its alpha picture has %s bytes of decoded data, its header and "
                                  "colour table need %s"
                                : "%s is damaged: its alpha picture has %s bytes of decoded data, its header needs %s",
                            {path, std::to_string(r.size), std::to_string(r.header_size)}));
            return Written::none;
        case AlphaResult::bad_bit_count: ui.alert("Decode 8 or 24 bits alpha BMP only"); return Written::none;
        case AlphaResult::too_large:
            ui.alert(format("%s is damaged: a %sx%s picture is too large for a bitmap file", {path, width, height}));
            return Written::none;
        case AlphaResult::write_failed: ui.alert(cant_write(out_name)); return Written::none;
    }
    if (r.header.bit_count == 8)
        ui.alert(ui.is_console()
                     ? format("%s: 8bits alpha BMP are not correctly decoded: its bitmap is only to view, not to "
                              "mod; decode-bm2 --png (or Decode BM2 to PNG) keeps the alpha",
                              {path})
                     : "8bits alpha BMP are not correctly decoded\nIt's only to view not mod");
    return r.result == AlphaResult::written ? Written::ok : Written::damaged;
}

}  // namespace

bool decode_file(Ui& ui, const std::string& path) {
    Sizes sizes;
    // The header is checked before the output is started: an input that
    // cannot be decoded never touches an older bitmap.
    auto files = start_decoding(ui, path, 1, "P", [&](File& in) { return read_header(ui, path, in, sizes); });
    if (!files) return false;
    const std::string& out_name = files->out_name;
    Written written = Written::none;
    try {
        written = write_bitmap(ui, path, out_name, files->in, files->out.file(), sizes);
    } catch (const std::bad_alloc&) {
        ui.alert(format("not enought memory to decode %s", {path}));
    }
    if (written == Written::none) return false;  // the output is dropped; an older bitmap stays as it was
    if (!files->out.commit()) {
        ui.alert(cant_write(out_name));
        return false;
    }
    return written == Written::ok;
}

}  // namespace vid::bm2

// Decode BM2 to PNG (command line): one BM2 file to "STEM.png" beside it,
// with the full alpha of both alpha kinds.
#include <new>

#include "bm2/bm2.h"
#include "bm2/encode.h"
#include "core/messages.h"
#include "core/files.h"
#include "fl3/member_check.h"
#include "core/text.h"
#include "platform/paths.h"

namespace vid::bm2 {

namespace {

// "x.bm2" gives "x.png"; a name without an extension gets ".png" added.
std::string png_name(const std::string& path) {
    return platform::beside(path, std::string(platform::stem_of(platform::split_path(path).name)) + ".png");
}

bool decode(Ui& ui, const std::string& path, const std::string& out_name) {
    const auto image = read_bm2_file(ui, path, "%s cannot be written as a PNG image: %s");
    if (!image) return false;
    std::string why;
    if (is_alpha(image->decoded) && image->decoded.size() >= 22) {
        const auto bits = alpha_header(image->decoded).bit_count;
        if (bits != 8 && bits != 24) {
            ui.alert("Decode 8 or 24 bits alpha BMP only");
            return false;
        }
    }
    const auto picture = picture_of_decoded(image->decoded, why);
    if (!picture) {
        ui.alert(format("%s cannot be written as a PNG image: %s", {path, why}));
        return false;
    }
    if (!output_allowed(ui, path, out_name, MadeBy::decoder)) return false;
    const Bytes png = write_png(*picture);
    auto out = png.empty() ? std::nullopt : create_output(ui, out_name);
    if (!out || !out->file().write(png) || !out->commit()) {
        if (out || png.empty()) ui.alert(cant_write(out_name));
        return false;
    }
    return true;
}

}  // namespace

bool decode_png_file(Ui& ui, const std::string& path) {
    const std::string out_name = png_name(path);
    if (!platform::fits(path) || !platform::fits(out_name)) {
        ui.alert(too_long_message(platform::fits(path) ? out_name : path));
        return false;
    }
    ui.status(format("Decoding %s", {path}), Draw::now);
    try {
        return decode(ui, path, out_name);
    } catch (const std::bad_alloc&) {
        ui.alert(format("not enought memory to decode %s", {path}));
        return false;
    }
}

}  // namespace vid::bm2

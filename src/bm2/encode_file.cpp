// Encode BM2: one bitmap or PNG file into the BM2 image of its stem.
#include <new>

#include "bm2/bm2.h"
#include "bm2/codec.h"
#include "bm2/encode.h"
#include "core/messages.h"
#include "core/files.h"
#include "fl3/member_check.h"
#include "core/text.h"
#include "platform/paths.h"

namespace vid::bm2 {

namespace {

// The new BM2 file's bytes, from the picture and the original (if any).
std::optional<Bytes> make_bm2(Ui& ui, const std::string& path, const Picture& picture,
                              const std::optional<std::string>& original) {
    std::string why;
    if (!original) {
        auto decoded = fresh_decoded(picture, why);
        if (!decoded) {
            ui.alert(format("%s cannot be encoded: %s", {path, why}));
            return std::nullopt;
        }
        return bm2_bytes({}, *decoded);
    }
    auto image = read_bm2_file(ui, *original, "%s holds a picture that Encode BM2 cannot write: %s");
    if (!image) return std::nullopt;
    std::string alert;
    auto encoded = encode_over(picture, std::move(*image), path, *original, alert);
    if (!encoded) {
        ui.alert(alert);
        return std::nullopt;
    }
    if (const auto text = recoloured_text(path, *original, encoded->recoloured); !text.empty()) ui.alert(text);
    return std::move(encoded->bytes);
}

bool encode(Ui& ui, const std::string& path) {
    const auto picture = read_image_file(ui, path);
    if (!picture) return false;
    const auto parts = platform::split_path(path);
    const std::string bm2_name = std::string(platform::stem_of(parts.name)) + ".bm2";
    const auto original = find_any_case(std::string(parts.folder), bm2_name);
    const std::string target = original ? *original : platform::beside(path, bm2_name);
    if (!platform::fits(target)) {
        ui.alert(too_long_message(target));
        return false;
    }
    if (!output_allowed(ui, path, target, MadeBy::encoder)) return false;
    const auto bytes = make_bm2(ui, path, *picture, original);
    if (!bytes) return false;
    auto out = create_output(ui, target);
    if (!out) return false;
    if (!out->file().write(*bytes)) {
        ui.alert(cant_write(target));
        return false;  // the output is discarded
    }
    // The original is kept once, read through the output's hold on it, just
    // before the new file takes its place.
    return commit_keeping_original(ui, *out, original.has_value());
}

}  // namespace

bool encode_file(Ui& ui, const std::string& path) {
    if (!platform::fits(path)) {
        ui.alert(too_long_message(path));
        return false;
    }
    ui.status(format("Encoding %s", {path}), Draw::now);
    try {
        return encode(ui, path);
    } catch (const std::bad_alloc&) {
        ui.alert(format("not enought memory to encode %s", {path}));
        return false;
    }
}

}  // namespace vid::bm2

// Encode BM2: one bitmap or PNG file into the BM2 image of its stem.
#include <new>

#include "bm2/bm2.h"
#include "bm2/encode.h"
#include "core/files.h"
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
    const auto file = read_whole(ui, *original, kHeaderSize + kMaxDecoded * 9 / 8 + 1);
    if (!file) return std::nullopt;
    const auto image = parse_bm2(*file, why);
    if (!image) {
        ui.alert(format("%s is damaged: %s", {*original, why}));
        return std::nullopt;
    }
    std::string alert;
    const auto rebuilt = rebuild(image->decoded, picture, path, *original, alert);
    if (!rebuilt) {
        ui.alert(alert);
        return std::nullopt;
    }
    if (rebuilt->recoloured > 0) {
        const std::string count = std::to_string(rebuilt->recoloured);
        ui.alert(format("%s: %s pixels changed colour: their colours are not in the palette of %s, which gives "
                        "them the nearest ones",
                        {path, count, *original}));
    }
    return bm2_bytes(image->lead, rebuilt->decoded);
}

bool encode(Ui& ui, const std::string& path) {
    const auto file = read_whole(ui, path, kMaxDecoded);  // a bitmap of the largest picture, headers and colours
    if (!file) return false;
    std::string why;
    const auto picture = read_image(*file, why);
    if (!picture) {
        ui.alert(format("%s is not an image that Encode BM2 reads: %s", {path, why}));
        return false;
    }
    const auto parts = platform::split_path(path);
    const std::string bm2_name = std::string(platform::stem_of(parts.name)) + ".bm2";
    const auto original = find_any_case(std::string(parts.folder), bm2_name);
    const std::string target = original ? *original : platform::beside(path, bm2_name);
    if (!platform::fits(target)) {
        ui.alert(platform::too_long_message(target));
        return false;
    }
    if (!output_allowed(ui, path, target, MadeBy::encoder)) return false;
    const auto bytes = make_bm2(ui, path, *picture, original);
    if (!bytes) return false;
    auto out = create_output(ui, target);
    if (!out) return false;
    if (!out->file().write(*bytes)) {
        ui.alert(format("Can't write %s", {target}));
        return false;  // the output is discarded
    }
    // The original is kept once, read through the output's hold on it, just
    // before the new file takes its place.
    return commit_keeping_original(ui, *out, original.has_value());
}

}  // namespace

std::optional<Bytes> read_whole(Ui& ui, const std::string& path, std::uint64_t limit) {
    auto in = open_input(ui, path);
    if (!in) return std::nullopt;
    const auto size = in->size();
    if (!size) {
        ui.alert(format("Can't read %s", {path}));
        return std::nullopt;
    }
    if (*size > limit) {
        ui.alert(format("%s is too large: %s bytes", {path, std::to_string(*size)}));
        return std::nullopt;
    }
    Bytes data(static_cast<std::size_t>(*size));
    if (in->read_full(data) != data.size()) {
        ui.alert(format("Can't read %s", {path}));
        return std::nullopt;
    }
    return data;
}

bool encode_file(Ui& ui, const std::string& path) {
    if (!platform::fits(path)) {
        ui.alert(platform::too_long_message(path));
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

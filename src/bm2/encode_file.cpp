// Encode BM2: one bitmap or PNG file into the BM2 image of its stem.
#include <new>

#include "bm2/bm2.h"
#include "bm2/encode.h"
#include "core/files.h"
#include "core/text.h"
#include "platform/paths.h"

namespace vid::bm2 {

namespace {

// The files that an image and its BM2 image lie in.
struct Names {
    std::string folder;  // empty: the current folder
    std::string stem;    // the image's name without its last extension
};

Names names_of(const std::string& path) {
#ifdef _WIN32
    const std::size_t sep = path.find_last_of("\\/");
#else
    const std::size_t sep = path.find_last_of('/');
#endif
    Names n;
    std::string name = path;
    if (sep != std::string::npos) {
        n.folder = path.substr(0, sep);
        name = path.substr(sep + 1);
        if (n.folder.empty()) n.folder = path.substr(0, 1);  // the root folder
    }
    const std::size_t dot = name.rfind('.');
    n.stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    return n;
}

std::string beside(const Names& n, std::string_view name) {
    return n.folder.empty() ? std::string(name) : platform::join(n.folder, name);
}

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
    const auto recoloured = rebuild_in_place(image->decoded, picture, path, *original, alert);
    if (!recoloured) {
        ui.alert(alert);
        return std::nullopt;
    }
    if (*recoloured == 1) {
        ui.alert(format("%s: 1 pixel changed colour: its colour is not in the palette of %s, which gives it the "
                        "nearest one",
                        {path, *original}));
    } else if (*recoloured > 1) {
        const std::string count = std::to_string(*recoloured);
        ui.alert(format("%s: %s pixels changed colour: their colours are not in the palette of %s, which gives "
                        "them the nearest ones",
                        {path, count, *original}));
    }
    return bm2_bytes(image->lead, image->decoded);
}

bool encode(Ui& ui, const std::string& path) {
    const auto picture = read_image_file(ui, path);
    if (!picture) return false;
    const Names names = names_of(path);
    const std::string bm2_name = names.stem + ".bm2";
    const auto original = find_any_case(names.folder, bm2_name);
    const std::string target = original ? *original : beside(names, bm2_name);
    if (!platform::fits(target)) {
        ui.alert(platform::too_long_message(target));
        return false;
    }
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
    if (original && !keep_original(ui, *out)) return false;
    if (!out->commit()) {
        ui.alert(format("Can't write %s", {target}));
        return false;
    }
    return true;
}

}  // namespace

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

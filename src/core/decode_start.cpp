#include "core/decode_start.h"

#include "core/text.h"
#include "platform/paths.h"

namespace vid {

std::optional<DecodeFiles> start_decoding(Ui& ui, const std::string& path, std::size_t tail, std::string_view with) {
    if (!platform::fits(path)) {
        ui.alert(platform::too_long_message(path));
        return std::nullopt;
    }
    auto out_name = platform::replace_tail(path, tail, with);
    if (!out_name) {
        ui.alert(format("Can't create an output name from %s", {path}));
        return std::nullopt;
    }
    ui.status(format("Decoding %s", {path}), Draw::now);
    auto in = platform::File::open(path, platform::OpenMode::read_existing);
    if (!in) {
        ui.alert(format("%s not found", {path}));
        return std::nullopt;
    }
    auto out = platform::File::open(*out_name, platform::OpenMode::create_always);
    if (!out) {
        ui.alert(format("Can't create %s", {*out_name}));
        return std::nullopt;
    }
    return DecodeFiles{std::move(*in), std::move(*out), std::move(*out_name)};
}

}  // namespace vid

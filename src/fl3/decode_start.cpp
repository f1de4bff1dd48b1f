#include "fl3/decode_start.h"

#include "core/messages.h"
#include "core/files.h"
#include "fl3/member_check.h"
#include "core/text.h"
#include "platform/paths.h"

namespace vid {

std::optional<DecodeFiles> start_decoding(Ui& ui, const std::string& path, std::size_t tail, std::string_view with,
                                          const InputCheck& check) {
    if (!platform::fits(path)) {
        ui.alert(too_long_message(path));
        return std::nullopt;
    }
    auto out_name = platform::replace_tail(path, tail, with);
    if (!out_name) {
        ui.alert(no_output_name_message(path));
        return std::nullopt;
    }
    ui.status(format("Decoding %s", {path}), Draw::now);
    auto in = open_input(ui, path);
    if (!in) return std::nullopt;
    if (check && !check(*in)) return std::nullopt;
    if (!output_allowed(ui, path, *out_name, MadeBy::decoder)) return std::nullopt;
    auto out = create_output(ui, *out_name);
    if (!out) return std::nullopt;
    return DecodeFiles{std::move(*in), std::move(*out), std::move(*out_name)};
}

}  // namespace vid

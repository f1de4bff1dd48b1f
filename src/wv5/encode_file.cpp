// Encode WV5: one WAV file to the WV5 sound of the same stem beside it.
//
// When a WV5 file of that stem stands there already (in any case), it is
// the template: its first four bytes are kept, it is replaced, and it is
// kept once as "<name>.orig", and its channel count and rate are those
// written: a WAV file of another format is converted to them (see
// convert.h). Without an original, the WAV file's own rate and channel
// count (one or two) are kept, its samples made 16-bit. The WAV file is
// checked whole before anything is written, and the new file replaces the
// old one only when it is complete.
#include <optional>
#include <string>

#include "core/messages.h"
#include "core/files.h"
#include "fl3/member_check.h"
#include "core/text.h"
#include "platform/paths.h"
#include "wv5/codec.h"
#include "wv5/wv5.h"

namespace vid::wv5 {

namespace {

using platform::File;

std::optional<Template> read_original(Ui& ui, const std::string& original) {
    auto f = open_input(ui, original);
    if (!f) return std::nullopt;
    std::uint8_t head[kHeaderSize] = {};
    const std::size_t got = f->read_full(head);
    return read_template(ui, ByteView(head, got), original);
}

}  // namespace

bool encode_file(Ui& ui, const std::string& path) {
    if (!platform::fits(path)) {
        ui.alert(too_long_message(path));
        return false;
    }
    const auto parts = platform::split_path(path);
    const std::string leaf = std::string(platform::stem_of(parts.name)) + ".wv5";
    const auto original = find_any_case(std::string(parts.folder), leaf);
    const std::string target = original ? *original : platform::beside(path, leaf);
    if (!platform::fits(target)) {
        ui.alert(too_long_message(target));
        return false;
    }
    ui.status(format("Encoding %s", {path}), Draw::now);
    if (!output_allowed(ui, path, target, MadeBy::encoder)) return false;

    auto in = open_input(ui, path);
    if (!in) return false;
    const auto in_size = in->size();
    if (!in_size) {
        ui.alert(cant_read(path));
        return false;
    }
    FileInput input(*in, *in_size);
    // The WAV file is checked before the original is read.
    auto sound = read_wav(input);
    if (auto* problem = std::get_if<std::string>(&sound)) {
        ui.alert(format("%s %s", {path, *problem}));
        return false;
    }
    std::optional<Template> tmpl;
    if (original) {
        tmpl = read_original(ui, *original);
        if (!tmpl) return false;
    }
    const auto plan = prepare(ui, std::get<WavSound>(sound), path, tmpl, target);
    if (!plan) return false;

    auto out = create_output(ui, target);
    if (!out) return false;
    FileOutput file(out->file());
    const auto converted = encode(ui, input, path, *plan, file, target);
    if (!converted) {
        out->discard();
        return false;
    }
    if (!commit_keeping_original(ui, *out, original.has_value())) return false;
    if (!converted->empty()) ui.status(*converted, Draw::now);
    return true;
}

}  // namespace vid::wv5

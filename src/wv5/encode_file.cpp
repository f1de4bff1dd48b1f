// Encode WV5: one WAV file to the WV5 sound of the same stem beside it.
//
// When a WV5 file of that stem stands there already (in any case), it is
// the template: its first four bytes are kept, it is replaced, and it is
// kept once as "<name>.orig". Channel count, rate and frame count come
// from the WAV file; a channel count or rate other than the original's is
// allowed, with one Alert. The WAV file is checked whole before anything is
// written, and the new file replaces the old one only when it is complete.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/text.h"
#include "platform/paths.h"
#include "wv5/encoder.h"
#include "wv5/runs.h"
#include "wv5/wav_reader.h"
#include "wv5/wv5.h"

namespace vid::wv5 {

namespace {

using platform::File;

class FileInput : public RandomInput {
public:
    FileInput(File& f, std::uint64_t size) : f_(f), size_(size) {}
    std::uint64_t size() const override { return size_; }
    std::size_t read_at(std::uint64_t pos, std::span<std::uint8_t> out) override {
        return f_.seek(pos) ? f_.read_full(out) : 0;
    }

private:
    File& f_;
    std::uint64_t size_;
};

std::string channels_text(unsigned channels) {
    return channels == 1 ? "1 channel" : std::to_string(channels) + " channels";
}

// The header of the original, as far as the file holds one: its first
// four bytes, and its channels and rate when all 18 bytes are there.
struct Template {
    std::array<std::uint8_t, 4> lead{};
    std::optional<Header> header;
};

std::optional<Template> read_template(Ui& ui, const std::string& original) {
    auto f = open_input(ui, original);
    if (!f) return std::nullopt;
    std::uint8_t head[kHeaderSize] = {};
    const std::size_t got = f->read_full(head);
    // A WAV file given the WV5 file's name is no template.
    if (got >= 12 && std::equal(head, head + 4, "RIFF") && std::equal(head + 8, head + 12, "WAVE")) {
        ui.alert(format("%s is a WAV file, not a WV5 sound: it cannot be the original that the new sound replaces",
                        {original}));
        return std::nullopt;
    }
    Template t;
    std::copy_n(head, 4, t.lead.begin());
    t.header = parse_header(ByteView(head, got));
    return t;
}

}  // namespace

bool encode_file(Ui& ui, const std::string& path) {
    if (!platform::fits(path)) {
        ui.alert(platform::too_long_message(path));
        return false;
    }
    const auto parts = platform::split_path(path);
    const std::string leaf = std::string(platform::stem_of(parts.name)) + ".wv5";
    const auto original = find_any_case(std::string(parts.folder), leaf);
    const std::string target = original ? *original : platform::beside(path, leaf);
    if (!platform::fits(target)) {
        ui.alert(platform::too_long_message(target));
        return false;
    }
    ui.status(format("Encoding %s", {path}), Draw::now);
    if (!output_allowed(ui, path, target, MadeBy::encoder)) return false;

    auto in = open_input(ui, path);
    if (!in) return false;
    const auto in_size = in->size();
    if (!in_size) {
        ui.alert(format("Can't read %s", {path}));
        return false;
    }
    FileInput input(*in, *in_size);
    auto read = read_wav(input);
    if (auto* problem = std::get_if<std::string>(&read)) {
        ui.alert(path + " " + *problem);
        return false;
    }
    const WavSound sound = std::get<WavSound>(read);

    Template tmpl;
    if (original) {
        auto t = read_template(ui, *original);
        if (!t) return false;
        tmpl = *t;
        if (tmpl.header && (tmpl.header->wav_channels() != sound.channels || tmpl.header->rate != sound.rate))
            ui.alert(
                format("%s is written with %s at %s Hz from %s; the original had %s at %s Hz, which the game "
                       "may expect",
                       {target, channels_text(sound.channels), std::to_string(sound.rate), path,
                        channels_text(tmpl.header->wav_channels()), std::to_string(tmpl.header->rate)}));
    }

    auto out = create_output(ui, target);
    if (!out) return false;
    File& f = out->file();
    auto cant_write = [&] {
        out->discard();
        ui.alert(format("Can't write %s", {target}));
        return false;
    };
    std::uint8_t head[kHeaderSize] = {};
    std::copy(tmpl.lead.begin(), tmpl.lead.end(), head);
    store_u16(head + 4, sound.channels);
    store_u32(head + 6, sound.rate);
    store_u32(head + 10, sound.frames());
    if (!f.write(head)) return cant_write();

    FileSink sink(f);
    RunPacker packer(sink);
    CodeStream stream(sound.channels == 2);
    SampleReader samples(input, sound);
    std::vector<std::int16_t> buf(16384);
    Bytes codes;
    for (;;) {
        const std::size_t n = samples.read(buf);
        codes.clear();
        if (n == 0) {
            stream.finish(codes);
        } else {
            stream.push(std::span<const std::int16_t>(buf.data(), n), codes);
        }
        if (!packer.push(codes)) return cant_write();
        if (n == 0) break;
    }
    if (samples.failed()) {
        out->discard();
        ui.alert(format("Can't read %s", {path}));
        return false;
    }
    if (!packer.finish()) return cant_write();
    // Fewer runs than codes, and a WAV file holds fewer than 2^31 samples.
    std::uint8_t runs[4];
    store_u32(runs, static_cast<std::uint32_t>(packer.runs()));
    if (!f.seek(14) || !f.write(runs)) return cant_write();

    return commit_keeping_original(ui, *out, original.has_value());
}

}  // namespace vid::wv5

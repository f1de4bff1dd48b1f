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
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/text.h"
#include "platform/paths.h"
#include "wv5/convert.h"
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
        ui.alert(format("%s %s", {path, *problem}));
        return false;
    }
    const WavSound sound = std::get<WavSound>(read);

    Template tmpl;
    if (original) {
        auto t = read_template(ui, *original);
        if (!t) return false;
        tmpl = *t;
    }
    // The format written: the original's, when it has one that a WAV file
    // can have; else the WAV file's own, which needs one or two channels.
    const bool follow = tmpl.header && tmpl.header->rate >= 1000 && tmpl.header->rate <= 384000;
    const unsigned channels = follow ? tmpl.header->wav_channels() : sound.channels;
    const std::uint32_t rate = follow ? tmpl.header->rate : sound.rate;
    if (channels > 2) {
        ui.alert(format("%s has %s: without a WV5 original of that name to take the format from, only one or two "
                        "channels can be encoded",
                        {path, channels_text(sound.channels)}));
        return false;
    }
    if (tmpl.header && !follow)
        ui.alert(
            format("%s is written with %s at %s Hz from %s; the original had %s at %s Hz, which the game "
                   "may expect",
                   {target, channels_text(sound.channels), std::to_string(sound.rate), path,
                    channels_text(tmpl.header->wav_channels()), std::to_string(tmpl.header->rate)}));
    const bool as_is = sound.is_16_bit() && sound.channels == channels && sound.rate == rate;
    // A WV5 header counts frames in 31 bits: checked before any work, with
    // one frame to spare for the resampler's rounding.
    if (double(sound.frames()) * rate / sound.rate + 1 > double(0x7FFFFFFFu)) {
        ui.alert(format("%s is too long: a WV5 sound holds fewer than 2^31 frames", {path}));
        return false;
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
    store_u16(head + 4, static_cast<std::uint16_t>(channels));
    store_u32(head + 6, rate);
    if (!f.write(head)) return cant_write();

    FileSink sink(f);
    RunPacker packer(sink);
    CodeStream stream(channels == 2);
    SampleReader samples(input, sound);
    std::optional<Converter> converter;
    if (!as_is) converter.emplace(sound.channels, sound.rate, channels, rate);
    std::vector<std::int16_t> buf(16384);
    std::vector<double> values(16384 / sound.channels * sound.channels);
    std::uint64_t count = 0;  // samples encoded
    Bytes codes;
    for (;;) {
        std::size_t n;
        bool more;
        if (as_is) {
            n = samples.read(buf);
            more = n > 0;
        } else {
            buf.clear();
            const std::size_t got = samples.read(std::span<double>(values));
            more = got > 0;
            // A last frame cut short is dropped.
            const bool ok = more ? converter->push(std::span<const double>(values.data(), got), buf)
                                 : converter->finish(buf);
            if (!ok) {
                out->discard();
                ui.alert(format("Can't convert %s: %s", {path, converter->error()}));
                return false;
            }
            n = buf.size();
        }
        count += n;
        codes.clear();
        stream.push(std::span<const std::int16_t>(buf.data(), n), codes);
        if (!more) stream.finish(codes);
        if (!packer.push(codes)) return cant_write();
        if (!more) break;
    }
    if (samples.failed()) {
        out->discard();
        ui.alert(format("Can't read %s", {path}));
        return false;
    }
    if (!packer.finish()) return cant_write();
    // The frames and the runs (fewer than the codes).
    std::uint8_t counts[8];
    store_u32(counts, static_cast<std::uint32_t>(count / channels));
    store_u32(counts + 4, static_cast<std::uint32_t>(packer.runs()));
    if (!f.seek(10) || !f.write(counts)) return cant_write();

    if (!commit_keeping_original(ui, *out, original.has_value())) return false;
    if (converter) {
        WavSound written = sound;
        written.channels = static_cast<std::uint16_t>(channels), written.rate = rate, written.bits = 16;
        written.floating = false;
        const std::uint64_t clipped = converter->clipped();
        ui.status(format("Converted %s: %s -> %s; %s clipped",
                         {path, sound.describe(), written.describe(),
                          clipped == 1 ? std::string("1 sample") : std::to_string(clipped) + " samples"}),
                  Draw::now);
    }
    return true;
}

}  // namespace vid::wv5

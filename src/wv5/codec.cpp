#include "wv5/codec.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/messages.h"
#include "core/text.h"
#include "wv5/convert.h"
#include "wv5/encoder.h"
#include "wv5/runs.h"

namespace vid::wv5 {

namespace {

class BytesSink : public Sink {
public:
    explicit BytesSink(Bytes& out) : out_(out) {}
    bool write(ByteView bytes) override {
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        return true;
    }

private:
    Bytes& out_;
};

// The runs go to the sound's output.
class OutputSink : public Sink {
public:
    explicit OutputSink(SoundOutput& out) : out_(out) {}
    bool write(ByteView bytes) override { return out_.write(bytes); }

private:
    SoundOutput& out_;
};

std::string channels_text(unsigned channels) {
    return channels == 1 ? "1 channel" : std::to_string(channels) + " channels";
}

// The 16-bit samples of a WAV file in the format written, piece by piece:
// as they stand, or mixed, resampled and rounded.
class Feed {
public:
    Feed(RandomInput& wav, const WavSound& sound, unsigned channels, std::uint32_t rate)
        : samples_(wav, sound), as_is_(sound.is_16_bit() && sound.channels == channels && sound.rate == rate),
          values_(16384 / sound.channels * sound.channels) {
        if (!as_is_) converter_.emplace(sound.channels, sound.rate, channels, rate);
    }

    // The next samples into `buf`; false at the end or when the conversion
    // failed (see failed_conversion()).
    bool next(std::vector<std::int16_t>& buf, bool& more) {
        if (as_is_) {
            buf.resize(16384);
            buf.resize(samples_.read(std::span<std::int16_t>(buf)));
            more = !buf.empty();
            return true;
        }
        buf.clear();
        const std::size_t got = samples_.read(std::span<double>(values_));
        more = got > 0;
        // A last frame cut short is dropped.
        return more ? converter_->push(std::span<const double>(values_.data(), got), buf) : converter_->finish(buf);
    }
    bool read_failed() const { return samples_.failed(); }
    const Converter* converter() const { return converter_ ? &*converter_ : nullptr; }

private:
    SampleReader samples_;
    bool as_is_;
    std::vector<double> values_;
    std::optional<Converter> converter_;
};

constexpr const char* kNoHeader = "it ends inside its 18-byte header";

// Why the runs did not decode whole: empty when they did.
std::string why_not_whole(const Header& h, const Outcome& r) {
    switch (r.stop) {
        case Stop::done: return {};
        case Stop::input_ended:
            return "it ends early: " + std::to_string(r.runs_done) + " of its " + std::to_string(h.runs) + " runs decode";
        case Stop::too_long:
        case Stop::write_failed: break;
    }
    return "it is too long for a WAV file";
}

// The header of a sound pulled from `in`; nothing when it ends first.
std::optional<Header> pull_header(Source& in) {
    std::uint8_t head[kHeaderSize];
    std::size_t got = 0;
    for (std::size_t n = 1; got < kHeaderSize && n > 0; got += n) n = in.read(std::span(head).subspan(got));
    return parse_header(ByteView(head, got));
}

}  // namespace

std::optional<Sound> decode_sound(ByteView file, std::string& why, std::uint64_t max_bytes) {
    const auto h = parse_header(file);
    if (!h) {
        why = kNoHeader;
        return std::nullopt;
    }
    Sound sound;
    sound.header = *h;
    MemorySource source(file.subspan(kHeaderSize));
    BytesSink sink(sound.samples);
    why = why_not_whole(*h, decode_runs(*h, source, sink, max_bytes));
    if (!why.empty()) return std::nullopt;
    return sound;
}

Stop decode_to_wav(Source& in, SoundOutput& out, std::string& why, std::uint64_t max_bytes) {
    const auto h = pull_header(in);
    if (!h) {
        why = kNoHeader;
        return Stop::input_ended;
    }
    const std::uint32_t promised = h->promised_data_size();
    if (!out.write(wav_header(*h, promised))) return Stop::write_failed;
    OutputSink sink(out);
    const Outcome r = decode_runs(*h, in, sink, max_bytes);
    if (r.stop == Stop::write_failed) return r.stop;
    why = why_not_whole(*h, r);
    if (!why.empty()) return r.stop;
    // r.bytes is at most max_bytes, which a WAV file's 32-bit sizes hold.
    if (r.bytes != promised && !out.write_at(0, wav_header(*h, static_cast<std::uint32_t>(r.bytes))))
        return Stop::write_failed;
    return Stop::done;
}

Bytes wav_bytes(const Sound& sound) {
    const auto head = wav_header(sound.header, static_cast<std::uint32_t>(sound.samples.size()));
    Bytes wav(head.size() + sound.samples.size());
    std::copy(head.begin(), head.end(), wav.begin());
    std::copy(sound.samples.begin(), sound.samples.end(), wav.begin() + static_cast<std::ptrdiff_t>(head.size()));
    return wav;
}

std::optional<Template> read_template(Ui& ui, ByteView head, std::string_view original_name) {
    // A WAV file given the WV5 file's name is no template.
    if (head.size() >= 12 && std::equal(head.begin(), head.begin() + 4, "RIFF") &&
        std::equal(head.begin() + 8, head.begin() + 12, "WAVE")) {
        ui.alert(format("%s is a WAV file, not a WV5 sound: it cannot be the original that the new sound replaces",
                        {original_name}));
        return std::nullopt;
    }
    Template t;
    std::copy_n(head.begin(), std::min<std::size_t>(4, head.size()), t.lead.begin());
    t.header = parse_header(head);
    return t;
}

bool BytesOutput::write(ByteView bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    return true;
}

bool BytesOutput::write_at(std::uint64_t pos, ByteView bytes) {
    if (pos > out_.size() || bytes.size() > out_.size() - pos) return false;
    std::copy(bytes.begin(), bytes.end(), out_.begin() + static_cast<std::ptrdiff_t>(pos));
    return true;
}

std::size_t MemorySource::read(std::span<std::uint8_t> out) {
    const std::size_t n = std::min(out.size(), data_.size() - pos_);
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out.begin());
    pos_ += n;
    return n;
}

std::size_t MemoryInput::read_at(std::uint64_t pos, std::span<std::uint8_t> out) {
    if (pos >= data_.size()) return 0;
    const std::size_t n = std::min<std::size_t>(out.size(), data_.size() - static_cast<std::size_t>(pos));
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos), n, out.begin());
    return n;
}

std::optional<Plan> prepare(Ui& ui, const WavSound& sound, std::string_view wav_name,
                            const std::optional<Template>& tmpl, std::string_view target) {
    Plan plan;
    plan.sound = sound;
    if (tmpl) plan.tmpl = *tmpl;
    const auto& original = plan.tmpl.header;
    // The format written: the original's, when it has one that a WAV file
    // can have; else the WAV file's own, which needs one or two channels.
    const bool follow = original && original->rate >= 1000 && original->rate <= 384000;
    plan.channels = follow ? original->wav_channels() : sound.channels;
    plan.rate = follow ? original->rate : sound.rate;
    if (plan.channels > 2) {
        ui.alert(format("%s has %s: without a WV5 original of that name to take the format from, only one or two "
                        "channels can be encoded",
                        {wav_name, channels_text(sound.channels)}));
        return std::nullopt;
    }
    if (original && !follow)
        ui.alert(format("%s is written with %s at %s Hz from %s; the original had %s at %s Hz, which the game "
                        "may expect",
                        {target, channels_text(sound.channels), std::to_string(sound.rate), wav_name,
                         channels_text(original->wav_channels()), std::to_string(original->rate)}));
    plan.as_is = sound.is_16_bit() && sound.channels == plan.channels && sound.rate == plan.rate;
    // A WV5 header counts frames in 31 bits: checked before any work, with
    // one frame to spare for the resampler's rounding.
    if (double(sound.frames()) * plan.rate / sound.rate + 1 > double(0x7FFFFFFFu)) {
        ui.alert(format("%s is too long: a WV5 sound holds fewer than 2^31 frames", {wav_name}));
        return std::nullopt;
    }
    return plan;
}

std::optional<std::string> encode(Ui& ui, RandomInput& wav, std::string_view wav_name, const Plan& plan,
                                  SoundOutput& out, std::string_view target) {
    const auto cant_write = [&]() -> std::optional<std::string> {
        ui.alert(vid::cant_write(target));
        return std::nullopt;
    };
    std::uint8_t head[kHeaderSize] = {};
    std::copy(plan.tmpl.lead.begin(), plan.tmpl.lead.end(), head);
    store_u16(head + 4, static_cast<std::uint16_t>(plan.channels));
    store_u32(head + 6, plan.rate);
    if (!out.write(head)) return cant_write();

    OutputSink sink(out);
    RunPacker packer(sink);
    CodeStream stream(plan.channels == 2);
    Feed feed(wav, plan.sound, plan.channels, plan.rate);
    std::vector<std::int16_t> buf;
    std::uint64_t count = 0;  // samples encoded
    Bytes codes;
    for (bool more = true; more;) {
        if (!feed.next(buf, more)) {
            ui.alert(format("Can't convert %s: %s", {wav_name, feed.converter()->error()}));
            return std::nullopt;
        }
        count += buf.size();
        codes.clear();
        stream.push(buf, codes);
        if (!more) stream.finish(codes);
        if (!packer.push(codes)) return cant_write();
    }
    if (feed.read_failed()) {
        ui.alert(cant_read(wav_name));
        return std::nullopt;
    }
    if (!packer.finish()) return cant_write();
    // The frames and the runs (fewer than the codes).
    std::uint8_t counts[8];
    store_u32(counts, static_cast<std::uint32_t>(count / plan.channels));
    store_u32(counts + 4, static_cast<std::uint32_t>(packer.runs()));
    if (!out.write_at(10, counts)) return cant_write();

    const Converter* converter = feed.converter();
    if (!converter) return std::string();
    WavSound written = plan.sound;
    written.channels = static_cast<std::uint16_t>(plan.channels), written.rate = plan.rate, written.bits = 16;
    written.floating = false;
    const std::uint64_t clipped = converter->clipped();
    return format("Converted %s: %s -> %s; %s clipped",
                  {wav_name, plan.sound.describe(), written.describe(),
                   clipped == 1 ? std::string("1 sample") : std::to_string(clipped) + " samples"});
}

namespace {

// A Ui that keeps the Alerts: an encoder's refusal becomes the reason, its
// warnings go on to the real Ui once the sound is written.
class KeptAlerts : public Ui {
public:
    explicit KeptAlerts(Ui& next) : next_(next) {}
    void status(std::string_view text, Draw draw) override { next_.status(text, draw); }
    void alert(std::string_view text) override { alerts_.emplace_back(text); }
    // The last Alert: why the encoding failed.
    std::string why() const { return alerts_.empty() ? std::string("it cannot be encoded") : alerts_.back(); }
    void pass_on() {
        for (const auto& a : alerts_) next_.alert(a);
        alerts_.clear();
    }

private:
    Ui& next_;
    std::vector<std::string> alerts_;
};

}  // namespace

bool encode_over_member(Ui& ui, RandomInput& wav, std::string_view wav_name, ByteView head, SoundOutput& out,
                        std::string& why) {
    auto read = read_wav(wav);
    if (auto* problem = std::get_if<std::string>(&read)) {
        why = "the WAV file " + *problem;
        return false;
    }
    const std::string target = "the member";
    KeptAlerts kept(ui);
    const auto tmpl = read_template(kept, head.first(std::min(head.size(), kHeaderSize)), target);
    const auto plan = tmpl ? prepare(kept, std::get<WavSound>(read), wav_name, tmpl, target) : std::nullopt;
    const auto converted = plan ? encode(kept, wav, wav_name, *plan, out, target) : std::nullopt;
    if (!converted) {
        why = kept.why();
        return false;
    }
    kept.pass_on();
    if (!converted->empty()) ui.status(*converted, Draw::now);
    return true;
}

namespace {

// Compares decoded samples, as the decoder pushes them, with the samples
// that the encoder takes from a WAV file.
class Comparison : public Sink {
public:
    explicit Comparison(Feed& feed) : feed_(feed) {}

    bool write(ByteView bytes) override {
        std::size_t i = 0;
        if (odd_ && !bytes.empty()) {  // a sample split between two pieces
            const std::uint8_t pair[2] = {low_, bytes[0]};
            take(static_cast<std::int16_t>(load_u16(pair)));
            odd_ = false;
            i = 1;
        }
        for (; i + 1 < bytes.size(); i += 2) take(static_cast<std::int16_t>(load_u16(bytes.data() + i)));
        if (i < bytes.size()) {
            low_ = bytes[i];
            odd_ = true;
        }
        return true;  // the decoding goes on whatever: its own failure is told first
    }
    // The samples of the WAV file that are left, counted.
    void drain() {
        while (feed_ok() && want_more()) {
            count_ += want_.size() - at_;
            at_ = want_.size();
        }
    }
    bool feed_ok() const { return !feed_failed_; }
    std::uint64_t wanted() const { return count_; }
    double signal = 0, noise = 0;

private:
    // True when there is a sample at at_ (refilling the buffer as needed).
    bool want_more() {
        while (at_ == want_.size() && more_ && !feed_failed_) {
            at_ = 0;
            feed_failed_ = !feed_.next(want_, more_);
        }
        return at_ < want_.size();
    }
    void take(std::int16_t got) {
        if (at_ == want_.size() && !want_more()) return;
        const double w = want_[at_++];
        ++count_;
        signal += w * w;
        noise += (w - got) * (w - got);
    }

    Feed& feed_;
    std::vector<std::int16_t> want_;
    std::size_t at_ = 0;
    bool more_ = true, feed_failed_ = false;
    std::uint64_t count_ = 0;  // samples of the WAV file taken so far
    std::uint8_t low_ = 0;
    bool odd_ = false;
};

}  // namespace

bool decodes_to(Source& packed, RandomInput& wav, std::string& why, std::string& note) {
    const auto parsed = pull_header(packed);
    if (!parsed) {
        why = kNoHeader;
        return false;
    }
    const Header& h = *parsed;
    auto read = read_wav(wav);
    // The sound decodes first: its own failure is told before the WAV file's.
    std::optional<Feed> feed;
    if (const auto* sound = std::get_if<WavSound>(&read)) feed.emplace(wav, *sound, h.wav_channels(), h.rate);
    struct Nothing : Sink {
        bool write(ByteView) override { return true; }
    } nothing;
    std::optional<Comparison> compare;
    if (feed) compare.emplace(*feed);
    const Outcome r = decode_runs(h, packed, compare ? static_cast<Sink&>(*compare) : nothing);
    why = why_not_whole(h, r);
    if (!why.empty()) return false;
    if (const auto* problem = std::get_if<std::string>(&read)) {
        why = "the WAV file " + *problem;
        return false;
    }
    compare->drain();
    if (!compare->feed_ok()) {
        why = "it cannot be converted: " + feed->converter()->error();
        return false;
    }
    if (feed->read_failed()) {
        why = "the WAV file cannot be read";
        return false;
    }
    const std::uint64_t samples = r.bytes / 2;
    // A stereo sound may end on the first channel's sample of one more
    // frame: the header counts whole frames.
    if (samples != compare->wanted() || std::uint64_t{h.frames} != samples / h.wav_channels()) {
        why = "it decodes to " + std::to_string(samples) + " samples (" + std::to_string(h.frames) +
              " frames by its header), the edited sound gives " + std::to_string(compare->wanted());
        return false;
    }
    char text[64];
    if (compare->noise == 0)
        std::snprintf(text, sizeof text, "sound exact");
    else
        std::snprintf(text, sizeof text, "signal-to-noise ratio %.1f dB",
                      compare->signal == 0 ? 0.0 : 10.0 * std::log10(compare->signal / compare->noise));
    note = text;
    return true;
}

std::optional<std::vector<std::int16_t>> encoder_samples(ByteView wav, unsigned channels, std::uint32_t rate,
                                                         std::string& why) {
    MemoryInput input(wav);
    auto read = read_wav(input);
    if (auto* problem = std::get_if<std::string>(&read)) {
        why = "the WAV file " + *problem;
        return std::nullopt;
    }
    Feed feed(input, std::get<WavSound>(read), channels, rate);
    std::vector<std::int16_t> all, buf;
    for (bool more = true; more;) {
        if (!feed.next(buf, more)) {
            why = "it cannot be converted: " + feed.converter()->error();
            return std::nullopt;
        }
        all.insert(all.end(), buf.begin(), buf.end());
    }
    if (feed.read_failed()) {
        why = "the WAV file cannot be read";
        return std::nullopt;
    }
    return all;
}

}  // namespace vid::wv5

#include "project/convert.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

#include "bm2/bm2.h"
#include "bm2/encode.h"
#include "bm2/image.h"
#include "core/text.h"
#include "script/decoder.h"
#include "script/encoder.h"
#include "script/listing.h"
#include "script/texts.h"
#include "wv5/encoder.h"
#include "wv5/runs.h"
#include "wv5/wav_reader.h"
#include "wv5/wv5.h"

namespace vid::project {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ends_with_any_case(std::string_view name, std::string_view ext) {
    if (name.size() <= ext.size()) return false;
    for (std::size_t i = 0; i < ext.size(); ++i)
        if (lower(name[name.size() - ext.size() + i]) != ext[i]) return false;
    return true;
}

// A Ui for the script item writer, which only needs one to ask for a view.
class NoUi : public Ui {
public:
    void status(std::string_view, Draw) override {}
    void alert(std::string_view) override {}
};

// ---- BM2 ----

Converted decode_bm2(ByteView member, bool bitmaps) {
    Converted c;
    const auto image = bm2::parse_bm2(member, c.why);
    if (!image) return c;
    if (bm2::is_alpha(image->decoded)) {
        const auto bits = bm2::alpha_header(image->decoded).bit_count;
        if (bits != 8 && bits != 24) {
            c.why = "an alpha picture of " + std::to_string(bits) + " bits: only 8 or 24 bits decode";
            return c;
        }
    }
    if (bitmaps) {
        if (!bm2::is_alpha(image->decoded)) {
            c.bytes = image->decoded;  // the bitmap file as the image holds it
            return c;
        }
        Bytes out;
        const auto r = bm2::write_alpha(image->decoded, [&out](ByteView piece) {
            out.insert(out.end(), piece.begin(), piece.end());
            return true;
        });
        if (r.result != bm2::AlphaResult::written) {
            c.why = "its alpha picture is incomplete";
            return c;
        }
        c.bytes = std::move(out);
        return c;
    }
    const auto picture = bm2::picture_of_decoded(image->decoded, c.why);
    if (!picture) return c;
    Bytes png = bm2::write_png(*picture);
    if (png.empty()) {
        c.why = "no PNG image can be made of it";
        return c;
    }
    c.bytes = std::move(png);
    return c;
}

Converted encode_bm2(ByteView edited, ByteView original, std::string_view edited_name) {
    Converted c;
    const auto picture = bm2::read_image(edited, c.why);
    if (!picture) return c;
    const auto image = bm2::parse_bm2(original, c.why);
    if (!image) return c;
    std::string alert;
    const auto rebuilt = bm2::rebuild(image->decoded, *picture, edited_name, "the original member", alert);
    if (!rebuilt) {
        c.why = alert;
        return c;
    }
    if (rebuilt->recoloured > 0)
        c.note = std::to_string(rebuilt->recoloured) + " pixels took the nearest colour of the palette";
    c.recoloured = rebuilt->recoloured;
    c.bytes = bm2::bm2_bytes(image->lead, rebuilt->decoded);
    return c;
}

// ---- WV5 ----

class MemorySource : public wv5::Source {
public:
    explicit MemorySource(ByteView data) : data_(data) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        const std::size_t n = std::min(out.size(), data_.size() - pos_);
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out.begin());
        pos_ += n;
        return n;
    }

private:
    ByteView data_;
    std::size_t pos_ = 0;
};

class BytesSink : public wv5::Sink {
public:
    explicit BytesSink(Bytes& out) : out_(out) {}
    bool write(ByteView bytes) override {
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        return true;
    }

private:
    Bytes& out_;
};

class MemoryInput : public wv5::RandomInput {
public:
    explicit MemoryInput(ByteView data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    std::size_t read_at(std::uint64_t pos, std::span<std::uint8_t> out) override {
        if (pos >= data_.size()) return 0;
        const std::size_t n = std::min<std::size_t>(out.size(), data_.size() - static_cast<std::size_t>(pos));
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos), n, out.begin());
        return n;
    }

private:
    ByteView data_;
};

// The samples of a WV5 sound, or nothing with the reason.
std::optional<Bytes> wv5_samples(ByteView member, wv5::Header& header, std::string& why) {
    const auto h = wv5::parse_header(member);
    if (!h) {
        why = "it ends inside its 18-byte header";
        return std::nullopt;
    }
    header = *h;
    Bytes samples;
    MemorySource source(member.subspan(wv5::kHeaderSize));
    BytesSink sink(samples);
    const wv5::Outcome r = wv5::decode_runs(*h, source, sink);
    if (r.stop == wv5::Stop::input_ended) {
        why = "it ends early: " + std::to_string(r.runs_done) + " of its " + std::to_string(h->runs) +
              " runs decode";
        return std::nullopt;
    }
    if (r.stop != wv5::Stop::done) {
        why = "it is too long for a WAV file";
        return std::nullopt;
    }
    return samples;
}

Converted decode_wv5(ByteView member) {
    Converted c;
    wv5::Header h;
    auto samples = wv5_samples(member, h, c.why);
    if (!samples) return c;
    const auto head = wv5::wav_header(h, static_cast<std::uint32_t>(samples->size()));
    Bytes wav(head.begin(), head.end());
    wav.insert(wav.end(), samples->begin(), samples->end());
    c.bytes = std::move(wav);
    return c;
}

// The samples of a WAV file as 16-bit values, or nothing with the reason.
std::optional<std::vector<std::int16_t>> wav_samples(ByteView wav, wv5::WavSound& sound, std::string& why) {
    MemoryInput input(wav);
    auto read = wv5::read_wav(input);
    if (auto* problem = std::get_if<std::string>(&read)) {
        why = "the WAV file " + *problem;
        return std::nullopt;
    }
    sound = std::get<wv5::WavSound>(read);
    std::vector<std::int16_t> samples(sound.data_size / 2);
    wv5::SampleReader reader(input, sound);
    std::size_t got = 0;
    while (got < samples.size()) {
        const std::size_t n = reader.read(std::span<std::int16_t>(samples).subspan(got));
        if (n == 0) break;
        got += n;
    }
    samples.resize(got);
    return samples;
}

Converted encode_wv5(ByteView edited, ByteView original) {
    Converted c;
    wv5::WavSound sound;
    const auto samples = wav_samples(edited, sound, c.why);
    if (!samples) return c;
    Bytes out(wv5::kHeaderSize, 0);
    std::copy_n(original.begin(), std::min<std::size_t>(4, original.size()), out.begin());
    store_u16(out.data() + 4, sound.channels);
    store_u32(out.data() + 6, sound.rate);
    store_u32(out.data() + 10, sound.frames());
    if (const auto h = wv5::parse_header(original);
        h && (h->wav_channels() != sound.channels || h->rate != sound.rate))
        c.note = "written with " + std::to_string(sound.channels) + " channel(s) at " + std::to_string(sound.rate) +
                 " Hz; the original had " + std::to_string(h->wav_channels()) + " at " + std::to_string(h->rate) +
                 " Hz";
    BytesSink sink(out);
    wv5::RunPacker packer(sink);
    wv5::CodeStream stream(sound.channels == 2);
    Bytes codes;
    stream.push(*samples, codes);
    stream.finish(codes);
    packer.push(codes);
    packer.finish();
    store_u32(out.data() + 14, static_cast<std::uint32_t>(packer.runs()));
    c.bytes = std::move(out);
    return c;
}

Verdict verify_wv5(ByteView packed, ByteView edited) {
    Verdict v;
    wv5::Header h;
    const auto got = wv5_samples(packed, h, v.why);
    if (!got) return v;
    wv5::WavSound sound;
    const auto want = wav_samples(edited, sound, v.why);
    if (!want) return v;
    if (got->size() / 2 != want->size() || h.wav_channels() != sound.channels) {
        v.why = "it decodes to " + std::to_string(got->size() / 2) + " samples, the edited sound has " +
                std::to_string(want->size());
        return v;
    }
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < want->size(); ++i) {
        const auto s = static_cast<std::int16_t>(load_u16(got->data() + 2 * i));
        const double w = (*want)[i];
        signal += w * w;
        noise += (w - s) * (w - s);
    }
    char text[64];
    if (noise == 0)
        std::snprintf(text, sizeof text, "sound exact");
    else
        std::snprintf(text, sizeof text, "signal-to-noise ratio %.1f dB",
                      signal == 0 ? 0.0 : 10.0 * std::log10(signal / noise));
    v.note = text;
    v.ok = true;
    return v;
}

// ---- AB ----

std::optional<std::string> listing_of(ByteView script, script::ScriptNotes* notes) {
    NoUi ui;
    script::ListingBuffer lines(nullptr);
    script::ItemWriter writer(ui, &lines);
    const auto n = script::decode_script(script, writer);
    if (notes) *notes = n;
    return std::string(lines.pending());
}

Converted decode_ab(ByteView member) {
    Converted c;
    script::ScriptNotes notes;
    const auto listing = listing_of(member, &notes);
    if (notes.any()) c.note = script::notes_message("the member", notes);
    c.bytes = Bytes(listing->begin(), listing->end());
    return c;
}

Converted encode_ab(ByteView edited, std::string_view edited_name) {
    Converted c;
    NoUi ui;
    script::MemorySource source(std::string_view(reinterpret_cast<const char*>(edited.data()), edited.size()));
    script::LineReader reader(source);
    script::ItemWriter writer(ui, nullptr);
    Bytes out;
    const auto r = script::encode_listing(reader, writer, out);
    if (r.step == script::Encoded::no_number) {
        c.why = script::no_number_message(edited_name, r);
        return c;
    }
    if (r.step == script::Encoded::zero_byte) {
        c.why = script::zero_byte_message(edited_name, r);
        return c;
    }
    c.bytes = std::move(out);
    return c;
}

// Encode AB writes the numbers as the listing gives them: when texts
// changed length, the 0x0201 jumps ("to", a position in the script) are not
// moved with the instructions after them. Said once per script.
Converted with_jump_warning(Converted c, ByteView original) {
    if (!c.bytes) return c;
    const script::ScriptMap before = script::map_script(original), after = script::map_script(*c.bytes);
    if (after.jumps.empty() || before.starts == after.starts) return c;
    const bool one = after.jumps.size() == 1;
    c.note = format("its texts changed length, so instructions moved, but its %s 0x0201 jump%s written as the "
                    "listing gives %s (import-text moves them; a listing's numbers are not changed): check %s",
                    {std::to_string(after.jumps.size()), one ? " is" : "s are", one ? "it" : "them",
                     one ? "it" : "them"});
    return c;
}

// The value lines of a listing, as the encoder reads them.
std::vector<std::string> value_lines(std::string_view text) {
    script::MemorySource source(text);
    script::LineReader reader(source);
    std::vector<std::string> lines;
    while (auto line = reader.next()) lines.emplace_back(*line);
    return lines;
}

// Two value lines that the encoder reads alike: the same text, or the same
// number however it is written ("0x0018" and "18").
bool same_value(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const auto x = script::read_number(a, 8), y = script::read_number(b, 8);
    return x && y && *x == *y;
}

Verdict verify_ab(ByteView packed, ByteView edited) {
    Verdict v;
    const auto listing = listing_of(packed, nullptr);
    const auto got = value_lines(*listing);
    const auto want = value_lines(std::string_view(reinterpret_cast<const char*>(edited.data()), edited.size()));
    std::size_t same = 0;
    while (same < got.size() && same < want.size() && same_value(got[same], want[same])) ++same;
    if (same < got.size() || same < want.size()) {
        v.why = "its listing differs from the edited listing at value line " + std::to_string(same + 1);
        return v;
    }
    v.ok = true;
    return v;
}

Verdict verify_bm2(ByteView packed, ByteView edited, std::uint64_t recoloured) {
    Verdict v;
    const auto image = bm2::parse_bm2(packed, v.why);
    if (!image) return v;
    const auto got = bm2::picture_of_decoded(image->decoded, v.why);
    if (!got) return v;
    const auto want = bm2::read_image(edited, v.why);
    if (!want) return v;
    if (got->width != want->width || got->height != want->height) {
        v.why = "it decodes to " + std::to_string(got->width) + "x" + std::to_string(got->height) + " pixels";
        return v;
    }
    std::uint64_t differ = 0;
    for (std::size_t k = 0; k < want->rgba.size(); k += 4) {
        const bool colour = std::equal(want->rgba.begin() + static_cast<std::ptrdiff_t>(k),
                                       want->rgba.begin() + static_cast<std::ptrdiff_t>(k + 3),
                                       got->rgba.begin() + static_cast<std::ptrdiff_t>(k));
        if (!colour || (want->has_alpha && want->rgba[k + 3] != got->rgba[k + 3])) ++differ;
    }
    if (differ > recoloured) {
        v.why = std::to_string(differ) + " pixels differ from the edited picture";
        return v;
    }
    v.ok = true;
    return v;
}

}  // namespace

Kind kind_of(std::string_view name) {
    if (ends_with_any_case(name, ".bm2")) return Kind::bm2;
    if (ends_with_any_case(name, ".wv5")) return Kind::wv5;
    if (ends_with_any_case(name, ".ab")) return Kind::ab;
    return Kind::other;
}

std::string_view kind_name(Kind kind) {
    switch (kind) {
        case Kind::bm2: return "bm2";
        case Kind::wv5: return "wv5";
        case Kind::ab: return "ab";
        case Kind::other: break;
    }
    return "other";
}

Kind kind_from_name(std::string_view name) {
    for (Kind k : {Kind::bm2, Kind::wv5, Kind::ab})
        if (kind_name(k) == name) return k;
    return Kind::other;
}

std::string_view editable_extension(Kind kind, bool bitmaps) {
    switch (kind) {
        case Kind::bm2: return bitmaps ? ".bmp" : ".png";
        case Kind::wv5: return ".wav";
        case Kind::ab: return ".txt";
        case Kind::other: break;
    }
    return "";
}

Converted decode_member(Kind kind, ByteView member, bool bitmaps) {
    try {
        switch (kind) {
            case Kind::bm2: return decode_bm2(member, bitmaps);
            case Kind::wv5: return decode_wv5(member);
            case Kind::ab: return decode_ab(member);
            case Kind::other: break;
        }
        return {};
    } catch (const std::bad_alloc&) {
        return {std::nullopt, "not enough memory to decode it", {}};
    }
}

Converted encode_member(Kind kind, ByteView edited, ByteView original, std::string_view edited_name) {
    try {
        switch (kind) {
            case Kind::bm2: return encode_bm2(edited, original, edited_name);
            case Kind::wv5: return encode_wv5(edited, original);
            case Kind::ab: return with_jump_warning(encode_ab(edited, edited_name), original);
            case Kind::other: break;
        }
        return {};
    } catch (const std::bad_alloc&) {
        return {std::nullopt, "not enough memory to encode it", {}};
    }
}

Verdict verify_member(Kind kind, ByteView packed, ByteView edited, std::uint64_t recoloured) {
    try {
        switch (kind) {
            case Kind::bm2: return verify_bm2(packed, edited, recoloured);
            case Kind::wv5: return verify_wv5(packed, edited);
            case Kind::ab: return verify_ab(packed, edited);
            case Kind::other: break;
        }
        return {};
    } catch (const std::bad_alloc&) {
        return {false, "not enough memory to check it", {}};
    }
}

}  // namespace vid::project

// WV5 sounds in memory and the one encoder of WAV files into WV5 sounds.
//
// Decoding: a WV5 sound's bytes to its samples (and a WAV file of them).
// Encoding: a WAV file of any format that wav_reader.h takes, written in
// the format of its original (the WV5 sound it replaces: its four leading
// bytes kept, its channels and rate followed, the samples converted to
// them as convert.h describes) or, without one, in its own rate and
// channel count. Encode WV5 writes the result to a file, the mod project
// into memory; both go through prepare() and encode() below, with the
// same texts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"
#include "core/ui.h"
#include "platform/file.h"
#include "wv5/wav_reader.h"
#include "wv5/wv5.h"

namespace vid::wv5 {

// ---- Decoding ----

struct Sound {
    Header header;
    Bytes samples;  // signed 16-bit little-endian, interleaved for two channels
};

// The samples of the WV5 sound `file`; nothing, with the reason in `why`
// ("it ends inside its 18-byte header", "it ends early: 3 of its 9 runs
// decode", "it is too long ..."), when it does not decode whole or would
// take more than `max_bytes` of samples.
std::optional<Sound> decode_sound(ByteView file, std::string& why, std::uint64_t max_bytes = kMaxDataSize);

// The WAV file of a decoded sound: its 46 bytes of headers and the samples.
Bytes wav_bytes(const Sound& sound);

class SoundOutput;

// The same WAV file as wav_bytes(decode_sound()) gives, made piece by piece
// for a sound of any length: the WV5 sound is pulled from `in` (from its
// first byte) and the WAV file pushed to `out`, its headers first with the
// sizes that the WV5 header promises, rewritten at the end when the runs
// give another number of samples. Stop::done when it decoded whole; else
// the reason in `why` (the texts of decode_sound()), or Stop::write_failed
// when `out` refused bytes.
Stop decode_to_wav(Source& in, SoundOutput& out, std::string& why, std::uint64_t max_bytes = kMaxDataSize);

// ---- Encoding ----

// What an original gives the new sound: its first four bytes, and its
// channels and rate when all 18 header bytes are there.
struct Template {
    std::array<std::uint8_t, 4> lead{};
    std::optional<Header> header;
};

// The template of an original whose first bytes are `head` (at most 18
// are needed). Nothing after an Alert when those bytes begin a WAV file
// given the WV5 sound's name (`original_name`).
std::optional<Template> read_template(Ui& ui, ByteView head, std::string_view original_name);

// Where the encoder writes the WV5 sound: its bytes in order, then the
// counts of the header patched at offset 10.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    virtual bool write(ByteView bytes) = 0;
    virtual bool write_at(std::uint64_t pos, ByteView bytes) = 0;
};

// A sound written into memory.
class BytesOutput : public SoundOutput {
public:
    explicit BytesOutput(Bytes& out) : out_(out) {}
    bool write(ByteView bytes) override;
    bool write_at(std::uint64_t pos, ByteView bytes) override;

private:
    Bytes& out_;
};

// An encoding decided on: the WAV file's sound and what is written.
struct Plan {
    WavSound sound;
    Template tmpl;
    unsigned channels = 1;  // written
    std::uint32_t rate = 0;
    bool as_is = true;  // the samples need no conversion
};

// Decides the format written for the WAV file's `sound` (see read_wav),
// telling what Encode WV5 tells: more than two channels without an
// original, an original's rate that no WAV file has (the sound keeps its
// own, with a warning naming `target`), a sound too long for a WV5 header.
// Nothing after an Alert.
std::optional<Plan> prepare(Ui& ui, const WavSound& sound, std::string_view wav_name,
                            const std::optional<Template>& tmpl, std::string_view target);

// Encodes the WAV file's samples as `plan` says into `out`. Alerts "Can't
// read NAME", "Can't convert NAME: ..." or "Can't write TARGET" and returns
// nothing when it fails; else the text that tells about a conversion
// ("Converted NAME: 44100 Hz stereo 32-bit float -> 22050 Hz mono 16-bit;
// 0 samples clipped"), empty when the samples were taken as they are.
std::optional<std::string> encode(Ui& ui, RandomInput& wav, std::string_view wav_name, const Plan& plan,
                                  SoundOutput& out, std::string_view target);

// Encode WV5 over a member of an archive (the mod project): the WAV file
// `wav` in the format of the member whose first bytes are `head` (18 are
// enough), written to `out`, telling `ui` what Encode WV5 tells ("Converted
// ..." and the warnings). When it cannot be written: false, nothing told
// but the status texts, and the Alert it would have given in `why` (or
// "the WAV file is ..." for a file that is not one it encodes).
bool encode_over_member(Ui& ui, RandomInput& wav, std::string_view wav_name, ByteView head, SoundOutput& out,
                        std::string& why);

// Whether the WV5 sound pulled from `packed` (from its first byte) decodes
// to the WAV file `wav` as encode() takes it in the sound's channels and
// rate: the same number of samples, as many as the sound's header counts.
// True with the signal-to-noise ratio in `note` ("sound exact" when there
// is no noise); false with the reason in `why`. For checking a sound
// written; both stream through.
bool decodes_to(Source& packed, RandomInput& wav, std::string& why, std::string& note);

// The 16-bit samples that encode() gives the delta encoder for the WAV file
// `wav` written with `channels` and `rate`: the samples as they stand, or
// converted. For checking a sound written: nothing, with the reason in
// `why`, when the WAV file cannot be read or converted.
std::optional<std::vector<std::int16_t>> encoder_samples(ByteView wav, unsigned channels, std::uint32_t rate,
                                                         std::string& why);

// Bytes in memory read in order.
class MemorySource : public Source {
public:
    explicit MemorySource(ByteView data) : data_(data) {}
    std::size_t read(std::span<std::uint8_t> out) override;

private:
    ByteView data_;
    std::size_t pos_ = 0;
};

// Bytes in memory read at any position.
class MemoryInput : public RandomInput {
public:
    explicit MemoryInput(ByteView data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }
    std::size_t read_at(std::uint64_t pos, std::span<std::uint8_t> out) override;

private:
    ByteView data_;
};

// A file of `size` bytes read at any position.
class FileInput : public RandomInput {
public:
    FileInput(platform::File& f, std::uint64_t size) : f_(f), size_(size) {}
    std::uint64_t size() const override { return size_; }
    std::size_t read_at(std::uint64_t pos, std::span<std::uint8_t> out) override {
        return f_.seek(pos) ? f_.read_full(out) : 0;
    }

private:
    platform::File& f_;
    std::uint64_t size_;
};

// A sound written to a file (the output layer's temporary file).
class FileOutput : public SoundOutput {
public:
    explicit FileOutput(platform::File& f) : f_(f) {}
    bool write(ByteView bytes) override { return f_.write(bytes); }
    bool write_at(std::uint64_t pos, ByteView bytes) override { return f_.seek(pos) && f_.write(bytes); }

private:
    platform::File& f_;
};

}  // namespace vid::wv5

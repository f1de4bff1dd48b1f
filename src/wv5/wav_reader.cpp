#include "wv5/wav_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>

#include "core/bytes.h"
#include "core/text.h"

namespace vid::wv5 {

namespace {

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kTagExtensible = 0xFFFE;
constexpr std::size_t kExtensibleFmtSize = 40;
// The sub-format of an extensible header after its first two bytes (the
// plain format tag): the tail that every standard sub-format shares.
constexpr std::array<std::uint8_t, 14> kSubFormatTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr const char* kAccepted =
    "only PCM of 8, 16, 24 or 32 bits and floating point of 32 or 64 bits, with 1 to 8 channels, can be encoded";
constexpr std::uint16_t kMaxChannels = 8;
constexpr std::uint32_t kMinRate = 1000, kMaxRate = 384000;

std::string n(std::uint64_t v) { return std::to_string(v); }

// A chunk id as text, with anything unprintable shown as '?'.
std::string id_text(ByteView id) {
    std::string s(id.size(), '?');
    for (std::size_t i = 0; i < id.size(); ++i)
        if (id[i] >= 0x20 && id[i] < 0x7F) s[i] = static_cast<char>(id[i]);
    return s;
}

// True when `got` holds the 4 characters of `tag`.
bool is_tag(std::optional<ByteView> got, const char (&tag)[5]) {
    return got && got->size() == 4 && std::memcmp(got->data(), tag, 4) == 0;
}

bool read_exact(RandomInput& in, std::uint64_t pos, std::span<std::uint8_t> out) {
    return in.read_at(pos, out) == out.size();
}

// True when `id` can be a chunk id: printable ASCII.
bool is_id(ByteView id) {
    return std::all_of(id.begin(), id.end(), [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

std::string channels_text(std::uint16_t channels) {
    return channels == 1 ? std::string("1 channel") : n(channels) + " channels";
}

// What the format of a file is, in words, for a file that cannot be encoded.
std::string kind_text(std::uint16_t tag, std::uint16_t bits) {
    switch (tag) {
        case kTagPcm: return n(bits) + "-bit PCM";
        case kTagFloat: return n(bits) + "-bit floating point";
        default: {
            static const char kHex[] = "0123456789ABCDEF";
            std::string hex = "0x0000";
            for (int i = 0; i < 4; ++i) hex[static_cast<std::size_t>(5 - i)] = kHex[(tag >> (4 * i)) & 0xF];
            return "compressed (format " + hex + ")";
        }
    }
}

struct Format {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t block_align = 0;
    std::uint16_t bits = 0;
};

// The format of a "fmt " chunk of `size` bytes whose first bytes are
// `body`: all of them, or the first kExtensibleFmtSize of a longer chunk.
// Or what is wrong with it.
std::variant<Format, std::string> read_format(ByteView body, std::uint32_t size) {
    Cursor c(body);
    Format f;
    // The tag, the channels, the rate, the bytes per second (not needed), the
    // block align and the bits per sample.
    if (!(c.read(f.tag) && c.read(f.channels) && c.read(f.rate) && c.skip(4) && c.read(f.block_align) &&
          c.read(f.bits)))
        return format("has a 'fmt ' chunk of %s bytes, too short for a sound format (16 at least)", {n(size)});
    if (f.tag == kTagExtensible) {
        // The size of the extension, the valid bits and the channel mask (not
        // needed), then the sub-format: its plain tag and the common tail.
        std::uint16_t extension = 0, sub_tag = 0;
        const bool whole = c.read(extension) && c.skip(6) && c.read(sub_tag);
        const auto tail = c.take(kSubFormatTail.size());
        if (!whole || !tail)
            return format("has an extensible 'fmt ' chunk of %s bytes, too short: an extensible format needs 40",
                          {n(size)});
        if (extension < 22)
            return format("has an extensible 'fmt ' chunk that announces an extension of %s bytes: an extensible "
                          "format needs 22",
                          {n(extension)});
        if (!std::equal(kSubFormatTail.begin(), kSubFormatTail.end(), tail->begin()))
            return std::string("is in an extensible format of an unknown kind: ") + kAccepted;
        f.tag = sub_tag;
    }
    const bool pcm = f.tag == kTagPcm && (f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32);
    const bool floating = f.tag == kTagFloat && (f.bits == 32 || f.bits == 64);
    if (!(pcm || floating) || f.channels < 1 || f.channels > kMaxChannels)
        return "is " + kind_text(f.tag, f.bits) + " with " + channels_text(f.channels) + ": " + kAccepted;
    if (f.rate == 0) return std::string("has a 'fmt ' chunk that does not fit: a sample rate of 0");
    if (f.rate < kMinRate || f.rate > kMaxRate)
        return format("has a sample rate of %s Hz: rates from 1000 to 384000 Hz can be encoded", {n(f.rate)});
    if (f.block_align != f.bits / 8 * f.channels)
        return format("has a 'fmt ' chunk that does not fit: a block align of %s bytes for %s of %s bits",
                      {n(f.block_align), channels_text(f.channels), n(f.bits)});
    return f;
}

// The next sample, of `size` bytes, as a fraction of full scale; nothing
// when the bytes end first.
std::optional<double> next_value(Cursor& c, std::size_t size, bool floating) {
    if (floating) {
        // IEEE 754, stored little-endian.
        double v = 0;
        if (size == 4) {
            std::uint32_t bits = 0;
            if (!c.read(bits)) return std::nullopt;
            v = std::bit_cast<float>(bits);
        } else {
            std::uint64_t bits = 0;
            if (!c.read(bits)) return std::nullopt;
            v = std::bit_cast<double>(bits);
        }
        return std::isfinite(v) ? v : 0.0;
    }
    switch (size) {
        case 1: {
            std::uint8_t b = 0;
            if (!c.read(b)) return std::nullopt;
            return (b - 128) / 128.0;  // 8-bit samples are unsigned
        }
        case 2: {
            std::uint16_t b = 0;
            if (!c.read(b)) return std::nullopt;
            return static_cast<std::int16_t>(b) / 32768.0;
        }
        case 3: {
            const auto b = c.take(3);
            if (!b) return std::nullopt;
            const ByteView p = *b;
            return static_cast<std::int32_t>(std::uint32_t{p[0]} << 8 | std::uint32_t{p[1]} << 16 |
                                             std::uint32_t{p[2]} << 24) /
                   2147483648.0;
        }
        default: {
            std::uint32_t b = 0;
            if (!c.read(b)) return std::nullopt;
            return static_cast<std::int32_t>(b) / 2147483648.0;
        }
    }
}

}  // namespace

std::variant<WavSound, std::string> read_wav(RandomInput& in) {
    const std::uint64_t file_size = in.size();
    std::uint8_t head[12];
    Cursor h(head);
    std::uint32_t riff_size = 0;
    if (file_size < sizeof head || !read_exact(in, 0, head) || !is_tag(h.take(4), "RIFF") || !h.read(riff_size) ||
        !is_tag(h.take(4), "WAVE"))
        return std::string("is not a WAV file: it does not begin with a RIFF/WAVE header");
    const std::uint64_t riff_end = 8 + std::uint64_t{riff_size};
    if (riff_end > file_size)
        return format("is cut short: its RIFF header announces %s bytes, the file holds %s",
                      {n(riff_end), n(file_size)});

    std::optional<Format> fmt;
    std::optional<std::string> fmt_problem;
    std::optional<std::uint64_t> data_pos;
    std::uint32_t data_size = 0;
    std::uint64_t pos = 12;
    while (pos + 8 <= riff_end) {
        std::uint8_t ch[8];
        if (!read_exact(in, pos, ch)) return std::string("could not be read");
        Cursor c(ch);
        const auto id = c.take(4);
        std::uint32_t size = 0;
        if (!id || !c.read(size)) return std::string("could not be read");
        const std::uint64_t body = pos + 8;
        const auto chunk_end = checked_add(body, size);
        if (!chunk_end || *chunk_end > file_size)
            return format("is cut short: its '%s' chunk announces %s bytes, the file holds %s after its header",
                          {id_text(*id), n(size), n(file_size - body)});
        const std::uint64_t end = *chunk_end;
        if (end > riff_end)
            return format("lies about its sizes: its '%s' chunk of %s bytes goes past the end of the RIFF form",
                          {id_text(*id), n(size)});
        if (is_tag(id, "fmt ") && !fmt && !fmt_problem) {
            std::uint8_t b[kExtensibleFmtSize] = {};
            const std::size_t want = std::min<std::size_t>(size, sizeof b);
            if (!read_exact(in, body, std::span<std::uint8_t>(b, want))) return std::string("could not be read");
            auto f = read_format(ByteView(b, want), size);
            if (auto* problem = std::get_if<std::string>(&f)) {
                fmt_problem = std::move(*problem);
            } else {
                fmt = std::get<Format>(f);
            }
        } else if (is_tag(id, "data")) {
            if (data_pos) return std::string("has two 'data' chunks: which one holds its sound is not clear");
            data_pos = body;
            data_size = size;
        }
        if (size & 1u) {
            // The pad byte after a chunk of odd size. A writer that leaves it
            // out puts the next chunk's id where the pad byte should be.
            std::uint8_t next[5];
            const ByteView after(next);
            if (end + 8 <= riff_end && read_exact(in, end, next) && is_id(after.first(4)) &&
                !is_id(after.subspan(1, 4)))
                return format("has a '%s' chunk of %s bytes without the pad byte that must follow a chunk of odd "
                              "size",
                              {id_text(*id), n(size)});
        }
        pos = end + (size & 1u);
    }
    if (fmt_problem) return *fmt_problem;
    if ((!fmt || !data_pos) && riff_end < file_size)
        return format("lies about its sizes: its RIFF header announces %s bytes, too few to hold its 'fmt ' and "
                      "'data' chunks (the file holds %s)",
                      {n(riff_end), n(file_size)});
    if (!fmt) return std::string("has no 'fmt ' chunk: it does not say what its samples are");
    if (!data_pos) return std::string("has no 'data' chunk: it holds no samples");
    // A two-channel sound may end on the first channel's sample of a last
    // frame: Decode WV5 writes such files when the runs give an odd number
    // of samples, and the runs can hold them again.
    const std::uint32_t sample_size = fmt->bits / 8u;
    if (data_size % sample_size != 0)
        return format("lies about its sizes: its 'data' chunk of %s bytes is not a whole number of %s-byte samples",
                      {n(data_size), n(sample_size)});
    WavSound s;
    s.channels = fmt->channels;
    s.rate = fmt->rate;
    s.bits = fmt->bits;
    s.floating = fmt->tag == kTagFloat;
    s.data_offset = *data_pos;
    s.data_size = data_size;
    return s;
}

std::string WavSound::describe() const {
    const std::string layout = channels == 1 ? "mono" : channels == 2 ? "stereo" : n(channels) + " channels";
    return format("%s Hz %s %s", {n(rate), layout, floating ? n(bits) + "-bit float" : n(bits) + "-bit"});
}

std::size_t SampleReader::read(std::span<double> out) {
    const std::size_t size = bits_ / 8u;
    std::uint8_t buf[16 * 1024];
    std::size_t done = 0;
    while (done < out.size() && left_ >= size) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(std::min(out.size() - done, sizeof buf / size), left_ / size));
        if (!read_exact(in_, pos_, std::span<std::uint8_t>(buf, want * size))) {
            failed_ = true;
            left_ = 0;
            return 0;
        }
        pos_ += want * size;
        left_ -= want * size;
        Cursor c(ByteView(buf, want * size));
        while (const auto v = next_value(c, size, floating_)) out[done++] = *v;
    }
    return done;
}

std::size_t SampleReader::read(std::span<std::int16_t> out) {
    constexpr std::size_t kChunk = 32768;
    std::uint8_t buf[16 * 1024];
    std::size_t done = 0;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), std::min<std::uint64_t>(left_ / 2, kChunk)));
    while (done < want) {
        const std::size_t k = std::min(want - done, sizeof buf / 2);
        if (!read_exact(in_, pos_, std::span<std::uint8_t>(buf, 2 * k))) {
            failed_ = true;
            left_ = 0;
            return done;
        }
        Cursor c(ByteView(buf, 2 * k));
        std::size_t i = done;
        while (const auto v = c.u16()) out[i++] = static_cast<std::int16_t>(*v);
        pos_ += 2 * k;
        left_ -= 2 * k;
        done += k;
    }
    return done;
}

}  // namespace vid::wv5

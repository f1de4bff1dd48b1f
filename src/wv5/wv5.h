// WV5 sounds: 16-bit PCM stored as one-byte delta codes over a fixed table
// of 128 steps, packed in runs.
//
// Header (18 bytes, little-endian): 4 bytes the decoder does not need, the
// channel count (16-bit; 1 is one channel, anything else two interleaved
// channels), the sample rate, the frame count (32-bit each) and the run
// count (signed 32-bit). Then the runs: a kind byte and
//   kind 0: a count byte n and n codes, one sample each;
//   kind 1: 256 codes, one sample each;
//   kind 3: a 16-bit count n and one code applied n times;
//   any other kind k: one code applied k times.
// A code below 128 adds table[c] to its channel, from 128 up it subtracts
// table[c - 128]; the arithmetic wraps at 16 bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/bytes.h"
#include "core/ui.h"
#include "platform/file.h"

namespace vid::wv5 {

inline constexpr std::size_t kHeaderSize = 18;
inline constexpr std::size_t kWavHeaderSize = 46;

inline constexpr std::array<std::uint16_t, 128> kSteps = {
    0,     1,     2,     3,     4,     5,     7,     8,     9,     11,    13,    14,    16,    18,    20,    22,
    25,    27,    30,    33,    36,    39,    42,    46,    49,    53,    58,    62,    67,    72,    78,    83,
    90,    96,    103,   110,   118,   127,   135,   145,   155,   165,   177,   188,   201,   215,   229,   244,
    260,   278,   296,   315,   336,   358,   381,   406,   432,   460,   489,   521,   554,   590,   627,   667,
    710,   755,   803,   854,   908,   966,   1027,  1092,  1161,  1235,  1313,  1395,  1483,  1577,  1676,  1782,
    1894,  2013,  2139,  2273,  2416,  2568,  2729,  2900,  3082,  3275,  3480,  3698,  3930,  4176,  4437,  4715,
    5010,  5323,  5656,  6010,  6386,  6785,  7209,  7659,  8138,  8647,  9187,  9761,  10370, 11018, 11706, 12437,
    13214, 14039, 14915, 15846, 16836, 17886, 19003, 20189, 21449, 22788, 24210, 25721, 27326, 29031, 30842, 32767,
};

// The change that code `c` makes to its channel's value, modulo 65536.
constexpr std::uint16_t step_of(std::uint8_t c) {
    return c < 128 ? kSteps[c] : static_cast<std::uint16_t>(0x10000u - kSteps[c - 128u]);
}

struct Header {
    std::uint16_t channels = 0;  // as stored
    std::uint32_t rate = 0;
    std::uint32_t frames = 0;
    std::int32_t runs = 0;

    bool two_channels() const { return channels != 1; }
    // What the WAV file says: one channel, or two for any other count.
    std::uint16_t wav_channels() const { return two_channels() ? 2 : 1; }
    std::uint16_t block_align() const { return static_cast<std::uint16_t>(2 * wav_channels()); }
    // The data size that the header promises (block align x frame count),
    // as the 32-bit field of the WAV header holds it.
    std::uint32_t promised_data_size() const { return block_align() * frames; }
};

// The header of a WV5 file, or nothing when `data` is shorter than 18 bytes.
std::optional<Header> parse_header(ByteView data);

// The 46 bytes of WAV headers for `h` with a data chunk of `data_size`.
std::array<std::uint8_t, kWavHeaderSize> wav_header(const Header& h, std::uint32_t data_size);

// Where the decoder pulls the runs from: read() fills the front of `out`
// and returns the count, 0 at the end.
class Source {
public:
    virtual ~Source() = default;
    virtual std::size_t read(std::span<std::uint8_t> out) = 0;
};

// Where the decoder pushes the sample bytes; false when they could not be
// written.
class Sink {
public:
    virtual ~Sink() = default;
    virtual bool write(ByteView bytes) = 0;
};

// A sink that writes straight to a file (the output layer's temporary file).
class FileSink : public Sink {
public:
    explicit FileSink(platform::File& f) : f_(f) {}
    bool write(ByteView bytes) override { return f_.write(bytes); }

private:
    platform::File& f_;
};

// The largest data chunk that a WAV file's 32-bit sizes can describe.
inline constexpr std::uint64_t kMaxDataSize = 0xFFFFFFFFull - 38;

enum class Stop {
    done,          // every run decoded
    input_ended,   // the data ended before the last run was complete
    too_long,      // the samples would exceed `max_bytes`
    write_failed,  // the sink refused bytes
};

struct Outcome {
    Stop stop = Stop::done;
    std::int64_t runs_done = 0;  // complete runs
    std::uint64_t bytes = 0;     // sample bytes given to the sink
};

// Decodes `h.runs` runs pulled from `in` (the bytes after the header) and
// pushes the samples to `out` as signed 16-bit little-endian values,
// through buffers of its own. Codes that are present are decoded even
// when their run is cut by the end of the data. Stops before a run whose
// samples would take the total past `max_bytes`.
Outcome decode_runs(const Header& h, Source& in, Sink& out, std::uint64_t max_bytes = kMaxDataSize);

// Converts one WV5 file into a WAV file beside it: the path with its last
// two characters replaced by "AV". Reports progress and problems through
// `ui`; true when every run was decoded and written.
bool decode_file(Ui& ui, const std::string& path);

// Encodes one 16-bit PCM WAV file into the WV5 sound of the same stem
// beside it ("x.wav" gives "x.wv5"), replacing an existing one of that
// name in any case after keeping it once as "<name>.orig". Reports
// progress and problems through `ui`; true when the sound was written.
bool encode_file(Ui& ui, const std::string& path);

}  // namespace vid::wv5

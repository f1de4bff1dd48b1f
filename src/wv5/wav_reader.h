// Reading the WAV files that Encode WV5 takes: RIFF/WAVE, PCM of 8, 16, 24
// or 32 bits or floating point of 32 or 64 bits, 1 to 8 channels, 1000 to
// 384000 Hz.
//
// The chunks are walked by position, so the "fmt " and "data" chunks may
// come in any order among others ("LIST" and the like are skipped; a chunk
// of odd size is followed by one pad byte). The format may be plain PCM
// (tag 1), floating point (tag 3) or WAVE_FORMAT_EXTENSIBLE (tag 0xFFFE)
// holding either. Every
// size is checked against the file before a sample is read; the samples
// themselves are then read through a bounded buffer.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

namespace vid::wv5 {

// Bytes that can be read at any position (a file, or bytes in memory).
class RandomInput {
public:
    virtual ~RandomInput() = default;
    // The number of bytes there are.
    virtual std::uint64_t size() const = 0;
    // Reads up to out.size() bytes at `pos`; returns how many were read.
    virtual std::size_t read_at(std::uint64_t pos, std::span<std::uint8_t> out) = 0;
};

struct WavSound {
    std::uint16_t channels = 0;     // 1 to 8
    std::uint32_t rate = 0;         // samples per second per channel
    std::uint64_t data_offset = 0;  // where the samples start
    std::uint32_t data_size = 0;    // bytes of samples, a whole number of samples
    std::uint16_t bits = 16;        // 8, 16, 24, 32 (PCM) or 32, 64 (floating point)
    bool floating = false;

    // Whole frames; two channels may end with the first channel's sample
    // of one more.
    std::uint32_t frames() const { return data_size / (bits / 8u * channels); }
    // 16-bit PCM, the samples of a WV5 sound as they stand.
    bool is_16_bit() const { return bits == 16 && !floating; }
    // "44100 Hz stereo 32-bit float", "22050 Hz mono 16-bit".
    std::string describe() const;
};

// The sound of a WAV file, or what is wrong with it: a text that follows
// the file's name, for example "is 8-bit PCM with 1 channel: only 16-bit
// PCM with one or two channels can be encoded".
std::variant<WavSound, std::string> read_wav(RandomInput& in);

// Reads the samples of `sound` in order (interleaved for two channels)
// through a buffer of its own.
class SampleReader {
public:
    SampleReader(RandomInput& in, const WavSound& sound)
        : in_(in), pos_(sound.data_offset), left_(sound.data_size), bits_(sound.bits), floating_(sound.floating) {}
    // Fills the front of `out`; returns the count, 0 at the end of the data
    // or when the input could not be read (then failed() is true). 16-bit
    // PCM only.
    std::size_t read(std::span<std::int16_t> out);
    // The same for samples of any format, as values from -1 to 1 (full
    // scale; floating point values as they stand, anything not finite as 0).
    std::size_t read(std::span<double> out);
    bool failed() const { return failed_; }

private:
    RandomInput& in_;
    std::uint64_t pos_;
    std::uint64_t left_;  // bytes of samples still to read
    std::uint16_t bits_;
    bool floating_;
    bool failed_ = false;
};

}  // namespace vid::wv5

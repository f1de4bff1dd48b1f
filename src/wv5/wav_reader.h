// Reading the WAV files that Encode WV5 takes: RIFF/WAVE, 16-bit PCM, one
// or two channels, any rate.
//
// The chunks are walked by position, so the "fmt " and "data" chunks may
// come in any order among others ("LIST" and the like are skipped; a chunk
// of odd size is followed by one pad byte). The format may be plain PCM
// (tag 1) or WAVE_FORMAT_EXTENSIBLE (tag 0xFFFE) holding 16-bit PCM. Every
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
    std::uint16_t channels = 0;     // 1 or 2
    std::uint32_t rate = 0;         // samples per second per channel
    std::uint64_t data_offset = 0;  // where the samples start
    std::uint32_t data_size = 0;    // bytes of samples, a whole number of samples

    // Whole frames; two channels may end with the first channel's sample
    // of one more.
    std::uint32_t frames() const { return data_size / (2u * channels); }
};

// The sound of a WAV file, or what is wrong with it: a text that follows
// the file's name, for example "is 8-bit PCM with 1 channel: only 16-bit
// PCM with one or two channels can be encoded".
std::variant<WavSound, std::string> read_wav(RandomInput& in);

// Reads the samples of `sound` in order (interleaved for two channels)
// through a buffer of its own.
class SampleReader {
public:
    SampleReader(RandomInput& in, const WavSound& sound) : in_(in), pos_(sound.data_offset), left_(sound.data_size) {}
    // Fills the front of `out`; returns the count, 0 at the end of the data
    // or when the input could not be read (then failed() is true).
    std::size_t read(std::span<std::int16_t> out);
    bool failed() const { return failed_; }

private:
    RandomInput& in_;
    std::uint64_t pos_;
    std::uint64_t left_;  // bytes of samples still to read
    bool failed_ = false;
};

}  // namespace vid::wv5

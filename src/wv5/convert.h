// Sounds of any WAV format to the 16-bit samples of a WV5 sound of a given
// rate and channel count.
//
// Channels are mixed first: to one channel, the mean of all; to two from
// more, the first two are left and right and every other channel goes to
// both at half weight, the sum scaled so that it never exceeds full scale;
// a single channel is copied to both. Then the rate is converted by libsoxr
// (high quality: a linear-phase filter with its pass band to 91 % of the
// lower Nyquist frequency and 100 dB of stop-band rejection) when the rates
// differ. Last, each value becomes a 16-bit sample, rounded to the nearest
// (halves away from zero); values past full scale are clipped and counted.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vid::wv5 {

class Converter {
public:
    Converter(unsigned in_channels, std::uint32_t in_rate, unsigned out_channels, std::uint32_t out_rate);
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Takes interleaved samples of whole frames (values of full scale 1);
    // appends the converted samples to `out`. False when the resampler
    // failed (then error() says why).
    bool push(std::span<const double> in, std::vector<std::int16_t>& out);
    // Appends what the resampler still holds.
    bool finish(std::vector<std::int16_t>& out);

    std::uint64_t clipped() const { return clipped_; }
    const std::string& error() const { return error_; }

private:
    bool resample(const double* in, std::size_t frames, std::vector<std::int16_t>& out);
    void quantize(const double* in, std::size_t count, std::vector<std::int16_t>& out);

    unsigned in_channels_, out_channels_;
    struct Soxr;
    std::unique_ptr<Soxr> soxr_;  // none when the rates are equal
    std::vector<double> mixed_, resampled_;
    std::uint64_t clipped_ = 0;
    std::string error_;
};

}  // namespace vid::wv5

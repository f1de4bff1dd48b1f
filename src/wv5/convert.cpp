#include "wv5/convert.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace vid::wv5 {

struct Converter::Soxr {
    soxr_t handle = nullptr;
    ~Soxr() { soxr_delete(handle); }
};

Converter::Converter(unsigned in_channels, std::uint32_t in_rate, unsigned out_channels, std::uint32_t out_rate)
    : in_channels_(in_channels), out_channels_(out_channels) {
    if (in_rate == out_rate) return;
    soxr_ = std::make_unique<Soxr>();
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // one thread: the batch decides the parallelism
    soxr_error_t e = nullptr;
    soxr_->handle = soxr_create(in_rate, out_rate, out_channels, &e, &io, &quality, &runtime);
    if (e) error_ = e;
}

Converter::~Converter() = default;

bool Converter::push(std::span<const double> in, std::vector<std::int16_t>& out) {
    if (!error_.empty()) return false;
    const std::size_t frames = in.size() / in_channels_;
    const double* samples = in.data();
    if (in_channels_ != out_channels_) {
        mixed_.resize(frames * out_channels_);
        for (std::size_t f = 0; f < frames; ++f) {
            const double* s = in.data() + f * in_channels_;
            double* m = mixed_.data() + f * out_channels_;
            if (out_channels_ == 1) {
                double sum = 0;
                for (unsigned c = 0; c < in_channels_; ++c) sum += s[c];
                m[0] = sum / in_channels_;
            } else if (in_channels_ == 1) {
                m[0] = m[1] = s[0];
            } else {
                double shared = 0;
                for (unsigned c = 2; c < in_channels_; ++c) shared += s[c];
                const double scale = 1.0 / (1.0 + 0.5 * (in_channels_ - 2));
                m[0] = (s[0] + 0.5 * shared) * scale;
                m[1] = (s[1] + 0.5 * shared) * scale;
            }
        }
        samples = mixed_.data();
    }
    if (!soxr_) {
        quantize(samples, frames * out_channels_, out);
        return true;
    }
    return resample(samples, frames, out);
}

bool Converter::finish(std::vector<std::int16_t>& out) {
    if (!error_.empty()) return false;
    return !soxr_ || resample(nullptr, 0, out);  // no input: the resampler flushes
}

bool Converter::resample(const double* in, std::size_t frames, std::vector<std::int16_t>& out) {
    // Room for the frames that `frames` give at the output rate, and more
    // when flushing: called again until the resampler gives nothing.
    constexpr std::size_t kRoom = 8192;
    resampled_.resize(kRoom * out_channels_);
    std::size_t left = frames;
    for (;;) {
        std::size_t used = 0, made = 0;
        const soxr_error_t e = soxr_process(soxr_->handle, in, in ? left : 0, &used, resampled_.data(), kRoom, &made);
        if (e) {
            error_ = e;
            return false;
        }
        quantize(resampled_.data(), made * out_channels_, out);
        if (in) {
            in += used * out_channels_;
            left -= used;
            if (left == 0 && made < kRoom) return true;
        } else if (made == 0) {
            return true;
        }
    }
}

void Converter::quantize(const double* in, std::size_t count, std::vector<std::int16_t>& out) {
    out.reserve(out.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        const double v = std::round(in[i] * 32768.0);
        if (v > 32767.0 || v < -32768.0) ++clipped_;
        out.push_back(static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0)));
    }
}

}  // namespace vid::wv5

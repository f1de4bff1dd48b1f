// Sample WV5 sounds: a one-channel chime and a two-channel jingle. Between
// their tones they hold silences and ramps, so that every run kind occurs.
#include <cmath>
#include <cstdint>
#include <vector>

#include "kit/kit.h"
#include "kit/samples.h"
#include "kit/wv5_encode.h"

namespace vid::kit {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A decaying tone of `n` samples per channel, then silence.
void tone(std::vector<std::int16_t>& out, int channels, std::size_t n, double freq, double rate, Rng& rng) {
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double env = std::exp(-4.0 * static_cast<double>(i) / static_cast<double>(n));
        for (int c = 0; c < channels; ++c) {
            const double v = 9000.0 * env * std::sin(2 * kPi * freq * (c + 1) * t) + rng.below(64);
            out.push_back(static_cast<std::int16_t>(std::lround(v)));
        }
    }
}

void silence(std::vector<std::int16_t>& out, int channels, std::size_t n) {
    out.insert(out.end(), n * static_cast<std::size_t>(channels), std::int16_t{0});
}

// A straight ramp by 8 per sample on every channel (the step table's code 7).
void ramp(std::vector<std::int16_t>& out, int channels, std::size_t n) {
    for (std::size_t i = 1; i <= n; ++i)
        for (int c = 0; c < channels; ++c) out.push_back(static_cast<std::int16_t>(8 * i));
}

Bytes sound(int channels, std::uint32_t rate, std::uint64_t seed) {
    Rng rng(seed);
    std::vector<std::int16_t> s;
    tone(s, channels, 1500, 440.0, rate, rng);
    silence(s, channels, 600);  // a long silence: kind 3
    ramp(s, channels, 60);      // a short ramp: kind k
    silence(s, channels, 40);
    tone(s, channels, 700, 660.0, rate, rng);
    silence(s, channels, 30);
    return wv5_encode(s, static_cast<std::uint16_t>(channels), rate);
}

}  // namespace

std::vector<Member> sample_sounds() {
    std::vector<Member> out;
    out.emplace_back("chime.wv5", sound(1, 11025, 201));
    out.emplace_back("jingle.wv5", sound(2, 22050, 202));
    return out;
}

}  // namespace vid::kit

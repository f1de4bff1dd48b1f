// Encode WV5 of WAV files in another format than the original's: the
// quality of the conversion (rate by libsoxr, channels mixed, 16 bits) and
// its speed.
//
//  - a 1 kHz sine at 44,100 Hz, stereo, 32-bit float, encoded over a
//    22,050 Hz mono original and decoded again: its signal-to-noise ratio
//    against the ideal 22,050 Hz sine (target: 40 dB at least);
//  - a sweep from 11,025 Hz (the new Nyquist frequency) to 20 kHz, which the
//    new rate cannot hold: what is left of it, aliased below 11,025 Hz, in
//    decibels under the sweep (target: under -60 dB);
//  - frames converted per second.
//
//   bench_wv5_convert [FOLDER]     (default: $TMPDIR, else /tmp)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/bytes.h"
#include "platform/file.h"
#include "wv5/convert.h"
#include "wv5/wv5.h"

namespace {

using vid::Bytes;

constexpr std::uint32_t kIn = 44100, kOut = 22050;
constexpr double kSeconds = 5;
constexpr std::size_t kFrames = static_cast<std::size_t>(kIn * kSeconds);

void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A stereo float WAV file of `left` in both channels.
Bytes float_wav(const std::vector<double>& left) {
    Bytes b = {'R', 'I', 'F', 'F'};
    put32(b, static_cast<std::uint32_t>(36 + 8 * left.size()));
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<std::uint8_t>(c));
    put32(b, 16);
    put32(b, 3 | (2u << 16));  // float, 2 channels
    put32(b, kIn);
    put32(b, kIn * 8);
    put32(b, 8 | (32u << 16));  // block align 8, 32 bits
    for (char c : std::string("data")) b.push_back(static_cast<std::uint8_t>(c));
    put32(b, static_cast<std::uint32_t>(8 * left.size()));
    for (double v : left) {
        const float f = static_cast<float>(v);
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        put32(b, u), put32(b, u);
    }
    return b;
}

double db(double power_ratio) { return 10 * std::log10(power_ratio); }

bool write_file(const std::string& path, const Bytes& data) {
    auto f = vid::platform::File::open(path, vid::platform::OpenMode::create_always);
    return f && f->write(data) && f->close();
}

Bytes read_file(const std::string& path) {
    auto f = vid::platform::File::open(path, vid::platform::OpenMode::read_existing);
    Bytes b(f ? f->size().value_or(0) : 0);
    if (f) b.resize(f->read_full(b));
    return b;
}

std::size_t back_size(const std::string& folder) { return read_file(folder + "/bench_convert.wAV").size(); }

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    const double pi = std::numbers::pi;

    // The sine, through the files as a modder would: encode over the original, decode.
    std::vector<double> sine(kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) sine[i] = 0.5 * std::sin(2 * pi * 1000 * double(i) / kIn);
    const std::string wav = folder + "/bench_convert.wav", wv5 = folder + "/bench_convert.wv5";
    write_file(wav, float_wav(sine));
    write_file(wv5, Bytes{'K', 'E', 'E', 'P', 1, 0, 0x22, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    bench::QuietUi ui;
    const auto t0 = std::chrono::steady_clock::now();
    const bool encoded = vid::wv5::encode_file(ui, wav);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!encoded || !vid::wv5::decode_file(ui, wv5) || back_size(folder) < 46) {
        std::fprintf(stderr, "encoding or decoding failed\n");
        return 1;
    }
    const Bytes back = read_file(folder + "/bench_convert.wAV");
    std::remove(wav.c_str()), std::remove(wv5.c_str()), std::remove((wv5 + ".orig").c_str());
    std::remove((folder + "/bench_convert.wAV").c_str());
    double signal = 0, noise = 0;
    const std::size_t frames = (back.size() - 46) / 2;
    for (std::size_t i = kOut / 100; i + kOut / 100 < frames; ++i) {
        const double ideal = 16384 * std::sin(2 * pi * 1000 * double(i) / kOut);
        const double got = static_cast<std::int16_t>(back[46 + 2 * i] | back[47 + 2 * i] << 8);
        signal += ideal * ideal, noise += (got - ideal) * (got - ideal);
    }
    std::printf("1 kHz sine, 44100 Hz stereo float over a 22050 Hz mono original: %zu frames (%zu expected), "
                "signal-to-noise %.1f dB (target: 40 at least)\n",
                frames, kFrames / 2, db(signal / noise));
    std::printf("encode-wv5 of %.0f s of 44100 Hz stereo float, converted and encoded: %.2f s, %.0f frames/s\n",
                kSeconds, seconds, double(kFrames) / seconds);

    // A sweep the new rate cannot hold: what comes through is alias.
    std::vector<double> sweep(kFrames);
    double phase = 0, in_power = 0;
    for (std::size_t i = 0; i < kFrames; ++i) {
        const double f = 11025 * std::pow(20000.0 / 11025, double(i) / kFrames);
        phase += 2 * pi * f / kIn;
        // Faded in and out over 50 ms: an abrupt start would be a click of every frequency.
        const double edge = std::min(double(std::min(i, kFrames - 1 - i)) / (kIn / 20.0), 1.0);
        sweep[i] = 0.5 * std::sin(phase) * (0.5 - 0.5 * std::cos(pi * edge));
        in_power += sweep[i] * sweep[i];
    }
    vid::wv5::Converter converter(1, kIn, 1, kOut);
    std::vector<std::int16_t> out;
    const auto c0 = std::chrono::steady_clock::now();
    converter.push(sweep, out);
    converter.finish(out);
    const double convert_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - c0).count();
    double out_power = 0;
    for (std::int16_t v : out) out_power += (v / 32768.0) * (v / 32768.0);
    std::size_t nonzero = 0;
    for (std::int16_t v : out) nonzero += v != 0;
    if (nonzero == 0)
        std::printf("sweep 11025 Hz to 20 kHz, 44100 -> 22050 Hz: no alias, every sample rounds to 0 (under the "
                    "16-bit floor of about -90 dB; target: under -60)\n");
    else
        std::printf("sweep 11025 Hz to 20 kHz, 44100 -> 22050 Hz: alias at %.1f dB under the sweep, %zu samples "
                    "not 0 (target: under -60)\n",
                    db(out_power / double(out.size()) / (in_power / double(kFrames))), nonzero);
    std::printf("rate conversion alone: %.0f frames/s\n", double(kFrames) / convert_seconds);
    return 0;
}

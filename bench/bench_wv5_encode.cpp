// Encode WV5: the quality, size and speed of the encoder on generated
// sound (22,050 Hz stereo), against the plain greedy encoder (the nearest
// step for each sample in turn), and the peak memory of encoding a file.
//
//   bench_wv5_encode [FOLDER]     (default: $TMPDIR, else /tmp)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kit/kit.h"
#include "kit/wv5_encode.h"
#include "platform/file.h"
#include "wv5/encoder.h"
#include "wv5/runs.h"
#include "wv5/wv5.h"

namespace {

using Samples = std::vector<std::int16_t>;
constexpr std::uint32_t kRate = 22050;
constexpr double kSeconds = 20;
constexpr std::size_t kFrames = static_cast<std::size_t>(kRate * kSeconds);

std::int16_t clip(double v) { return static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0))); }

// Bursts of coloured noise under a syllable-like envelope, with pauses.
Samples speech() {
    vid::kit::Rng rng(11);
    Samples s(2 * kFrames);
    double lp = 0, bp = 0, phase = 0;
    std::size_t i = 0;
    while (i < kFrames) {
        const std::size_t burst = kRate / 5 + rng.below(kRate / 2), pause = kRate / 10 + rng.below(kRate / 3);
        const double pitch = 90 + rng.below(150), loud = 3000 + rng.below(9000);
        for (std::size_t k = 0; k < burst && i < kFrames; ++k, ++i) {
            const double env = std::sin(std::numbers::pi * static_cast<double>(k) / static_cast<double>(burst));
            const double noise = static_cast<double>(rng.below(2001)) / 1000.0 - 1.0;
            lp += 0.25 * (noise - lp);
            bp += 0.1 * (lp - bp);
            phase += 2 * std::numbers::pi * pitch / kRate;
            const double v = loud * env * (0.6 * std::sin(phase) + 0.3 * std::sin(3 * phase) + 2.0 * (lp - bp));
            s[2 * i] = clip(v);
            s[2 * i + 1] = clip(0.8 * v);
        }
        for (std::size_t k = 0; k < pause && i < kFrames; ++k, ++i) s[2 * i] = s[2 * i + 1] = 0;
    }
    return s;
}

// Notes of a few harmonics with sharp attacks and decays, overlapping.
Samples music() {
    vid::kit::Rng rng(23);
    std::vector<double> l(kFrames, 0.0), r(kFrames, 0.0);
    for (std::size_t start = 0; start < kFrames; start += kRate / 8 + rng.below(kRate / 3)) {
        const double f = 110.0 * std::pow(2.0, rng.below(36) / 12.0), amp = 2000 + rng.below(7000);
        const double pan = rng.below(101) / 100.0, decay = 2.0 + rng.below(60) / 10.0;
        for (std::size_t k = 0; k < kRate && start + k < kFrames; ++k) {
            const double t = static_cast<double>(k) / kRate;
            const double attack = std::min(1.0, static_cast<double>(k) / 20.0);
            const double v = amp * attack * std::exp(-decay * t) *
                             (std::sin(2 * std::numbers::pi * f * t) + 0.5 * std::sin(4 * std::numbers::pi * f * t) +
                              0.25 * std::sin(6 * std::numbers::pi * f * t));
            l[start + k] += v * (1 - pan);
            r[start + k] += v * pan;
        }
    }
    Samples s(2 * kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) s[2 * i] = clip(l[i]), s[2 * i + 1] = clip(r[i]);
    return s;
}

Samples silence() { return Samples(2 * kFrames, 0); }

// What a WV5 file decodes to: sound the codes can follow exactly.
Samples decoded() {
    vid::kit::Rng rng(37);
    vid::Bytes codes(2 * kFrames);
    for (auto& c : codes) c = static_cast<std::uint8_t>(rng.below(40) | (rng.below(2) << 7));
    Samples s(codes.size());
    std::uint16_t v[2] = {0, 0};
    for (std::size_t i = 0; i < codes.size(); ++i) {
        v[i % 2] = static_cast<std::uint16_t>(v[i % 2] + vid::wv5::step_of(codes[i]));
        s[i] = static_cast<std::int16_t>(v[i % 2]);
    }
    return s;
}

// The plain greedy encoder: for each sample in turn, the code whose step
// lands nearest to it.
vid::Bytes greedy(const Samples& s) {
    vid::Bytes codes(s.size());
    std::uint16_t v[2] = {0, 0};
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint16_t& cur = v[i % 2];
        std::int64_t best = std::numeric_limits<std::int64_t>::max();
        for (unsigned c = 0; c < 256; ++c) {
            const auto nv = static_cast<std::uint16_t>(cur + vid::wv5::step_of(static_cast<std::uint8_t>(c)));
            const std::int64_t e = std::abs(static_cast<std::int64_t>(static_cast<std::int16_t>(nv)) - s[i]);
            if (e < best) best = e, codes[i] = static_cast<std::uint8_t>(c);
        }
        cur = static_cast<std::uint16_t>(cur + vid::wv5::step_of(codes[i]));
    }
    return codes;
}

double snr_db(const Samples& want, const vid::Bytes& codes) {
    double signal = 0, noise = 0;
    std::uint16_t v[2] = {0, 0};
    for (std::size_t i = 0; i < want.size(); ++i) {
        v[i % 2] = static_cast<std::uint16_t>(v[i % 2] + vid::wv5::step_of(codes[i]));
        const double e = static_cast<double>(static_cast<std::int16_t>(v[i % 2])) - want[i];
        signal += static_cast<double>(want[i]) * want[i];
        noise += e * e;
    }
    if (noise == 0) return std::numeric_limits<double>::infinity();
    return signal == 0 ? -std::numeric_limits<double>::infinity() : 10 * std::log10(signal / noise);
}

struct Counter : vid::wv5::Sink {
    bool write(vid::ByteView) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    const struct {
        const char* name;
        Samples (*make)();
    } materials[] = {{"speech-like", speech}, {"music-like", music}, {"silence", silence}, {"decoded WV5", decoded}};
    std::printf("%.0f s of 22050 Hz stereo each; SNR of decode(encode(wav)) against the wav\n", kSeconds);
    std::printf("%-12s %12s %12s %10s %12s %14s %12s %9s\n", "material", "SNR beam dB", "greedy dB", "gain dB",
                "bytes/s", "greedy bytes/s", "x real time", "x (CPU)");
    for (const auto& m : materials) {
        const Samples s = m.make();
        vid::Bytes codes;
        Counter sink;
        vid::wv5::RunPacker packer(sink);
        const std::clock_t cpu0 = std::clock();
        const double secs = bench::seconds_of([&] {
            vid::wv5::CodeStream stream(true);
            for (std::size_t at = 0; at < s.size(); at += 8192) {
                const std::size_t before = codes.size();
                stream.push(std::span<const std::int16_t>(s).subspan(at, std::min<std::size_t>(8192, s.size() - at)),
                            codes);
                packer.push(vid::ByteView(codes).subspan(before));
            }
            const std::size_t before = codes.size();
            stream.finish(codes);
            packer.push(vid::ByteView(codes).subspan(before));
            packer.finish();
        });
        const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
        const vid::Bytes g = greedy(s);
        const double beam = snr_db(s, codes), plain = snr_db(s, g);
        const double bytes = static_cast<double>(vid::wv5::kHeaderSize + packer.bytes()) / kSeconds;
        const double gbytes = static_cast<double>(vid::wv5::kHeaderSize + vid::wv5::pack_runs(g).size()) / kSeconds;
        char gain[32];
        if (std::isinf(beam) && std::isinf(plain)) {
            std::snprintf(gain, sizeof gain, "both exact");
        } else {
            std::snprintf(gain, sizeof gain, "%.2f", beam - plain);
        }
        std::printf("%-12s %12.2f %12.2f %10s %12.0f %14.0f %12.1f %9.1f\n", m.name, beam, plain, gain, bytes, gbytes,
                    kSeconds / secs, kSeconds / cpu);
    }

    // A file: three minutes of the music-like sound, encoded by Encode WV5
    // in a child process, so that its peak memory is its own.
    std::string tmpl = base + "/bench_wv5_encode.XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        std::fprintf(stderr, "bench_wv5_encode: cannot make a folder in %s\n", base.c_str());
        return 1;
    }
    const std::string wav = tmpl + "/music.wav";
    constexpr int kRepeats = 9;
    {
        const Samples s = music();
        auto f = vid::platform::File::open(wav, vid::platform::OpenMode::create_always);
        const auto data = static_cast<std::uint32_t>(2 * s.size() * kRepeats);
        vid::Bytes head = {'R', 'I', 'F', 'F'};
        vid::put_u32(head, data + 36);
        vid::put_text(head, "WAVEfmt ");
        vid::put_u32(head, 16), vid::put_u16(head, 1), vid::put_u16(head, 2), vid::put_u32(head, kRate);
        vid::put_u32(head, 4 * kRate), vid::put_u16(head, 4), vid::put_u16(head, 16);
        vid::put_text(head, "data");
        vid::put_u32(head, data);
        vid::Bytes body;
        for (std::int16_t v : s) vid::put_u16(body, static_cast<std::uint16_t>(v));
        bool ok = f && f->write(head);
        for (int i = 0; i < kRepeats && ok; ++i) ok = f->write(body);
        if (!ok || !f->close()) {
            std::fprintf(stderr, "bench_wv5_encode: cannot write %s\n", wav.c_str());
            return 1;
        }
    }
    int status = 0;
    const double secs = bench::seconds_of([&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            bench::QuietUi ui;
            ::_exit(vid::wv5::encode_file(ui, wav) ? 0 : 1);
        }
        ::waitpid(pid, &status, 0);
    });
    rusage child{};
    getrusage(RUSAGE_CHILDREN, &child);
    const double cpu = static_cast<double>(child.ru_utime.tv_sec + child.ru_stime.tv_sec) +
                       static_cast<double>(child.ru_utime.tv_usec + child.ru_stime.tv_usec) / 1e6;
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const double length = kSeconds * kRepeats;
    std::printf(
        "Encode WV5 of a %.0f s stereo WAV file: %.2f s (%.1f x real time), %.2f s of CPU (%.1f x); "
        "peak RSS %ld KiB (%s)\n",
        length, secs, length / secs, cpu, length / cpu, child.ru_maxrss, ok ? "complete" : "FAILED");
    std::system(("rm -rf '" + tmpl + "'").c_str());
    return ok ? 0 : 1;
}

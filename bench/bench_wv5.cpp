// WV5: Decode WV5 on a sound that decodes to more than 256 MiB, against
// `cp` of the same output bytes in the same run, with the peak memory of
// the decoding process; then on a file of more than 1 GiB: the same music
// followed by 2^29 empty runs (kind 0, count 0: zero bytes, left sparse).
//
//   bench_wv5 [FOLDER]     (default: $TMPDIR, else /tmp)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kit/kit.h"
#include "platform/file.h"
#include "wv5/wv5.h"
#include "bench_support.h"

namespace {

using bench::seconds_of;

// A two-channel sound of `runs` runs like music: mostly kind 1 runs of
// small steps, with held notes (kind 3), short ramps (kind k) and kind 0
// runs, then `empty` runs of kind 0 without samples. Written through a
// buffer; returns the samples it holds (whole frames).
std::uint64_t make_sound(const std::string& path, std::int32_t runs, std::int32_t empty = 0) {
    vid::kit::Rng rng(0x5A5);
    auto f = vid::platform::File::open(path, vid::platform::OpenMode::create_always);
    if (!f) return 0;
    vid::Bytes buf(18, 0);
    vid::store_u16(&buf[4], 2);
    vid::store_u32(&buf[6], 44100);
    vid::store_u32(&buf[14], static_cast<std::uint32_t>(runs + empty));
    std::uint64_t samples = 0;
    auto code = [&] { return static_cast<std::uint8_t>(rng.below(24) | (rng.below(2) << 7)); };
    for (std::int32_t r = 0; r < runs; ++r) {
        const std::uint32_t pick = rng.below(100);
        if (r == runs - 1 && samples % 2 == 1) {
            // A last run of one sample: whole frames, as the frame count says.
            buf.insert(buf.end(), {0, 1, code()});
            samples += 1;
        } else if (pick < 80) {
            buf.push_back(1);
            for (int k = 0; k < 256; ++k) buf.push_back(code());
            samples += 256;
        } else if (pick < 88) {
            const auto n = static_cast<std::uint16_t>(512 + rng.below(4096));
            buf.insert(buf.end(), {3, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), 0});
            samples += n;
        } else if (pick < 95) {
            const auto k = static_cast<std::uint8_t>(4 + rng.below(200));
            buf.insert(buf.end(), {k, code()});
            samples += k;
        } else {
            const auto n = static_cast<std::uint8_t>(rng.below(256));
            buf.push_back(0);
            buf.push_back(n);
            for (int k = 0; k < n; ++k) buf.push_back(code());
            samples += n;
        }
        if (buf.size() > (1 << 20)) {
            if (!f->write(buf)) return 0;
            buf.clear();
        }
    }
    // The frame count goes in last, now that it is known.
    if (!f->write(buf)) return 0;
    const auto end = f->tell();
    if (!end || !f->resize(*end + 2 * static_cast<std::uint64_t>(empty)) || !f->seek(10)) return 0;
    std::uint8_t frames[4];
    vid::store_u32(frames, static_cast<std::uint32_t>(samples / 2));
    return f->write(frames) && f->close() ? samples : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string tmpl = base + "/bench_wv5.XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        std::fprintf(stderr, "bench_wv5: cannot make a folder in %s\n", base.c_str());
        return 1;
    }
    const std::string dir = tmpl, in = dir + "/music.wv5", out = dir + "/music.wAV", copy = dir + "/copy.wav";
    const std::uint64_t samples = make_sound(in, 340000);
    if (samples == 0) {
        std::fprintf(stderr, "bench_wv5: cannot write %s\n", in.c_str());
        return 1;
    }
    std::fflush(stdout);
    std::system("sync");

    // Three rounds of decoding and of copying its output, each from a
    // clean state; the best of each. Decoding runs in a child process, so
    // that its peak memory is its own.
    auto size_of = [](const std::string& p) {
        auto f = vid::platform::File::open(p, vid::platform::OpenMode::read_existing);
        return f ? f->size().value_or(0) : 0;
    };
    const std::string cp_cmd = "cp '" + out + "' '" + copy + "'";
    const std::string clean_cmd = "rm -f '" + out + "' '" + copy + "'";
    int status = 0;
    bool all_ok = true;
    double decode_s = 1e9, cp_s = 1e9;
    for (int round = 0; round < 3; ++round) {
        std::system(clean_cmd.c_str());
        std::system("sync");
        decode_s = std::min(decode_s, seconds_of([&] {
                                const pid_t pid = ::fork();
                                if (pid == 0) {
                                    bench::QuietUi ui;
                                    ::_exit(vid::wv5::decode_file(ui, in) ? 0 : 1);
                                }
                                ::waitpid(pid, &status, 0);
                            }));
        all_ok = all_ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        std::system("sync");
        cp_s = std::min(cp_s, seconds_of([&] {
                            if (std::system(cp_cmd.c_str()) != 0) std::fprintf(stderr, "bench_wv5: cp failed\n");
                        }));
    }
    rusage child{};
    getrusage(RUSAGE_CHILDREN, &child);
    const long decode_rss = child.ru_maxrss;  // the largest of the children: the decoder, sh or cp
    const bool ok = all_ok && size_of(out) == 46 + 2 * samples;
    std::printf("Decode WV5: %.1f MiB read, %.1f MiB written in %.2f s (%s); peak RSS of the child processes %ld KiB\n",
                static_cast<double>(size_of(in)) / (1 << 20), static_cast<double>(size_of(out)) / (1 << 20),
                decode_s, ok ? "complete" : "FAILED", decode_rss);
    std::printf("cp of the same output: %.2f s; ratio decode/cp %.2f (best of 3 rounds each)\n", cp_s,
                decode_s / cp_s);

    // The large file, decoded once in a child process.
    std::system(clean_cmd.c_str());
    const std::string large = dir + "/large.wv5", large_out = dir + "/large.wAV";
    bool large_ok = make_sound(large, 340000, 1 << 29) == samples;
    if (large_ok) {
        std::system("sync");
        const auto r = bench::command_in_child("decode-wv5", large, [&] {
            bench::QuietUi ui;
            return vid::wv5::decode_file(ui, large);
        });
        bench::print_large("Decode WV5", large, large_out, r);
        large_ok = r.ok && bench::size_of(large_out) == 46 + 2 * samples;
    } else {
        std::fprintf(stderr, "bench_wv5: cannot write %s\n", large.c_str());
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return ok && large_ok ? 0 : 1;
}

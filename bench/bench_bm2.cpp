// BM2: LZSS decompression against a byte-at-a-time window decoder, and
// Decode BM2 over more than 256 MiB of bitmaps against `cp` of the same
// output bytes in the same run. First, the peak memory of Decode BM2 on two
// files of more than 1 GiB (mostly sparse): an ordinary image and a 24-bit
// alpha picture of 16384 x 16384.
//
//   bench_bm2 [FOLDER]     (default: $TMPDIR, else /tmp)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bm2/bm2.h"
#include "kit/kit.h"
#include "kit/lzss_bm2.h"
#include "platform/file.h"
#include "bench_support.h"

namespace {

using bench::seconds_of;

template <class F>
double cpu_seconds_of(F&& work) {
    timespec t0{}, t1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t0);
    work();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t1);
    return static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) * 1e-9;
}

// One pixel in 16 gets a random value in one channel.
void add_grain(vid::Bytes& bmp, std::uint64_t seed) {
    vid::kit::Rng rng(seed);
    for (std::size_t p = 54; p + 3 <= bmp.size(); p += 3)
        if (rng.below(16) == 0) bmp[p + rng.below(3)] = rng.byte();
}

// The straightforward decoder: a 4096-byte ring, every byte through it.
std::size_t window_decode(vid::ByteView in, std::span<std::uint8_t> out) {
    std::uint8_t window[4096] = {};
    std::size_t i = 0, o = 0, w = 4078;
    while (i < in.size()) {
        unsigned flags = in[i++];
        for (int k = 0; k < 8 && i < in.size(); ++k, flags >>= 1) {
            if (flags & 1) {
                const std::uint8_t b = in[i++];
                if (o < out.size()) out[o++] = b;
                window[w] = b;
                w = (w + 1) & 4095;
            } else {
                if (i + 1 >= in.size()) return o;
                std::size_t p = in[i] | ((in[i + 1] & 0xF0u) << 4);
                std::size_t len = (in[i + 1] & 0x0Fu) + 3u;
                i += 2;
                for (; len > 0; --len, p = (p + 1) & 4095) {
                    const std::uint8_t b = window[p];
                    if (o >= out.size()) return o;
                    out[o++] = b;
                    window[w] = b;
                    w = (w + 1) & 4095;
                }
            }
        }
    }
    return o;
}

bool write_file(const std::string& path, vid::ByteView data) {
    auto f = vid::platform::File::open(path, vid::platform::OpenMode::create_always);
    return f && f->write(data) && f->close();
}

// A BM2 file of `packed` bytes of packed data that start with `head` and go
// on with zeros (groups of eight 3-byte matches into zeros), left sparse.
bool write_large_bm2(const std::string& path, std::uint32_t packed, std::uint32_t unpacked, vid::ByteView head) {
    vid::Bytes start = {'h', 'e', 'a', 'd', 'e', 'r', 0, 0};
    vid::put_u32(start, packed);
    vid::put_u32(start, unpacked);
    start.insert(start.end(), head.begin(), head.end());
    auto f = vid::platform::File::open(path, vid::platform::OpenMode::create_always);
    return f && f->write(start) && f->resize(16 + std::uint64_t{packed}) && f->close();
}

// Decode BM2 on the large files, each in a child process.
bool large_inputs(const std::string& dir) {
    constexpr std::uint32_t kPacked = 1u << 30;
    const std::string plain = dir + "/large.bm2", alpha = dir + "/large_alpha.bm2";
    // The alpha header in three groups of literals: "BM2A", 24 bits, 16384 x 16384.
    const vid::Bytes alpha_head = {0xFF, 'B', 'M', '2', 'A', 0, 0, 0, 0, 0xFF, 24, 0, 0, 0, 0, 0, 0x00, 0x40,
                                   0x3F, 0x00, 0x40, 0, 0, 0, 0};
    if (!write_large_bm2(plain, kPacked, kPacked / 17 * 24, {}) ||
        !write_large_bm2(alpha, kPacked, 22 + 4u * 16384 * 16384, alpha_head)) {
        std::fprintf(stderr, "bench_bm2: cannot write the large files in %s\n", dir.c_str());
        return false;
    }
    bool ok = true;
    for (const std::string& in : {plain, alpha}) {
        const auto r = bench::command_in_child("decode-bm2", in, [&] {
            bench::QuietUi ui;
            return vid::bm2::decode_file(ui, in);
        });
        bench::print_large("Decode BM2", in, in.substr(0, in.size() - 1) + "P", r);
        ok = ok && r.ok;
        std::remove(in.c_str());
        std::remove((in.substr(0, in.size() - 1) + "P").c_str());
    }
    std::fflush(stdout);
    std::system("sync");  // the large files' pages written back before the timed runs
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string tmpl = base + "/bench_bm2.XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        std::fprintf(stderr, "bench_bm2: cannot make a folder in %s\n", base.c_str());
        return 1;
    }
    const std::string dir = tmpl;
    if (!large_inputs(dir)) {
        std::system(("rm -rf '" + dir + "'").c_str());
        return 1;
    }

    // 1. LZSS throughput on game screens of 640 x 480, each decoded on its
    // own as Decode BM2 does, and on the same screens with grain added (one
    // pixel in 16 gets a random channel: many more literals). CPU time, best
    // of 15 rounds, so that other work on the machine counts less.
    for (const bool grain : {false, true}) {
        std::vector<vid::Bytes> screens, packs;
        std::size_t raw = 0, packed = 0;
        for (std::uint64_t k = 0; k < 8; ++k) {
            vid::Bytes screen = vid::kit::bmp24(640, 480, 100 + k);
            if (grain) add_grain(screen, k);
            packs.push_back(vid::kit::lzss_encode(screen));
            raw += screen.size();
            packed += packs.back().size();
            screens.push_back(std::move(screen));
        }
        vid::Bytes out(screens[0].size());
        for (std::size_t k = 0; k < packs.size(); ++k) {
            vid::bm2::lzss_decode(packs[k], out);
            const bool fast_ok = out == screens[k];
            window_decode(packs[k], out);
            if (!fast_ok || out != screens[k]) {
                std::fprintf(stderr, "bench_bm2: a decoder gave other bytes\n");
                return 1;
            }
        }
        const int reps = 10;
        double fast = 1e9, slow = 1e9;
        for (int round = 0; round < 15; ++round) {
            fast = std::min(fast, cpu_seconds_of([&] {
                                for (int r = 0; r < reps; ++r)
                                    for (const auto& p : packs) vid::bm2::lzss_decode(p, out);
                            }));
            slow = std::min(slow, cpu_seconds_of([&] {
                                for (int r = 0; r < reps; ++r)
                                    for (const auto& p : packs) window_decode(p, out);
                            }));
        }
        const double mib = static_cast<double>(raw) * reps / (1 << 20);
        std::printf("LZSS, 8 screens%s (%.2f:1): %.0f MiB/s; byte-at-a-time window decoder %.0f MiB/s; speed-up %.2fx\n",
                    grain ? " with grain" : "", static_cast<double>(raw) / static_cast<double>(packed), mib / fast,
                    mib / slow, slow / fast);
    }

    // 2. Decode BM2 on a batch like a game's pictures: 280 screens of
    // 640 x 480 (eight different ones), 40 sprites of 256 x 256 with 24-bit
    // alpha and 40 of 255 x 256 with 8-bit alpha.
    std::vector<vid::Bytes> kinds;
    for (std::uint64_t k = 0; k < 8; ++k) kinds.push_back(vid::kit::bm2_file(vid::kit::bmp24(640, 480, 200 + k)));
    kinds.push_back(vid::kit::bm2_file(vid::kit::bm2_alpha(24, 256, 256, vid::kit::alpha_picture(24, 256, 256, 13))));
    kinds.push_back(vid::kit::bm2_file(vid::kit::bm2_alpha(8, 255, 256, vid::kit::alpha_picture(8, 255, 256, 14))));
    std::vector<std::string> inputs;
    for (int k = 0; k < 360; ++k) {
        const std::string path = dir + "/pic" + std::to_string(k) + ".bm2";
        const vid::Bytes& file = k < 280 ? kinds[static_cast<std::size_t>(k % 8)] : kinds[k < 320 ? 8 : 9];
        if (!write_file(path, file)) {
            std::fprintf(stderr, "bench_bm2: cannot write %s\n", path.c_str());
            return 1;
        }
        inputs.push_back(path);
    }
    std::string outputs;
    for (const auto& p : inputs) outputs += " '" + p.substr(0, p.size() - 1) + "P'";
    const std::string copies = dir + "/copies";
    const std::string cp_cmd = "mkdir -p '" + copies + "' && cp" + outputs + " '" + copies + "'";
    const std::string clean_cmd = "rm -rf '" + copies + "'" + outputs;
    // Three rounds of decoding and of copying its output, each from a
    // clean state (outputs removed, dirty pages written back); the best of
    // each.
    bench::QuietUi ui("8bits");
    bool ok = true;
    double decode_s = 1e9, cp_s = 1e9;
    for (int round = 0; round < 3; ++round) {
        std::system(clean_cmd.c_str());
        std::system("sync");
        decode_s = std::min(decode_s, seconds_of([&] {
                                for (const auto& p : inputs) ok = vid::bm2::decode_file(ui, p) && ok;
                            }));
        std::system("sync");
        cp_s = std::min(cp_s, seconds_of([&] {
                            if (std::system(cp_cmd.c_str()) != 0) std::fprintf(stderr, "bench_bm2: cp failed\n");
                        }));
    }
    std::uint64_t out_bytes = 0, in_bytes = 0;
    for (const auto& p : inputs) {
        auto f = vid::platform::File::open(p.substr(0, p.size() - 1) + "P", vid::platform::OpenMode::read_existing);
        out_bytes += f ? f->size().value_or(0) : 0;
        auto g = vid::platform::File::open(p, vid::platform::OpenMode::read_existing);
        in_bytes += g ? g->size().value_or(0) : 0;
    }
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("Decode BM2: %d files, %.1f MiB read, %.1f MiB written in %.2f s (%s)\n",
                static_cast<int>(inputs.size()), static_cast<double>(in_bytes) / (1 << 20),
                static_cast<double>(out_bytes) / (1 << 20), decode_s, ok ? "all decoded" : "FAILURES");
    std::printf("cp of the same output: %.2f s; ratio decode/cp %.2f (best of 3 rounds each)\n", cp_s,
                decode_s / cp_s);
    std::printf("peak RSS of the benchmark process: %ld MiB (holds its generated inputs too)\n", u.ru_maxrss / 1024);
    std::system(("rm -rf '" + dir + "'").c_str());
    return ok ? 0 : 1;
}

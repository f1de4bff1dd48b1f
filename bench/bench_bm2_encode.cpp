// Encode BM2's LZSS compressor on game-like images: throughput in MB/s of
// decoded data, and the packed sizes against a plain greedy longest-match
// compressor of the same format (below), per kind of image.
//
//   bench_bm2_encode
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bm2/bm2.h"
#include "bm2/lzss_encode.h"
#include "kit/kit.h"
#include "kit/lzss_bm2.h"

namespace {

using vid::Bytes;
using vid::ByteView;

// The baseline: at each position the longest match (every source of the
// last 4096 positions is looked at, the window's initial zeros included),
// else a literal.
Bytes greedy_encode(ByteView data) {
    Bytes buf(4096, 0);
    buf.insert(buf.end(), data.begin(), data.end());
    std::vector<std::int64_t> head(1 << 16, -1), prev(buf.size(), -1);
    auto hash = [&](std::size_t p) { return ((buf[p] | (buf[p + 1] << 8) | (buf[p + 2] << 16)) * 2654435761u) >> 16; };
    auto insert = [&](std::size_t p) {
        if (p + 3 > buf.size()) return;
        prev[p] = head[hash(p)];
        head[hash(p)] = static_cast<std::int64_t>(p);
    };
    for (std::size_t p = 0; p < 4096; ++p) insert(p);
    Bytes out;
    std::size_t flag_at = 0;
    unsigned bit = 8;
    auto item = [&](bool literal) {
        if (bit == 8) flag_at = out.size(), out.push_back(0), bit = 0;
        if (literal) out[flag_at] = static_cast<std::uint8_t>(out[flag_at] | (1u << bit));
        ++bit;
    };
    for (std::size_t cur = 4096; cur < buf.size();) {
        const std::size_t limit = std::min<std::size_t>(18, buf.size() - cur);
        std::size_t best = 0, best_dist = 0;
        if (limit >= 3)
            for (std::int64_t c = head[hash(cur)]; c >= 0 && cur - static_cast<std::size_t>(c) <= 4096; c = prev[c]) {
                std::size_t n = 0;
                while (n < limit && buf[static_cast<std::size_t>(c) + n] == buf[cur + n]) ++n;
                if (n > best) best = n, best_dist = cur - static_cast<std::size_t>(c);
                if (best == limit) break;
            }
        if (best >= 3) {
            item(false);
            const std::size_t p = (4078 + (cur - 4096) + 4096 - best_dist) & 4095;
            out.push_back(static_cast<std::uint8_t>(p));
            out.push_back(static_cast<std::uint8_t>(((p >> 8) << 4) | (best - 3)));
            for (std::size_t k = 0; k < best; ++k) insert(cur + k);
            cur += best;
        } else {
            item(true);
            out.push_back(buf[cur]);
            insert(cur);
            ++cur;
        }
    }
    return out;
}

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A bitmap file's headers (and colour table) for `width` x `height` at `bits`.
Bytes bitmap_headers(std::uint32_t width, std::uint32_t height, std::uint16_t bits, const Bytes& table) {
    const std::uint32_t stride = (width * bits / 8 + 3) / 4 * 4;
    const auto offset = static_cast<std::uint32_t>(54 + table.size());
    Bytes f{'B', 'M'};
    for (std::uint32_t v : {offset + stride * height, 0u, offset, 40u, width, height}) vid::put_u32(f, v);
    vid::put_u16(f, 1);
    vid::put_u16(f, bits);
    for (std::uint32_t v : {0u, stride * height, 0u, 0u, 0u, 0u}) vid::put_u32(f, v);
    f.insert(f.end(), table.begin(), table.end());
    return f;
}

// A game screen (sky gradient, flat hills, tiled ground, sprites) with
// grain: one pixel in 24 gets a random channel.
Bytes screen(std::uint64_t seed) {
    Bytes s = vid::kit::bmp24(640, 480, seed);
    vid::kit::Rng rng(seed);
    for (std::size_t p = 54; p + 3 <= s.size(); p += 3)
        if (rng.below(24) == 0) s[p + rng.below(3)] = rng.byte();
    return s;
}

// A menu screen: a vertical gradient behind framed flat panels holding
// lines of text in a 6 x 8 font of random glyphs.
Bytes ui_screen(std::uint64_t seed) {
    vid::kit::Rng rng(seed);
    const std::uint32_t w = 640, h = 480;
    Bytes f = bitmap_headers(w, h, 24, {});
    std::vector<std::uint8_t> glyphs(64 * 8);
    for (auto& g : glyphs) g = static_cast<std::uint8_t>(rng.byte() & 0x3F);
    std::vector<std::uint8_t> text(80 * 60);
    for (auto& c : text) c = static_cast<std::uint8_t>(rng.below(5) == 0 ? 255 : rng.below(64));
    for (std::uint32_t row = 0; row < h; ++row) {
        const std::uint32_t y = h - 1 - row;
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t b = static_cast<std::uint8_t>(60 + y / 4), g = static_cast<std::uint8_t>(30 + y / 8), r = 20;
            const bool panel = x % 320 >= 20 && x % 320 < 300 && y % 160 >= 16 && y % 160 < 144;
            const bool frame = panel && (x % 320 < 22 || x % 320 >= 298 || y % 160 < 18 || y % 160 >= 142);
            if (frame) {
                b = 220, g = 200, r = 120;
            } else if (panel) {
                b = 40, g = 40, r = 48;
                const std::uint8_t c = text[(y / 8) * 80 + x / 8];
                if (c != 255 && x % 8 < 6 && (glyphs[c * 8 + y % 8] >> (x % 8)) & 1) b = g = r = 250;
            }
            f.insert(f.end(), {b, g, r});
        }
    }
    return f;
}

// 8-bit pixel art: 320 x 240 from a tile set of 16 x 16 tiles in 32
// colours, with dithered gradients and a few characters.
Bytes pixel_art(std::uint64_t seed) {
    vid::kit::Rng rng(seed);
    Bytes table;
    for (int i = 0; i < 256; ++i)
        for (std::uint8_t v : {std::uint8_t(i * 8), std::uint8_t(255 - i * 5), std::uint8_t(i * 3 + 40), std::uint8_t(0)})
            table.push_back(i < 32 ? v : 0);
    Bytes f = bitmap_headers(320, 240, 8, table);
    std::vector<std::uint8_t> tiles(12 * 256);
    for (std::size_t t = 0; t < 12; ++t)
        for (std::size_t k = 0; k < 256; ++k) {
            const std::size_t x = k % 16, y = k / 16;
            tiles[t * 256 + k] = static_cast<std::uint8_t>(t < 4 ? (t * 8 + ((x + y) % 2) + y / 4) % 32
                                                                 : (rng.below(4) == 0 ? rng.below(32) : t * 2 + x / 8));
        }
    std::vector<std::uint8_t> map(20 * 15);
    for (auto& m : map) m = static_cast<std::uint8_t>(rng.below(5) == 0 ? 4 + rng.below(8) : rng.below(4));
    for (std::uint32_t row = 0; row < 240; ++row)
        for (std::uint32_t x = 0; x < 320; ++x) {
            const std::uint32_t y = 239 - row;
            f.push_back(tiles[map[(y / 16) * 20 + x / 16] * 256 + (y % 16) * 16 + x % 16]);
        }
    return f;
}

struct Kind {
    const char* name;
    std::vector<Bytes> images;
};

}  // namespace

int main() {
    std::vector<Kind> kinds(4);
    kinds[0].name = "screens 640x480x24 (gradients, panels, grain)";
    kinds[1].name = "UI screens 640x480x24 with text";
    kinds[2].name = "pixel art 320x240x8";
    kinds[3].name = "sprites 256x256 (alpha 24 and 8)";
    for (std::uint64_t k = 0; k < 6; ++k) {
        kinds[0].images.push_back(screen(300 + k));
        kinds[1].images.push_back(ui_screen(400 + k));
        kinds[2].images.push_back(pixel_art(500 + k));
        const auto bits = static_cast<std::uint16_t>(k % 2 ? 8 : 24);
        kinds[3].images.push_back(
            vid::kit::bm2_alpha(bits, 256, 256, vid::kit::alpha_picture(bits, 256, 256, 600 + k)));
    }
    bool ok = true;
    double all_raw = 0, all_seconds = 0;
    std::printf("%-46s %9s %10s %10s %8s %9s\n", "kind (6 images each)", "MB", "packed", "greedy", "saved", "MB/s");
    for (const Kind& kind : kinds) {
        std::size_t raw = 0, ours = 0, greedy = 0;
        int larger = 0;
        for (const Bytes& image : kind.images) {
            const Bytes packed = vid::bm2::lzss_encode(image), base = greedy_encode(image);
            Bytes back(image.size());
            if (vid::bm2::lzss_decode(packed, back) != image.size() || back != image ||
                vid::bm2::lzss_decode(base, back) != image.size() || back != image) {
                std::fprintf(stderr, "bench_bm2_encode: a stream does not decode to its image (%s)\n", kind.name);
                ok = false;
            }
            if (packed.size() > base.size()) ++larger;
            raw += image.size();
            ours += packed.size();
            greedy += base.size();
        }
        // CPU time, best of 5 rounds over the kind's images.
        double best = 1e9;
        for (int round = 0; round < 5; ++round) {
            const double t0 = cpu_seconds();
            for (const Bytes& image : kind.images) vid::bm2::lzss_encode(image);
            best = std::min(best, cpu_seconds() - t0);
        }
        const double mb = static_cast<double>(raw) / 1e6;
        all_raw += mb;
        all_seconds += best;
        std::printf("%-46s %9.2f %10zu %10zu %7.2f%% %9.1f%s\n", kind.name, mb, ours, greedy,
                    100.0 * (1.0 - static_cast<double>(ours) / static_cast<double>(greedy)), mb / best,
                    larger ? "  LARGER THAN GREEDY" : "");
        ok = ok && larger == 0;
    }
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("all: %.1f MB encoded at %.1f MB/s on one core; peak RSS %ld MiB (inputs, baseline and streams "
                "included)\n",
                all_raw, all_raw / all_seconds, u.ru_maxrss / 1024);
    return ok ? 0 : 1;
}

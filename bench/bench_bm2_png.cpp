// Peak memory of Encode BM2 and decode-bm2 --png on the largest inputs
// they take (2^21 pixels, 2048 x 1024 and 2^21 x 1; PNG files of 16-bit samples stored without
// compression, originals of noise) and on a PNG whose image data inflate to
// 1 GiB past its 1 x 1 picture. Each run is a child process of its own;
// every figure must stay within 64 MiB.
//
//   bench_bm2_png [FOLDER]     (default: $TMPDIR, else /tmp)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "bm2/encode.h"
#include "kit/kit.h"
#include "kit/lzss_bm2.h"
#include "kit/png_maker.h"
#include "platform/file.h"

namespace {

using vid::Bytes;

bool save(const std::string& path, const Bytes& data) {
    auto f = vid::platform::File::open(path, vid::platform::OpenMode::create_always);
    return f && f->write(data) && f->close();
}

// A PNG of `width` x `height` pixels of 16-bit samples (RGBA, or RGB when
// the picture is too wide for an alpha BM2 image), of noise, stored.
Bytes png16(std::uint32_t width, std::uint32_t height, std::uint64_t seed) {
    vid::kit::Rng rng(seed);
    vid::kit::PngParts p;
    const std::size_t channels = width > 65535 ? 3 : 4;
    p.width = width, p.height = height, p.depth = 16, p.colour = channels == 3 ? 2 : 6, p.level = 0, p.idat = 1 << 20;
    p.raw.reserve(std::size_t{height} * (1 + std::size_t{width} * 2 * channels));
    for (std::uint32_t y = 0; y < height; ++y) {
        p.raw.push_back(0);
        for (std::size_t k = 0; k < std::size_t{width} * 2 * channels; ++k) p.raw.push_back(rng.byte());
    }
    return vid::kit::png_file(p);
}

// A bitmap file of `width` x `height` at `bits` (8: 256 grey levels; 32:
// no alpha), of noise.
Bytes bitmap(std::uint32_t width, std::uint32_t height, std::uint16_t bits, std::uint64_t seed) {
    vid::kit::Rng rng(seed);
    const std::uint32_t table = bits == 8 ? 1024 : 0, stride = (width * bits / 8 + 3) / 4 * 4;
    Bytes f{'B', 'M'};
    for (std::uint32_t v : {54 + table + stride * height, 0u, 54 + table, 40u, width, height}) vid::put_u32(f, v);
    vid::put_u16(f, 1);
    vid::put_u16(f, bits);
    for (std::uint32_t v : {0u, stride * height, 0u, 0u, 0u, 0u}) vid::put_u32(f, v);
    for (std::uint32_t i = 0; i < table / 4; ++i)
        for (std::uint8_t b : {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), std::uint8_t(0)}) f.push_back(b);
    for (std::size_t k = 0; k < std::size_t{stride} * height; ++k) f.push_back(bits == 32 && k % 4 == 3 ? 0 : rng.byte());
    return f;
}

// Encode BM2 runs onto the original of the input's stem when there is one
// (big.bm2, grey.bm2).
struct Run {
    const char* what;
    const char* command;  // "encode" or "png"
    std::string input;
    bool expect_ok;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string tmpl = base + "/bench_bm2_png.XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        std::fprintf(stderr, "bench_bm2_png: cannot make a folder in %s\n", base.c_str());
        return 1;
    }
    const std::string dir = tmpl;
    const auto at = [&dir](const char* name) { return dir + "/" + name; };
    // The inputs, each made and written, then freed before any run.
    bool made = save(at("wide.png"), png16(1u << 21, 1, 1)) && save(at("big.png"), png16(2048, 1024, 2)) &&
                save(at("big.bm2"), vid::kit::bm2_file(bitmap(2048, 1024, 32, 3))) &&
                save(at("grey.bmp"), bitmap(2048, 1024, 32, 4)) &&
                save(at("grey.bm2"), vid::kit::bm2_file(bitmap(2048, 1024, 8, 5))) &&
                save(at("sprite.bm2"), vid::kit::bm2_file(vid::kit::bm2_alpha(24, 2048, 1024,
                                                                               vid::kit::alpha_picture(24, 2048, 1024, 6))));
    {
        vid::kit::PngParts bomb;
        bomb.raw = {0, 1, 2, 3, 4};
        bomb.zeros = std::uint64_t{1} << 30;
        bomb.level = 9;
        made = made && save(at("bomb.png"), vid::kit::png_file(bomb));
    }
    if (!made) {
        std::fprintf(stderr, "bench_bm2_png: cannot write the inputs in %s\n", dir.c_str());
        return 1;
    }
    const Run runs[] = {
        {"Encode BM2, PNG 2^21 x 1, 16-bit RGB, no original", "encode", at("wide.png"), true},
        {"Encode BM2, PNG 2048 x 1024, 16-bit RGBA, onto a 32-bit original", "encode", at("big.png"), true},
        {"Encode BM2, bitmap 2048 x 1024 x 32 of noise, onto an 8-bit original", "encode", at("grey.bmp"), true},
        {"Encode BM2, PNG 1 x 1 inflating to 1 GiB (refused)", "encode", at("bomb.png"), false},
        {"decode-bm2 --png, 2048 x 1024 x 32 bitmap", "png", at("big.bm2"), true},
        {"decode-bm2 --png, 2048 x 1024 alpha, 24 bits", "png", at("sprite.bm2"), true},
    };
    std::printf("%-72s %10s %8s %9s\n", "run (file size)", "MiB file", "seconds", "peak MiB");
    bool ok = true;
    for (const Run& r : runs) {
        const std::uint64_t size = bench::size_of(r.input);
        const bench::ChildRun c = bench::in_child([&] {
            bench::QuietUi ui("changed colour");
            return std::string(r.command) == "encode" ? vid::bm2::encode_file(ui, r.input)
                                                      : vid::bm2::decode_png_file(ui, r.input);
        });
        const double peak = static_cast<double>(c.peak_kib) / 1024.0;
        const bool good = c.ok == r.expect_ok && peak <= 64.0;
        ok = ok && good;
        std::printf("%-72s %10.1f %8.2f %9.1f%s\n", r.what, static_cast<double>(size) / (1 << 20), c.seconds, peak,
                    good ? "" : c.ok != r.expect_ok ? "  UNEXPECTED OUTCOME" : "  OVER 64 MiB");
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return ok ? 0 : 1;
}

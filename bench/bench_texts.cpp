// Export Texts and Import Texts over 48 scripts holding 100,000 texts in
// all (Japanese texts in code page 932, voice names, jumps between them),
// against `cp` of the same scripts in the same run. Import gets a table in
// which every text changes (many of them in length, so the jumps move).
// Run: build/bench/bench/bench_texts (BENCH_KEEP=1 keeps the scripts and tables)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/bytes.h"
#include "core/table.h"
#include "text/text_jobs.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

// "Hello there" pieces in code page 932: "窓が開いています。" and friends.
const char* const kPieces[] = {"\x91\x8B\x82\xAA\x8A\x4A\x82\xA2\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81\x42",
                               "Good morning.", "\x82\xA8\x82\xCD\x82\xE6\x82\xA4", " ", "\x81\x41"};

vid::Bytes make_script(unsigned seed, int texts) {
    vid::Bytes s;
    std::vector<std::uint32_t> starts;
    for (int i = 0; i < texts; ++i) {
        seed = seed * 1103515245u + 12345u;
        starts.push_back(static_cast<std::uint32_t>(s.size()));
        const bool init = (seed >> 8) % 3 != 0;
        vid::put_u16(s, init ? 0x0000 : 0x0001);
        vid::put_u16(s, static_cast<std::uint16_t>(i));
        if (init && (seed >> 12) % 2) vid::put_text(s, "\\Vvoice" + std::to_string(i % 100) + ".");
        for (unsigned k = 0; k < 2 + (seed >> 16) % 3; ++k) vid::put_text(s, kPieces[(seed >> (4 * k)) % 5]);
        vid::put_u8(s, 0);
        if (i % 10 == 9) {  // a jump back to an earlier text, and a pause
            vid::put_u16(s, 0x0201);
            vid::put_u32(s, starts[(seed >> 3) % starts.size()]);
            vid::put_u16(s, 0x0603);
            vid::put_u32(s, 100);
        }
    }
    return s;
}

double run(const std::string& cmd) {
    return bench::seconds_of([&] {
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "%s failed\n", cmd.c_str());
    });
}

}  // namespace

int main() {
    constexpr int kScripts = 48, kTexts = 100000;
    const fs::path root = fs::temp_directory_path() / ("vidodide-bench-texts-" + std::to_string(::getpid()));
    const fs::path clean = root / "clean", game = root / "game";
    fs::create_directories(clean);
    std::uintmax_t bytes = 0;
    for (int i = 0; i < kScripts; ++i) {
        const int texts = kTexts / kScripts + (i < kTexts % kScripts ? 1 : 0);
        const vid::Bytes s = make_script(static_cast<unsigned>(i + 1), texts);
        std::ofstream(clean / ("scene" + std::to_string(i) + ".ab"), std::ios::binary)
            .write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
        bytes += s.size();
    }
    const std::string table = (root / "texts.csv").string(), translated = (root / "translated.csv").string();

    constexpr int kRuns = 3;
    double cp = 1e9, exp = 1e9, imp = 1e9;
    bench::QuietUi ui;
    bool ok = true;
    for (int r = 0; r < kRuns; ++r) {
        fs::remove_all(game);
        cp = std::min(cp, run("cp -r " + clean.string() + " " + game.string()));
        exp = std::min(exp, bench::seconds_of([&] { ok = vid::text::export_texts(ui, game.string(), table, 932) && ok; }));
    }
    // Every translation differs from its original: an ASCII first character
    // becomes "*", before any other a "*" is added (a longer text).
    {
        std::ifstream in(table, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        vid::TableReader reader(text, ',');
        std::vector<std::string> f;
        std::string out(vid::kUtf8Mark);
        for (std::uint64_t row = 0; reader.next(f); ++row) {
            if (row > 0) f[6] = static_cast<unsigned char>(f[5][0]) < 0x80 ? "*" + f[5].substr(1) : "*" + f[5];
            std::vector<std::string_view> v(f.begin(), f.end());
            vid::append_row(out, v, ',');
        }
        std::ofstream(translated, std::ios::binary) << out;
    }
    for (int r = 0; r < kRuns; ++r) {
        fs::remove_all(game);
        fs::copy(clean, game);
        imp = std::min(imp, bench::seconds_of([&] { ok = vid::text::import_texts(ui, game.string(), translated, 932) && ok; }));
    }
    std::printf("%d scripts, %d texts, %.1f MiB; table %.1f MiB\n", kScripts, kTexts,
                static_cast<double>(bytes) / (1 << 20), static_cast<double>(fs::file_size(table)) / (1 << 20));
    std::printf("cp -r of the scripts: %.1f ms\n", cp * 1000);
    std::printf("export-text: %.1f ms (%.2f x cp)\n", exp * 1000, exp / cp);
    std::printf("import-text: %.1f ms (%.2f x cp), every text changed%s\n", imp * 1000, imp / cp, ok ? "" : " FAILED");
    if (std::getenv("BENCH_KEEP") == nullptr)
        fs::remove_all(root);
    else
        std::printf("kept %s\n", root.string().c_str());
    return ok ? 0 : 1;
}

// Decode AB and Encode AB over a generated corpus of at least 64 MiB of
// scripts, through the per-file converters, against `cp` of the same
// output bytes in the same run. First, the peak memory of both on a script
// of more than 1 GiB that holds one string of 1 GiB, and on its listing.
// Run: build/bench/bench/bench_script
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/ui.h"
#include "kit/script_maker.h"
#include "script/jobs.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

using bench::QuietUi;
using bench::seconds_of;

std::uintmax_t bytes_in(const fs::path& dir, const std::string& ext) {
    std::uintmax_t total = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ext) total += e.file_size();
    return total;
}

double run_cp(const fs::path& from, const std::string& pattern, const fs::path& to) {
    fs::create_directories(to);
    const std::string cmd = "cp " + from.string() + "/" + pattern + " " + to.string() + "/";
    return seconds_of([&] {
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cp failed\n");
    });
}

std::vector<char> slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A script of random instructions around an Update Text whose string is
// `string_bytes` bytes of "abcdef" (each 254-byte piece of its listing line
// then reads back as an opcode outside the table).
bool write_large_script(const std::string& path, std::uint64_t string_bytes) {
    auto f = vid::platform::File::open(path, vid::platform::OpenMode::create_always);
    if (!f) return false;
    vid::kit::Rng rng(99);
    vid::Bytes head = vid::kit::random_script(rng, 1 << 20);
    head.insert(head.end(), {0x01, 0x00, 0x07, 0x00});  // Update Text, index 7
    if (!f->write(head)) return false;
    vid::Bytes block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>("abcdef"[i % 6]);
    for (std::uint64_t left = string_bytes; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        if (!f->write(vid::ByteView(block).first(n))) return false;
        left -= n;
    }
    vid::Bytes tail = {0};
    const vid::Bytes more = vid::kit::random_script(rng, 4096);
    tail.insert(tail.end(), more.begin(), more.end());
    return f->write(tail) && f->close();
}

// Decode AB on the large script, then Encode AB on its listing, each in a
// child process.
bool large_inputs(const fs::path& dir) {
    fs::create_directories(dir);
    const std::string script = (dir / "large.ab").string(), listing = (dir / "large.txt").string();
    const std::string copy = (dir / "again.txt").string(), again = (dir / "again.ab").string();
    if (!write_large_script(script, std::uint64_t{1} << 30)) {
        std::fprintf(stderr, "bench_script: cannot write %s\n", script.c_str());
        return false;
    }
    const auto decoded = bench::command_in_child("decode-ab", script, [&] {
        QuietUi ui("will not encode back");
        return vid::script::decode_file(ui, script);
    });
    bench::print_large("Decode AB", script, listing, decoded);
    fs::remove(script);
    std::error_code ec;
    fs::rename(listing, copy, ec);
    const auto encoded = bench::command_in_child("encode-ab", copy, [&] {
        QuietUi ui;
        return vid::script::encode_file(ui, copy);
    });
    bench::print_large("Encode AB", copy, again, encoded);
    fs::remove_all(dir, ec);
    std::fflush(stdout);
    std::system("sync");  // the large files' pages written back before the timed runs
    return decoded.ok && encoded.ok;
}

}  // namespace

int main() {
    constexpr int kFiles = 64;
    constexpr std::size_t kScriptBytes = 1 << 20;
    const fs::path root = fs::temp_directory_path() / ("vidodide-bench-script-" + std::to_string(::getpid()));
    const fs::path scripts = root / "scripts", listings = root / "listings", copies = root / "copies";
    const bool large_ok = large_inputs(root / "large");
    fs::create_directories(scripts);

    vid::kit::Rng rng(2024);
    std::vector<std::string> names;
    for (int i = 0; i < kFiles; ++i) {
        const vid::Bytes s = vid::kit::random_script(rng, kScriptBytes);
        const fs::path p = scripts / ("s" + std::to_string(i) + ".ab");
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
        names.push_back("s" + std::to_string(i));
    }
    const auto script_bytes = bytes_in(scripts, ".ab");

    // Each figure is the best of three runs, ours and cp's alike.
    constexpr int kRuns = 3;
    const auto best = [](auto&& work) {
        double b = 1e9;
        for (int r = 0; r < kRuns; ++r) b = std::min(b, work());
        return b;
    };
    QuietUi ui;
    int failed = 0;
    // Decode: scripts/*.ab -> scripts/*.txt.
    const double decode_s = best([&] {
        return seconds_of([&] {
            for (const auto& n : names) failed += !vid::script::decode_file(ui, (scripts / (n + ".ab")).string());
        });
    });
    const auto listing_bytes = bytes_in(scripts, ".txt");
    const double decode_cp = best([&] { return run_cp(scripts, "*.txt", listings); });

    // Encode the copies: listings/*.txt -> listings/*.ab, which must not exist yet.
    const double encode_s = best([&] {
        for (const auto& n : names) fs::remove(listings / (n + ".ab"));
        return seconds_of([&] {
            for (const auto& n : names) failed += !vid::script::encode_file(ui, (listings / (n + ".txt")).string());
        });
    });
    const auto encoded_bytes = bytes_in(listings, ".ab");
    const double encode_cp = best([&] { return run_cp(listings, "*.ab", copies); });

    int identical = 0;
    for (const auto& n : names) identical += slurp(scripts / (n + ".ab")) == slurp(listings / (n + ".ab"));

    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);

    const double mib = 1024.0 * 1024.0;
    std::printf("corpus: %d scripts, %.1f MiB\n", kFiles, static_cast<double>(script_bytes) / mib);
    std::printf("decode: %.3f s, listings %.1f MiB (%.0f MiB/s of scripts); cp of the listings %.3f s; ratio %.2f\n",
                decode_s, static_cast<double>(listing_bytes) / mib, static_cast<double>(script_bytes) / mib / decode_s,
                decode_cp, decode_s / decode_cp);
    std::printf("encode: %.3f s, AB files %.1f MiB (%.0f MiB/s of listings); cp of the AB files %.3f s; ratio %.2f\n",
                encode_s, static_cast<double>(encoded_bytes) / mib, static_cast<double>(listing_bytes) / mib / encode_s,
                encode_cp, encode_s / encode_cp);
    std::printf("round trip: %d of %d scripts identical; %d failures, %d alerts\n", identical, kFiles, failed,
                ui.alerts);
    std::printf("peak RSS: %.1f MiB (cp: %.1f MiB)\n", static_cast<double>(self.ru_maxrss) / 1024.0,
                static_cast<double>(children.ru_maxrss) / 1024.0);

    std::error_code ec;
    fs::remove_all(root, ec);
    return large_ok && failed == 0 ? 0 : 1;
}

// Extract FL3 and Encode FL3 on a generated archive of more than 1 GiB
// (thousands of small members and a few of 300 MiB), against `cp` of the
// same bytes in the same run (best of three rounds each), with the peak
// resident memory. Extraction is also set against `cp -r` of the member
// folder it made: the same files, so the same cost of creating them.
//
//   bench_fl3 [FOLDER]     (default: $TMPDIR, else /tmp)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fl3/fl3.h"
#include "kit/fl3_archive.h"
#include "kit/kit.h"
#include "platform/file.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

// Timed from a clean state: what earlier steps wrote is on disk first.
double seconds_of(auto&& work) {
    if (std::system("sync") != 0) std::fprintf(stderr, "sync failed\n");
    return bench::seconds_of(work);
}

// `cp` (with -r for a folder) from `from` to `to`, which is removed after.
double cp_seconds(const std::string& from, const std::string& to) {
    const std::string cmd = "cp -r '" + from + "' '" + to + "'";
    double s = seconds_of([&] {
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cp failed\n");
    });
    std::error_code ec;
    fs::remove_all(to, ec);
    return s;
}

bool same_bytes(const std::string& a, const std::string& b) {
    auto fa = vid::platform::File::open(a, vid::platform::OpenMode::read_existing);
    auto fb = vid::platform::File::open(b, vid::platform::OpenMode::read_existing);
    if (!fa || !fb || fa->size() != fb->size()) return false;
    vid::Bytes ba(1 << 20), bb(1 << 20);
    for (;;) {
        std::size_t na = fa->read_full(ba), nb = fb->read_full(bb);
        if (na != nb || !std::equal(ba.begin(), ba.begin() + static_cast<std::ptrdiff_t>(na), bb.begin())) return false;
        if (na == 0) return true;
    }
}

long max_rss_kib(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string tmpl = base + "/bench_fl3.XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        std::fprintf(stderr, "bench_fl3: cannot make a folder in %s\n", base.c_str());
        return 1;
    }
    const std::string dir = tmpl, archive = dir + "/bench.fl3", packed = dir + "/packed.fl3", copy = dir + "/copy";

    vid::kit::Rng rng(0xB3AC4);
    std::vector<vid::kit::Fl3Spec> members;
    std::uint64_t total = 0;
    for (int i = 0; i < 5000; ++i) {
        members.push_back({"small" + std::to_string(i) + ".dat", rng.below(65536)});
        total += members.back().size;
        if (i % 1700 == 0) {
            members.push_back({"large" + std::to_string(i) + ".bin", 300u << 20});
            total += members.back().size;
        }
    }
    double gen = seconds_of([&] {
        if (!vid::kit::write_fl3_file(archive, members, 42)) std::fprintf(stderr, "cannot write %s\n", archive.c_str());
    });
    const auto bytes = fs::file_size(archive);
    std::printf("archive: %zu members, %.1f MiB of member data, %.1f MiB in all (generated in %.2f s)\n",
                members.size(), static_cast<double>(total) / (1 << 20), static_cast<double>(bytes) / (1 << 20), gen);

    // Best of three rounds: writeback of earlier rounds makes single runs noisy.
    bench::QuietUi ui;
    const double mib = static_cast<double>(bytes) / (1 << 20);
    double cp1 = 1e9, ext = 1e9, cp_folder = 1e9, cp2 = 1e9, pack = 1e9;
    for (int round = 0; round < 3; ++round) {
        // Every run writes fresh files, as cp does.
        std::error_code ec;
        fs::remove_all(dir + "/bench_fl3", ec);
        fs::remove(packed, ec);
        cp1 = std::min(cp1, cp_seconds(archive, copy));
        ext = std::min(ext, seconds_of([&] { vid::fl3::extract(ui, archive); }));
        cp_folder = std::min(cp_folder, cp_seconds(dir + "/bench_fl3", copy));
        cp2 = std::min(cp2, cp_seconds(archive, copy));
        pack = std::min(pack, seconds_of([&] {
            if (auto index = vid::fl3::load_index(ui, dir + "/bench_fl3/_index.bin")) vid::fl3::compact(ui, *index, packed);
        }));
    }
    const bool identical = same_bytes(archive, packed);

    std::printf("cp of the archive:    %6.2f s  %7.1f MiB/s\n", cp1, mib / cp1);
    std::printf("extract:              %6.2f s  %7.1f MiB/s  ratio to cp %.2f\n", ext, mib / ext, ext / cp1);
    std::printf("cp -r of the members: %6.2f s  %7.1f MiB/s  (the same files: extract's ratio to it %.2f)\n",
                cp_folder, mib / cp_folder, ext / cp_folder);
    std::printf("cp of the archive:    %6.2f s  %7.1f MiB/s\n", cp2, mib / cp2);
    std::printf("pack:                 %6.2f s  %7.1f MiB/s  ratio to cp %.2f\n", pack, mib / pack, pack / cp2);
    std::printf("packed archive byte-identical: %s; alerts: %d\n", identical ? "yes" : "NO", ui.alerts);
    std::printf("peak resident memory: %.1f MiB (this process), %.1f MiB (cp)\n",
                static_cast<double>(max_rss_kib(RUSAGE_SELF)) / 1024, static_cast<double>(max_rss_kib(RUSAGE_CHILDREN)) / 1024);

    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}

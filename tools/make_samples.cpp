// Makes the bundled sample game folder from nothing but this program: the
// archive data.fl3, holding members of several sizes (zero-size ones
// included) and the sample files of every format, and those sample files
// loose in the folder as well. The same bytes on every run and every
// machine. With --corpus, makes the fuzz targets' seed corpora instead,
// one folder per target (as kept in fuzz/corpus).
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "kit/fl3_archive.h"
#include "kit/fuzz_corpus.h"
#include "kit/kit.h"
#include "kit/samples.h"
#include "platform/file.h"

namespace {

using vid::Bytes;
using vid::kit::Member;

Bytes noise(vid::kit::Rng& rng, std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = rng.byte();
    return b;
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::vector<Member> plain_members() {
    vid::kit::Rng rng(0x5A3F1E);
    std::vector<Member> m;
    m.emplace_back("readme.txt", text("Sample game data, made by vidodide-samples.\r\n"));
    m.emplace_back("empty.dat", Bytes{});
    m.emplace_back("one.bin", noise(rng, 1));
    m.emplace_back("save000.sav", Bytes{});
    m.emplace_back("table.bin", noise(rng, 300));
    m.emplace_back("fifteen_chars.x", noise(rng, 15));  // the longest name of the old in-memory record
    m.emplace_back("a_name_of_sixteen", noise(rng, 16));
    m.emplace_back("level01.map", noise(rng, 4096));
    m.emplace_back("music.bin", noise(rng, 70001));
    return m;
}

bool write_file(const std::string& path, const Bytes& bytes) {
    auto f = vid::platform::File::open(path, vid::platform::OpenMode::create_always);
    if (f && f->write(bytes) && f->close()) return true;
    std::fprintf(stderr, "vidodide-samples: cannot write %s\n", path.c_str());
    return false;
}

int make_corpora(const std::string& folder) {
    for (const auto& [target, seeds] : vid::kit::fuzz_corpora()) {
        const std::string dir = folder + "/" + target;
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        std::size_t bytes = 0;
        for (const auto& [name, data] : seeds) {
            if (!write_file(dir + "/" + name, data)) return 1;
            bytes += data.size();
        }
        std::printf("%s: %zu seeds, %zu bytes\n", dir.c_str(), seeds.size(), bytes);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--corpus") return make_corpora(argv[2]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vidodide-samples FOLDER\n       vidodide-samples --corpus FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);

    std::vector<Member> members = plain_members();
    std::vector<Member> loose;
    for (auto part : {vid::kit::sample_images, vid::kit::sample_sounds, vid::kit::sample_scripts})
        for (auto& m : part()) loose.push_back(std::move(m));
    members.insert(members.end(), loose.begin(), loose.end());
    std::set<std::string> names;
    for (const auto& [name, bytes] : members) {
        if (!names.insert(name).second) {
            std::fprintf(stderr, "vidodide-samples: member %s is made twice\n", name.c_str());
            return 1;
        }
    }

    const auto write = write_file;
    for (const auto& [name, bytes] : loose) {
        if (!write(folder + "/" + name, bytes)) return 1;
        std::printf("%s/%s: %zu bytes\n", folder.c_str(), name.c_str(), bytes.size());
    }
    const std::string path = folder + "/data.fl3";
    const Bytes archive = vid::kit::fl3_archive(members);
    if (!write(path, archive)) return 1;
    for (const auto& [name, bytes] : members) std::printf("  %-24s %8zu bytes\n", name.c_str(), bytes.size());
    std::printf("%s: %zu members, %zu bytes\n", path.c_str(), members.size(), archive.size());
    return 0;
}

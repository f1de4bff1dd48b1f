// Makes the bundled sample game folder from nothing but this program: the
// archive data.fl3, holding members of several sizes (zero-size ones
// included) and the sample files of every format, and those sample files
// loose in the folder as well. The same bytes on every run and every
// machine. With --corpus, makes the fuzz targets' seed corpora instead,
// one folder per target (as kept in fuzz/corpus).
//
// Two more modes make single large inputs for the GUI benchmark:
//   vidodide-samples --script KIB FILE            a script of at least KIB KiB
//   vidodide-samples --archive MEMBERS MIB FILE   an archive of MEMBERS members, MIB MiB of member data
//
// And two for the mod project: --game FOLDER makes the sample folder plus
// sub/more.fl3, whose members are the hard cases of unpack (for the tests);
// --mod-game FOLDER MEMBERS MIB a game of four archives of that many
// members and MiB, decodable members among them (for the benchmark).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "kit/fl3_archive.h"
#include "kit/fuzz_corpus.h"
#include "kit/kit.h"
#include "kit/samples.h"
#include "kit/script_maker.h"
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

int usage() {
    std::fprintf(stderr,
                 "usage: vidodide-samples FOLDER\n"
                 "       vidodide-samples --game FOLDER\n"
                 "       vidodide-samples --mod-game FOLDER MEMBERS MIB\n"
                 "       vidodide-samples --corpus FOLDER\n"
                 "       vidodide-samples --script KIB FILE\n"
                 "       vidodide-samples --archive MEMBERS MIB FILE\n");
    return 2;
}

// A positive decimal count no larger than `max`, or 0.
std::uint64_t count_arg(const char* text, std::uint64_t max) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    return end && *end == 0 && text[0] >= '1' && text[0] <= '9' && v <= max ? v : 0;
}

// Random instructions that encode back to the same bytes.
int make_script(std::uint64_t kib, const std::string& path) {
    vid::kit::Rng rng(0xB16AB);
    const Bytes script = vid::kit::random_script(rng, static_cast<std::size_t>(kib) * 1024);
    if (!write_file(path, script)) return 1;
    std::printf("%s: %zu bytes\n", path.c_str(), script.size());
    return 0;
}

// Members of random sizes around the mean, the last one making up the total.
int make_archive(std::uint64_t members, std::uint64_t mib, const std::string& path) {
    const std::uint64_t total = mib << 20, mean = total / members;
    if (mean == 0) return usage();
    vid::kit::Rng rng(0xA3C41);
    std::vector<vid::kit::Fl3Spec> layout;
    std::uint64_t left = total;
    for (std::uint64_t i = 0; i < members; ++i) {
        std::uint64_t size = i + 1 == members ? left : mean / 2 + rng.below(static_cast<std::uint32_t>(mean));
        size = std::min(size, left);
        layout.push_back({"member" + std::to_string(i) + ".dat", static_cast<std::uint32_t>(size)});
        left -= size;
    }
    if (!vid::kit::write_fl3_file(path, layout, 0xA3C42)) {
        std::fprintf(stderr, "vidodide-samples: cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("%s: %llu members, %llu bytes of member data\n", path.c_str(),
                static_cast<unsigned long long>(members), static_cast<unsigned long long>(total));
    return 0;
}

// sub/more.fl3: a script beside a text of the same stem, two images whose
// names differ only in case, a damaged image (its packed data cut short), a
// sound that ends inside its header, and a plain member.
int make_game_extras(const std::string& folder) {
    const auto images = vid::kit::sample_images();
    const auto scripts = vid::kit::sample_scripts();
    Bytes damaged = images[0].second;
    damaged.resize(damaged.size() / 2);
    const std::vector<Member> members = {
        {"intro.ab", scripts[0].second},
        {"intro.txt", text("Not a listing: a text member of its own.\r\n")},
        {"Logo.bm2", images[1].second},
        {"logo.bm2", images[2].second},
        {"broken.bm2", damaged},
        {"short.wv5", Bytes{1, 0, 0, 0, 1, 0, 0x22, 0x56}},
        {"credits.dat", text("credits")},
    };
    std::error_code ec;
    std::filesystem::create_directories(folder + "/sub", ec);
    const std::string path = folder + "/sub/more.fl3";
    if (!write_file(path, vid::kit::fl3_archive(members))) return 1;
    std::printf("%s: %zu members\n", path.c_str(), members.size());
    return 0;
}

// A game for the mod project's benchmark: `archives` archives in folders of
// their own, MEMBERS members and MIB MiB in all; every eighth member an
// image, a sound or a script of the samples (under a name of its own), the
// others noise of random sizes around the mean.
int make_mod_game(const std::string& folder, std::uint64_t members, std::uint64_t mib) {
    constexpr std::uint64_t archives = 4;
    std::vector<Member> decodable;
    for (auto part : {vid::kit::sample_images, vid::kit::sample_sounds, vid::kit::sample_scripts})
        for (auto& m : part()) decodable.push_back(std::move(m));
    vid::kit::Rng rng(0x6A3E5);
    const std::uint64_t mean = (mib << 20) / members;
    std::uint64_t made = 0;
    for (std::uint64_t a = 0; a < archives; ++a) {
        std::vector<Member> list;
        const std::uint64_t count = members / archives + (a < members % archives ? 1 : 0);
        for (std::uint64_t i = 0; i < count; ++i, ++made) {
            if (made % 8 == 0) {
                const Member& d = decodable[(made / 8) % decodable.size()];
                const auto dot = d.first.rfind('.');
                list.emplace_back(d.first.substr(0, dot) + "_" + std::to_string(made) + d.first.substr(dot), d.second);
            } else {
                const auto size = static_cast<std::size_t>(mean / 2 + rng.below(static_cast<std::uint32_t>(mean)));
                list.emplace_back("data" + std::to_string(made) + ".dat", noise(rng, size));
            }
        }
        const std::string dir = folder + "/part" + std::to_string(a);
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        const std::string path = dir + "/data.fl3";
        if (!write_file(path, vid::kit::fl3_archive(list))) return 1;
        std::printf("%s: %zu members\n", path.c_str(), list.size());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--corpus") return make_corpora(argv[2]);
    if (argc == 4 && std::string(argv[1]) == "--script") {
        const std::uint64_t kib = count_arg(argv[2], 1 << 20);
        return kib ? make_script(kib, argv[3]) : usage();
    }
    if (argc == 5 && std::string(argv[1]) == "--archive") {
        const std::uint64_t members = count_arg(argv[2], 65535), mib = count_arg(argv[3], 4000);
        return members && mib ? make_archive(members, mib, argv[4]) : usage();
    }
    if (argc == 5 && std::string(argv[1]) == "--mod-game") {
        const std::uint64_t members = count_arg(argv[3], 1 << 20), mib = count_arg(argv[4], 16000);
        return members && mib ? make_mod_game(argv[2], members, mib) : usage();
    }
    const bool game = argc == 3 && std::string_view(argv[1]) == "--game";
    if (!game && (argc != 2 || argv[1][0] == '-')) return usage();
    const std::string folder = argv[argc - 1];
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
    return game ? make_game_extras(folder) : 0;
}

// FL3: the directory reader over any bytes, then the same bytes as an
// archive that is extracted into a private folder and packed back, as long
// as what the archive describes stays small.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fl3/fl3.h"
#include "kit/fl3_archive.h"
#include "fl3/format.h"
#include "platform/file.h"

namespace {

namespace fs = std::filesystem;

class SilentUi : public vid::Ui {
public:
    void status(std::string_view, vid::Draw) override {}
    void alert(std::string_view) override {}
};

const std::string& work_folder() {
    static const std::string folder = [] {
        char tmpl[] = "/tmp/fuzz_fl3.XXXXXX";
        const char* made = ::mkdtemp(tmpl);
        if (!made) std::abort();
        std::string f = made;
        static std::string to_remove = f;
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(to_remove, ec);
        });
        return f;
    }();
    return folder;
}

// What extracting would write, at most: the index copy and every member.
bool small_enough(vid::ByteView data) {
    auto header = vid::fl3::parse_header(data);
    if (!header) return true;
    if (header->dir_length > (1u << 16) || header->entry_count > 64) return false;
    if (header->dir_offset >= data.size()) return true;
    vid::fl3::MemorySource src(data.subspan(header->dir_offset));
    auto dir = vid::fl3::read_directory(src, header->entry_count);
    std::uint64_t total = 0;
    for (const auto& e : dir.entries) total += e.size;
    return total <= (1u << 20);
}

}  // namespace

// Seeds an empty corpus folder (the first argument that is not an option)
// with a few well-formed archives, so that runs start from real directories.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    for (int i = 1; i < *argc; ++i) {
        std::string arg = (*argv)[i];
        std::error_code ec;
        if (arg.empty() || arg[0] == '-' || !fs::is_directory(arg, ec) || !fs::is_empty(arg, ec)) continue;
        using vid::kit::Member;
        const std::vector<Member> members{{"a.txt", {'h', 'i'}}, {"empty", {}}, {"b.bin", vid::Bytes(40, 7)}};
        const vid::Bytes seeds[] = {
            vid::kit::fl3_archive({}),
            vid::kit::fl3_archive(members),
            vid::kit::fl3_archive(members, vid::Bytes{'x', 'y'}),
        };
        int n = 0;
        for (const auto& seed : seeds) {
            if (auto f = vid::platform::File::open(arg + "/seed" + std::to_string(n++), vid::platform::OpenMode::create_always))
                f->write(seed);
        }
        break;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vid::ByteView bytes(data, size);
    {
        vid::fl3::MemorySource src(bytes);
        auto dir = vid::fl3::read_directory(src, vid::fl3::kMaxEntries);
        if (dir.length > size) std::abort();
        for (const auto& e : dir.entries) (void)vid::fl3::is_safe_name(e.name);
    }
    if (!small_enough(bytes)) return 0;

    const std::string& folder = work_folder();
    const std::string archive = folder + "/a.fl3", members = folder + "/a_fl3";
    {
        auto f = vid::platform::File::open(archive, vid::platform::OpenMode::create_always);
        if (!f || !f->write(bytes)) std::abort();
    }
    SilentUi ui;
    vid::fl3::extract(ui, archive);
    if (auto index = vid::fl3::load_index(ui, members + "/_index.bin")) vid::fl3::compact(ui, *index, folder + "/b.fl3");

    std::error_code ec;
    fs::remove_all(members, ec);
    fs::remove(archive, ec);
    fs::remove(folder + "/b.fl3", ec);
    // Nothing may be left beside the member folder.
    if (!fs::is_empty(folder, ec)) std::abort();
    return 0;
}

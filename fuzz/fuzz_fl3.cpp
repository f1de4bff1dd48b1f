// FL3: the directory reader over any bytes, then the same bytes as an
// archive extracted into a private folder and packed back, as long as what
// it describes stays small. Nothing may be written beside the member folder.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fl3/fl3.h"
#include "fl3/format.h"
#include "platform/file.h"

namespace {

struct SilentUi : vid::Ui {
    void status(std::string_view, vid::Draw) override {}
    void alert(std::string_view) override {}
};

char folder[] = "/tmp/fuzz_fl3.XXXXXX";  // made once, removed at exit

// Whether extracting would write little: the index copy and every member.
bool small_enough(vid::ByteView data) {
    const auto header = vid::fl3::parse_header(data);
    if (!header || header->dir_offset >= data.size()) return true;
    if (header->dir_length > (1u << 16) || header->entry_count > 64) return false;
    vid::fl3::MemorySource src(data.subspan(header->dir_offset));
    std::uint64_t total = 0;
    for (const auto& e : vid::fl3::read_directory(src, header->entry_count).entries) total += e.size;
    return total <= (1u << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vid::ByteView bytes(data, size);
    vid::fl3::MemorySource src(bytes);
    if (vid::fl3::read_directory(src, vid::fl3::kMaxEntries).length > size) std::abort();
    if (!small_enough(bytes)) return 0;
    static const bool made = ::mkdtemp(folder) && std::atexit([] { std::filesystem::remove_all(folder); }) == 0;
    if (!made) std::abort();
    const std::string dir = folder, archive = dir + "/a.fl3";
    if (auto f = vid::platform::File::open(archive, vid::platform::OpenMode::create_always); !f || !f->write(bytes))
        std::abort();
    SilentUi ui;
    vid::fl3::extract(ui, archive);
    if (auto index = vid::fl3::load_index(ui, dir + "/a_fl3/_index.bin")) vid::fl3::compact(ui, *index, dir + "/b.fl3");
    std::filesystem::remove_all(dir + "/a_fl3");
    std::filesystem::remove(archive);
    std::filesystem::remove(dir + "/b.fl3");
    if (!std::filesystem::is_empty(dir)) std::abort();
    return 0;
}

// Reads and writes that fail in the middle of a run. The test program is
// linked with the system's read(), write() and copy_file_range() wrapped
// (see CMakeLists.txt): a planted fault makes the calls on one file fail,
// or end early, once a given number of its bytes have passed; a copy
// inside the system counts as a read of its input and a write of its output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "bm2/encode.h"
#include "fl3/fl3.h"
#include "kit/fl3_archive.h"
#include "kit/lzss_bm2.h"
#include "kit/wv5_encode.h"
#include "project/project.h"
#include "test_support.h"
#include "wv5/wv5.h"

extern "C" ssize_t __real_read(int fd, void* buf, size_t n);
extern "C" ssize_t __real_write(int fd, const void* buf, size_t n);
extern "C" ssize_t __real_copy_file_range(int in, off64_t* in_off, int out, off64_t* out_off, size_t n, unsigned flags);

namespace {

struct Fault {
    bool on_write = false;
    std::string name;       // the file's name ends with this
    std::size_t after = 0;  // bytes that pass before the fault
    bool eof = false;       // reads end (the file seems shorter) rather than fail
    std::size_t passed = 0;
    bool armed = false;
    bool copy_only = false;  // only the system's copy fails, as where it cannot copy between two files
    std::atomic<bool>* stop = nullptr;  // writes do not fail: this is set once `after` bytes have passed
} fault;
std::size_t system_copied = 0;  // bytes copied inside the system, of any file

bool hit(int fd, bool on_write) {
    if (!fault.armed || fault.on_write != on_write) return false;
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t k = readlink(link, target, sizeof target - 1);
    if (k <= 0) return false;
    const std::string path(target, static_cast<std::size_t>(k));
    return path.size() >= fault.name.size() && path.compare(path.size() - fault.name.size(), fault.name.size(), fault.name) == 0;
}

// What may pass of `n` bytes before the fault; -1 when the call fails now.
ssize_t allowed(std::size_t n) {
    const std::size_t left = fault.after - std::min(fault.after, fault.passed);
    if (left == 0) return -1;
    return static_cast<ssize_t>(std::min(n, left));
}

}  // namespace

extern "C" ssize_t __wrap_read(int fd, void* buf, size_t n) {
    if (fault.copy_only || !hit(fd, false)) return __real_read(fd, buf, n);
    const ssize_t k = allowed(n);
    if (k < 0) return fault.eof ? 0 : (errno = EIO, -1);
    const ssize_t got = __real_read(fd, buf, static_cast<std::size_t>(k));
    if (got > 0) fault.passed += static_cast<std::size_t>(got);
    return got;
}

extern "C" ssize_t __wrap_write(int fd, const void* buf, size_t n) {
    if (fault.copy_only || !hit(fd, true)) return __real_write(fd, buf, n);
    if (fault.stop) {
        const ssize_t put = __real_write(fd, buf, n);
        if (put > 0 && (fault.passed += static_cast<std::size_t>(put)) >= fault.after) fault.stop->store(true);
        return put;
    }
    const ssize_t k = allowed(n);
    if (k < 0) return errno = ENOSPC, -1;
    const ssize_t put = __real_write(fd, buf, static_cast<std::size_t>(k));
    if (put > 0) fault.passed += static_cast<std::size_t>(put);
    return put;
}

extern "C" ssize_t __wrap_copy_file_range(int in, off64_t* in_off, int out, off64_t* out_off, size_t n,
                                          unsigned flags) {
    const bool on_write = hit(out, true);
    ssize_t got;
    if (!on_write && !hit(in, false)) {
        got = __real_copy_file_range(in, in_off, out, out_off, n, flags);
    } else {
        const ssize_t k = allowed(n);
        if (k < 0) return fault.copy_only ? (errno = EXDEV, -1) : on_write ? (errno = ENOSPC, -1) : fault.eof ? 0 : (errno = EIO, -1);
        got = __real_copy_file_range(in, in_off, out, out_off, static_cast<std::size_t>(k), flags);
        if (got > 0) fault.passed += static_cast<std::size_t>(got);
    }
    if (got > 0) system_copied += static_cast<std::size_t>(got);
    return got;
}

namespace vid {
namespace {

using test::RecordingUi;

std::set<std::string> listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

struct Planted {
    Planted(bool on_write, std::string name, std::size_t after, bool eof = false) {
        fault = Fault{on_write, std::move(name), after, eof, 0, true};
    }
    ~Planted() {
        fault.armed = fault.copy_only = false;
        fault.stop = nullptr;
    }
};

Bytes wav(std::size_t samples) {
    Bytes b = test::bytes_of("RIFF");
    put_u32(b, static_cast<std::uint32_t>(36 + 2 * samples));
    for (const char* s : {"WAVEfmt "}) b.insert(b.end(), s, s + 8);
    put_u32(b, 16), put_u16(b, 1), put_u16(b, 1), put_u32(b, 8000), put_u32(b, 16000), put_u16(b, 2), put_u16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put_u32(b, static_cast<std::uint32_t>(2 * samples));
    for (std::size_t i = 0; i < samples; ++i) put_u16(b, static_cast<std::uint16_t>(i * 37));
    return b;
}

TEST(Faults, FailingReadsAndWritesLoseNothing) {
    test::ScratchDir dir;
    const Bytes bmp = kit::bmp24(64, 40, 3), original = kit::bm2_file(kit::bmp24(64, 40, 4));
    const Bytes sound = wav(30000), old_sound = kit::Wv5Builder(1, 8000).run0({1, 2, 3}).finish();
    const struct {
        const char* what;
        bool on_write;
        const char* name;
        std::size_t after;
        bool eof;
        bool (*run)(Ui&, const std::string&);
        const char* input;
        const char* kept;  // a file that must be as it was before
        std::vector<std::string> absent;  // files that must not be there
        std::string alert;
    } cases[] = {
        // The original is read whole as the template first, then again as it is kept.
        {"the original, cut short while it is kept", false, "/pic.bm2", original.size() + 100, true, bm2::encode_file, "pic.bmp",
         "pic.bm2", {"pic.bm2.orig"}, "Can't read "},
        {"the original, failing while it is kept", false, "/pic.bm2", original.size() + 100, false, bm2::encode_file, "pic.bmp",
         "pic.bm2", {"pic.bm2.orig"}, "Can't read "},
        {"the WAV's samples, failing", false, "/voice.wav", 20000, false, wv5::encode_file, "voice.wav", "voice.wv5",
         {"voice.wv5.orig"}, "Can't read "},
        {"the PNG, failing to be written", true, ".tmp", 50, false, bm2::decode_png_file, "pic.bm2", "pic.png", {},
         "Can't write "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::write_file(dir.file("pic.bmp"), bmp);
        test::write_file(dir.file("pic.bm2"), original);
        test::write_file(dir.file("pic.png"), old_sound);
        test::write_file(dir.file("voice.wav"), sound);
        test::write_file(dir.file("voice.wv5"), old_sound);
        const Bytes before = test::read_file(dir.file(c.kept));
        RecordingUi ui;
        bool ok;
        {
            Planted p(c.on_write, c.name, c.after, c.eof);
            ok = c.run(ui, dir.file(c.input));
        }
        EXPECT_FALSE(ok);
        ASSERT_EQ(ui.alerts().size(), 1u);
        EXPECT_EQ(ui.alerts()[0].rfind(c.alert, 0), 0u) << ui.alerts()[0];
        EXPECT_EQ(test::read_file(dir.file(c.kept)), before);
        for (const auto& name : c.absent) EXPECT_FALSE(test::file_exists(dir.file(name))) << name;
        std::remove(dir.file("pic.bm2.orig").c_str());
        std::remove(dir.file("voice.wv5.orig").c_str());
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"pic.bmp", "pic.bm2", "pic.png", "voice.wav", "voice.wv5"}));
    }
}

TEST(Faults, MemberThatShrinksWhileItIsPacked) {
    test::ScratchDir dir;
    Bytes big(100000, 7);
    test::write_file(dir.file("g.fl3"), kit::fl3_archive({{"a.bin", test::bytes_of("first")}, {"big.bin", big},
                                                          {"z.bin", test::bytes_of("last")}}));
    RecordingUi ui;
    ASSERT_TRUE(fl3::extract(ui, dir.file("g.fl3")));
    auto index = fl3::load_index(ui, dir.file("g_fl3/_index.bin"));
    ASSERT_TRUE(index);
    ui.events.clear();
    {
        Planted p(false, "/big.bin", 70000, true);
        EXPECT_FALSE(fl3::compact(ui, *index, dir.file("out.fl3")));  // a member skipped
    }
    ASSERT_EQ(ui.alerts().size(), 1u);
    EXPECT_EQ(ui.alerts()[0], dir.file("g_fl3/big.bin") + " changed while it was packed: it is not packed\nSkip it");
    // The archive as if big.bin were not there: the two others, back to back.
    EXPECT_EQ(test::read_file(dir.file("out.fl3")),
              kit::fl3_archive({{"a.bin", test::bytes_of("first")}, {"z.bin", test::bytes_of("last")}}));
}

}  // namespace
}  // namespace vid

namespace vid {
namespace {

// Members of 64 KiB and more that stand alike within 4 KiB pages in both
// files are copied inside the system (copy_file_range), others through the
// buffers; both ways give the same bytes, and a fault in the system's copy
// is told like a failed read or write.
TEST(Faults, MembersCopiedInsideTheSystem) {
    const auto pattern = [](std::size_t n, std::uint8_t seed) {
        Bytes b(n);
        for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
        return b;
    };
    // In the archive (28-byte header) a.bin starts at 28, b.bin at 4096,
    // c.bin at 69631 and d.bin at 135168: only d.bin is both large enough
    // and in step with the page of its file (at 0 when extracted, at 135168
    // when packed).
    const std::vector<kit::Member> members = {{"a.bin", pattern(4068, 1)},
                                              {"b.bin", pattern(65535, 2)},
                                              {"c.bin", pattern(65537, 3)},
                                              {"d.bin", pattern(65536, 4)}};
    const Bytes archive = kit::fl3_archive(members);
    test::ScratchDir dir;
    test::write_file(dir.file("g.fl3"), archive);
    RecordingUi ui;
    system_copied = 0;
    ASSERT_TRUE(fl3::extract(ui, dir.file("g.fl3")));
    EXPECT_EQ(system_copied, 65536u);
    for (const auto& m : members) EXPECT_EQ(test::read_file(dir.file("g_fl3/" + m.first)), m.second) << m.first;
    auto index = fl3::load_index(ui, dir.file("g_fl3/_index.bin"));
    ASSERT_TRUE(index);
    system_copied = 0;
    ASSERT_TRUE(fl3::compact(ui, *index, dir.file("again.fl3")));
    EXPECT_EQ(system_copied, 65536u);
    EXPECT_EQ(test::read_file(dir.file("again.fl3")), archive);
    EXPECT_TRUE(ui.alerts().empty());

    {  // the system stops copying part way through d.bin: the rest goes through the buffers
        RecordingUi u;
        std::filesystem::remove_all(dir.file("g_fl3"));
        {
            Planted p(false, "/g.fl3", 1000);  // inside d.bin, the only one copied so
            fault.copy_only = true;
            EXPECT_TRUE(fl3::extract(u, dir.file("g.fl3")));
        }
        for (const auto& m : members) EXPECT_EQ(test::read_file(dir.file("g_fl3/" + m.first)), m.second) << m.first;
        auto again = fl3::load_index(u, dir.file("g_fl3/_index.bin"));
        ASSERT_TRUE(again);
        {
            Planted p(false, "/d.bin", 5000);
            fault.copy_only = true;
            EXPECT_TRUE(fl3::compact(u, *again, dir.file("again.fl3")));
        }
        EXPECT_EQ(test::read_file(dir.file("again.fl3")), archive);
        EXPECT_TRUE(u.alerts().empty());
    }
    {  // d.bin's file fails to be written part way: extracting stops there
        RecordingUi u;
        std::remove(dir.file("g_fl3/d.bin").c_str());
        {
            Planted p(true, ".tmp", 4068 + 65535 + 65537 + 30000);  // counted over every member's file
            EXPECT_FALSE(fl3::extract(u, dir.file("g.fl3")));
        }
        ASSERT_EQ(u.alerts().size(), 1u);
        EXPECT_EQ(u.alerts()[0], "Can't write " + dir.file("g_fl3/d.bin"));
        EXPECT_FALSE(test::file_exists(dir.file("g_fl3/d.bin")));
    }
    {  // the archive fails to be read inside d.bin
        RecordingUi u;
        {
            Planted p(false, "/g.fl3", 135168 + 1000);
            EXPECT_FALSE(fl3::extract(u, dir.file("g.fl3")));
        }
        ASSERT_EQ(u.alerts().size(), 1u);
        EXPECT_EQ(u.alerts()[0], "Can't read " + dir.file("g.fl3"));
        EXPECT_FALSE(test::file_exists(dir.file("g_fl3/d.bin")));
    }
    {  // the new archive fails to be written inside d.bin: nothing is left of it
        test::write_file(dir.file("g_fl3/d.bin"), members[3].second);
        RecordingUi u;
        index = fl3::load_index(u, dir.file("g_fl3/_index.bin"));  // extracted anew above
        ASSERT_TRUE(index);
        {
            Planted p(true, ".tmp", 135168 + 1000);
            EXPECT_FALSE(fl3::compact(u, *index, dir.file("out.fl3")));
        }
        ASSERT_EQ(u.alerts().size(), 1u);
        EXPECT_EQ(u.alerts()[0], "Can't write " + dir.file("out.fl3"));
        EXPECT_FALSE(test::file_exists(dir.file("out.fl3")));
    }
}

}  // namespace
}  // namespace vid

namespace vid {
namespace {

// Esc (or a closed window) while repack copies a member of many MiB stops it
// between two pieces of that member, not only between members: nothing of
// the archive is left, and the status line names the member.
TEST(Faults, RepackStopsInsideALargeMember) {
    test::ScratchDir dir;
    std::filesystem::create_directories(dir.file("game"));
    test::write_file(dir.file("game/a.fl3"),
                     kit::fl3_archive({{"small.dat", test::bytes_of("small")}, {"big.dat", test::bytes_of("big")}}));
    RecordingUi ui;
    ASSERT_EQ(project::unpack(ui, dir.file("game"), dir.file("work"), {}), 0) << ui.last_status();
    test::write_file(dir.file("work/a_fl3/big.dat"), Bytes(std::size_t{20} << 20, 0x5A));  // three pieces of 8 MiB
    std::atomic<bool> stop{false};
    {
        Planted p(true, ".tmp", std::size_t{9} << 20);  // set inside the second piece
        fault.stop = &stop;
        EXPECT_EQ(project::repack(ui, dir.file("work"), dir.file("out"), 1, &stop), 1);
    }
    EXPECT_TRUE(stop.load());
    EXPECT_EQ(ui.last_status(), "Repacking stopped at a.fl3 big.dat: 0 files written whole to " + dir.file("out"));
    EXPECT_TRUE(listing(dir.file("out")).empty());
}

}  // namespace
}  // namespace vid

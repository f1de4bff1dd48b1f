// Reads and writes that fail in the middle of a run. The test program is
// linked with the system's read(), pread(), write(), copy_file_range() and
// splice() wrapped (see CMakeLists.txt): a planted fault makes the calls on
// one file fail, or end early, once a given number of its bytes have
// passed; a copy inside the system counts as a read of its input and a
// write of its output.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "bm2/encode.h"
#include "core/text.h"
#include "fl3/fl3.h"
#include "kit/fl3_archive.h"
#include "kit/lzss_bm2.h"
#include "kit/wv5_encode.h"
#include "project/project.h"
#include "project_support.h"
#include "wv5/wv5.h"

extern "C" ssize_t __real_read(int fd, void* buf, size_t n);
extern "C" ssize_t __real_pread(int fd, void* buf, size_t n, off_t off);
extern "C" ssize_t __real_write(int fd, const void* buf, size_t n);
extern "C" ssize_t __real_copy_file_range(int in, off64_t* in_off, int out, off64_t* out_off, size_t n, unsigned flags);
extern "C" ssize_t __real_splice(int in, off64_t* in_off, int out, off64_t* out_off, size_t n, unsigned flags);

namespace {

struct Fault {
    bool on_write = false;
    std::string name;       // the file's name ends with this
    std::size_t after = 0;  // bytes that pass before the fault
    bool eof = false;       // reads end (the file seems shorter) rather than fail
    std::size_t passed = 0;
    bool armed = false;
    bool copy_only = false;  // only the system's copies fail, as where it cannot copy between two files
    std::atomic<bool>* stop = nullptr;  // writes do not fail: this is set once `after` bytes have passed
    bool once = false;  // only the first call past `after` fails: the caller may go on
} fault;

// Bytes of any file written by each way of copying a range.
struct Copied {
    std::size_t range = 0;   // copy_file_range
    std::size_t splice = 0;  // splice, from the pipe into a file
    std::size_t pread = 0;   // pread, into the program's buffer
} copied;

bool hit(int fd, bool on_write) {
    if (!fault.armed || fault.on_write != on_write) return false;
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t k = readlink(link, target, sizeof target - 1);
    if (k <= 0) return false;
    const std::string path(target, static_cast<std::size_t>(k));
    return path.size() >= fault.name.size() && path.compare(path.size() - fault.name.size(), fault.name.size(), fault.name) == 0;
}

// A call that moves up to `n` bytes of the planted file, `real(k)` moving
// up to k of them: it moves all or fewer, or fails once `after` bytes have
// passed (with `system_errno` for a copy inside the system that cannot go
// on; a read may end early instead).
template <typename Real>
ssize_t planted(bool on_write, std::size_t n, int system_errno, const Real& real) {
    if (fault.stop) {
        const ssize_t put = real(n);
        if (put > 0 && (fault.passed += static_cast<std::size_t>(put)) >= fault.after) fault.stop->store(true);
        return put;
    }
    const std::size_t left = fault.after - std::min(fault.after, fault.passed);
    if (left == 0) {
        if (fault.once) fault.armed = false;
        errno = system_errno ? system_errno : on_write ? ENOSPC : EIO;
        return !system_errno && !on_write && fault.eof ? 0 : -1;
    }
    const ssize_t got = real(std::min(n, left));
    if (got > 0) fault.passed += static_cast<std::size_t>(got);
    return got;
}

}  // namespace

extern "C" ssize_t __wrap_read(int fd, void* buf, size_t n) {
    if (fault.copy_only || !hit(fd, false)) return __real_read(fd, buf, n);
    return planted(false, n, 0, [&](std::size_t k) { return __real_read(fd, buf, k); });
}

// While a fault is planted, the system gives no second name to a file (as a
// file system without hard links): an original kept as .orig is copied, and
// that copy can fail.
extern "C" int __real_link(const char* existing, const char* name);
extern "C" int __wrap_link(const char* existing, const char* name) {
    if (!fault.armed) return __real_link(existing, name);
    errno = EXDEV;
    return -1;
}

extern "C" ssize_t __wrap_pread(int fd, void* buf, size_t n, off_t off) {
    const ssize_t got = fault.copy_only || !hit(fd, false)
                            ? __real_pread(fd, buf, n, off)
                            : planted(false, n, 0, [&](std::size_t k) { return __real_pread(fd, buf, k, off); });
    if (got > 0) copied.pread += static_cast<std::size_t>(got);
    return got;
}

extern "C" ssize_t __wrap_write(int fd, const void* buf, size_t n) {
    if (fault.copy_only || !hit(fd, true)) return __real_write(fd, buf, n);
    return planted(true, n, 0, [&](std::size_t k) { return __real_write(fd, buf, k); });
}

extern "C" ssize_t __wrap_copy_file_range(int in, off64_t* in_off, int out, off64_t* out_off, size_t n,
                                          unsigned flags) {
    const bool on_write = hit(out, true);
    const auto real = [&](std::size_t k) { return __real_copy_file_range(in, in_off, out, out_off, k, flags); };
    const ssize_t got = on_write || hit(in, false) ? planted(on_write, n, fault.copy_only ? EXDEV : 0, real) : real(n);
    if (got > 0) copied.range += static_cast<std::size_t>(got);
    return got;
}

// From a file into a pipe, a read of the file; from the pipe into a file, a
// write of it.
extern "C" ssize_t __wrap_splice(int in, off64_t* in_off, int out, off64_t* out_off, size_t n, unsigned flags) {
    const bool on_write = hit(out, true);
    const auto real = [&](std::size_t k) { return __real_splice(in, in_off, out, out_off, k, flags); };
    const ssize_t got = on_write || hit(in, false) ? planted(on_write, n, fault.copy_only ? EINVAL : 0, real) : real(n);
    if (got > 0 && !in_off) copied.splice += static_cast<std::size_t>(got);
    return got;
}

namespace vid {
namespace {

using test::pattern;
using test::Project;
using test::RecordingUi;

struct Planted {
    Planted(bool on_write, std::string name, std::size_t after, bool eof = false) {
        fault = Fault{on_write, std::move(name), after, eof, 0, true};
    }
    ~Planted() {
        fault.armed = fault.copy_only = fault.once = false;
        fault.stop = nullptr;
    }
};

TEST(Faults, FailingReadsAndWritesLoseNothing) {
    test::ScratchDir dir;
    const Bytes bmp = kit::bmp24(64, 40, 3), original = kit::bm2_file(kit::bmp24(64, 40, 4));
    const Bytes sound = test::wav_mono(std::vector<std::int16_t>(30000, 37)), old_sound = kit::Wv5Builder(1, 8000).run0({1, 2, 3}).finish();
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
        EXPECT_EQ(test::names_in(dir.path()), (std::set<std::string>{"pic.bmp", "pic.bm2", "pic.png", "voice.wav", "voice.wv5"}));
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


// Members of 64 KiB and more are copied by the system: with
// copy_file_range where they stand alike within 4 KiB pages in both files,
// through a buffer placed half a page away where the output stands 1-63
// bytes ahead of the input within a page, with splice elsewhere; smaller
// ones through the buffers. Every way gives the same bytes, and a fault in
// any of them is told like a failed read or write.
TEST(Faults, MembersCopiedInsideTheSystem) {
    // Where each member stands in the archive (28-byte header), and so how
    // far ahead within a page its file stands when extracted (at 0) and
    // when packed again (at the same place):
    //   a.bin    4068 at      28: small
    //   b.bin   65473 at    4096: small
    //   c.bin 1114175 at   69569 (4033 in its page): extracted 63 ahead, packed 4033 ahead
    //   d.bin   65600 at 1183744 (0): in step both ways
    //   e.bin 2203583 at 1249344 (64): extracted 4032 ahead, packed 64 ahead
    //   f.bin   70000 at 3452927 (4095): extracted 1 ahead, packed 4095 ahead
    // c.bin and e.bin take more than one round through the 1 MiB buffer or
    // pipe.
    const std::vector<kit::Member> members = {{"a.bin", pattern(4068, 1)},
                                              {"b.bin", pattern(65473, 2)},
                                              {"c.bin", pattern(1114175, 3)},
                                              {"d.bin", pattern(65600, 4)},
                                              {"e.bin", pattern(2203583, 5)},
                                              {"f.bin", pattern(70000, 6)}};
    const Bytes archive = kit::fl3_archive(members);
    test::ScratchDir dir;
    test::write_file(dir.file("g.fl3"), archive);
    RecordingUi ui;
    copied = {};
    ASSERT_TRUE(fl3::extract(ui, dir.file("g.fl3")));
    EXPECT_EQ(copied.range, 65600u);            // d.bin
    EXPECT_EQ(copied.pread, 1114175u + 70000);  // c.bin and f.bin
    EXPECT_EQ(copied.splice, 2203583u);         // e.bin
    for (const auto& m : members) EXPECT_EQ(test::read_file(dir.file("g_fl3/" + m.first)), m.second) << m.first;
    auto index = fl3::load_index(ui, dir.file("g_fl3/_index.bin"));
    ASSERT_TRUE(index);
    copied = {};
    ASSERT_TRUE(fl3::compact(ui, *index, dir.file("again.fl3")));
    EXPECT_EQ(copied.range, 65600u);                       // d.bin
    EXPECT_EQ(copied.pread, 0u);
    EXPECT_EQ(copied.splice, 1114175u + 2203583 + 70000);  // c.bin, e.bin and f.bin
    EXPECT_EQ(test::read_file(dir.file("again.fl3")), archive);
    EXPECT_TRUE(ui.alerts().empty());

    // Faults part way through each way of copying. Counts run over every
    // call on the named file: the archive is first read whole through the
    // buffer, the extracted files are all ".tmp" until complete.
    struct Case {
        const char* what;
        bool extract;      // else pack the member folder
        bool on_write;
        const char* name;  // of the file that fails
        std::size_t after;
        bool copy_only;    // only the system's copies fail: the rest goes through the buffers
        std::string alert;  // empty: the same bytes are written all the same
        const char* gone;   // the file that must not be left
    };
    const std::size_t before_c = 4068 + 65473, before_d = before_c + 1114175, before_e = before_d + 65600;
    const std::string cant_read = "Can't read " + dir.file("g.fl3"), cant_pack = "Can't write " + dir.file("out.fl3");
    const std::vector<Case> cases = {
        {"copy_file_range stops inside d.bin", true, false, "/g.fl3", 1000, true, "", nullptr},
        {"splice stops taking g.fl3 inside e.bin", true, false, "/g.fl3", 65600 + 2000000, true, "", nullptr},
        {"g.fl3 cannot be read inside c.bin", true, false, "/g.fl3", 69569 + 1100000, false, cant_read, "g_fl3/c.bin"},
        {"g.fl3 cannot be read inside d.bin", true, false, "/g.fl3", 1183744 + 1000, false, cant_read, "g_fl3/d.bin"},
        {"c.bin's file cannot be written", true, true, ".tmp", before_c + 1100000, false,
         "Can't write " + dir.file("g_fl3/c.bin"), "g_fl3/c.bin"},
        {"d.bin's file cannot be written", true, true, ".tmp", before_d + 30000, false,
         "Can't write " + dir.file("g_fl3/d.bin"), "g_fl3/d.bin"},
        {"e.bin's file cannot be written", true, true, ".tmp", before_e + 2000000, false,
         "Can't write " + dir.file("g_fl3/e.bin"), "g_fl3/e.bin"},
        {"splice stops giving c.bin, the pipe still full", false, true, ".tmp", 1000, true, "", nullptr},
        {"splice stops giving e.bin, the pipe still full", false, true, ".tmp", 1114175 + 65600 + 1000, true, "", nullptr},
        {"copy_file_range stops taking d.bin", false, false, "/d.bin", 5000, true, "", nullptr},
        {"the archive cannot be written inside c.bin", false, true, ".tmp", 69569 + 1000, false, cant_pack, "out.fl3"},
        {"the archive cannot be written inside d.bin", false, true, ".tmp", 1183744 + 1000, false, cant_pack, "out.fl3"},
        {"the archive cannot be written inside e.bin", false, true, ".tmp", 1249344 + 2000000, false, cant_pack, "out.fl3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingUi u;
        std::filesystem::remove_all(dir.file("g_fl3"));
        std::optional<fl3::Index> folder;  // packed from it again
        if (!c.extract) {
            ASSERT_TRUE(fl3::extract(u, dir.file("g.fl3")));
            ASSERT_TRUE(folder = fl3::load_index(u, dir.file("g_fl3/_index.bin")));
            std::filesystem::remove(dir.file("out.fl3"));
        }
        bool done;
        {
            Planted p(c.on_write, c.name, c.after);
            fault.copy_only = c.copy_only;
            done = c.extract ? fl3::extract(u, dir.file("g.fl3")) : fl3::compact(u, *folder, dir.file("out.fl3"));
        }
        EXPECT_EQ(fault.passed, c.after) << "the fault was not reached";
        if (c.alert.empty()) {
            EXPECT_TRUE(done);
            EXPECT_TRUE(u.alerts().empty());
            if (c.extract)
                for (const auto& m : members) EXPECT_EQ(test::read_file(dir.file("g_fl3/" + m.first)), m.second) << m.first;
            else
                EXPECT_EQ(test::read_file(dir.file("out.fl3")), archive);
        } else {
            EXPECT_FALSE(done);
            ASSERT_EQ(u.alerts().size(), 1u);
            EXPECT_EQ(u.alerts()[0], c.alert);
            EXPECT_FALSE(test::file_exists(dir.file(c.gone)));
        }
    }
}

// An archive a.fl3 of one member m.dat ("abc"), unpacked.
Project one_member() { return Project({{"a.fl3", kit::fl3_archive({{"m.dat", test::bytes_of("abc")}})}}); }

// Esc (or a closed window) while repack copies a member of many MiB stops it
// between two pieces of that member, not only between members: nothing of
// the archive is left, and the status line names the member.
TEST(Faults, RepackStopsInsideALargeMember) {
    Project p({{"a.fl3", kit::fl3_archive({{"small.dat", test::bytes_of("small")}, {"big.dat", test::bytes_of("big")}})}});
    test::write_file(p.work + "/a_fl3/big.dat", Bytes(std::size_t{20} << 20, 0x5A));  // three pieces of 8 MiB
    std::atomic<bool> stop{false};
    RecordingUi ui;
    {
        Planted planted(true, ".tmp", std::size_t{9} << 20);  // set inside the second piece
        fault.stop = &stop;
        EXPECT_EQ(project::repack(ui, p.work, p.out, 1, &stop), 1);
    }
    EXPECT_TRUE(stop.load());
    EXPECT_EQ(ui.last_status(), "Repacking stopped at a.fl3 big.dat: 0 files written whole to " + p.out);
    EXPECT_TRUE(test::names_in(p.out).empty());
}

// An edited file that another program holds cannot be read: it is no
// unchanged file (the edit would be dropped unseen) but one that status
// lists and repack refuses, saying why.
TEST(Faults, AnEditedFileThatCannotBeReadIsNotDropped) {
    Project p({{"a.fl3", kit::fl3_archive({{"pic.bm2", kit::bm2_file(kit::bmp24(8, 4, 3))}})}});
    const std::string edit = p.work + "/edit/a_fl3/pic.png";
    ASSERT_TRUE(test::file_exists(edit));
    test::write_file(edit, test::bytes_of("an edit held open elsewhere"));
    Planted planted(false, "/pic.png", 0);
    RecordingUi ui, repacking;
    EXPECT_EQ(project::status(ui, p.work), 1);
    EXPECT_EQ(ui.last_status(), "Status: 1 change since unpack");
    EXPECT_EQ(project::repack(repacking, p.work, p.out, 1), 1);
    ASSERT_FALSE(repacking.alerts().empty());
    EXPECT_EQ(repacking.alerts()[0],
              "Can't read " + edit + ": it may be open in another program. Close it there and repack again");
    EXPECT_FALSE(test::file_exists(p.out + "/a.fl3"));
}

// A full disk: every write fails once the first few hundred bytes (the
// manifest that unpack writes first, marked unfinished) have gone. Three
// Alerts tell of the first failures, one more says that the run stopped and
// how to go on; the members after them are not tried, and unpack goes on
// into the same work folder once there is room.
TEST(Faults, UnpackStopsOnAFullDisk) {
    std::vector<kit::Member> members;
    for (int i = 0; i < 20; ++i) members.emplace_back("m" + std::to_string(i) + ".dat", Bytes(1000, 0x41));
    Project p({{"a.fl3", kit::fl3_archive(members)}}, std::nullopt);
    RecordingUi ui, again;
    {
        Planted planted(true, ".tmp", 400);
        EXPECT_EQ(project::unpack(ui, p.game, p.work, {}), 1);
    }
    const auto alerts = ui.alerts();
    ASSERT_EQ(alerts.size(), 5u) << ui.last_status();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(alerts[i].rfind("Can't write " + p.work + "/a_fl3/", 0), 0u) << alerts[i];
    EXPECT_EQ(alerts[3], "Can't write " + p.work + "/vidodide-project.json");
    EXPECT_EQ(alerts[4], "Unpacking stopped: files could not be written into " + p.work +
                             " (is the disk full?). Make room and unpack again into the same work folder: it goes on "
                             "where it stopped.");
    EXPECT_EQ(project::unpack(again, p.game, p.work, {}), 0) << again.last_status();
    EXPECT_EQ(again.last_status(), "Unpacking OK: 1 archive, 20 files, 0 editable files");
    EXPECT_EQ(test::read_file(p.work + "/a_fl3/m19.dat"), Bytes(1000, 0x41));
}

// Repack copies the unchanged members from the game's archive and the
// replaced ones from the work folder in pieces of 8 MiB, inside the system
// where it can: the way depends on where the bytes stand within their
// 4 KiB pages in both files, which a replaced first member of another
// size shifts. A system copy that stops part way (once) is taken up where
// it stopped, through the buffers; the archive comes out byte for byte.
//   head.dat   replaced by 4000 + shift bytes, at 28
//   big.dat    8,700,000 bytes of the original, at 4028 (4028 + shift in the patch)
//   rep.dat    replaced by 300,000 bytes of the work folder
//   tail.dat   10 bytes of the original
TEST(Faults, RepackTakesUpACopyWhereTheSystemStopped) {
    const Bytes big = pattern(8700000, 7), rep_old = pattern(70000, 8), rep = pattern(300000, 9), tail = pattern(10, 10);
    Project p({{"a.fl3", kit::fl3_archive({{"head.dat", pattern(4000, 6)}, {"big.dat", big}, {"rep.dat", rep_old},
                                           {"tail.dat", tail}})}});
    test::write_file(p.work + "/a_fl3/rep.dat", rep);
    const std::size_t piece = std::size_t{8} << 20;
    struct Case {
        const char* what;
        std::size_t shift;    // of big.dat in the patch against the original
        std::size_t into;     // the bytes of big.dat (or with `in_rep`, of rep.dat) copied before the stop
        bool in_rep;
        std::size_t Copied::*way;  // the way that copies them
        std::size_t least;         // at least this many bytes
    };
    const Case cases[] = {
        {"copy_file_range, big.dat in step", 0, piece + 100000, false, &Copied::range, piece + 100000},
        {"the buffer, big.dat 5 bytes ahead", 5, piece + 100000, false, &Copied::pread, piece + 100000},
        {"splice, big.dat 100 bytes ahead", 100, piece + 100000, false, &Copied::splice, piece + 100000},
        {"copy_file_range fails at once: the first piece through the buffers", 0, 0, false, &Copied::range,
         8700000 - piece},
        {"rep.dat through splice", 100, 150000, true, &Copied::splice, 150000},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes head = pattern(4000 + c.shift, 11 + n);
        test::write_file(p.work + "/a_fl3/head.dat", head);
        const std::string out = p.dir.file("out" + std::to_string(++n));
        const std::size_t before = 28 + head.size() + (c.in_rep ? big.size() : 0);
        RecordingUi u;
        copied = {};
        int status;
        {
            Planted planted(true, ".tmp", before + c.into);
            fault.once = true;
            status = project::repack(u, p.work, out, 1);
            EXPECT_FALSE(fault.armed) << "the fault was not reached";
        }
        EXPECT_EQ(status, 0) << u.last_status();
        EXPECT_GE(copied.*c.way, c.least) << "not copied the way meant";
        EXPECT_EQ(test::read_file(out + "/a.fl3"),
                  kit::fl3_archive({{"head.dat", head}, {"big.dat", big}, {"rep.dat", rep}, {"tail.dat", tail}}));
    }
}

// A file that ends early or fails while repack copies it (it was cut
// meanwhile, or the system reads less than its size): the copy ends there,
// the archive is not written, and the copy tells it (naming the file that
// failed, not the patch), not the check. A file that the copy reads whole
// but that ends when the check reads it again fails the check, the last
// member too (the check is told of every member written), with one worker
// (the check after the writing) or two (the check while it is written).
TEST(Faults, RepackCopyWhoseInputEndsEarlyOrFails) {
    Project p({{"a.fl3", kit::fl3_archive({{"big.dat", pattern(5000000, 1)}, {"small.dat", pattern(5000, 2)}})}});
    test::write_file(p.work + "/a_fl3/small.dat", pattern(200000, 3));
    test::write_file(p.work + "/a_fl3/z.dat", pattern(3000, 4));  // added: the copy is the first to read it
    enum Told { by_the_copy, cant_read, by_the_check };
    const struct {
        const char* what;
        const char* name;
        std::size_t after;
        bool eof;
        unsigned jobs;
        Told told;
    } cases[] = {
        // The game's archive is first read into the reader's buffer of 4 MiB
        // from the header, then from the directory (30 bytes) to its end.
        {"the game's archive, inside big.dat", "/a.fl3", (std::size_t{4} << 20) + 30 + 2000000, true, 1, by_the_copy},
        {"the replaced small.dat", "/small.dat", 100000, true, 1, by_the_copy},
        {"the replaced small.dat, on its last byte", "/small.dat", 199999, true, 1, by_the_copy},
        {"the replaced small.dat, failing", "/small.dat", 100000, false, 1, cant_read},
        {"z.dat read whole, then ended for the check", "/z.dat", 3000, true, 1, by_the_check},
        {"the same with two workers", "/z.dat", 3000, true, 2, by_the_check},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = p.dir.file("out" + std::to_string(++n));
        RecordingUi u;
        {
            Planted planted(false, c.name, c.after, c.eof);
            EXPECT_EQ(project::repack(u, p.work, out, c.jobs), 1);
        }
        ASSERT_EQ(u.alerts().size(), 1u);
        const std::string alert = u.alerts()[0], file = p.work + "/a_fl3" + c.name;
        if (c.told == by_the_check)
            EXPECT_EQ(alert, out + "/a.fl3 failed its check and is not written: member z.dat differs from " + file);
        else
            EXPECT_EQ(alert.find("failed its check"), std::string::npos) << alert;
        if (c.told == cant_read) EXPECT_EQ(alert.rfind("Can't read " + file, 0), 0u) << alert;
        EXPECT_TRUE(test::names_in(out).empty());
    }
}

// A member file that is there but cannot be read may hold a change: status
// lists it as replaced (not as deleted), and repack does not write it.
TEST(Faults, AMemberFileThatCannotBeRead) {
    Project p = one_member();
    std::filesystem::remove(p.work + "/vidodide-project.stamps");  // the file is read, not trusted by its stamp
    Planted planted(false, "/m.dat", 0);
    RecordingUi st, packing;
    EXPECT_EQ(project::status(st, p.work), 1);
    EXPECT_EQ(st.texts(test::Event::status_now),
              std::vector<std::string>{"Replaced: " + p.work + "/a_fl3/m.dat (packed as it is into a.fl3:m.dat)"});
    EXPECT_EQ(project::repack(packing, p.work, p.out, 1), 1);
    EXPECT_EQ(packing.alerts().size(), 1u);
    EXPECT_FALSE(test::file_exists(p.out + "/a.fl3"));
}

// Pieces of 64 KiB and more go inside the system, smaller ones through the
// buffers: members of exactly 64 KiB and one byte less, at the start of a
// page in the archive (as at 0 in their files), extracted and packed by
// repack from the work folder.
TEST(Faults, SystemCopiesFrom64KiB) {
    // b at 4096, c at 69632
    Project p({{"g.fl3", kit::fl3_archive({{"a", pattern(4068, 1)}, {"b", pattern(65536, 2)}, {"c", pattern(65535, 3)}})}},
              std::nullopt);
    copied = {};
    RecordingUi ui;
    ASSERT_TRUE(fl3::extract(ui, p.game + "/g.fl3"));
    EXPECT_EQ(copied.range + copied.splice + copied.pread, 65536u);
    std::filesystem::remove_all(p.game + "/g_fl3");
    ASSERT_EQ(project::unpack(ui, p.game, p.work, {}), 0) << ui.last_status();
    const std::vector<kit::Member> members = {{"a", pattern(4068, 4)}, {"b", pattern(65536, 5)}, {"c", pattern(65535, 6)}};
    for (const auto& [name, bytes] : members) test::write_file(p.work + "/g_fl3/" + name, bytes);  // all from the work folder
    copied = {};
    ASSERT_EQ(project::repack(ui, p.work, p.out, 1), 0) << ui.last_status();
    EXPECT_EQ(copied.range + copied.splice + copied.pread, 65536u);
    EXPECT_EQ(test::read_file(p.out + "/g.fl3"), kit::fl3_archive(members));
}

// A patch applied to a game on a disk that fills up half-way through an
// archive, or a delta applied to a game's file whose reads fail once its
// hash was taken: that archive stays the game's own, with no backup and no
// temporary file beside it; once the disk works, the same patch goes in.
TEST(Faults, PatchOnAFailingDiskLeavesTheGamesFile) {
    const Bytes original = kit::fl3_archive({{"m.dat", pattern(300000, 1)}});
    const struct {
        bool delta, on_write;
        const char* name;
        std::size_t after;
        const char* why;  // %s: the game's file
    } cases[] = {
        {false, true, ".tmp", 100000, "Can't write %s: %s is left as it was"},
        {true, false, "/player/a.fl3", original.size() + 1000, "Can't read %s: %s is left as it was"},
    };
    for (const auto& c : cases) {
        Project p({{"a.fl3", original}});
        test::write_file(p.work + "/a_fl3/m.dat", pattern(300000, 2));
        project::RepackOptions options;
        options.delta = c.delta;
        RecordingUi repacking;
        ASSERT_EQ(project::repack(repacking, p.work, p.out, options), 0) << repacking.last_status();
        const std::string whole = p.dir.file("whole");
        ASSERT_EQ(project::repack(repacking, p.work, whole, 1), 0) << repacking.last_status();
        const std::string player = p.dir.file("player"), game_file = player + "/a.fl3";
        std::filesystem::create_directory(player);
        test::write_file(game_file, original);
        RecordingUi ui;
        {
            Planted planted(c.on_write, c.name, c.after);
            EXPECT_EQ(project::apply_patch(ui, p.out, player, {}), 1) << c.name;
        }
        ASSERT_EQ(ui.alerts().size(), 1u) << c.name;
        EXPECT_EQ(ui.alerts()[0], format(c.why, {game_file, game_file}));
        EXPECT_EQ(ui.last_status(), "Patching: 0 files patched in " + player + ", 1 file not");
        EXPECT_EQ(test::names_in(player), (std::set<std::string>{"a.fl3"}));
        EXPECT_EQ(test::read_file(game_file), original);
        RecordingUi again;
        EXPECT_EQ(project::apply_patch(again, p.out, player, {}), 0) << again.last_status();
        EXPECT_EQ(test::read_file(game_file), test::read_file(whole + "/a.fl3"));
        EXPECT_EQ(test::read_file(game_file + ".orig"), original);
    }
}

}  // namespace
}  // namespace vid

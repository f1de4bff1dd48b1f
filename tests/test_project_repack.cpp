// Status and repack through files: what counts as a change, what goes
// into the patch, and the archives repack refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "kit/fl3_archive.h"
#include "project/project.h"
#include "project_support.h"

namespace vid {
namespace {

namespace fs = std::filesystem;
using test::RecordingUi;

using test::Project;

std::vector<std::string> statuses(const RecordingUi& ui) {
    auto now = ui.texts(test::Event::status_now), later = ui.texts(test::Event::status_later);
    now.insert(now.end(), later.begin(), later.end());
    return now;
}

// Files in a member folder that are no members: the index, the temporary
// files of the output layer ("~vd...tmp", more than the 7 characters of
// "~vd.tmp"), the backups "NAME.orig" of members in any case, folders.
TEST(ProjectStatus, FilesInAMemberFolderThatAreNoMembers) {
    // A member without a name (no file can have it) has no backup ".orig".
    Project p({{"a.fl3", kit::fl3_archive({{"m.dat", test::bytes_of("abc")}, {"", test::bytes_of("q")}})}}, 1);
    for (const char* name : {"~vd1-2.tmp", "~vdx.tmp", "~vd.tmp", "x~vd1.tmp", "~vd1.tmpx", "m.dat.orig", "M.DAT.ORIG",
                             "n.dat.orig", ".orig", "_INDEX.BIN"})
        test::write_file(p.work + "/a_fl3/" + name, std::string_view("x"));
    fs::create_directory(p.work + "/a_fl3/sub");
    RecordingUi ui;
    EXPECT_EQ(project::status(ui, p.work), 1);
    std::vector<std::string> want;
    for (const char* name : {".orig", "n.dat.orig", "x~vd1.tmp", "~vd.tmp", "~vd1.tmpx"})
        want.push_back("Added: " + p.work + "/a_fl3/" + name + " (appended to a.fl3)");
    want.push_back("Status: 5 changes since unpack");
    EXPECT_EQ(statuses(ui), want);
}

// A file that shows the size and time stamped at unpack is taken as
// unchanged, but only when it is older than the stamps file: one changed
// in the same clock tick as the stamps were written is hashed again.
TEST(ProjectStatus, FileChangedInTheClockTickOfTheStamps) {
    Project p({{"a.fl3", kit::fl3_archive({{"m.dat", test::bytes_of("abc")}})}});
    const std::string member = p.work + "/a_fl3/m.dat", stamps = p.work + "/vidodide-project.stamps";
    const auto stamped = fs::last_write_time(member);
    test::write_file(member, std::string_view("xyz"));  // the same size
    fs::last_write_time(member, stamped);               // and the time as stamped
    const std::string replaced = "Replaced: " + member + " (packed as it is into a.fl3:m.dat)";
    const struct {
        const char* what;
        std::chrono::nanoseconds after;  // the stamps file's time after the member's
        int status;
    } cases[] = {
        {"the same tick", std::chrono::nanoseconds(0), 1},
        {"a tick before", std::chrono::nanoseconds(-1), 1},
        {"a tick after: the stamp is trusted", std::chrono::nanoseconds(1), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::last_write_time(stamps, stamped + c.after);
        RecordingUi ui;
        EXPECT_EQ(project::status(ui, p.work), c.status);
        EXPECT_EQ(ui.texts(test::Event::status_now), c.status ? std::vector<std::string>{replaced} : std::vector<std::string>{});
    }
    fs::remove(stamps);  // every file hashed
    RecordingUi ui;
    EXPECT_EQ(project::status(ui, p.work), 1);
    EXPECT_EQ(ui.texts(test::Event::status_now), std::vector<std::string>{replaced});
}

// With three workers the 768 members are looked at in three runs of 256:
// the first and last member of each run changed, and each is packed. The
// others have a name that no file can have (unpack keeps them in the
// manifest only), so that few files are written.
TEST(ProjectRepack, ChangesFoundByEveryWorker) {
    const std::vector<int> edges = {0, 255, 256, 511, 512, 767};
    std::vector<kit::Member> members(768, {"?", {}});
    for (const int i : edges) members[i] = {"m" + std::to_string(i) + ".dat", Bytes{static_cast<std::uint8_t>(i)}};
    Project p({{"a.fl3", kit::fl3_archive(members)}}, 1);
    for (const int i : edges) {
        members[i].second = test::bytes_of("new " + std::to_string(i));
        test::write_file(p.work + "/a_fl3/" + members[i].first, members[i].second);
    }
    RecordingUi ui;
    ASSERT_EQ(project::repack(ui, p.work, p.out, 3), 0) << ui.last_status();
    EXPECT_EQ(test::read_file(p.out + "/a.fl3"), kit::fl3_archive(members));
}

// What goes into the patch for each kind of change: archives with a
// change, loose files replaced (the work folder's file) or edited
// (encoded), nothing for deleted files; the steps count what is written.
TEST(ProjectRepack, EachChangeOfArchivesAndLooseFiles) {
    const Bytes hi = {0x01, 0x00, 0x01, 0x00, 'H', 'i', 0x00};  // Update Text, Idx 1, "Hi"
    Project p({{"a.fl3", kit::fl3_archive({{"m.dat", test::bytes_of("abc")}})},
               {"b.fl3", kit::fl3_archive({{"n.dat", test::bytes_of("de")}})},
               {"c.fl3", kit::fl3_archive({{"o.dat", test::bytes_of("f")}})},
               {"r.ab", hi}, {"s.ab", hi}, {"sub/t.ab", hi}, {"v.ab", hi}});
    test::write_file(p.work + "/a_fl3/m.dat", std::string_view("ABCD"));
    fs::remove(p.work + "/b_fl3/n.dat");
    test::write_file(p.work + "/s.ab", std::string_view("replaced"));
    const Bytes b = test::read_file(p.work + "/edit/sub/t.txt");
    std::string listing(b.begin(), b.end());
    const auto at = listing.find("\nHi\n");
    ASSERT_NE(at, std::string::npos) << listing;
    listing.replace(at + 1, 2, "Ho");
    test::write_file(p.work + "/edit/sub/t.txt", listing);
    fs::remove(p.work + "/r.ab");

    RecordingUi st;
    EXPECT_EQ(project::status(st, p.work), 1);
    EXPECT_EQ(statuses(st), (std::vector<std::string>{
                                "Replaced: " + p.work + "/a_fl3/m.dat (packed as it is into a.fl3:m.dat)",
                                "Deleted: " + p.work + "/b_fl3/n.dat (the original's bytes are kept)",
                                "Deleted: " + p.work + "/r.ab (the original's bytes are kept)",
                                "Replaced: " + p.work + "/s.ab (packed as it is into s.ab)",
                                "Edited: " + p.work + "/edit/sub/t.txt (encoded back into sub/t.ab)",
                                "Status: 5 changes since unpack"}));
    RecordingUi ui;
    ASSERT_EQ(project::repack(ui, p.work, p.out), 0) << ui.last_status();
    std::vector<std::string> steps;
    for (const auto& s : statuses(ui))
        if (s.rfind("Repacking ", 0) == 0 || s.find("nothing written") != std::string::npos) steps.push_back(s);
    EXPECT_EQ(steps, (std::vector<std::string>{
                         "Repacking 1 of 3: a.fl3, 1 members",
                         "b.fl3: only member files were deleted, whose original bytes are kept: the archive is the "
                         "game's own, nothing written for it",
                         "Repacking 2 of 3: s.ab", "Repacking 3 of 3: sub/t.ab",
                         "Repacking OK: 3 files written to " + p.out}));
    EXPECT_EQ(test::files_in(p.out), (std::vector<std::string>{"a.fl3", "s.ab", "sub/t.ab", "vidodide-patch.json"}));
    EXPECT_EQ(test::read_file(p.out + "/a.fl3"), kit::fl3_archive({{"m.dat", test::bytes_of("ABCD")}}));
    EXPECT_EQ(test::read_file(p.out + "/s.ab"), test::bytes_of("replaced"));
    EXPECT_EQ(test::read_file(p.out + "/sub/t.ab"), (Bytes{0x01, 0x00, 0x01, 0x00, 'H', 'o', 0x00}));
}

// The game's archive is the source of every unchanged member: one that
// grew or shrank since unpack, or is gone, gives no archive.
TEST(ProjectRepack, GameArchiveChangedSinceUnpack) {
    const Bytes original = kit::fl3_archive({{"m.dat", test::bytes_of("abc")}, {"n.dat", test::bytes_of("de")}});
    const struct {
        const char* what;
        Bytes game;  // empty: the archive is gone
        const char* why;
    } cases[] = {
        {"one byte more", [&] { Bytes b = original; b.push_back(0); return b; }(), "changed since unpack"},
        {"one byte less", Bytes(original.begin(), original.end() - 1), "changed since unpack"},
        {"gone", {}, "not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Project p({{"a.fl3", original}});
        test::write_file(p.work + "/a_fl3/n.dat", std::string_view("DE"));
        if (c.game.empty())
            fs::remove(p.game + "/a.fl3");
        else
            test::write_file(p.game + "/a.fl3", c.game);
        RecordingUi ui;
        EXPECT_EQ(project::repack(ui, p.work, p.out), 1);
        EXPECT_EQ(ui.alerts(), std::vector<std::string>{p.game_named() + "/a.fl3 " + c.why + ": " + p.out +
                                                        "/a.fl3 is not written"});
        EXPECT_FALSE(fs::exists(p.out + "/a.fl3"));
    }
}

// A manifest whose members were put in another order by hand: each still
// stands where unpack found it, and is copied from there on its own (two
// members that follow each other in the manifest but not in the original
// are no one range).
TEST(ProjectRepack, MembersListedInAnotherOrderThanTheOriginals) {
    const kit::Member a{"a.dat", test::bytes_of("abc")}, b{"b.dat", test::bytes_of("de")}, c{"c.dat", test::bytes_of("fghi")};
    Project p({{"a.fl3", kit::fl3_archive({a, b, c})}});
    test::edit_manifest(p.work, [](nlohmann::json& m) {
        auto& members = m["archives"][0]["members"];
        members = nlohmann::json::array({members[1], members[0], members[2]});
    });
    test::write_file(p.work + "/a_fl3/z.dat", std::string_view("z"));
    RecordingUi ui;
    ASSERT_EQ(project::repack(ui, p.work, p.out), 0) << ui.last_status();
    EXPECT_EQ(test::read_file(p.out + "/a.fl3"), kit::fl3_archive({b, a, c, {"z.dat", test::bytes_of("z")}}));
}

// An FL3 directory counts at most 65,535 members: with the added files
// exactly that many is an archive, one more is refused. The 65,534
// members of the game have a name that no file can have: unpack keeps
// them in the manifest only.
TEST(ProjectRepack, ArchiveOfAtMost65535Members) {
    Project p({{"a.fl3", kit::fl3_archive(std::vector<kit::Member>(65534, {"?", {}}))}}, 1);
    test::write_file(p.work + "/a_fl3/y.dat", std::string_view("y"));
    RecordingUi ui;
    ASSERT_EQ(project::repack(ui, p.work, p.out), 0) << ui.last_status();
    std::vector<kit::Member> want(65534, {"?", {}});
    want.push_back({"y.dat", test::bytes_of("y")});
    EXPECT_EQ(test::read_file(p.out + "/a.fl3"), kit::fl3_archive(want));
    test::write_file(p.work + "/a_fl3/z.dat", std::string_view("z"));
    RecordingUi refusing;
    EXPECT_EQ(project::repack(refusing, p.work, p.dir.file("out2")), 1);
    EXPECT_EQ(refusing.alerts(), std::vector<std::string>{p.dir.file("out2/a.fl3") + " would hold more than 65535 members"});
    EXPECT_FALSE(fs::exists(p.dir.file("out2/a.fl3")));
}

}  // namespace
}  // namespace vid

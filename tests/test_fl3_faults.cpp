// FL3 archives and index files that are damaged, unsafe or too large, and
// failures while writing: what the user is told and what is (not) written.
#include <gtest/gtest.h>

#include <filesystem>

#include "fl3/fl3.h"
#include "test_fl3_support.h"
#include "test_support.h"

namespace vid {
namespace {

using namespace test::fl3b;
using test::Event;
using test::RecordingUi;
using Files = std::vector<std::pair<std::string, Bytes>>;

struct ExtractCase {
    const char* what;
    Bytes archive;
    std::vector<std::string> alert_has;  // parts of the one Alert; none: no Alert
    Files files;                         // the member folder's files besides _index.bin
    bool folder = true;                  // whether the member folder is made at all
};

TEST(Fl3Extract, DamagedAndUnsafeArchives) {
    const ExtractCase cases[] = {
        {"consistent", hdr(16, 30, 2) + txt("AB") + ent(1, "a") + ent(1, "b") + kEnd, {}, {{"a", txt("A")}, {"b", txt("B")}}},
        {"no end marker", hdr(100, 30, 2) + txt("AB") + ent(1, "a") + ent(1, "b"), {"no end marker"},
         {{"a", txt("A")}, {"b", txt("B")}}},
        {"entry cut short", hdr(100, 30, 3) + txt("AB") + ent(1, "a") + ent(1, "b") + u32(1), {"no end marker"},
         {{"a", txt("A")}, {"b", txt("B")}}},
        {"fewer entries than counted", hdr(16, 30, 3) + txt("AB") + ent(1, "a") + ent(1, "b") + kEnd,
         {"counts 3 members", "holds only 2"}, {{"a", txt("A")}, {"b", txt("B")}}},
        {"more entries than counted", hdr(16, 30, 1) + txt("AB") + ent(1, "a") + ent(1, "b") + kEnd,
         {"more entries than the 1"}, {{"a", txt("A")}}},
        {"directory longer than its length", hdr(8, 30, 2) + txt("AB") + ent(1, "a") + ent(1, "b") + kEnd,
         {"takes 16 bytes, more than the 8"}, {{"a", txt("A")}, {"b", txt("B")}}},
        {"member past the end", hdr(10, 29, 1) + txt("X") + ent(20, "t") + kEnd, {"truncated: 1 of its members"},
         {{"t", txt("X") + ent(20, "t") + kEnd + Bytes(9, 0)}}},
        {"unsafe names", hdr(99, 31, 5) + txt("ABC") + ent(1, "..") + ent(1, "ok") + ent(1, "a/b") + ent(0, "") + ent(0, "c\\:") + kEnd,
         {"Member \"..\" is refused", "3 more members"}, {{"ok", txt("B")}}},
        {"header cut short", txt("FL3.0"), {"shorter than the 28 bytes"}, {}, false},
        {"directory beyond the end", hdr(4, 33, 0) + kEnd, {"beyond the end of the file"}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        const std::string archive = dir.file("x.fl3");
        test::write_file(archive, c.archive);
        RecordingUi ui;
        EXPECT_EQ(fl3::extract(ui, archive), c.alert_has.empty());
        const auto alerts = ui.alerts();
        ASSERT_EQ(alerts.size(), c.alert_has.empty() ? 0u : 1u);
        for (const auto& part : c.alert_has) {
            EXPECT_NE(alerts[0].find(archive), std::string::npos) << alerts[0];
            EXPECT_NE(alerts[0].find(part), std::string::npos) << alerts[0];
        }
        EXPECT_EQ(ui.last_status() == "Extracting OK", c.alert_has.empty());
        if (c.folder && !c.alert_has.empty()) EXPECT_EQ(ui.last_status(), "Extracting " + archive + ": not extracted in full");
        std::set<std::string> want_top{"x.fl3"};
        if (c.folder) want_top.insert("x_fl3");
        EXPECT_EQ(listing(dir.path()), want_top) << "nothing is written beside the member folder";
        if (!c.folder) continue;
        std::set<std::string> want{"_index.bin"};
        for (const auto& [name, bytes] : c.files) {
            want.insert(name);
            EXPECT_EQ(test::read_file(dir.file("x_fl3/" + name)), bytes) << name;
        }
        EXPECT_EQ(listing(dir.file("x_fl3")), want);
    }
}

TEST(Fl3Extract, OutputsThatCannotBeCreated) {
    const Bytes archive = hdr(22, 31, 3) + txt("ABC") + ent(1, "a") + ent(1, "m") + ent(1, "z") + kEnd;
    {  // a member whose name is taken by a folder: the text goes to the status line, then the Alert
        test::ScratchDir dir;
        test::write_file(dir.file("x.fl3"), archive);
        std::filesystem::create_directories(dir.file("x_fl3/m"));
        RecordingUi ui;
        EXPECT_FALSE(fl3::extract(ui, dir.file("x.fl3")));
        const std::string text = "Can't create " + dir.file("x_fl3/m");
        const std::vector<Event> tail{{Event::status_now, "Extracting " + dir.file("x.fl3") + ":m"},
                                      {Event::status_later, text},
                                      {Event::alert, text}};
        ASSERT_GE(ui.events.size(), 3u);
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), ui.events.end() - 3));
        EXPECT_TRUE(test::file_exists(dir.file("x_fl3/a")));
        EXPECT_FALSE(test::file_exists(dir.file("x_fl3/z")));
    }
    {  // the member folder's name taken by a file: _index.bin cannot be created
        test::ScratchDir dir;
        test::write_file(dir.file("x.fl3"), archive);
        test::write_file(dir.file("x_fl3"), "plain file");
        RecordingUi ui;
        EXPECT_FALSE(fl3::extract(ui, dir.file("x.fl3")));
        EXPECT_EQ(ui.events, (std::vector<Event>{{Event::status_now, "Extracting " + dir.file("x.fl3")},
                                                 {Event::alert, "Can't create " + dir.file("x_fl3/_index.bin")}}));
    }
    {
        RecordingUi ui;
        EXPECT_FALSE(fl3::extract(ui, "/nonexistent/y.fl3"));
        EXPECT_EQ(ui.alerts(), std::vector<std::string>{"/nonexistent/y.fl3 not found"});
    }
}

TEST(Fl3Extract, PathsOverTheLimit) {
    test::ScratchDir dir;
    const std::string deep = dir.file(std::string(200, 'd'));
    std::filesystem::create_directory(deep);
    const std::string archive = deep + "/x.fl3", long_name(70, 'L');
    test::write_file(archive, hdr(91, 30, 2) + txt("AB") + ent(1, long_name) + ent(1, "s") + kEnd);
    RecordingUi ui;
    EXPECT_FALSE(fl3::extract(ui, archive));
    ASSERT_EQ(ui.alerts().size(), 1u);
    EXPECT_NE(ui.alerts()[0].find(deep + "/x_fl3/" + long_name + "\nPath too long"), std::string::npos);
    EXPECT_EQ(listing(deep + "/x_fl3"), (std::set<std::string>{"_index.bin", "s"}));

    RecordingUi ui2;
    const std::string too_long = deep + "/" + std::string(60, 'y') + ".fl3";
    EXPECT_FALSE(fl3::extract(ui2, too_long));
    EXPECT_EQ(ui2.alerts(), std::vector<std::string>{too_long + "\nPath too long: more than 259 characters"});
}

TEST(Fl3Index, RefusedBeforeTheArchiveIsAskedFor) {
    Bytes many;
    for (int i = 0; i < 65535; ++i) many.insert(many.end(), {0, 0, 0, 0, 1, 'a'});
    struct Case {
        const char* what;
        Bytes index;
        std::string alert_has;  // empty: accepted
    } cases[] = {
        {"65535 entries", many + kEnd, ""},
        {"65536 entries", many + ent(0, "a") + kEnd, "more than 65535 entries"},
        {"empty file", {}, "no end marker"},
        {"no end marker", ent(1, "a"), "no end marker"},
        {"marker cut short", ent(1, "a") + Bytes{0xFF, 0xFF, 0xFF}, "no end marker"},
        {"parent folder", ent(0, "..") + kEnd, "Member \"..\" is refused"},
        {"empty name", ent(0, "ok") + ent(0, "") + kEnd, "Member \"\" is refused"},
        {"drive letter", ent(0, "c:x") + kEnd, "Member \"c:x\" is refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        test::write_file(dir.file("_index.bin"), c.index);
        RecordingUi ui;
        auto index = fl3::load_index(ui, dir.file("_index.bin"));
        EXPECT_EQ(index.has_value(), c.alert_has.empty());
        if (index) EXPECT_EQ(index->names.size(), 65535u);
        if (!c.alert_has.empty()) {
            ASSERT_EQ(ui.alerts().size(), 1u);
            EXPECT_NE(ui.alerts()[0].find(c.alert_has), std::string::npos) << ui.alerts()[0];
            EXPECT_NE(ui.alerts()[0].find(dir.file("_index.bin")), std::string::npos);
        }
        EXPECT_TRUE(ui.texts(Event::status_now).empty());
    }
    RecordingUi ui;
    EXPECT_FALSE(fl3::load_index(ui, "/nonexistent/_index.bin"));
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{"/nonexistent/_index.bin not found"});
}

TEST(Fl3Compact, MissingMemberIsLeftOutOfTheDirectory) {
    test::ScratchDir dir;
    std::filesystem::create_directory(dir.file("g_fl3"));
    test::write_file(dir.file("g_fl3/_index.bin"), ent(0, "a") + ent(0, "b") + ent(0, "c") + kEnd + txt("+"));
    test::write_file(dir.file("g_fl3/a"), "AA");
    test::write_file(dir.file("g_fl3/c"), "C");
    RecordingUi ui;
    auto index = fl3::load_index(ui, dir.file("g_fl3/_index.bin"));
    ASSERT_TRUE(index);
    EXPECT_FALSE(fl3::compact(ui, *index, dir.file("g.fl3")));
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{dir.file("g_fl3/b") + " not found\nSkip it"});
    EXPECT_EQ(test::read_file(dir.file("g.fl3")), hdr(17, 31, 2) + txt("AAC") + ent(2, "a") + ent(1, "c") + kEnd);
}

TEST(Fl3Compact, FailureLeavesTheOldArchiveAndNoTemporaryFile) {
    test::ScratchDir dir;
    std::filesystem::create_directory(dir.file("g_fl3"));
    test::write_file(dir.file("g_fl3/_index.bin"), ent(0, "a") + ent(0, "huge") + kEnd);
    test::write_file(dir.file("g_fl3/a"), "AA");
    test::write_file(dir.file("g.fl3"), "old archive");
    test::write_file(dir.file("g_fl3/huge"), "");
    std::filesystem::resize_file(dir.file("g_fl3/huge"), 0xFFFFFFFFull);  // sparse: costs no disk
    RecordingUi ui;
    auto index = fl3::load_index(ui, dir.file("g_fl3/_index.bin"));
    ASSERT_TRUE(index);
    EXPECT_FALSE(fl3::compact(ui, *index, dir.file("g.fl3")));
    ASSERT_EQ(ui.alerts().size(), 1u);
    EXPECT_NE(ui.alerts()[0].find(dir.file("g_fl3/huge") + " is too large"), std::string::npos);
    EXPECT_EQ(test::read_file(dir.file("g.fl3")), txt("old archive"));
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"g.fl3", "g_fl3"}));
    EXPECT_NE(ui.last_status(), "Compacting OK");

    RecordingUi ui2;
    EXPECT_FALSE(fl3::compact(ui2, *index, dir.file("missing/g.fl3")));
    EXPECT_EQ(ui2.events, (std::vector<Event>{{Event::alert, "Can't create " + dir.file("missing/g.fl3")}}));
}

}  // namespace
}  // namespace vid

// FL3 archives: byte layouts against hand-made bytes, round trips, and
// archives and index files that are damaged, unsafe or too large.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "fl3/archive.h"
#include "fl3/fl3.h"
#include "fl3/format.h"
#include "kit/fl3_archive.h"
#include "platform/file.h"
#include "test_support.h"

namespace vid {
namespace {

using test::Event;
using test::RecordingUi;
using namespace std::literals;

using test::ent, test::hdr, test::kEnd;
const auto txt = test::bytes_of;

// The member folder g_fl3 in `dir`: `index` as its _index.bin beside
// `files`; the index as the packer loads it.
std::optional<fl3::Index> member_folder(RecordingUi& ui, const test::ScratchDir& dir, const Bytes& index,
                                        const std::vector<kit::Member>& files) {
    std::filesystem::create_directory(dir.file("g_fl3"));
    test::write_file(dir.file("g_fl3/_index.bin"), index);
    for (const auto& [name, bytes] : files) test::write_file(dir.file("g_fl3/" + name), bytes);
    return fl3::load_index(ui, dir.file("g_fl3/_index.bin"));
}

TEST(Fl3Layout, PackThenExtract) {
    // A name of 255 bytes never fits the path limit beside a folder name;
    // 200 bytes is as long as a name gets in practice.
    const std::string n15(15, 'f'), n16(16, 'g'), n200 = std::string(199, 'n') + "!";
    const struct {
        const char* what;
        Bytes index;                     // the index file given to the packer
        std::vector<kit::Member> files;  // member files in the folder
        Bytes archive;                   // the archive the packer must write
        Bytes index_out;                 // _index.bin after extracting that archive
        bool in_full = true;             // whether the archive extracts without a problem
    } cases[] = {
        {"empty archive", kEnd, {}, hdr(4, 28, 0) + kEnd, kEnd},
        {"zero-size members, stale sizes", ent(7, "a") + ent(0, "b") + ent(3, "c") + kEnd,
         {{"a", {}}, {"b", txt("xy")}, {"c", {}}},
         hdr(22, 30, 3) + txt("xy") + ent(0, "a") + ent(2, "b") + ent(0, "c") + kEnd,
         ent(0, "a") + ent(2, "b") + ent(0, "c") + kEnd},
        {"names of 15, 16 and 200 bytes", ent(0, n15) + ent(0, n16) + ent(0, n200) + kEnd,
         {{n15, txt("123")}, {n16, txt("")}, {n200, txt("4")}},
         hdr(250, 32, 3) + txt("1234") + ent(3, n15) + ent(0, n16) + ent(1, n200) + kEnd,
         ent(3, n15) + ent(0, n16) + ent(1, n200) + kEnd},
        {"bytes after the end marker", ent(1, "m") + kEnd + txt("junk!"), {{"m", txt("Z")}},
         hdr(15, 29, 1) + txt("Z") + ent(1, "m") + kEnd, ent(1, "m") + kEnd, false},  // no zeros for the junk
        {"duplicate names", ent(1, "d") + ent(1, "d") + kEnd, {{"d", txt("QQ")}},
         hdr(16, 32, 2) + txt("QQQQ") + ent(2, "d") + ent(2, "d") + kEnd, ent(2, "d") + ent(2, "d") + kEnd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        const std::string folder = dir.file("g_fl3"), archive = dir.file("g.fl3");
        RecordingUi ui;
        auto index = member_folder(ui, dir, c.index, c.files);
        ASSERT_TRUE(index);
        ASSERT_TRUE(fl3::compact(ui, *index, archive));
        EXPECT_EQ(test::read_file(archive), c.archive);
        std::vector<Event> want{{Event::status_now, "Compacting " + archive}};
        for (const auto& name : index->names)
            want.push_back({Event::status_now, "Compacting " + name + " into " + folder + "/" + name});
        want.push_back({Event::status_later, "Compacting OK"});
        EXPECT_EQ(ui.events, want);

        // The hand-made archive, extracted elsewhere.
        const std::string other = dir.file("h.fl3"), other_folder = dir.file("h_fl3");
        test::write_file(other, c.archive);
        ui.events.clear();
        ASSERT_EQ(fl3::extract(ui, other), c.in_full);
        EXPECT_EQ(ui.events.front(), (Event{Event::status_now, "Extracting " + other}));
        EXPECT_EQ(ui.events.back(), (Event{Event::status_later,
                                           c.in_full ? "Extracting OK" : "Extracting " + other + ": not extracted in full"}));
        EXPECT_EQ(ui.alerts().size(), c.in_full ? 0u : 1u);
        EXPECT_EQ(ui.events.size(), index->names.size() + 2 + ui.alerts().size());
        EXPECT_EQ(test::read_file(other_folder + "/_index.bin"), c.index_out);
        for (const auto& [name, bytes] : c.files) EXPECT_EQ(test::read_file(other_folder + "/" + name), bytes);
        EXPECT_EQ(test::names_in(dir.path()), (std::set<std::string>{"g.fl3", "g_fl3", "h.fl3", "h_fl3"}));
    }
}

TEST(Fl3Layout, RoundTripInPlaceWithAMemberLargerThanTheBuffer) {
    Bytes big((std::size_t{4} << 20) + 7);  // just over the 4 MiB streaming buffer
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 12));
    const Bytes original = kit::fl3_archive({{"big.bin", big}, {"zero", {}}, {"small", txt("s")}});
    test::ScratchDir dir;
    test::write_file(dir.file("r.fl3"), original);
    RecordingUi ui;
    ASSERT_TRUE(fl3::extract(ui, dir.file("r.fl3")));
    auto index = fl3::load_index(ui, dir.file("r_fl3/_index.bin"));
    ASSERT_TRUE(index);
    ASSERT_TRUE(fl3::compact(ui, *index, dir.file("r.fl3")));
    EXPECT_TRUE(ui.alerts().empty());
    auto f = platform::File::open(dir.file("r.fl3"), platform::OpenMode::read_existing);  // one read: quick on megabytes
    ASSERT_TRUE(f);
    Bytes packed(original.size() + 1);
    EXPECT_EQ(f->read_full(packed), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.end(), packed.begin()));
}

TEST(Fl3Format, UnsafeNamesAndTheIndexName) {
    // Names that would leave the folder, that Windows keeps for devices or
    // changes, and control characters; and their neighbours that are fine.
    for (auto bad : {""sv, "."sv, ".."sv, "..."sv, " "sv, "a."sv, "a "sv, "a\\b"sv, "a/b"sv, "c:"sv, "x\0y"sv, "q?.txt"sv,
                     "a<b"sv, "a>b"sv, "a|b"sv, "a*b"sv, "a\"b"sv, "\x1b[2J"sv, "a\rb"sv, "\x1f"sv, "CON"sv, "con.txt"sv,
                     "NUL .x"sv, "Aux"sv, "PRN.a.b"sv, "COM1"sv, "lpt9.dat"sv})
        EXPECT_FALSE(fl3::is_safe_name(bad)) << bad;
    EXPECT_FALSE(fl3::is_safe_name(std::string(256, 'a')));
    for (std::string_view good : {".a", "a b", "a.b", "\x7f", "\xE9t\xE9.bm2", "CONSOLE", "xCON", "COM10", "COM0",
                                  "LPT", "nul_x", "_index.bin"})
        EXPECT_TRUE(fl3::is_safe_name(good)) << good;
    for (auto index : {"_index.bin"sv, "_INDEX.BIN"sv, "_Index.Bin"sv}) EXPECT_TRUE(fl3::is_index_name(index)) << index;
    for (auto other : {"_index.bi"sv, "index.bin"sv, "_index.bin "sv, "x_index.bin"sv}) EXPECT_FALSE(fl3::is_index_name(other)) << other;
    EXPECT_TRUE(fl3::is_safe_name(std::string(255, 'a')));
    EXPECT_EQ(fl3::printable_name(std::string_view("a\n\0b", 4)), "a\\x0A\\x00b");
}

TEST(Fl3Archive, ReaderOpensAtEachBoundaryOfTheHeader) {
    const struct {
        const char* what;
        Bytes archive;
        fl3::Opened opened;
        std::size_t members;  // read by read_directory
        bool complete;
    } cases[] = {
        {"27 bytes", Bytes(27, 0), fl3::Opened::too_short, 0, false},
        {"28 bytes, directory at the end", hdr(4, 28, 0), fl3::Opened::directory_beyond_end, 0, false},
        {"directory one byte past the end", hdr(4, 33, 0) + kEnd, fl3::Opened::directory_beyond_end, 0, false},
        {"directory on the last byte", hdr(4, 31, 0) + kEnd, fl3::Opened::ok, 0, false},
        {"empty archive", hdr(4, 28, 0) + kEnd, fl3::Opened::ok, 0, true},
        {"two members", hdr(17, 31, 2) + txt("ABC") + ent(1, "a") + ent(2, "bc") + kEnd, fl3::Opened::ok, 2, true},
        {"one entry fewer than counted", hdr(17, 31, 3) + txt("ABC") + ent(1, "a") + ent(2, "bc") + kEnd,
         fl3::Opened::ok, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        test::write_file(dir.file("x.fl3"), c.archive);
        fl3::ArchiveReader archive(dir.file("x.fl3"));
        EXPECT_EQ(archive.opened(), c.opened);
        EXPECT_EQ(archive.size(), c.archive.size());
        EXPECT_EQ(archive.read_directory().entries.size(), c.members);
        EXPECT_EQ(archive.directory_complete(), c.complete);
    }
    fl3::ArchiveReader missing("no/such.fl3");
    EXPECT_EQ(missing.opened(), fl3::Opened::cant_open);
    EXPECT_EQ(missing.open_error(), platform::OpenError::missing);
}

TEST(Fl3Extract, DamagedAndUnsafeArchives) {
    const Bytes ab = txt("AB") + ent(1, "a") + ent(1, "b");
    const std::vector<std::pair<std::string, Bytes>> a_b{{"a", txt("A")}, {"b", txt("B")}};
    const struct {
        const char* what;
        Bytes archive;
        std::vector<std::string> alert_has;                // parts of the one Alert; none: no Alert
        std::vector<std::pair<std::string, Bytes>> files;  // the member folder besides _index.bin
        bool folder = true;                                // whether the member folder is made at all
        std::string_view lacks = {};                       // a text that the Alert must not hold
    } cases[] = {
        {"later duplicate wins", hdr(16, 31, 2) + txt("ABC") + ent(1, "d") + ent(2, "d") + kEnd, {}, {{"d", txt("BC")}}},
        {"no end marker", hdr(100, 30, 2) + ab, {"no end marker"}, a_b},
        {"fewer entries than counted", hdr(16, 30, 3) + ab + kEnd, {"counts 3 members", "holds only 2"}, a_b},
        {"more entries than counted", hdr(16, 30, 1) + ab + kEnd, {"more entries than the 1"}, {{"a", txt("A")}}},
        {"directory longer than its length", hdr(8, 30, 2) + ab + kEnd, {"takes 16 bytes, more than the 8"}, a_b},
        {"member past the end", hdr(10, 29, 1) + txt("X") + ent(20, "t") + kEnd, {"truncated: 1 of its members"},
         {{"t", txt("X") + ent(20, "t") + kEnd}}},  // as far as the archive holds it, no zeros
        {"directory length past the end", hdr(9999, 29, 1) + txt("Q") + ent(1, "q") + kEnd,
         {"directory length (9999 bytes) runs past the end", "holds the 10 bytes"}, {{"q", txt("Q")}}},
        {"members named like the index", hdr(99, 30, 3) + txt("IJ") + ent(1, "_INDEX.BIN") + ent(1, "j") +
                                             ent(0, "_index.bin") + kEnd,
         {"Member \"_INDEX.BIN\" is refused: it has the name of the index file", "1 more members"}, {{"j", txt("J")}}},
        {"device names and control characters", hdr(99, 30, 3) + txt("DE") + ent(1, "nul.txt") + ent(1, "e") +
                                                    ent(0, "\x1b[2J") + kEnd,
         {"Member \"nul.txt\" is refused", "1 more members"}, {{"e", txt("E")}}},
        {"unsafe names", hdr(99, 31, 5) + txt("ABC") + ent(1, "..") + ent(1, "ok") + ent(1, "a/b") + ent(0, "") +
                             ent(0, "c\\:") + kEnd,
         {"Member \"..\" is refused", "3 more members"}, {{"ok", txt("B")}}},
        {"one unsafe name", hdr(18, 30, 2) + txt("AB") + ent(1, "..") + ent(1, "ok") + kEnd, {"Member \"..\" is refused"},
         {{"ok", txt("B")}}, true, "more members"},
        {"header cut short", txt("FL3.0"), {"shorter than the 28 bytes"}, {}, false},
        {"directory beyond the end", hdr(4, 33, 0) + kEnd, {"beyond the end of the file"}, {}, false},
        {"directory at the end", hdr(4, 28, 0), {"beyond the end of the file"}, {}, false},
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
        if (!c.lacks.empty()) EXPECT_EQ(alerts[0].find(c.lacks), std::string::npos) << alerts[0];
        EXPECT_EQ(ui.last_status() == "Extracting OK", c.alert_has.empty());
        if (!c.alert_has.empty())
            EXPECT_EQ(ui.last_status(), "Extracting " + archive + (c.folder ? ": not extracted in full" : ": nothing extracted"));
        EXPECT_EQ(test::names_in(dir.path()).size(), c.folder ? 2u : 1u) << "nothing is written beside the member folder";
        if (!c.folder) continue;
        std::set<std::string> want{"_index.bin"};
        for (const auto& [name, bytes] : c.files) {
            want.insert(name);
            EXPECT_EQ(test::read_file(dir.file("x_fl3/" + name)), bytes) << name;
        }
        EXPECT_EQ(test::names_in(dir.file("x_fl3")), want);
    }
}

TEST(Fl3Extract, MemberThatCannotBeCreated) {
    test::ScratchDir dir;
    const std::string archive = dir.file("x.fl3");
    test::write_file(archive, hdr(22, 31, 3) + txt("ABC") + ent(1, "a") + ent(1, "m") + ent(1, "z") + kEnd);
    // A member's name taken by a folder: the text goes to the status line, then the Alert.
    std::filesystem::create_directories(dir.file("x_fl3/m"));
    RecordingUi ui;
    EXPECT_FALSE(fl3::extract(ui, archive));
    const std::string text = dir.file("x_fl3/m") + " is a folder";
    ASSERT_GE(ui.events.size(), 3u);
    EXPECT_EQ(std::vector<Event>(ui.events.end() - 3, ui.events.end()),
              (std::vector<Event>{{Event::status_now, "Extracting " + archive + ":m"},
                                  {Event::status_later, text},
                                  {Event::alert, text}}));
    EXPECT_TRUE(test::file_exists(dir.file("x_fl3/a")));
    EXPECT_FALSE(test::file_exists(dir.file("x_fl3/z")));
}

TEST(Fl3Extract, PathsOverTheLimit) {
    test::ScratchDir dir;
    const std::string deep = dir.file(std::string(200, 'd')), archive = deep + "/x.fl3", long_name(70, 'L');
    std::filesystem::create_directory(deep);
    test::write_file(archive, hdr(91, 30, 2) + txt("AB") + ent(1, long_name) + ent(1, "s") + kEnd);
    RecordingUi ui;
    EXPECT_FALSE(fl3::extract(ui, archive));
    ASSERT_EQ(ui.alerts().size(), 1u);
    EXPECT_NE(ui.alerts()[0].find(deep + "/x_fl3/" + long_name + "\nPath too long"), std::string::npos);
    EXPECT_EQ(test::names_in(deep + "/x_fl3"), (std::set<std::string>{"_index.bin", "s"}));
    const std::string too_long = deep + "/" + std::string(60, 'y') + ".fl3";
    ui.events.clear();
    EXPECT_FALSE(fl3::extract(ui, too_long));
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{too_long + "\nPath too long: more than 259 characters"});
}

TEST(Fl3Index, RefusedBeforeTheArchiveIsAskedFor) {
    Bytes many;
    for (int i = 0; i < 65535; ++i) many.insert(many.end(), {0, 0, 0, 0, 1, 'a'});
    const std::pair<Bytes, std::string> cases[] = {  // index, part of the Alert (empty: accepted)
        {many + kEnd, ""},
        {many + ent(0, "a") + kEnd, "more than 65535 entries"},
        {{}, "no end marker"},
        {ent(1, "a") + Bytes{0xFF, 0xFF, 0xFF}, "no end marker"},
        {ent(0, "ok") + ent(0, "") + kEnd, "Member \"\" is refused"},
        {ent(0, std::string(255, 'e')) + kEnd, "Path too long"},  // read whole, too long beside any folder
    };
    for (const auto& [bytes, alert_has] : cases) {
        SCOPED_TRACE(alert_has);
        test::ScratchDir dir;
        test::write_file(dir.file("_index.bin"), bytes);
        RecordingUi ui;
        auto index = fl3::load_index(ui, dir.file("_index.bin"));
        EXPECT_EQ(index ? index->names.size() : 0u, alert_has.empty() ? 65535u : 0u);
        EXPECT_TRUE(ui.texts(Event::status_now).empty());
        if (alert_has.empty()) continue;
        ASSERT_EQ(ui.alerts().size(), 1u);
        EXPECT_NE(ui.alerts()[0].find(alert_has), std::string::npos) << ui.alerts()[0];
        EXPECT_NE(ui.alerts()[0].find(dir.path() + "/"), std::string::npos);  // names the index or the member
    }
}

TEST(Fl3Compact, MissingHugeAndUnwritableMembers) {
    test::ScratchDir dir;
    RecordingUi ui;
    auto index = member_folder(ui, dir, ent(0, "a") + ent(0, "b") + ent(0, "c") + kEnd + txt("+"),
                               {{"a", txt("AA")}, {"c", txt("C")}});
    ASSERT_TRUE(index);
    // A missing member is left out of the directory: the archive stays consistent.
    EXPECT_FALSE(fl3::compact(ui, *index, dir.file("g.fl3")));
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{dir.file("g_fl3/b") + " not found\nSkip it"});
    EXPECT_EQ(ui.last_status(), "Compacting " + dir.file("g.fl3") + ": 1 of 3 members skipped");
    const Bytes packed = hdr(17, 31, 2) + txt("AAC") + ent(2, "a") + ent(1, "c") + kEnd;
    EXPECT_EQ(test::read_file(dir.file("g.fl3")), packed);
    // A member of 4 GiB: the old archive stays, no temporary file is left.
    test::write_file(dir.file("g_fl3/b"), "");
    std::filesystem::resize_file(dir.file("g_fl3/b"), 0xFFFFFFFFull);  // sparse: costs no disk
    ui.events.clear();
    EXPECT_FALSE(fl3::compact(ui, *index, dir.file("g.fl3")));
    ASSERT_EQ(ui.alerts().size(), 1u);
    EXPECT_NE(ui.alerts()[0].find(dir.file("g_fl3/b") + " is too large"), std::string::npos);
    EXPECT_NE(ui.last_status(), "Compacting OK");
    EXPECT_EQ(test::read_file(dir.file("g.fl3")), packed);
    EXPECT_EQ(test::names_in(dir.path()), (std::set<std::string>{"g.fl3", "g_fl3"}));
    ui.events.clear();
    EXPECT_FALSE(fl3::compact(ui, *index, dir.file("missing/g.fl3")));
    EXPECT_EQ(ui.events, (std::vector<Event>{{Event::alert, "Can't create " + dir.file("missing/g.fl3")}}));
}

TEST(Fl3Compact, SkippedMembersNeverReplaceAnArchive) {
    test::ScratchDir dir;
    // The index names itself (in another case) and a member that is missing.
    const std::string index_path = dir.file("g_fl3/_index.bin"), archive = dir.file("g.fl3");
    const std::vector<std::string> skip_alerts{
        index_path + " names the index file itself as a member: " + dir.file("g_fl3/_INDEX.BIN") + " is not packed\nSkip it",
        dir.file("g_fl3/gone") + " not found\nSkip it"};
    RecordingUi ui;
    auto index = member_folder(ui, dir, ent(0, "a") + ent(0, "_INDEX.BIN") + ent(0, "gone") + kEnd, {{"a", txt("A")}});
    ASSERT_TRUE(index);
    // No archive yet: a new one is written with the members that could be read.
    EXPECT_FALSE(fl3::compact(ui, *index, archive));
    EXPECT_EQ(ui.alerts(), skip_alerts);
    EXPECT_EQ(ui.last_status(), "Compacting " + archive + ": 2 of 3 members skipped");
    EXPECT_EQ(test::read_file(archive), hdr(10, 29, 1) + txt("A") + ent(1, "a") + kEnd);
    // An archive exists now: it is left as it was.
    test::write_file(archive, "old archive");
    ui.events.clear();
    EXPECT_FALSE(fl3::compact(ui, *index, archive));
    auto alerts = skip_alerts;
    alerts.push_back("2 of 3 members of " + index_path + " could not be packed: the archive " + archive +
                     " is left unchanged.");
    EXPECT_EQ(ui.alerts(), alerts);
    EXPECT_EQ(ui.last_status(), "Compacting " + archive + ": 2 of 3 members skipped, archive unchanged");
    EXPECT_EQ(test::read_file(archive), txt("old archive"));
    EXPECT_EQ(test::names_in(dir.path()), (std::set<std::string>{"g.fl3", "g_fl3"})) << "no temporary file left";
}

}  // namespace
}  // namespace vid

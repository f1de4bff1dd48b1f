// Unpack through files: what it tells, and the manifest it writes, read
// back as JSON and checked field by field against the archive's layout.
#include <gtest/gtest.h>

#include <filesystem>

#include "kit/fl3_archive.h"
#include "kit/lzss_bm2.h"
#include "project/project.h"
#include "project_support.h"

namespace vid {
namespace {

namespace fs = std::filesystem;
using test::RecordingUi;

using test::ent, test::hdr, test::kEnd;

using test::Project;

// Members that do not decode (WV5 sounds cut inside their 18-byte header):
// the first three are told one by one, the rest in one summary Alert.
TEST(ProjectUnpack, ProblemsToldOneByOneUpToThreeThenSummed) {
    for (const int bad : {3, 4, 5}) {
        SCOPED_TRACE(bad);
        std::vector<kit::Member> members;
        for (int i = 1; i <= bad; ++i) members.push_back({"b" + std::to_string(i) + ".wv5", Bytes{1, 2, 3}});
        Project g({{"a.fl3", kit::fl3_archive(members)}}, 1);
        const RecordingUi& ui = g.unpacking;
        std::vector<std::string> want;
        for (int i = 1; i <= 3; ++i)
            want.push_back(g.work + "/a_fl3/b" + std::to_string(i) +
                           ".wv5 does not decode: it ends inside its 18-byte header. It is kept as it is.");
        if (bad > 3)
            want.push_back(std::to_string(bad - 3) + " more problems; " + g.work +
                           "/vidodide-project.json lists every member that was not extracted or not decoded, with the "
                           "reason.");
        EXPECT_EQ(ui.alerts(), want);
        EXPECT_EQ(ui.last_status(), "Unpacking: 1 archive, " + std::to_string(bad) + " files, 0 editable files, " +
                                        std::to_string(bad) + " not extracted or not decoded");
        const auto m = test::manifest_of(g.work);
        ASSERT_EQ(m["archives"][0]["members"].size(), std::size_t(bad));
        for (const auto& it : m["archives"][0]["members"])
            EXPECT_EQ(it["problem"], "does not decode: it ends inside its 18-byte header");
    }
}

// Members of up to 256 MiB are decoded in memory, larger ones are kept as
// they are. Here a member whose entry says 256 MiB, or one byte more, in an
// archive that ends 15 bytes into it (its bytes are the directory's). The
// one that is cut short and too large is told twice but counted once.
TEST(ProjectUnpack, LargestMemberThatIsDecoded) {
    const std::uint32_t most = 256u << 20;
    for (const std::uint32_t size : {most, most + 1}) {
        SCOPED_TRACE(size);
        Project g({{"a.fl3", hdr(15, 28, 1) + ent(size, "big.ab") + kEnd}}, 1);
        const RecordingUi& ui = g.unpacking;
        std::vector<std::string> want = {
            "a.fl3 is truncated: member big.ab runs past its end and is written only as far as the archive holds it."};
        if (size > most) want.push_back(g.work + "/a_fl3/big.ab is too large to decode here; it is kept as it is.");
        EXPECT_EQ(ui.alerts(), want);
        EXPECT_EQ(ui.last_status(), "Unpacking: 1 archive, 1 file, 0 editable files, 1 not extracted or not decoded");
        const auto it = test::manifest_of(g.work)["archives"][0]["members"][0];
        EXPECT_EQ(it["size"], size);
        EXPECT_EQ(it["problem"], size > most ? "too large to decode here" : "the archive ends inside it");
        EXPECT_EQ(test::read_file(g.work + "/a_fl3/big.ab"), ent(size, "big.ab") + kEnd);
        EXPECT_FALSE(fs::exists(g.work + "/edit"));
    }
}

// Every member's place in the directory and in the archive, also for the
// members that get no member file (a name no file can have, a name that
// differs from another's only in case); repack copies them all from the
// original and refuses a manifest whose places were edited.
TEST(ProjectUnpack, ManifestGivesEachMembersIndexAndOffset) {
    const std::vector<kit::Member> members = {{"a.dat", test::bytes_of("abc")},
                                              {"x?y", test::bytes_of("de")},
                                              {"A.DAT", test::bytes_of("fghi")},
                                              {"z.dat", test::bytes_of("jklmn")}};
    Project g({{"a.fl3", kit::fl3_archive(members)}}, 1);  // x?y is not extracted
    const auto m = test::manifest_of(g.work);
    EXPECT_EQ(m["editable_images"], "png");
    const auto& a = m["archives"][0];
    EXPECT_EQ(a["path"], "a.fl3");
    EXPECT_EQ(a["folder"], "a_fl3");
    EXPECT_EQ(a["size"], 28 + 14 + (10 + 8 + 10 + 10) + 4);
    const struct {
        const char* name;
        int index, offset, size;
        const char* file;  // "": none
    } want[] = {{"a.dat", 0, 28, 3, "a_fl3/a.dat"}, {"x?y", 1, 31, 2, ""}, {"A.DAT", 2, 33, 4, ""}, {"z.dat", 3, 37, 5, "a_fl3/z.dat"}};
    ASSERT_EQ(a["members"].size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const auto& it = a["members"][i];
        SCOPED_TRACE(want[i].name);
        EXPECT_EQ(it["name"], want[i].name);
        EXPECT_EQ(it["index"], want[i].index);
        EXPECT_EQ(it["offset"], want[i].offset);
        EXPECT_EQ(it["size"], want[i].size);
        EXPECT_EQ(it["kind"], "other");
        EXPECT_EQ(it.value("file", ""), want[i].file);
    }
    EXPECT_EQ(a["members"][1]["problem"], "not extracted: its name cannot be a file's name here; repack keeps its bytes");
    EXPECT_EQ(a["members"][2]["note"], "no member file: its name differs from another member's only in case");

    test::write_file(g.work + "/a_fl3/z.dat", std::string_view("ZZ"));
    RecordingUi packing;
    ASSERT_EQ(project::repack(packing, g.work, g.out), 0) << packing.last_status();
    EXPECT_EQ(test::read_file(g.dir.file("out/a.fl3")),
              kit::fl3_archive({members[0], members[1], members[2], {"z.dat", test::bytes_of("ZZ")}}));

    // The last member's name or place edited by hand: its entry, offset or size.
    const std::string game = fs::canonical(g.game).string();
    const struct {
        const char* key;
        nlohmann::json value;
        int entry;
        const char* name;
    } edits[] = {{"offset", 38, 3, "z.dat"}, {"offset", 36, 3, "z.dat"}, {"index", 2, 2, "z.dat"},
                 {"size", 6, 3, "z.dat"},    {"size", 4, 3, "z.dat"},    {"name", "../../z.dat", 3, "../../z.dat"}};
    int n = 0;
    for (const auto& e : edits) {
        SCOPED_TRACE(std::string(e.key) + " " + e.value.dump());
        const std::string work = g.dir.file("w" + std::to_string(++n)), out = g.dir.file("o" + std::to_string(n));
        fs::copy(g.work, work, fs::copy_options::recursive);
        test::edit_manifest(work, [&](nlohmann::json& j) { j["archives"][0]["members"][3][e.key] = e.value; });
        RecordingUi refusing;
        EXPECT_EQ(project::repack(refusing, work, out), 1);
        EXPECT_EQ(refusing.alerts(),
                  std::vector<std::string>{game + "/a.fl3 does not hold member " + e.name +
                                           " where the manifest says (entry " + std::to_string(e.entry) +
                                           "): it changed since unpack, or the manifest was edited. " + out +
                                           "/a.fl3 is not written"});
        EXPECT_FALSE(fs::exists(out + "/a.fl3"));
    }
}

// Pictures kept as bitmaps (--bmp) are named so in the manifest, and an
// unpack that goes on into a stopped run's work folder keeps them so
// whatever it is told.
TEST(ProjectUnpack, BitmapsChosenOnceForTheWholeWorkFolder) {
    Project g({{"a.fl3", kit::fl3_archive({{"p.bm2", kit::bm2_file(kit::bmp24(4, 2, 1))}})},
            {"b.fl3", kit::fl3_archive({{"q.bm2", kit::bm2_file(kit::bmp24(3, 2, 2))}})}},
              std::nullopt);
    test::StoppingUi ui("Unpacking 1 of 2");
    project::UnpackOptions bitmaps;
    bitmaps.bitmaps = true;
    bitmaps.stop = &ui.stop;
    EXPECT_EQ(project::unpack(ui, g.game, g.work, bitmaps), 1);
    EXPECT_EQ(ui.last_status(), "Unpacking stopped at b.fl3: 1 archive and 0 loose files unpacked whole");
    EXPECT_EQ(test::manifest_of(g.work)["editable_images"], "bmp");
    RecordingUi again;
    ASSERT_EQ(project::unpack(again, g.game, g.work, {}), 0) << again.last_status();
    const auto m = test::manifest_of(g.work);
    EXPECT_EQ(m["editable_images"], "bmp");
    EXPECT_EQ(m["archives"][0]["members"][0]["edit"], "edit/a_fl3/p.bmp");
    EXPECT_EQ(m["archives"][1]["members"][0]["edit"], "edit/b_fl3/q.bmp");
    EXPECT_EQ(test::read_file(g.work + "/edit/b_fl3/q.bmp"), kit::bmp24(3, 2, 2));
}

// Only a name with a stem ends in an extension: files named just ".ab",
// ".bm2", ".wv5" or ".fl3" are none of those kinds, and no archive.
TEST(ProjectUnpack, NamesThatAreOnlyAnExtension) {
    const Bytes script = {0x05, 0x01};  // RAZ 0x44E528
    Project g({{".ab", script}, {".bm2", script}, {".wv5", script}, {".fl3", kit::fl3_archive({{"m.ab", script}})},
            {"s.AB", script}, {"t.fl3", kit::fl3_archive({})}}, 0);
    const RecordingUi& ui = g.unpacking;
    EXPECT_EQ(ui.last_status(), "Unpacking OK: 1 archive, 1 file, 1 editable file in " + g.work + "/edit");
    EXPECT_EQ(test::files_in(g.work), (std::vector<std::string>{"edit/s.txt", "s.AB", "t_fl3/_index.bin",
                                                                "vidodide-project.json", "vidodide-project.stamps"}));
}

// An archive whose directory would start at the end of the file has no
// members to unpack: told, and listed with the reason; one byte earlier
// the directory is read (and found damaged here).
TEST(ProjectUnpack, DirectoryAtTheEndOfTheFile) {
    const struct {
        Bytes archive;
        std::string problem;  // "": none
    } cases[] = {
        {hdr(4, 28, 0), "is damaged: its directory would start at byte 28, beyond the end of the file."},
        {hdr(4, 32, 0) + kEnd, "is damaged: its directory would start at byte 32, beyond the end of the file."},
        {hdr(4, 31, 0) + kEnd, "is damaged: its directory does not end where its header says."},
        {hdr(4, 28, 0) + kEnd, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        Project g({{"a.fl3", c.archive}}, c.problem.empty() ? 0 : 1);
        const RecordingUi& ui = g.unpacking;
        const auto a = test::manifest_of(g.work)["archives"][0];
        EXPECT_EQ(a["members"].size(), 0u);
        if (c.problem.empty()) {
            EXPECT_EQ(ui.alerts(), std::vector<std::string>{});
            EXPECT_FALSE(a.contains("problem"));
            continue;
        }
        const std::string told = g.game + "/a.fl3 " + c.problem;
        EXPECT_EQ(a["problem"], told);
        ASSERT_EQ(ui.alerts().size(), 1u);
        EXPECT_EQ(ui.alerts()[0].rfind(told, 0), 0u) << ui.alerts()[0];
    }
}

}  // namespace
}  // namespace vid

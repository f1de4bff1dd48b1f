// Mod projects: the check that repack makes of each changed member, the
// manifest as status reads it from a file, and runs stopped half-way.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>

#include "fl3/format.h"
#include "kit/fl3_archive.h"
#include "kit/lzss_bm2.h"
#include "kit/wv5_encode.h"
#include "platform/paths.h"
#include "project/common.h"
#include "kit/png_maker.h"
#include "project/convert.h"
#include "project/project.h"
#include "project_support.h"

namespace vid::project {
namespace {

// A 24-bit bitmap of one row of `w` pixels (blue, green, red each), rows padded to 4 bytes.
Bytes bmp_row(std::initializer_list<std::array<std::uint8_t, 3>> pixels) {
    const auto w = static_cast<std::uint32_t>(pixels.size());
    const std::uint32_t stride = (w * 3 + 3) / 4 * 4;
    Bytes b = test::bmp_head(54 + stride, 54, w, 1, 24);
    b.resize(54, 0);
    for (const auto& p : pixels) b.insert(b.end(), p.begin(), p.end());
    b.resize(54 + stride, 0);
    return b;
}

// A PNG file of one row: RGBA (colour 6) or RGB (colour 2) samples.
Bytes png_row(std::uint32_t width, std::uint8_t colour, Bytes samples) {
    return kit::png_file({.width = width, .colour = colour, .raw = Bytes{0} + samples});  // filter: none
}

TEST(ProjectVerify, MemberAgainstEditedFile) {
    const Bytes packed_bm2 = kit::bm2_file(bmp_row({{1, 2, 3}, {200, 100, 50}}));
    // An alpha picture of 24 bits: blue, green, red, alpha per pixel.
    const Bytes packed_alpha = kit::bm2_file(kit::bm2_alpha(24, 2, 1, Bytes{1, 2, 3, 50, 4, 5, 6, 60}));
    const Bytes set16 = {0x02, 0x00, 0x10, 0x00, 0x00, 0x00};  // Set 0x453818 to 0x10
    // One channel at 8000 Hz, two codes of step 1: the samples 1 and 2.
    const Bytes sound = kit::Wv5Builder(1, 8000).repeat(2, 1).finish();
    const Bytes sound_of_3_frames = kit::Wv5Builder(1, 8000).repeat(2, 1).finish(3);
    const Bytes sound_cut = kit::Wv5Builder(1, 8000).repeat(2, 1).finish(std::nullopt, 2);
    struct Case {
        const char* what;
        Kind kind;
        const Bytes& packed;
        Bytes edited;
        std::uint64_t recoloured;
        std::string why;  // empty: passes
        std::string note = {};
    };
    const auto text = test::bytes_of;
    const Case cases[] = {
        {"same pixels", Kind::bm2, packed_bm2, bmp_row({{1, 2, 3}, {200, 100, 50}}), 0, ""},
        {"one pixel off", Kind::bm2, packed_bm2, bmp_row({{1, 2, 3}, {200, 100, 51}}), 0,
         "1 pixels differ from the edited picture"},
        {"one pixel recoloured", Kind::bm2, packed_bm2, bmp_row({{1, 2, 3}, {200, 100, 51}}), 1, ""},
        {"other size", Kind::bm2, packed_bm2, bmp_row({{1, 2, 3}}), 0, "it decodes to 2x1 pixels"},
        {"same pixels and alpha", Kind::bm2, packed_alpha, png_row(2, 6, {3, 2, 1, 50, 6, 5, 4, 60}), 0, ""},
        {"one alpha off", Kind::bm2, packed_alpha, png_row(2, 6, {3, 2, 1, 50, 6, 5, 4, 61}), 0,
         "1 pixels differ from the edited picture"},
        {"one colour off, one alpha", Kind::bm2, packed_alpha, png_row(2, 6, {3, 2, 0, 51, 6, 5, 4, 60}), 0,
         "1 pixels differ from the edited picture"},
        {"a picture without alpha", Kind::bm2, packed_alpha, png_row(2, 2, {3, 2, 1, 6, 5, 4}), 0, ""},
        {"same listing", Kind::ab, set16, text("**\n0x0002\n** to\n0x00000010\n"), 0, ""},
        {"numbers written short", Kind::ab, set16, text("0x2\r\n0x10"), 0, ""},
        {"other value", Kind::ab, set16, text("0x0002\n0x00000011\n"), 0,
         "its listing differs from the edited listing at value line 2"},
        {"a line more", Kind::ab, set16, text("0x0002\n0x00000010\n0x0002\n"), 0,
         "its listing differs from the edited listing at value line 3"},
        {"same samples", Kind::wv5, sound, test::wav_mono({1, 2}), 0, "", "sound exact"},
        // Signal 1 + 9, noise 0 + 1: 10 dB.
        {"one sample off", Kind::wv5, sound, test::wav_mono({1, 3}), 0, "", "signal-to-noise ratio 10.0 dB"},
        {"a sample more", Kind::wv5, sound, test::wav_mono({1, 2, 3}), 0,
         "it decodes to 2 samples (2 frames by its header), the edited sound gives 3"},
        {"a sample less", Kind::wv5, sound, test::wav_mono({1}), 0,
         "it decodes to 2 samples (2 frames by its header), the edited sound gives 1"},
        {"a frame more by its header", Kind::wv5, sound_of_3_frames, test::wav_mono({1, 2}), 0,
         "it decodes to 2 samples (3 frames by its header), the edited sound gives 2"},
        {"cut short", Kind::wv5, sound_cut, test::wav_mono({1, 2}), 0, "it ends early: 1 of its 2 runs decode"},
        {"not a WAV file", Kind::wv5, sound, text("RIFX"), 0,
         "the WAV file is not a WAV file: it does not begin with a RIFF/WAVE header"},
    };
    for (const Case& c : cases) {
        const Verdict v = verify_member(c.kind, c.packed, c.edited, c.recoloured);
        EXPECT_EQ(v.ok, c.why.empty()) << c.what;
        EXPECT_EQ(v.why, c.why) << c.what;
        EXPECT_EQ(v.note, c.note) << c.what;
    }
}

// The manifest's text, byte for byte as earlier versions wrote it (and
// work folders hold it): one space of indent per level, escapes as JSON
// has them, names that are not UTF-8 as KEY_hex, empty lists as [].
TEST(ProjectManifest, TextAsWritten) {
    const Item x{.name = "x\"y\\.ab", .file = "a_fl3/x\"y.ab", .edit = "edit/a_fl3/x.txt", .note = "n\x01",
                 .offset = 28, .size = 5, .hash = 0x0123456789abcdef, .edit_hash = 0xff, .kind = Kind::ab};
    const Item y{.name = "\x82\xa0", .problem = "p", .offset = 33, .index = 1};
    const Manifest m{.game = "/g", .game_from_work = "../g", .unfinished = true,
                     .archives = {{.path = "a.fl3", .folder = "a_fl3", .size = 40, .members = {x, y}},
                                  {.path = "b.fl3", .folder = "b_fl3", .size = 3, .problem = "bad"}}};
    const std::string text = R"({
 "vidodide_project": 1,
 "game_folder": "/g",
 "game_folder_from_work": "../g",
 "editable_images": "png",
 "unfinished": 1,
 "archives": [
  {
   "path": "a.fl3",
   "folder": "a_fl3",
   "size": 40,
   "members": [
    {
     "name": "x\"y\\.ab",
     "index": 0,
     "offset": 28,
     "size": 5,
     "hash": "0123456789abcdef",
     "kind": "ab",
     "file": "a_fl3/x\"y.ab",
     "edit": "edit/a_fl3/x.txt",
     "edit_hash": "00000000000000ff",
     "note": "n\u0001"
    },
    {
     "name_hex": "82a0",
     "index": 1,
     "offset": 33,
     "size": 0,
     "hash": "0000000000000000",
     "kind": "other",
     "problem": "p"
    }
   ]
  },
  {
   "path": "b.fl3",
   "folder": "b_fl3",
   "size": 3,
   "problem": "bad",
   "members": []
  }
 ],
 "loose": []
}
)";
    EXPECT_EQ(to_json(m), text);
    std::string why;
    const auto back = from_json(text, why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(to_json(*back), text);
    ASSERT_EQ(back->archives.at(0).members.size(), 2u);
    const Item& got = back->archives[0].members[0];
    EXPECT_EQ(got.hash, 0x0123456789abcdefu);
    EXPECT_EQ(got.edit_hash, 0xffu);
    EXPECT_EQ(got.note.view(), "n\x01");
    EXPECT_EQ(back->archives[0].members[1].name, "\x82\xa0");
    EXPECT_TRUE(back->unfinished);
}

// An edited picture over an 8-bit original: its colours that the palette
// does not hold take the nearest entry and are counted, and the check lets
// exactly that many pixels differ. Palette: 0 black, 1 white; pixels 0 1 0.
TEST(ProjectVerify, RecolouredPixelsCounted) {
    Bytes original = test::bmp_head(54 + 8 + 4, 54 + 8, 3, 1, 8);
    for (std::uint32_t v : {0u, 4u, 0u, 0u, 2u, 0u}) put_u32(original, v);
    original.insert(original.end(), {0, 0, 0, 0, 255, 255, 255, 0, 0, 1, 0, 0});
    const Bytes member = kit::bm2_file(original);
    // Black stays; (250, 250, 250) becomes white, (10, 0, 0) black: two recoloured.
    const Bytes edited = png_row(3, 2, {0, 0, 0, 250, 250, 250, 10, 0, 0});
    const Converted c = encode_member(Kind::bm2, edited, member, "pic.png");
    ASSERT_TRUE(c.bytes) << c.why;
    EXPECT_EQ(c.recoloured, 2u);
    EXPECT_EQ(c.note, "2 pixels took the nearest colour of the palette");
    EXPECT_TRUE(verify_member(Kind::bm2, *c.bytes, edited, 2).ok);
    EXPECT_EQ(verify_member(Kind::bm2, *c.bytes, edited, 1).why, "2 pixels differ from the edited picture");
}

// Manifests edited by hand, as status reads them from the work folder:
// refused with the reason, or read.
TEST(ProjectManifest, ReadOrRefusedWithTheReason) {
    const std::string head = R"({"vidodide_project": 1, "game_folder": "g", )";
    const auto loose = [&](const std::string& item) { return head + R"("archives": [], "loose": [)" + item + "]}"; };
    const auto archive = [&](const std::string& fields) {
        return head + R"("archives": [{"path": "d.fl3", "folder": "d_fl3", "size": 9, )" + fields + R"(}], "loose": []})";
    };
    const std::string item = R"("size": 3, "hash": "00000000000000ff", "kind": "bm2")";
    const struct {
        std::string text, why;  // why: "" when it is read
    } cases[] = {
        {"[]", "it is not a JSON object"},
        {"{\"vidodide_project\": 1", "parse error"},
        {"{\"vidodide_project\": 2}", "it is not a manifest of this version"},
        {head + R"("loose": []})", "\"archives\" is missing"},
        {head + R"("archives": []})", "\"loose\" is missing"},
        {head + R"("archives": [], "loose": [1]})", "an entry of \"loose\" is not an object"},
        {head + R"("archives": [{"path": "d.fl3", "folder": "d_fl3", "size": 9}], "loose": []})", "\"members\" is missing"},
        {loose(R"({"name": "a.bm2", "size": -3, "hash": "00", "kind": "bm2"})"), "\"size\" is not a number of 0 or more"},
        {loose(R"({"name": "a.bm2", "index": 65536, )" + item + "}"), "\"index\" is beyond the 65535 members"},
        {loose(R"({"name": "a.bm2", "index": 65535, )" + item + "}"), ""},
        {loose(R"({"name_hex": "6g", )" + item + "}"), "hexadecimal digits"},
        {loose(R"({"name_hex": "612", )" + item + "}"), "an odd number of digits"},
        {loose(R"({"name_hex": "612e626d32", )" + item + R"(, "later": {"x": [1]}})"), ""},
        {loose(R"({"name": "a.bm2", "size": 3, "hash": "00", "kind": "bm2"})"),
         "\"hash\" is not a hash of 16 hexadecimal digits"},
        {loose(R"({"name": "a.bm2", "size": 3, "hash": "00000000000000FF", "kind": "bm2"})"),
         "\"hash\" is not a hash of 16 hexadecimal digits"},
        {loose(R"({"name": "a.bm2", "edit": "edit/a.png", )" + item + "}"), "\"edit_hash\" is missing"},
        {head + R"("archives": [{"path": "d.fl3", "folder": "d_fl3", "size": 9, "members": []},
                                {"path": "d.fl3", "folder": "d_fl3", "size": 9, "members": []}], "loose": []})",
         "it lists the archive d.fl3 twice"},
        {loose(R"({"name": "a.bm2", )" + item + R"(}, {"name": "a.bm2", )" + item + "}"), "it lists the file a.bm2 twice"},
        // Paths that would lead status and repack out of their folders.
        {loose(R"({"name": "../a.bm2", )" + item + "}"), "the path \"../a.bm2\" leads out of its folder"},
        {loose(R"({"name": "a.bm2", "file": "x/../../a.bm2", )" + item + "}"), "the path \"x/../../a.bm2\" leads out"},
        {loose(R"({"name": "a.bm2", "edit": "/edit/a.png", "edit_hash": "00000000000000ff", )" + item + "}"), "the path \"/edit/a.png\" leads out"},
        {loose(R"({"name": "a.bm2", "edit": "edit\\a.png", "edit_hash": "00000000000000ff", )" + item + "}"), "the path \"edit\\a.png\" leads out"},
        {archive(R"("members": [{"name": "a.bm2", "file": "d_fl3/./a.bm2", )" + item + "}]"), "\"d_fl3/./a.bm2\" leads out"},
        {archive(R"("members": [{"name": "a.bm2", "file": "d_fl3//a.bm2", )" + item + "}]"), "\"d_fl3//a.bm2\" leads out"},
        {archive(R"("members": [{"name": "a.bm2", "edit": "edit/d_fl3/a.png", "edit_hash": "00000000000000ff", )" + item + "}]"), ""},
        {head + R"("archives": [{"path": "../d.fl3", "folder": "d_fl3", "size": 9, "members": []}], "loose": []})",
         "the path \"../d.fl3\" leads out of its folder"},
        {head + R"("archives": [{"path": "C:d.fl3", "folder": "d_fl3", "size": 9, "members": []}], "loose": []})",
         "the path \"C:d.fl3\" leads out of its folder"},
        {head + R"("archives": [{"path": "d.fl3", "folder": "..", "size": 9, "members": []}], "loose": []})",
         "the path \"..\" leads out of its folder"},
        // An archive that was not unpacked has no member folder.
        {head + R"("archives": [{"path": "d.fl3", "folder": "", "size": 9, "members": []}], "loose": []})",
         "the path \"\" leads out of its folder"},
        {head + R"("archives": [{"path": "d.fl3", "folder": "", "size": 0, "problem": "x", "members": []}], "loose": []})",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        test::ScratchDir work;
        test::write_file(work.file("vidodide-project.json"), c.text);
        test::RecordingUi ui;
        EXPECT_EQ(status(ui, work.path()), c.why.empty() ? 0 : 1);
        if (c.why.empty()) {
            EXPECT_EQ(ui.alerts(), std::vector<std::string>{});
            EXPECT_EQ(ui.last_status(), "Status: nothing changed since unpack");
            continue;
        }
        ASSERT_EQ(ui.alerts().size(), 1u);
        const std::string told = work.file("vidodide-project.json") + " is not a manifest that this version reads: ";
        EXPECT_EQ(ui.alerts()[0].rfind(told, 0), 0u) << ui.alerts()[0];
        EXPECT_NE(ui.alerts()[0].find(c.why, told.size()), std::string::npos) << ui.alerts()[0];
    }
}

// Names of another code page (not UTF-8) are kept in hexadecimal and come
// back byte for byte: status finds every file again, and repack writes the
// member under its own bytes.
TEST(ProjectManifest, NamesThatAreNotUtf8ComeBackExactly) {
    const Bytes picture = kit::bm2_file(bmp_row({{1, 2, 3}}));
    test::Project p({{"a.fl3", kit::fl3_archive({{"\x82\xa0.bm2", picture}})}, {"\x82\xa1.bm2", picture}});
    const auto m = test::manifest_of(p.work);
    const auto& member = m["archives"][0]["members"][0];
    EXPECT_EQ(member["name_hex"], "82a02e626d32");
    EXPECT_EQ(member["file_hex"], "615f666c332f82a02e626d32");           // a_fl3/
    EXPECT_EQ(member["edit_hex"], "656469742f615f666c332f82a02e706e67");  // edit/a_fl3/ .png
    EXPECT_EQ(m["loose"][0]["name_hex"], "82a12e626d32");
    EXPECT_FALSE(member.contains("name"));
    std::filesystem::remove(p.work + "/vidodide-project.stamps");  // every file is hashed
    test::RecordingUi quiet;
    EXPECT_EQ(status(quiet, p.work), 0) << quiet.last_status();
    test::write_file(p.work + "/a_fl3/\x82\xa0.bm2", test::bytes_of("replaced"));
    test::RecordingUi ui;
    ASSERT_EQ(repack(ui, p.work, p.out), 0) << ui.last_status();
    EXPECT_EQ(test::read_file(p.out + "/a.fl3"), kit::fl3_archive({{"\x82\xa0.bm2", test::bytes_of("replaced")}}));
}

// The stamps file: a line is taken only for the file it names, in the
// manifest's order, when that file still shows it; anything else in it
// (numbers out of range, lines without a tab, paths of no item) is passed
// over, and the file is then hashed.
TEST(ProjectManifest, StampsThatStillHold) {
    test::ScratchDir dir;
    const std::string work = dir.file("work");
    std::filesystem::create_directories(work + "/a_fl3");
    Manifest m{.game = dir.file("game")};
    Archive a{.path = "a.fl3", .folder = "a_fl3"};
    for (const char* name : {"m1.dat", "m2.dat", "m3.dat", "m4.dat"}) {
        Item it{.name = name, .file = std::string("a_fl3/") + name};
        test::write_file(under(work, it.file), std::string_view("abc"));
        // Older than the stamps file, by a day.
        std::filesystem::last_write_time(under(work, it.file),
                                         std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
        a.members.push_back(std::move(it));
    }
    m.archives.push_back(std::move(a));
    test::write_file(platform::join(work, kManifestName), to_json(m));
    const auto stamp = [&](const char* file) { return stamp_text(stamp_of(under(work, file))); };
    test::write_file(platform::join(work, kStampsName),
                     stamp("a_fl3/m1.dat") + "\ta_fl3/m1.dat\n" +                       // taken
                         "99999999999999999999:5\ta_fl3/m2.dat\n" +                     // a size out of range
                         stamp("a_fl3/m3.dat") + "\ta_fl3/zz.dat\n" +                   // no such item
                         stamp("a_fl3/m3.dat") + "a_fl3/m3.dat\n" +                       // no tab
                         "3:1\ta_fl3/m4.dat\n" +                                        // not what the file shows
                         stamp("a_fl3/m2.dat"));                                           // no tab, no line break
    SilentUi quiet;
    const auto loaded = load_manifest(quiet, work);
    ASSERT_TRUE(loaded);
    const auto& members = loaded->archives.at(0).members;
    ASSERT_EQ(members.size(), 4u);
    EXPECT_EQ(members[0].file_stamp, stamp_of(under(work, "a_fl3/m1.dat")));
    EXPECT_TRUE(members[0].file_stamp.known());
    for (std::size_t i = 1; i < 4; ++i) EXPECT_FALSE(members[i].file_stamp.known()) << members[i].name;
    EXPECT_FALSE(stamp_of_text("18446744073709551615:1").known()) << "the size that marks none";
    EXPECT_FALSE(stamp_of_text("1:9223372036854775808").known());
    EXPECT_EQ(stamp_of_text("1:-9223372036854775808").time, INT64_MIN);
    EXPECT_FALSE(stamp_of_text("1:").known());
    EXPECT_FALSE(stamp_of_text(":1").known());
    EXPECT_FALSE(stamp_of_text("1:2x").known());
}

TEST(ProjectEncode, ListingWhoseTextsChangeLengthOverJumps) {
    // Update Text (0x0001), Idx 1, "Hi"; then 0x0201 to 0 (the script's start).
    const Bytes script = {0x01, 0x00, 0x01, 0x00, 'H', 'i', 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00};
    const Converted listing = decode_member(Kind::ab, script, false);
    ASSERT_TRUE(listing.bytes);
    const std::string text(listing.bytes->begin(), listing.bytes->end());
    ASSERT_NE(text.find("Hi"), std::string::npos);
    for (const auto& [with, warned] : {std::pair{"Ho", false}, std::pair{"Hello", true}}) {
        std::string edited = text;
        edited.replace(edited.find("Hi"), 2, with);
        const Converted c = encode_member(Kind::ab, Bytes(edited.begin(), edited.end()), script, "x.txt");
        ASSERT_TRUE(c.bytes) << c.why;
        EXPECT_EQ(c.note.empty(), !warned) << with << ": " << c.note;
    }
}

namespace stopping {

// An archive of members m1.dat, m2.dat, ... of `sizes` bytes each: 'a', 'b', ...
Bytes archive(std::initializer_list<std::uint32_t> sizes) {
    std::vector<kit::Member> members;
    for (const std::uint32_t size : sizes)
        members.emplace_back("m" + std::to_string(members.size() + 1) + ".dat", Bytes(size, static_cast<std::uint8_t>('a' + members.size())));
    return kit::fl3_archive(members);
}

using test::StoppingUi;
using test::files_in;

TEST(ProjectStop, UnpackAndRepackStopBetweenMembers) {
    test::Project p({{"a.fl3", archive({3, 4})}, {"b.fl3", archive({5, 6, 7, 8})}}, std::nullopt);
    const auto& dir = p.dir;

    // Stopped while b.fl3's third member is read: b.fl3 is taken out whole,
    // and the work folder is what its manifest says (nothing changed).
    StoppingUi ui("Unpacking 3 of 6");
    UnpackOptions options;
    options.stop = &ui.stop;
    EXPECT_EQ(unpack(ui, dir.file("game"), dir.file("work"), options), 1);
    EXPECT_EQ(ui.last_status(), "Unpacking stopped at b.fl3 m4.dat: 1 archive and 0 loose files unpacked whole");
    EXPECT_EQ(files_in(dir.file("work")),
              (std::vector<std::string>{"a_fl3/_index.bin", "a_fl3/m1.dat", "a_fl3/m2.dat",
                                        "vidodide-project.json", "vidodide-project.stamps"}));
    test::RecordingUi quiet;
    EXPECT_EQ(status(quiet, dir.file("work")), 0) << quiet.last_status();

    // Both archives changed; stopped when b.fl3 starts: OUT holds a.fl3
    // only, whole, and nothing of b.fl3.
    test::RecordingUi plain;
    ASSERT_EQ(unpack(plain, dir.file("game"), dir.file("full"), {}), 0) << plain.last_status();
    test::write_file(dir.file("full/a_fl3/m1.dat"), std::string_view("AAA"));
    test::write_file(dir.file("full/b_fl3/m2.dat"), std::string_view("BB"));
    StoppingUi rui("Repacking 2 of 2: b.fl3");
    EXPECT_EQ(repack(rui, dir.file("full"), dir.file("out"), 1, &rui.stop), 1);
    EXPECT_EQ(rui.last_status(), "Repacking stopped at b.fl3 m1.dat: 1 file written whole to " + dir.file("out"));
    EXPECT_EQ(files_in(dir.file("out")), std::vector<std::string>{"a.fl3"});
    Bytes expected = archive({3, 4});
    std::fill_n(expected.begin() + fl3::kHeaderSize, 3, 'A');
    EXPECT_EQ(test::read_file(dir.file("out/a.fl3")), expected);
}

}  // namespace stopping
}  // namespace
}  // namespace vid::project

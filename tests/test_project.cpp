// Mod projects: the check that repack makes of each changed member, and
// the manifest's names that are not UTF-8.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>

#include "kit/lzss_bm2.h"
#include "project/convert.h"
#include "project/manifest.h"

namespace vid::project {
namespace {

// A 24-bit bitmap of one row of `w` pixels (blue, green, red each), rows padded to 4 bytes.
Bytes bmp_row(std::initializer_list<std::array<std::uint8_t, 3>> pixels) {
    const auto w = static_cast<std::uint32_t>(pixels.size());
    const std::uint32_t stride = (w * 3 + 3) / 4 * 4;
    Bytes b = {'B', 'M'};
    put_u32(b, 54 + stride);
    put_u32(b, 0);
    put_u32(b, 54);
    put_u32(b, 40);
    put_u32(b, w);
    put_u32(b, 1);
    put_u16(b, 1);
    put_u16(b, 24);
    for (int i = 0; i < 6; ++i) put_u32(b, 0);
    for (const auto& p : pixels) b.insert(b.end(), p.begin(), p.end());
    b.resize(54 + stride, 0);
    return b;
}

TEST(ProjectVerify, MemberAgainstEditedFile) {
    const Bytes packed_bm2 = kit::bm2_file(bmp_row({{1, 2, 3}, {200, 100, 50}}));
    const Bytes set16 = {0x02, 0x00, 0x10, 0x00, 0x00, 0x00};  // Set 0x453818 to 0x10
    struct Case {
        const char* what;
        Kind kind;
        const Bytes& packed;
        Bytes edited;
        std::uint64_t recoloured;
        std::string why;  // empty: passes
    };
    const auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
    const Case cases[] = {
        {"same pixels", Kind::bm2, packed_bm2, bmp_row({{1, 2, 3}, {200, 100, 50}}), 0, ""},
        {"one pixel off", Kind::bm2, packed_bm2, bmp_row({{1, 2, 3}, {200, 100, 51}}), 0,
         "1 pixels differ from the edited picture"},
        {"one pixel recoloured", Kind::bm2, packed_bm2, bmp_row({{1, 2, 3}, {200, 100, 51}}), 1, ""},
        {"other size", Kind::bm2, packed_bm2, bmp_row({{1, 2, 3}}), 0, "it decodes to 2x1 pixels"},
        {"same listing", Kind::ab, set16, text("**\n0x0002\n** to\n0x00000010\n"), 0, ""},
        {"numbers written short", Kind::ab, set16, text("0x2\r\n0x10"), 0, ""},
        {"other value", Kind::ab, set16, text("0x0002\n0x00000011\n"), 0,
         "its listing differs from the edited listing at value line 2"},
        {"a line more", Kind::ab, set16, text("0x0002\n0x00000010\n0x0002\n"), 0,
         "its listing differs from the edited listing at value line 3"},
    };
    for (const Case& c : cases) {
        const Verdict v = verify_member(c.kind, c.packed, c.edited, c.recoloured);
        EXPECT_EQ(v.ok, c.why.empty()) << c.what;
        EXPECT_EQ(v.why, c.why) << c.what;
    }
}

TEST(ProjectManifest, NamesThatAreNotUtf8ComeBackExactly) {
    Manifest m;
    m.game = "/games/x";
    Archive a;
    a.path = "sub/data.fl3";
    a.folder = "sub/data_fl3";
    Item it;
    it.name = "\x82\xa0.bm2";  // a name of another code page
    it.file = "sub/data_fl3/\x82\xa0.bm2";
    it.kind = Kind::bm2;
    it.hash = "0123456789abcdef";
    a.members.push_back(it);
    m.archives.push_back(a);
    const std::string json = to_json(m);
    EXPECT_NE(json.find("\"name_hex\": \"82a02e626d32\""), std::string::npos) << json;
    std::string why;
    const auto back = from_json(json, why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->archives.at(0).members.at(0).name, it.name);
    EXPECT_EQ(back->archives.at(0).members.at(0).file, it.file);
    EXPECT_EQ(back->archives.at(0).members.at(0).kind, Kind::bm2);
    EXPECT_FALSE(from_json("{\"vidodide_project\": 2}", why));

    // Paths that would lead repack out of its folders are refused.
    for (const char* path : {"../data.fl3", "/data.fl3", "sub//data.fl3", "sub/./data.fl3", "C:data.fl3"}) {
        Manifest bad = m;
        bad.archives[0].path = path;
        EXPECT_FALSE(from_json(to_json(bad), why)) << path;
        EXPECT_NE(why.find("leads out of its folder"), std::string::npos) << why;
    }
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

}  // namespace
}  // namespace vid::project

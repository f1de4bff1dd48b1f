// Translation tables: the code pages and the texts of a script with the
// jumps that move with them (the table files: test_tables.cpp).
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "text/text_jobs.h"
#include "script/texts.h"
#include "test_support.h"

namespace vid::script {
using namespace vid::text;
namespace {

using test::hex;

TEST(Codepage, SystemTablesBothWays) {
    // Texts and their bytes in the code page, written down by hand.
    const struct {
        unsigned codepage;
        std::string_view utf8;
        std::string_view bytes;
    } cases[] = {
        {932, "窓が開いています。", "91 8B 82 AA 8A 4A 82 A2 82 C4 82 A2 82 DC 82 B7 81 42"},
        {932, "ｱｲ Abc", "B1 B2 20 41 62 63"},
        {1252, "Café €", "43 61 66 E9 20 80"},
        {65001, "Café", "43 61 66 C3 A9"},
        {932, "", ""},
    };
    for (const auto& c : cases) {
        platform::Codepage cp(c.codepage);
        ASSERT_TRUE(cp.supported()) << c.codepage;
        const Bytes want = hex(c.bytes);
        std::string bytes, text;
        EXPECT_TRUE(cp.from_utf8(c.utf8, bytes)) << c.utf8;
        EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), want) << c.utf8;
        EXPECT_TRUE(cp.to_utf8(std::string_view(reinterpret_cast<const char*>(want.data()), want.size()), text));
        EXPECT_EQ(text, c.utf8);
    }
    // What a code page cannot hold, and bytes that are not valid in it.
    const struct {
        unsigned codepage;
        std::string_view utf8;
        std::string_view why;
    } refusals[] = {
        {932, "abc€", "\"€\" (U+20AC)"},
        {932, "窓é", "\"é\" (U+00E9)"},
        {1252, "Caf窓", "\"窓\" (U+7A93)"},
        {1252, "x😀", "\"😀\" (U+1F600)"},
        {932, "a\xE9z", "bytes that are not UTF-8 text"},
        {65001, "a\xC3", "bytes that are not UTF-8 text"},
    };
    for (const auto& r : refusals) {
        platform::Codepage cp(r.codepage);
        std::string bytes;
        EXPECT_FALSE(cp.from_utf8(r.utf8, bytes)) << r.utf8;
        EXPECT_EQ(refused_character(r.utf8, cp), r.why);
    }
    std::string text;
    EXPECT_FALSE(platform::Codepage(932).to_utf8("\x82", text));       // a lead byte alone
    EXPECT_FALSE(platform::Codepage(1252).to_utf8("\x81", text));      // no character in 1252
    EXPECT_FALSE(platform::Codepage(65001).to_utf8("\xC3\x28", text));
    EXPECT_FALSE(platform::Codepage(12345).supported());
}

// "starts 0,6 | n2:u0001@10+2 | jump 0->13 | tail" for a map.
std::string summary(const ScriptMap& m) {
    std::string s = "starts";
    for (std::size_t i = 0; i < m.starts.size(); ++i) s += (i ? "," : " ") + std::to_string(m.starts[i]);
    for (const ScriptText& t : m.texts) {
        s += " | n" + std::to_string(t.n) + (t.opcode == 0 ? ":i" : ":u") + std::to_string(t.idx);
        if (t.voice) s += (t.open_voice ? " open " : " v") + std::to_string(t.voice_at) + "+" + std::to_string(t.voice_size);
        s += "@" + std::to_string(t.text_at) + "+" + std::to_string(t.text_size);
    }
    for (const ScriptJump& j : m.jumps) s += " | jump " + std::to_string(j.at) + "->" + std::to_string(j.to);
    if (m.tail) s += " | tail";
    return s;
}

// 0: jump to 13 | 6: Update Text 1 "AB" | 13: RAZ | 15: Init Text 2, voice
// "v", "C" | 25: jump to 6 | 31: jump to the end (37).
constexpr std::string_view kScript =
    "0102 0D000000  0100 0100 414200  0501  0000 0200 5C56 76 2E 43 00  0102 06000000  0102 25000000";

TEST(ScriptTexts, FoundWhereTheBytesSay) {
    const struct {
        std::string_view bytes;
        std::string_view summary;
    } cases[] = {
        {kScript, "starts 0,6,13,15,25,31 | n2:u1@10+2 | n4:i2 v21+1@23+1 | jump 0->13 | jump 25->6 | jump 31->37"},
        // No voice marker; "\V" without its full stop ends at the zero byte;
        // an unknown opcode is 2 bytes; 0x8000 with a tail of one entry.
        {"0000 0300 4100  0000 0400 5C56 7700  0201  0080 01000000 01 0000000000",
         "starts 0,6,14,16 | n1:i3@4+1 | n2:i4 open 12+1@13+0 | tail"},
        // A text and a jump cut off by the end are no text and no jump.
        {"0100 0100 4142  ", "starts 0"},
        {"0501 0102 0000", "starts 0,2"},
        {"", "starts"},
    };
    for (const auto& c : cases) EXPECT_EQ(summary(map_script(hex(c.bytes))), c.summary) << c.bytes;
}

TEST(ScriptTexts, JumpsMoveWithTheirInstruction) {
    const Bytes script = hex(kScript);
    const ScriptMap map = map_script(script);
    EXPECT_TRUE(loose_jumps(map).empty());
    // "AB" -> "ABCD" (2 more bytes), "C" -> "" (1 fewer): RAZ moves from 13
    // to 15, the Update Text stays at 6, the end moves from 37 to 38.
    Rebuilt r = rebuild_script(script, map, {{1, ""}, {0, "ABCD"}});
    EXPECT_EQ(r.data, hex("0102 0F000000  0100 0100 4142434400  0501  0000 0200 5C56 76 2E 00  0102 06000000  "
                          "0102 26000000"));
    EXPECT_EQ(r.jumps_moved, 2u);
    // Same lengths: the bytes of the text alone change.
    r = rebuild_script(script, map, {{0, "XY"}});
    EXPECT_EQ(r.data, hex("0102 0D000000  0100 0100 585900  0501  0000 0200 5C56 76 2E 43 00  0102 06000000  "
                          "0102 25000000"));
    EXPECT_EQ(r.jumps_moved, 0u);

    // A target one byte into RAZ, or past the end, is no instruction start.
    for (const auto& [target, at] : {std::pair{"0E000000", 0u}, std::pair{"26000000", 0u}}) {
        Bytes loose = script;
        const Bytes t = hex(target);
        std::copy(t.begin(), t.end(), loose.begin() + 2);
        const auto jumps = loose_jumps(map_script(loose));
        ASSERT_EQ(jumps.size(), 1u) << target;
        EXPECT_EQ(jumps[0].at, at);
    }
}

}  // namespace
}  // namespace vid::script

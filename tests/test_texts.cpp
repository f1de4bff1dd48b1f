// Translation tables: the code pages and the texts of a script with the
// jumps that move with them (the table files: test_tables.cpp).
#include <gtest/gtest.h>

#include <filesystem>

#include "core/table.h"
#include "platform/codepage.h"
#include "text/find_text.h"
#include "text/text_jobs.h"
#include "script/codec.h"
#include "script/jobs.h"
#include "script/texts.h"
#include "test_support.h"

namespace vid::text {
namespace {

using namespace vid::script;

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
        // The first character refused, at each boundary of the UTF-8 lengths.
        {932, "é€", "\"é\" (U+00E9)"},
        {932, "\xDF\xBF", "\"\xDF\xBF\" (U+07FF)"},
        {932, "\xE0\xA0\x80", "\"\xE0\xA0\x80\" (U+0800)"},
        {932, "\xEF\xBF\xBF", "\"\xEF\xBF\xBF\" (U+FFFF)"},
        {932, "\xF0\x90\x80\x80", "\"\xF0\x90\x80\x80\" (U+10000)"},
        {932, "\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\" (U+10FFFF)"},
        {932, "\x80", "bytes that are not UTF-8 text"},
        {932, "\xC2", "bytes that are not UTF-8 text"},
        {932, "\xE0\xA0", "bytes that are not UTF-8 text"},
        {932, "\xF0\x90\x80", "bytes that are not UTF-8 text"},
        {932, "\xE0\x41\x80", "bytes that are not UTF-8 text"},
        // Bytes that are no UTF-8 (a lead byte of five, an overlong form, a
        // surrogate, a code point past U+10FFFF) are not named as a character;
        // the characters just inside those edges are.
        {932, "\xF8\x88\x80\x80", "bytes that are not UTF-8 text"},
        {932, "\xC0\x80", "bytes that are not UTF-8 text"},
        {932, "\xE0\x9F\xBF", "bytes that are not UTF-8 text"},
        {932, "\xF0\x8F\xBF\xBF", "bytes that are not UTF-8 text"},
        {932, "\xED\xA0\x80", "bytes that are not UTF-8 text"},
        {932, "\xF4\x90\x80\x80", "bytes that are not UTF-8 text"},
        {932, "\xC2\x80", "\"\xC2\x80\" (U+0080)"},
        {932, "\xED\x9F\xBF", "\"\xED\x9F\xBF\" (U+D7FF)"},
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

std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A text is found only from the start of one of its characters: in code
// page 932 a lead byte (81-9F, E0-FC) takes the byte after it along.
TEST(FindText, HitsStartOnACharacter) {
    const std::string text = "\x83\x41\x82\xa8\x82\xcd";  // "アおは"
    const struct {
        std::string text, what;
        unsigned codepage;
        bool holds;
    } cases[] = {
        {text, "A", 932, false},          {text, "\x83\x41", 932, true}, {text, "\x82\xcd", 932, true},
        {text, "\x41\x82", 932, false},   {text, text, 932, true},       {text, text + "x", 932, false},
        {"x\x9f\x41" "A", "A", 932, true},  {"\xe0\x41", "A", 932, false}, {"\xfc\x41", "A", 932, false},
        {"\xfd\x41", "A", 932, true},     {"\x80\x41", "A", 932, true},  {"\x81\x41", "A", 932, false},
        {"\xa0\x41", "A", 932, true},     {"\xdf\x41", "A", 932, true},  {text, "A", 1252, true},
        {"", "A", 932, false},            {"A", "", 932, false},
    };
    for (const auto& c : cases) EXPECT_EQ(text::holds_text(c.text, c.what, c.codepage), c.holds) << c.text << " / " << c.what;
}

// Listings and the game's code page: with --utf8 the first line that 932
// cannot hold is named; without it, a line valid in 932 is taken as it
// stands even where it is valid UTF-8 too (C3 A9 is "ﾃｩ" in 932, "é" in
// UTF-8), and only lines that are UTF-8 alone are pointed out.
TEST(ListingCodepage, LinesNamedAndLinesTaken) {
    const auto listing = [](std::string_view first, std::string_view second) {
        return "0x0001\n0x0001\n" + std::string(first) + "\n0x0001\n0x0002\n" + std::string(second) + "\n";
    };
    const struct {
        std::string text;
        bool utf8;
        std::string bytes;  // hex of the script; empty: refused
        std::string why;
    } cases[] = {
        {listing("€", "é"), true, "", "line 3: code page 932 cannot hold \"€\" (U+20AC)"},
        {listing("a", "é"), true, "", "line 6: code page 932 cannot hold \"é\" (U+00E9)"},
        {listing("あ", "a"), true, "0100 0100 82A0 00  0100 0200 61 00", ""},
        {listing("\xC3\xA9", "\x82\xA0"), false, "0100 0100 C3A9 00  0100 0200 82A0 00", ""},
        {listing("窓", "窓"), false, "",
         "these lines are not in the game's code page (932), and the game would show them garbled:\n"
         "- line 3 is UTF-8 text that the code page does not hold: the listing was saved in another encoding\n"
         "- line 6 is UTF-8 text that the code page does not hold: the listing was saved in another encoding\n"
         "Save the listing in code page 932, or (on the command line) repack with --utf8 to convert a listing saved "
         "in UTF-8."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SilentUi ui;
        std::string why;
        const auto bytes = script::encode_listing_text(ui, c.text, c.utf8, why);
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(bytes, c.bytes.empty() ? std::nullopt : std::optional<Bytes>(hex(c.bytes)));
    }
}

// Decoded to a listing in UTF-8, a script whose texts are not all valid
// in 932 names the first instruction of them (here the second and third;
// counted from 1 as the listing shows them); those texts stay as they are.
TEST(ListingCodepage, FirstTextNotConvertedIsNamed) {
    test::ScratchDir dir;
    test::write_file(dir.file("s.ab"), hex("0100 0100 61 00  0100 0200 80 00  0100 0300 FD 00  0100 0400 82A0 00"));
    test::RecordingUi ui;
    ASSERT_TRUE(script::decode_file_utf8(ui, dir.file("s.ab")));
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{dir.file("s.ab") + ": the texts from instruction 2 on are not all "
                                                                       "valid in code page 932; those that are not stand "
                                                                       "in the listing as they are"});
    const Bytes listing = test::read_file(dir.file("s.txt"));
    const std::string text(listing.begin(), listing.end());
    for (const char* line : {"\na\n", "\n\x80\n", "\n\xFD\n", "\n\xE3\x81\x82\n"})  // 82 A0 is "あ"
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

// One script of texts, and a table of rows that import refuses, each for
// its reason: the script stays as it was, and every reason is told, in the
// order of the rows.
//   n1 Init Text 1, voice "mina01", "Hi"    n2 Init Text 2, "Yo"
//   n3 Update Text 3, "Ok"                  n4 Init Text 4, voice "\Vabc" without its full stop
//   n5 Update Text 5, "A"   n6 Update Text 6, "B"   n7 RAZ
constexpr std::string_view kTexts =
    "0000 0100 5C56 6D696E613031 2E 4869 00  0000 0200 596F 00  0100 0300 4F6B 00  0000 0400 5C56 616263 00  "
    "0100 0500 41 00  0100 0600 42 00  0501";

TEST(ImportTexts, RowsRefusedEachForItsReason) {
    test::ScratchDir dir;
    const std::string game = dir.file("game"), table = dir.file("t.csv");
    std::filesystem::create_directory(game);
    test::write_file(game + "/scene.ab", hex(kTexts));
    test::write_file(table, std::string_view("script,n,original,translation\r\n"
                                             "scene.ab,2,Yo,\\Vx\r\n"          // 2
                                             "scene.ab,1,Hi,\\Vok\r\n"         // 3: taken, n1 has its voice
                                             "scene.ab,3,Ok,\\Vup\r\n"         // 4: taken, an Update Text
                                             "scene.ab,2,Yo,second\r\n"        // 5
                                             "scene.ab,4,,x\r\n"               // 6
                                             "scene.ab,5,A,\xF0\x90\x80\x80\r\n"  // 7: U+10000
                                             "scene.ab,6,B,a\x80\r\n"          // 8
                                             "scene.ab,7,,x\r\n"               // 9
                                             "scene.ab,8,,x\r\n"));            // 10
    test::RecordingUi ui;
    EXPECT_FALSE(import_texts(ui, game, table, 932));
    EXPECT_EQ(ui.alerts(), (std::vector<std::string>{
                               game + "/scene.ab was left unchanged:\n"
                                      "- row 2: the translation begins with \\V, which the game takes for a voice marker\n"
                                      "- row 5: instruction 2 has a translation in row 2 already\n"
                                      "- row 6: the voice marker of instruction 4 has no full stop, so its text cannot be "
                                      "told from the voice name\n"
                                      "- row 7: code page 932 cannot hold \"\xF0\x90\x80\x80\" (U+10000)\n"
                                      "- row 8: the translation is not UTF-8 text (save the table as UTF-8)\n"
                                      "- row 9: instruction 7 is not a text\n"
                                      "- row 10: there is no instruction 8"}));
    EXPECT_EQ(ui.last_status(), "Importing: 0 texts into 0 scripts, 1 script left unchanged, with failures");
    EXPECT_EQ(test::read_file(game + "/scene.ab"), hex(kTexts));

    // Instruction number 0 refuses the whole table before any script is written.
    test::write_file(table, std::string_view("script,n,original,translation\r\nscene.ab,1,Hi,\\Vok\r\nscene.ab,0,,x\r\n"));
    test::RecordingUi zero;
    EXPECT_FALSE(import_texts(zero, game, table, 932));
    EXPECT_EQ(zero.alerts(), std::vector<std::string>{table + ": no script was changed, since these rows were refused:\n"
                                                              "- row 3: \"0\" is not an instruction number"});
    EXPECT_EQ(test::read_file(game + "/scene.ab"), hex(kTexts));

    // The two rows taken, alone: "\V" after a voice marker, and in an Update Text.
    test::write_file(table, std::string_view("script,n,original,translation\r\nscene.ab,1,Hi,\\Vok\r\nscene.ab,3,Ok,\\Vup\r\n"));
    test::RecordingUi taken;
    EXPECT_TRUE(import_texts(taken, game, table, 932)) << taken.last_status();
    EXPECT_EQ(test::read_file(game + "/scene.ab"),
              hex("0000 0100 5C56 6D696E613031 2E 5C566F6B 00  0000 0200 596F 00  0100 0300 5C567570 00  "
                  "0000 0400 5C56 616263 00  0100 0500 41 00  0100 0600 42 00  0501"));
}

// Export leaves out the texts that are not valid in the code page (a lone
// 0x80 is none in 932), and reads only files whose name has a stem before
// ".ab"; a folder counts only such ".fl3" files as archives.
TEST(ExportTexts, TextsAndNamesLeftOut) {
    test::ScratchDir dir;
    const std::string game = dir.file("game");
    std::filesystem::create_directory(game);
    test::write_file(game + "/a.ab", hex("0100 0100 80 00  0100 0200 7F 00  0100 0300 8140 00"));
    test::write_file(game + "/.ab", hex("0100 0100 4869 00"));
    test::write_file(game + "/notes_ab", hex("0100 0100 4869 00"));
    test::RecordingUi ui;
    EXPECT_FALSE(export_texts(ui, game, dir.file("t.csv"), 932));
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{game + "/a.ab: these texts are not valid in code page 932 and were "
                                                           "left out of the table:\n- instruction 1"});
    EXPECT_EQ(ui.last_status(), "Exporting: 2 texts of 1 script, with failures");
    EXPECT_EQ(text_of(test::read_file(dir.file("t.csv"))),
              "\xEF\xBB\xBFscript,n,op,idx,voice,original,translation\r\n"
              "a.ab,2,update,0x0002,,\x7F,\r\n"
              "a.ab,3,update,0x0003,,\xE3\x80\x80,\r\n");  // 81 40: the ideographic space

    const std::string packed = dir.file("packed");
    std::filesystem::create_directory(packed);
    test::write_file(packed + "/.fl3", std::string_view("x"));
    test::write_file(packed + "/notes_fl3", std::string_view("x"));
    test::RecordingUi none;
    EXPECT_TRUE(export_texts(none, packed, dir.file("none.csv"), 932)) << none.last_status();
    test::write_file(packed + "/d.FL3", std::string_view("x"));
    test::RecordingUi one;
    EXPECT_FALSE(export_texts(one, packed, dir.file("none.csv"), 932));
    ASSERT_EQ(one.alerts().size(), 1u);
    EXPECT_EQ(one.alerts()[0].rfind(packed + " holds no AB script but 1 FL3 archive:", 0), 0u) << one.alerts()[0];
}

}  // namespace
}  // namespace vid::text

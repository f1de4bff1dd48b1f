// The AB instruction set, the listing's lines and values, the instruction
// decoder and encoder, over bytes and text in memory.
#include <gtest/gtest.h>

#include "kit/script_maker.h"
#include "script/decoder.h"
#include "script/encoder.h"
#include "script/instructions.h"
#include "script/listing.h"
#include "test_support.h"

namespace vid::script {
namespace {

// "0102 61 62" -> the bytes 01 02 61 62.
Bytes hex(std::string_view text) {
    Bytes out;
    std::string digits;
    for (char c : text)
        if (c != ' ') digits.push_back(c);
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

// Items as "label#value", joined by "|"; levels as a string of digits.
struct Recorder : ItemSink {
    std::string items, levels;
    void item(std::string_view label, std::string_view value, int level) override {
        if (!items.empty()) items += '|';
        items.append(label).append("#").append(value);
        levels += static_cast<char>('0' + level);
    }
};

std::string listing_of(ByteView script, ScriptNotes* notes = nullptr) {
    test::RecordingUi ui;
    ListingBuffer lines;
    ItemWriter writer(ui, &lines);
    const ScriptNotes n = decode_script(script, writer);
    if (notes) *notes = n;
    return std::string(lines.pending());
}

// The bytes that a listing encodes to; nullopt when a line holds no number.
std::optional<Bytes> encode_text(std::string_view text, Recorder* items = nullptr) {
    MemorySource src(text);
    LineReader reader(src);
    Recorder scratch;
    Bytes out;
    if (encode_listing(reader, items ? *items : scratch, out).step == Encoded::no_number) return std::nullopt;
    return out;
}

TEST(ScriptDecoder, EveryOpcodeOfTheTable) {
    // Operands: u8 0xab, u16 0x1234, u32 0x89abcdef, strings "ab".
    struct Case {
        std::string_view bytes;
        std::size_t length;
        std::string_view items;
    } cases[] = {
        {"0000 3412 5C56 7631 2E 6162 00", 12, "Init Text#0x0000|Idx :#0x1234|Play voice :#v1|Text :#ab"},
        {"0100 3412 616200", 7, "Update Text#0x0001|Idx :#0x1234|Text :#ab"},
        {"0200 EFCDAB89", 6, "Set 0x453818#0x0002|to#0x89abcdef"},
        {"0300 3412", 4, "Init Text with caption#0x0003|Idx :#0x1234"},
        {"0400 3412", 4, "Define font (MS Mincho) size#0x0004|new size :#0x1234"},
        {"0001 3412 3412 3412", 8, "Fill 0x43C9E2 ???#0x0100|from#0x1234|to#0x1234|data :#0x1234"},
        {"0101 3412 AB 3412", 7, "Update 0x43C9E2 ???#0x0101|data1 :#0x1234|data2 :#0xab|data3 :#0x1234"},
        {"0301 3412 3412 3412", 8, "Update timer and 0x43C9E2 ???#0x0103|data1 :#0x1234|data2 :#0x1234|data3 :#0x1234"},
        {"0401 3412 3412 3412", 8, "Update 0x43C9E2 ???#0x0104|data1 :#0x1234|data2 :#0x1234|data3 :#0x1234"},
        {"0501", 2, "RAZ 0x44E528#0x0105"},
        {"0601 3412 EFCDAB89", 8, "Init some values and 44E528++???#0x0106|4529B8[44E528] =#0x1234|4423F8[44E528] =#0x89abcdef"},
        {"0701 3412", 4, "???#0x0107|data :#0x1234"},
        {"0102 EFCDAB89", 6, "Save current pos in this script and jump#0x0201|to#0x89abcdef"},
        {"0202", 2, "Jump to previous saved pos#0x0202"},
        {"0302 616200", 5, "Jump (temporary) to another script#0x0203|name#ab"},
        {"0402", 2, "Reload previous script at saved pos#0x0204"},
        {"0502 616200", 5, "Load a script#0x0205|name#ab"},
        {"0003 616200", 5, "???#0x0300|data#ab"},
        {"0103 616200 EFCDAB89", 9, "???#0x0301|data1#ab|data2#0x89abcdef"},
        {"0203 3412", 4, "???#0x0302|data#0x1234"},
        {"0303", 2, "???#0x0303"},
        {"0403", 2, "???#0x0304"},
        {"0503 616200 616200", 8, "Load 2 bitmaps side by side#0x0305|file1#ab|file2#ab"},
        {"0603 EFCDAB89 3412 3412 3412 3412", 14, "???#0x0306|data#0x89abcdef|data#0x1234|data#0x1234|data#0x1234|data#0x1234"},
        {"0703", 2, "???#0x0307"},
        {"0004", 2, "???#0x0400"},
        {"0104", 2, "???#0x0401"},
        {"0204 3412", 4, "???#0x0402|data#0x1234"},
        {"0304 3412", 4, "???#0x0403|data#0x1234"},
        {"0005", 2, "???#0x0500"},
        {"0105", 2, "???#0x0501"},
        {"0205 3412", 4, "Init map#0x0502|num#0x1234"},
        {"0305 3412", 4, "Init 43C61E#0x0503|data#0x1234"},
        {"0405 3412 616200", 7, "???#0x0504|data#0x1234|data#ab"},
        {"0505 3412", 4, "Save gamesys#0x0505|num#0x1234"},
        {"0006 616200 3412", 7, "Play Music#0x0600|name#ab|Flag#0x1234"},
        {"0106", 2, "Nothing#0x0601"},
        {"0206", 2, "Reset Music#0x0602"},
        {"0306 EFCDAB89", 6, "Pause x milliseconds#0x0603|msec#0x89abcdef"},
        {"0406", 2, "Stop Music ??#0x0604"},
        {"0506 616200", 5, "Play FX#0x0605|name#ab"},
        {"0606 3412", 4, "???#0x0606|data#0x1234"},
        {"0706", 2, "???#0x0607"},
        {"0806", 2, "???#0x0608"},
        {"0007 3412 3412 3412 3412", 10, "Init some pic data ??#0x0700|data1#0x1234|data2#0x1234|width(?)#0x1234|height(?)#0x1234"},
        {"0107 AB AB AB AB", 6, "Init 43c62a ??#0x0701|data1#0xab|data2#0xab|data3#0xab|data4#0xab"},
        {"0207 3412", 4, "Load 07.BM2#0x0702|data#0x1234"},
        {"0307 616200", 5, "Load Bitmap 640x480#0x0703|name#ab"},
        {"0407 616200", 5, "Load Bitmap ?x?#0x0704|name#ab"},
        {"0507 616200", 5, "Load Bitmap 640x480#0x0705|name#ab"},
        {"0607 616200", 5, "Load Bitmap 640x480 2nd way(?)#0x0706|name#ab"},
        {"0707 3412 616200", 7, "Load Bitmap 3rd way(?)#0x0707|data#0x1234|name#ab"},
        {"0807 3412 3412 616200", 9, "Load Bitmap 4th way(?)#0x0708|data1#0x1234|data2#0x1234|name#ab"},
        {"0907 3412", 4, "Draw bitmap with Transition#0x0709|idcode#0x1234"},
        {"0A07 3412", 4, "Draw black->bitmap with Transition#0x070a|idcode#0x1234"},
        {"0B07 3412", 4, "Draw screen->bitmap with Transition#0x070b|idcode#0x1234"},
        {"0C07", 2, "Reset bitmap data (?]#0x070c"},
        {"0D07 3412", 4, "Fill screen with color#0x070d|idcolor#0x1234"},
        {"0E07 3412", 4, "???#0x070e|data#0x1234"},
        {"0F07 3412", 4, "???#0x070f|data#0x1234"},
        {"1007 616200", 5, "Load alpha bitmap#0x0710|name#ab"},
        {"0080 EFCDAB89 02 0000000000 0000000000", 17, "???#0x8000|data#0x89abcdef|data#0x02"},
    };
    ASSERT_EQ(std::size(cases), instruction_table().size());
    for (const auto& c : cases) {
        Bytes data = hex(c.bytes);
        data.push_back(0x01);  // the next instruction's first byte is not read
        Recorder r;
        const Decoded d = decode_instruction(data, 0, r);
        EXPECT_EQ(d.length, c.length) << c.items;
        EXPECT_EQ(r.items, c.items);
        EXPECT_EQ(r.levels, "1" + std::string(static_cast<std::size_t>(std::count(c.items.begin(), c.items.end(), '|')), '2'));
        EXPECT_FALSE(d.cut || d.tail || d.loss != Loss::none) << c.items;
        // And back: the listing of the instruction encodes to its bytes.
        data.pop_back();
        EXPECT_EQ(encode_text(listing_of(data)), data) << c.items;
    }
}

TEST(ScriptDecoder, OpcodesOutsideTheTableCostTwoBytes) {
    int known = 0;
    for (std::uint32_t v = 0; v <= 0xFFFF; ++v) known += find_instruction(static_cast<std::uint16_t>(v)) != nullptr;
    EXPECT_EQ(known, 62);
    for (std::string_view bytes : {"0201", "0500", "FF00", "1107", "FF7F", "0180", "FFFF"}) {
        Recorder r;
        const Bytes data = hex(std::string(bytes) + "0000");
        EXPECT_EQ(decode_instruction(data, 0, r).length, 2u);
        EXPECT_EQ(r.items, "unknown#" + value_text(load_u16(data.data()), 4));
    }
}

TEST(ScriptDecoder, VoiceMarkersAndCutInstructions) {
    struct Case {
        std::string bytes;  // hex
        std::string items;
        std::size_t length;
        bool cut;
        Loss loss;
    } cases[] = {
        // Init Text, index 1; "\V" = 5C56, "." = 2E.
        {"0000 0100 5C56 766F69636530312E 48656C6C6F 00", "Play voice :#voice01|Text :#Hello", 20, false, Loss::none},
        {"0000 0100 48656C6C6F 00", "Play voice :#|Text :#Hello", 10, false, Loss::none},
        {"0000 0100 5C56 2E 48656C6C6F 00", "Play voice :#|Text :#Hello", 13, false, Loss::empty_voice},
        {"0000 0100 5C56 616263 00 2E", "Play voice :#abc|Text :#", 10, false, Loss::open_voice},
        {"0000 0100 5C56 616263", "Play voice :#abc", 9, true, Loss::none},
        {"0000 0100 5C", "Play voice :#", 5, true, Loss::none},
        {"0000 0100 2A78 00", "Play voice :#|Text :#*x", 7, false, Loss::star},
        {"0000 0100 5C56 610D62 2E 00", "Play voice :#a\rb|Text :#", 11, false, Loss::line_break},
        // Cut elsewhere: only complete operands are shown.
        {"0200 EFCD", "", 4, true, Loss::none},
        {"01", "", 1, true, Loss::none},
        {"0107 AB CD", "|data1#0xab|data2#0xcd", 4, true, Loss::none},
        {"0302 6162", "", 4, true, Loss::none},
        {"0080 00000000 02 0000000000 00", "|data#0x0000|data#0x02", 13, true, Loss::none},
    };
    for (const auto& c : cases) {
        const Bytes data = hex(c.bytes);
        Recorder r;
        const Decoded d = decode_instruction(data, 0, r);
        const auto first_operand = r.items.find('|');
        const std::string operands =
            c.items.starts_with("Play") ? r.items.substr(r.items.find("|Play") + 1)
            : first_operand == std::string::npos ? "" : r.items.substr(first_operand);
        EXPECT_EQ(operands, c.items) << c.bytes;
        EXPECT_EQ(d.length, c.length) << c.bytes;
        EXPECT_EQ(d.cut, c.cut) << c.bytes;
        EXPECT_EQ(d.loss, c.loss) << c.bytes;
    }
}

TEST(ScriptDecoder, VariableTailOfOpcode8000) {
    struct Case {
        std::uint32_t first;
        std::uint8_t count;
        std::uint8_t tail_byte;
        std::string items;
        bool tail;
    } cases[] = {
        {7, 0, 0, "???#0x8000|data#0x0007|data#0x00", false},
        {0x12345, 255, 0, "???#0x8000|data#0x12345|data#0xff", false},
        {0x12345678, 3, 9, "???#0x8000|data#0x12345678|data#0x03", true},
    };
    for (const auto& c : cases) {
        kit::ScriptBuilder b;
        b.op(0x8000).u32(c.first).u8(c.count);
        for (int i = 0; i < 5 * c.count; ++i) b.u8(i == 4 ? c.tail_byte : 0);
        Recorder r;
        const Decoded d = decode_instruction(b.bytes(), 0, r);
        EXPECT_EQ(d.length, 7u + 5u * c.count);
        EXPECT_EQ(r.items, c.items);
        EXPECT_EQ(d.tail, c.tail);
        // The encoder agrees on the length; the tail comes back as zeros.
        const auto back = encode_text(listing_of(b.bytes()));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->size(), b.bytes().size());
        EXPECT_EQ(*back == b.bytes(), !c.tail);
    }
}

TEST(ScriptListing, ValueTextsLinesAndNodes) {
    EXPECT_EQ(value_text(0xFFFF, 4), "0xffff");
    EXPECT_EQ(value_text(0xFF, 2), "0xff");
    EXPECT_EQ(value_text(0, 8), "0x00000000");
    EXPECT_EQ(value_text(0, 4), "0x0000");
    EXPECT_EQ(value_text(0x12345, 4), "0x12345");

    // Level 1: separator, label, value; level 2: label and value; LF only.
    test::RecordingUi ui(true);
    ListingBuffer lines;
    ItemWriter w(ui, &lines);
    w.item("Set 0x453818", "0x0002", 1);
    w.item("to", "0x00000010", 2);
    w.item("Text :", "", 2);
    const std::string long_value(300, 'v');
    w.item("Text :", long_value, 2);
    EXPECT_EQ(lines.pending(), "********************\n** Set 0x453818\n0x0002\n** to\n0x00000010\n** Text :\n\n** Text :\n" +
                                   long_value + "\n");
    ASSERT_EQ(ui.events.size(), 4u);
    EXPECT_EQ(ui.events[0], (test::Event{test::Event::node, "Set 0x453818 0x0002", 1}));
    EXPECT_EQ(ui.events[1], (test::Event{test::Event::node, "to 0x00000010", 2}));
    EXPECT_EQ(ui.events[2].text, "Text : ");
    EXPECT_EQ(ui.events[3].text, ("Text : " + long_value).substr(0, 255));
}

// A source that hands over one byte per read, to cross every buffer edge.
struct TrickleSource : ByteSource {
    std::string_view text;
    std::size_t pos = 0;
    std::size_t read(std::span<std::uint8_t> out) override {
        if (pos == text.size() || out.empty()) return 0;
        out[0] = static_cast<std::uint8_t>(text[pos++]);
        return 1;
    }
};

TEST(ScriptListing, LineReaderPiecesAndLineEnds) {
    const std::string x253(253, 'x'), x254(254, 'x'), x46(46, 'x');
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\r\nb", {"a", "", "b"}},
        {"********************\n** Set\n0x0002\n** to\n*x\n", {"0x0002"}},
        {"\n", {""}},
        {"last", {"last"}},
        {"** label only\n", {}},
        {"", {}},
        {x253 + "\r\ny", {x253, "y"}},  // the LF lies beyond the 254 bytes read
        {x253 + "\ry", {x253, "y"}},
        {x254 + "\ny", {x254, "", "y"}},
        {x254 + x46 + "\n", {x254, x46}},
        {"*" + x253 + "x\nv\n", {"x", "v"}},  // a long label line's second piece is a value
    };
    for (const auto& c : cases) {
        MemorySource mem(c.text);
        TrickleSource trickle;
        trickle.text = c.text;
        for (ByteSource* src : {static_cast<ByteSource*>(&mem), static_cast<ByteSource*>(&trickle)}) {
            LineReader reader(*src);
            std::vector<std::string> got;
            while (auto line = reader.next()) got.emplace_back(*line);
            EXPECT_EQ(got, c.lines) << c.text;
        }
    }
    MemorySource src("**a\r\n0x1\r\n\r\n*b\nzz");
    LineReader reader(src);
    std::vector<std::uint64_t> numbers;
    while (reader.next()) numbers.push_back(reader.line_number());
    EXPECT_EQ(numbers, (std::vector<std::uint64_t>{2, 3, 5}));
}

TEST(ScriptListing, NumberReading) {
    struct Case {
        std::string_view line;
        int digits;
        std::optional<std::uint32_t> value;
    } cases[] = {
        {"0x0201", 4, 0x0201},     {"0x00001234", 8, 0x1234}, {"0x7f", 2, 0x7F},
        {"0X00FF", 4, 0xFF},       {"ff", 4, 0xFF},           {"-1", 4, 0xFFFFFFFF},
        {"0x12345", 4, 0x1234},    {"0101", 4, 0x101},        {" \t+0x10", 4, 0x10},
        {"-123", 4, 0u - 0x123u},  {"-1234", 4, 0u - 0x123u}, {"12zz", 4, 0x12},
        {"0x", 4, 0},              {"0xABCDEF012", 8, 0xABCDEF01},
        {"", 4, std::nullopt},     {"zz", 4, std::nullopt},   {"-", 4, std::nullopt},
        {"x12", 4, std::nullopt},  {"- 1", 4, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(read_number(c.line, c.digits), c.value) << c.line;
}

TEST(ScriptEncoder, LinesToBytes) {
    const std::string x300(300, 'y');
    struct Case {
        std::string listing;
        std::string bytes;  // hex
        std::string items;  // with the encoder's labels
    } cases[] = {
        {"0x0000\n0x0001\n\nHello\n", "0000 0100 48656C6C6F00", "Init Text#0x0000|Idx :#0x0001|Play Voice :#|Play Text :#Hello"},
        {"0x0000\n0x0001\nabc\nHello\n", "0000 0100 5C56 616263 2E 48656C6C6F00",
         "Init Text#0x0000|Idx :#0x0001|Play Voice :#abc|Play Text :#Hello"},
        {"0x8000\n0x12345678\n0x03\n", "0080 78563412 03 000000000000000000000000000000", "???#0x8000|data#0x12345678|data#0x03"},
        {"0x0102\n0x0601\n", "0201 0106", "unknown#0x0102|Nothing#0x0601"},
        {"0x10701\n", "7010", "unknown#0x10701"},
        {"0x0002\n-1\n0x0705\n", "0200 FFFFFFFF", "Set 0x453818#0x0002|to#-1|Load Bitmap 640x480#0x0705"},  // cut: dropped
        {"0x0205\n*skipped\nscene\n", "0502 7363656E6500", "Load a script#0x0205|name#scene"},
        {"0x0502\n7\n0x0505\n8\n0x0706\nn\n", "0205 0700 0505 0800 0607 6E00",
         "Init map#0x0502|n\xB0#7|Save gamesys#0x0505|n\xB0#8|Load Bitmap 2nd way(?)#0x0706|name#n"},
        {"0x0300\nd\n0x0305\na\nb\n0x0701\n1\n2\n3\n4\n", "0003 6400 0503 6100 6200 0107 01020304",
         "????#0x0300|data#d|Load 2 bitmaps side by side#0x0305|bmp1#a|bmp2#b|Init 43c62a ??#0x0701|data#1|data#2|data#3|data#4"},
    };
    for (const auto& c : cases) {
        Recorder r;
        EXPECT_EQ(encode_text(c.listing, &r), hex(c.bytes)) << c.listing;
        EXPECT_EQ(r.items, c.items);
    }
    // A line of 300 bytes is a string of its first 254 bytes; the other 46
    // are read as the next opcode line, which holds no number. So is the
    // empty line that follows a piece of exactly 254 bytes.
    EXPECT_EQ(encode_text("0x0205\n" + x300 + "\n"), std::nullopt);
    EXPECT_EQ(encode_text("0x0205\n" + x300.substr(0, 254) + "\n0x0601\n"), std::nullopt);
    const auto longest = encode_text("0x0205\n" + x300.substr(0, 253) + "\n0x0601\n");
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->size(), 2u + 253u + 1u + 2u);
}

TEST(ScriptEncoder, LinesWithoutNumbersAreReportedWithTheirLine) {
    MemorySource src("********************\n** Set 0x453818\n0x0002\n** to\n\n");
    LineReader reader(src);
    Recorder r;
    Bytes out;
    const Encoded e = encode_listing(reader, r, out);
    EXPECT_EQ(e.step, Encoded::no_number);
    EXPECT_EQ(e.line, 5u);
    EXPECT_EQ(no_number_message("s.txt", e),
              "s.txt\nLine 5 holds no number where the operand \"to\" of \"Set 0x453818\" (0x0002) was expected.\n"
              "No AB file was written.");
    for (std::string_view text : {"x\n", "0x0601\n\n"}) EXPECT_EQ(encode_text(text), std::nullopt) << text;
}

TEST(ScriptRoundTrip, GeneratedScripts) {
    // Scripts that the listing carries come back byte for byte; of the others,
    // exactly those that come back differently carry a notice.
    int noted = 0;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        kit::Rng rng(seed);
        kit::ScriptOptions options;
        options.round_trip = seed <= 20;
        const Bytes script = kit::random_script(rng, 1 + rng.below(3000), options);
        ScriptNotes notes;
        const auto back = encode_text(listing_of(script, &notes));
        EXPECT_EQ(back == script, !notes.any()) << "seed " << seed;
        noted += notes.any();
        if (options.round_trip) {
            EXPECT_EQ(back, script) << "seed " << seed;
        }
    }
    EXPECT_GE(noted, 15);  // the scripts with faults do reach the notices
}

}  // namespace
}  // namespace vid::script

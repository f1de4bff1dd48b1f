// The AB instruction set, the listing's lines and values, the instruction
// decoder and encoder, over bytes and text in memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "formats.h"
#include "kit/script_maker.h"
#include "script/decoder.h"
#include "script/encoder.h"
#include "script/instructions.h"
#include "script/listing.h"
#include "script/codec.h"
#include "test_support.h"

namespace vid::script {
namespace {

using test::hex;

// Items as "label#value", joined by "|".
struct Recorder : ItemSink {
    std::string items;
    void item(std::string_view label, std::string_view value, int) override {
        items.append(items.empty() ? "" : "|").append(label).append("#").append(value);
    }
};

// The bytes that a listing encodes to; nullopt when a line holds no number.
std::optional<Bytes> encode_text(std::string_view text, Recorder* items = nullptr) {
    MemorySource src(text);
    LineReader reader(src);
    Recorder scratch;
    Bytes out;
    if (encode_listing(reader, items ? *items : scratch, out).step == Encoded::no_number) return std::nullopt;
    return out;
}

TEST(ScriptDecoder, EveryOpcodeOfTheTableAndUnknownOnes) {
    int known = 0;
    for (std::uint32_t v = 0; v <= 0xFFFF; ++v) known += find_instruction(static_cast<std::uint16_t>(v)) != nullptr;
    EXPECT_EQ(known, 62);
    // One instruction per row of the written-down table, each operand kind
    // with its bytes and its value text; decoded with the decoder's labels,
    // encoded back with the encoder's.
    const std::map<std::string, std::pair<std::string, std::string>> kinds = {
        {"u8", {"AB", "0xab"}},        {"u16", {"3412", "0x1234"}}, {"u32", {"EFCDAB89", "0x89abcdef"}},
        {"u32+", {"45230100", "0x12345"}}, {"count", {"02 0000000000 0000000000", "0x02"}},
        {"voice", {"5C56 7631 2E", "v1"}}, {"str", {"616200", "ab"}},
    };
    const auto items = [](std::string_view label, std::uint16_t opcode) {
        char value[8];
        std::snprintf(value, sizeof value, "0x%04x", opcode);
        return std::string(label) + "#" + value;
    };
    for (const auto& row : formats::kAbInstructions) {
        Bytes data = {std::uint8_t(row.opcode), std::uint8_t(row.opcode >> 8)};
        std::string decoded = items(row.label, row.opcode);
        std::string encoded = items(row.encoder_label.empty() ? row.label : row.encoder_label, row.opcode);
        for (const auto& o : formats::ab_operands(row)) {
            const auto& [bytes, value] = kinds.at(o.kind);
            const Bytes b = hex(bytes);
            data.insert(data.end(), b.begin(), b.end());
            decoded += "|" + o.label + "#" + value;
            encoded += "|" + o.encoder_label + "#" + value;
        }
        data.push_back(0x01);  // the next instruction's first byte is not read
        Recorder r;
        const Decoded d = decode_instruction(data, 0, r);
        EXPECT_EQ(d.length, data.size() - 1) << decoded;
        EXPECT_EQ(r.items, decoded);
        EXPECT_FALSE(d.cut || d.tail || d.loss != Loss::none) << decoded;
        data.pop_back();  // and back: the instruction's listing encodes to its bytes
        Recorder back;
        EXPECT_EQ(encode_text(listing_of(data), &back), data) << decoded;
        EXPECT_EQ(back.items, encoded);
    }
    for (const auto& [bytes, item] : {std::pair{"0201", "unknown#0x0102"}, {"1107", "unknown#0x0711"}, {"FFFF", "unknown#0xffff"}}) {
        Recorder r;
        EXPECT_EQ(decode_instruction(hex(bytes), 0, r).length, 2u);
        EXPECT_EQ(r.items, item);
    }
}

TEST(ScriptDecoder, VoiceMarkersAndCutInstructions) {
    std::string a253;  // a string of 253 bytes "a", in hex
    for (int i = 0; i < 253; ++i) a253 += "61";
    struct Case {  // operands: the items after the instruction's own
        std::string bytes, operands;
        bool cut;
        Loss loss;
    } cases[] = {
        // Init Text, index 1; "\V" = 5C56, "." = 2E.
        {"0000 0100 5C56 2E 48656C6C6F 00", "Idx :#0x0001|Play voice :#|Text :#Hello", false, Loss::empty_voice},
        {"0000 0100 5C56 616263 00 2E", "Idx :#0x0001|Play voice :#abc|Text :#", false, Loss::open_voice},
        {"0000 0100 5C56 616263", "Idx :#0x0001|Play voice :#abc", true, Loss::none},
        {"0000 0100 5C", "Idx :#0x0001|Play voice :#", true, Loss::none},
        {"0000 0100 2A78 00", "Idx :#0x0001|Play voice :#|Text :#*x", false, Loss::star},
        {"0000 0100 5C56 610D62 2E 00", "Idx :#0x0001|Play voice :#a\rb|Text :#", false, Loss::line_break},
        // A line of 254 bytes comes back in two pieces.
        {"0302 " + a253 + "00", "name#" + std::string(253, 'a'), false, Loss::none},
        {"0302 " + a253 + "61 00", "name#" + std::string(254, 'a'), false, Loss::too_long},
        // Cut elsewhere: only complete operands are shown.
        {"01", "", true, Loss::none}, {"0200 EFCD", "", true, Loss::none}, {"0302 6162", "", true, Loss::none},
        {"0107 AB CD", "data1#0xab|data2#0xcd", true, Loss::none},
        {"0080 00000000 02 0000000000 00", "data#0x0000|data#0x02", true, Loss::none},
    };
    for (const auto& c : cases) {
        const Bytes data = hex(c.bytes);
        Recorder r;
        const Decoded d = decode_instruction(data, 0, r);
        const auto bar = r.items.find('|');
        EXPECT_EQ(bar == std::string::npos ? "" : r.items.substr(bar + 1), c.operands) << c.bytes;
        // A cut instruction takes the rest of the data; an open voice leaves the byte after its zero.
        EXPECT_EQ(std::tuple(d.length, d.cut, d.loss), std::tuple(data.size() - (c.loss == Loss::open_voice), c.cut, c.loss)) << c.bytes;
    }
}

TEST(ScriptDecoder, StringsLongerThanTheBufferStreamThrough) {
    // An Update Text of 10,000 bytes with a line feed near its end, a voice
    // name of 6,000 bytes (with an empty text), and a file name of 5,000 bytes that begins with
    // "*", through a buffer of 4,096 bytes: the listing and the nodes are
    // those of the whole data, and the long values reach the sink in pieces.
    std::string text(10000, 't'), voice(6000, 'v'), name = "*" + std::string(4999, 'n');
    text[9000] = '\n';
    kit::ScriptBuilder b;
    b.op(0x0001).u16(1).str(text);
    b.init_text(2, voice, "");
    b.op(0x0205).str(name);
    const std::string want = std::string(kSeparatorLine) + "** Update Text\n0x0001\n** Idx :\n0x0001\n** Text :\n" + text +
                             "\n" + std::string(kSeparatorLine) + "** Init Text\n0x0000\n** Idx :\n0x0002\n** Play voice :\n" +
                             voice + "\n** Text :\n\n" + std::string(kSeparatorLine) + "** Load a script\n0x0205\n** name\n" +
                             name + "\n";
    struct Counting : ItemSink {  // the item writer, counting the pieces it is given
        explicit Counting(ItemWriter& w) : to(w) {}
        ItemWriter& to;
        int pieces = 0;
        void item(std::string_view label, std::string_view value, int level) override { to.item(label, value, level); }
        void begin_item(std::string_view label, int level) override { to.begin_item(label, level); }
        void value_piece(std::string_view piece) override { ++pieces, to.value_piece(piece); }
        void end_item() override { to.end_item(); }
    };
    std::vector<std::string> nodes[2];
    for (const std::size_t capacity : {std::size_t{0}, b.bytes().size()}) {  // the smallest buffer, and all of it
        test::RecordingUi ui(true);
        ListingBuffer lines;
        ItemWriter items(ui, &lines);
        Counting writer(items);
        MemorySource source({reinterpret_cast<const char*>(b.bytes().data()), b.bytes().size()});
        const ScriptNotes notes = decode_script(source, writer, capacity);
        EXPECT_EQ(lines.pending(), want) << capacity;
        EXPECT_EQ(notes.loss_at, 0u);
        EXPECT_EQ(notes.loss, Loss::line_break);
        EXPECT_EQ(writer.pieces > 0, capacity == 0) << capacity;
        nodes[capacity != 0] = ui.texts(test::Event::node);
    }
    EXPECT_EQ(nodes[0], nodes[1]);
    EXPECT_EQ(nodes[0][2], ("Text : " + text).substr(0, 255));  // node texts are cut to 255
    EXPECT_EQ(nodes[0][6], "Text : ");
    EXPECT_EQ(check_value(name), Loss::star);
}

// A source that hands over one byte per read, to cross every buffer edge.
struct TrickleSource : ByteSource {
    std::string_view text;
    explicit TrickleSource(std::string_view t) : text(t) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        if (text.empty() || out.empty()) return 0;
        out[0] = static_cast<std::uint8_t>(text[0]);
        text.remove_prefix(1);
        return 1;
    }
};

TEST(ScriptListing, LineReaderPiecesAndLineEnds) {
    const std::string x253(253, 'x'), x254(254, 'x'), x46(46, 'x');
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"a\nb\n", {"a", "b"}}, {"a\r\nb\r\n", {"a", "b"}}, {"a\rb\r", {"a", "b"}}, {"a\n\r\nb", {"a", "", "b"}},
        {"********************\n** Set\n0x0002\n** to\n*x\n", {"0x0002"}}, {"last", {"last"}}, {"", {}},
        {x253 + "\r\ny", {x253, "y"}},  // the LF lies beyond the 254 bytes read
        {x253 + "\ry", {x253, "y"}}, {x254 + "\ny", {x254, "", "y"}}, {x254 + x46 + "\n", {x254, x46}},
        {"*" + x253 + "x\nv\n", {"x", "v"}},  // a long label line's second piece is a value
    };
    for (const auto& [text, lines] : cases) {
        MemorySource mem(text);
        TrickleSource trickle(text);
        for (ByteSource* src : std::initializer_list<ByteSource*>{&mem, &trickle}) {
            LineReader reader(*src);
            std::vector<std::string> got;
            while (auto line = reader.next()) got.emplace_back(*line);
            EXPECT_EQ(got, lines) << text;
        }
    }
}

// Where each instruction's lines begin in the listing: at its line of
// asterisks, also for an instruction cut off by the end of the script.
TEST(ScriptListing, WhereEachInstructionBegins) {
    // Nothing (0x0601); Update Text 2 "ab"; an opcode outside the table; Pause cut off.
    const Bytes script = test::hex("0106  0100 0200 6162 00  3412  0306 E8");
    std::vector<std::size_t> starts;
    const std::string listing = script::listing_of(script, nullptr, &starts);
    ASSERT_EQ(starts.size(), 4u) << listing;
    for (const std::size_t at : starts) EXPECT_EQ(listing.compare(at, 21, "********************\n"), 0) << at;
    EXPECT_EQ(starts[0], 0u);
    // Three lines for an instruction (asterisks, label, value), two for each operand.
    EXPECT_EQ(std::count(listing.begin(), listing.begin() + static_cast<std::ptrdiff_t>(starts[2]), '\n'), 3 + (3 + 2 + 2));
}

TEST(ScriptListing, NumberReading) {
    const std::tuple<std::string_view, int, std::optional<std::uint32_t>> cases[] = {  // line, digits at most, value
        {"0x7f", 2, 0x7F},       {"0X00FF", 4, 0xFF},    {"ff", 4, 0xFF},       {"-1", 4, 0xFFFFFFFF},
        {"0x12345", 4, 0x1234},  {" \t+0x10", 4, 0x10},  {"-1234", 4, 0u - 0x123u}, {"12zz", 4, 0x12},
        {"0x", 4, 0},            {"0xABCDEF012", 8, 0xABCDEF01}, {"", 4, std::nullopt}, {"zz", 4, std::nullopt},
        {"-", 4, std::nullopt},  {"x12", 4, std::nullopt}, {"- 1", 4, std::nullopt},
    };
    for (const auto& [line, digits, value] : cases) EXPECT_EQ(read_number(line, digits), value) << line;
}

TEST(ScriptEncoder, LinesToBytes) {
    struct Case {
        std::string listing, bytes, items;  // bytes in hex; items with the encoder's labels
    } cases[] = {
        {"0x0000\n0x0001\n\nHello\n", "0000 0100 48656C6C6F00", "Init Text#0x0000|Idx :#0x0001|Play Voice :#|Play Text :#Hello"},
        {"0x0000\n0x0001\nabc\nHello\n", "0000 0100 5C56 616263 2E 48656C6C6F00",
         "Init Text#0x0000|Idx :#0x0001|Play Voice :#abc|Play Text :#Hello"},
        // 0x8000: a first operand of 8 digits, and 5 zero bytes per unit of the count.
        {"0x8000\n0x12345678\n0x03\n", "0080 78563412 03 000000000000000000000000000000", "???#0x8000|data#0x12345678|data#0x03"},
        {"0x10701\n", "7010", "unknown#0x10701"},
        // Numbers with more digits than their kind: cut after 4 (u16) and 8 (u32) digits.
        {"0x0003\n0x12345\n0x0002\n0x123456789\n", "0300 3412 0200 78563412",
         "Init Text with caption#0x0003|Idx :#0x12345|Set 0x453818#0x0002|to#0x123456789"},
        {"0x0002\n-1\n0x0705\n", "0200 FFFFFFFF", "Set 0x453818#0x0002|to#-1|Load Bitmap 640x480#0x0705"},  // cut: dropped
    };
    for (const auto& c : cases) {
        Recorder r;
        EXPECT_EQ(encode_text(c.listing, &r), hex(c.bytes)) << c.listing;
        EXPECT_EQ(r.items, c.items);
    }
}

TEST(ScriptRoundTrip, GeneratedScripts) {
    // Scripts that the listing carries come back byte for byte; of the others,
    // exactly those that come back differently carry a notice.
    int noted = 0;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        kit::Rng rng(seed);
        const kit::ScriptOptions options{.round_trip = seed <= 20};
        const Bytes script = kit::random_script(rng, 1 + rng.below(3000), options);
        ScriptNotes notes;
        const auto back = encode_text(listing_of(script, &notes));
        EXPECT_EQ(back == script, !notes.any()) << "seed " << seed;
        EXPECT_TRUE(back == script || !options.round_trip) << "seed " << seed;
        noted += notes.any();
    }
    EXPECT_GE(noted, 15);  // the scripts with faults do reach the notices
}

}  // namespace
}  // namespace vid::script

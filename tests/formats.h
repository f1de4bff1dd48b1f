// The formats' fixed tables, written down by hand from the formats, once.
// Tests compare the program's own tables with these and build their
// expected values from them: a fixture built with the program's tables
// would be wrong exactly where they are.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vid::formats {

// WV5: the 128 step magnitudes; code c < 128 adds steps[c], code c >= 128
// subtracts steps[c - 128].
inline constexpr std::array<std::uint16_t, 128> kWv5Steps = {
    0,     1,     2,     3,     4,     5,     7,     8,     9,     11,    13,    14,    16,    18,    20,    22,
    25,    27,    30,    33,    36,    39,    42,    46,    49,    53,    58,    62,    67,    72,    78,    83,
    90,    96,    103,   110,   118,   127,   135,   145,   155,   165,   177,   188,   201,   215,   229,   244,
    260,   278,   296,   315,   336,   358,   381,   406,   432,   460,   489,   521,   554,   590,   627,   667,
    710,   755,   803,   854,   908,   966,   1027,  1092,  1161,  1235,  1313,  1395,  1483,  1577,  1676,  1782,
    1894,  2013,  2139,  2273,  2416,  2568,  2729,  2900,  3082,  3275,  3480,  3698,  3930,  4176,  4437,  4715,
    5010,  5323,  5656,  6010,  6386,  6785,  7209,  7659,  8138,  8647,  9187,  9761,  10370, 11018, 11706, 12437,
    13214, 14039, 14915, 15846, 16836, 17886, 19003, 20189, 21449, 22788, 24210, 25721, 27326, 29031, 30842, 32767,
};

// BM2 LZSS: a ring window of 4096 bytes, zero at the start and first written
// at 4078; a match is 2 bytes, a 12-bit window position and a length of 3
// to 18 in 4 bits.
inline constexpr std::size_t kLzssWindow = 4096, kLzssStart = 4078, kLzssMaxMatch = 18;

// AB: the instruction set. Operands as "KIND LABEL" separated by "|"; a
// label "A/B" is A in the decoded listing and B in the encoder's listing
// view. Kinds: u8, u16, u32; u32+ (4 bytes, value text of at least 4
// digits); count (1 byte, then 5 bytes per unit that the listing does not
// show); voice (the optional voice marker that opens the next string); str.
struct AbRow {
    std::uint16_t opcode;
    std::string_view label, encoder_label;  // empty: the same label
    std::string_view operands;
};
inline constexpr AbRow kAbInstructions[] = {
    {0x0000, "Init Text", "", "u16 Idx :|voice Play voice :/Play Voice :|str Text :/Play Text :"},
    {0x0001, "Update Text", "", "u16 Idx :|str Text :/New Text :"},
    {0x0002, "Set 0x453818", "", "u32 to"},
    {0x0003, "Init Text with caption", "", "u16 Idx :"},
    {0x0004, "Define font (MS Mincho) size", "", "u16 new size :/to"},
    {0x0100, "Fill 0x43C9E2 ???", "", "u16 from|u16 to|u16 data :/data"},
    {0x0101, "Update 0x43C9E2 ???", "", "u16 data1 :/data1|u8 data2 :/data2|u16 data3 :/data3"},
    {0x0103, "Update timer and 0x43C9E2 ???", "", "u16 data1 :/data1|u16 data2 :/data2|u16 data3 :/data"},
    {0x0104, "Update 0x43C9E2 ???", "", "u16 data1 :/data1|u16 data2 :/data2|u16 data3 :/data"},
    {0x0105, "RAZ 0x44E528", "", ""},
    {0x0106, "Init some values and 44E528++???", "", "u16 4529B8[44E528] =|u32 4423F8[44E528] ="},
    {0x0107, "???", "", "u16 data :/data"},
    {0x0201, "Save current pos in this script and jump", "", "u32 to"},
    {0x0202, "Jump to previous saved pos", "", ""},
    {0x0203, "Jump (temporary) to another script", "", "str name"},
    {0x0204, "Reload previous script at saved pos", "", ""},
    {0x0205, "Load a script", "", "str name"},
    {0x0300, "???", "????", "str data"},
    {0x0301, "???", "????", "str data1/data|u32 data2"},
    {0x0302, "???", "????", "u16 data"},
    {0x0303, "???", "????", ""},
    {0x0304, "???", "????", ""},
    {0x0305, "Load 2 bitmaps side by side", "", "str file1/bmp1|str file2/bmp2"},
    {0x0306, "???", "????", "u32 data|u16 data|u16 data|u16 data|u16 data"},
    {0x0307, "???", "????", ""},
    {0x0400, "???", "????", ""},
    {0x0401, "???", "????", ""},
    {0x0402, "???", "????", "u16 data"},
    {0x0403, "???", "????", "u16 data"},
    {0x0500, "???", "????", ""},
    {0x0501, "???", "????", ""},
    {0x0502, "Init map", "", "u16 num/n\xB0"},  // "n" and the degree sign of the ANSI code page
    {0x0503, "Init 43C61E", "", "u16 data"},
    {0x0504, "???", "????", "u16 data|str data"},
    {0x0505, "Save gamesys", "", "u16 num/n\xB0"},
    {0x0600, "Play Music", "", "str name|u16 Flag/flag"},
    {0x0601, "Nothing", "", ""},
    {0x0602, "Reset Music", "", ""},
    {0x0603, "Pause x milliseconds", "", "u32 msec"},
    {0x0604, "Stop Music ??", "", ""},
    {0x0605, "Play FX", "", "str name"},
    {0x0606, "???", "????", "u16 data"},
    {0x0607, "???", "????", ""},
    {0x0608, "???", "????", ""},
    {0x0700, "Init some pic data ??", "", "u16 data1|u16 data2|u16 width(?)|u16 height(?)"},
    {0x0701, "Init 43c62a ??", "", "u8 data1/data|u8 data2/data|u8 data3/data|u8 data4/data"},
    {0x0702, "Load 07.BM2", "", "u16 data"},
    {0x0703, "Load Bitmap 640x480", "", "str name"},
    {0x0704, "Load Bitmap ?x?", "", "str name"},
    {0x0705, "Load Bitmap 640x480", "", "str name"},
    {0x0706, "Load Bitmap 640x480 2nd way(?)", "Load Bitmap 2nd way(?)", "str name"},
    {0x0707, "Load Bitmap 3rd way(?)", "", "u16 data|str name"},
    {0x0708, "Load Bitmap 4th way(?)", "", "u16 data1/data|u16 data2/data|str name"},
    {0x0709, "Draw bitmap with Transition", "", "u16 idcode"},
    {0x070A, "Draw black->bitmap with Transition", "", "u16 idcode"},
    {0x070B, "Draw screen->bitmap with Transition", "", "u16 idcode"},
    {0x070C, "Reset bitmap data (?]", "", ""},
    {0x070D, "Fill screen with color", "", "u16 idcolor"},
    {0x070E, "???", "", "u16 data"},
    {0x070F, "???", "", "u16 data"},
    {0x0710, "Load alpha bitmap", "", "str name"},
    {0x8000, "???", "", "u32+ data|count data"},
};

struct AbOperand {
    std::string kind, label, encoder_label;
};
// The operands of a row, taken apart.
inline std::vector<AbOperand> ab_operands(const AbRow& row) {
    std::vector<AbOperand> out;
    for (std::string_view rest = row.operands; !rest.empty();) {
        const auto bar = rest.find('|');
        const std::string_view one = rest.substr(0, bar);
        rest = bar == std::string_view::npos ? std::string_view{} : rest.substr(bar + 1);
        const auto blank = one.find(' '), slash = one.find('/');
        const std::string_view label = one.substr(blank + 1, slash == std::string_view::npos ? slash : slash - blank - 1);
        out.push_back({std::string(one.substr(0, blank)), std::string(label),
                       std::string(slash == std::string_view::npos ? label : one.substr(slash + 1))});
    }
    return out;
}

}  // namespace vid::formats

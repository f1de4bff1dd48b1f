#include "script/instructions.h"

#include <initializer_list>

namespace vid::script {

namespace {

// An operand whose label is the same in both directions.
constexpr OperandSpec op(Kind kind, std::string_view label) { return {kind, label, label}; }
// An operand that the encoder labels differently.
constexpr OperandSpec op(Kind kind, std::string_view label, std::string_view encoder_label) {
    return {kind, label, encoder_label};
}

constexpr Instruction row(std::uint16_t opcode, std::string_view label, std::string_view encoder_label,
                          std::initializer_list<OperandSpec> operands = {}) {
    Instruction in{opcode, label, encoder_label, {}, static_cast<std::uint8_t>(operands.size())};
    std::size_t i = 0;
    for (const OperandSpec& o : operands) in.operand_slots[i++] = o;
    return in;
}
constexpr Instruction row(std::uint16_t opcode, std::string_view label,
                          std::initializer_list<OperandSpec> operands = {}) {
    return row(opcode, label, label, operands);
}

using K = Kind;

constexpr std::string_view kNo = "n\xB0";  // "n" and the degree sign of the ANSI code page

constexpr Instruction kTable[] = {
    row(0x0000, "Init Text",
        {op(K::u16, "Idx :"), op(K::voice, "Play voice :", "Play Voice :"), op(K::string, "Text :", "Play Text :")}),
    row(0x0001, "Update Text", {op(K::u16, "Idx :"), op(K::string, "Text :", "New Text :")}),
    row(0x0002, "Set 0x453818", {op(K::u32, "to")}),
    row(0x0003, "Init Text with caption", {op(K::u16, "Idx :")}),
    row(0x0004, "Define font (MS Mincho) size", {op(K::u16, "new size :", "to")}),
    row(0x0100, "Fill 0x43C9E2 ???", {op(K::u16, "from"), op(K::u16, "to"), op(K::u16, "data :", "data")}),
    row(0x0101, "Update 0x43C9E2 ???",
        {op(K::u16, "data1 :", "data1"), op(K::u8, "data2 :", "data2"), op(K::u16, "data3 :", "data3")}),
    row(0x0103, "Update timer and 0x43C9E2 ???",
        {op(K::u16, "data1 :", "data1"), op(K::u16, "data2 :", "data2"), op(K::u16, "data3 :", "data")}),
    row(0x0104, "Update 0x43C9E2 ???",
        {op(K::u16, "data1 :", "data1"), op(K::u16, "data2 :", "data2"), op(K::u16, "data3 :", "data")}),
    row(0x0105, "RAZ 0x44E528"),
    row(0x0106, "Init some values and 44E528++???", {op(K::u16, "4529B8[44E528] ="), op(K::u32, "4423F8[44E528] =")}),
    row(0x0107, "???", {op(K::u16, "data :", "data")}),
    row(0x0201, "Save current pos in this script and jump", {op(K::u32, "to")}),
    row(0x0202, "Jump to previous saved pos"),
    row(0x0203, "Jump (temporary) to another script", {op(K::string, "name")}),
    row(0x0204, "Reload previous script at saved pos"),
    row(0x0205, "Load a script", {op(K::string, "name")}),
    row(0x0300, "???", "????", {op(K::string, "data")}),
    row(0x0301, "???", "????", {op(K::string, "data1", "data"), op(K::u32, "data2")}),
    row(0x0302, "???", "????", {op(K::u16, "data")}),
    row(0x0303, "???", "????"),
    row(0x0304, "???", "????"),
    row(0x0305, "Load 2 bitmaps side by side", {op(K::string, "file1", "bmp1"), op(K::string, "file2", "bmp2")}),
    row(0x0306, "???", "????",
        {op(K::u32, "data"), op(K::u16, "data"), op(K::u16, "data"), op(K::u16, "data"), op(K::u16, "data")}),
    row(0x0307, "???", "????"),
    row(0x0400, "???", "????"),
    row(0x0401, "???", "????"),
    row(0x0402, "???", "????", {op(K::u16, "data")}),
    row(0x0403, "???", "????", {op(K::u16, "data")}),
    row(0x0500, "???", "????"),
    row(0x0501, "???", "????"),
    row(0x0502, "Init map", {op(K::u16, "num", kNo)}),
    row(0x0503, "Init 43C61E", {op(K::u16, "data")}),
    row(0x0504, "???", "????", {op(K::u16, "data"), op(K::string, "data")}),
    row(0x0505, "Save gamesys", {op(K::u16, "num", kNo)}),
    row(0x0600, "Play Music", {op(K::string, "name"), op(K::u16, "Flag", "flag")}),
    row(0x0601, "Nothing"),
    row(0x0602, "Reset Music"),
    row(0x0603, "Pause x milliseconds", {op(K::u32, "msec")}),
    row(0x0604, "Stop Music ??"),
    row(0x0605, "Play FX", {op(K::string, "name")}),
    row(0x0606, "???", "????", {op(K::u16, "data")}),
    row(0x0607, "???", "????"),
    row(0x0608, "???", "????"),
    row(0x0700, "Init some pic data ??",
        {op(K::u16, "data1"), op(K::u16, "data2"), op(K::u16, "width(?)"), op(K::u16, "height(?)")}),
    row(0x0701, "Init 43c62a ??",
        {op(K::u8, "data1", "data"), op(K::u8, "data2", "data"), op(K::u8, "data3", "data"),
         op(K::u8, "data4", "data")}),
    row(0x0702, "Load 07.BM2", {op(K::u16, "data")}),
    row(0x0703, "Load Bitmap 640x480", {op(K::string, "name")}),
    row(0x0704, "Load Bitmap ?x?", {op(K::string, "name")}),
    row(0x0705, "Load Bitmap 640x480", {op(K::string, "name")}),
    row(0x0706, "Load Bitmap 640x480 2nd way(?)", "Load Bitmap 2nd way(?)", {op(K::string, "name")}),
    row(0x0707, "Load Bitmap 3rd way(?)", {op(K::u16, "data"), op(K::string, "name")}),
    row(0x0708, "Load Bitmap 4th way(?)",
        {op(K::u16, "data1", "data"), op(K::u16, "data2", "data"), op(K::string, "name")}),
    row(0x0709, "Draw bitmap with Transition", {op(K::u16, "idcode")}),
    row(0x070A, "Draw black->bitmap with Transition", {op(K::u16, "idcode")}),
    row(0x070B, "Draw screen->bitmap with Transition", {op(K::u16, "idcode")}),
    row(0x070C, "Reset bitmap data (?]"),
    row(0x070D, "Fill screen with color", {op(K::u16, "idcolor")}),
    row(0x070E, "???", {op(K::u16, "data")}),
    row(0x070F, "???", {op(K::u16, "data")}),
    row(0x0710, "Load alpha bitmap", {op(K::string, "name")}),
    row(0x8000, "???", {op(K::u32_min4, "data"), op(K::count, "data")}),
};

static_assert(std::size(kTable) == 62);

// Row index + 1 of every opcode below 0x0800 (0: not in the table); 0x8000
// is the last row.
constexpr std::size_t kDirect = 0x0800;
constexpr auto kIndex = [] {
    std::array<std::uint8_t, kDirect> index{};
    for (std::size_t i = 0; i + 1 < std::size(kTable); ++i) index[kTable[i].opcode] = static_cast<std::uint8_t>(i + 1);
    return index;
}();
static_assert(kTable[std::size(kTable) - 1].opcode == 0x8000);

}  // namespace

std::span<const Instruction> instruction_table() { return kTable; }

const Instruction* find_instruction(std::uint16_t opcode) {
    if (opcode < kDirect) return kIndex[opcode] != 0 ? &kTable[kIndex[opcode] - 1] : nullptr;
    return opcode == 0x8000 ? &kTable[std::size(kTable) - 1] : nullptr;
}

}  // namespace vid::script

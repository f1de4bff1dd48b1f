// The AB bytecode's instruction set: 62 opcodes, each with the label under
// which the listing shows it and the labels and kinds of its operands.
//
// One table serves both directions: the decoder reads operands in the order
// and widths given here, and the encoder writes them back the same way. The
// encoder labels the listing view's nodes with a few labels of its own,
// kept beside the decoder's in the same rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vid::script {

enum class Kind : std::uint8_t {
    u8,        // 1 byte, value text 0x and 2 digits
    u16,       // 2 bytes, little-endian, 4 digits
    u32,       // 4 bytes, little-endian, 8 digits
    u32_min4,  // 4 bytes, value text of at least 4 digits (opcode 0x8000)
    count,     // 1 byte n (2 digits), followed by an unlisted tail of 5 * n bytes
    voice,     // optional voice marker "\V" name "." at the start of the next string
    string,    // bytes up to and including a zero byte
};

struct OperandSpec {
    Kind kind;
    std::string_view label;          // in the listing written by the decoder
    std::string_view encoder_label;  // in the listing view while encoding
};

struct Instruction {
    std::uint16_t opcode;
    std::string_view label;
    std::string_view encoder_label;
    std::array<OperandSpec, 5> operand_slots;
    std::uint8_t operand_count;

    std::span<const OperandSpec> operands() const { return {operand_slots.data(), operand_count}; }
};

// The label of an opcode outside the table, in both directions.
inline constexpr std::string_view kUnknownLabel = "unknown";

// Every row of the table, in opcode order.
std::span<const Instruction> instruction_table();

// The row of `opcode`, or null when the opcode is not in the table.
const Instruction* find_instruction(std::uint16_t opcode);

// Digits of a value text at least, for a number operand.
constexpr int min_digits(Kind kind) {
    switch (kind) {
        case Kind::u8:
        case Kind::count: return 2;
        case Kind::u16:
        case Kind::u32_min4: return 4;
        case Kind::u32: return 8;
        default: return 0;
    }
}

// Digits read at most from a number line of that kind.
constexpr int max_digits(Kind kind) {
    switch (kind) {
        case Kind::u8:
        case Kind::count: return 2;
        case Kind::u16: return 4;
        case Kind::u32:
        case Kind::u32_min4: return 8;
        default: return 0;
    }
}

// Bytes of a number operand in the file.
constexpr std::size_t width(Kind kind) {
    switch (kind) {
        case Kind::u8:
        case Kind::count: return 1;
        case Kind::u16: return 2;
        case Kind::u32:
        case Kind::u32_min4: return 4;
        default: return 0;
    }
}

constexpr bool is_number(Kind kind) { return kind != Kind::voice && kind != Kind::string; }

// Bytes of the tail of opcode 0x8000 per unit of its count.
inline constexpr std::size_t kTailUnit = 5;

}  // namespace vid::script

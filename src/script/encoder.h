// The instruction encoder: one instruction's lines of a listing into bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/bytes.h"
#include "script/instructions.h"
#include "script/listing.h"

namespace vid::script {

struct Encoded {
    enum Step {
        instruction,  // an instruction was appended
        end,          // the listing ended before an opcode line: its regular end
        dropped,      // the listing ended inside an instruction: nothing appended
        no_number,    // a number line held no number
        zero_byte,    // a value line held a zero byte, which would end its string early
    } step = end;
    // With no_number and zero_byte: the line; with no_number, what it
    // should have held (no instruction: the opcode).
    std::uint64_t line = 0;
    const Instruction* instruction_row = nullptr;
    const OperandSpec* operand = nullptr;
};

// Reads the lines of one instruction and appends its bytes to `out`; hands
// its items, with the encoder's labels, to `sink`.
Encoded encode_instruction(LineReader& in, ItemSink& sink, Bytes& out);

// Encodes every instruction of a listing into `out`. Stops at the end of the
// listing (Encoded::end; an instruction cut off by the end is left out), at
// a line that holds no number (Encoded::no_number) or at a line that holds
// a zero byte (Encoded::zero_byte).
Encoded encode_listing(LineReader& in, ItemSink& sink, Bytes& out);

// The Alert for a line that holds no number, and the reason alone (for a
// listing that is one file among many).
std::string no_number_message(std::string_view listing_path, const Encoded& e);
std::string no_number_reason(const Encoded& e);
// The same for a line that holds a zero byte.
std::string zero_byte_message(std::string_view listing_path, const Encoded& e);
std::string zero_byte_reason(const Encoded& e);

}  // namespace vid::script

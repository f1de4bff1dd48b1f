// AB scripts of our own, for tests, fuzz seeds, benchmarks and samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/bytes.h"
#include "kit/kit.h"

namespace vid::kit {

// Lays out instructions byte by byte.
class ScriptBuilder {
public:
    ScriptBuilder& op(std::uint16_t opcode) { return u16(opcode); }
    ScriptBuilder& u8(std::uint8_t v) { return put_u8(bytes_, v), *this; }
    ScriptBuilder& u16(std::uint16_t v) { return put_u16(bytes_, v), *this; }
    ScriptBuilder& u32(std::uint32_t v) { return put_u32(bytes_, v), *this; }
    // The text and its zero byte.
    ScriptBuilder& str(std::string_view text) { return put_text(bytes_, text), put_u8(bytes_, 0), *this; }
    ScriptBuilder& raw(std::string_view bytes) { return put_text(bytes_, bytes), *this; }
    // Init Text: index, then the voice marker (when `voice` is not empty) and the text.
    ScriptBuilder& init_text(std::uint16_t idx, std::string_view voice, std::string_view text);

    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

struct ScriptOptions {
    // Only what a listing carries back unchanged: strings without CR, LF or
    // a leading "*", shorter than 254 bytes; voice names not empty; opcode
    // 0x8000 with a zero tail; no instruction cut off at the end.
    bool round_trip = true;
    // Part of instructions (in 1/16) with an opcode outside the table.
    unsigned unknown_sixteenths = 1;
};

// One instruction of every row of the instruction table, in table order,
// with operand values from `rng` (round-trip safe).
Bytes every_opcode_script(Rng& rng);

// The same instructions, each on its own.
std::vector<Bytes> each_opcode(Rng& rng);

// A script of at least `min_bytes` bytes of random instructions.
Bytes random_script(Rng& rng, std::size_t min_bytes, const ScriptOptions& options = {});

}  // namespace vid::kit

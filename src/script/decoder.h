// The instruction decoder: one instruction of an AB script into items.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/bytes.h"
#include "script/listing.h"

namespace vid::script {

// Why a decoded string will not come back unchanged through the listing.
enum class Loss : std::uint8_t {
    none,
    star,         // begins with "*": the line reader skips it like a label line
    line_break,   // holds a carriage return or line feed: read back as two lines
    too_long,     // 254 bytes or longer: read back in pieces
    empty_voice,  // a voice marker with an empty voice name: encoded without marker
    open_voice,   // a voice marker without its full stop: encoded with one
};

// What one string value (a voice name with `voice`) costs the round trip.
Loss check_value(std::string_view value);

struct Decoded {
    std::size_t length = 0;  // bytes of the instruction; the rest of the data when cut
    bool cut = false;        // the data end inside the instruction
    bool tail = false;       // opcode 0x8000 with a tail that holds other bytes than zero
    Loss loss = Loss::none;  // the first string that the listing cannot carry
};

// Decodes the instruction at `pos` (< data.size()) and hands its items to
// `sink`: the instruction item, then one item per operand. Reads nothing
// past the data: of an instruction that the data cut off, the complete
// operands are emitted.
Decoded decode_instruction(ByteView data, std::size_t pos, ItemSink& sink);

// What the user is told once a script is decoded: the first offset of each
// reason why its listing will not encode back to the same bytes.
struct ScriptNotes {
    std::optional<std::size_t> cut_at;
    std::optional<std::size_t> tail_at;
    std::optional<std::size_t> loss_at;
    Loss loss = Loss::none;
    bool any() const { return cut_at || tail_at || loss_at; }
};

// Decodes a whole script, instruction after instruction.
ScriptNotes decode_script(ByteView data, ItemSink& sink);

// The notice for `notes` about the script at `path`.
std::string notes_message(std::string_view path, const ScriptNotes& notes);

}  // namespace vid::script

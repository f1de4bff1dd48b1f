// The texts of an AB script, found in its bytes, and a script rebuilt with
// some of them replaced.
//
// Texts are the strings of Init Text (0x0000, after its voice marker) and
// Update Text (0x0001). When a replaced text has another length, every
// byte after it moves; the "to" operands of 0x0201 (a position in the same
// script) move with the instruction they point at, provided each of them
// points at the start of an instruction (or at the end of the script).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"

namespace vid::script {

struct ScriptText {
    std::uint32_t n = 0;  // the instruction's number in the script, from 1
    std::uint16_t opcode = 0;  // 0x0000 or 0x0001
    std::uint16_t idx = 0;
    bool voice = false;        // Init Text with a voice marker
    bool open_voice = false;   // a voice marker without its full stop
    std::uint32_t voice_at = 0, voice_size = 0;  // the voice name's bytes
    std::uint32_t text_at = 0, text_size = 0;    // the text's bytes, before its zero byte
};

struct ScriptJump {
    std::uint32_t at = 0;  // the 0x0201 instruction's first byte
    std::uint32_t to = 0;  // its "to" operand
};

// Where everything is in one script.
struct ScriptMap {
    std::vector<std::uint32_t> starts;  // the first byte of every instruction, in order
    std::vector<ScriptText> texts;      // in instruction order; not those of a cut-off last instruction
    std::vector<ScriptJump> jumps;      // every complete 0x0201
    bool tail = false;                  // an 0x8000 with a tail of one or more entries
    std::uint64_t size = 0;
};

// Walks the instructions of `data` as the decoder does (an opcode outside
// the table is two bytes; the last instruction may be cut off by the end).
ScriptMap map_script(ByteView data);

// The jumps whose target is neither an instruction start nor the end.
std::vector<ScriptJump> loose_jumps(const ScriptMap& map);

// A text to replace: the text of `map.texts[text]` becomes `bytes`.
struct TextEdit {
    std::size_t text = 0;
    std::string bytes;
};

struct Rebuilt {
    Bytes data;
    std::size_t jumps_moved = 0;  // jumps whose "to" changed
};

// `data` with the texts replaced (edits in any order, one per text at
// most). With a change of length, every jump must be sound (loose_jumps()
// empty): each "to" is moved to where its instruction now starts.
Rebuilt rebuild_script(ByteView data, const ScriptMap& map, std::vector<TextEdit> edits);

}  // namespace vid::script

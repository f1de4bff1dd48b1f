// The instruction decoder: one instruction of an AB script into items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// A script on its way through the decoder: its bytes pulled from a source
// into a buffer of bounded size, so that any script decodes in bounded
// memory.
class ScriptReader {
public:
    static constexpr std::size_t kBuffer = 1 << 20;
    // Enough for the longest instruction without a string (0x8000 with a
    // tail of 255 x 5 bytes: 1282 bytes).
    static constexpr std::size_t kMinBuffer = 4096;

    explicit ScriptReader(ByteSource& source, std::size_t capacity = kBuffer);

    // Makes up to `n` bytes (n <= capacity()) from the current position
    // available at data(); returns how many are, fewer only at the end of
    // the script.
    std::size_t want(std::size_t n) { return end_ - pos_ >= n ? n : fill(n); }
    const std::uint8_t* data() const { return buf_.get() + pos_; }
    std::size_t held() const { return end_ - pos_; }
    void consume(std::size_t n) {
        pos_ += n;
        offset_ += n;
    }
    // Offset of the current position in the script.
    std::uint64_t offset() const { return offset_; }
    std::size_t capacity() const { return capacity_; }

private:
    // want() when fewer than `n` bytes are held.
    std::size_t fill(std::size_t n);

    ByteSource& source_;
    std::size_t capacity_;
    std::unique_ptr<std::uint8_t[]> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t offset_ = 0;
    bool ended_ = false;
};

// Decodes the instruction at the reader's position (not at the end) and
// hands its items to `sink`: the instruction item, then one item per
// operand. Reads nothing past the data: of an instruction that the data
// cut off, the complete operands are emitted (and a string longer than the
// buffer as far as it goes). A string longer than the buffer reaches the
// sink in pieces.
Decoded decode_instruction(ScriptReader& in, ItemSink& sink);
// The same over data in memory, at `pos` (< data.size()).
Decoded decode_instruction(ByteView data, std::size_t pos, ItemSink& sink);

// What the user is told once a script is decoded: the first offset of each
// reason why its listing will not encode back to the same bytes.
struct ScriptNotes {
    std::optional<std::uint64_t> cut_at;
    std::optional<std::uint64_t> tail_at;
    std::optional<std::uint64_t> loss_at;
    Loss loss = Loss::none;
    bool any() const { return cut_at || tail_at || loss_at; }
};

// Decodes a whole script, instruction after instruction, through a reader
// of `capacity` bytes.
ScriptNotes decode_script(ByteSource& source, ItemSink& sink, std::size_t capacity = ScriptReader::kBuffer);
ScriptNotes decode_script(ByteView data, ItemSink& sink);

// The notice for `notes` about the script at `path`.
std::string notes_message(std::string_view path, const ScriptNotes& notes);

}  // namespace vid::script

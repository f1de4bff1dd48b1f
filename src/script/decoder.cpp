#include "script/decoder.h"

#include <algorithm>
#include <cstring>

#include "core/text.h"
#include "script/instructions.h"

namespace vid::script {

namespace {

std::string_view as_text(ByteView bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

// The index of the first byte at or after `from` that is `a` or `b`, or
// data.size() when there is none.
std::size_t find_either(ByteView data, std::size_t from, std::uint8_t a, std::uint8_t b) {
    const auto* begin = data.data() + from;
    const auto* end = data.data() + data.size();
    const auto* it = std::find_if(begin, end, [a, b](std::uint8_t c) { return c == a || c == b; });
    return static_cast<std::size_t>(it - data.data());
}

std::string_view loss_text(Loss loss) {
    switch (loss) {
        case Loss::star: return "begins with \"*\", which the listing reads as a label line";
        case Loss::line_break: return "holds a carriage return or line feed";
        case Loss::too_long: return "is 254 bytes or longer";
        case Loss::empty_voice: return "has a voice marker with an empty voice name";
        case Loss::open_voice: return "has a voice marker without its full stop";
        case Loss::none: break;
    }
    return {};
}

}  // namespace

Loss check_value(std::string_view value) {
    if (value.empty()) return Loss::none;
    if (value[0] == '*') return Loss::star;
    if (std::memchr(value.data(), '\n', value.size()) != nullptr ||
        std::memchr(value.data(), '\r', value.size()) != nullptr)
        return Loss::line_break;
    if (value.size() >= 254) return Loss::too_long;
    return Loss::none;
}

Decoded decode_instruction(ByteView data, std::size_t pos, ItemSink& sink) {
    Decoded d;
    Cursor c(data, pos);
    ValueBuffer buf;
    const auto cut = [&] {
        d.cut = true;
        d.length = data.size() - pos;
        return d;
    };
    const auto note = [&](Loss loss) {
        if (d.loss == Loss::none) d.loss = loss;
    };

    const auto opcode = c.u16();
    if (!opcode) return cut();
    const Instruction* in = find_instruction(*opcode);
    if (in == nullptr) {
        sink.item(kUnknownLabel, value_text(*opcode, 4, buf), 1);
        d.length = 2;
        return d;
    }
    sink.item(in->label, value_text(*opcode, 4, buf), 1);

    for (const OperandSpec& o : in->operands()) {
        switch (o.kind) {
            case Kind::u8:
            case Kind::count: {
                const auto v = c.u8();
                if (!v) return cut();
                sink.item(o.label, value_text(*v, min_digits(o.kind), buf), 2);
                if (o.kind == Kind::count) {
                    const auto tail = c.take(kTailUnit * *v);
                    if (!tail) return cut();
                    d.tail = std::any_of(tail->begin(), tail->end(), [](std::uint8_t b) { return b != 0; });
                }
                break;
            }
            case Kind::u16: {
                const auto v = c.u16();
                if (!v) return cut();
                sink.item(o.label, value_text(*v, 4, buf), 2);
                break;
            }
            case Kind::u32:
            case Kind::u32_min4: {
                const auto v = c.u32();
                if (!v) return cut();
                sink.item(o.label, value_text(*v, min_digits(o.kind), buf), 2);
                break;
            }
            case Kind::voice: {
                // "\V", the voice name, "." at the start of the string that
                // follows. The name ends at the full stop, or at the string's
                // zero byte or the end of the data when it has none.
                const std::size_t at = c.pos();
                if (c.left() < 2 || data[at] != 0x5C || data[at + 1] != 0x56) {
                    sink.item(o.label, {}, 2);
                    break;
                }
                const std::size_t stop = find_either(data, at + 2, 0x2E, 0x00);
                const std::string_view name = as_text(data.subspan(at + 2, stop - (at + 2)));
                sink.item(o.label, name, 2);
                if (stop == data.size()) return cut();
                if (data[stop] == 0x2E) {
                    note(name.empty() ? Loss::empty_voice : check_value(name));
                    c.skip(stop + 1 - at);
                } else {
                    note(Loss::open_voice);
                    c.skip(stop - at);  // the zero byte ends the (empty) text
                }
                break;
            }
            case Kind::string: {
                const std::size_t at = c.pos();
                const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data.data() + at, 0, c.left()));
                if (zero == nullptr) return cut();
                const std::size_t len = static_cast<std::size_t>(zero - (data.data() + at));
                const std::string_view value = as_text(data.subspan(at, len));
                sink.item(o.label, value, 2);
                note(check_value(value));
                c.skip(len + 1);
                break;
            }
        }
    }
    d.length = c.pos() - pos;
    return d;
}

ScriptNotes decode_script(ByteView data, ItemSink& sink) {
    ScriptNotes notes;
    std::size_t pos = 0;
    while (pos < data.size()) {
        const Decoded d = decode_instruction(data, pos, sink);
        if (d.cut && !notes.cut_at) notes.cut_at = pos;
        if (d.tail && !notes.tail_at) notes.tail_at = pos;
        if (d.loss != Loss::none && !notes.loss_at) {
            notes.loss_at = pos;
            notes.loss = d.loss;
        }
        pos += d.length;
    }
    return notes;
}

std::string notes_message(std::string_view path, const ScriptNotes& notes) {
    std::string text = format("%s\nIts listing will not encode back to the same bytes:", {path});
    if (notes.cut_at)
        text += format("\n- the script ends inside the instruction at offset %s; the listing shows its complete "
                       "operands only",
                       {value_text(*notes.cut_at, 1)});
    if (notes.tail_at)
        text += format("\n- the instruction 0x8000 at offset %s has a tail that the listing does not carry",
                       {value_text(*notes.tail_at, 1)});
    if (notes.loss_at)
        text += format("\n- the instruction at offset %s holds a string that %s",
                       {value_text(*notes.loss_at, 1), loss_text(notes.loss)});
    return text;
}

}  // namespace vid::script

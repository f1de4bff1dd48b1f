#include "script/decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>

#include "core/text.h"
#include "script/instructions.h"

namespace vid::script {

namespace {

std::string_view as_text(ByteView bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

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

namespace {

// What a value's bytes, seen whole or in pieces, cost the round trip.
struct ValueCheck {
    std::uint64_t size = 0;
    bool star = false;
    bool line_break = false;

    void add(std::string_view piece) {
        if (size == 0 && !piece.empty() && piece[0] == '*') star = true;
        if (!line_break && (std::memchr(piece.data(), '\n', piece.size()) != nullptr ||
                            std::memchr(piece.data(), '\r', piece.size()) != nullptr))
            line_break = true;
        size += piece.size();
    }
    Loss loss() const {
        if (star) return Loss::star;
        if (line_break) return Loss::line_break;
        if (size >= 254) return Loss::too_long;
        return Loss::none;
    }
};

// A little-endian number of `n` bytes (1, 2 or 4) at the reader's position.
inline std::optional<std::uint32_t> take(ScriptReader& in, std::size_t n) {
    if (in.want(n) < n) return std::nullopt;
    const std::uint8_t* p = in.data();
    const std::uint32_t v = n == 1 ? p[0] : n == 2 ? load_u16(p) : load_u32(p);
    in.consume(n);
    return v;
}

// Hands the bytes from the reader's position up to the first byte `a` or
// `b` to `sink` as the value of the item `label` (level 2), whole when they
// fit the buffer and in pieces when they do not, and consumes them, not
// the byte that ends them. Returns that byte, or nothing when the data end
// first; a value that the end cuts is emitted only with `emit_cut` (or when
// its pieces have begun).
std::optional<std::uint8_t> scan_value(ScriptReader& in, std::uint8_t a, std::uint8_t b, ItemSink& sink,
                                       std::string_view label, ValueCheck& check, bool emit_cut) {
    bool pieces = false;
    const auto emit = [&](std::string_view value, bool last) {
        check.add(value);
        if (!pieces && last) return sink.item(label, value, 2);
        if (!pieces) sink.begin_item(label, 2);
        pieces = true;
        sink.value_piece(value);
        if (last) sink.end_item();
    };
    std::size_t looked = 0;
    for (;;) {
        const std::size_t held = in.held();
        const std::uint8_t* p = in.data();
        const std::uint8_t* end = p + held;
        const std::uint8_t* hit = a == b ? static_cast<const std::uint8_t*>(std::memchr(p + looked, a, held - looked))
                                         : std::find_if(p + looked, end, [a, b](std::uint8_t c) { return c == a || c == b; });
        if (hit != nullptr && hit != end) {
            const auto len = static_cast<std::size_t>(hit - p);
            emit(as_text(ByteView(p, len)), true);
            in.consume(len);
            return *hit;
        }
        looked = held;
        if (held < in.capacity()) {
            if (in.want(held + 1) > held) continue;
            if (pieces || emit_cut) emit(as_text(ByteView(in.data(), held)), true);
            in.consume(held);
            return std::nullopt;
        }
        // The buffer is full of the value: this much of it goes on now.
        emit(as_text(ByteView(p, held)), false);
        in.consume(held);
        looked = 0;
    }
}

}  // namespace

Loss check_value(std::string_view value) {
    ValueCheck check;
    check.add(value);
    return check.loss();
}

ScriptReader::ScriptReader(ByteSource& source, std::size_t capacity)
    : source_(source),
      capacity_(std::max(capacity, kMinBuffer)),
      buf_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity_)) {}

std::size_t ScriptReader::fill(std::size_t n) {
    if (ended_) return end_ - pos_;
    if (pos_ > 0) {
        std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    while (end_ < n && !ended_) {
        const std::size_t got = source_.read(std::span(buf_.get() + end_, capacity_ - end_));
        if (got == 0)
            ended_ = true;
        else
            end_ += got;
    }
    return std::min(n, end_);
}

Decoded decode_instruction(ScriptReader& in, ItemSink& sink) {
    Decoded d;
    const std::uint64_t start = in.offset();
    ValueBuffer buf;
    const auto cut = [&] {
        // The instruction takes the rest of the data.
        while (const std::size_t n = in.want(in.capacity())) in.consume(n);
        d.cut = true;
        d.length = static_cast<std::size_t>(in.offset() - start);
        return d;
    };
    const auto note = [&](Loss loss) {
        if (d.loss == Loss::none) d.loss = loss;
    };

    const auto opcode = take(in, 2);
    if (!opcode) return cut();
    const Instruction* row = find_instruction(static_cast<std::uint16_t>(*opcode));
    if (row == nullptr) {
        sink.item(kUnknownLabel, value_text(*opcode, 4, buf), 1);
        d.length = 2;
        return d;
    }
    sink.item(row->label, value_text(*opcode, 4, buf), 1);

    for (const OperandSpec& o : row->operands()) {
        switch (o.kind) {
            case Kind::u8:
            case Kind::count: {
                const auto v = take(in, 1);
                if (!v) return cut();
                sink.item(o.label, value_text(*v, min_digits(o.kind), buf), 2);
                if (o.kind == Kind::count) {
                    const std::size_t n = kTailUnit * *v;
                    if (in.want(n) < n) return cut();
                    d.tail = std::any_of(in.data(), in.data() + n, [](std::uint8_t b) { return b != 0; });
                    in.consume(n);
                }
                break;
            }
            case Kind::u16:
            case Kind::u32:
            case Kind::u32_min4: {
                const auto v = take(in, width(o.kind));
                if (!v) return cut();
                sink.item(o.label, value_text(*v, min_digits(o.kind), buf), 2);
                break;
            }
            case Kind::voice: {
                // "\V", the voice name, "." at the start of the string that
                // follows. The name ends at the full stop, or at the string's
                // zero byte or the end of the data when it has none.
                if (in.want(2) < 2 || in.data()[0] != 0x5C || in.data()[1] != 0x56) {
                    sink.item(o.label, {}, 2);
                    break;
                }
                in.consume(2);
                ValueCheck name;
                const auto stop = scan_value(in, 0x2E, 0x00, sink, o.label, name, true);
                if (!stop) return cut();
                if (*stop == 0x2E) {
                    note(name.size == 0 ? Loss::empty_voice : name.loss());
                    in.consume(1);
                } else {
                    note(Loss::open_voice);  // the zero byte ends the (empty) text
                }
                break;
            }
            case Kind::string: {
                ValueCheck value;
                if (!scan_value(in, 0x00, 0x00, sink, o.label, value, false)) return cut();
                note(value.loss());
                in.consume(1);
                break;
            }
        }
    }
    d.length = static_cast<std::size_t>(in.offset() - start);
    return d;
}

namespace {

std::size_t buffer_for(std::size_t size) {
    return std::clamp(size, ScriptReader::kMinBuffer, ScriptReader::kBuffer);
}

}  // namespace

Decoded decode_instruction(ByteView data, std::size_t pos, ItemSink& sink) {
    MemorySource source(as_text(data.subspan(pos)));
    ScriptReader in(source, buffer_for(data.size() - pos));
    return decode_instruction(in, sink);
}

ScriptNotes decode_script(ByteSource& source, ItemSink& sink, std::size_t capacity) {
    ScriptNotes notes;
    ScriptReader in(source, capacity);
    while (in.want(1) > 0) {
        const std::uint64_t pos = in.offset();
        const Decoded d = decode_instruction(in, sink);
        if (d.cut && !notes.cut_at) notes.cut_at = pos;
        if (d.tail && !notes.tail_at) notes.tail_at = pos;
        if (d.loss != Loss::none && !notes.loss_at) {
            notes.loss_at = pos;
            notes.loss = d.loss;
        }
    }
    return notes;
}

ScriptNotes decode_script(ByteView data, ItemSink& sink) {
    MemorySource source(as_text(data));
    return decode_script(source, sink, buffer_for(data.size()));
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

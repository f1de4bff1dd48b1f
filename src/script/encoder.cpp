#include "script/encoder.h"

#include "core/text.h"

namespace vid::script {

namespace {

// A listing is text: a zero byte in a value line (a hand-edited listing)
// would end a string early in the AB file and leave the rest of the line
// to be read as instructions.
bool holds_zero(std::string_view line) { return line.find('\0') != std::string_view::npos; }

void put_line(Bytes& out, std::string_view line) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(line.data());
    out.insert(out.end(), p, p + line.size());
}

}  // namespace

Encoded encode_instruction(LineReader& in, ItemSink& sink, Bytes& out) {
    const auto line = in.next();
    if (!line) return {};
    if (holds_zero(*line)) return {Encoded::zero_byte, in.line_number()};
    const auto opcode_value = read_number(*line, 4);
    if (!opcode_value) return {Encoded::no_number, in.line_number()};
    const auto opcode = static_cast<std::uint16_t>(*opcode_value);

    const std::size_t start = out.size();
    put_u16(out, opcode);
    const Instruction* row = find_instruction(opcode);
    if (row == nullptr) {
        sink.item(kUnknownLabel, *line, 1);
        return {Encoded::instruction};
    }
    sink.item(row->encoder_label, *line, 1);

    for (const OperandSpec& o : row->operands()) {
        const auto text = in.next();
        if (!text) {
            out.resize(start);
            return {Encoded::dropped};
        }
        if (holds_zero(*text)) return {Encoded::zero_byte, in.line_number()};
        std::uint32_t value = 0;
        if (is_number(o.kind)) {
            const auto v = read_number(*text, max_digits(o.kind));
            if (!v) return {Encoded::no_number, in.line_number(), row, &o};
            value = *v;
        }
        sink.item(o.encoder_label, *text, 2);
        switch (o.kind) {
            case Kind::u8: put_u8(out, static_cast<std::uint8_t>(value)); break;
            case Kind::count:
                put_u8(out, static_cast<std::uint8_t>(value));
                // The tail is not in the listing: it comes back as zero bytes.
                out.resize(out.size() + kTailUnit * (value & 0xFF));
                break;
            case Kind::u16: put_u16(out, static_cast<std::uint16_t>(value)); break;
            case Kind::u32:
            case Kind::u32_min4: put_u32(out, value); break;
            case Kind::voice:
                if (!text->empty()) {
                    out.push_back(0x5C);
                    out.push_back(0x56);
                    put_line(out, *text);
                    out.push_back(0x2E);
                }
                break;
            case Kind::string:
                put_line(out, *text);
                out.push_back(0);
                break;
        }
    }
    return {Encoded::instruction};
}

Encoded encode_listing(LineReader& in, ItemSink& sink, Bytes& out) {
    for (;;) {
        Encoded e = encode_instruction(in, sink, out);
        if (e.step == Encoded::instruction) continue;
        if (e.step == Encoded::dropped) e.step = Encoded::end;
        return e;
    }
}

std::string zero_byte_reason(const Encoded& e) { return format("line %s holds a zero byte", {std::to_string(e.line)}); }

std::string zero_byte_message(std::string_view listing_path, const Encoded& e) {
    return format("%s: ", {listing_path}) + zero_byte_reason(e) + "\nNo AB file was written.";
}

std::string no_number_reason(const Encoded& e) {
    const std::string line = std::to_string(e.line);
    if (e.instruction_row == nullptr || e.operand == nullptr)
        return format("Line %s holds no number where an opcode was expected.", {line});
    return format("Line %s holds no number where the operand \"%s\" of \"%s\" (%s) was expected.",
                  {line, e.operand->label, e.instruction_row->label, value_text(e.instruction_row->opcode, 4)});
}

std::string no_number_message(std::string_view listing_path, const Encoded& e) {
    return format("%s\n", {listing_path}) + no_number_reason(e) + "\nNo AB file was written.";
}

}  // namespace vid::script

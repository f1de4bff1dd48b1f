#include "kit/script_maker.h"

#include <string>

#include "script/instructions.h"

namespace vid::kit {

namespace {

using script::Instruction;
using script::Kind;

constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ,.!?'-";

std::string random_text(Rng& rng, const ScriptOptions& o) {
    const std::uint32_t r = rng.below(100);
    std::size_t len = r < 70 ? rng.below(48) : r < 96 ? rng.below(120) : rng.below(254);
    if (!o.round_trip && rng.below(20) == 0) len = 254 + rng.below(60);
    std::string s;
    s.reserve(len);
    for (std::size_t i = 0; i < len; ++i) {
        const std::uint32_t k = rng.below(100);
        if (!o.round_trip && k < 3)
            s.push_back(static_cast<char>(1 + rng.below(255)));  // any byte but zero
        else if (k < 12)
            s.push_back(static_cast<char>(0x80 + rng.below(0x80)));  // 8-bit text
        else
            s.push_back(kLetters[rng.below(static_cast<std::uint32_t>(kLetters.size()))]);
    }
    if (!o.round_trip && rng.below(30) == 0) s = '*' + s;
    return s;
}

std::string voice_name(Rng& rng) {
    std::string s = "voice";
    s += std::to_string(rng.below(1000));
    return s;
}

void add_operands(ScriptBuilder& b, const Instruction& in, Rng& rng, const ScriptOptions& o) {
    const auto ops = in.operands();
    for (std::size_t i = 0; i < ops.size(); ++i) {
        switch (ops[i].kind) {
            case Kind::u8: b.u8(rng.byte()); break;
            case Kind::u16: b.u16(static_cast<std::uint16_t>(rng.next())); break;
            case Kind::u32:
            case Kind::u32_min4: b.u32(static_cast<std::uint32_t>(rng.next())); break;
            case Kind::count: {
                const std::uint8_t n = rng.below(4) == 0 ? rng.byte() : static_cast<std::uint8_t>(rng.below(4));
                b.u8(n);
                for (std::size_t t = 0; t < script::kTailUnit * n; ++t)
                    b.u8(o.round_trip ? 0 : static_cast<std::uint8_t>(rng.below(3) == 0 ? rng.byte() : 0));
                break;
            }
            case Kind::voice: {
                // The voice marker and the text after it form one string.
                std::string text = random_text(rng, o);
                const std::uint32_t k = rng.below(o.round_trip ? 2 : 4);
                if (k == 0) {
                    if (text.starts_with("\\V")) text[0] = 'x';  // would read as a marker
                    b.str(text);
                } else if (k == 1) {
                    b.raw("\\V").raw(voice_name(rng)).raw(".").str(text);
                } else if (k == 2) {
                    b.raw("\\V.").str(text);  // empty voice name
                } else {
                    b.raw("\\V").str(voice_name(rng));  // no full stop
                }
                ++i;  // the text operand is done
                break;
            }
            case Kind::string: b.str(random_text(rng, o)); break;
        }
    }
}

}  // namespace

ScriptBuilder& ScriptBuilder::init_text(std::uint16_t idx, std::string_view voice, std::string_view text) {
    op(0x0000).u16(idx);
    if (!voice.empty()) raw("\\V").raw(voice).raw(".");
    return str(text);
}

Bytes every_opcode_script(Rng& rng) {
    ScriptBuilder b;
    for (const Instruction& in : script::instruction_table()) {
        b.op(in.opcode);
        add_operands(b, in, rng, {});
    }
    return b.bytes();
}

std::vector<Bytes> each_opcode(Rng& rng) {
    std::vector<Bytes> out;
    for (const Instruction& in : script::instruction_table()) {
        ScriptBuilder b;
        b.op(in.opcode);
        add_operands(b, in, rng, {});
        out.push_back(b.bytes());
    }
    return out;
}

Bytes random_script(Rng& rng, std::size_t min_bytes, const ScriptOptions& options) {
    const auto table = script::instruction_table();
    ScriptBuilder b;
    while (b.bytes().size() < min_bytes) {
        if (rng.below(16) < options.unknown_sixteenths) {
            std::uint16_t opcode;
            do opcode = static_cast<std::uint16_t>(rng.next());
            while (script::find_instruction(opcode) != nullptr);
            b.op(opcode);
            continue;
        }
        // Text instructions are the bulk of a real script.
        const Instruction& in =
            rng.below(3) == 0 ? table[0] : table[rng.below(static_cast<std::uint32_t>(table.size()))];
        b.op(in.opcode);
        add_operands(b, in, rng, options);
    }
    Bytes out = b.bytes();
    if (!options.round_trip && rng.below(2) == 0 && out.size() > 1) out.resize(out.size() - 1 - rng.below(3) % out.size());
    return out;
}

}  // namespace vid::kit

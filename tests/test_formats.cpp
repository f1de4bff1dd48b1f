// The program's fixed tables against the ones written down by hand in
// formats.h: a wrong entry there changes every file that uses it, and no
// fixture built with the same table could see it.
#include <gtest/gtest.h>

#include "bm2/bm2.h"
#include "formats.h"
#include "script/instructions.h"
#include "wv5/wv5.h"

namespace vid {
namespace {

TEST(Formats, Wv5StepsAndLzssConstants) {
    for (std::size_t c = 0; c < 128; ++c) EXPECT_EQ(wv5::kSteps[c], formats::kWv5Steps[c]) << "step " << c;
    EXPECT_EQ(bm2::kWindowSize, formats::kLzssWindow);
    EXPECT_EQ(bm2::kWindowStart, formats::kLzssStart);
    EXPECT_EQ(bm2::kMaxMatch, formats::kLzssMaxMatch);
}

// A row of the program's table in the notation of formats.h.
std::string notation(const script::Instruction& in) {
    static constexpr std::string_view kKinds[] = {"u8", "u16", "u32", "u32+", "count", "voice", "str"};
    static_assert(static_cast<int>(script::Kind::string) == 6, "one name per kind, in the order of Kind");
    std::string out;
    for (const auto& o : in.operands()) {
        out.append(out.empty() ? "" : "|").append(kKinds[static_cast<int>(o.kind)]).append(" ").append(o.label);
        if (o.encoder_label != o.label) out.append("/").append(o.encoder_label);
    }
    return out;
}

TEST(Formats, AbInstructionTable) {
    const auto table = script::instruction_table();
    ASSERT_EQ(table.size(), std::size(formats::kAbInstructions));
    for (std::size_t i = 0; i < table.size(); ++i) {
        const formats::AbRow& want = formats::kAbInstructions[i];
        EXPECT_EQ(table[i].opcode, want.opcode);
        EXPECT_EQ(table[i].label, want.label) << want.opcode;
        EXPECT_EQ(table[i].encoder_label, want.encoder_label.empty() ? want.label : want.encoder_label) << want.opcode;
        EXPECT_EQ(notation(table[i]), want.operands) << want.opcode;
    }
}

}  // namespace
}  // namespace vid

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

TEST(Formats, AbInstructionTable) {
    const auto kind_name = [](script::Kind k) -> std::string_view {
        using K = script::Kind;
        switch (k) {
            case K::u8: return "u8";
            case K::u16: return "u16";
            case K::u32: return "u32";
            case K::u32_min4: return "u32+";
            case K::count: return "count";
            case K::voice: return "voice";
            case K::string: return "str";
        }
        return "?";
    };
    const auto table = script::instruction_table();
    ASSERT_EQ(table.size(), std::size(formats::kAbInstructions));
    for (std::size_t i = 0; i < table.size(); ++i) {
        const formats::AbRow& want = formats::kAbInstructions[i];
        const script::Instruction& got = table[i];
        SCOPED_TRACE(want.opcode);
        EXPECT_EQ(got.opcode, want.opcode);
        EXPECT_EQ(got.label, want.label);
        EXPECT_EQ(got.encoder_label, want.encoder_label.empty() ? want.label : want.encoder_label);
        const auto operands = formats::ab_operands(want);
        ASSERT_EQ(got.operands().size(), operands.size());
        for (std::size_t k = 0; k < operands.size(); ++k) {
            EXPECT_EQ(kind_name(got.operands()[k].kind), operands[k].kind) << k;
            EXPECT_EQ(got.operands()[k].label, operands[k].label) << k;
            EXPECT_EQ(got.operands()[k].encoder_label, operands[k].encoder_label) << k;
        }
    }
}

}  // namespace
}  // namespace vid

// Decode AB and Encode AB on files: names, texts, Alerts and what is left.
#include <gtest/gtest.h>

#include "kit/script_maker.h"
#include "script/jobs.h"
#include "test_support.h"

namespace vid::script {
namespace {

using Texts = std::vector<std::string>;

const Bytes kSet16 = {0x02, 0x00, 0x10, 0x00, 0x00, 0x00};  // Set 0x453818 to 0x10
constexpr std::string_view kSet16Listing = "********************\n** Set 0x453818\n0x0002\n** to\n0x00000010\n";

// The Alerts of a job that fails.
Texts failed_alerts(bool (*job)(Ui&, const std::string&), const std::string& path) {
    test::RecordingUi ui;
    EXPECT_FALSE(job(ui, path)) << path;
    return ui.alerts();
}

TEST(ScriptJobs, DecodeRefusesAListingNameOver259) {
    test::ScratchDir dir;
    // 258 characters make a listing name of 259; 259 would need 260.
    for (std::size_t len : {258u, 259u}) {
        const std::string p = dir.path() + "/" + std::string(len - dir.path().size() - 4, 'n') + ".ab";
        EXPECT_EQ(failed_alerts(decode_job, p),
                  Texts{len == 258 ? p + " not found" : p.substr(0, 257) + "txt\nPath too long: more than 259 characters"});
    }
}

TEST(ScriptJobs, DecodeTellsOnceWhatWillNotEncodeBack) {
    test::ScratchDir dir;
    kit::ScriptBuilder b;
    b.op(0x0605).str("*fx");                                 // offset 0: string with "*"
    b.op(0x0605).str("a\nb");                                // offset 6: the second such string
    b.op(0x8000).u32(1).u8(1).raw("\x01\x02\x03\x04\x05");  // offset 0x0c: a tail
    b.op(0x0002).u16(7);                                     // offset 0x18: cut
    const std::string ab = dir.file("n.ab");
    test::write_file(ab, b.bytes());
    test::RecordingUi ui;
    EXPECT_TRUE(decode_file(ui, ab));
    EXPECT_EQ(ui.alerts(), Texts{ab + "\nIts listing will not encode back to the same bytes:"
                                      "\n- the script ends inside the instruction at offset 0x18; the listing "
                                      "shows its complete operands only"
                                      "\n- the instruction 0x8000 at offset 0xc has a tail that the listing does not carry"
                                      "\n- the instruction at offset 0x0 holds a string that begins with \"*\", "
                                      "which the listing reads as a label line"});
    EXPECT_EQ(ui.last_status(), "Scripting OK");
}

TEST(ScriptJobs, EncodeFailures) {
    test::ScratchDir dir;
    // Never replaces: the Alert names the AB file, which keeps its bytes.
    test::write_file(dir.file("s.ab"), kSet16);
    test::write_file(dir.file("s.txt"), "0x0601\n");
    EXPECT_EQ(failed_alerts(encode_job, dir.file("s.txt")), Texts{"Can't create " + dir.file("s.ab")});
    EXPECT_EQ(test::read_file(dir.file("s.ab")), kSet16);
    EXPECT_EQ(failed_alerts(encode_job, dir.file("none.txt")), Texts{dir.file("none.txt") + " not found"});
    // A line without a number: its line (CR LF ends count once), and no AB file.
    test::write_file(dir.file("bad.txt"), std::string(kSet16Listing) + "********************\r\n** Nothing\r\nnope\r\n");
    EXPECT_EQ(failed_alerts(encode_job, dir.file("bad.txt")),
              Texts{dir.file("bad.txt") + "\nLine 8 holds no number where an opcode was expected.\nNo AB file was written."});
    EXPECT_FALSE(test::file_exists(dir.file("bad.ab")));
    // A zero byte in a value line (a string, a number, an opcode) would end
    // a string early or hide in a number: the line is named, no AB file.
    using namespace std::string_view_literals;
    const std::pair<std::string_view, int> zeros[] = {
        {"0x0605\na\0b\n"sv, 2}, {"0x0002\n0x10\0\n"sv, 2}, {"0x0601\n0x06\0\n"sv, 2}, {"** label\0\n0x0605\n\0\n"sv, 3}};
    for (const auto& [listing, line] : zeros) {
        test::write_file(dir.file("zero.txt"), listing);
        EXPECT_EQ(failed_alerts(encode_job, dir.file("zero.txt")),
                  Texts{dir.file("zero.txt") + ": line " + std::to_string(line) + " holds a zero byte\nNo AB file was written."});
        EXPECT_FALSE(test::file_exists(dir.file("zero.ab")));
    }
}

TEST(ScriptJobs, RoundTripThroughFilesBeyond10KiB) {
    test::ScratchDir dir;
    kit::Rng rng(77);
    const Bytes script = kit::random_script(rng, 40000);
    test::write_file(dir.file("big.abc"), script);  // the listing's name: the last two characters become "txt"
    test::RecordingUi ui;                           // no listing view: no nodes
    ASSERT_TRUE(decode_job(ui, dir.file("big.abc")));
    // Its last three characters become "ab": big.aab, beside the original.
    ASSERT_TRUE(encode_job(ui, dir.file("big.atxt")));
    EXPECT_EQ(test::read_file(dir.file("big.aab")), script);
    // Decoding a shorter script replaces the longer listing entirely.
    test::write_file(dir.file("big.abc"), kSet16);
    ASSERT_TRUE(decode_job(ui, dir.file("big.abc")));
    EXPECT_EQ(test::read_file(dir.file("big.atxt")), test::bytes_of(kSet16Listing));
    EXPECT_TRUE(ui.events.empty());
}

}  // namespace
}  // namespace vid::script

// Decode AB and Encode AB on files: names, texts, Alerts and what is left.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "kit/script_maker.h"
#include "platform/paths.h"
#include "script/jobs.h"
#include "test_support.h"

namespace vid::script {
namespace {

using test::Event;
using test::RecordingUi;

const Bytes kSet16 = {0x02, 0x00, 0x10, 0x00, 0x00, 0x00};  // Set 0x453818 to 0x10
constexpr std::string_view kSet16Listing = "********************\n** Set 0x453818\n0x0002\n** to\n0x00000010\n";

TEST(ScriptJobs, DecodeWritesTheListingAndTheView) {
    test::ScratchDir dir;
    const std::string ab = dir.file("scene01.ab");
    test::write_file(ab, kSet16);
    test::write_file(dir.file("scene01.txt"), "an older, longer listing that is replaced\n");
    RecordingUi ui(true);
    EXPECT_TRUE(decode_file(ui, ab));
    EXPECT_EQ(ui.events, (std::vector<Event>{{Event::status_now, "Scripting " + ab},
                                             {Event::node, "Set 0x453818 0x0002", 1},
                                             {Event::node, "to 0x00000010", 2},
                                             {Event::status_now, "Scripting OK"}}));
    EXPECT_EQ(test::read_file(dir.file("scene01.txt")), test::bytes_of(kSet16Listing));

    // Without a view, no node; any name loses its last two characters.
    test::write_file(dir.file("x.abc"), Bytes{});
    RecordingUi quiet;
    EXPECT_TRUE(decode_job(quiet, dir.file("x.abc")));
    EXPECT_TRUE(quiet.events.empty());
    EXPECT_TRUE(test::read_file(dir.file("x.atxt")).empty());
}

TEST(ScriptJobs, DecodeFailures) {
    test::ScratchDir dir;
    const std::string missing = dir.file("gone.ab");
    test::write_file(dir.file("gone.txt"), "kept\n");
    RecordingUi ui;
    EXPECT_FALSE(decode_file(ui, missing));
    EXPECT_EQ(ui.alerts(), (std::vector<std::string>{missing + " not found"}));
    EXPECT_EQ(ui.last_status(), "Scripting " + missing + " failed");
    EXPECT_EQ(test::read_file(dir.file("gone.txt")), test::bytes_of("kept\n"));

    // A listing that cannot be created: a folder of that name.
    test::write_file(dir.file("d.ab"), kSet16);
    ASSERT_EQ(::mkdir(dir.file("d.txt").c_str(), 0700), 0);
    RecordingUi ui2;
    EXPECT_FALSE(decode_job(ui2, dir.file("d.ab")));
    EXPECT_EQ(ui2.alerts(), (std::vector<std::string>{"can't write " + dir.file("d.txt")}));

    // 258 characters make a listing name of 259; 259 would need 260.
    for (std::size_t len : {258u, 259u}) {
        const std::string p = dir.path() + "/" + std::string(len - dir.path().size() - 4, 'n') + ".ab";
        RecordingUi ui3;
        EXPECT_EQ(decode_job(ui3, p), false);
        ASSERT_EQ(ui3.alerts().size(), 1u);
        EXPECT_EQ(ui3.alerts()[0], len == 258 ? p + " not found" : platform::too_long_message(p.substr(0, 257) + "txt"));
    }
}

TEST(ScriptJobs, DecodeTellsOnceWhatWillNotEncodeBack) {
    test::ScratchDir dir;
    kit::ScriptBuilder b;
    b.op(0x0605).str("*fx");                                  // offset 0: string with "*"
    b.op(0x0605).str("a\nb");                                 // offset 6: the second such string
    b.op(0x8000).u32(1).u8(1).raw("\x01\x02\x03\x04\x05");   // offset 0x0c: a tail
    b.op(0x0002).u16(7);                                      // offset 0x18: cut
    const std::string ab = dir.file("n.ab");
    test::write_file(ab, b.bytes());
    RecordingUi ui;
    EXPECT_TRUE(decode_file(ui, ab));
    EXPECT_EQ(ui.alerts(),
              (std::vector<std::string>{ab + "\nIts listing will not encode back to the same bytes:"
                                             "\n- the script ends inside the instruction at offset 0x18; the listing "
                                             "shows its complete operands only"
                                             "\n- the instruction 0x8000 at offset 0xc has a tail that the listing "
                                             "does not carry"
                                             "\n- the instruction at offset 0x0 holds a string that begins with \"*\", "
                                             "which the listing reads as a label line"}));
    EXPECT_EQ(ui.last_status(), "Scripting OK");
}

TEST(ScriptJobs, EncodeWritesANewFileOnly) {
    test::ScratchDir dir;
    const std::string txt = dir.file("scene01.txt");
    test::write_file(txt, kSet16Listing);
    RecordingUi ui(true);
    EXPECT_TRUE(encode_file(ui, txt));
    EXPECT_EQ(ui.events, (std::vector<Event>{{Event::status_now, "EnScripting " + txt},
                                             {Event::node, "Set 0x453818 0x0002", 1},
                                             {Event::node, "to 0x00000010", 2},
                                             {Event::status_now, "EnScripting OK"}}));
    EXPECT_EQ(test::read_file(dir.file("scene01.ab")), kSet16);

    // Never replaces: the Alert names the AB file, which keeps its bytes.
    test::write_file(txt, "0x0601\n");
    RecordingUi again;
    EXPECT_FALSE(encode_file(again, txt));
    EXPECT_EQ(again.alerts(), (std::vector<std::string>{"Can't create " + dir.file("scene01.ab")}));
    EXPECT_EQ(again.last_status(), "EnScripting " + txt + " failed");
    EXPECT_EQ(test::read_file(dir.file("scene01.ab")), kSet16);

    RecordingUi missing;
    EXPECT_FALSE(encode_job(missing, dir.file("none.txt")));
    EXPECT_EQ(missing.alerts(), (std::vector<std::string>{dir.file("none.txt") + " not found"}));

    // Labels only: an empty AB file.
    test::write_file(dir.file("labels.txt"), "********************\n** nothing\n");
    RecordingUi labels;
    EXPECT_TRUE(encode_job(labels, dir.file("labels.txt")));
    EXPECT_TRUE(test::read_file(dir.file("labels.ab")).empty());
}

TEST(ScriptJobs, EncodeLeavesNothingForALineWithoutANumber) {
    test::ScratchDir dir;
    const std::string txt = dir.file("bad.txt");
    test::write_file(txt, std::string(kSet16Listing) + "********************\n** Nothing\nnope\n");
    RecordingUi ui;
    EXPECT_FALSE(encode_job(ui, txt));
    ASSERT_EQ(ui.alerts().size(), 1u);
    EXPECT_EQ(ui.alerts()[0], txt + "\nLine 8 holds no number where an opcode was expected.\nNo AB file was written.");
    EXPECT_FALSE(test::file_exists(dir.file("bad.ab")));
}

TEST(ScriptJobs, RoundTripThroughFilesBeyond10KiB) {
    test::ScratchDir dir;
    kit::Rng rng(77);
    const Bytes script = kit::random_script(rng, 40000);
    test::write_file(dir.file("big.ab"), script);
    RecordingUi ui;
    ASSERT_TRUE(decode_job(ui, dir.file("big.ab")));
    // Encode a copy, as the original AB file is never replaced.
    test::write_file(dir.file("copy.txt"), test::read_file(dir.file("big.txt")));
    ASSERT_TRUE(encode_job(ui, dir.file("copy.txt")));
    EXPECT_EQ(test::read_file(dir.file("copy.ab")), script);
    EXPECT_TRUE(ui.alerts().empty());
}

}  // namespace
}  // namespace vid::script

// Taking the open-file dialog's answer apart.
#include <gtest/gtest.h>

#include "core/selection.h"

namespace vid {
namespace {

Selection walk(std::string_view raw) { return walk_selection(std::span<const char>(raw.data(), raw.size())); }

TEST(Selection, WalksOneFileOrAFolderAndNames) {
    using namespace std::string_literals;
    struct Case {
        std::string raw;
        bool single;
        std::vector<std::string> paths;
        bool cut = false, last_cut = false;
    } cases[] = {
        {"C:\\games\\a.bm2\0\0"s, true, {"C:\\games\\a.bm2"}},
        {"C:\\games\0a.bm2\0b.bm2\0c.bm2\0\0"s, false, {"C:\\games\\a.bm2", "C:\\games\\b.bm2", "C:\\games\\c.bm2"}},
        {"D:\\\0x.ab\0y.ab\0\0"s, false, {"D:\\\\x.ab", "D:\\\\y.ab"}},  // a drive's root: two backslashes
        {"\0\0"s, false, {}},
        // Not terminated within the buffer: nothing is read past its end,
        // and the answer is known to be cut (its last path too when that has
        // no zero).
        {"C:\\g\0a.bm2\0b.b"s, false, {"C:\\g\\a.bm2", "C:\\g\\b.b"}, true, true},
        {"C:\\g\0a.bm2\0b.bm2\0"s, false, {"C:\\g\\a.bm2", "C:\\g\\b.bm2"}, true, false},
        {"C:\\only.wv5"s, true, {"C:\\only.wv5"}, true, true},
        {"C:\\only.wv5\0"s, true, {"C:\\only.wv5"}},  // a full path that fills the buffer exactly
    };
    for (const auto& c : cases) {
        Selection s = walk(c.raw);
        EXPECT_EQ(s.single, c.single) << c.raw;
        EXPECT_EQ(s.paths, c.paths) << c.raw;
        EXPECT_EQ(s.cut, c.cut) << c.raw;
        EXPECT_EQ(s.last_cut, c.last_cut) << c.raw;
    }
}

TEST(Selection, SplitsCapturedQuotedNames) {
    struct Case {
        std::string text;
        std::vector<std::string> names;
    } cases[] = {
        {"\"a.wv5\" \"b.wv5\" \"long name.wv5\"", {"a.wv5", "b.wv5", "long name.wv5"}},
        {"\"one.wv5\"", {"one.wv5"}},
        {"plain.wv5", {"plain.wv5"}},  // one name without quotes is taken whole
        {"", {}},
        {"\"a\" \"\" \"c\"", {"a"}},  // the list ends at an empty name
    };
    for (const auto& c : cases) EXPECT_EQ(split_quoted_names(c.text), c.names) << c.text;
}

TEST(Selection, BufferTooSmallNamesTheNeededSize) {
    std::vector<char> buf(260, '\0');
    buf[0] = 0x2C;  // 300, little-endian
    buf[1] = 0x01;
    EXPECT_EQ(buffer_too_small_text(buf), "FNERR_BUFFERTOOSMALL, need 300 bytes, allocated: 260");
}

TEST(Selection, CapturedSelectionReplacesACutAnswer) {
    // Folder of 9 bytes; two names of 20: 9 + 1 + 2 * 21 + 1 = 53 bytes.
    const CapturedSelection two{"\"aaaaaaaaaaaaaaaa.wv5\" \"bbbbbbbbbbbbbbbb.wv5\"", "C:\\sounds"};
    EXPECT_FALSE(capture_exceeds(two, 53));
    EXPECT_TRUE(capture_exceeds(two, 52));
    EXPECT_FALSE(capture_exceeds({"\"one.wv5\"", "C:\\x"}, 5)) << "one file is never cut into a list";
    EXPECT_EQ(captured_paths(two),
              (std::vector<std::string>{"C:\\sounds\\aaaaaaaaaaaaaaaa.wv5", "C:\\sounds\\bbbbbbbbbbbbbbbb.wv5"}));

    // The capture is taken only when the dialog's answer is its beginning.
    using namespace std::string_literals;
    const struct {
        std::string raw;  // the dialog's answer
        bool taken;
    } answers[] = {
        {"C:\\sounds\0aaaaaaaaaaaaaaaa.wv5\0bbbb"s, true},                // the list cut inside the second name
        {"C:\\sounds\0aaaaaaaaaaaaaaaa.wv5\0\0"s, true},                 // cut after the first name
        {"C:\\sounds\\aaaaaaaaaaaaaaaa.wv5\0\0"s, true},                // one full path, the first
        {"C:\\sounds\\z.wv5\0\0"s, false},                              // a name typed after the selection
        {"C:\\other\0aaaaaaaaaaaaaaaa.wv5\0bbbb"s, false},                // another folder
        {"C:\\sounds\0bbbbbbbbbbbbbbbb.wv5\0aaaa"s, false},               // other names first
        {"C:\\sounds\0aaaaaaaaaaaaaaaa.wv5\0bbbbbbbbbbbbbbbb.wv5\0c\0\0"s, false},  // more names than captured
    };
    for (const auto& a : answers) EXPECT_EQ(capture_completes(walk(a.raw), two, 52), a.taken) << a.raw;
    EXPECT_FALSE(capture_completes(walk("C:\\sounds\0aaaaaaaaaaaaaaaa.wv5\0bbbb"s), two, 53)) << "it fits: no capture";
}

TEST(Selection, EveryFileChosenIsConvertedOrCounted) {
    using namespace std::string_literals;
    // Three names of 8 characters in a folder of 4: 4 + 1 + 3 * 9 + 1 = 33 bytes.
    const CapturedSelection three{"\"aaaa.bm2\" \"bbbb.bm2\" \"cccc.bm2\"", "C:\\g"};
    const CapturedSelection other{"\"x.bm2\" \"y.bm2\" \"z.bm2\" \"w.bm2\"", "C:\\h"};
    const std::vector<std::string> all = {"C:\\g\\aaaa.bm2", "C:\\g\\bbbb.bm2", "C:\\g\\cccc.bm2"};
    const std::string cut_in_second = "C:\\g\0aaaa.bm2\0bbb"s;  // the dialog's 20-byte answer
    const struct {
        const char* what;
        std::string raw;
        const CapturedSelection* capture;
        std::vector<std::string> paths;
        std::size_t left_out;
        bool known;
    } cases[] = {
        {"a whole answer", "C:\\g\0aaaa.bm2\0bbbb.bm2\0\0"s, nullptr, {all[0], all[1]}, 0, true},
        {"a cut answer that the capture completes", cut_in_second, &three, all, 0, true},
        {"a cut answer, no capture: the cut path dropped", cut_in_second, nullptr, {all[0]}, 1, false},
        {"a cut answer, another capture: counted from it", cut_in_second, &other, {all[0]}, 3, true},
        {"cut after a whole name: kept", "C:\\g\0aaaa.bm2\0"s, nullptr, {all[0]}, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const BatchFiles f = files_of_answer(walk(c.raw), c.capture, c.raw.size());
        EXPECT_EQ(f.paths, c.paths);
        EXPECT_EQ(f.left_out, c.left_out);
        EXPECT_EQ(f.count_known, c.known);
    }
    const BatchFiles too_long = files_of_too_long(&three);
    EXPECT_EQ(too_long.paths, all);
    EXPECT_EQ(too_long.left_out, 0u);
    const BatchFiles lost = files_of_too_long(nullptr);
    EXPECT_TRUE(lost.paths.empty());
    EXPECT_EQ(lost.left_out, 1u);

    const std::string why =
        "the selection is longer than the open-file dialog can hand over. Choose fewer files at a time.";
    EXPECT_EQ(left_out_text(files_of_answer(walk(cut_in_second), &other, 20)),
              "3 of the 4 files chosen were not processed: " + why);
    EXPECT_EQ(left_out_text(files_of_answer(walk(cut_in_second), nullptr, 20)),
              "The last files chosen were not processed: " + why);
    EXPECT_EQ(left_out_text(lost), "No file chosen was processed: " + why);
}

}  // namespace
}  // namespace vid

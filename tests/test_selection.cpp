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
    } cases[] = {
        {"C:\\games\\a.bm2\0\0"s, true, {"C:\\games\\a.bm2"}},
        {"C:\\games\0a.bm2\0b.bm2\0c.bm2\0\0"s, false, {"C:\\games\\a.bm2", "C:\\games\\b.bm2", "C:\\games\\c.bm2"}},
        {"D:\\\0x.ab\0y.ab\0\0"s, false, {"D:\\\\x.ab", "D:\\\\y.ab"}},  // a drive's root: two backslashes
        {"\0\0"s, false, {}},
        // Not terminated within the buffer: nothing is read past its end.
        {"C:\\g\0a.bm2\0b.b"s, false, {"C:\\g\\a.bm2", "C:\\g\\b.b"}},
        {"C:\\only.wv5"s, true, {"C:\\only.wv5"}},
    };
    for (const auto& c : cases) {
        Selection s = walk(c.raw);
        EXPECT_EQ(s.single, c.single) << c.raw;
        EXPECT_EQ(s.paths, c.paths) << c.raw;
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

}  // namespace
}  // namespace vid

// The shared pieces: text formatting, output names, the path limit, batch
// results and the platform's files.
#include <gtest/gtest.h>

#include "core/batch.h"
#include "core/bytes.h"
#include "core/text.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "test_support.h"

namespace vid {
namespace {

TEST(Format, FillsHolesInOrderWithoutLimit) {
    const std::string long_path(300, 'x');
    struct Case {
        std::string_view pattern;
        std::vector<std::string_view> args;
        std::string want;
    } cases[] = {
        {"Extracting %s:%s", {"a.fl3", "m"}, "Extracting a.fl3:m"},
        {"%s not found\nSkip it", {"C:\\m"}, "C:\\m not found\nSkip it"},
        // A line break inside a name never starts a line of its own.
        {"%s not found\nSkip it", {"a\nb\n"}, "a\\x0Ab\\x0A not found\nSkip it"},
        {"FNERR_BUFFERTOOSMALL, need %d bytes, allocated: %d", {"300", "260"},
         "FNERR_BUFFERTOOSMALL, need 300 bytes, allocated: 260"},
        {"100%% %s", {"done"}, "100% done"},
        {"%s and %s", {"one"}, "one and "},
        {"Compacting %s into %s", {long_path, long_path}, "Compacting " + long_path + " into " + long_path},
    };
    for (const auto& c : cases) {
        std::string got;
        switch (c.args.size()) {
            case 1: got = format(c.pattern, {c.args[0]}); break;
            case 2: got = format(c.pattern, {c.args[0], c.args[1]}); break;
        }
        EXPECT_EQ(got, c.want) << c.pattern;
    }
}

TEST(Paths, OutputNamesReplaceTheLastCharacters) {
    using platform::overwrite_from_end;
    using platform::replace_tail;
    EXPECT_EQ(replace_tail("pic.bm2", 1, "P"), "pic.bmP");
    EXPECT_EQ(replace_tail("NAME.WV5", 2, "AV"), "NAME.WAV");
    EXPECT_EQ(replace_tail("x.abc", 2, "txt"), "x.atxt");
    EXPECT_EQ(replace_tail("scene01.txt", 3, "ab"), "scene01.ab");
    EXPECT_EQ(overwrite_from_end("D:\\data\\script.fl3", 4, '_'), "D:\\data\\script_fl3");
    // A name as short as the part replaced, and one character shorter.
    EXPECT_EQ(replace_tail("ab", 2, "txt"), "txt");
    EXPECT_EQ(replace_tail("ab", 3, "ab"), std::nullopt);
    EXPECT_EQ(overwrite_from_end(".fl3", 4, '_'), "_fl3");
    EXPECT_EQ(overwrite_from_end("fl3", 4, '_'), std::nullopt);
    // The replaced characters never reach into a folder's name.
    EXPECT_EQ(replace_tail("sub/s", 2, "txt"), std::nullopt);
    EXPECT_EQ(replace_tail("sub/ab", 2, "txt"), "sub/txt");
    EXPECT_EQ(replace_tail("a/b/", 1, "P"), std::nullopt);
    EXPECT_EQ(overwrite_from_end("sub/abc", 4, '_'), std::nullopt);
    EXPECT_EQ(overwrite_from_end("sub/abcd", 4, '_'), "sub/_bcd");
}

// The names made from one path under both systems' rules: the folder part
// (drive and root kept), the BM2 image an encoder writes beside it, and the
// bitmap a decoder names by replacing the last character.
TEST(Paths, NamesKeepTheDriveAndRootOfTheirInput) {
    using platform::PathRules;
    const PathRules posix = PathRules::posix, windows = PathRules::windows;
    const struct {
        PathRules rules;
        std::string_view path, folder, bm2, bmp;
    } cases[] = {
        {windows, "y:r.bmp", "y:", "y:r.bm2", "y:r.bmP"},
        {windows, "\\r.bmp", "\\", "\\r.bm2", "\\r.bmP"},
        {windows, "y:\\d\\r.bmp", "y:\\d\\", "y:\\d\\r.bm2", "y:\\d\\r.bmP"},
        {windows, ".\\r.bmp", ".\\", ".\\r.bm2", ".\\r.bmP"},
        {windows, "d/r.bmp", "d/", "d/r.bm2", "d/r.bmP"},
        {windows, "/abs/r.bmp", "/abs/", "/abs/r.bm2", "/abs/r.bmP"},
        {windows, "y:\\r.bmp", "y:\\", "y:\\r.bm2", "y:\\r.bmP"},
        {windows, "d\\.bmp", "d\\", "d\\.bmp.bm2", "d\\.bmP"},
        {windows, "1:r.bmp", "", "1:r.bm2", "1:r.bmP"},  // not a drive letter
        {posix, "y:r.bmp", "", "y:r.bm2", "y:r.bmP"},
        {posix, "\\r.bmp", "", "\\r.bm2", "\\r.bmP"},
        {posix, "y:\\d\\r.bmp", "", "y:\\d\\r.bm2", "y:\\d\\r.bmP"},
        {posix, ".\\r.bmp", "", ".\\r.bm2", ".\\r.bmP"},
        {posix, "d/r.bmp", "d/", "d/r.bm2", "d/r.bmP"},
        {posix, "/abs/r.bmp", "/abs/", "/abs/r.bm2", "/abs/r.bmP"},
        {posix, "/r.bmp", "/", "/r.bm2", "/r.bmP"},
        {posix, ".bmp", "", ".bmp.bm2", ".bmP"},
        {posix, "d/.x.y", "d/", "d/.x.bm2", "d/.x.P"},
    };
    for (const auto& c : cases) {
        const auto parts = platform::split_path(c.path, c.rules);
        EXPECT_EQ(parts.folder, c.folder) << c.path;
        EXPECT_EQ(std::string(parts.folder) + std::string(parts.name), c.path);
        const std::string bm2 = std::string(platform::stem_of(parts.name)) + ".bm2";
        EXPECT_EQ(platform::beside(c.path, bm2, c.rules), c.bm2) << c.path;
        EXPECT_EQ(platform::replace_tail(c.path, 1, "P", c.rules), c.bmp) << c.path;
    }
    // The replaced characters never reach past the name: "y:" is a folder on Windows only.
    EXPECT_EQ(platform::replace_tail("y:ab", 2, "txt", windows), "y:txt");
    EXPECT_EQ(platform::replace_tail("y:a", 2, "txt", windows), std::nullopt);
    EXPECT_EQ(platform::replace_tail("y:a", 2, "txt", posix), "ytxt");
    EXPECT_EQ(platform::replace_tail("d\\a", 2, "txt", windows), std::nullopt);
    EXPECT_EQ(platform::replace_tail("d\\a", 2, "txt", posix), "dtxt");
}

TEST(Paths, LimitIs259Characters) {
    EXPECT_TRUE(platform::fits(std::string(259, 'a')));
    EXPECT_FALSE(platform::fits(std::string(260, 'a')));
    const std::string p(300, 'q');
    EXPECT_NE(platform::too_long_message(p).find(p), std::string::npos);
}

TEST(Batch, FinalTextCountsFailures) {
    BatchTally all_ok;
    all_ok.add(true);
    all_ok.add(true);
    EXPECT_EQ(all_ok.final_text("Decoding OK", "Decoding"), "Decoding OK");
    BatchTally some;
    for (bool ok : {true, false, true, false, true}) some.add(ok);
    EXPECT_EQ(some.final_text("Decoding OK", "Decoding"), "Decoding: 2 of 5 files failed");
    BatchTally one;
    one.add(false);
    EXPECT_EQ(one.final_text("Encoding OK", "Encoding"), "Encoding: 1 of 1 file failed");
}

TEST(Cursor, NeverReadsPastTheData) {
    const Bytes data{0x01, 0x02, 0x03, 0x04, 0x05};
    Cursor c(data);
    EXPECT_EQ(c.u16(), 0x0201);
    EXPECT_EQ(c.u32(), std::nullopt);  // 3 bytes left
    EXPECT_EQ(c.pos(), 2u);
    EXPECT_EQ(c.u8(), 0x03);
    EXPECT_FALSE(c.take(3).has_value());
    EXPECT_EQ(c.u16(), 0x0504);
    EXPECT_TRUE(c.at_end());
    EXPECT_EQ(c.u8(), std::nullopt);
}

TEST(Files, OpenModes) {
    test::ScratchDir dir;
    const std::string p = dir.file("a.bin");
    using platform::File;
    using platform::OpenMode;
    EXPECT_FALSE(File::open(p, OpenMode::read_existing));
    {
        auto f = File::open(p, OpenMode::create_new);
        ASSERT_TRUE(f);
        const Bytes data{1, 2, 3, 4, 5, 6};
        EXPECT_TRUE(f->write(data));
    }
    EXPECT_FALSE(File::open(p, OpenMode::create_new)) << "create new never replaces";
    {
        auto f = File::open(p, OpenMode::read_existing);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->size(), 6u);
        ASSERT_TRUE(f->seek(4));
        std::uint8_t buf[8] = {};
        EXPECT_EQ(f->read_full(buf), 2u);
        EXPECT_EQ(buf[0], 5);
        EXPECT_EQ(f->read(buf), 0u);
    }
    {
        auto f = File::open(p, OpenMode::create_always);
        ASSERT_TRUE(f);
    }
    EXPECT_EQ(test::read_file(p).size(), 0u) << "create always empties the file";
    test::write_file(p, std::string_view("keep"));
    {
        // No sharing: while a file is open, it cannot be opened again, so an
        // output named like its input never empties it.
        auto in = File::open(p, OpenMode::read_existing);
        ASSERT_TRUE(in);
        EXPECT_FALSE(File::open(p, OpenMode::create_always));
        EXPECT_FALSE(File::open(p, OpenMode::read_existing));
    }
    EXPECT_EQ(test::read_file(p), test::bytes_of("keep"));
    EXPECT_TRUE(File::open(p, OpenMode::read_existing)) << "closing releases it";
    EXPECT_FALSE(File::open(dir.path(), OpenMode::read_existing)) << "a folder is not a file";
}

}  // namespace
}  // namespace vid

// The shared pieces: text formatting, output names, wildcards, batch
// results, the open-file dialog's answer and the platform's files.
#include <gtest/gtest.h>

#include "core/batch.h"
#include "core/selection.h"
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

TEST(Batch, FinalTextCountsFailures) {
    const struct {
        std::vector<bool> results;
        const char *ok, *doing, *want;
    } cases[] = {
        {{true, true}, "Decoding OK", "Decoding", "Decoding OK"},
        {{true, false, true, false, true}, "Decoding OK", "Decoding", "Decoding: 2 of 5 files failed"},
        {{false}, "Encoding OK", "Encoding", "Encoding: 1 of 1 file failed"},
    };
    for (const auto& c : cases) {
        BatchTally tally;
        for (const bool ok : c.results) tally.add(ok);
        EXPECT_EQ(tally.final_text(c.ok, c.doing), c.want);
    }
}

// Each read with exactly as many bytes left as it needs, and with one fewer:
// the value (little-endian), or nothing with the position unchanged.
TEST(Cursor, ReadsEndOnTheirLastByte) {
    const Bytes data{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99};
    enum Kind { u8, u16, u32, u64, take, take_at_most, skip };
    const struct {
        Kind kind;
        std::size_t start;             // where the cursor stands
        std::size_t n;                 // for take, take_at_most and skip
        std::optional<std::uint64_t> want;  // the value, or the first byte taken, or 1 for a skip that succeeds
        std::size_t pos_after;
    } cases[] = {
        {u8, 8, 0, 0x99, 9},
        {u8, 9, 0, std::nullopt, 9},
        {u16, 7, 0, 0x9988, 9},
        {u16, 8, 0, std::nullopt, 8},
        {u32, 5, 0, 0x99887766, 9},
        {u32, 6, 0, std::nullopt, 6},
        {u32, 0, 0, 0x44332211, 4},
        {u64, 1, 0, 0x9988776655443322, 9},
        {u64, 2, 0, std::nullopt, 2},
        {take, 6, 3, 0x77, 9},
        {take, 7, 3, std::nullopt, 7},
        {take, 9, 0, 0, 9},  // nothing left, nothing asked: an empty piece
        {take_at_most, 7, 3, 0x88, 9},
        {take_at_most, 4, 3, 0x55, 7},
        {skip, 5, 4, 1, 9},
        {skip, 6, 4, std::nullopt, 6},
    };
    for (const auto& t : cases) {
        Cursor c(data, t.start);
        std::optional<std::uint64_t> got;
        switch (t.kind) {
            case u8: got = c.u8(); break;
            case u16: got = c.u16(); break;
            case u32: got = c.u32(); break;
            case u64: got = c.u64(); break;
            case take:
                if (auto v = c.take(t.n)) got = v->empty() ? 0 : (*v)[0];
                break;
            case take_at_most: got = c.take_at_most(t.n)[0]; break;
            case skip:
                if (c.skip(t.n)) got = 1;
                break;
        }
        EXPECT_EQ(got, t.want) << "case at " << t.start << " kind " << t.kind;
        EXPECT_EQ(c.pos(), t.pos_after) << "case at " << t.start << " kind " << t.kind;
        EXPECT_EQ(c.at_end(), t.pos_after == data.size()) << "case at " << t.start << " kind " << t.kind;
    }
    // take_at_most gives only what is left: 2 bytes of the 3 asked.
    Cursor c(data, 7);
    const ByteView rest = c.take_at_most(3);
    EXPECT_EQ(Bytes(rest.begin(), rest.end()), (Bytes{0x88, 0x99}));
    EXPECT_TRUE(c.take_at_most(1).empty());
    // A position past the end stands at the end.
    EXPECT_EQ(Cursor(data, 20).pos(), 9u);
}

// read() stops at the first field that does not fit and leaves it as it was.
TEST(Cursor, ReadsFieldsUntilTheDataEnd) {
    const Bytes data{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    Cursor c(data);
    std::uint8_t a = 0xEE;
    std::uint16_t b = 0xEEEE;
    std::uint32_t d = 0xEEEEEEEE;
    EXPECT_TRUE(c.read(a) && c.read(b) && c.read(d));
    EXPECT_EQ(a, 0x01);
    EXPECT_EQ(b, 0x0302);
    EXPECT_EQ(d, 0x07060504u);
    Cursor short_by_one(ByteView(data).first(6));
    a = 0xEE, b = 0xEEEE, d = 0xEEEEEEEE;
    EXPECT_FALSE(short_by_one.read(a) && short_by_one.read(b) && short_by_one.read(d));
    EXPECT_EQ(a, 0x01);
    EXPECT_EQ(b, 0x0302);
    EXPECT_EQ(d, 0xEEEEEEEEu);
    EXPECT_EQ(short_by_one.pos(), 3u);
}

TEST(Checked, SumsAndProductsThatFit64Bits) {
    constexpr std::uint64_t kMax = 0xFFFFFFFFFFFFFFFF;
    const struct {
        std::uint64_t a, b;
        std::optional<std::uint64_t> sum, product;
    } cases[] = {
        {kMax - 1, 1, kMax, kMax - 1},
        {kMax, 1, std::nullopt, kMax},
        {kMax, 0, kMax, 0},
        {0, kMax, kMax, 0},
        {kMax - 1, 2, std::nullopt, std::nullopt},
        {0x7FFFFFFFFFFFFFFF, 2, 0x8000000000000001, 0xFFFFFFFFFFFFFFFE},
        {0x8000000000000000, 2, 0x8000000000000002, std::nullopt},
        {0xFFFFFFFF, 0x100000001, 0x200000000, kMax},
        {0x100000000, 0x100000000, 0x200000000, std::nullopt},
        {0xFFFFFFFF, 0xFFFFFFFF, 0x1FFFFFFFE, 0xFFFFFFFE00000001},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(checked_add(t.a, t.b), t.sum) << t.a << " + " << t.b;
        EXPECT_EQ(checked_add(t.b, t.a), t.sum) << t.b << " + " << t.a;
        EXPECT_EQ(checked_mul(t.a, t.b), t.product) << t.a << " * " << t.b;
        EXPECT_EQ(checked_mul(t.b, t.a), t.product) << t.b << " * " << t.a;
    }
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

// Names matched against wildcards, as extract-fl3 MEMBER and the browser's
// filter match them.
TEST(MatchesName, WildcardsAndCase) {
    const struct {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"title.bm2", "title.bm2", true},  {"TITLE.BM2", "title.bm2", true}, {"title.bm2", "title.bm", false},
        {"title.bm", "title.bm2", false},  {"title.bm2", "*.bm2", true},     {"title.bm2", "*.BM2", true},
        {"title.bm2", "*.wv5", false},     {"a", "?", true},                 {"", "?", false},
        {"ab", "?", false},                {"", "*", true},                  {"", "", true},
        {"a", "", false},                  {"abcabd", "*abd", true},         {"abcabc", "*abd", false},
        {"aXbXc", "a*b*c", true},          {"aXbX", "a*b*c", false},         {"[x].ab", "[x]*", true},
        {"\x82\xA0.ab", "\x82\xA0*", true}, {"\x82\xA0.ab", "\x82\xA1*", false}, {"a.b", "a?b", true},
    };
    for (const auto& c : cases) EXPECT_EQ(matches_name(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}


// The open-file dialog's answer taken apart.
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

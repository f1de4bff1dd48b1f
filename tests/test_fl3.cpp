// FL3 byte layouts against hand-made bytes, and round trips.
#include <gtest/gtest.h>

#include "fl3/fl3.h"
#include "fl3/format.h"
#include "kit/fl3_archive.h"
#include "kit/kit.h"
#include "platform/file.h"
#include "test_fl3_support.h"
#include "test_support.h"

namespace vid {
namespace {

using namespace test::fl3b;
using test::Event;
using test::RecordingUi;
using kit::Member;

struct LayoutCase {
    const char* what;
    Bytes index;                // the index file given to the packer
    std::vector<Member> files;  // member files in the folder
    Bytes archive;              // the archive the packer must write
    Bytes index_out;            // _index.bin after extracting that archive
};

std::vector<LayoutCase> layout_cases() {
    // A name of 255 bytes never fits the path limit beside a folder name;
    // 200 bytes is as long as a name gets in practice.
    const std::string n15(15, 'f'), n16(16, 'g'), n200 = std::string(199, 'n') + "!";
    return {
        {"empty archive", kEnd, {}, hdr(4, 28, 0) + kEnd, kEnd},
        {"zero-size members, stale sizes", ent(7, "a") + ent(0, "b") + ent(3, "c") + kEnd,
         {{"a", {}}, {"b", txt("xy")}, {"c", {}}},
         hdr(22, 30, 3) + txt("xy") + ent(0, "a") + ent(2, "b") + ent(0, "c") + kEnd,
         ent(0, "a") + ent(2, "b") + ent(0, "c") + kEnd},
        {"names of 15, 16 and 200 bytes", ent(0, n15) + ent(0, n16) + ent(0, n200) + kEnd,
         {{n15, txt("123")}, {n16, txt("")}, {n200, txt("4")}},
         hdr(250, 32, 3) + txt("1234") + ent(3, n15) + ent(0, n16) + ent(1, n200) + kEnd,
         ent(3, n15) + ent(0, n16) + ent(1, n200) + kEnd},
        {"bytes after the end marker", ent(1, "m") + kEnd + txt("junk!"), {{"m", txt("Z")}},
         hdr(15, 29, 1) + txt("Z") + ent(1, "m") + kEnd, ent(1, "m") + kEnd + Bytes(5, 0)},
        {"duplicate names", ent(1, "d") + ent(1, "d") + kEnd, {{"d", txt("QQ")}},
         hdr(16, 32, 2) + txt("QQQQ") + ent(2, "d") + ent(2, "d") + kEnd, ent(2, "d") + ent(2, "d") + kEnd},
    };
}

TEST(Fl3Layout, PackExtractAndPackAgain) {
    for (const auto& c : layout_cases()) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        const std::string folder = dir.file("g_fl3"), archive = dir.file("g.fl3");
        ASSERT_TRUE(platform::create_directory(folder));
        test::write_file(folder + "/_index.bin", c.index);
        for (const auto& [name, bytes] : c.files) test::write_file(folder + "/" + name, bytes);

        RecordingUi pack_ui;
        auto index = fl3::load_index(pack_ui, folder + "/_index.bin");
        ASSERT_TRUE(index);
        EXPECT_EQ(index->member_folder, folder);
        ASSERT_TRUE(fl3::compact(pack_ui, *index, archive));
        EXPECT_EQ(test::read_file(archive), c.archive);
        std::vector<Event> want{{Event::status_now, "Compacting " + archive}};
        for (const auto& name : index->names)
            want.push_back({Event::status_now, "Compacting " + name + " into " + folder + "/" + name});
        want.push_back({Event::status_later, "Compacting OK"});
        EXPECT_EQ(pack_ui.events, want);

        // Extract the hand-made archive elsewhere, then pack it in place.
        const std::string other = dir.file("h.fl3"), other_folder = dir.file("h_fl3");
        test::write_file(other, c.archive);
        RecordingUi ui;
        ASSERT_TRUE(fl3::extract(ui, other));
        EXPECT_EQ(ui.events.front(), (Event{Event::status_now, "Extracting " + other}));
        EXPECT_EQ(ui.events.back(), (Event{Event::status_later, "Extracting OK"}));
        EXPECT_EQ(ui.events.size(), index->names.size() + 2);
        EXPECT_TRUE(ui.alerts().empty());
        EXPECT_EQ(test::read_file(other_folder + "/_index.bin"), c.index_out);
        for (const auto& [name, bytes] : c.files) EXPECT_EQ(test::read_file(other_folder + "/" + name), bytes);

        auto again = fl3::load_index(ui, other_folder + "/_index.bin");
        ASSERT_TRUE(again);
        ASSERT_TRUE(fl3::compact(ui, *again, other));
        EXPECT_EQ(test::read_file(other), c.archive);
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"g.fl3", "g_fl3", "h.fl3", "h_fl3"}));
    }
}

TEST(Fl3Layout, LaterDuplicateReplacesEarlier) {
    test::ScratchDir dir;
    test::write_file(dir.file("d.fl3"), hdr(16, 31, 2) + txt("ABC") + ent(1, "d") + ent(2, "d") + kEnd);
    RecordingUi ui;
    ASSERT_TRUE(fl3::extract(ui, dir.file("d.fl3")));
    EXPECT_EQ(test::read_file(dir.file("d_fl3/d")), txt("BC"));
    EXPECT_EQ(ui.texts(Event::status_now)[1], "Extracting " + dir.file("d.fl3") + ":d");
}

// A whole file, read in one go (the stream helper is slow on megabytes
// under the sanitizers).
Bytes slurp(const std::string& path) {
    auto f = platform::File::open(path, platform::OpenMode::read_existing);
    if (!f) return {};
    Bytes b(static_cast<std::size_t>(f->size().value_or(0)));
    b.resize(f->read_full(b));
    return b;
}

TEST(Fl3Layout, RoundTripsOfGeneratedArchives) {
    kit::Rng rng(0xF13);
    auto bytes = [&](std::size_t n) {
        Bytes b(n);
        for (auto& x : b) x = rng.byte();
        return b;
    };
    // One member just over the 4 MiB streaming buffer, in a cheap pattern.
    Bytes big((std::size_t{4} << 20) + 7);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 12));
    std::vector<Member> members{{"big.bin", big}, {"zero", {}}};
    for (int i = 0; i < 40; ++i) members.push_back({"m" + std::to_string(i) + ".dat", bytes(rng.below(3000))});
    for (const Bytes& tail : {Bytes{}, txt("tail bytes")}) {
        test::ScratchDir dir;
        const Bytes original = kit::fl3_archive(members, tail);
        test::write_file(dir.file("r.fl3"), original);
        RecordingUi ui;
        ASSERT_TRUE(fl3::extract(ui, dir.file("r.fl3")));
        for (const auto& [name, b] : members) ASSERT_EQ(slurp(dir.file("r_fl3/" + name)), b) << name;
        auto index = fl3::load_index(ui, dir.file("r_fl3/_index.bin"));
        ASSERT_TRUE(index);
        ASSERT_TRUE(fl3::compact(ui, *index, dir.file("r.fl3")));
        EXPECT_TRUE(ui.alerts().empty());
        EXPECT_EQ(slurp(dir.file("r.fl3")), original);
    }
}

TEST(Fl3Format, DirectoryReader) {
    struct Case {
        Bytes bytes;
        std::size_t max;
        fl3::Directory::End end;
        std::size_t entries;
        std::uint64_t length;
    } cases[] = {
        {kEnd, 5, fl3::Directory::End::marker, 0, 4},
        {ent(0, std::string(255, 'e')) + kEnd, 5, fl3::Directory::End::marker, 1, 264},
        {ent(3, "ab") + ent(4, "c") + kEnd + txt("zz"), 5, fl3::Directory::End::marker, 2, 17},
        {ent(3, "ab") + ent(4, "c") + kEnd, 1, fl3::Directory::End::limit, 1, 7},
        {ent(3, "ab") + kEnd, 1, fl3::Directory::End::marker, 1, 11},
        {ent(3, "ab"), 1, fl3::Directory::End::end_of_data, 1, 7},
        {ent(3, "abc") + Bytes{0xFF, 0xFF}, 5, fl3::Directory::End::end_of_data, 1, 8},
        {u32(1) + Bytes{9} + txt("short"), 5, fl3::Directory::End::end_of_data, 0, 0},
        {{}, 5, fl3::Directory::End::end_of_data, 0, 0},
    };
    for (const auto& c : cases) {
        fl3::MemorySource src(c.bytes);
        auto d = fl3::read_directory(src, c.max);
        EXPECT_EQ(d.end, c.end);
        EXPECT_EQ(d.entries.size(), c.entries);
        EXPECT_EQ(d.length, c.length);
    }
}

TEST(Fl3Format, SafeNames) {
    for (std::string_view bad : {"", ".", "..", "a\\b", "a/b", "c:", "\\", "/", ":"})
        EXPECT_FALSE(fl3::is_safe_name(bad)) << bad;
    EXPECT_FALSE(fl3::is_safe_name(std::string_view("x\0y", 3)));
    EXPECT_FALSE(fl3::is_safe_name(std::string(256, 'a')));
    for (std::string_view good : {"...", ".a", "a.", " ", "a b.txt", "\xE9t\xE9.bm2", "CON"})
        EXPECT_TRUE(fl3::is_safe_name(good)) << good;
    EXPECT_TRUE(fl3::is_safe_name(std::string(255, 'a')));
    EXPECT_EQ(fl3::printable_name(std::string_view("a\n\0b", 4)), "a\\x0A\\x00b");
}

}  // namespace
}  // namespace vid

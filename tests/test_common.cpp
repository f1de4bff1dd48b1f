// The job pool, the Ui that keeps texts for later, and the mod project's
// small helpers: counts, folder arguments, names folded as Windows folds
// them, files read whole up to a limit.
#include <gtest/gtest.h>

#include <thread>

#include "core/text.h"
#include "core/pool.h"
#include "project/common.h"
#include "test_support.h"

namespace vid {
namespace {

// Results are taken back in the order of submission whatever the number
// of workers; with one worker or none each task runs at once, on the
// caller's thread, inside submit().
TEST(Pool, ResultsInTheOrderSubmitted) {
    for (const unsigned workers : {0u, 1u, 2u, 4u}) {
        SCOPED_TRACE(workers);
        Pool pool(workers);
        EXPECT_EQ(pool.workers(), workers <= 1 ? 0u : workers);
        const std::thread::id caller = std::this_thread::get_id();
        std::vector<int> out(40, -1);
        std::vector<std::thread::id> ran_on(out.size());
        for (std::size_t i = 0; i < out.size(); ++i) {
            const std::size_t n = pool.submit([&, i] {
                ran_on[i] = std::this_thread::get_id();
                out[i] = static_cast<int>(i * i);
            });
            EXPECT_EQ(n, i);
            if (workers <= 1) EXPECT_EQ(out[i], static_cast<int>(i * i)) << "not run at once";
        }
        for (std::size_t i = 0; i < out.size(); ++i) {
            pool.wait(i);
            EXPECT_EQ(out[i], static_cast<int>(i * i));
            EXPECT_EQ(ran_on[i] == caller, workers <= 1);
        }
    }
    EXPECT_GE(default_jobs(), 1u);
}

// What a job tells is told again later, in its order, once.
TEST(Pool, BufferUiReplaysInOrderOnce) {
    BufferUi kept(true, true);
    EXPECT_TRUE(kept.has_listing_view());
    EXPECT_TRUE(kept.is_console());
    EXPECT_FALSE(BufferUi().has_listing_view());
    EXPECT_FALSE(BufferUi().is_console());
    kept.status("one", Draw::now);
    kept.alert("two");
    kept.add_node("three", 2);
    kept.status("four", Draw::later);
    kept.add_node("five", 0);
    test::RecordingUi ui(true);
    kept.replay(ui);
    using test::Event;
    EXPECT_EQ(ui.events, (std::vector<Event>{{Event::status_now, "one"},
                                             {Event::alert, "two"},
                                             {Event::node, "three", 2},
                                             {Event::status_later, "four"},
                                             {Event::node, "five", 0}}));
    test::RecordingUi again(true);
    kept.replay(again);
    EXPECT_TRUE(again.events.empty());
}

TEST(ProjectCommon, CountsFoldersAndNames) {
    const struct {
        std::uint64_t n;
        const char* text;
    } counts[] = {{0, "0"},           {999, "999"},           {1000, "1,000"},
                  {65535, "65,535"},  {999999, "999,999"},    {1000000, "1,000,000"},
                  {18446744073709551615u, "18,446,744,073,709,551,615"}};
    for (const auto& c : counts) EXPECT_EQ(grouped(c.n), c.text);
    const struct {
        const char* given;
        const char* folder;
    } folders[] = {{"work/", "work"}, {"work//", "work"}, {"a/b/", "a/b"}, {"work", "work"}, {"/", "/"},
                   {"//", "/"},      {"C:/", "C:/"},     {"C:/x/", "C:/x"}, {"", ""}};
    for (const auto& f : folders) EXPECT_EQ(project::folder_arg(f.given), f.folder) << f.given;
    // Only A to Z: the characters next to them, and bytes of other code pages, stay.
    EXPECT_EQ(project::lower_ascii("@AZ[`az{ \xC4\x82\xA0"), "@az[`az{ \xC4\x82\xA0");
}

TEST(ProjectCommon, FilesReadWholeUpToALimit) {
    test::ScratchDir dir;
    test::write_file(dir.file("five"), std::string_view("12345"));
    test::write_file(dir.file("empty"), std::string_view(""));
    EXPECT_EQ(project::read_file(dir.file("five"), 5), test::bytes_of("12345"));
    EXPECT_EQ(project::read_file(dir.file("five"), 4), std::nullopt);
    EXPECT_EQ(project::read_file(dir.file("five")), test::bytes_of("12345"));
    EXPECT_EQ(project::read_file(dir.file("empty"), 0), Bytes{});
    EXPECT_EQ(project::read_file(dir.file("none")), std::nullopt);
    EXPECT_EQ(project::read_file(dir.path()), std::nullopt);  // a folder
}

// A member is copied in pieces of 8 MiB, each told when it is done; the
// copy stops after a piece when told to.
TEST(ProjectCommon, MembersCopiedInPiecesOf8MiB) {
    test::ScratchDir dir;
    const std::size_t piece = std::size_t{8} << 20;
    Bytes data(piece + 3 + 1);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    test::write_file(dir.file("in"), data);
    for (const bool go_on : {true, false}) {
        SCOPED_TRACE(go_on);
        auto in = platform::File::open(dir.file("in"), platform::OpenMode::read_existing);
        auto out = platform::File::open(dir.file("out"), platform::OpenMode::create_always);
        ASSERT_TRUE(in && out);
        fl3::FileReader reader(*in, data.size());
        std::vector<std::uint64_t> told;
        const project::Copy done = project::copy_member(*in, reader, 1, piece + 3, *out, [&](std::uint64_t n) {
            told.push_back(n);
            return go_on;
        });
        out->close();
        EXPECT_EQ(done, go_on ? project::Copy::done : project::Copy::stopped);
        EXPECT_EQ(told, (go_on ? std::vector<std::uint64_t>{piece, piece + 3} : std::vector<std::uint64_t>{piece}));
        EXPECT_EQ(test::read_file(dir.file("out")), Bytes(data.begin() + 1, data.begin() + 1 + (go_on ? piece + 3 : piece)));
    }
}

}  // namespace
}  // namespace vid

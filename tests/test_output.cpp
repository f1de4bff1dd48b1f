// The output layer: what is already on disk is never written through, an
// old file stays byte-identical until the new one replaces it whole, and no
// temporary file outlives an output. Inputs that are not regular files are
// refused without waiting.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "core/files.h"
#include "platform/output.h"
#include "test_support.h"

namespace vid {
namespace {

namespace fs = std::filesystem;
using platform::Existing;
using platform::Output;
using platform::OutputError;

std::size_t entries(const std::string& folder) { return test::names_in(folder).size(); }

TEST(Output, WhatStandsAtTheNameDecides) {
    // Each case: what is at "out" before, how the output treats it, whether
    // it starts, and what "out" and the outside file hold after commit().
    enum Before { nothing, file, symlink, dangling, hardlink, folder, fifo };
    const struct {
        const char* what;
        Before before;
        Existing existing;
        OutputError error;         // none: the output starts and is committed
        std::string out_after;     // "out" read as a file after commit ("" when the case fails)
        bool out_is_link = false;  // "out" is still a link afterwards
    } cases[] = {
        {"new name", nothing, Existing::replace, OutputError::none, "new"},
        {"old file replaced", file, Existing::replace, OutputError::none, "new"},
        {"symbolic link replaced, not followed", symlink, Existing::replace, OutputError::none, "new"},
        {"dangling link replaced, nothing created outside", dangling, Existing::replace, OutputError::none, "new"},
        {"hard link replaced, the shared file kept", hardlink, Existing::replace, OutputError::none, "new"},
        {"folder", folder, Existing::replace, OutputError::folder, ""},
        {"FIFO", fifo, Existing::replace, OutputError::not_regular, ""},
        {"link target replaced, link kept", symlink, Existing::replace_target, OutputError::none, "new", true},
        {"dangling link target created", dangling, Existing::replace_target, OutputError::none, "new", true},
        {"keep: new name", nothing, Existing::keep, OutputError::none, "new"},
        {"keep: an old file stays", file, Existing::keep, OutputError::cant_create, ""},
        {"keep: a dangling link stays", dangling, Existing::keep, OutputError::cant_create, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir dir;
        const std::string out = dir.file("out"), outside = dir.file("outside");
        test::write_file(outside, std::string_view("outside"));
        switch (c.before) {
            case nothing: break;
            case file: test::write_file(out, std::string_view("old")); break;
            case symlink: fs::create_symlink("outside", out); break;
            case dangling: fs::create_symlink("missing", out); break;
            case hardlink: fs::create_hard_link(outside, out); break;
            case folder: fs::create_directory(out); break;
            case fifo: ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0); break;
        }
        const std::size_t before = entries(dir.path());
        OutputError why = OutputError::none;
        auto o = Output::create(out, c.existing, &why);
        EXPECT_EQ(why, c.error);
        ASSERT_EQ(o.has_value(), c.error == OutputError::none);
        if (!o) {
            EXPECT_EQ(entries(dir.path()), before) << "nothing made for a refused output";
            continue;
        }
        EXPECT_EQ(entries(dir.path()), before + 1) << "one temporary file beside the name";
        ASSERT_TRUE(o->file().write(test::bytes_of("new")));
        ASSERT_TRUE(o->commit());
        EXPECT_EQ(test::read_file(out), test::bytes_of(c.out_after));
        EXPECT_EQ(fs::is_symlink(out), c.out_is_link);
        const bool writes_outside = c.existing == Existing::replace_target && c.before == symlink;
        EXPECT_EQ(test::read_file(outside), test::bytes_of(writes_outside ? "new" : "outside"));
        EXPECT_EQ(fs::exists(dir.file("missing")), c.existing == Existing::replace_target && c.before == dangling);
        EXPECT_EQ(entries(dir.path()), before + (c.before == nothing ? 1u : 0u) +
                                           (c.existing == Existing::replace_target && c.before == dangling ? 1u : 0u))
            << "no temporary file left";
    }
}

TEST(Output, FailureAndDiscardLeaveTheOldFile) {
    test::ScratchDir dir;
    const std::string out = dir.file("out");
    test::write_file(out, std::string_view("old"));
    ::chmod(out.c_str(), 0640);
    {
        auto o = Output::create(out, Existing::replace);
        ASSERT_TRUE(o);
        ASSERT_TRUE(o->file().write(test::bytes_of("half")));
        // Dropped without commit, as after any failure.
    }
    EXPECT_EQ(test::read_file(out), test::bytes_of("old"));
    EXPECT_EQ(entries(dir.path()), 1u);
    {
        // Another program holds the old file: it is not replaced.
        auto held = platform::File::open(out, platform::OpenMode::read_existing);
        ASSERT_TRUE(held);
        OutputError why = OutputError::none;
        EXPECT_FALSE(Output::create(out, Existing::replace, &why));
        EXPECT_EQ(why, OutputError::cant_create);
    }
    {
        // The permissions of the replaced file are kept.
        auto o = Output::create(out, Existing::replace);
        ASSERT_TRUE(o);
        ASSERT_TRUE(o->file().write(test::bytes_of("new")));
        ASSERT_TRUE(o->commit());
        struct stat st {};
        ASSERT_EQ(::stat(out.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
    {
        // keep: a name taken while the output was written refuses it.
        const std::string ab = dir.file("x.ab");
        auto o = Output::create(ab, Existing::keep);
        ASSERT_TRUE(o);
        ASSERT_TRUE(o->file().write(test::bytes_of("mine")));
        test::write_file(ab, std::string_view("theirs"));
        EXPECT_FALSE(o->commit());
        EXPECT_EQ(test::read_file(ab), test::bytes_of("theirs"));
    }
    EXPECT_EQ(entries(dir.path()), 2u) << "no temporary file left";
}

TEST(Output, StaleTemporaryNamesAreSkipped) {
    // The temporary names of this process are "~vd<pid>-<n>.tmp" with n
    // counting up; two stale files at the next names are left alone and the
    // output takes the one after them.
    test::ScratchDir dir;
    const std::string prefix = "~vd" + std::to_string(::getpid()) + "-";
    unsigned n = 0;
    {
        auto first = Output::create(dir.file("out"), Existing::replace);
        ASSERT_TRUE(first);
        const auto names = test::names_in(dir.path());  // "out" is there only once committed
        ASSERT_EQ(names.size(), 1u);
        ASSERT_EQ(names.begin()->rfind(prefix, 0), 0u);
        n = static_cast<unsigned>(std::stoul(names.begin()->substr(prefix.size())));
    }
    const std::string stale1 = prefix + std::to_string(n + 1) + ".tmp", stale2 = prefix + std::to_string(n + 2) + ".tmp";
    test::write_file(dir.file(stale1), std::string_view("stale 1"));
    test::write_file(dir.file(stale2), std::string_view("stale 2"));
    auto out = Output::create(dir.file("out"), Existing::replace);
    ASSERT_TRUE(out) << "the stale names do not stop the output";
    EXPECT_EQ(test::names_in(dir.path()), (std::set<std::string>{prefix + std::to_string(n + 3) + ".tmp", stale1, stale2}));
    ASSERT_TRUE(out->file().write(test::bytes_of("new")));
    ASSERT_TRUE(out->commit());
    EXPECT_EQ(test::read_file(dir.file("out")), test::bytes_of("new"));
    EXPECT_EQ(test::read_file(dir.file(stale1)), test::bytes_of("stale 1"));
    EXPECT_EQ(test::read_file(dir.file(stale2)), test::bytes_of("stale 2"));
}

TEST(Output, InputsThatAreNotRegularFilesAreRefusedAtOnce) {
    test::ScratchDir dir;
    const std::string fifo = dir.file("f.wv5");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string alert;
    } cases[] = {
        {fifo, fifo + " is not a regular file"},
        {dir.path(), dir.path() + " is a folder"},
        {"/dev/zero", "/dev/zero is not a regular file"},
        {dir.file("none"), dir.file("none") + " not found"},
    };
    for (const auto& c : cases) {
        test::RecordingUi ui;
        EXPECT_FALSE(open_input(ui, c.path));  // returns at once: a FIFO without a writer would block a plain open
        EXPECT_EQ(ui.alerts(), std::vector<std::string>{c.alert});
    }
}

// Case variants of a name: the exact one, else the byte-wise smallest,
// whatever order the folder lists them in.
TEST(Output, CaseVariantsAreChosenByAFixedRule) {
    const struct {
        std::vector<std::string_view> present;
        std::string_view wanted;
        std::optional<std::string_view> found;
    } cases[] = {
        {{"x.Bm2", "X.BM2", "x.bM2"}, "x.bm2", "X.BM2"},
        {{"X.BM2", "x.Bm2", "x.bm2"}, "x.bm2", "x.bm2"},
        {{"x.bM2", "x.Bm2"}, "x.bm2", "x.Bm2"},
        {{"x.bm2x", "xx.bm2"}, "x.bm2", std::nullopt},
    };
    for (const auto& c : cases) {
        // Created in both orders: the order of the folder does not choose.
        for (bool reversed : {false, true}) {
            test::ScratchDir dir;
            std::vector<std::string_view> names = c.present;
            if (reversed) std::reverse(names.begin(), names.end());
            for (auto n : names) test::write_file(dir.file(std::string(n)), n);
            const auto got = find_any_case(dir.path() + "/", c.wanted);
            EXPECT_EQ(got, c.found ? std::optional(dir.file(std::string(*c.found))) : std::nullopt) << c.present[0];
        }
    }
    // The root folder keeps its one separator.
    EXPECT_EQ(find_any_case("/", "TMP"), "/tmp");
}

// When the new file cannot take the original's place, no copy of the
// original is left either.
TEST(Output, NoOriginalIsKeptWhenTheReplaceFails) {
    test::ScratchDir dir;
    const std::string pic = dir.file("p.bm2");
    test::write_file(pic, std::string_view("first"));
    test::RecordingUi ui;
    auto out = create_output(ui, pic);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->file().write(test::bytes_of("second")));
    // A folder takes the name before the replace: the move fails.
    ASSERT_EQ(::rename(pic.c_str(), dir.file("moved").c_str()), 0);
    ASSERT_EQ(::mkdir(pic.c_str(), 0700), 0);
    EXPECT_FALSE(commit_keeping_original(ui, *out, true));
    EXPECT_EQ(ui.alerts(), std::vector<std::string>{"Can't write " + pic});
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(pic + ".orig")));
    EXPECT_EQ(test::read_file(dir.file("moved")), test::bytes_of("first"));
    EXPECT_EQ(entries(dir.path()), 2u) << "no temporary file left";
}

}  // namespace
}  // namespace vid

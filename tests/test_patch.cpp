// Patches: the description that repack writes beside the patch's files,
// and apply-patch (and its undo) on a player's copy of the game, in each
// state that copy can be in.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "kit/fl3_archive.h"
#include "project/delta.h"
#include "project/patch.h"
#include "project/project.h"
#include "project_support.h"

namespace vid {
namespace {

namespace fs = std::filesystem;
using test::bytes_of;
using test::read_file;
using test::write_file;
using test::RecordingUi;

const Bytes kHi = {0x01, 0x00, 0x01, 0x00, 'H', 'i', 0x00};  // Update Text, Idx 1, "Hi"
// XXH3-128 hashes as Debian's `xxhsum -H2` prints them.
constexpr const char* kHiHash = "2db107f3786e8078dec8cfd9e85c0982";
constexpr const char* kReplacedHash = "5ea053415bf09d1e4f2b3ca22528884a";  // "replaced"
constexpr const char* kOtherHash = "f9e841ecb9b7035fa198aa6c543a36c7";     // "other!!"

nlohmann::json json_in(const std::string& path) {
    const Bytes text = read_file(path);
    return nlohmann::json::parse(text.begin(), text.end());
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    s.replace(s.find(from), from.size(), to);
    return s;
}

// A game of an archive and two loose scripts, unpacked; the archive's
// member and the first script replaced and repacked into `out`; and the
// player's copy of the game.
struct Patched : test::Project {
    std::string player = dir.file("player");
    Bytes archive = kit::fl3_archive({{"m.dat", bytes_of("abc")}});
    Bytes patched_archive = kit::fl3_archive({{"m.dat", bytes_of("ABCD")}});
    Patched() : Project({{"a.fl3", kit::fl3_archive({{"m.dat", bytes_of("abc")}})}, {"s.ab", kHi}, {"sub/t.ab", kHi}}) {
        write_file(work + "/a_fl3/m.dat", std::string_view("ABCD"));
        write_file(work + "/s.ab", std::string_view("replaced"));
        RecordingUi ui;
        EXPECT_EQ(project::repack(ui, work, out), 0) << ui.last_status();
        fs::copy(game, player, fs::copy_options::recursive);
    }
    int apply(RecordingUi& ui, bool undo = false) { return project::apply_patch(ui, out, player, {undo, nullptr}); }
    bool untouched() const {
        return read_file(player + "/a.fl3") == archive && read_file(player + "/s.ab") == kHi &&
               !fs::exists(player + "/a.fl3.orig") && !fs::exists(player + "/s.ab.orig");
    }
};

TEST(Patch, DescriptionNamesEachOriginalAndResult) {
    Patched p;
    EXPECT_EQ(test::files_in(p.out), (std::vector<std::string>{"a.fl3", "s.ab", project::kPatchFileName}));
    const auto d = json_in(p.out + "/" + project::kPatchFileName);
    EXPECT_EQ(d["vidodide_patch"], 1);
    EXPECT_EQ(d["hash"], "XXH3-128");
    ASSERT_EQ(d["files"].size(), 2u);
    EXPECT_EQ(d["files"][0]["path"], "a.fl3");
    EXPECT_EQ(d["files"][0]["original"]["size"], p.archive.size());
    EXPECT_EQ(d["files"][0]["result"]["size"], p.patched_archive.size());
    EXPECT_EQ(d["files"][1], nlohmann::json::parse(std::string(R"({"path": "s.ab",
        "original": {"size": 7, "hash": ")") + kHiHash + R"("}, "result": {"size": 8, "hash": ")" + kReplacedHash +
                                                  R"("}})"));
}

TEST(Patch, ApplyChecksEveryFileFirst) {
    const auto same_size_other = [](Patched& p) { write_file(p.player + "/s.ab", std::string_view("other!!")); };
    const struct {
        const char* what;
        std::function<void(Patched&)> before;
        int status;
        std::vector<std::string> alerts;  // P: the player's game, O: the patch
        std::string last;
        bool changed;  // a.fl3 patched
    } cases[] = {
        {"the game's own", {}, 0, {}, "Patching OK: 2 files patched in P (each original kept beside it as .orig)", true},
        {"hashes written in capitals",
         [](Patched& p) {
             const std::string described = p.out + "/" + project::kPatchFileName;
             nlohmann::json d = json_in(described);
             for (auto& f : d["files"])
                 for (const char* key : {"original", "result"}) {
                     std::string hex = f[key]["hash"];
                     std::transform(hex.begin(), hex.end(), hex.begin(), [](char c) { return std::toupper(c); });
                     f[key]["hash"] = hex;
                 }
             write_file(described, d.dump(1));
         },
         0, {}, "Patching OK: 2 files patched in P (each original kept beside it as .orig)", true},
        {"patched already",
         [](Patched& p) {
             RecordingUi ui;
             p.apply(ui);
         },
         0, {}, "Patching OK: nothing to do, the game in P is patched already", true},
        {"a file of another version", same_size_other, 1,
         {std::string("P/s.ab is not the version of the game that this patch was made for: the patch needs 7 bytes "
                      "with the hash ") + kHiHash + ", and this file has 7 bytes with the hash " + kOtherHash +
          ". It has the right size but other bytes: another mod changed it, or the copy is damaged."},
         "", false},
        {"patched by another patch",
         [&](Patched& p) {
             same_size_other(p);
             write_file(p.player + "/s.ab.orig", kHi);
         },
         1,
         {std::string("P/s.ab is not the version of the game that this patch was made for: the patch needs 7 bytes "
                      "with the hash ") + kHiHash + ", and this file has 7 bytes with the hash " + kOtherHash +
          ". Its backup P/s.ab.orig is that version: the game looks patched already, by another patch or another "
          "version of this one. Undo that patch first."},
         "", false},
        {"a backup of another file",
         [](Patched& p) { write_file(p.player + "/s.ab.orig", std::string_view("other!!")); }, 1,
         {std::string("P/s.ab.orig is there already and is not a copy of P/s.ab as this patch was made for it (it has 7 "
                      "bytes with the hash ") + kOtherHash + "): move it elsewhere, then apply the patch again"},
         "", false},
        {"a file missing", [](Patched& p) { fs::remove(p.player + "/s.ab"); }, 1,
         {std::string("P/s.ab is not there: this patch was made for a game that has it (7 bytes with the hash ") +
          kHiHash + ")."},
         "", false},
        {"a file reached through a link",
         [](Patched& p) {
             fs::rename(p.player + "/a.fl3", p.dir.file("elsewhere.fl3"));
             fs::create_symlink(p.dir.file("elsewhere.fl3"), p.player + "/a.fl3");
         },
         1, {"P/a.fl3 is a link: a patch is applied to the files of the game folder only, and nothing was changed"},
         "Patching refused: nothing was changed in P", false},
        {"a folder where a file should be",
         [](Patched& p) {
             fs::remove(p.player + "/s.ab");
             fs::create_directory(p.player + "/s.ab");
         },
         1, {"P/s.ab is a folder, not a file: nothing was changed"}, "Patching refused: nothing was changed in P", false},
        // The patch's own file is checked as it is copied: the file before
        // it stays patched, each whole.
        {"the patch damaged", [](Patched& p) { write_file(p.out + "/s.ab", std::string_view("REPLACED")); }, 1,
         {std::string("O/s.ab is damaged: the patch needs 8 bytes with the hash ") + kReplacedHash +
          " there. P/s.ab is left as it was: download the patch again."},
         "Patching: 1 file patched in P, 1 file not", true},
    };
    for (const auto& c : cases) {
        Patched p;
        if (c.before) c.before(p);
        RecordingUi ui;
        EXPECT_EQ(p.apply(ui), c.status) << c.what;
        const auto named = [&](std::string s) {
            for (const auto& [from, to] : {std::pair{p.player, "P"}, std::pair{p.out, "O"}})
                for (std::size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, from.size(), to);
            return s;
        };
        std::vector<std::string> alerts;
        for (const auto& a : ui.alerts()) alerts.push_back(named(a));
        EXPECT_EQ(alerts, c.alerts) << c.what;
        const std::string last = c.last.empty() && c.status == 1
                                     ? "Patching refused: nothing was changed in P. Restore the game's own files "
                                       "(reinstall the game, or let its launcher check them), then apply the patch again."
                                     : c.last;
        EXPECT_EQ(named(ui.last_status()), last) << c.what;
        const std::string a = p.player + "/a.fl3";
        if (c.changed) {
            EXPECT_EQ(read_file(a), p.patched_archive) << c.what;
            EXPECT_EQ(read_file(a + ".orig"), p.archive) << c.what;
        } else if (!fs::is_symlink(a)) {
            EXPECT_EQ(read_file(a), p.archive) << c.what;
            EXPECT_FALSE(fs::exists(a + ".orig")) << c.what;
        }
        if (c.status == 0) EXPECT_EQ(read_file(p.player + "/s.ab"), bytes_of("replaced")) << c.what;
        EXPECT_EQ(read_file(p.player + "/sub/t.ab"), kHi) << c.what;
    }
}

// Stopped between two files: the first is patched, the second the game's
// own; a second run patches the rest.
TEST(Patch, StoppedRunLeavesEachFileWhole) {
    Patched p;
    test::StoppingUi ui("Patching 2 of 2");
    EXPECT_EQ(project::apply_patch(ui, p.out, p.player, {false, &ui.stop}), 1);
    EXPECT_EQ(ui.last_status(), "Patching stopped at s.ab: 1 file patched in " + p.player + ", the others left as they were");
    EXPECT_EQ(read_file(p.player + "/a.fl3"), p.patched_archive);
    EXPECT_EQ(read_file(p.player + "/s.ab"), kHi);
    EXPECT_FALSE(fs::exists(p.player + "/s.ab.orig"));
    EXPECT_EQ(test::files_in(p.player), (std::vector<std::string>{"a.fl3", "a.fl3.orig", "s.ab", "sub/t.ab"}));
    RecordingUi again;
    EXPECT_EQ(p.apply(again), 0);
    EXPECT_EQ(again.last_status(), "Patching OK: 1 file patched in " + p.player +
                                       ", 1 file patched already (each original kept beside it as .orig)");
    EXPECT_EQ(read_file(p.player + "/s.ab"), bytes_of("replaced"));
}

TEST(Patch, UndoRestoresTheBackupsOrChangesNothing) {
    const struct {
        const char* what;
        std::function<void(Patched&)> after_apply;  // none: the game was never patched
        int status;
        std::string alert, last;
    } cases[] = {
        {"patched", [](Patched&) {}, 0, "", "Undo OK: 2 files restored in P"},
        {"never patched", {}, 0, "", "Undo OK: nothing to do, the files of the patch are the game's own in P"},
        {"a backup removed", [](Patched& p) { fs::remove(p.player + "/s.ab.orig"); }, 1,
         "P/s.ab has no backup P/s.ab.orig: its original cannot be restored (reinstall the game's own file)",
         "Undo refused: nothing was changed in P"},
        {"a backup that is a link",
         [](Patched& p) {
             fs::rename(p.player + "/s.ab.orig", p.dir.file("kept.ab"));
             fs::create_symlink(p.dir.file("kept.ab"), p.player + "/s.ab.orig");
         },
         1, "P/s.ab.orig is a link, not a backup: P/s.ab is not restored from it",
         "Undo refused: nothing was changed in P"},
        {"a file changed since", [](Patched& p) { write_file(p.player + "/s.ab", std::string_view("other!!")); }, 1,
         std::string("P/s.ab changed since the patch was applied (it has 7 bytes with the hash ") + kOtherHash +
             "): undo would lose that change. Move it elsewhere, then undo again.",
         "Undo refused: nothing was changed in P"},
    };
    for (const auto& c : cases) {
        Patched p;
        if (c.after_apply) {
            RecordingUi ui;
            ASSERT_EQ(p.apply(ui), 0) << c.what;
            c.after_apply(p);
        }
        const auto before = test::files_in(p.player);
        RecordingUi ui;
        EXPECT_EQ(p.apply(ui, true), c.status) << c.what;
        const auto named = [&](std::string s) {
            for (std::size_t at; (at = s.find(p.player)) != std::string::npos;) s.replace(at, p.player.size(), "P");
            return s;
        };
        EXPECT_EQ(ui.alerts().empty() ? "" : named(ui.alerts()[0]), c.alert) << c.what;
        EXPECT_EQ(named(ui.last_status()), c.last) << c.what;
        if (c.status == 0)
            EXPECT_TRUE(p.untouched()) << c.what;
        else
            EXPECT_EQ(test::files_in(p.player), before) << c.what;
    }
}

// With --delta the archive goes as a VCDIFF delta against the game's own
// (the loose file stays whole); applied, it gives the same game. A delta
// damaged in its middle is told, and changes nothing.
TEST(Patch, DeltaOfAnArchive) {
    Patched p;
    const std::string deltas = p.dir.file("deltas");
    project::RepackOptions options;
    options.delta = true;
    RecordingUi ui;
    ASSERT_EQ(project::repack(ui, p.work, deltas, options), 0) << ui.last_status();
    EXPECT_EQ(test::files_in(deltas), (std::vector<std::string>{"a.fl3.vcdiff", "s.ab", project::kPatchFileName}));
    EXPECT_EQ(json_in(deltas + "/" + project::kPatchFileName)["files"][0]["delta"], "a.fl3.vcdiff");
    const Bytes delta = read_file(deltas + "/a.fl3.vcdiff");
    ASSERT_GT(delta.size(), 4u);
    EXPECT_EQ(Bytes(delta.begin(), delta.begin() + 4), (Bytes{0xD6, 0xC3, 0xC4, 0x00}));  // VCDIFF's magic and version
    Bytes damaged = delta;
    damaged.back() ^= 0x5A;
    write_file(deltas + "/a.fl3.vcdiff", damaged);
    RecordingUi refused;
    EXPECT_EQ(project::apply_patch(refused, deltas, p.player, {}), 1);
    ASSERT_FALSE(refused.alerts().empty());
    EXPECT_EQ(refused.alerts()[0], deltas + "/a.fl3.vcdiff is damaged: applied to " + p.player + "/a.fl3, it does not give " +
                                       std::to_string(p.patched_archive.size()) + " bytes with the hash " +
                                       json_in(deltas + "/" + project::kPatchFileName)["files"][0]["result"]["hash"]
                                           .get<std::string>() +
                                       ". " + p.player + "/a.fl3 is left as it was: download the patch again.");
    EXPECT_TRUE(p.untouched());
    write_file(deltas + "/a.fl3.vcdiff", delta);
    // A description that names a shorter result: the delta makes more than
    // that, and is refused as damaged.
    const std::string described = deltas + "/" + project::kPatchFileName;
    const Bytes description = read_file(described);
    nlohmann::json shorter = json_in(described);
    shorter["files"][0]["result"]["size"] = p.patched_archive.size() - 1;
    write_file(described, shorter.dump(1));
    RecordingUi overlong;
    EXPECT_EQ(project::apply_patch(overlong, deltas, p.player, {}), 1);
    ASSERT_FALSE(overlong.alerts().empty());
    EXPECT_EQ(overlong.alerts()[0].rfind(deltas + "/a.fl3.vcdiff is damaged: applied to ", 0), 0u) << overlong.alerts()[0];
    EXPECT_TRUE(p.untouched());
    write_file(described, description);
    RecordingUi applied;
    EXPECT_EQ(project::apply_patch(applied, deltas, p.player, {}), 0) << applied.last_status();
    EXPECT_EQ(read_file(p.player + "/a.fl3"), p.patched_archive);
    EXPECT_EQ(read_file(p.player + "/s.ab"), bytes_of("replaced"));
}

// Each window of a delta carries the Adler-32 of the bytes it makes, big
// end first, and applying checks it: a delta applied to a source with
// other bytes where it copies from is refused, not turned into other bytes.
TEST(Patch, DeltaWindowsCarryTheirChecksum) {
    test::ScratchDir dir;
    const std::string own = dir.file("own"), other = dir.file("other");
    write_file(own, bytes_of("Wikipedia, the free encyclopedia"));
    write_file(other, bytes_of("Wikipedio, the free encyclopedia"));
    auto source = platform::File::open(own, platform::OpenMode::read_existing);
    ASSERT_TRUE(source);
    const Bytes target = bytes_of("Wikipedia");
    const auto chunks = [](const Bytes& b) {
        return [&b, done = false](std::span<std::uint8_t> out) mutable {
            if (done) return std::size_t{0};
            done = true;
            std::copy(b.begin(), b.end(), out.begin());
            return b.size();
        };
    };
    Bytes delta;
    std::string why;
    ASSERT_EQ(project::make_delta(*source, chunks(target), [&](ByteView v) {
        delta.insert(delta.end(), v.begin(), v.end());
        return true;
    }, nullptr, why), project::Delta::done) << why;
    source.reset();  // open files are held: let it go for the applying
    const Bytes adler = {0x11, 0xE6, 0x03, 0x98};  // Adler-32 of "Wikipedia" (RFC 1950)
    EXPECT_NE(std::search(delta.begin(), delta.end(), adler.begin(), adler.end()), delta.end());
    for (const auto& [path, made, result] : {std::tuple{own, target, project::Delta::done},
                                             std::tuple{other, Bytes{}, project::Delta::refused}}) {
        auto from = platform::File::open(path, platform::OpenMode::read_existing);
        ASSERT_TRUE(from);
        Bytes out;
        why.clear();
        EXPECT_EQ(project::apply_delta(*from, chunks(delta), [&](ByteView v) {
            out.insert(out.end(), v.begin(), v.end());
            return true;
        }, nullptr, why), result) << path;
        EXPECT_EQ(out, made) << path;
        EXPECT_EQ(why, result == project::Delta::done ? "" : "target window checksum mismatch");
    }
}

TEST(Patch, DescriptionThatCannotBeAppliedChangesNothing) {
    const std::string file = R"({"path": "s.ab", "original": {"size": 7, "hash": "2db107f3786e8078dec8cfd9e85c0982"},
        "result": {"size": 8, "hash": "5ea053415bf09d1e4f2b3ca22528884a"}})";
    const struct {
        std::string text;  // none: no description
        std::string why;
    } cases[] = {
        {"", "O/vidodide-patch.json cannot be read: O is not a patch folder that repack wrote"},
        {"{", "O/vidodide-patch.json is not a patch description: it is not JSON text"},
        {R"({"vidodide_patch": 2, "hash": "XXH3-128", "files": [)" + file + "]}",
         "it is of patch format 2, of a newer version of Vidodide"},
        {R"({"vidodide_patch": 1, "hash": "XXH3-64", "files": [)" + file + "]}",
         "its files are named by a hash other than XXH3-128"},
        {R"({"vidodide_patch": 1, "hash": "XXH3-128", "files": []})", "it names no file"},
        {R"({"vidodide_patch": 1, "hash": "XXH3-128", "files": [{"path": "../s.ab"}]})",
         "the path \"../s.ab\" leads out of the game folder"},
        {R"({"vidodide_patch": 1, "hash": "XXH3-128", "files": [)" + file + "," +
             replaced(file, "\"s.ab\"", "\"S.AB\"") + "]}",
         "it names s.ab twice"},
        {R"({"vidodide_patch": 1, "hash": "XXH3-128", "files": [)" +
             replaced(file, "2db107f3786e8078dec8cfd9e85c0982", "2db107f3786e8078dec8cfd9e85c098") + "]}",
         "\"original\" has no hash of 32 hexadecimal digits"},
    };
    for (const auto& c : cases) {
        Patched p;
        if (c.text.empty())
            fs::remove(p.out + "/" + project::kPatchFileName);
        else
            write_file(p.out + "/" + project::kPatchFileName, c.text);
        RecordingUi ui;
        EXPECT_EQ(p.apply(ui), 1) << c.text;
        std::string alert = ui.alerts().empty() ? "" : ui.alerts()[0];
        for (std::size_t at; (at = alert.find(p.out)) != std::string::npos;) alert.replace(at, p.out.size(), "O");
        const std::string why = c.why.rfind("O/", 0) == 0
                                    ? c.why
                                    : "O/vidodide-patch.json is not a patch description that this version can apply: " + c.why;
        EXPECT_EQ(alert, why) << c.text;
        EXPECT_TRUE(p.untouched()) << c.text;
    }
}

}  // namespace
}  // namespace vid

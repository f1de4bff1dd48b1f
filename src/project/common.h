// What unpack, status and repack share: files read and written whole,
// member bytes copied between files, and the changes of a work folder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/ui.h"
#include "fl3/archive.h"
#include "platform/file.h"
#include "project/hash.h"
#include "project/manifest.h"
#include "wv5/wv5.h"

namespace vid::project {

// The most bytes of one member that are decoded or encoded in memory.
inline constexpr std::uint64_t kMaxConverted = std::uint64_t{256} << 20;

// A kind whose files stream through unpack and repack in pieces, whatever
// their length (sounds); the others are converted in memory.
inline bool streams(Kind kind) { return kind == Kind::wv5; }

// `n` bytes of a file from a reader's position, for the sound decoder.
class RangeSource : public wv5::Source {
public:
    RangeSource(fl3::FileReader& in, std::uint64_t n) : in_(in), left_(n) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        const std::size_t got = in_.read(out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), left_))));
        left_ -= got;
        return got;
    }

private:
    fl3::FileReader& in_;
    std::uint64_t left_;
};

// The path as the program uses it (8-bit, as given).
inline std::string path_text(const std::filesystem::path& p) { return p.string(); }

// `s` with A-Z in lower case: names as Windows compares them (member names
// are the game's bytes; only ASCII letters are folded).
std::string lower_ascii(std::string s);

// A folder as given, without the separators at its end ("work/" is
// "work"; "/" stays).
std::string folder_arg(std::string folder);

// The whole of a file, or nothing when it cannot be read (or has more than `limit` bytes).
std::optional<Bytes> read_file(const std::string& path, std::uint64_t limit = kMaxConverted);

// Writes `bytes` as the file `path` through the output layer, making its
// folders first. False after an Alert.
bool write_file(Ui& ui, const std::string& path, ByteView bytes);

// Copies `n` bytes from `in` at `pos` to `out`, hashing them into `hash`
// when given and keeping them in `keep` when given. False when the input
// ends first or a write fails; `*short_read` tells the first.
bool copy_bytes(fl3::FileReader& in, std::uint64_t pos, std::uint64_t n, platform::File* out, Hasher* hash,
                Bytes* keep, bool* short_read = nullptr);

// Copies `n` bytes of the file `file` (read through `in`) from `pos` to
// `out`'s position, in pieces of at most 8 MiB, telling `piece` the bytes
// copied so far after each (false from it stops the copy, which then
// returns false): inside the system for pieces of fl3::kSystemCopyMin or
// more, through `in`'s buffer for smaller ones and whatever the system
// leaves. Tells whether the input or the output failed.
enum class Copy { done, read_failed, write_failed, stopped };
Copy copy_member(platform::File& file, fl3::FileReader& in, std::uint64_t pos, std::uint64_t n, platform::File& out,
                 const std::function<bool(std::uint64_t)>& piece = {});

// The stamp of a file (size and modification time); none when it cannot be told.
Stamp stamp_of(const std::string& path);

// Writes the file `path` (its folders made first) through the output
// layer with the text that `write` gives its sink. False after an Alert.
bool write_text_file(Ui& ui, const std::string& path, const std::function<bool(const TextSink&)>& write);

// What became of one item of the manifest since unpack.
enum class Change {
    none,
    edited,    // the editable file changed: it is encoded back
    replaced,  // the member file changed: it is packed as it is
    conflict,  // both changed: refused
    deleted,   // the member file is gone: the original's bytes are kept
};

Change change_of(const std::string& work, const Item& item);

struct ArchiveChanges {
    std::vector<Change> members;     // one per member of the manifest
    std::vector<std::string> added;  // files added to the member folder, by name
    bool any() const;
};

struct Changes {
    std::vector<ArchiveChanges> archives;  // one per archive of the manifest
    std::vector<Change> loose;             // one per loose file
    int count() const;
};

// What changed in `work`, looked at by `jobs` threads.
Changes changes_of(const std::string& work, const Manifest& m, unsigned jobs = 1);

// The stamps of the manifest's files: one line each, "STAMP<tab>PATH", in
// the order of the items (member file, then editable file). Reading fills
// in the stamps that the files named still show (a file without one is
// hashed); a missing or damaged stamps file only makes status and repack
// hash every file.
bool write_stamps(Ui& ui, const std::string& work, const Manifest& m);

// Writes the manifest of the work folder. False after an Alert.
bool write_manifest(Ui& ui, const std::string& work, const Manifest& m);

// The manifest of the work folder, with its stamps; nothing after an Alert.
std::optional<Manifest> load_manifest(Ui& ui, const std::string& work);

}  // namespace vid::project

// The mod project's manifest: "vidodide-project.json" in the work folder,
// what unpack made and where every file came from. Paths in it are
// relative (to the game folder for archives and loose files, to the work
// folder for member and editable files) and use "/" between folders.
//
// A game may have hundreds of thousands of members, so the manifest is
// written and read piece by piece, never as a whole text or document in
// memory, and an item takes little room: its hashes and stamps as numbers,
// its rarely set texts as one pointer each.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "project/convert.h"
#include "project/hash.h"

namespace vid::project {

inline constexpr const char* kManifestName = "vidodide-project.json";
inline constexpr int kManifestVersion = 1;
inline constexpr const char* kStampsName = "vidodide-project.stamps";

// A text held in one pointer, with nothing allocated when it is empty
// (most items have no problem, no note and no editable file). It reads as
// a std::string or std::string_view where one is wanted.
class Text {
public:
    Text() = default;
    Text(std::string_view s) { assign(s); }
    Text(const std::string& s) { assign(s); }
    Text(const char* s) { assign(s); }
    Text(const Text& other) { assign(other.view()); }
    Text(Text&&) noexcept = default;
    Text& operator=(const Text& other) {
        if (this != &other) assign(other.view());
        return *this;
    }
    Text& operator=(Text&&) noexcept = default;
    ~Text() = default;

    bool empty() const { return !p_; }
    void clear() { p_.reset(); }
    std::string_view view() const;
    std::string str() const { return std::string(view()); }
    operator std::string_view() const { return view(); }
    operator std::string() const { return str(); }
    friend bool operator==(const Text& a, const Text& b) { return a.view() == b.view(); }

private:
    void assign(std::string_view s);
    std::unique_ptr<char[]> p_;  // the length (a std::uint32_t), then the bytes
};

// Size and modification time of a file (the time in the system's finest
// unit), written "SIZE:TIME"; none when it cannot be told.
struct Stamp {
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    std::uint64_t size = kNone;
    std::int64_t time = 0;
    bool known() const { return size != kNone; }
    bool operator==(const Stamp&) const = default;
};
std::string stamp_text(const Stamp& s);
// The stamp of a text "SIZE:TIME"; none for any other text.
Stamp stamp_of_text(std::string_view text);

// One member of an archive, or one loose file of the game folder.
struct Item {
    std::string name;         // member name; for a loose file its path in the game folder
    Text file;                // the member file in the work folder; empty when not extracted
    Text edit;                // the editable file; empty when there is none
    Text problem;             // why it is not extracted or not decoded
    Text note;                // a notice about its editable file (a listing that will not give the same bytes)
    std::uint64_t offset = 0;  // where its bytes start in the archive
    std::uint64_t size = 0;
    Hash hash = 0;            // of its bytes
    Hash edit_hash = 0;       // of the editable file, when there is one
    std::uint32_t index = 0;  // position in the archive's directory
    Kind kind = Kind::other;
    // The member file and the editable file as unpack left them: a file
    // that still shows them is not hashed again by status and repack. Kept
    // beside the manifest, in kStampsName, so that the manifest holds
    // nothing that differs from run to run.
    Stamp file_stamp, edit_stamp;
};

struct Archive {
    std::string path;    // in the game folder
    std::string folder;  // the member folder in the work folder
    std::uint64_t size = 0;
    std::string problem;  // why it was not unpacked (or not in full)
    std::vector<Item> members;
};

struct Manifest {
    std::string game;      // the game folder, as given to unpack
    // The game folder from the work folder ("../game"), '/' between names;
    // empty when there is no such way (another drive). The other program
    // (a work folder unpacked in the Windows program, repacked on the
    // command line) finds the game by it.
    std::string game_from_work;
    bool bitmaps = false;  // images as bitmaps rather than PNG files
    // Unpack was stopped: the archives and loose files listed were
    // unpacked whole, the others are still to come (unpack goes on).
    bool unfinished = false;
    std::vector<Archive> archives;
    std::vector<Item> loose;
};

// Where JSON text goes, piece by piece; false when it could not be written.
using TextSink = std::function<bool(std::string_view)>;

// Writes the manifest as JSON text to `out`; false when `out` refused a piece.
bool write_json(const Manifest& m, const TextSink& out);
// The manifest as JSON text.
std::string to_json(const Manifest& m);

// Where JSON text comes from: fills the front of `out` and returns the
// count, 0 at the end.
using TextSource = std::function<std::size_t(std::span<char> out)>;

// The manifest of JSON text read from `in`; nothing, with the reason in
// `why`, when the text is not one.
std::optional<Manifest> read_json(const TextSource& in, std::string& why);
std::optional<Manifest> from_json(const std::string& text, std::string& why);

// A path of a manifest (or a patch) that stays inside its folder:
// relative, "/" between names, no name empty, "." or "..", no "\\" or ":".
bool inside(const std::string& path);

// A relative path with "/" made a path of the system under `root`.
std::string under(const std::string& root, std::string_view relative);

}  // namespace vid::project

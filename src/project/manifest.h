// The mod project's manifest: "vidodide-project.json" in the work folder,
// what unpack made and where every file came from. Paths in it are
// relative (to the game folder for archives and loose files, to the work
// folder for member and editable files) and use "/" between folders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "project/convert.h"

namespace vid::project {

inline constexpr const char* kManifestName = "vidodide-project.json";
inline constexpr int kManifestVersion = 1;
inline constexpr const char* kStampsName = "vidodide-project.stamps";

// One member of an archive, or one loose file of the game folder.
struct Item {
    std::string name;           // member name; for a loose file its path in the game folder
    std::uint32_t index = 0;    // position in the archive's directory
    std::uint64_t offset = 0;   // where its bytes start in the archive
    std::uint64_t size = 0;
    std::string hash;           // of its bytes
    Kind kind = Kind::other;
    std::string file;           // the member file in the work folder; empty when not extracted
    std::string edit;           // the editable file; empty when there is none
    std::string edit_hash;
    std::string problem;        // why it is not extracted or not decoded
    std::string note;           // a notice about its editable file (a listing that will not give the same bytes)
    // Size and modification time of the member file and of the editable
    // file as unpack left them: a file that still shows them is not hashed
    // again by status and repack. Kept beside the manifest, in kStampsName,
    // so that the manifest holds nothing that differs from run to run.
    std::string file_stamp, edit_stamp;
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

// The manifest as JSON text.
std::string to_json(const Manifest& m);
// The manifest of JSON text; nothing, with the reason in `why`, when the
// text is not one.
std::optional<Manifest> from_json(const std::string& text, std::string& why);

// A listing of archives (list-fl3 --json): per archive its path, size and
// members (name, size, offset), with the totals.
struct Listed {
    std::string path;
    std::uint64_t size = 0;
    std::string problem;
    std::vector<Item> members;  // name, size and offset filled in
};
std::string listing_json(const std::vector<Listed>& archives);

// A relative path with "/" made a path of the system under `root`.
std::string under(const std::string& root, const std::string& relative);

}  // namespace vid::project

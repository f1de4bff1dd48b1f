// Mod projects: a whole game unpacked into a work folder of member files
// and editable files, what changed since, and a patch folder of the
// archives (and loose files) that hold the changes.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "core/ui.h"

namespace vid::project {

struct UnpackOptions {
    bool bitmaps = false;  // images as the bitmaps of Decode BM2 rather than PNG files
    unsigned jobs = 1;     // workers decoding members
    // Set by another thread to stop the run between members: the archive
    // being unpacked is taken out again, and the manifest lists what was
    // unpacked whole.
    const std::atomic<bool>* stop = nullptr;
};

// Unpacks every FL3 archive and every loose BM2, WV5 and AB file of `game`
// (sub-folders included) into `work`, which must be empty or absent, and
// writes the manifest. Members that do not decode are listed in the
// manifest and do not stop the run. Returns the exit status: 0 when every
// archive was unpacked and every member decoded, 1 otherwise.
int unpack(Ui& ui, const std::string& game, const std::string& work, const UnpackOptions& options);

// One member or loose file that changed since unpack.
struct Changed {
    std::string archive;    // the archive's path in the game folder; empty for a loose file
    std::string name;       // the member's name, or the loose file's path in the game folder
    std::string change;     // "edited", "replaced", "conflict", "deleted" or "added"
    std::string file;       // its member file (or loose file) in the work folder
    std::string edit_file;  // its editable file in the work folder; empty when it has none
    std::string text;       // as status tells it
};

// Every change since unpack, in the manifest's order (the members added to
// an archive after its own); nothing, after an Alert, when the project
// cannot be read.
std::optional<std::vector<Changed>> changes(Ui& ui, const std::string& work);

// One status text per change since unpack; 0 when nothing changed, 1 when
// something did (or the project cannot be read).
int status(Ui& ui, const std::string& work);

// Writes into `out` (empty or absent) every archive that holds a change
// and every changed loose file, under its path in the game folder, and
// checks each archive it wrote; one that fails the check is removed.
// 0 when every change was written and checked, 1 otherwise.
struct RepackOptions {
    unsigned jobs = 1;  // workers encoding edited files
    // Set by another thread to stop the run between members: the archive
    // being written is removed, those written and checked before stay.
    const std::atomic<bool>* stop = nullptr;
    bool utf8 = false;  // edited listings are in UTF-8: their texts are converted to the game's code page
    std::string game;   // the game folder, when not where the manifest says
    // Each archive written as a VCDIFF delta against the game's own
    // (ARCHIVE.vcdiff), not whole.
    bool delta = false;
};
int repack(Ui& ui, const std::string& work, const std::string& out, const RepackOptions& options);
int repack(Ui& ui, const std::string& work, const std::string& out, unsigned jobs = 1,
           const std::atomic<bool>* stop = nullptr);

// Applies the patch folder `patch` that repack wrote (its files and
// vidodide-patch.json) to the game folder `game`. Every file it changes is
// checked first: where one is not the version the patch was made for,
// nothing is changed. Each result is then written beside its file, checked,
// and moved onto the file's name; the game's own file is kept once as
// FILE.orig. With `undo`, the backups are checked and moved back instead.
// 0 when every file is patched (or restored), 1 otherwise.
struct ApplyOptions {
    bool undo = false;
    // Set by another thread to stop the run between files (and inside a
    // file, whose result is then dropped): each file is the game's own or
    // patched.
    const std::atomic<bool>* stop = nullptr;
};
int apply_patch(Ui& ui, const std::string& patch, const std::string& game, const ApplyOptions& options);

}  // namespace vid::project

namespace vid::project {

// Lists the members of each archive: name, size and offset, one line
// each, and the totals; with `json` one JSON document for scripts.
// 0 when every archive could be read whole, 1 otherwise.
int list_fl3(Ui& ui, const std::vector<std::string>& archives, bool json);

}  // namespace vid::project

// The description of a patch folder, as repack writes it beside the files
// of the patch: for each file, its path in the game folder, the size and
// hash of the game's own file that it was made for, and those of the file
// that it makes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/ui.h"
#include "project/hash.h"

namespace vid::project {

inline constexpr const char* kPatchFileName = "vidodide-patch.json";

struct PatchedFile {
    std::string path;  // in the game folder, with "/"
    FileHash original, result;
    // The patch's VCDIFF delta of the result against the original, by its
    // path in the patch folder; empty: the patch holds the result whole,
    // under `path`.
    std::string delta;
};

// The name of the delta of the file `path`.
inline std::string delta_name(const std::string& path) { return path + ".vcdiff"; }

// Writes PATCH/vidodide-patch.json; false after an Alert.
bool write_patch_description(Ui& ui, const std::string& patch, const std::vector<PatchedFile>& files);

// The files that PATCH/vidodide-patch.json describes; nothing after an
// Alert that tells why the folder is not a patch that can be applied.
std::optional<std::vector<PatchedFile>> read_patch_description(Ui& ui, const std::string& patch);

}  // namespace vid::project

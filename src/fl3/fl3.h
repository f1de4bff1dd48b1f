// Extract FL3 and Encode FL3: an archive into its member folder and a
// member folder back into an archive. The front end asks for the files;
// these jobs do the rest and tell the user through the Ui.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ui.h"
#include "platform/file.h"

namespace vid::fl3 {

// Unpacks the archive into its member folder (the path with its fourth
// character from the end replaced by "_"): `_index.bin`, a byte copy of the
// directory, then one file per member. True only when every member was
// written exactly as the archive holds it.
bool extract(Ui& ui, const std::string& archive_path);

// A checked index file: the members to pack, in order.
struct Index {
    std::string path;                // the index file
    std::string member_folder;       // the index path less its name (empty: the current folder)
    std::vector<std::string> names;  // member names, each safe to join to the folder
    std::uint32_t file_length = 0;   // the index file's length, bytes after its end marker included
    std::optional<platform::FileId> id;  // the index file itself: never packed, never replaced
};

// Opens and checks the whole index file: the end marker before the end of
// the file, at most 65,535 entries, every name one that extraction accepts
// and every member path within the path limit. Alerts and returns nothing
// when the index cannot be used.
std::optional<Index> load_index(Ui& ui, const std::string& index_path);

// Packs the members that `index` names, in its order, into `archive_path`.
// The archive is checked and held before any member is read, written beside
// its final name and moved onto it only when complete, so a failure leaves
// any old archive as it was. A member that cannot be read as it was found is
// skipped; an existing archive is then left unchanged, and only a new one is
// written without it. True only when every member was packed.
bool compact(Ui& ui, const Index& index, const std::string& archive_path);

}  // namespace vid::fl3

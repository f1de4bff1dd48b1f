// Members and their editable files, converted in memory: the converters of
// Decode/Encode BM2, WV5 and AB without the files beside each other, for
// the mod project, whose editable files live in a tree of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/bytes.h"

namespace vid::project {

enum class Kind { other, bm2, wv5, ab };

// The kind of a member by its extension, in any case.
Kind kind_of(std::string_view name);
std::string_view kind_name(Kind kind);
Kind kind_from_name(std::string_view name);
// The editable file's extension: ".png" (".bmp" with `bitmaps`), ".wav", ".txt".
std::string_view editable_extension(Kind kind, bool bitmaps);

// A conversion's result: the bytes, or why there are none; `note` tells
// something worth knowing about bytes that were made.
struct Converted {
    std::optional<Bytes> bytes;
    std::string why;
    std::string note;
    std::uint64_t recoloured = 0;  // BM2: pixels that took the palette's nearest colour
};

// The editable form of a member's bytes.
Converted decode_member(Kind kind, ByteView member, bool bitmaps);

// The member made from its edited file, with the original member as its
// template (BM2: kind, headers and palette; WV5: its four leading bytes).
// `edited_name` names the edited file in messages.
Converted encode_member(Kind kind, ByteView edited, ByteView original, std::string_view edited_name);

// Whether the member `packed` decodes to the edited file: exactly for
// listings and pictures (but for the pixels that `recoloured` says took the
// palette's nearest colour); for sounds the same number of samples, with
// the signal-to-noise ratio in `note`.
struct Verdict {
    bool ok = false;
    std::string why;   // when not ok
    std::string note;  // the sound's signal-to-noise ratio
};
Verdict verify_member(Kind kind, ByteView packed, ByteView edited, std::uint64_t recoloured = 0);

}  // namespace vid::project

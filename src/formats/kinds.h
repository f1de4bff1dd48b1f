// The kinds of game file that have an editable form, in one table: for
// each, its name, its extension, its editable file's extension and the
// entry points of its codec in memory. Everything above the format folders
// (the mod project, the front ends' lists of commands) reads this table,
// so a new kind is one more row.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/bytes.h"
#include "core/ui.h"

namespace vid::formats {

enum class Kind { other, bm2, wv5, ab };

// A conversion's result: the bytes, or why there are none; `note` tells
// something worth knowing about bytes that were made.
struct Converted {
    std::optional<Bytes> bytes;
    std::string why;
    std::string note;
    std::uint64_t recoloured = 0;  // BM2: pixels that took the palette's nearest colour
};

// Whether a member decodes to its edited file (see verify_member).
struct Verdict {
    bool ok = false;
    std::string why;   // when not ok
    std::string note;  // the sound's signal-to-noise ratio
};

struct KindRow {
    Kind kind;
    std::string_view name;       // as the manifest names it: "bm2"
    std::string_view extension;  // of the game's files, compared without case: ".bm2"
    std::string_view editable;   // the editable file's extension: ".png"
    std::string_view editable_bitmap;  // the same when images are kept as bitmaps: ".bmp"
    std::string_view decode_command;   // the command line's per-file commands: "decode-bm2"
    std::string_view encode_command;   // "encode-bm2"
    // The per-file converters of those commands and of the menu's Decode
    // and Encode items: one file beside another, true when it was written.
    bool (*decode_file)(Ui& ui, const std::string& path);
    bool (*encode_file)(Ui& ui, const std::string& path);
    // The editable form of a file of this kind.
    Converted (*decode)(ByteView file, bool bitmaps);
    // The file made from its edited form over the original; the texts that
    // the kind's encoder tells (warnings, conversions) go to `ui`. `utf8`:
    // a listing's texts are in UTF-8 rather than the game's code page.
    Converted (*encode)(Ui& ui, ByteView edited, ByteView original, std::string_view edited_name, bool utf8);
    // Whether `packed` decodes to `edited`.
    Verdict (*verify)(ByteView packed, ByteView edited, std::uint64_t recoloured, bool utf8);
};

// Every kind with an editable form, in the order the table gives them.
std::span<const KindRow> kinds();

// The row of a kind; nothing for Kind::other.
const KindRow* row_of(Kind kind);

// The kind of a file by its extension, in any case.
Kind kind_of(std::string_view name);
std::string_view kind_name(Kind kind);
Kind kind_from_name(std::string_view name);
// The editable file's extension: ".png" (".bmp" with `bitmaps`), ".wav", ".txt"; empty for other files.
std::string_view editable_extension(Kind kind, bool bitmaps);

// The codecs through the table, with out-of-memory told as the reason.
// A sound is encoded as Encode WV5 encodes it (converted to the original's
// channels and rate), a listing as Encode AB encodes it, but refused when
// its texts are not in the game's code page (read as UTF-8 and converted
// with `utf8`); `ui` (none: nowhere) hears the encoders' texts.
Converted decode_member(Kind kind, ByteView member, bool bitmaps);
Converted encode_member(Kind kind, ByteView edited, ByteView original, std::string_view edited_name,
                        Ui* ui = nullptr, bool utf8 = false);
// Whether the member `packed` decodes to the edited file: exactly for
// listings and pictures (but for the pixels that `recoloured` says took the
// palette's nearest colour); for sounds the same number of samples as the
// edited sound gives in the member's format, with the signal-to-noise
// ratio in `note`.
Verdict verify_member(Kind kind, ByteView packed, ByteView edited, std::uint64_t recoloured = 0, bool utf8 = false);

}  // namespace vid::formats

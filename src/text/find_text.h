// Finding a text in every script of a game: the loose AB scripts of a
// folder and those inside its FL3 archives (`vidodide find-text` and the
// browser's Find Text).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/ui.h"

namespace vid::text {

// One text that holds what was looked for.
struct TextHit {
    std::string where;   // "data.fl3:intro.ab" or "scripts/intro.ab", from the folder searched, with "/"
    std::string file;    // the archive or the loose script, as the system takes it
    std::string member;  // the script's name in the archive; empty for a loose script
    std::uint64_t offset = 0, size = 0;  // the script's bytes in `file`
    std::uint32_t n = 0;                 // the instruction's number, from 1
    std::string text;                    // the text's bytes, in the scripts' code page
};

struct FindCounts {
    std::uint64_t scripts = 0;  // scripts searched
    std::uint64_t with_hits = 0;
    std::uint64_t hits = 0;
    bool complete = true;  // false when a folder, archive or script could not be read (each has had its Alert)
};

// The texts (of Init Text and Update Text; not the voice markers) that hold
// `what` (UTF-8, as typed), under `path`: a folder (walked as find_scripts
// walks it, archives in name order after the loose scripts), an FL3 archive
// or one AB script, whose texts are in code page `codepage` (the game's is
// 932). `what` is looked for as that code page holds it, and also as its
// bytes stand when they are valid in that code page; a hit starts on a
// character of the text, never inside one. Each hit goes to
// `hit` as it is found (false from it stops the search); `stop` stops it
// from another thread.
FindCounts find_text(Ui& ui, const std::string& path, std::string_view what, unsigned codepage,
                     const std::function<bool(const TextHit&)>& hit, const std::atomic<bool>* stop = nullptr);

// What a search found: "Found 2 texts in 1 of 14 scripts", or "Found no
// text holding "X" in 14 scripts".
std::string found_text(const FindCounts& counts, std::string_view what);

// Whether `text` holds `what` (bytes in the same code page) starting on one
// of its characters: in code page 932 a lead byte 81-9F or E0-FC starts a
// character of two bytes; in other code pages every byte is a character.
bool holds_text(std::string_view text, std::string_view what, unsigned codepage);

}  // namespace vid::text

// AB scripts in memory and the one encoder of listings: Encode AB writes
// its AB file through it, the mod project its members, with the same
// refusals and warnings.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"
#include "core/ui.h"
#include "script/decoder.h"
#include "script/encoder.h"
#include "script/listing.h"

namespace vid::script {

// The listing of the script `data` (game code page), with the notes about
// values that will not encode back to the same bytes and, in `starts`, the
// offset in the listing where each instruction's lines begin.
std::string listing_of(ByteView data, ScriptNotes* notes = nullptr, std::vector<std::size_t>* starts = nullptr);

// How a listing was encoded.
struct ListingOutcome {
    Encoded result;                 // how the last instruction went
    std::uint64_t refused_line = 0;  // with `utf8`: a line that the code page cannot hold
    std::string refused_why;
    std::string code_notes;  // text lines that look as if an editor broke their code page: the Alert
    std::string code_lines;  // the same lines alone
    bool written = true;     // `write` took every piece
};

// Encodes the listing read from `source` (in the game's code page, or in
// UTF-8 with `utf8`) and hands the AB bytes to `write`, a whole number of
// instructions at a time. Every item goes to `ui`'s listing view when it
// has one. May throw std::bad_alloc.
ListingOutcome encode_listing_from(Ui& ui, ByteSource& source, bool utf8, std::string_view listing_name,
                                   const std::function<bool(ByteView)>& write);

// The Alert of Encode AB for a listing that gives no AB file (a line the
// code page cannot hold, a line without its number, a zero byte); nothing
// when the listing encoded whole.
std::optional<std::string> refusal_text(const ListingOutcome& outcome, std::string_view listing_name);

// The AB bytes of the listing `text` (as encode_listing_from reads it) for
// a script that is one file among many (a member of a mod project).
// Nothing, with the reason in `why`, when it gives no AB file, and when,
// read in the game's code page, some of its texts are not in that code
// page (a listing saved as UTF-8, characters an editor could not read):
// the game would show them garbled. May throw std::bad_alloc.
std::optional<Bytes> encode_listing_text(Ui& ui, std::string_view text, bool utf8, std::string& why);

}  // namespace vid::script

// Listings and the game's code page.
//
// A listing carries the script's bytes as they stand, so its texts are in
// the game's code page. Editors that speak UTF-8 only break them in two
// ways, which Encode AB points out: a text line holding EF BF BD (the
// replacement character, written where an editor could not read a
// character), and a text line in UTF-8 that the code page does not hold
// (the listing was saved in the wrong encoding). With --utf8, the command
// line writes and reads listings whose texts are in UTF-8 instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "script/listing.h"

namespace vid::script {

// The code page of the game's texts unless told otherwise.
inline constexpr unsigned kGameCodepage = 932;

// Why UTF-8 `text` cannot be written in the code page: its first character
// that the code page cannot hold ("\"X\" (U+0058)" for X), or kNotUtf8.
inline constexpr std::string_view kNotUtf8 = "bytes that are not UTF-8 text";
std::string refused_character(std::string_view text, platform::Codepage& codepage);

enum class LineCode : std::uint8_t {
    fine,
    replacement,  // holds EF BF BD
    wrong_encoding,  // UTF-8 with characters beyond ASCII, not valid in the code page
};

// `utf8`: code page 65001, to tell UTF-8 text.
LineCode check_text_line(std::string_view value, platform::Codepage& codepage, platform::Codepage& utf8);

// Passes items on to `next` and notes the value lines (level 2) that look
// broken, with the line of `reader` on which each begins.
class LineCodeCheck final : public ItemSink {
public:
    LineCodeCheck(ItemSink& next, const LineReader& reader, platform::Codepage& codepage)
        : next_(next), reader_(reader), codepage_(codepage) {}
    void item(std::string_view label, std::string_view value, int level) override;

    struct Note {
        std::uint64_t line;
        LineCode code;
    };
    const std::vector<Note>& notes() const { return notes_; }
    // The Alert for the notes (none: empty).
    std::string message(std::string_view listing_path) const;
    // The notes alone, one line each ("\n- line 31 is UTF-8 text ...").
    std::string lines() const;

private:
    ItemSink& next_;
    const LineReader& reader_;
    platform::Codepage& codepage_;
    platform::Codepage utf8_{65001};
    std::vector<Note> notes_;
};

// decode-ab --utf8: passes items on to `next` with every value converted
// from the code page to UTF-8. A value that is not valid in the code page
// goes on as it stands, and the first such instruction is noted.
class Utf8Items final : public ItemSink {
public:
    Utf8Items(ItemSink& next, platform::Codepage& codepage) : next_(next), codepage_(codepage) {}
    void item(std::string_view label, std::string_view value, int level) override;
    // The instruction (counted from 1) of the first value left as it stood; 0 for none.
    std::uint64_t first_unconverted() const { return first_bad_; }

private:
    ItemSink& next_;
    platform::Codepage& codepage_;
    std::string converted_;
    std::uint64_t instruction_ = 0;
    std::uint64_t first_bad_ = 0;
};

// encode-ab --utf8: the lines of a UTF-8 listing, each converted to the
// code page. Stops (returns 0 as at the end) at the first line that the
// code page cannot hold, and notes it.
class CodepageLines final : public ByteSource {
public:
    CodepageLines(ByteSource& utf8, platform::Codepage& codepage) : in_(utf8), codepage_(codepage) {}
    std::size_t read(std::span<std::uint8_t> out) override;
    // The refused line (from 1) and why; 0 when none was refused.
    std::uint64_t refused_line() const { return refused_line_; }
    const std::string& refused_why() const { return refused_why_; }

private:
    bool next_line();

    ByteSource& in_;
    platform::Codepage& codepage_;
    std::vector<std::uint8_t> raw_;
    std::size_t raw_pos_ = 0;
    bool raw_end_ = false;
    std::string line_, converted_;
    std::size_t out_pos_ = 0;
    std::uint64_t line_number_ = 0;
    std::uint64_t refused_line_ = 0;
    std::string refused_why_;
};

}  // namespace vid::script

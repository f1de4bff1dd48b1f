#include "formats/kinds.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

#include "bm2/bm2.h"
#include "bm2/codec.h"
#include "bm2/encode.h"
#include "core/text.h"
#include "script/codec.h"
#include "platform/codepage.h"
#include "script/jobs.h"
#include "script/listing_codepage.h"
#include "script/texts.h"
#include "wv5/codec.h"
#include "wv5/wv5.h"

namespace vid::formats {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ends_with_any_case(std::string_view name, std::string_view ext) {
    if (name.size() <= ext.size()) return false;
    for (std::size_t i = 0; i < ext.size(); ++i)
        if (lower(name[name.size() - ext.size() + i]) != ext[i]) return false;
    return true;
}

// ---- BM2 ----

Converted decode_bm2(ByteView member, bool bitmaps) {
    Converted c;
    c.bytes = bm2::editable_bytes(member, bitmaps, c.why);
    return c;
}

Converted encode_bm2(Ui&, ByteView edited, ByteView original, std::string_view edited_name, bool) {
    Converted c;
    auto encoded = bm2::encode_over(edited, original, edited_name, "the original member", c.why);
    if (!encoded) return c;
    if (encoded->recoloured > 0)
        c.note = std::to_string(encoded->recoloured) + " pixels took the nearest colour of the palette";
    c.recoloured = encoded->recoloured;
    c.bytes = std::move(encoded->bytes);
    return c;
}

Verdict verify_bm2(ByteView packed, ByteView edited, std::uint64_t recoloured, bool) {
    Verdict v;
    const auto got = bm2::picture_of_bm2(packed, v.why);
    if (!got) return v;
    const auto want = bm2::read_image(edited, v.why);
    if (!want) return v;
    if (got->width != want->width || got->height != want->height) {
        v.why = "it decodes to " + std::to_string(got->width) + "x" + std::to_string(got->height) + " pixels";
        return v;
    }
    std::uint64_t differ = 0;
    for (std::size_t k = 0; k < want->rgba.size(); k += 4) {
        const bool colour = std::equal(want->rgba.begin() + static_cast<std::ptrdiff_t>(k),
                                       want->rgba.begin() + static_cast<std::ptrdiff_t>(k + 3),
                                       got->rgba.begin() + static_cast<std::ptrdiff_t>(k));
        if (!colour || (want->has_alpha && want->rgba[k + 3] != got->rgba[k + 3])) ++differ;
    }
    if (differ > recoloured) {
        v.why = std::to_string(differ) + " pixels differ from the edited picture";
        return v;
    }
    v.ok = true;
    return v;
}

// ---- WV5 ----

Converted decode_wv5(ByteView member, bool) {
    Converted c;
    const auto sound = wv5::decode_sound(member, c.why);
    if (sound) c.bytes = wv5::wav_bytes(*sound);
    return c;
}

Converted encode_wv5(Ui& ui, ByteView edited, ByteView original, std::string_view edited_name, bool) {
    Converted c;
    wv5::MemoryInput input(edited);
    Bytes out;
    wv5::BytesOutput sink(out);
    if (wv5::encode_over_member(ui, input, edited_name, original, sink, c.why)) c.bytes = std::move(out);
    return c;
}

Verdict verify_wv5(ByteView packed, ByteView edited, std::uint64_t, bool) {
    Verdict v;
    wv5::MemorySource sound(packed);
    wv5::MemoryInput wav(edited);
    v.ok = wv5::decodes_to(sound, wav, v.why, v.note);
    return v;
}

// ---- AB ----

Converted decode_ab(ByteView member, bool) {
    Converted c;
    script::ScriptNotes notes;
    const std::string listing = script::listing_of(member, &notes);
    if (notes.any()) c.note = script::notes_message("the member", notes);
    c.bytes = Bytes(listing.begin(), listing.end());
    return c;
}

// Encode AB writes the numbers as the listing gives them: when texts
// changed length, the 0x0201 jumps ("to", a position in the script) are not
// moved with the instructions after them. Said once per script.
void add_jump_warning(Converted& c, ByteView original) {
    const script::ScriptMap before = script::map_script(original), after = script::map_script(*c.bytes);
    if (after.jumps.empty() || before.starts == after.starts) return;
    const bool one = after.jumps.size() == 1;
    c.note = format("its texts changed length, so instructions moved, but its %s 0x0201 jump%s written as the "
                    "listing gives %s (import-text moves them; a listing's numbers are not changed): check %s",
                    {std::to_string(after.jumps.size()), one ? " is" : "s are", one ? "it" : "them",
                     one ? "it" : "them"});
}

Converted encode_ab(Ui& ui, ByteView edited, ByteView original, std::string_view, bool utf8) {
    Converted c;
    const std::string_view text(reinterpret_cast<const char*>(edited.data()), edited.size());
    c.bytes = script::encode_listing_text(ui, text, utf8, c.why);
    if (c.bytes) add_jump_warning(c, original);
    return c;
}

// The value lines of a listing, as the encoder reads them (a UTF-8
// listing in the game's code page).
std::vector<std::string> value_lines(std::string_view text, bool utf8 = false) {
    script::MemorySource source(text);
    platform::Codepage codepage(script::kGameCodepage);
    script::CodepageLines converted(source, codepage);
    script::LineReader reader(utf8 ? static_cast<script::ByteSource&>(converted) : source);
    std::vector<std::string> lines;
    while (auto line = reader.next()) lines.emplace_back(*line);
    return lines;
}

// Two value lines that the encoder reads alike: the same text, or the same
// number however it is written ("0x0018" and "18").
bool same_value(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const auto x = script::read_number(a, 8), y = script::read_number(b, 8);
    return x && y && *x == *y;
}

Verdict verify_ab(ByteView packed, ByteView edited, std::uint64_t, bool utf8) {
    Verdict v;
    const auto got = value_lines(script::listing_of(packed));
    const auto want =
        value_lines(std::string_view(reinterpret_cast<const char*>(edited.data()), edited.size()), utf8);
    std::size_t same = 0;
    while (same < got.size() && same < want.size() && same_value(got[same], want[same])) ++same;
    if (same < got.size() || same < want.size()) {
        v.why = "its listing differs from the edited listing at value line " + std::to_string(same + 1);
        return v;
    }
    v.ok = true;
    return v;
}

constexpr KindRow kRows[] = {
    {Kind::bm2, "bm2", ".bm2", ".png", ".bmp", "decode-bm2", "encode-bm2", bm2::decode_file, bm2::encode_file,
     decode_bm2, encode_bm2, verify_bm2},
    {Kind::wv5, "wv5", ".wv5", ".wav", ".wav", "decode-wv5", "encode-wv5", wv5::decode_file, wv5::encode_file,
     decode_wv5, encode_wv5, verify_wv5},
    {Kind::ab, "ab", ".ab", ".txt", ".txt", "decode-ab", "encode-ab", script::decode_file, script::encode_file,
     decode_ab, encode_ab, verify_ab},
};

}  // namespace

std::span<const KindRow> kinds() { return kRows; }

const KindRow* row_of(Kind kind) {
    for (const KindRow& r : kRows)
        if (r.kind == kind) return &r;
    return nullptr;
}

Kind kind_of(std::string_view name) {
    for (const KindRow& r : kRows)
        if (ends_with_any_case(name, r.extension)) return r.kind;
    return Kind::other;
}

std::string_view kind_name(Kind kind) {
    const KindRow* r = row_of(kind);
    return r ? r->name : "other";
}

Kind kind_from_name(std::string_view name) {
    for (const KindRow& r : kRows)
        if (r.name == name) return r.kind;
    return Kind::other;
}

std::string_view editable_extension(Kind kind, bool bitmaps) {
    const KindRow* r = row_of(kind);
    if (!r) return "";
    return bitmaps ? r->editable_bitmap : r->editable;
}

Converted decode_member(Kind kind, ByteView member, bool bitmaps) {
    const KindRow* r = row_of(kind);
    if (!r) return {};
    try {
        return r->decode(member, bitmaps);
    } catch (const std::bad_alloc&) {
        return {std::nullopt, "not enough memory to decode it", {}};
    }
}

Converted encode_member(Kind kind, ByteView edited, ByteView original, std::string_view edited_name, Ui* ui,
                        bool utf8) {
    const KindRow* r = row_of(kind);
    if (!r) return {};
    SilentUi silent;
    try {
        return r->encode(ui ? *ui : silent, edited, original, edited_name, utf8);
    } catch (const std::bad_alloc&) {
        return {std::nullopt, "not enough memory to encode it", {}};
    }
}

Verdict verify_member(Kind kind, ByteView packed, ByteView edited, std::uint64_t recoloured, bool utf8) {
    const KindRow* r = row_of(kind);
    if (!r) return {};
    try {
        return r->verify(packed, edited, recoloured, utf8);
    } catch (const std::bad_alloc&) {
        return {false, "not enough memory to check it", {}};
    }
}

}  // namespace vid::formats

#include "script/listing_codepage.h"

#include <cstdio>
#include <algorithm>
#include <cstring>

#include "core/text.h"

namespace vid::script {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
constexpr std::size_t kMaxNotes = 20;

}  // namespace

LineCode check_text_line(std::string_view value, platform::Codepage& codepage, platform::Codepage& utf8) {
    if (value.find(kReplacement) != std::string_view::npos) return LineCode::replacement;
    if (std::all_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return LineCode::fine;
    std::string scratch;
    if (codepage.to_utf8(value, scratch)) return LineCode::fine;  // valid in the code page
    return utf8.to_utf8(value, scratch) ? LineCode::wrong_encoding : LineCode::fine;
}

void LineCodeCheck::item(std::string_view label, std::string_view value, int level) {
    if (level == 2) {
        const LineCode code = check_text_line(value, codepage_, utf8_);
        if (code != LineCode::fine) notes_.push_back({reader_.line_number(), code});
    }
    next_.item(label, value, level);
}

std::string LineCodeCheck::message(std::string_view listing_path) const {
    if (notes_.empty()) return {};
    return format("%s: these lines may not be in the game's code page (%s); the AB file holds them as they stand:",
                  {listing_path, std::to_string(codepage_.number())}) +
           lines();
}

std::string LineCodeCheck::lines() const {
    std::string text;
    for (std::size_t i = 0; i < notes_.size() && i < kMaxNotes; ++i) {
        const std::string line = std::to_string(notes_[i].line);
        text += notes_[i].code == LineCode::replacement
                    ? format("\n- line %s holds EF BF BD, written by an editor for a character it could not read",
                             {line})
                    : format("\n- line %s is UTF-8 text that the code page does not hold: the listing was saved "
                             "in another encoding",
                             {line});
    }
    if (notes_.size() > kMaxNotes) text += format("\n- and %s more", {std::to_string(notes_.size() - kMaxNotes)});
    return text;
}

void Utf8Items::item(std::string_view label, std::string_view value, int level) {
    if (level == 1) {
        ++instruction_;
        next_.item(label, value, level);
        return;
    }
    if (codepage_.to_utf8(value, converted_)) {
        next_.item(label, converted_, level);
        return;
    }
    if (first_bad_ == 0) first_bad_ = instruction_;
    next_.item(label, value, level);
}

bool CodepageLines::next_line() {
    line_.clear();
    for (;;) {
        if (raw_pos_ < raw_.size()) {
            const auto* begin = raw_.data() + raw_pos_;
            const auto* lf = static_cast<const std::uint8_t*>(std::memchr(begin, '\n', raw_.size() - raw_pos_));
            const std::size_t n = lf ? static_cast<std::size_t>(lf - begin) + 1 : raw_.size() - raw_pos_;
            line_.append(reinterpret_cast<const char*>(begin), n);
            raw_pos_ += n;
            if (lf) break;
        }
        if (raw_end_) break;
        raw_.resize(64 * 1024);
        raw_pos_ = 0;
        const std::size_t got = in_.read(raw_);
        raw_.resize(got);
        if (got == 0) raw_end_ = true;
    }
    if (line_.empty()) return false;
    ++line_number_;
    const bool lf = line_.back() == '\n';
    const std::string_view body = std::string_view(line_).substr(0, line_.size() - (lf ? 1 : 0));
    if (!codepage_.from_utf8(body, converted_)) {
        refused_line_ = line_number_;
        refused_why_ = refused_character(body, codepage_);
        return false;
    }
    if (lf) converted_ += '\n';
    out_pos_ = 0;
    return true;
}

std::size_t CodepageLines::read(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size() && refused_line_ == 0) {
        if (out_pos_ == converted_.size() && !next_line()) break;
        const std::size_t n = std::min(out.size() - done, converted_.size() - out_pos_);
        std::memcpy(out.data() + done, converted_.data() + out_pos_, n);
        out_pos_ += n;
        done += n;
    }
    return done;
}

std::string refused_character(std::string_view text, platform::Codepage& codepage) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const std::string_view ch = text.substr(i, n);
        i += n;
        if (codepage.from_utf8(ch, out)) continue;
        if (ch.size() != n || (n == 1 && lead >= 0x80)) return std::string(kNotUtf8);
        std::uint32_t cp = n == 1 ? lead : lead & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(ch[k]);
            if ((c & 0xC0) != 0x80) return std::string(kNotUtf8);
            cp = (cp << 6) | (c & 0x3F);
        }
        // A lead byte of five or more, an overlong form, a surrogate or a
        // code point past U+10FFFF is no character.
        static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (lead >= 0xF8 || cp < kLeast[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return std::string(kNotUtf8);
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
        return format("\"%s\" (%s)", {ch, code});
    }
    return std::string(kNotUtf8);
}

}  // namespace vid::script

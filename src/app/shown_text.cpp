// Texts as the Windows program draws them. Paths are ANSI strings
// throughout the program; game texts are in code page 932 whatever the
// system's code page; texts that a listing or a table gave in UTF-8 stay
// UTF-8 when a message quotes them. The controls are given UTF-16.
#include <windows.h>

#include <string>
#include <string_view>

#include "app/shell.h"
#include "script/listing_codepage.h"

namespace vid::app {

namespace {

// The length of the UTF-8 sequence at the start of `s` and its code point;
// 0 when it is not a well-formed sequence of two to four bytes (overlong
// forms, surrogates and code points past U+10FFFF are not).
std::size_t utf8_sequence(std::string_view s, char32_t& cp) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    const std::size_t n = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4                                 ? 4
                                                                                         : 0;
    if (n == 0 || s.size() < n) return 0;
    cp = lead & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    const char32_t least = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

void append_utf16(std::wstring& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<wchar_t>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
}

}  // namespace

std::wstring from_code_page(std::string_view text, UINT code_page) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    int n = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
    if (n <= 0 && code_page != CP_ACP) return from_code_page(text, CP_ACP);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) n = MultiByteToWideChar(code_page, 0, text.data(), size, out.data(), n);
    out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return out;
}

std::wstring game_text(std::string_view text) { return from_code_page(text, script::kGameCodepage); }

// Each well-formed UTF-8 sequence is taken as UTF-8, every other byte as
// the ANSI code page's: a path in the ANSI code page and a character
// quoted from a UTF-8 listing both come out as they were typed.
std::wstring shown_text(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t ansi_from = 0, i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        const std::size_t n = static_cast<unsigned char>(text[i]) < 0x80 ? 0 : utf8_sequence(text.substr(i), cp);
        if (n == 0) {
            ++i;
            continue;
        }
        out += from_code_page(text.substr(ansi_from, i - ansi_from), CP_ACP);
        append_utf16(out, cp);
        i += n;
        ansi_from = i;
    }
    out += from_code_page(text.substr(ansi_from), CP_ACP);
    return out;
}

}  // namespace vid::app

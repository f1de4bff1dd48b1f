// Code pages through the system: MultiByteToWideChar and WideCharToMultiByte.
#include <windows.h>

#include <string>

#include "platform/codepage.h"

namespace vid::platform {

namespace {

bool to_wide(UINT cp, std::string_view in, std::wstring& wide) {
    wide.clear();
    if (in.empty()) return true;
    const int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (n <= 0) return false;
    wide.resize(static_cast<std::size_t>(n));
    return MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), wide.data(), n) == n;
}

bool from_wide(UINT cp, const std::wstring& wide, std::string& out) {
    out.clear();
    if (wide.empty()) return true;
    // UTF-8 takes neither flags nor a default character; for every other
    // code page a character without its own bytes fails instead of being
    // replaced by a look-alike or "?".
    const bool utf8 = cp == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL defaulted = FALSE;
    BOOL* used = utf8 ? nullptr : &defaulted;
    const int len = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(cp, flags, wide.data(), len, nullptr, 0, nullptr, used);
    if (n <= 0 || defaulted) return false;
    out.resize(static_cast<std::size_t>(n));
    if (WideCharToMultiByte(cp, flags, wide.data(), len, out.data(), n, nullptr, used) != n || defaulted) return false;
    if (utf8) return true;
    // A character that came back as another one (no best fit was asked for,
    // but some code pages map several characters to one byte sequence).
    std::wstring back;
    return to_wide(cp, out, back) && back == wide;
}

}  // namespace

Codepage::Codepage(unsigned number) : number_(number) {
    ok_ = IsValidCodePage(number) != 0;
    find_ascii();
}

Codepage::~Codepage() = default;

bool Codepage::supported() const { return ok_; }

bool Codepage::system_to_utf8(std::string_view in, std::string& out) {
    std::wstring wide;
    return ok_ && to_wide(number_, in, wide) && from_wide(CP_UTF8, wide, out);
}

bool Codepage::system_from_utf8(std::string_view in, std::string& out) {
    std::wstring wide;
    return ok_ && to_wide(CP_UTF8, in, wide) && from_wide(number_, wide, out);
}

std::string name_to_utf8(std::string_view name) {
    std::wstring wide;
    std::string out;
    if (to_wide(CP_ACP, name, wide) && from_wide(CP_UTF8, wide, out)) return out;
    return std::string(name);
}

}  // namespace vid::platform

#include <algorithm>
#include <string>

#include "platform/codepage.h"

namespace vid::platform {

namespace {

bool is_ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool Codepage::to_utf8(std::string_view in, std::string& out) {
    if (ascii_ && is_ascii(in)) {
        out.assign(in);
        return true;
    }
    return system_to_utf8(in, out);
}

bool Codepage::from_utf8(std::string_view in, std::string& out) {
    if (ascii_ && is_ascii(in)) {
        out.assign(in);
        return true;
    }
    return system_from_utf8(in, out);
}

void Codepage::find_ascii() {
    // Every character from 0x01 to 0x7F, both ways, through the system.
    std::string all;
    for (int c = 1; c < 0x80; ++c) all += static_cast<char>(c);
    std::string there, back;
    ascii_ = supported() && system_to_utf8(all, there) && there == all && system_from_utf8(all, back) && back == all;
}

}  // namespace vid::platform

// Code pages through iconv (glibc's conversion modules).
#include <iconv.h>

#include <cerrno>
#include <string>

#include "platform/codepage.h"

namespace vid::platform {

namespace {

std::string iconv_name(unsigned number) {
    if (number == 65001) return "UTF-8";
    return "CP" + std::to_string(number);
}

iconv_t handle(void* p) { return static_cast<iconv_t>(p); }

bool convert(void* cd, std::string_view in, std::string& out) {
    out.clear();
    if (in.empty()) return true;
    iconv(handle(cd), nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    out.resize(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    char* dst = out.data();
    std::size_t dst_left = out.size();
    for (;;) {
        const std::size_t r = iconv(handle(cd), &src, &src_left, &dst, &dst_left);
        if (r == static_cast<std::size_t>(-1)) {
            if (errno != E2BIG) return false;  // EILSEQ or EINVAL: not convertible
            const std::size_t used = out.size() - dst_left;
            out.resize(out.size() * 2);
            dst = out.data() + used;
            dst_left = out.size() - used;
            continue;
        }
        // A count above zero: characters converted in an implementation-
        // defined way (glibc's transliteration); strict conversion refuses.
        if (r != 0) return false;
        break;
    }
    out.resize(out.size() - dst_left);
    return true;
}

}  // namespace

Codepage::Codepage(unsigned number) : number_(number) {
    const std::string name = iconv_name(number);
    const iconv_t to = iconv_open("UTF-8", name.c_str());
    const iconv_t from = iconv_open(name.c_str(), "UTF-8");
    if (to != reinterpret_cast<iconv_t>(-1)) to_ = to;
    if (from != reinterpret_cast<iconv_t>(-1)) from_ = from;
    ok_ = to_ != nullptr && from_ != nullptr;
    find_ascii();
}

Codepage::~Codepage() {
    if (to_ != nullptr) iconv_close(handle(to_));
    if (from_ != nullptr) iconv_close(handle(from_));
}

bool Codepage::supported() const { return ok_; }

bool Codepage::system_to_utf8(std::string_view in, std::string& out) { return ok_ && convert(to_, in, out); }

bool Codepage::system_from_utf8(std::string_view in, std::string& out) { return ok_ && convert(from_, in, out); }

std::string name_to_utf8(std::string_view name) { return std::string(name); }

}  // namespace vid::platform

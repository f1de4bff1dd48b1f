#include "core/text.h"

namespace vid {

namespace {

// An argument is a name or a number, never a line of the program's own: a
// line break inside it (a file name may hold one) is shown as "\x0A".
void append_argument(std::string& out, std::string_view arg) {
    for (const char c : arg) {
        if (c == '\n')
            out.append("\\x0A");
        else
            out.push_back(c);
    }
}

}  // namespace

std::string format(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size() + 64);
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const char k = pattern[i + 1];
            if (k == 's' || k == 'd') {
                if (next != args.end()) append_argument(out, *next++);
                ++i;
                continue;
            }
            if (k == '%') {
                out.push_back('%');
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

namespace {
char folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool matches_name(std::string_view name, std::string_view pattern) {
    // The last "*" seen, and where in the name its run now ends: on a
    // mismatch, the run takes one more character.
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || folded(pattern[p]) == folded(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string grouped(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace vid

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

}  // namespace vid

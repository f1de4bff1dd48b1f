#include "platform/paths.h"

#include "core/text.h"

namespace vid::platform {

std::string too_long_message(std::string_view path) {
    return format("%s\nPath too long: more than 259 characters", {path});
}

std::optional<std::string> replace_tail(std::string_view path, std::size_t n, std::string_view with) {
    if (path.size() < n) return std::nullopt;
    std::string out(path.substr(0, path.size() - n));
    out.append(with);
    return out;
}

std::optional<std::string> overwrite_from_end(std::string_view path, std::size_t n, char c) {
    if (n == 0 || path.size() < n) return std::nullopt;
    std::string out(path);
    out[out.size() - n] = c;
    return out;
}

std::string join(std::string_view folder, std::string_view name) {
    std::string out;
    out.reserve(folder.size() + 1 + name.size());
    out.append(folder);
    out.push_back(kSeparator);
    out.append(name);
    return out;
}

}  // namespace vid::platform

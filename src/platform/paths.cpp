#include "platform/paths.h"

namespace vid::platform {

PathParts split_path(std::string_view path, PathRules rules) {
    const bool windows = rules == PathRules::windows;
    std::size_t at = path.find_last_of(windows ? std::string_view("\\/") : std::string_view("/"));
    if (at != std::string_view::npos) {
        ++at;
    } else if (windows && path.size() >= 2 && path[1] == ':' &&
               ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        at = 2;  // "y:r.bmp": the current folder of drive Y
    } else {
        at = 0;
    }
    return {path.substr(0, at), path.substr(at)};
}

std::string beside(std::string_view path, std::string_view name, PathRules rules) {
    std::string out(split_path(path, rules).folder);
    out.append(name);
    return out;
}

std::string_view stem_of(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

namespace {

// True when the last `n` characters of `path` reach past its name: an
// output name made by replacing them would reach into a folder's name.
bool tail_crosses_folder(std::string_view path, std::size_t n, PathRules rules) {
    return split_path(path, rules).name.size() < n;
}

}  // namespace

std::optional<std::string> replace_tail(std::string_view path, std::size_t n, std::string_view with,
                                        PathRules rules) {
    if (path.size() < n || tail_crosses_folder(path, n, rules)) return std::nullopt;
    std::string out(path.substr(0, path.size() - n));
    out.append(with);
    return out;
}

std::optional<std::string> overwrite_from_end(std::string_view path, std::size_t n, char c, PathRules rules) {
    if (n == 0 || path.size() < n || tail_crosses_folder(path, n, rules)) return std::nullopt;
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

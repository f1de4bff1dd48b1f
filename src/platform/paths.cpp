#include "platform/paths.h"

#include "core/text.h"

namespace vid::platform {

std::string too_long_message(std::string_view path) {
    return format("%s\nPath too long: more than 259 characters", {path});
}

namespace {

// True when the last `n` characters of `path` hold a folder separator: an
// output name made by replacing them would reach into a folder's name.
bool tail_crosses_folder(std::string_view path, std::size_t n) {
#ifdef _WIN32
    constexpr std::string_view separators = "\\/:";
#else
    constexpr std::string_view separators = "/";
#endif
    return path.substr(path.size() - n).find_first_of(separators) != std::string_view::npos;
}

}  // namespace

std::string no_output_name_message(std::string_view path) {
    return format("%s\nNo output name can be made from this name: it is too short, or the characters replaced to "
                  "make it would reach into a folder's name.",
                  {path});
}

std::optional<std::string> replace_tail(std::string_view path, std::size_t n, std::string_view with) {
    if (path.size() < n || tail_crosses_folder(path, n)) return std::nullopt;
    std::string out(path.substr(0, path.size() - n));
    out.append(with);
    return out;
}

std::optional<std::string> overwrite_from_end(std::string_view path, std::size_t n, char c) {
    if (n == 0 || path.size() < n || tail_crosses_folder(path, n)) return std::nullopt;
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

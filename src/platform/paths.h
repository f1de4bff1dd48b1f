// Output names and the path limit.
//
// Every path the program builds or receives fits in 260 bytes with its
// terminating zero, 259 characters. A path that would not fit is refused
// with a clear message: never cut, never overrun.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vid::platform {

inline constexpr std::size_t kMaxPath = 259;

// The separator that joins a folder and a name: "\" on Windows, "/" elsewhere.
#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// How a path is cut into its folder and its name. Windows: "\" and "/"
// both end a folder, and a drive "y:" before the name is a folder of its own
// (the current folder of drive Y). Elsewhere only "/" does.
enum class PathRules { posix, windows };
#ifdef _WIN32
inline constexpr PathRules kNativeRules = PathRules::windows;
#else
inline constexpr PathRules kNativeRules = PathRules::posix;
#endif

// A path as its folder part and its name. `folder` is everything before the
// name, as written: its drive and root and its last separator included
// ("y:", "\", "y:\d\", "/", "d/"), empty for the current folder; folder +
// name is the path again. A name placed in `folder` so keeps the drive and
// root of the path it came from.
struct PathParts {
    std::string_view folder;
    std::string_view name;
};
PathParts split_path(std::string_view path, PathRules rules = kNativeRules);

// The file `name` in the folder of `path` ("y:r.bmp", "r.bm2" -> "y:r.bm2").
std::string beside(std::string_view path, std::string_view name, PathRules rules = kNativeRules);

// A file name without its last extension ("r.bmp" -> "r"). A name whose
// only dot is its first character has no extension (".bmp" stays ".bmp").
std::string_view stem_of(std::string_view name);

// True when `path` fits the path limit.
inline bool fits(std::string_view path) { return path.size() <= kMaxPath; }


// `path` with its last `n` characters replaced by `with`; nullopt when the
// path is shorter than `n` or those characters hold a folder separator
// (the output name would reach into a folder's name). (The length limit is checked by the caller with
// fits(), so that it can name the path in its message.)
std::optional<std::string> replace_tail(std::string_view path, std::size_t n, std::string_view with,
                                        PathRules rules = kNativeRules);

// `path` with the character `n` places from the end (1 = last) overwritten
// by `c`; nullopt when the path is shorter than `n` or the characters from
// there to the end hold a folder separator.
std::optional<std::string> overwrite_from_end(std::string_view path, std::size_t n, char c,
                                              PathRules rules = kNativeRules);

// folder, one separator, name. The separator is added even when the folder
// already ends with one (a drive's root folder gives two in a row).
std::string join(std::string_view folder, std::string_view name);

}  // namespace vid::platform

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

// True when `path` fits the path limit.
inline bool fits(std::string_view path) { return path.size() <= kMaxPath; }

// The message for a path over the limit.
std::string too_long_message(std::string_view path);

// The message for a path from which no output name can be made: it is
// shorter than the characters to replace, or they hold a folder separator.
std::string no_output_name_message(std::string_view path);

// `path` with its last `n` characters replaced by `with`; nullopt when the
// path is shorter than `n` or those characters hold a folder separator
// (the output name would reach into a folder's name). (The length limit is checked by the caller with
// fits(), so that it can name the path in its message.)
std::optional<std::string> replace_tail(std::string_view path, std::size_t n, std::string_view with);

// `path` with the character `n` places from the end (1 = last) overwritten
// by `c`; nullopt when the path is shorter than `n` or the characters from
// there to the end hold a folder separator.
std::optional<std::string> overwrite_from_end(std::string_view path, std::size_t n, char c);

// folder, one separator, name. The separator is added even when the folder
// already ends with one (a drive's root folder gives two in a row).
std::string join(std::string_view folder, std::string_view name);

}  // namespace vid::platform

// The texts that many commands share, in one place: a file that cannot be
// read, written or created, a path over the limit, a name from which no
// output name can be made, and memory that ran out.
#pragma once

#include <string>
#include <string_view>

namespace vid {

// "NAME\nPath too long: more than 259 characters".
std::string too_long_message(std::string_view path);

// The message for a path from which no output name can be made: it is
// shorter than the characters to replace, or they hold a folder separator.
std::string no_output_name_message(std::string_view path);

// "Can't read NAME", "Can't write NAME", "Can't create NAME".
std::string cant_read(std::string_view path);
std::string cant_write(std::string_view path);
std::string cant_create(std::string_view path);

// The Alert of a command whose work ran out of memory: the converters'
// own text, and that of the mod projects and translation tables.
inline constexpr std::string_view kNoMemory = "not enought memory";
inline constexpr std::string_view kOutOfMemory = "not enough memory";

}  // namespace vid

// Formatting of the program's texts.
//
// Every text of the program is a fixed pattern with "%s" and "%d" holes
// (for example "Extracting %s:%s"). format() fills them in order from
// string arguments, with no length limit, so no text is ever cut.
#pragma once

#include <initializer_list>
#include <cstdint>
#include <string>
#include <string_view>

namespace vid {

// Fills each "%s" or "%d" of `pattern` with the next argument, in order.
// "%%" gives one "%". Holes without an argument are left empty. A line break
// inside an argument is shown as "\x0A": only the pattern starts new lines.
std::string format(std::string_view pattern, std::initializer_list<std::string_view> args);

// Whether the whole of `name` matches `pattern`, where "*" stands for any
// run of characters and "?" for any one; letters A to Z in either case, as
// Windows compares names.
bool matches_name(std::string_view name, std::string_view pattern);

// A count with its thousands grouped: "2,345".
std::string grouped(std::uint64_t n);

}  // namespace vid

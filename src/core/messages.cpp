#include "core/messages.h"

#include "core/text.h"

namespace vid {

std::string too_long_message(std::string_view path) {
    return format("%s\nPath too long: more than 259 characters", {path});
}

std::string no_output_name_message(std::string_view path) {
    return format("%s\nNo output name can be made from this name: it is too short, or the characters replaced to "
                  "make it would reach into a folder's name.",
                  {path});
}

std::string cant_read(std::string_view path) { return format("Can't read %s", {path}); }
std::string cant_write(std::string_view path) { return format("Can't write %s", {path}); }
std::string cant_create(std::string_view path) { return format("Can't create %s", {path}); }

}  // namespace vid

#include "core/batch.h"

namespace vid {

std::string BatchTally::final_text(std::string_view ok_text, std::string_view verb) const {
    if (failed_ == 0) return std::string(ok_text);
    std::string out(verb);
    out += ": " + std::to_string(failed_) + " of " + std::to_string(files_) + (files_ == 1 ? " file" : " files") +
           " failed";
    return out;
}

}  // namespace vid

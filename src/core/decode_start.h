// The start that the per-file decoders share: the progress text, the input
// opened for reading and the output created beside it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/ui.h"
#include "platform/file.h"

namespace vid {

struct DecodeFiles {
    platform::File in;
    platform::File out;
    std::string out_name;
};

// "Decoding %s", then the input (else "%s not found") and the output named
// by replacing the input path's last `tail` characters with `with` (else
// "Can't create %s"). A path over the limit, or too short to name an output,
// is refused with an Alert before anything is shown or opened.
std::optional<DecodeFiles> start_decoding(Ui& ui, const std::string& path, std::size_t tail, std::string_view with);

}  // namespace vid

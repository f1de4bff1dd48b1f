// The start that the per-file decoders share: the progress text, the input
// opened for reading and the output created beside it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/ui.h"
#include "platform/file.h"
#include "platform/output.h"

namespace vid {

struct DecodeFiles {
    platform::File in;
    platform::Output out;  // written beside its name; commit() puts it in place
    std::string out_name;
};

// "Decoding %s", then the input (else "%s not found", "%s is a folder" or
// "%s is not a regular file") and the output named by replacing the input
// path's last `tail` characters with `with` (else "Can't create %s" or the
// text of what stands at that name). A path over the limit, or one that
// cannot name an output, is refused with an Alert before anything is shown
// or opened.
std::optional<DecodeFiles> start_decoding(Ui& ui, const std::string& path, std::size_t tail, std::string_view with);

}  // namespace vid

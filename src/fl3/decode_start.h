// The start that the per-file decoders share: the progress text, the input
// opened for reading and the output created beside it.
#pragma once

#include <cstddef>
#include <functional>
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

// Reads and checks an input's header (and its size) before any output is
// started; false after its own Alert when the input cannot be decoded.
using InputCheck = std::function<bool(platform::File& in)>;

// "Decoding %s", then the input (else "%s not found", "%s is a folder" or
// "%s is not a regular file"), then `check` on it, and only then the output
// named by replacing the input path's last `tail` characters with `with`
// (else "Can't create %s" or the text of what stands at that name). A path
// over the limit, or one that cannot name an output, is refused with an
// Alert before anything is shown or opened.
std::optional<DecodeFiles> start_decoding(Ui& ui, const std::string& path, std::size_t tail, std::string_view with,
                                          const InputCheck& check = {});

}  // namespace vid

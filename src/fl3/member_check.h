// Where a converter's output may go: never onto its input, and a decoder's
// never onto a member of the folder's archive index, so that decoding in a
// member folder leaves the members as Extract FL3 wrote them.
#pragma once

#include <string>

#include "core/ui.h"

namespace vid {

// What an output is made from.
enum class MadeBy {
    encoder,  // an encoder: its output is meant to replace a member of an archive
    decoder,  // a decoder: its output is never a member
};

// True when `output` may be written for `input`; false after an Alert when
// it is the input itself (the same file, whatever the names), or, for a
// decoder, when the input's folder holds an `_index.bin` that lists
// `output`'s name as a member (compared as Windows compares names, without
// case): a decoded file never takes a member's place.
bool output_allowed(Ui& ui, const std::string& input, const std::string& output, MadeBy made_by);

}  // namespace vid

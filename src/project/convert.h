// The kinds and their codecs, as the mod project names them: the table of
// src/formats, whose rows unpack, status and repack follow.
#pragma once

#include "formats/kinds.h"

namespace vid::project {

using formats::Converted;
using formats::decode_member;
using formats::editable_extension;
using formats::encode_member;
using formats::Kind;
using formats::kind_from_name;
using formats::kind_name;
using formats::kind_of;
using formats::verify_member;
using formats::Verdict;

}  // namespace vid::project

// The members of the bundled sample game folder, made from nothing but
// seeded generators. Each format contributes its own files.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/bytes.h"

namespace vid::kit {

using Member = std::pair<std::string, Bytes>;  // member name, contents

std::vector<Member> sample_images();   // BM2 files
std::vector<Member> sample_sounds();   // WV5 files
std::vector<Member> sample_scripts();  // AB files

}  // namespace vid::kit

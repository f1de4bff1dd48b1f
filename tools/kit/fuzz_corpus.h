// The seed corpora of the fuzz targets: small inputs of every kind, made by
// the kit, kept in the repository under fuzz/corpus/<target>/ and remade by
// `vidodide-samples --corpus DIR`.
#pragma once

#include <string>
#include <vector>

#include "kit/samples.h"

namespace vid::kit {

struct Corpus {
    std::string target;           // the fuzz target's name, e.g. "fuzz_bm2"
    std::vector<Member> seeds;    // file name, contents
};

std::vector<Corpus> fuzz_corpora();

}  // namespace vid::kit

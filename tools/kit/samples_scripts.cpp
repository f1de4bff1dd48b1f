#include "kit/samples.h"

namespace vid::kit {

std::vector<Member> sample_scripts() { return {}; }

}  // namespace vid::kit

#include "kit/samples.h"

namespace vid::kit {

std::vector<Member> sample_sounds() { return {}; }

}  // namespace vid::kit

#include "kit/samples.h"

namespace vid::kit {

std::vector<Member> sample_images() { return {}; }

}  // namespace vid::kit

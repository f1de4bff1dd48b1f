// Sample BM2 images: an ordinary bitmap, a 24-bit alpha sprite and an 8-bit
// alpha sprite of odd width.
#include "kit/lzss_bm2.h"
#include "kit/samples.h"

namespace vid::kit {

std::vector<Member> sample_images() {
    std::vector<Member> out;
    out.emplace_back("title.bm2", bm2_file(bmp24(160, 120, 101)));
    out.emplace_back("coin32.bm2", bm2_file(bm2_alpha(24, 40, 32, alpha_picture(24, 40, 32, 102))));
    out.emplace_back("coin8.bm2", bm2_file(bm2_alpha(8, 37, 30, alpha_picture(8, 37, 30, 103))));
    return out;
}

}  // namespace vid::kit

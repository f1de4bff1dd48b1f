// The code of the stb image libraries, built once, here. Their own style
// is not ours: this file alone is compiled without our warnings.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_MAX_DIMENSIONS 65536
#include "bm2/stb.h"

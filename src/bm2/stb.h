// The declarations of the stb image libraries that the program uses: PNG
// only, from memory only.
#pragma once

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_WRITE_NO_STDIO

#include <stb_image.h>
#include <stb_image_write.h>

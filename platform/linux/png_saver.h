// The platform's PNG writer (libpng).
#pragma once

#include <cstdint>

// Writes width x height ARGB words (rows bytesPerRow bytes apart) to file as an 8-bit PNG:
// RGBA when alpha is non-zero, RGB otherwise. Returns 0, ERR_MEM, ERR_WRITEFILE (the file
// cannot be opened or written; nothing is left behind) or ERR_SAVEPNG (a size below 1).
int SaveARGBAsPng(const char* file, const uint32_t* pixels, int32_t width, int32_t height,
                  int32_t bytesPerRow, int alpha);

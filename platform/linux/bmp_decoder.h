// BMP pictures (Windows and OS/2 bitmap files) for the platform's picture loader:
// uncompressed rows of 1, 4 or 8 bits through a colour table, 16 or 32 bits through
// bit-field masks (5-5-5 and 8-8-8 without them) and 24 bits, stored bottom-up or top-down.
// Compressed files and files whose header, colour table or rows do not fit in their bytes are
// refused before anything is allocated for the pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/picture_loader.h"

namespace qv {

// Whether the bytes start like a BMP file.
bool IsBmp(const uint8_t* data, size_t size);

// Reads the header into *format and, with a picture, the pixels as 0xAARRGGBB words, top row
// first (alpha 0xFF unless the file has an alpha mask). 0, ERR_MEM or ERR_LOADPICTURE.
int DecodeBmp(const uint8_t* data, size_t size, qvPicture* picture, qvPictureFormat* format);

}  // namespace qv

// The platform's picture loader: PNG through libpng, JPEG through libjpeg's 6b interface and
// BMP (bmp_decoder.h), decoded into 32-bit words 0xAARRGGBB. Files are read through the file layer,
// so virtual files (an applet's linked files, memory windows) load like any other.
#pragma once

#include <cstdint>

struct qvPicture {
    int32_t width;
    int32_t height;
    uint32_t hasAlpha;  // 0: every alpha byte is 0xFF
    uint32_t* pixels;   // width x height, owned by the record
};

struct qvPictureFormat {
    int32_t width;
    int32_t height;
    int32_t depth;  // bits per pixel as stored (palette and grey pictures below 24)
};

// Decodes the picture in the file name. Returns 0, ERR_MEM, or ERR_LOADPICTURE when the
// file cannot be read or holds no picture this loader decodes (the caller stores the name
// for the message).
int LoadPictureDT(const char* name, qvPicture** out);
// Frees a picture of LoadPictureDT; none is allowed.
void FreePictureDT(qvPicture* picture);
// Reads the picture's header only; the same results as LoadPictureDT.
int IdentifyPictureDT(const char* name, qvPictureFormat* out);

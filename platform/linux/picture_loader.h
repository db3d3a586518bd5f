// The platform's picture loader: PNG through libpng, JPEG through libjpeg's 6b interface, BMP
// (bmp_decoder.h), the first image of a GIF (media/gif_frames.h) and IFF ILBM with its mask
// plane or alpha bytes (media/ilbm_reader.h), so that every format the picture saver writes
// loads again; decoded into 32-bit words 0xAARRGGBB. Files are read through the file layer, so
// virtual files (an applet's linked files, memory windows) load like any other.
#pragma once

#include <cstdint>
#include <span>

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

// Decodes the picture in the file name (the first image of an animated GIF; a GIF's clear
// pixels and an ILBM's hidden ones have alpha 0 and make hasAlpha 1). Returns 0, ERR_MEM, or
// ERR_LOADPICTURE when the file cannot be read or holds no picture this loader decodes (the caller
// stores the name for the message).
int LoadPictureDT(const char* name, qvPicture** out);
// Frees a picture of LoadPictureDT; none is allowed.
void FreePictureDT(qvPicture* picture);
// Reads the picture's header only; the same results as LoadPictureDT.
int IdentifyPictureDT(const char* name, qvPictureFormat* out);

namespace qv {

// The decoding of LoadPictureDT (with a picture) and IdentifyPictureDT (without) from bytes in
// memory; the same results.
int DecodePictureBytes(std::span<const uint8_t> bytes, qvPicture* picture, qvPictureFormat* format);

}  // namespace qv

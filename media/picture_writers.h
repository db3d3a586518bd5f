// The picture writers: JPEG into memory (libjpeg), GIF frames (giflib) and 24-plane IFF ILBM
// (into a file, or into memory for the clipboard), with a mask plane and alpha bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/output_file.h"

// EncodeJpeg's parameter block. In: the ARGB words (rows bytesPerRow bytes apart), the size
// and the quality (clamped to 1..100). Out: the encoded bytes (FreeJpegBuffer), their count
// and 0, ERR_MEM or ERR_WRITEJPEG.
struct qvJpegEncode {
    const uint32_t* pixels;
    int32_t bytesPerRow;
    int32_t width;
    int32_t height;
    int32_t quality;
    int32_t reserved;  // 0
    uint8_t* buffer;
    size_t size;
    int error;
};

void EncodeJpeg(qvJpegEncode* block);
void FreeJpegBuffer(uint8_t* buffer);

// A GIF89a stream over an open output file; the logical screen and its global colour map
// are written with the first frame.
struct qvGifWriter;

// 0, ERR_MEM, or ERR_WRONGUSAGE for a size outside 1..65535.
int BeginGifWriter(qv::OutputFile* file, int32_t width, int32_t height, qvGifWriter** writer);
// One frame of width x height palette indices (rows packed) with colourCount entries
// 0xRRGGBB (1..256). transparent is the index declared transparent, or -1; delay (1/100 s)
// and disposal go into the Graphic Control Extension, which is written when any of the three
// asks for it. 0, ERR_MEM or ERR_WRITEFILE.
int WriteGifFrame(qvGifWriter* writer, const uint8_t* indices, int32_t width, int32_t height,
                  int32_t reserved, const uint32_t* palette, int32_t colourCount,
                  int32_t transparent, int32_t delay = 0, int32_t disposal = 0);
// Writes the trailer and frees the writer (the file stays open); 0 or ERR_WRITEFILE.
int FinishGifWriter(qvGifWriter* writer);

// What an ILBM carries beside its 24 colour planes: nothing, a mask plane (set where the alpha
// byte is not 0), or the mask plane and the alpha bytes in an ALPH chunk (media/ilbm_reader.h).
enum class IlbmTransparency { kNone, kMask, kMaskAndAlpha };

// Writes width x height ARGB pixels as FORM ILBM with 24 ByteRun1-packed planes; with alpha
// (the pixels carry a mask or an alpha channel) also the mask plane and the alpha bytes. 0,
// ERR_MEM, ERR_WRITEFILE, or ERR_WRONGUSAGE for a size outside 1..65535.
int SaveIlbm(const char* file, const uint32_t* pixels, int32_t width, int32_t height, int alpha);
// The same FORM in memory (a block for FreeMemBlock in *bytes, its length in *size), each row's
// planes followed by the mask plane when one is kept (BMHD masking 1). 0, ERR_MEM or
// ERR_WRONGUSAGE.
int EncodeIlbm(const uint32_t* pixels, int32_t width, int32_t height, IlbmTransparency keep,
               uint8_t** bytes, size_t* size);

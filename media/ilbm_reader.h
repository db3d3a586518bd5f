// A bounded reader of IFF ILBM pictures from memory (the clipboard's picture kind, and a
// format of the platform's picture loader): 1 to 8 planes with a colour map (not in the
// hold-and-modify or extra-halfbrite modes of a CAMG chunk), or 24 planes; uncompressed or
// ByteRun1; without a mask or with a mask plane; and the alpha bytes of an ALPH
// chunk, which the player writes beside the mask plane (rows of width bytes, top first, packed
// per row as the body is; readers that do not know it skip it and keep the mask). Every chunk
// size and every row is checked against the bytes present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct qvIlbmPicture {
    uint32_t* pixels;  // width x height ARGB (FreeMemBlock); alpha 0 where the mask hides
    int32_t width;
    int32_t height;
    bool masked;  // the picture had a mask plane
    bool alpha;   // the alpha bytes came from an ALPH chunk
};

// Whether the bytes start as an ILBM form.
bool IsIlbmData(std::span<const uint8_t> bytes);
// The size and the bits per pixel (the planes, 32 with alpha bytes) from the header alone: 0
// or ERR_WRONGUSAGE as DecodeIlbm refuses the form or the header.
int IdentifyIlbm(std::span<const uint8_t> bytes, int32_t* width, int32_t* height, int32_t* depth);
// 0 with the picture; ERR_WRONGUSAGE for bytes that are not an ILBM of that kind (malformed,
// truncated, or another depth, masking or compression); ERR_MEM when its pixels cannot be
// held (also for a side above the largest bitmap).
int DecodeIlbm(std::span<const uint8_t> bytes, qvIlbmPicture* out);

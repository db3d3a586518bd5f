// A bounded reader of IFF ILBM pictures from memory (the clipboard's picture kind): 1 to 8
// planes with a colour map, or 24 planes; uncompressed or ByteRun1; without a mask or with a
// mask plane. Every chunk size and every plane row is checked against the bytes present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct qvIlbmPicture {
    uint32_t* pixels;  // width x height ARGB (FreeMemBlock); alpha 0 where the mask hides
    int32_t width;
    int32_t height;
    bool masked;  // the picture had a mask plane
};

// 0 with the picture; ERR_WRONGUSAGE for bytes that are not an ILBM of that kind (malformed,
// truncated, or another depth, masking or compression); ERR_MEM when its pixels cannot be
// held (also for a side above the largest bitmap).
int DecodeIlbm(std::span<const uint8_t> bytes, qvIlbmPicture* out);

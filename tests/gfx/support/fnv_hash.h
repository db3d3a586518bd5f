// FNV-1a over pixel bytes: the golden tests pin a kernel's output by the hash of everything it
// wrote, row by row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gfx/pixel_format.h"
#include "platform/linux/bitmap.h"

namespace qv::test {

struct FnvHash {
    uint64_t value = 0xCBF29CE484222325u;
    void Add(const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) value = (value ^ bytes[i]) * 0x100000001B3u;
    }
    void Add(const std::vector<uint8_t>& bytes) { Add(bytes.data(), bytes.size()); }
    // A bitmap's pixels, without the bytes past each row's width.
    void Add(const qvDisplayBitMap* b) {
        for (int32_t y = 0; y < b->height; ++y) {
            Add(qv::PixelAt(b->pixels, b->rowLength, b->bytesPerPixel, 0, y),
                size_t(b->width) * size_t(b->bytesPerPixel));
        }
    }
    // The first width bytes of each row of a plane.
    void Add(const qvPlaneBitMap* p, int32_t width) {
        for (int32_t y = 0; y < p->height; ++y) Add(p->plane + y * p->bytesPerRow, size_t(width));
    }
};

}  // namespace qv::test

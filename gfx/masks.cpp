#include "gfx/masks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "engine/error_codes.h"
#include "gfx/kernels/rows.h"
#include "platform/linux/window.h"

namespace qv::gfx {
namespace {

struct PlaneDeleter {
    void operator()(qvPlaneBitMap* plane) const { FreePlaneBitMap(plane); }
};
using PlanePtr = std::unique_ptr<qvPlaneBitMap, PlaneDeleter>;

void KeyToMask(const qvBitMapLock& lock, qvPlaneBitMap* mask, int32_t width, int32_t height,
               uint32_t colour) {
    width = std::min(width, lock.width), height = std::min(height, lock.height);
    const uint32_t key = RGBToPixelFormat(colour, lock.format);
    switch (lock.bytesPerPixel) {
        case 2:
            ColorKeyToMaskPixels16(lock.base, mask->plane, width, height, mask->bytesPerRow, key,
                                   lock.rowLength);
            break;
        case 3:
            ColorKeyToMaskPixels24(lock.base, mask->plane, width, height, mask->bytesPerRow, key,
                                   lock.rowLength);
            break;
        case 4:
            ColorKeyToMaskPixels32(lock.base, mask->plane, width, height, mask->bytesPerRow, key,
                                   lock.rowLength, CompareMask32(lock.format));
            break;
        default:
            break;
    }
}

}  // namespace
}  // namespace qv::gfx

qvPlaneBitMap* ColorKeyToMask(qvDisplayBitMap* bitmap, int32_t width, int32_t height,
                              uint32_t colour) {
    qv::ScopedBitMapLock lock(bitmap);
    if (!lock) return nullptr;
    qvPlaneBitMap* mask = AllocMaskBitMap(bitmap, width, height, 1);
    if (mask != nullptr) qv::gfx::KeyToMask(*lock, mask, width, height, colour);
    return mask;
}

void ClearAlphaArea(qvDisplayBitMap* bitmap, int rowTail) {
    qv::ScopedBitMapLock lock(bitmap);
    if (!lock || lock->bytesPerPixel != 4) return;
    const size_t rowBytes = size_t(lock->rowLength) * 4;
    if (rowTail == 0) {
        std::memset(lock->base, 0, rowBytes * size_t(lock->height));
        return;
    }
    const size_t used = size_t(lock->width) * 4;
    for (int32_t y = 0; y < lock->height; ++y) {
        std::memset(lock->base + rowBytes * size_t(y) + used, 0, rowBytes - used);
    }
}

int32_t IntSqrt(int32_t n) {
    if (n < 0) return -1;
    auto r = int64_t(std::sqrt(double(n)));
    while (r * r > n) --r;
    while ((r + 1) * (r + 1) <= n) ++r;
    return int32_t(r);
}

int PixelArrayToBitMap(const qvARGB* pixels, uint32_t transparent, int32_t width, int32_t height,
                       int32_t rowLength, int screenFriend, qvDisplayBitMap** bitmap,
                       qvPlaneBitMap** mask) {
    *bitmap = nullptr, *mask = nullptr;
    // Every pixel is written below: no need to clear them first.
    std::unique_ptr<qvDisplayBitMap, decltype(&FreeDisplayBitMap)> made(
        qv::AllocBitMapInFormat(width, height, qv::ScreenFormat(), screenFriend != 0, true),
        FreeDisplayBitMap);
    if (!made || pixels == nullptr) return ERR_MEM;
    // The array stands in as a format 10 bitmap, so the platform blit converts it.
    qvDisplayBitMap array{
        width, height, rowLength, QV_FMT_A8R8G8B8,
        4,     false,  false,     reinterpret_cast<uint8_t*>(const_cast<qvARGB*>(pixels)),
        0};
    BltBitMap(&array, 0, 0, made.get(), 0, 0, width, height);
    qv::gfx::PlanePtr keyed;
    if (transparent != 0xFFFFFFFF) {
        keyed.reset(AllocMaskBitMap(made.get(), width, height, 1));
        if (!keyed) return ERR_MEM;
        ColorKeyToMaskPixels32(pixels, keyed->plane, width, height, keyed->bytesPerRow,
                               transparent & 0xFFFFFF, rowLength, 0x00FFFFFF);
    }
    *bitmap = made.release(), *mask = keyed.release();
    return 0;
}

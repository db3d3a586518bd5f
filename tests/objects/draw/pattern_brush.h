// A brush that the shape engine draws into as the output bitmap (the scene seam hands it
// over), filled with a pattern under the shapes so that every blend shows.
#pragma once

#include <cstdint>

#include "gfx/kernels/rows.h"
#include "gfx/pixel_format.h"
#include "objects/scene_seam.h"
#include "platform/linux/testing.h"

namespace qv::testing {

class PatternBrush final : public objects::SceneSeam {
public:
    PatternBrush(int32_t width, int32_t height) : width_(width), height_(height) {
        objects::SetSceneSeam(this);
    }
    ~PatternBrush() override { objects::SetSceneSeam(nullptr); }
    PatternBrush(const PatternBrush&) = delete;
    PatternBrush& operator=(const PatternBrush&) = delete;
    int FetchOutputBitmaps(qvVmState*, qvDisplayBitMap** out) override {
        *out = bitmap.get();
        return 0;
    }
    // A new bitmap in the screen's format, patterned.
    void Fill() {
        bitmap.reset(AllocDisplayBitMap(width_, height_));
        ScopedBitMapLock lock(bitmap.get());
        for (int32_t y = 0; y < height_; ++y) {
            for (int32_t x = 0; x < width_; ++x) {
                const uint8_t rgb[3] = {uint8_t(x * 3), uint8_t(y * 5), uint8_t(x * 7 + y * 11)};
                WritePixelRGB(PixelAt(lock->base, lock->rowLength, lock->bytesPerPixel, x, y),
                              lock->format, rgb);
            }
        }
    }
    OwnedBitMap bitmap;

private:
    int32_t width_, height_;
};

}  // namespace qv::testing

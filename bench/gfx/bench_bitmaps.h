// What the graphics benchmarks share: the full-HD frame size, owners for the bitmaps of ours
// and of the peers, and bitmaps of random bytes.
#pragma once

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

#include "platform/linux/bitmap.h"

namespace qv::bench {

constexpr int kWidth = 1920, kHeight = 1080;

struct Deleter {
    void operator()(qvDisplayBitMap* bitmap) const { FreeDisplayBitMap(bitmap); }
    void operator()(qvPlaneBitMap* plane) const { FreePlaneBitMap(plane); }
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
template <typename T>
using Owned = std::unique_ptr<T, Deleter>;

inline Owned<qvDisplayBitMap> RandomBitMap(uint32_t format, uint32_t seed, int width = kWidth,
                                           int height = kHeight) {
    Owned<qvDisplayBitMap> bitmap(qv::AllocBitMapInFormat(width, height, format, false));
    std::mt19937 random(seed);
    const size_t bytes = size_t(bitmap->rowLength) * bitmap->bytesPerPixel * height;
    for (size_t i = 0; i < bytes; ++i) bitmap->pixels[i] = uint8_t(random());
    return bitmap;
}

// Runs filter on a fresh copy of picture each time (the copy is not timed): filters whose cost
// depends on the pixels would otherwise meet their own output again and again.
template <typename Fn>
void FilterFreshCopies(benchmark::State& state, const qvDisplayBitMap& picture, Fn&& filter) {
    const Owned<qvDisplayBitMap> b(
        qv::AllocBitMapInFormat(picture.width, picture.height, picture.format, false));
    const size_t bytes = size_t(b->rowLength) * b->bytesPerPixel * b->height;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(b->pixels, picture.pixels, bytes);
        state.ResumeTiming();
        filter(b.get());
        benchmark::DoNotOptimize(b->pixels[0]);
    }
}

}  // namespace qv::bench

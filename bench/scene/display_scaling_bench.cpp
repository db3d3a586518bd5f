// S7a: the autoscale refresh of a 640x480 composition bitmap into the 1280x960 window of an
// open headless display (nearest, in the screen's format: 10 unless QV_SCREEN_FORMAT says
// otherwise) beside SDL_BlitScaled of ARGB8888 surfaces of the same sizes (SDL's nearest
// stretch).
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/gfx/bench_bitmaps.h"
#include "bench/scene/display_scripts.h"
#include "gfx/blit_frontends.h"
#include "platform/linux/window.h"
#include "scene/display.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kScaledWidth = 1280, kScaledHeight = 960;

using qv::bench::DisplayScripts;

// Display 1: 640x480 autoscaled to 1280x960, its composition bitmap random.
int Setup(qvVmState* L) {
    DisplayScripts::CreateDisplay(L, 1,
                                  {{"width", kWidth},
                                   {"height", kHeight},
                                   {"scalemode", 1},
                                   {"scalewidth", kScaledWidth},
                                   {"scaleheight", kScaledHeight}});
    return 0;
}

void Ours(benchmark::State& state) {
    DisplayScripts scripts(Setup);
    qvDisplay* display = qv::scene::Displays().current;
    if (!scripts.ok() || display == nullptr) {
        state.SkipWithError("no display");
        return;
    }
    qvDisplayBitMap* composition = display->compositionBitmap;
    auto random = qv::bench::RandomBitMap(composition->format, 7, kWidth, kHeight);
    BltBitMap(random.get(), 0, 0, composition, 0, 0, kWidth, kHeight);
    for (auto _ : state) {
        BltToDisplay(composition, 0, 0, display, 0, 0, kWidth, kHeight, QV_REFRESH_AUTOSCALE);
        benchmark::DoNotOptimize(display->window->framebuffer->pixels);
    }
}

void Peer(benchmark::State& state) {
    using qv::bench::Owned;
    Owned<SDL_Surface> source(
        SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 32, SDL_PIXELFORMAT_ARGB8888));
    Owned<SDL_Surface> dest(SDL_CreateRGBSurfaceWithFormat(0, kScaledWidth, kScaledHeight, 32,
                                                           SDL_PIXELFORMAT_ARGB8888));
    auto random = qv::bench::RandomBitMap(QV_FMT_A8R8G8B8, 7, kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        std::memcpy(static_cast<uint8_t*>(source->pixels) + size_t(y) * source->pitch,
                    random->pixels + size_t(y) * random->rowLength * 4, size_t(kWidth) * 4);
    }
    SDL_SetSurfaceBlendMode(source.get(), SDL_BLENDMODE_NONE);
    SDL_Rect to{0, 0, kScaledWidth, kScaledHeight};
    for (auto _ : state) {
        SDL_BlitScaled(source.get(), nullptr, dest.get(), &to);
        benchmark::DoNotOptimize(dest->pixels);
    }
}

BENCHMARK(Ours)
    ->Name("S7a:autoscale refresh 640x480 to 1280x960 vs SDL_BlitScaled/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Peer)
    ->Name("S7a:autoscale refresh 640x480 to 1280x960 vs SDL_BlitScaled/peer")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

// S3a: DisplayBGPic of a 1280x720 picture onto an open headless display of the same size (the
// picture switch, the display's work bitmaps, the window copy), alternating between two
// pictures, beside one SDL_FillRect clear and one SDL_BlitSurface of the same pixels.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/gfx/bench_bitmaps.h"
#include "bench/scene/display_scripts.h"
#include "scene/bgpic.h"

namespace {

constexpr int kDisplayWidth = 1280, kDisplayHeight = 720;

using qv::bench::DisplayScripts;

// Display 1 at 1280x720 and pictures 2 and 3 of that size.
int Setup(qvVmState* L) {
    DisplayScripts::CreateDisplay(L, 1, {{"width", kDisplayWidth}, {"height", kDisplayHeight}});
    for (double id : {2.0, 3.0}) {
        DisplayScripts::Call(L, "createbgpic", {id, kDisplayWidth, kDisplayHeight});
        qvBGPic* picture = nullptr;
        GetBGPic(L, {uint32_t(id), nullptr}, &picture, 0);
        auto random = qv::bench::RandomBitMap(picture->shown.bitmap->format, uint32_t(id),
                                              kDisplayWidth, kDisplayHeight);
        BltBitMap(random.get(), 0, 0, picture->shown.bitmap, 0, 0, kDisplayWidth, kDisplayHeight);
    }
    return 0;
}

// DisplayBGPic(id); 0 or the error code.
int Show(qvVmState* L, double id) {
    return VmCPCall(
        L,
        [](qvVmState* L) {
            DisplayScripts::Call(L, "displaybgpic", {*static_cast<double*>(VmToUserdata(L, 1))});
            return 0;
        },
        &id);
}

void Ours(benchmark::State& state) {
    DisplayScripts scripts(Setup);
    if (!scripts.ok()) state.SkipWithError("no display");
    int i = 0;
    for (auto _ : state) {
        if (Show(scripts.L(), (i++ & 1) != 0 ? 2 : 3) != 0) {
            state.SkipWithError("DisplayBGPic failed");
        }
    }
}

void Peer(benchmark::State& state) {
    using qv::bench::Owned;
    Owned<SDL_Surface> source(SDL_CreateRGBSurfaceWithFormat(0, kDisplayWidth, kDisplayHeight, 32,
                                                             SDL_PIXELFORMAT_ARGB8888));
    Owned<SDL_Surface> dest(SDL_CreateRGBSurfaceWithFormat(0, kDisplayWidth, kDisplayHeight, 32,
                                                           SDL_PIXELFORMAT_ARGB8888));
    std::memset(source->pixels, 0x5A, size_t(source->pitch) * kDisplayHeight);
    SDL_SetSurfaceBlendMode(source.get(), SDL_BLENDMODE_NONE);
    for (auto _ : state) {
        SDL_FillRect(dest.get(), nullptr, 0);
        SDL_BlitSurface(source.get(), nullptr, dest.get(), nullptr);
        benchmark::DoNotOptimize(dest->pixels);
    }
}

BENCHMARK(Ours)
    ->Name("S3a:DisplayBGPic 1280x720 vs SDL_FillRect+SDL_BlitSurface/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Peer)
    ->Name("S3a:DisplayBGPic 1280x720 vs SDL_FillRect+SDL_BlitSurface/peer")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

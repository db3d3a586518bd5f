// S1a: a present of a fully damaged full-HD window by the sdl back end beside the same three
// SDL calls made directly (update the texture, copy it, present), both on SDL's offscreen
// video driver with the software renderer.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/video/video.h"
#include "platform/linux/window.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

void UseOffscreenSdl() {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("QV_VIDEO", "sdl", 1);
}

void Ours(benchmark::State& state) {
    UseOffscreenSdl();
    std::string detail;
    if (qv::StartVideo(&detail) != 0 || std::string(qv::Video().name) != "sdl") {
        state.SkipWithError(("no sdl video: " + detail).c_str());
        return;
    }
    qvPlatformDisplay* window = AllocPlatformDisplay(nullptr);
    OpenPlatformWindow(window, {0, 0, kWidth, kHeight, QV_WINDOW_BORDERLESS, "S1a"}, 0, nullptr,
                       nullptr);
    FillWindowRect(window, 0, 0, kWidth, kHeight, 0x336699);
    for (auto _ : state) {
        {
            std::lock_guard<std::recursive_mutex> hold(window->lock);
            qv::AddDamage(window, {0, 0, kWidth, kHeight});
        }
        qv::Present();
    }
    FreePlatformDisplay(window);
    qv::StopVideo();
}

void Peer(benchmark::State& state) {
    UseOffscreenSdl();
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        state.SkipWithError(SDL_GetError());
        return;
    }
    SDL_Window* window = SDL_CreateWindow("S1a", 0, 0, kWidth, kHeight, SDL_WINDOW_BORDERLESS);
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    SDL_Texture* texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888,
                                             SDL_TEXTUREACCESS_STREAMING, kWidth, kHeight);
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_NONE);
    std::vector<uint32_t> pixels(size_t(kWidth) * kHeight, 0x336699);  // as FillWindowRect writes
    for (auto _ : state) {
        SDL_UpdateTexture(texture, nullptr, pixels.data(), kWidth * 4);
        SDL_RenderCopy(renderer, texture, nullptr, nullptr);
        SDL_RenderPresent(renderer);
    }
    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
}

}  // namespace

BENCHMARK(Ours)
    ->Name("S1a:present 1920x1080 vs SDL update, copy, present/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Peer)
    ->Name("S1a:present 1920x1080 vs SDL update, copy, present/peer")
    ->Unit(benchmark::kMillisecond);

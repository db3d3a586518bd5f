// BR1: Flip of 512 random dirty rectangles of a double-buffered 1920x1080 display (merged,
// copied into the front buffer and into the headless window) beside pixman SRC of the same
// rectangles between two 1920x1080 images. BR3 and BR4: DisplayBrush of a 256x256 brush with a
// random mask (BR3) or alpha plane (BR4) onto an open 1920x1080 headless display in format 10 (the
// display's bitmap and the window refresh included), beside pixman OVER through an a1 or a8 mask
// onto a 1920x1080 image and, for the mask, an SDL colour-key blit. BR5: TintBrush of a 1920x1080
// brush beside TintBitmap called directly. BR6: DisplayBrush of an opaque 256x256 brush onto the
// same display with layers on, where the brush becomes the top layer and alone covers its
// rectangle, beside pixman SRC of the same pixels onto a 1920x1080 image.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "engine/vm.h"
#include "gfx/colour_filters.h"
#include "gfx/library/graphics_library.h"
#include "libs/string/string_library.h"
#include "objects/brush.h"
#include "objects/brush_library/brush_library.h"
#include "objects/object_neighbours.h"
#include "objects/scene_hooks.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "scene/display.h"
#include "scene/display_hosts.h"
#include "scene/display_library.h"
#include "scene/layers/layer.h"
#include "scene/scene_neighbours.h"

namespace {

constexpr int32_t kDisplayWidth = 1920, kDisplayHeight = 1080, kSide = 256;
constexpr int32_t kX = 300, kY = 200;

class Neighbours final : public qv::scene::SceneNeighbours,
                         public qv::scene::DisplayNeighbours,
                         public qv::objects::ObjectNeighbours {};

enum class Plane { kMask, kAlpha, kNone };

// An engine with the graphics, display, bgpic and brush libraries, display 1 open at
// 1920x1080 (with layers when asked) and brush 1 of random colours with the plane asked for.
class Scene {
public:
    Scene(Plane plane, int32_t width, int32_t height, bool layers = false) {
        qv::ResetRuntimeState();
        InitSupport();
        qv::gfx::SetNeighbours(&neighbours_);
        qv::scene::SetObjectHooks(&hooks_);
        L_ = VmOpen();
        qv::InstallRuntimeHost(L_);
        qv::Runtime().quiet = 1;
        ok_ = VmCPCall(L_, Setup, &layers) == 0 && OpenFirstDisplay(L_, nullptr, nullptr) == 0;
        qvBrush* brush = nullptr;
        ok_ = ok_ && CreateBrushBitmaps({1, nullptr}, width, height, 0, plane == Plane::kMask,
                                        plane == Plane::kAlpha, true, false, &brush) == 0;
        if (!ok_) return;
        auto random = qv::bench::RandomBitMap(brush->bitmap->format, 1, width, height);
        BltBitMap(random.get(), 0, 0, brush->bitmap, 0, 0, width, height);
        std::mt19937 bits(2);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t value = uint8_t(bits());
                if (plane == Plane::kMask && (value & 1) != 0) PlotPixel(brush->mask, x, y, 0);
                if (plane == Plane::kAlpha) {
                    brush->alpha->plane[size_t(y) * brush->alpha->bytesPerRow + x] = value;
                }
            }
        }
    }
    ~Scene() {
        FreeAllBrushes(L_);
        CloseDisplayLibrary(L_);
        FreeAllBGPics(L_);
        FreeGraphicsObjects(L_);
        VmClose(L_);
        FreeSupport();
        qv::gfx::SetNeighbours(nullptr);
        qv::scene::SetObjectHooks(nullptr);
        qv::ResetRuntimeState();
    }

    bool ok() const { return ok_; }
    // Drops the shown picture's layers without a refresh.
    void FreeLayers() { FreeLayerList(L_, qv::scene::Displays().current->settings.picture); }
    // Calls the command with the numbers; 0 or the error code.
    int Run(const char* command, std::vector<double> args) {
        Request request{command, std::move(args)};
        return VmCPCall(L_, RunBody, &request);
    }

private:
    struct Request {
        const char* command;
        std::vector<double> args;
    };
    static int Setup(qvVmState* L) {
        for (auto registerLibrary :
             {RegisterStringLibrary, RegisterGraphicsLibrary, RegisterDisplayLibrary,
              RegisterBGPicLibrary, RegisterBrushLibrary}) {
            if (int code = registerLibrary(L)) RaiseError(L, code);
        }
        VmPushString(L, "createdisplay");
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushNumber(L, 1);
        VmNewTable(L);
        VmPushString(L, "width");
        VmPushNumber(L, kDisplayWidth);
        VmSetTable(L, -3);
        VmPushString(L, "height");
        VmPushNumber(L, kDisplayHeight);
        VmSetTable(L, -3);
        VmPushString(L, "layers");
        VmPushNumber(L, *static_cast<const bool*>(VmToUserdata(L, 1)) ? 1 : 0);
        VmSetTable(L, -3);
        VmCall(L, 2, 0);
        return 0;
    }
    static int RunBody(qvVmState* L) {
        const auto* request = static_cast<const Request*>(VmToUserdata(L, 1));
        VmPushString(L, request->command);
        VmGetTable(L, VM_GLOBALSINDEX);
        for (double a : request->args) VmPushNumber(L, a);
        VmCall(L, int(request->args.size()), 0);
        return 0;
    }

    Neighbours neighbours_;
    qv::objects::SceneHooks hooks_;  // what layers show, as the player installs it
    qvVmState* L_ = nullptr;
    bool ok_ = false;
};

void DisplayBrush(benchmark::State& state, Plane plane) {
    Scene scene(plane, kSide, kSide);
    if (!scene.ok()) state.SkipWithError("no display");
    for (auto _ : state) {
        if (scene.Run("displaybrush", {1, kX, kY}) != 0) state.SkipWithError("DisplayBrush failed");
    }
}

// Every call adds a layer: the list is emptied now and then, outside the timing.
void DisplayBrushOnTop(benchmark::State& state) {
    constexpr int kLayersKept = 256;
    Scene scene(Plane::kNone, kSide, kSide, true);
    if (!scene.ok()) state.SkipWithError("no display");
    int shown = 0;
    for (auto _ : state) {
        if (scene.Run("displaybrush", {1, kX, kY}) != 0) state.SkipWithError("DisplayBrush failed");
        if (++shown % kLayersKept == 0) {
            state.PauseTiming();
            scene.FreeLayers();
            state.ResumeTiming();
        }
    }
}

struct ImageFree {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using Image = std::unique_ptr<pixman_image_t, ImageFree>;

// pixman: a 256x256 opaque source OVER a 1920x1080 image through a random a1 or a8 mask.
void PixmanOver(benchmark::State& state, Plane plane) {
    std::mt19937 random(1);
    std::vector<uint32_t> source(size_t(kSide) * kSide),
        dest(size_t(kDisplayWidth) * kDisplayHeight);
    for (uint32_t& p : source) p = 0xFF000000u | (random() & 0xFFFFFF);
    for (uint32_t& p : dest) p = random();
    const bool a1 = plane == Plane::kMask;
    const int maskStride = a1 ? kSide / 8 : kSide;
    std::vector<uint32_t> maskBits(size_t(maskStride) * kSide / 4);
    for (uint32_t& word : maskBits) word = random();
    Image src(pixman_image_create_bits(PIXMAN_a8r8g8b8, kSide, kSide, source.data(), kSide * 4));
    Image mask(pixman_image_create_bits(a1 ? PIXMAN_a1 : PIXMAN_a8, kSide, kSide, maskBits.data(),
                                        maskStride));
    Image dst(pixman_image_create_bits(PIXMAN_x8r8g8b8, kDisplayWidth, kDisplayHeight, dest.data(),
                                       kDisplayWidth * 4));
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, src.get(), mask.get(), dst.get(), 0, 0, 0, 0, kX,
                                 kY, kSide, kSide);
        benchmark::ClobberMemory();
    }
}

// pixman: a 256x256 opaque source copied onto a 1920x1080 image.
void PixmanSrc(benchmark::State& state) {
    std::mt19937 random(1);
    std::vector<uint32_t> source(size_t(kSide) * kSide),
        dest(size_t(kDisplayWidth) * kDisplayHeight);
    for (uint32_t& p : source) p = 0xFF000000u | (random() & 0xFFFFFF);
    Image src(pixman_image_create_bits(PIXMAN_x8r8g8b8, kSide, kSide, source.data(), kSide * 4));
    Image dst(pixman_image_create_bits(PIXMAN_x8r8g8b8, kDisplayWidth, kDisplayHeight, dest.data(),
                                       kDisplayWidth * 4));
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, src.get(), nullptr, dst.get(), 0, 0, 0, 0, kX, kY,
                                 kSide, kSide);
        benchmark::ClobberMemory();
    }
}

// SDL: a 256x256 surface with a colour key (half its pixels the key) onto 1920x1080.
void SdlColourKey(benchmark::State& state) {
    using qv::bench::Owned;
    Owned<SDL_Surface> source(
        SDL_CreateRGBSurfaceWithFormat(0, kSide, kSide, 32, SDL_PIXELFORMAT_ARGB8888));
    Owned<SDL_Surface> dest(SDL_CreateRGBSurfaceWithFormat(0, kDisplayWidth, kDisplayHeight, 32,
                                                           SDL_PIXELFORMAT_ARGB8888));
    std::mt19937 random(1);
    constexpr uint32_t kKey = 0xFFFF00FF;
    for (int y = 0; y < kSide; ++y) {
        auto* row =
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(source->pixels) + y * source->pitch);
        for (int x = 0; x < kSide; ++x)
            row[x] = (random() & 1) != 0 ? kKey : random() | 0xFF000000u;
    }
    SDL_SetColorKey(source.get(), SDL_TRUE, kKey);
    SDL_Rect at{kX, kY, kSide, kSide};
    for (auto _ : state) {
        SDL_BlitSurface(source.get(), nullptr, dest.get(), &at);
        benchmark::ClobberMemory();
    }
}

void TintBrush(benchmark::State& state) {
    Scene scene(Plane::kNone, kDisplayWidth, kDisplayHeight);
    if (!scene.ok()) state.SkipWithError("no display");
    for (auto _ : state) {
        if (scene.Run("tintbrush", {1, 0x336699, 128}) != 0)
            state.SkipWithError("TintBrush failed");
    }
}

void TintBitmapDirectly(benchmark::State& state) {
    auto bitmap = qv::bench::RandomBitMap(QV_FMT_A8R8G8B8, 1, kDisplayWidth, kDisplayHeight);
    for (auto _ : state) {
        TintBitmap(bitmap.get(), 0, 0, kDisplayWidth, kDisplayHeight, 0x336699, 128);
        benchmark::ClobberMemory();
    }
}

// 512 rectangles of 1 to 64 pixels a side inside the display, the same for both.
std::vector<qvRect> DirtyRects() {
    std::mt19937 random(3);
    std::vector<qvRect> rects(512);
    for (qvRect& r : rects) {
        const int32_t w = 1 + int32_t(random() % 64), h = 1 + int32_t(random() % 64);
        r.x1 = int32_t(random() % uint32_t(kDisplayWidth - w));
        r.y1 = int32_t(random() % uint32_t(kDisplayHeight - h));
        r.x2 = r.x1 + w - 1, r.y2 = r.y1 + h - 1;
    }
    return rects;
}

void FlipDirty(benchmark::State& state) {
    Scene scene(Plane::kNone, 1, 1);
    qvDisplay* display = nullptr;
    FindDisplay({1, nullptr}, &display);
    if (!scene.ok() || display == nullptr || scene.Run("begindoublebuffer", {}) != 0) {
        state.SkipWithError("no double buffer");
        return;
    }
    const std::vector<qvRect> rects = DirtyRects();
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(rects.begin(), rects.end(), display->dirtyRects.rects);
        display->dirtyRects.count = int32_t(rects.size());
        state.ResumeTiming();
        if (scene.Run("flip", {0}) != 0) state.SkipWithError("Flip failed");
    }
}

void PixmanSrcRects(benchmark::State& state) {
    std::mt19937 random(1);
    std::vector<uint32_t> back(size_t(kDisplayWidth) * kDisplayHeight),
        front(size_t(kDisplayWidth) * kDisplayHeight);
    for (uint32_t& p : back) p = random();
    Image src(pixman_image_create_bits(PIXMAN_a8r8g8b8, kDisplayWidth, kDisplayHeight, back.data(),
                                       kDisplayWidth * 4));
    Image dst(pixman_image_create_bits(PIXMAN_a8r8g8b8, kDisplayWidth, kDisplayHeight, front.data(),
                                       kDisplayWidth * 4));
    const std::vector<qvRect> rects = DirtyRects();
    for (auto _ : state) {
        for (const qvRect& r : rects) {
            pixman_image_composite32(PIXMAN_OP_SRC, src.get(), nullptr, dst.get(), r.x1, r.y1, 0, 0,
                                     r.x1, r.y1, r.x2 + 1 - r.x1, r.y2 + 1 - r.y1);
        }
        benchmark::ClobberMemory();
    }
}

BENCHMARK(FlipDirty)
    ->Name("BR1:flip_dirty 512 rects 1920x1080 vs pixman SRC/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PixmanSrcRects)
    ->Name("BR1:flip_dirty 512 rects 1920x1080 vs pixman SRC/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayBrush, mask, Plane::kMask)
    ->Name("BR3:display_brush_mask 256x256 vs pixman OVER a1/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PixmanOver, a1, Plane::kMask)
    ->Name("BR3:display_brush_mask 256x256 vs pixman OVER a1/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayBrush, mask2, Plane::kMask)
    ->Name("BR3s:display_brush_mask 256x256 vs SDL colour key/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(SdlColourKey)
    ->Name("BR3s:display_brush_mask 256x256 vs SDL colour key/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayBrush, alpha, Plane::kAlpha)
    ->Name("BR4:display_brush_alpha 256x256 vs pixman OVER a8/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PixmanOver, a8, Plane::kAlpha)
    ->Name("BR4:display_brush_alpha 256x256 vs pixman OVER a8/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(DisplayBrushOnTop)
    ->Name("BR6:display_brush opaque 256x256 layers on vs pixman SRC/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PixmanSrc)
    ->Name("BR6:display_brush opaque 256x256 layers on vs pixman SRC/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(TintBrush)
    ->Name("BR5:tint_brush 1920x1080 vs TintBitmap/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(TintBitmapDirectly)
    ->Name("BR5:tint_brush 1920x1080 vs TintBitmap/peer")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

// The shape and sprite commands through their handlers beside pixman, cairo and SDL2, single
// threaded, format 10: a filled Box on the direct road of a full-HD display (window and back
// buffer) beside pixman_fill of the same rectangle into two images (O6a); an anti-aliased
// Circle with border and shadow (O6b) and a rounded anti-aliased Box (O6c) into a full-HD
// brush beside cairo filling the same polygons; DisplaySprite moving a masked 64 x 64 sprite
// by 4 pixels on 640 x 480 beside SDL2 restoring the background and blitting the sprite
// colour-keyed (O6d).
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <pixman.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "objects/brush.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_geometry.h"
#include "objects/scene_hooks.h"
#include "objects/scene_seam.h"
#include "objects/sprite/sprite.h"
#include "objects/sprite/sprite_library.h"
#include "platform/linux/memory.h"
#include "platform/linux/testing.h"
#include "runtime/runtime_host.h"
#include "tests/scene/support/layer_scene.h"

namespace {

using namespace qv::draw;
using qv::test::Planes;

constexpr int32_t kHdWidth = 1920, kHdHeight = 1080;
constexpr int32_t kBoxX = 700, kBoxY = 300, kBoxWidth = 400, kBoxHeight = 300;
constexpr int32_t kCircleRadius = 150, kCircleX = 800, kCircleY = 400;
constexpr uint32_t kFill = 0xE0A020, kBorder = 0x2040C0, kShadow = 0x202020;
constexpr int32_t kBorderSize = 4, kShadowSize = 8, kShadowDirection = 3, kRoundLevel = 50;
constexpr int32_t kSpriteWidth = 640, kSpriteHeight = 480, kSpriteSide = 64, kStep = 4;
constexpr int32_t kSpriteX = 300, kSpriteY = 200;

Planes Background(int32_t width, int32_t height) {
    Planes p = qv::test::Solid(width, height, 0);
    for (size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = uint32_t(i * 0x010307) & 0xFFFFFF;
    return p;
}

// Drawing redirected into a brush of the display's size.
class BrushOutput final : public qv::objects::SceneSeam {
public:
    BrushOutput(int32_t width, int32_t height) : brush(AllocDisplayBitMap(width, height)) {}
    int FetchOutputBitmaps(qvVmState*, qvDisplayBitMap** bitmap) override {
        *bitmap = brush.get();
        return 0;
    }
    qv::OwnedBitMap brush;
};

class SpriteFrames final : public qv::objects::SceneHooks {
public:
    bool SpriteFrame(const qvSpriteInstance& s, int32_t frame, qv::gfx::PictureView* out) override {
        return qv::sprites::InstanceFrame(s, frame, out);
    }
};

// A display with layers off over a headless window, and the libraries that draw on it.
struct Ours {
    Ours(int32_t width, int32_t height)
        : screen(QV_FMT_A8R8G8B8), scene(Background(width, height)) {
        scene.view.layersEnabled = false;
        L = VmOpen();
        qv::InstallRuntimeHost(L);
        RegisterDrawLibrary(L);
        RegisterSpriteLibrary(L);
    }
    ~Ours() {
        FreeAllSprites(L);
        FreeDrawBuffers(L);
        VmClose(L);
    }
    // A command by its stored (lower-case) name.
    void Command(const char* name, std::initializer_list<double> args) {
        VmPushString(L, name);
        VmGetTable(L, VM_GLOBALSINDEX);
        for (double a : args) VmPushNumber(L, a);
        VmCall(L, int(args.size()), 1);
        VmSetTop(L, 0);
    }
    // The shape style of O6b and O6c: anti-aliased, with or without border and shadow.
    void Style(bool effects) {
        Command("setfillstyle", {FILLCOLOR});
        Command("setformstyle", {ANTIALIAS});
        if (!effects) return;
        Command("setformstyle", {EDGE, kBorder, kBorderSize});
        Command("setformstyle", {SHADOW, kShadow, kShadowSize, kShadowDirection});
    }
    qv::platform::testing::ScopedScreenFormat screen;
    qv::test::SceneDisplay scene;
    qvVmState* L = nullptr;
};

// Marks the run failed unless the pixel shows the colour: the work was done.
void ExpectColour(benchmark::State& bench, const qvDisplayBitMap* bitmap, int32_t x, int32_t y,
                  uint32_t colour) {
    if ((ReadBitMapPixel(bitmap, x, y) & 0xFFFFFF) != colour) bench.SkipWithError("not drawn");
}

// ---- O6a ------------------------------------------------------------------------------------

void OursBox(benchmark::State& bench) {
    Ours ours(kHdWidth, kHdHeight);
    ours.Command("setfillstyle", {FILLCOLOR});
    for (auto _ : bench) {
        ours.Command("box", {kBoxX, kBoxY, kBoxWidth, kBoxHeight, kFill});
        benchmark::ClobberMemory();
    }
    ExpectColour(bench, ours.scene.window->framebuffer, kBoxX + kBoxWidth - 1,
                 kBoxY + kBoxHeight - 1, kFill);
    ExpectColour(bench, ours.scene.displayBitmap.get(), kBoxX, kBoxY, kFill);
}

void PixmanBox(benchmark::State& bench) {
    std::vector<uint32_t> window(size_t(kHdWidth) * kHdHeight), back(window.size());
    for (auto _ : bench) {
        for (std::vector<uint32_t>* bits : {&window, &back}) {
            pixman_fill(bits->data(), kHdWidth, 32, kBoxX, kBoxY, kBoxWidth, kBoxHeight,
                        0xFF000000u | kFill);
        }
        benchmark::ClobberMemory();
    }
}

// ---- O6b, O6c -------------------------------------------------------------------------------

void OursShape(benchmark::State& bench, bool circle) {
    Ours ours(kHdWidth, kHdHeight);
    BrushOutput brush(kHdWidth, kHdHeight);
    qv::objects::SetSceneSeam(&brush);
    ours.scene.view.outputType = qv::gfx::kTargetBrush;
    ours.Style(circle);
    for (auto _ : bench) {
        if (circle) {
            ours.Command("circle", {kCircleX, kCircleY, kCircleRadius, kFill});
        } else {
            ours.Command("box", {kBoxX, kBoxY, kBoxWidth, kBoxHeight, kFill, kRoundLevel});
        }
        benchmark::ClobberMemory();
    }
    const int32_t x = circle ? kCircleX + kCircleRadius : kBoxX + kBoxWidth / 2;
    const int32_t y = circle ? kCircleY + kCircleRadius : kBoxY + kBoxHeight / 2;
    ExpectColour(bench, brush.brush.get(), x, y, kFill);
    qv::objects::SetSceneSeam(nullptr);
}

// The polygons our geometry makes for the shape, for cairo to fill.
struct Polygons {
    explicit Polygons(bool circle) {
        AllocShapeWork(&work);
        ResetDrawState(&state);
        state.fillStyle = FILLCOLOR;
        state.formStyle = ANTIALIAS | (circle ? EDGE | SHADOW : 0);
        state.borderSize = kBorderSize, state.borderColour = kBorder;
        state.shadowSize = kShadowSize, state.shadowColour = kShadow;
        state.shadowDirection = kShadowDirection;
        desc.drawState = &state;
        desc.type = circle ? CIRCLE : BOX;
        desc.width = circle ? 2 * kCircleRadius + 1 : kBoxWidth;
        desc.height = circle ? 2 * kCircleRadius + 1 : kBoxHeight;
        if (!circle)
            std::fill(std::begin(desc.cornerLevels), std::end(desc.cornerLevels), kRoundLevel);
        PrepareShapeGeometry(work, &desc, ShapeTransform{});
    }
    ~Polygons() { FreeShapeWork(&work); }
    qvShapeWork work;
    qvDrawState state{};
    qvShapeDesc desc{};
};

void Path(cairo_t* cr, const qvVertex* points, int32_t count, double x, double y) {
    cairo_new_path(cr);
    for (int32_t i = 0; i < count; ++i) cairo_line_to(cr, points[i].x + x, points[i].y + y);
    cairo_close_path(cr);
}

void Colour(cairo_t* cr, uint32_t rgb) {
    cairo_set_source_rgb(cr, (rgb >> 16) / 255.0, ((rgb >> 8) & 255) / 255.0, (rgb & 255) / 255.0);
}

void CairoShape(benchmark::State& bench, bool circle) {
    const Polygons polygons(circle);
    const qvShapeDesc& d = polygons.desc;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kHdWidth, kHdHeight);
    cairo_t* cr = cairo_create(surface);
    const double x = (circle ? kCircleX : kBoxX) + 0.5, y = (circle ? kCircleY : kBoxY) + 0.5;
    for (auto _ : bench) {
        if (circle) {
            Colour(cr, kShadow);
            Path(cr, d.borderPoints, d.borderCount, x + d.borderX + d.shadowX,
                 y + d.borderY + d.shadowY);
            cairo_fill(cr);
            Colour(cr, kBorder);
            Path(cr, d.borderPoints, d.borderCount, x + d.borderX, y + d.borderY);
            cairo_fill(cr);
        }
        Colour(cr, kFill);
        Path(cr, d.fillPoints, d.fillCount, x + d.fillX, y + d.fillY);
        cairo_fill(cr);
        cairo_surface_flush(surface);
        benchmark::ClobberMemory();
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

// ---- O6d ------------------------------------------------------------------------------------

// A 64 x 64 frame masked by a disc: the mask as ours, the colour key (0) as SDL's.
bool InDisc(int32_t x, int32_t y) {
    const int dx = 2 * x - kSpriteSide + 1, dy = 2 * y - kSpriteSide + 1;
    return dx * dx + dy * dy < kSpriteSide * kSpriteSide;
}

void OursSprite(benchmark::State& bench) {
    Ours ours(kSpriteWidth, kSpriteHeight);
    SpriteFrames hooks;
    qv::scene::SetObjectHooks(&hooks);
    Planes frame = qv::test::Solid(kSpriteSide, kSpriteSide, kFill);
    frame.mask.resize(frame.rgb.size());
    for (int32_t y = 0; y < kSpriteSide; ++y) {
        for (int32_t x = 0; x < kSpriteSide; ++x)
            frame.mask[size_t(y) * kSpriteSide + x] = InDisc(x, y);
    }
    qv::test::OwnedPlanes planes = qv::test::MakePlanes(frame);
    auto* bitmaps = static_cast<qvDisplayBitMap**>(AllocMemBlock(sizeof(void*), 1));
    auto* masks = static_cast<qvPlaneBitMap**>(AllocMemBlock(sizeof(void*), 1));
    bitmaps[0] = planes.bitmap.release(), masks[0] = planes.mask.release();
    qvObjectId id{1, nullptr};
    qvSprite* sprite = nullptr;
    AddSprite(&id, kSpriteSide, kSpriteSide, {nullptr, bitmaps, masks, nullptr, 1}, kNoTransparency,
              nullptr, &sprite);
    int32_t x = kSpriteX;
    for (auto _ : bench) {
        x = x == kSpriteX ? kSpriteX + kStep : kSpriteX;
        ours.Command("displaysprite", {1, double(x), kSpriteY});
        benchmark::ClobberMemory();
    }
    ExpectColour(bench, ours.scene.window->framebuffer, x + kSpriteSide / 2,
                 kSpriteY + kSpriteSide / 2, kFill);
    FreeAllSprites(ours.L);
    qv::scene::SetObjectHooks(nullptr);
}

void SdlSprite(benchmark::State& bench) {
    using qv::bench::Owned;
    auto surface = [](int32_t w, int32_t h) {
        return Owned<SDL_Surface>(
            SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888));
    };
    Owned<SDL_Surface> back = surface(kSpriteWidth, kSpriteHeight);
    Owned<SDL_Surface> screen = surface(kSpriteWidth, kSpriteHeight);
    Owned<SDL_Surface> sprite = surface(kSpriteSide, kSpriteSide);
    const Planes background = Background(kSpriteWidth, kSpriteHeight);
    for (int32_t y = 0; y < kSpriteHeight; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(back->pixels) +
                                                size_t(y) * back->pitch);
        for (int32_t x = 0; x < kSpriteWidth; ++x) row[x] = 0xFF000000u | background.At(x, y);
    }
    for (int32_t y = 0; y < kSpriteSide; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(sprite->pixels) +
                                                size_t(y) * sprite->pitch);
        for (int32_t x = 0; x < kSpriteSide; ++x) row[x] = InDisc(x, y) ? 0xFF000000u | kFill : 0;
    }
    SDL_SetSurfaceBlendMode(back.get(), SDL_BLENDMODE_NONE);
    SDL_SetSurfaceBlendMode(sprite.get(), SDL_BLENDMODE_NONE);
    SDL_SetColorKey(sprite.get(), SDL_TRUE, 0);
    int32_t x = kSpriteX;
    for (auto _ : bench) {
        const int32_t from = x;
        x = x == kSpriteX ? kSpriteX + kStep : kSpriteX;
        SDL_Rect old{std::min(from, x), kSpriteY, kSpriteSide + kStep, kSpriteSide};
        SDL_Rect at = old;
        SDL_BlitSurface(back.get(), &old, screen.get(), &at);
        SDL_Rect place{x, kSpriteY, kSpriteSide, kSpriteSide};
        SDL_BlitSurface(sprite.get(), nullptr, screen.get(), &place);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(OursBox)->Name("O6a:Box 400x300 direct road vs 2x pixman_fill/ours");
BENCHMARK(PixmanBox)->Name("O6a:Box 400x300 direct road vs 2x pixman_fill/peer");
BENCHMARK_CAPTURE(OursShape, b, true)->Name("O6b:Circle r 150 AA+EDGE+SHADOW vs cairo/ours");
BENCHMARK_CAPTURE(CairoShape, b, true)->Name("O6b:Circle r 150 AA+EDGE+SHADOW vs cairo/peer");
BENCHMARK_CAPTURE(OursShape, c, false)->Name("O6c:rounded Box 400x300 AA vs cairo fill/ours");
BENCHMARK_CAPTURE(CairoShape, c, false)->Name("O6c:rounded Box 400x300 AA vs cairo fill/peer");
BENCHMARK(OursSprite)->Name("O6d:DisplaySprite 64x64 masked move 4 vs SDL2/ours");
BENCHMARK(SdlSprite)->Name("O6d:DisplaySprite 64x64 masked move 4 vs SDL2/peer");

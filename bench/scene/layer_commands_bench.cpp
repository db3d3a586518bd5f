// The move queue and rotation commands through their handlers on a 640 x 480 display: DoMove
// of 100 LAYER entries moving masked 64 x 64 brush layers by 3 pixels with its merged refresh
// beside pixman composing the same merged rectangles (background SRC, layers OVER) and
// copying them to a window buffer (O8a); RotateLayer by 30 degrees of a 256 x 256 layer, the
// transform road and the refresh, beside pixman compositing the layer turned by the same
// angle with the nearest filter (O8b) and with the bilinear one (O8b2).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/linux/testing.h"
#include "runtime/runtime_host.h"
#include "scene/layers/layers_library.h"
#include "tests/scene/support/layer_scene.h"

namespace {

using qv::test::Planes;

constexpr int32_t kWidth = 640, kHeight = 480;
constexpr int kMovers = 100, kMoverSide = 64, kMove = 3;
constexpr int kTurnSide = 256, kAngle = 30;

Planes Background() {
    Planes p = qv::test::Solid(kWidth, kHeight, 0);
    for (size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = uint32_t(i * 0x010307) & 0xFFFFFF;
    return p;
}

// A square of side pixels masked by a disc.
Planes Disc(int32_t side, uint32_t colour) {
    Planes p = qv::test::Solid(side, side, colour);
    p.mask.resize(p.rgb.size());
    for (int32_t y = 0; y < side; ++y) {
        for (int32_t x = 0; x < side; ++x) {
            const int dx = 2 * x - side, dy = 2 * y - side;
            p.mask[size_t(y) * side + x] = dx * dx + dy * dy < side * side;
        }
    }
    return p;
}

// Where mover i starts: ten rows of ten, overlapping their neighbours a little.
int32_t MoverX(int i) {
    return (i % 10) * 57 + 4;
}
int32_t MoverY(int i) {
    return (i / 10) * 41 + 4;
}

struct Ours {
    Ours() : screen(QV_FMT_A8R8G8B8), scene(Background()) {
        L = VmOpen();
        qv::InstallRuntimeHost(L);
        RegisterLayersLibrary(L);
    }
    ~Ours() {
        FreeLayerList(L, scene.picture);
        FreeLayersLibrary(L);
        VmClose(L);
    }
    void Command(const char* name, std::initializer_list<double> args) {
        VmPushString(L, name);
        VmGetTable(L, VM_GLOBALSINDEX);
        for (double a : args) VmPushNumber(L, a);
        VmCall(L, int(args.size()), 1);
        VmSetTop(L, 0);
    }
    qv::platform::testing::ScopedScreenFormat screen;
    qv::test::SceneDisplay scene;
    qvVmState* L = nullptr;
};

void DoMoveBatch(benchmark::State& state) {
    Ours ours;
    for (int i = 0; i < kMovers; ++i) {
        ours.scene.AddLayer(ours.L, Disc(kMoverSide, uint32_t(i * 0x0A1B2C) & 0xFFFFFF), MoverX(i),
                            MoverY(i));
    }
    // Queue 1 moves every layer 3 pixels right and down, queue 2 back.
    for (int i = 0; i < kMovers; ++i) {
        ours.Command("addmove",
                     {1, 22, double(i + 1), double(MoverX(i) + kMove), double(MoverY(i) + kMove)});
        ours.Command("addmove", {2, 22, double(i + 1), double(MoverX(i)), double(MoverY(i))});
    }
    int queue = 1;
    for (auto _ : state) {
        ours.Command("domove", {double(queue)});
        queue = 3 - queue;
        benchmark::ClobberMemory();
    }
}

template <typename T>
struct Unref {
    void operator()(T* image) const { pixman_image_unref(image); }
};
using Image = std::unique_ptr<pixman_image_t, Unref<pixman_image_t>>;

struct PixmanLayer {
    std::vector<uint32_t> bits;
    std::vector<uint8_t> a8;
    Image image, mask;
    int32_t x = 0, y = 0, side = 0;
};

// A picture of background and layers composed by pixman into a destination that is then
// copied to a window buffer, as the refresh does.
struct PixmanScene {
    PixmanScene() : backBits(Background().rgb), destBits(backBits.size()), window(backBits.size()) {
        back.reset(pixman_image_create_bits(PIXMAN_x8r8g8b8, kWidth, kHeight, backBits.data(),
                                            kWidth * 4));
        dest.reset(pixman_image_create_bits(PIXMAN_x8r8g8b8, kWidth, kHeight, destBits.data(),
                                            kWidth * 4));
    }
    PixmanLayer& Add(const Planes& planes, int32_t x, int32_t y) {
        PixmanLayer& p = layers.emplace_back();
        p.x = x, p.y = y, p.side = planes.width;
        p.bits = planes.rgb;
        p.image.reset(
            pixman_image_create_bits(PIXMAN_x8r8g8b8, p.side, p.side, p.bits.data(), p.side * 4));
        p.a8.resize(planes.mask.size());
        for (size_t i = 0; i < p.a8.size(); ++i) p.a8[i] = planes.mask[i] != 0 ? 255 : 0;
        p.mask.reset(pixman_image_create_bits(PIXMAN_a8, p.side, p.side,
                                              reinterpret_cast<uint32_t*>(p.a8.data()), p.side));
        return p;
    }
    // Background SRC, then each layer OVER through its mask, clipped to the rectangle.
    void Compose(int32_t x, int32_t y, int32_t w, int32_t h) {
        pixman_image_composite32(PIXMAN_OP_SRC, back.get(), nullptr, dest.get(), x, y, 0, 0, x, y,
                                 w, h);
        for (PixmanLayer& l : layers) {
            const int32_t left = std::max(x, l.x), top = std::max(y, l.y);
            const int32_t right = std::min(x + w, l.x + l.side);
            const int32_t bottom = std::min(y + h, l.y + l.side);
            if (right <= left || bottom <= top) continue;
            pixman_image_composite32(PIXMAN_OP_OVER, l.image.get(), l.mask.get(), dest.get(),
                                     left - l.x, top - l.y, left - l.x, top - l.y, left, top,
                                     right - left, bottom - top);
        }
        CopyToWindow(x, y, w, h);
    }
    void CopyToWindow(int32_t x, int32_t y, int32_t w, int32_t h) {
        for (int32_t row = y; row < y + h; ++row) {
            std::memcpy(&window[size_t(row) * kWidth + x], &destBits[size_t(row) * kWidth + x],
                        size_t(w) * 4);
        }
    }

    std::vector<uint32_t> backBits, destBits, window;
    Image back, dest;
    std::vector<PixmanLayer> layers;
};

struct Rect {
    int32_t x1, y1, x2, y2;
    bool live;
};

void PixmanBatch(benchmark::State& state) {
    PixmanScene pix;
    for (int i = 0; i < kMovers; ++i) {
        pix.Add(Disc(kMoverSide, uint32_t(i * 0x0A1B2C) & 0xFFFFFF), MoverX(i), MoverY(i));
    }
    std::vector<Rect> rects(kMovers);
    int direction = 1;
    for (auto _ : state) {
        // Each layer's old and new area, merged in one pass in entry order, then composed.
        for (int i = 0; i < kMovers; ++i) {
            PixmanLayer& l = pix.layers[size_t(i)];
            const int32_t nx = l.x + direction * kMove, ny = l.y + direction * kMove;
            rects[size_t(i)] = {std::min(l.x, nx), std::min(l.y, ny),
                                std::max(l.x, nx) + kMoverSide - 1,
                                std::max(l.y, ny) + kMoverSide - 1, true};
            l.x = nx, l.y = ny;
        }
        for (Rect& a : rects) {
            if (!a.live) continue;
            for (Rect& b : rects) {
                if (&a == &b || !b.live || b.x1 > a.x2 || a.x1 > b.x2 || b.y1 > a.y2 ||
                    a.y1 > b.y2) {
                    continue;
                }
                a = {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2),
                     std::max(a.y2, b.y2), true};
                b.live = false;
            }
        }
        for (const Rect& r : rects) {
            if (!r.live) continue;
            const int32_t x2 = std::min(r.x2, kWidth - 1), y2 = std::min(r.y2, kHeight - 1);
            pix.Compose(r.x1, r.y1, x2 - r.x1 + 1, y2 - r.y1 + 1);
        }
        direction = -direction;
        benchmark::ClobberMemory();
    }
}

constexpr int32_t kTurnX = 192, kTurnY = 112;

void RotateTurn(benchmark::State& state, bool smooth) {
    Ours ours;
    ours.scene.AddLayer(ours.L, Disc(kTurnSide, 0x3366CC), kTurnX, kTurnY);
    int angle = kAngle;
    for (auto _ : state) {
        ours.Command("rotatelayer", {1, double(angle), smooth ? 1.0 : 0.0});
        angle = -angle;  // the same turn the other way: the transform changes every time
        benchmark::ClobberMemory();
    }
}

void RotateNearest(benchmark::State& state) {
    RotateTurn(state, false);
}
void RotateSmooth(benchmark::State& state) {
    RotateTurn(state, true);
}

// pixman: the layer turned about its centre into its bounding box, which is composed again
// (background SRC, the turned layer OVER) and copied to the window.
void PixmanTurn(benchmark::State& state, pixman_filter_t filter) {
    PixmanScene pix;
    PixmanLayer& layer = pix.Add(Disc(kTurnSide, 0x3366CC), kTurnX, kTurnY);
    pixman_image_set_filter(layer.image.get(), filter, nullptr, 0);
    pixman_image_set_filter(layer.mask.get(), filter, nullptr, 0);
    const double turned =
        kTurnSide * (std::cos(kAngle * M_PI / 180) + std::sin(kAngle * M_PI / 180));
    const auto box = int32_t(std::ceil(turned));
    const int32_t bx = kTurnX + kTurnSide / 2 - box / 2, by = kTurnY + kTurnSide / 2 - box / 2;
    int angle = kAngle;
    for (auto _ : state) {
        // Destination pixel -> source pixel: about the box's centre by -angle.
        pixman_transform_t t;
        pixman_transform_init_translate(&t, pixman_double_to_fixed(-box / 2.0),
                                        pixman_double_to_fixed(-box / 2.0));
        const double r = -angle * M_PI / 180;
        pixman_transform_rotate(&t, nullptr, pixman_double_to_fixed(std::cos(r)),
                                pixman_double_to_fixed(std::sin(r)));
        pixman_transform_translate(&t, nullptr, pixman_double_to_fixed(kTurnSide / 2.0),
                                   pixman_double_to_fixed(kTurnSide / 2.0));
        pixman_image_set_transform(layer.image.get(), &t);
        pixman_image_set_transform(layer.mask.get(), &t);
        pixman_image_composite32(PIXMAN_OP_SRC, pix.back.get(), nullptr, pix.dest.get(), bx, by, 0,
                                 0, bx, by, box, box);
        pixman_image_composite32(PIXMAN_OP_OVER, layer.image.get(), layer.mask.get(),
                                 pix.dest.get(), 0, 0, 0, 0, bx, by, box, box);
        pix.CopyToWindow(bx, by, box, box);
        angle = -angle;
        benchmark::ClobberMemory();
    }
}

void PixmanNearest(benchmark::State& state) {
    PixmanTurn(state, PIXMAN_FILTER_NEAREST);
}
void PixmanBilinear(benchmark::State& state) {
    PixmanTurn(state, PIXMAN_FILTER_BILINEAR);
}

}  // namespace

BENCHMARK(DoMoveBatch)->Name("O8a:DoMove 100 masked 64x64 layers merged refresh vs pixman/ours");
BENCHMARK(PixmanBatch)->Name("O8a:DoMove 100 masked 64x64 layers merged refresh vs pixman/peer");
BENCHMARK(RotateNearest)->Name("O8b:RotateLayer 30 256x256 nearest vs pixman/ours");
BENCHMARK(PixmanNearest)->Name("O8b:RotateLayer 30 256x256 nearest vs pixman/peer");
BENCHMARK(RotateSmooth)->Name("O8b2:RotateLayer 30 256x256 bilinear vs pixman/ours");
BENCHMARK(PixmanBilinear)->Name("O8b2:RotateLayer 30 256x256 bilinear vs pixman/peer");

// The move queue and rotation commands through their handlers on a 640 x 480 display: DoMove
// of 100 LAYER entries moving masked 64 x 64 brush layers by 3 pixels with its merged refresh
// beside pixman composing the same merged rectangles (background SRC, layers OVER) and
// copying them to a window buffer (O8a); RotateLayer by 30 degrees of a 256 x 256 layer, the
// transform road and the refresh, beside pixman compositing the layer turned by the same
// angle with the nearest filter (O8b) and with the bilinear one (O8b2).
#include <cmath>

#include "bench/scene/layer_bench_scene.h"

namespace {

using namespace layer_bench;

constexpr int kTurnSide = 256, kAngle = 30;

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

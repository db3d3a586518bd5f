// SetLayerStyle through its handler on a 640 x 480 display: one call moving 100 masked
// 64 x 64 brush layers by 3 pixels with its final refresh, beside pixman composing the same
// rectangles, each layer's old and new area (background SRC, layers OVER through their
// masks), and copying them to a window buffer (O7a); the transparency of a 256 x 256 layer changed
// 100 times, each time on the refresh road, beside pixman composing the layer OVER the background
// through a solid alpha mask as often (O7b).
#include <utility>

#include "bench/scene/layer_bench_scene.h"

namespace {

using namespace layer_bench;

constexpr int32_t kFadeSide = 256, kFadeX = 192, kFadeY = 112;
constexpr int kFades = 100;

void StyleMoveBatch(benchmark::State& state) {
    Ours ours;
    for (int i = 0; i < kMovers; ++i) {
        ours.scene.AddLayer(ours.L, Disc(kMoverSide, uint32_t(i * 0x0A1B2C) & 0xFFFFFF), MoverX(i),
                            MoverY(i));
    }
    int offset = kMove;
    for (auto _ : state) {
        ours.MoveLayers(kMovers, [&](int i) {
            return std::pair{MoverX(i) + offset, MoverY(i) + offset};
        });
        offset = kMove - offset;  // there and back
        benchmark::ClobberMemory();
    }
}

// The rectangles the move road collects: each layer's old area, then its new one.
void PixmanMoves(benchmark::State& state) {
    PixmanScene pix;
    for (int i = 0; i < kMovers; ++i) {
        pix.Add(Disc(kMoverSide, uint32_t(i * 0x0A1B2C) & 0xFFFFFF), MoverX(i), MoverY(i));
    }
    std::vector<Rect> rects;
    int direction = 1;
    for (auto _ : state) {
        rects.clear();
        for (PixmanLayer& l : pix.layers) {
            rects.push_back({l.x, l.y, l.x + kMoverSide - 1, l.y + kMoverSide - 1, true});
            l.x += direction * kMove, l.y += direction * kMove;
            rects.push_back({l.x, l.y, l.x + kMoverSide - 1, l.y + kMoverSide - 1, true});
        }
        for (const Rect& r : rects) {
            const int32_t x2 = std::min(r.x2, kWidth - 1), y2 = std::min(r.y2, kHeight - 1);
            pix.Compose(r.x1, r.y1, x2 - r.x1 + 1, y2 - r.y1 + 1);
        }
        direction = -direction;
        benchmark::ClobberMemory();
    }
}

// A square whose every pixel differs from its neighbours.
Planes Fader() {
    Planes p = qv::test::Solid(kFadeSide, kFadeSide, 0);
    for (size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = uint32_t(i * 0x050301) & 0xFFFFFF;
    return p;
}

uint32_t FadeLevel(int i) {
    return uint32_t(i * 37 + 1) % 256;
}

void StyleFade(benchmark::State& state) {
    Ours ours;
    ours.scene.AddLayer(ours.L, Fader(), kFadeX, kFadeY);
    qvVmState* L = ours.L;
    for (auto _ : state) {
        for (int i = 0; i < kFades; ++i) {
            VmPushString(L, "setlayerstyle");
            VmGetTable(L, VM_GLOBALSINDEX);
            VmPushNumber(L, 1);
            VmNewTable(L);
            VmPushString(L, "transparency");
            VmPushNumber(L, FadeLevel(i));
            VmRawSet(L, -3);
            VmCall(L, 2, 0);
        }
        benchmark::ClobberMemory();
    }
}

// The layer OVER the background through a solid mask of its opacity, as often.
void PixmanFade(benchmark::State& state) {
    PixmanScene pix;
    const Planes fader = Fader();
    std::vector<uint32_t> bits = fader.rgb;
    Image layer(pixman_image_create_bits(PIXMAN_x8r8g8b8, kFadeSide, kFadeSide, bits.data(),
                                         kFadeSide * 4));
    for (auto _ : state) {
        for (int i = 0; i < kFades; ++i) {
            const uint16_t opacity = uint16_t((255 - FadeLevel(i)) * 0x101);
            const pixman_color_t colour{0, 0, 0, opacity};
            Image mask(pixman_image_create_solid_fill(&colour));
            pixman_image_composite32(PIXMAN_OP_SRC, pix.back.get(), nullptr, pix.dest.get(), kFadeX,
                                     kFadeY, 0, 0, kFadeX, kFadeY, kFadeSide, kFadeSide);
            pixman_image_composite32(PIXMAN_OP_OVER, layer.get(), mask.get(), pix.dest.get(), 0, 0,
                                     0, 0, kFadeX, kFadeY, kFadeSide, kFadeSide);
            pix.CopyToWindow(kFadeX, kFadeY, kFadeSide, kFadeSide);
        }
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(StyleMoveBatch)->Name("O7a:SetLayerStyle 100 masked 64x64 layers moved vs pixman/ours");
BENCHMARK(PixmanMoves)->Name("O7a:SetLayerStyle 100 masked 64x64 layers moved vs pixman/peer");
BENCHMARK(StyleFade)->Name("O7b:transparency of 256x256 layer x100 vs pixman/ours");
BENCHMARK(PixmanFade)->Name("O7b:transparency of 256x256 layer x100 vs pixman/peer");

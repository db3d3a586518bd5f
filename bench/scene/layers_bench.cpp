// The layers commands through their handlers on a full-HD display with 24 layers: 1000
// TranslateLayer steps of a 128 x 128 masked layer beside pixman recomposing the same
// rectangles and copying them to a window buffer (S6a), and Collision of two overlapping
// 256 x 256 alpha layers that never collide beside OpenCV's countNonZero(bitwise_and) on the
// same planes (S6b).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cstring>
#include <opencv2/core.hpp>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "bench/scene/layer_bench_scene.h"
#include "platform/linux/testing.h"
#include "runtime/runtime_host.h"
#include "scene/layers/layers_library.h"
#include "tests/scene/support/layer_scene.h"

namespace {

using namespace qv::bench;
using layer_bench::Image;
using layer_bench::Ours;
using layer_bench::PixmanLayer;
using qv::test::Planes;

constexpr int kLayers = 24, kSide = 256, kMover = 128, kSteps = 1000, kStep = 4;

struct StackLayer {
    Planes planes;
    int32_t x, y;
};

Planes Background() {
    return layer_bench::Background(kWidth, kHeight);
}

// 24 layers of 256 x 256 (every third masked by a disc), then the masked 128 x 128 mover.
std::vector<StackLayer> Stack() {
    std::vector<StackLayer> layers;
    for (int i = 0; i <= kLayers; ++i) {
        const int side = i == kLayers ? kMover : kSide;
        StackLayer l{qv::test::Solid(side, side, uint32_t(i * 0x0A1B2C) & 0xFFFFFF),
                     (i * 263) % (kWidth - kSide), (i * 151) % (kHeight - kSide)};
        if (i % 3 == 1 || i == kLayers) l.planes.mask = layer_bench::Disc(side, 0).mask;
        layers.push_back(std::move(l));
    }
    return layers;
}

void TranslateSteps(benchmark::State& state) {
    Ours ours(Background());
    for (const StackLayer& l : Stack()) ours.scene.AddLayer(ours.L, l.planes, l.x, l.y);
    for (auto _ : state) {
        for (int i = 0; i < kSteps; ++i) {
            const int d = (i / 50) % 2 == 0 ? kStep : -kStep;
            ours.Command("translatelayer", {double(kLayers + 1), double(d), double(d / 2)});
        }
        benchmark::ClobberMemory();
    }
}

// pixman: the same stack recomposed over each step's old and new bounds, then copied to a
// window buffer.
void PixmanTranslate(benchmark::State& state) {
    const Planes background = Background();
    std::vector<uint32_t> backBits(background.rgb), destBits(background.rgb.size()),
        window(background.rgb.size());
    Image back(
        pixman_image_create_bits(PIXMAN_x8r8g8b8, kWidth, kHeight, backBits.data(), kWidth * 4));
    Image dest(
        pixman_image_create_bits(PIXMAN_x8r8g8b8, kWidth, kHeight, destBits.data(), kWidth * 4));
    std::vector<PixmanLayer> layers;
    for (const StackLayer& l : Stack()) {
        PixmanLayer& p = layers.emplace_back();
        p.x = l.x, p.y = l.y, p.side = l.planes.width;
        p.bits = l.planes.rgb;
        p.image.reset(
            pixman_image_create_bits(PIXMAN_x8r8g8b8, p.side, p.side, p.bits.data(), p.side * 4));
        if (l.planes.mask.empty()) continue;
        p.a8.resize(l.planes.mask.size());
        for (size_t i = 0; i < p.a8.size(); ++i) p.a8[i] = l.planes.mask[i] != 0 ? 255 : 0;
        p.mask.reset(pixman_image_create_bits(PIXMAN_a8, p.side, p.side,
                                              reinterpret_cast<uint32_t*>(p.a8.data()), p.side));
    }
    const auto compose = [&](int32_t x, int32_t y, int32_t w, int32_t h) {
        pixman_image_composite32(PIXMAN_OP_SRC, back.get(), nullptr, dest.get(), x, y, 0, 0, x, y,
                                 w, h);
        for (PixmanLayer& l : layers) {
            const int32_t left = std::max(x, l.x), top = std::max(y, l.y);
            const int32_t right = std::min(x + w, l.x + l.side);
            const int32_t bottom = std::min(y + h, l.y + l.side);
            if (right <= left || bottom <= top) continue;
            pixman_image_composite32(l.mask ? PIXMAN_OP_OVER : PIXMAN_OP_SRC, l.image.get(),
                                     l.mask.get(), dest.get(), left - l.x, top - l.y, left - l.x,
                                     top - l.y, left, top, right - left, bottom - top);
        }
        for (int32_t row = y; row < y + h; ++row) {
            std::memcpy(&window[size_t(row) * kWidth + x], &destBits[size_t(row) * kWidth + x],
                        size_t(w) * 4);
        }
    };
    PixmanLayer& mover = layers.back();
    for (auto _ : state) {
        for (int i = 0; i < kSteps; ++i) {
            const int d = (i / 50) % 2 == 0 ? kStep : -kStep;
            const int32_t oldX = mover.x, oldY = mover.y;
            mover.x += d, mover.y += d / 2;
            const int32_t x = std::max(0, std::min(oldX, mover.x));
            const int32_t y = std::max(0, std::min(oldY, mover.y));
            const int32_t right = std::min(kWidth, std::max(oldX, mover.x) + kMover);
            const int32_t bottom = std::min(kHeight, std::max(oldY, mover.y) + kMover);
            compose(x, y, right - x, bottom - y);
        }
        benchmark::ClobberMemory();
    }
}

// Two 256 x 256 alpha discs overlapping by half, whose planes never both hold a value above 0
// (alternate columns), so that the test scans the whole overlap.
Planes AlphaColumns(int parity) {
    Planes p = qv::test::Solid(kSide, kSide, 0x808080);
    p.alpha.resize(p.rgb.size());
    for (int32_t y = 0; y < kSide; ++y) {
        for (int32_t x = 0; x < kSide; ++x) {
            p.alpha[size_t(y) * kSide + x] = (x + parity) % 2 == 0 ? 200 : 0;
        }
    }
    return p;
}

constexpr int32_t kShift = kSide / 2;

void CollisionScan(benchmark::State& state) {
    Ours ours(Background());
    for (const StackLayer& l : Stack()) ours.scene.AddLayer(ours.L, l.planes, l.x, l.y);
    ours.scene.AddLayer(ours.L, AlphaColumns(0), 600, 400);
    ours.scene.AddLayer(ours.L, AlphaColumns(kShift % 2 == 0 ? 1 : 0), 600 + kShift, 400);
    for (auto _ : state) {
        ours.Command("collision", {22, kLayers + 2, kLayers + 3});
        benchmark::ClobberMemory();
    }
}

void CvCollision(benchmark::State& state) {
    const Planes a = AlphaColumns(0), b = AlphaColumns(kShift % 2 == 0 ? 1 : 0);
    const cv::Mat first(kSide, kSide, CV_8UC1, const_cast<uint8_t*>(a.alpha.data()));
    const cv::Mat second(kSide, kSide, CV_8UC1, const_cast<uint8_t*>(b.alpha.data()));
    cv::Mat both;
    for (auto _ : state) {
        cv::bitwise_and(first(cv::Rect(kShift, 0, kSide - kShift, kSide)),
                        second(cv::Rect(0, 0, kSide - kShift, kSide)), both);
        benchmark::DoNotOptimize(cv::countNonZero(both));
    }
}

}  // namespace

BENCHMARK(TranslateSteps)->Name("S6a:1000 TranslateLayer 128x128 masked vs pixman/ours");
BENCHMARK(PixmanTranslate)->Name("S6a:1000 TranslateLayer 128x128 masked vs pixman/peer");
BENCHMARK(CollisionScan)->Name("S6b:Collision 256x256 alpha full scan vs OpenCV/ours");
BENCHMARK(CvCollision)->Name("S6b:Collision 256x256 alpha full scan vs OpenCV/peer");

// S8a: a full-HD display with layers on and 100 alpha brush layers of 128 x 128 (soft discs,
// format 10), all moving every frame: one SetLayerStyle call a frame, whose merged dirty
// rectangles are recomposed and copied to the window. Frames per second beside pixman
// composing the same rectangles (a copy of the background, then the layers OVER through their
// alpha) and copying them to a window buffer; and the machine's memcpy bandwidth copying one
// 1920 x 1080 x 4 frame, the ceiling of any whole-frame work.
#include <utility>

#include "bench/scene/layer_bench_scene.h"
#include "scene/layers/dirty_rects.h"

namespace {

using namespace layer_bench;

constexpr int32_t kFrameWidth = 1920, kFrameHeight = 1080, kSide = 128;
constexpr int kLayers = 100;
// The layers go out by 8 pixels across and 4 down a frame for half the period, then back.
constexpr int kPeriod = 16;
constexpr int32_t kStepX = 8, kStepY = 4;

// Ten rows of ten, each row overlapping the next.
int32_t HomeX(int i) {
    return (i % 10) * 178 + 8;
}
int32_t HomeY(int i) {
    return (i / 10) * 96 + 8;
}

std::pair<int32_t, int32_t> Place(int i, int frame) {
    const int out = std::min(frame % kPeriod, kPeriod - frame % kPeriod);
    return {HomeX(i) + out * kStepX, HomeY(i) + out * kStepY};
}

uint32_t Colour(int i) {
    return uint32_t(i * 0x0A1B2C) & 0xFFFFFF;
}

void SceneFrames(benchmark::State& state) {
    Ours ours(Background(kFrameWidth, kFrameHeight));
    for (int i = 0; i < kLayers; ++i) {
        const auto [x, y] = Place(i, 0);
        ours.scene.AddLayer(ours.L, SoftDisc(kSide, Colour(i)), x, y);
    }
    int frame = 0;
    for (auto _ : state) {
        ++frame;
        ours.MoveLayers(kLayers, [&](int i) { return Place(i, frame); });
        benchmark::ClobberMemory();
    }
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// The rectangles a frame refreshes: each layer's old area, then its new one, merged as the
// layers' refresh merges them.
std::vector<qvRect> FrameRects(int frame) {
    qvRectList list{};
    for (int i = 0; i < kLayers; ++i) {
        for (int at : {frame + kPeriod - 1, frame}) {
            const auto [x, y] = Place(i, at);
            AppendRect(&list, x, y, kSide, kSide, true);
        }
    }
    MergeDirtyRects(&list);
    std::vector<qvRect> rects;
    for (int32_t i = 0; i < list.count; ++i) {
        if (list.rects[i].x1 != kMergedAway) rects.push_back(list.rects[i]);
    }
    FreeRectList(&list);
    return rects;
}

void PixmanFrames(benchmark::State& state) {
    PixmanScene pix(Background(kFrameWidth, kFrameHeight));
    for (int i = 0; i < kLayers; ++i) {
        const auto [x, y] = Place(i, 0);
        pix.Add(SoftDisc(kSide, Colour(i)), x, y);
    }
    std::vector<std::vector<qvRect>> frames;
    for (int frame = 0; frame < kPeriod; ++frame) frames.push_back(FrameRects(frame));
    int frame = 0;
    for (auto _ : state) {
        ++frame;
        for (int i = 0; i < kLayers; ++i) {
            std::tie(pix.layers[size_t(i)].x, pix.layers[size_t(i)].y) = Place(i, frame);
        }
        for (const qvRect& r : frames[size_t(frame % kPeriod)]) {
            pix.Compose(r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
        }
        benchmark::ClobberMemory();
    }
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void FrameMemcpy(benchmark::State& state) {
    const size_t bytes = size_t(kFrameWidth) * kFrameHeight * 4;
    std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

}  // namespace

BENCHMARK(SceneFrames)
    ->Name("S8a:100 moving 128x128 alpha layers on 1920x1080 vs pixman/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PixmanFrames)
    ->Name("S8a:100 moving 128x128 alpha layers on 1920x1080 vs pixman/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(FrameMemcpy)->Name("S8a:memcpy of a 1920x1080x4 frame")->Unit(benchmark::kMicrosecond);

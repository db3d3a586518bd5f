// Copying a brush beside the physical limit: CopyBrushEx of a full-HD brush with an alpha
// plane (new bitmaps, the copy listed, then freed) against malloc, memcpy and free of the same
// planes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "objects/brush.h"
#include "platform/linux/lists.h"

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

qvBrush* SourceBrush() {
    qvBrush* brush = nullptr;
    CreateBrushBitmaps({1, nullptr}, kWidth, kHeight, 0x336699, false, true, false, false, &brush);
    return brush;
}

void CopyBrush(benchmark::State& state) {
    qvBrush* source = SourceBrush();
    for (auto _ : state) {
        qvBrush* copy = nullptr;
        if (CopyBrushEx(nullptr, source, {2, nullptr}, false, &copy) != 0) {
            state.SkipWithError("out of memory");
            break;
        }
        benchmark::DoNotOptimize(copy->bitmap->pixels);
        FreeBrushById(nullptr, {2, nullptr}, true);
    }
    FreeAllBrushes(nullptr);
}

void MemcpyPlanes(benchmark::State& state) {
    qvBrush* source = SourceBrush();
    const size_t pixelBytes =
        size_t(source->bitmap->rowLength) * source->bitmap->bytesPerPixel * kHeight;
    const size_t alphaBytes = size_t(source->alpha->bytesPerRow) * kHeight;
    for (auto _ : state) {
        void* pixels = std::malloc(pixelBytes);
        void* alpha = std::malloc(alphaBytes);
        std::memcpy(pixels, source->bitmap->pixels, pixelBytes);
        std::memcpy(alpha, source->alpha->plane, alphaBytes);
        benchmark::DoNotOptimize(pixels);
        benchmark::DoNotOptimize(alpha);
        std::free(alpha);
        std::free(pixels);
    }
    FreeAllBrushes(nullptr);
}

}  // namespace

BENCHMARK(CopyBrush)->Name("BR2:copy_brush/ours")->Unit(benchmark::kMicrosecond);
BENCHMARK(MemcpyPlanes)->Name("BR2:copy_brush/peer")->Unit(benchmark::kMicrosecond);

// Measuring a line in a style beside cairo: the 64-character line of Vera Sans at 16 pixels
// measured 1000 times by TextExtentRaw (the font front end's extent and what the style adds).
#include "bench/objects/font_bench_support.h"
#include "objects/text/text_extent.h"

namespace {

using namespace qv::bench;

void StyledExtentLines(benchmark::State& state) {
    Fonts fonts;
    qvTextStyle style = {QV_STYLE_ANTIALIAS, 0xFFFFFF, 0, 0x0093DD, 4, 3, 2, fonts.sans()};
    qvStyledExtent extent{};
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            TextExtentRaw(kLine.data(), int32_t(kLine.size()), 0, &extent, style);
            benchmark::DoNotOptimize(extent);
        }
    }
}

}  // namespace

BENCHMARK(StyledExtentLines)
    ->Name("T2a:TextExtentRaw line x1000 vs cairo_text_extents/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CairoExtentLines)
    ->Name("T2a:TextExtentRaw line x1000 vs cairo_text_extents/peer")
    ->Unit(benchmark::kMillisecond);

// Flood fill on pictures, limits and seeds drawn from the fuzzer's bytes, in every format:
// the fill stays inside its buffer (guarded rows) and its limits, ends, and, where no pixel
// held the fill colour before, fills exactly the region a breadth-first search reaches.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gfx/kernels/filters.h"
#include "gfx/kernels/rows.h"
#include "tests/gfx/support/flood_reference.h"
#include "tests/gfx/support/guarded_bitmap.h"

namespace {

uint32_t CompareMask(int bytes, uint32_t format) {
    return bytes == 4 ? qv::CompareMask32(format) : bytes == 3 ? 0xFFFFFFu : 0xFFFFu;
}

int Fill(const qvFloodFillContext& c, int bytes, uint32_t format, int32_t x, int32_t y) {
    switch (bytes) {
        case 2:
            return FloodFillPixels16(c, x, y);
        case 3:
            return FloodFillPixels24(c, x, y);
        default:
            return FloodFillPixels32(c, x, y, CompareMask(bytes, format));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    auto next = [&]() -> uint32_t { return at < size ? data[at++] : 0; };
    const uint32_t format = next() % QV_FMT_COUNT;
    const int bytes = qv::BytesPerPixel(format);
    const auto width = int32_t(1 + next() % 48), height = int32_t(1 + next() % 48);
    qv::test::GuardedBitMap bitmap(width, height, format, int32_t(next() % 4));
    const qvDisplayBitMap* b = bitmap.get();
    qv::test::FloodLimits limits{int32_t(next() % uint32_t(width)),
                                 int32_t(next() % uint32_t(height)), 0, 0};
    limits.width = int32_t(1 + next() % uint32_t(width - limits.left));
    limits.height = int32_t(1 + next() % uint32_t(height - limits.top));
    const int32_t x = int32_t(next() % uint32_t(width + 16)) - 8;
    const int32_t y = int32_t(next() % uint32_t(height + 16)) - 8;
    const uint32_t mask = CompareMask(bytes, format);
    const uint32_t alphaBits = next() % 2 != 0 ? ~mask : 0;  // values with alpha bits
    const uint32_t values[4] = {RGBToPixelFormat(0x102030, format) | alphaBits,
                                RGBToPixelFormat(0x405060, format),
                                RGBToPixelFormat(0xC08040, format) | (~mask & 0x5A5A5A5A),
                                RGBToPixelFormat(0xF0E0D0, format) | alphaBits};
    const uint32_t border = values[0], fill = values[3];
    std::vector<uint32_t> before, compared;
    bool fillBefore = false;
    for (int32_t py = 0; py < height; ++py) {
        for (int32_t px = 0; px < width; ++px) {
            const uint32_t pick = (next() >> (2 * (px % 4))) % 4;
            const uint32_t v = values[pick] & (bytes == 4 ? ~0u : mask);
            qv::StorePixel(bitmap.at(px, py), bytes, v);
            before.push_back(v);
            compared.push_back(v & mask);
            fillBefore |= pick == 3 && limits.Inside(px, py);
        }
    }
    const qvFloodFillContext context{b->pixels, limits.width, limits.height, b->rowLength,
                                     border,    fill,         limits.left,   limits.top};
    if (Fill(context, bytes, format, x, y) != 0) std::abort();
    if (!bitmap.rows().GuardsIntact() || !bitmap.rows().PaddingIntact()) std::abort();
    const auto reach = qv::test::FloodReach(compared, width, limits, x, y, border & mask);
    for (int32_t py = 0; py < height; ++py) {
        for (int32_t px = 0; px < width; ++px) {
            const size_t i = size_t(py) * width + px;
            const uint32_t now = qv::LoadPixel(bitmap.at(px, py), bytes);
            const bool filled = now != before[i];
            if (filled && (!limits.Inside(px, py) || now != (fill & (bytes == 4 ? ~0u : mask)))) {
                std::abort();
            }
            if (!fillBefore && filled != reach[i]) std::abort();
        }
    }
    return 0;
}

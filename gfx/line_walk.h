// The one line walker of the drawing code: the platform's line blit and the graphics
// engine's plotters step along lines with it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace qv {

// Visits the pixels of a line from (x1, y1) to (x2, y2) that lie inside width x height. Only
// the steps whose major coordinate is inside are walked, so far-away end points cost
// nothing; the minor coordinate rounds half up.
template <typename Fn>
void WalkLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t width, int64_t height,
              Fn&& plot) {
    int64_t dx = x2 - x1, dy = y2 - y1;
    bool xMajor = std::abs(dx) >= std::abs(dy);
    int64_t major = xMajor ? std::abs(dx) : std::abs(dy),
            minor = xMajor ? std::abs(dy) : std::abs(dx);
    int64_t start = xMajor ? x1 : y1, other = xMajor ? y1 : x1;
    int64_t limit = xMajor ? width : height;
    int64_t step = (xMajor ? dx : dy) < 0 ? -1 : 1, otherStep = (xMajor ? dy : dx) < 0 ? -1 : 1;
    // Steps i with 0 <= start + step * i < limit.
    int64_t first = step > 0 ? -start : start - (limit - 1);
    int64_t last = step > 0 ? limit - 1 - start : start;
    first = std::max<int64_t>(first, 0), last = std::min(last, major);
    for (int64_t i = first; i <= last; ++i) {
        // 128-bit: both factors reach 2^32 for end points at the int32 limits.
        auto offset = int64_t(major == 0 ? 0 : (2 * __int128(i) * minor + major) / (2 * major));
        int64_t a = start + step * i, b = other + otherStep * offset;
        int64_t x = xMajor ? a : b, y = xMajor ? b : a;
        if (x >= 0 && y >= 0 && x < width && y < height) plot(x, y);
    }
}

}  // namespace qv

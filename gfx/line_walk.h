// The line walkers of the drawing code: the platform's line blit, the graphics engine's
// plotters and the drawing library's planes step along lines with them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

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
    if (first > last) return;
    // The minor offset of step i is (2 i minor + major) / (2 major): divided once for the
    // first step (in 128 bits: both factors reach 2^32 for end points at the int32 limits),
    // then carried along by its remainder, rising by at most one per step.
    const int64_t twoMajor = std::max<int64_t>(2 * major, 1), twoMinor = 2 * minor;
    const __int128 numerator = 2 * __int128(first) * minor + major;
    auto offset = int64_t(numerator / twoMajor);
    auto rest = int64_t(numerator % twoMajor);
    for (int64_t i = first; i <= last; ++i) {
        int64_t a = start + step * i, b = other + otherStep * offset;
        int64_t x = xMajor ? a : b, y = xMajor ? b : a;
        if (x >= 0 && y >= 0 && x < width && y < height) plot(x, y);
        rest += twoMinor;
        if (rest >= twoMajor) rest -= twoMajor, ++offset;
    }
}

// Visits the pixels of an anti-aliased one-pixel line in 16.16 fixed point that lie inside
// width x height, with their coverages: at each step along the major axis the two pixels
// that straddle the line get 255 - f and f. Coverages of 0 are not visited, and neither are
// equal end points. Only the steps inside the area are walked.
template <typename Fn>
void WalkAALine(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t width, int64_t height,
                Fn&& plot) {
    if (x1 == x2 && y1 == y2) return;
    const bool yMajor = std::abs(y2 - y1) >= std::abs(x2 - x1);
    // The line runs from m1 to m2 along the major axis, from n1 to n2 across it.
    int64_t m1 = yMajor ? y1 : x1, m2 = yMajor ? y2 : x2;
    int64_t n1 = yMajor ? x1 : y1, n2 = yMajor ? x2 : y2;
    if (m1 > m2) std::swap(m1, m2), std::swap(n1, n2);
    const int64_t step = (n2 - n1) * 65536 / (m2 - m1);
    const int64_t alongLimit = yMajor ? height : width, acrossLimit = yMajor ? width : height;
    const int64_t from = std::max<int64_t>(m1, 0), to = std::min<int64_t>(m2, alongLimit - 1);
    int64_t position = n1 * 65536 + step * (from - m1);
    auto visit = [&](int64_t across, int64_t along, int32_t coverage) {
        if (coverage == 0 || across < 0 || across >= acrossLimit) return;
        if (yMajor) {
            plot(across, along, coverage);
        } else {
            plot(along, across, coverage);
        }
    };
    for (int64_t m = from; m <= to; ++m, position += step) {
        const auto fraction = int32_t((position >> 8) & 255);
        visit(position >> 16, m, 255 - fraction);
        visit((position >> 16) + 1, m, fraction);
    }
}

}  // namespace qv

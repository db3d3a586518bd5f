// The click pass's search for the first rectangle that holds a point: the AVX2 way and the
// portable way against a plain scan, over counts around their steps, every start, edges,
// empty rectangles and the full-range rectangles that stand for layer buttons.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "gfx/kernels/rows.h"
#include "scene/events/rect_scan.h"

namespace qv::events {
namespace {

constexpr int32_t kLow = std::numeric_limits<int32_t>::min();
constexpr int32_t kHigh = std::numeric_limits<int32_t>::max();

struct Columns {
    std::vector<int32_t> x1, y1, x2, y2;
    RectColumns View() const { return {x1.data(), y1.data(), x2.data(), y2.data(), x1.size()}; }
};

// Small rectangles on a small board, so that points hit some, with a few empty and a few
// spanning everything.
Columns RandomRects(size_t count, std::mt19937& random) {
    std::uniform_int_distribution<int32_t> corner(-4, 12), size(-1, 5), kind(0, 15);
    Columns c;
    for (size_t i = 0; i < count; ++i) {
        const int32_t x = corner(random), y = corner(random);
        const bool everywhere = kind(random) == 0;
        c.x1.push_back(everywhere ? kLow : x);
        c.y1.push_back(everywhere ? kLow : y);
        c.x2.push_back(everywhere ? kHigh : x + size(random));
        c.y2.push_back(everywhere ? kHigh : y + size(random));
    }
    return c;
}

size_t PlainScan(const RectColumns& r, size_t start, int32_t x, int32_t y) {
    for (size_t i = start; i < r.count; ++i) {
        if (r.x1[i] <= x && x <= r.x2[i] && r.y1[i] <= y && y <= r.y2[i]) return i;
    }
    return r.count;
}

using Search = size_t (*)(const RectColumns&, size_t, int32_t, int32_t);

std::vector<std::pair<const char*, Search>> Searches() {
    std::vector<std::pair<const char*, Search>> searches = {{"chosen", FirstRectHolding},
                                                            {"portable", FirstRectHoldingPortable}};
#if defined(__x86_64__)
    if (HasAvx2()) searches.emplace_back("avx2", FirstRectHoldingAvx2);
#endif
    return searches;
}

TEST(RectScan, EveryWayFindsTheFirstRectangleAPlainScanFinds) {
    std::mt19937 random(7);
    const std::vector<std::pair<int32_t, int32_t>> points = {
        {0, 0}, {3, 7}, {-4, -4}, {12, 12}, {17, 17}, {-5, 2}, {kLow, kLow}, {kHigh, kHigh}};
    for (size_t count : {0, 1, 7, 8, 9, 15, 16, 17, 31, 33, 40, 1000}) {
        const Columns rects = RandomRects(count, random);
        for (const auto& [name, search] : Searches()) {
            for (const auto& [x, y] : points) {
                SCOPED_TRACE(::testing::Message()
                             << name << " count " << count << " at " << x << "," << y);
                for (size_t start = 0; start <= count; ++start) {
                    ASSERT_EQ(search(rects.View(), start, x, y),
                              PlainScan(rects.View(), start, x, y))
                        << "from " << start;
                }
            }
        }
    }
}

// One rectangle among many that hold nothing, at each place of a step and beyond: its edges
// hold the point, one past them does not.
TEST(RectScan, EdgesHoldAndOnePastThemDoesNot) {
    constexpr size_t kCount = 40;
    for (size_t at = 0; at < kCount; ++at) {
        Columns rects;
        for (size_t i = 0; i < kCount; ++i) {
            const bool target = i == at;
            rects.x1.push_back(target ? 10 : 100), rects.x2.push_back(target ? 20 : 90);
            rects.y1.push_back(target ? -5 : 100), rects.y2.push_back(target ? 5 : 90);
        }
        for (const auto& [name, search] : Searches()) {
            SCOPED_TRACE(::testing::Message() << name << " rectangle " << at);
            for (auto [x, y] : {std::pair{10, -5}, {20, 5}, {10, 5}, {20, -5}}) {
                EXPECT_EQ(search(rects.View(), 0, x, y), at) << x << "," << y;
            }
            for (auto [x, y] : {std::pair{9, 0}, {21, 0}, {15, -6}, {15, 6}}) {
                EXPECT_EQ(search(rects.View(), 0, x, y), kCount) << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace qv::events

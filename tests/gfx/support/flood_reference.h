// The region a boundary fill must reach, found by breadth-first search: the pixels
// 4-connected to the seed through pixels that are not border, within the limits. Header-only
// and free of GoogleTest, so that the fuzz target uses it too.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace qv::test {

struct FloodLimits {
    int32_t left, top, width, height;

    bool Inside(int32_t x, int32_t y) const {
        return x >= left && y >= top && int64_t(x) < int64_t(left) + width &&
               int64_t(y) < int64_t(top) + height;
    }
};

// values: the compared pixel values, rowLength per row; the result has one flag per value.
inline std::vector<bool> FloodReach(const std::vector<uint32_t>& values, int32_t rowLength,
                                    FloodLimits limits, int32_t x, int32_t y, uint32_t border) {
    std::vector<bool> reached(values.size());
    auto index = [rowLength](int32_t px, int32_t py) { return size_t(py) * rowLength + px; };
    if (!limits.Inside(x, y) || values[index(x, y)] == border) return reached;
    std::deque<std::pair<int32_t, int32_t>> queue{{x, y}};
    reached[index(x, y)] = true;
    while (!queue.empty()) {
        const auto [px, py] = queue.front();
        queue.pop_front();
        const int32_t next[4][2] = {{px + 1, py}, {px - 1, py}, {px, py + 1}, {px, py - 1}};
        for (const auto& n : next) {
            if (!limits.Inside(n[0], n[1])) continue;
            const size_t i = index(n[0], n[1]);
            if (reached[i] || values[i] == border) continue;
            reached[i] = true;
            queue.push_back({n[0], n[1]});
        }
    }
    return reached;
}

}  // namespace qv::test

// Perfect mazes for the flood-fill tests, fuzz target and benchmark: walls and corridors one
// pixel wide, cells at odd coordinates, every corridor pixel reachable from every other one
// along a single winding path, which is what makes a recursive fill run out of stack.
// Header-only and free of GoogleTest.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace qv::test {

// width x height bytes, 1 for wall and 0 for corridor; the border is wall.
inline std::vector<uint8_t> MakeMaze(int32_t width, int32_t height, uint32_t seed) {
    std::vector<uint8_t> grid(size_t(width) * size_t(height), 1);
    const int32_t cellsX = (width - 1) / 2, cellsY = (height - 1) / 2;
    if (cellsX < 1 || cellsY < 1) return grid;
    auto at = [&](int32_t x, int32_t y) -> uint8_t& { return grid[size_t(y) * width + x]; };
    std::mt19937 random(seed);
    std::vector<int32_t> path{0};  // cells of the walk back to the start
    at(1, 1) = 0;
    constexpr int32_t kSteps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    while (!path.empty()) {
        const int32_t cx = path.back() % cellsX, cy = path.back() / cellsX;
        int32_t options[4], count = 0;
        for (int32_t d = 0; d < 4; ++d) {
            const int32_t nx = cx + kSteps[d][0], ny = cy + kSteps[d][1];
            if (nx >= 0 && ny >= 0 && nx < cellsX && ny < cellsY && at(2 * nx + 1, 2 * ny + 1)) {
                options[count++] = d;
            }
        }
        if (count == 0) {
            path.pop_back();
            continue;
        }
        const int32_t d = options[random() % uint32_t(count)];
        const int32_t nx = cx + kSteps[d][0], ny = cy + kSteps[d][1];
        at(2 * cx + 1 + kSteps[d][0], 2 * cy + 1 + kSteps[d][1]) = 0;
        at(2 * nx + 1, 2 * ny + 1) = 0;
        path.push_back(ny * cellsX + nx);
    }
    return grid;
}

}  // namespace qv::test

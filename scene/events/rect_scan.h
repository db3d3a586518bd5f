// The search of the click pass: the first of many rectangles, kept a column per edge, that
// holds a point. Sixteen rectangles a step: in two vectors of eight with AVX2 where the CPU
// has it, else in branch-free tests that the compiler vectorises; both give the same answer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::events {

// Rectangle i spans x1[i] to x2[i] and y1[i] to y2[i], edges included.
struct RectColumns {
    const int32_t* x1;
    const int32_t* y1;
    const int32_t* x2;
    const int32_t* y2;
    size_t count;
};

// The first rectangle from start on that holds (x, y); rects.count when none does.
size_t FirstRectHolding(const RectColumns& rects, size_t start, int32_t x, int32_t y);

// The two ways, for tests that compare them.
size_t FirstRectHoldingPortable(const RectColumns& rects, size_t start, int32_t x, int32_t y);
#if defined(__x86_64__)
size_t FirstRectHoldingAvx2(const RectColumns& rects, size_t start, int32_t x, int32_t y);
#endif

}  // namespace qv::events

// The blits of text rendering: a 1-bit line drawn in a colour, the synthetic styles done on
// the rows of a 1-bit line, the edge of a line by dilation (a square of shifted copies, as
// one pass per axis), and the anti-aliased edge built as box sums in 32-bit cells.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"

// Where text is drawn: a display bitmap with a 1-bit mask or an 8-bit alpha plane.
struct qvTextCanvas {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;   // merged into when there is no alpha plane
    qvPlaneBitMap* alpha;  // receives 255 - transparency (or the coverage scaled by it)
    int32_t width, height;
};

// Draws the set bits of the width x height line mask at (x, y) in the colour (0xAARRGGBB, AA a
// transparency) and merges them into the canvas mask, or writes 255 - transparency into the
// canvas alpha plane under them.
void DrawTextMask(const qvPlaneBitMap* line, int32_t width, int32_t height,
                  const qvTextCanvas& canvas, int32_t x, int32_t y, uint32_t colour);

// A row of a 1-bit plane (bytes bytes, most significant bit first) moved by shift pixels,
// right for positive shifts; with keep the moved copy is OR-ed onto the row, else it replaces
// it. Bits moved past either end are lost.
void ShiftMaskRow(uint8_t* row, int32_t bytes, int32_t shift, bool keep);

// The edge square of a 1-bit line: the line drawn at every offset (i, j) of
// [firstColumn, 2 size] x [firstRow, 2 size], OR-ed into the cleared top-left
// (width + 2 size) x (height + 2 size) of dest. The offsets below the first ones are those a
// caller skips (they would lie outside its destination).
void DilateMask(const qvPlaneBitMap* line, int32_t width, int32_t height, int32_t size,
                int32_t firstColumn, int32_t firstRow, qvPlaneBitMap* dest);

// The anti-aliased edge: the coverage added at every offset of the same square into 32-bit
// cells, each cell divided by 2 size + 1 and clamped to 255. Sizes go up to kLargestEdge, for
// which the largest sum, 255 (2 size + 1)^2, still fits a cell: no sum wraps, so a large
// edge has no holes.
inline constexpr int32_t kLargestEdge = 1024;
static_assert(255ull * (2 * kLargestEdge + 1) * (2 * kLargestEdge + 1) <= UINT32_MAX);

class EdgeAccumulator {
public:
    EdgeAccumulator() = default;
    ~EdgeAccumulator();
    EdgeAccumulator(const EdgeAccumulator&) = delete;
    EdgeAccumulator& operator=(const EdgeAccumulator&) = delete;

    // Room for the edge of a coverage up to width x height with sizes up to maxSize (at most
    // kLargestEdge); 0 or ERR_MEM.
    int Allocate(int32_t width, int32_t height, int32_t maxSize);

    // The size of the last edge built.
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // Its divided, clamped coverage (0-255) in 16-bit entries, as mode 3 of the coverage blit
    // reads them, rowLength() entries per row.
    const uint16_t* coverage() const { return coverage_; }
    int32_t rowLength() const { return capacityWidth_; }

private:
    friend void DrawEdgeAA(EdgeAccumulator*, const qvPlaneBitMap*, int32_t, int32_t, int32_t,
                           int32_t, int32_t);

    uint32_t* cells_ = nullptr;     // horizontal sums, then a row of zeros and the column sums
    uint8_t* padded_ = nullptr;     // a coverage row between zeros
    uint16_t* coverage_ = nullptr;  // the result
    int32_t coverageWidth_ = 0, coverageHeight_ = 0, maxSize_ = 0;
    int32_t capacityWidth_ = 0, capacityHeight_ = 0;
    int32_t width_ = 0, height_ = 0;
};

// Builds the edge of the width x height top-left of the 8-bit coverage plane (within the room
// allocated) with the offsets of [firstColumn, 2 size] x [firstRow, 2 size]; the result is
// (width + 2 size) x (height + 2 size).
void DrawEdgeAA(EdgeAccumulator* accumulator, const qvPlaneBitMap* coverage, int32_t width,
                int32_t height, int32_t size, int32_t firstColumn, int32_t firstRow);
// Blends the colour through the built edge into the canvas at (x, y) and merges the coverage,
// scaled by 255 - transparency, into the canvas alpha plane.
void StoreCoverage(const EdgeAccumulator& accumulator, const qvTextCanvas& canvas, int32_t x,
                   int32_t y, uint32_t colour);

#include "objects/text/text_blits.h"

#include <algorithm>
#include <cstring>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/kernels/frontend_kernels.h"
#include "gfx/kernels/template_clones.h"
#include "platform/linux/memory.h"

namespace {

// A row of mask bytes read past its ends as 0, its bits from the width on cleared.
class MaskRow {
public:
    MaskRow(const uint8_t* row, int32_t width) : row_(row), bytes_((width + 7) >> 3) {
        last_ = uint8_t(0xFF00 >> (((width - 1) & 7) + 1));
    }
    uint32_t At(int32_t i) const {
        if (i < 0 || i >= bytes_) return 0;
        return i == bytes_ - 1 ? row_[i] & last_ : row_[i];
    }
    // Byte k of the row moved right by shift pixels (left when negative).
    uint8_t Moved(int32_t k, int32_t shift) const {
        const int32_t whole = shift >> 3, bits = shift & 7;
        if (bits == 0) return uint8_t(At(k - whole));
        return uint8_t(At(k - whole) >> bits | At(k - whole - 1) << (8 - bits));
    }

private:
    const uint8_t* row_;
    int32_t bytes_;
    uint8_t last_;
};

}  // namespace

void DrawTextMask(const qvPlaneBitMap* line, int32_t width, int32_t height,
                  const qvTextCanvas& canvas, int32_t x, int32_t y, uint32_t colour) {
    BltTemplate(line, 0, 0, canvas.bitmap, x, y, width, height, colour & 0xFFFFFF);
    if (canvas.alpha != nullptr) {
        ExpandMaskToPlane8Rect(line, 0, 0, canvas.alpha, x, y, width, height,
                               uint8_t(255 - (colour >> 24)));
    } else {
        CombineMaskRect(line, 0, 0, canvas.mask, x, y, width, height, 0);
    }
}

void ShiftMaskRow(uint8_t* row, int32_t bytes, int32_t shift, bool keep) {
    if (shift == 0) return;
    const MaskRow source(row, bytes * 8);
    // In place: each byte reads only bytes on the side it has not written yet.
    auto step = [&](int32_t k) {
        const uint8_t moved = source.Moved(k, shift);
        row[k] = keep ? uint8_t(row[k] | moved) : moved;
    };
    if (shift > 0) {
        for (int32_t k = bytes - 1; k >= 0; --k) step(k);
    } else {
        for (int32_t k = 0; k < bytes; ++k) step(k);
    }
}

void DilateMask(const qvPlaneBitMap* line, int32_t width, int32_t height, int32_t size,
                int32_t firstColumn, int32_t firstRow, qvPlaneBitMap* dest) {
    const int32_t span = 2 * size;
    width = std::min<int64_t>(width, qv::PlaneExtentX(line));
    height = std::min(height, line->height);
    const int32_t rows = std::min(height + span, dest->height);
    const int32_t bytes = std::min((width + span + 7) >> 3, dest->bytesPerRow);
    auto destRow = [&](int32_t y) { return dest->plane + ptrdiff_t(y) * dest->bytesPerRow; };
    for (int32_t y = 0; y < rows; ++y) std::memset(destRow(y), 0, size_t(bytes));
    if (width < 1) return;
    // Each line row, OR-ed at every column offset, lands span rows down...
    for (int32_t v = 0; v < height && v + span < rows; ++v) {
        const MaskRow source(line->plane + ptrdiff_t(v) * line->bytesPerRow, width);
        uint8_t* target = destRow(v + span);
        for (int32_t i = firstColumn; i <= span; ++i) {
            for (int32_t k = 0; k < bytes; ++k) target[k] |= source.Moved(k, i);
        }
    }
    // ...and then every row takes in the rows below it as far as the row offsets reach.
    const int32_t reach = span - firstRow;
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t* target = destRow(y);
        for (int32_t r = y + 1; r <= y + reach && r < rows; ++r) {
            const uint8_t* below = destRow(r);
            for (int32_t k = 0; k < bytes; ++k) target[k] |= below[k];
        }
    }
}

EdgeAccumulator::~EdgeAccumulator() {
    FreeMemBlock(cells_);
    FreeMemBlock(padded_);
    FreeMemBlock(coverage_);
}

int EdgeAccumulator::Allocate(int32_t width, int32_t height, int32_t maxSize) {
    maxSize_ = std::clamp(maxSize, 0, kLargestEdge);
    coverageWidth_ = std::max(width, 0);
    coverageHeight_ = std::max(height, 0);
    const int64_t capacityWidth = int64_t(coverageWidth_) + 2 * maxSize_;
    const int64_t capacityHeight = int64_t(coverageHeight_) + 2 * maxSize_;
    if (capacityWidth > INT32_MAX || capacityHeight > INT32_MAX) return ERR_MEM;
    capacityWidth_ = int32_t(capacityWidth);
    capacityHeight_ = int32_t(capacityHeight);
    const size_t rowCells = size_t(capacityWidth_);
    cells_ = static_cast<uint32_t*>(
        AllocMemBlock(rowCells * (size_t(coverageHeight_) + 2) * sizeof(uint32_t), 1));
    padded_ = static_cast<uint8_t*>(AllocMemBlock(rowCells + 2 * size_t(maxSize_) + 2, 1));
    coverage_ = static_cast<uint16_t*>(
        AllocMemBlock(rowCells * size_t(capacityHeight_) * sizeof(uint16_t), 0));
    return cells_ != nullptr && padded_ != nullptr && coverage_ != nullptr ? 0 : ERR_MEM;
}

namespace {

// Window sums of a zero-padded row: out[x] = the sum of padded[x + lead - i] over offsets i
// from first to last. Narrow windows add shifted copies (which vectorise), wide ones keep a
// running sum.
QV_TEMPLATE_CLONES void SumRow(const uint8_t* padded, int32_t lead, uint32_t* out, int32_t width,
                               int32_t first, int32_t last) {
    if (last - first < 16) {
        std::fill_n(out, width, 0u);
        for (int32_t i = first; i <= last; ++i) {
            const uint8_t* in = padded + lead - i;
            for (int32_t x = 0; x < width; ++x) out[x] += in[x];
        }
        return;
    }
    uint32_t sum = 0;
    for (int32_t i = first; i <= last; ++i) sum += padded[lead - 1 - i];
    for (int32_t x = 0; x < width; ++x) {
        sum += uint32_t(padded[lead + x - first]) - padded[lead + x - 1 - last];
        out[x] = sum;
    }
}

// One output row: the running column sums take in one row and give up another, and each is
// divided by the square's side and clamped to 255. (s + 0.5) / divisor in single precision
// truncates to floor(s / divisor) for every s up to 255 x divisor, as its error stays far
// below the 0.5 / divisor that keeps it between two integers.
QV_TEMPLATE_CLONES void SumColumns(uint32_t* sums, const uint32_t* added, const uint32_t* dropped,
                                   uint16_t* out, int32_t width, uint32_t limit, float reciprocal) {
    for (int32_t x = 0; x < width; ++x) {
        const uint32_t s = sums[x] + added[x] - dropped[x];
        sums[x] = s;
        out[x] = uint16_t(int32_t((float(std::min(s, limit)) + 0.5f) * reciprocal));
    }
}

}  // namespace

void DrawEdgeAA(EdgeAccumulator* accumulator, const qvPlaneBitMap* coverage, int32_t width,
                int32_t height, int32_t size, int32_t firstColumn, int32_t firstRow) {
    EdgeAccumulator& a = *accumulator;
    size = std::clamp(size, 0, a.maxSize_);
    const int32_t span = 2 * size;
    width = std::clamp(width, 0, std::min(a.coverageWidth_, coverage->bytesPerRow));
    height = std::clamp(height, 0, std::min(a.coverageHeight_, coverage->height));
    a.width_ = width + span;
    a.height_ = height + span;
    const int32_t rowLength = a.capacityWidth_;
    // After the rows of horizontal sums: a row that stays 0 (for the rows out of range) and
    // the running column sums.
    const uint32_t* zeros = a.cells_ + ptrdiff_t(a.coverageHeight_) * rowLength;
    uint32_t* sums = a.cells_ + ptrdiff_t(a.coverageHeight_ + 1) * rowLength;
    // Horizontal sums over the column offsets, one row of cells per coverage row, read from
    // the row with span + 1 zeros on either side.
    const int32_t lead = span + 1;
    std::memset(a.padded_, 0, size_t(width + 2 * lead));
    for (int32_t v = 0; v < height; ++v) {
        std::memcpy(a.padded_ + lead, coverage->plane + ptrdiff_t(v) * coverage->bytesPerRow,
                    size_t(width));
        SumRow(a.padded_, lead, a.cells_ + ptrdiff_t(v) * rowLength, a.width_, firstColumn, span);
    }
    // Running sums down the columns over the row offsets.
    const uint32_t divisor = uint32_t(span + 1);
    std::fill_n(sums, a.width_, 0u);
    for (int32_t y = 0; y < a.height_; ++y) {
        const int32_t added = y - firstRow, dropped = y - span - 1;
        auto row = [&](int32_t r) {
            return r >= 0 && r < height ? a.cells_ + ptrdiff_t(r) * rowLength : zeros;
        };
        SumColumns(sums, row(added), row(dropped), a.coverage_ + ptrdiff_t(y) * rowLength, a.width_,
                   255 * divisor, 1.0f / float(divisor));
    }
}

void StoreCoverage(const EdgeAccumulator& accumulator, const qvTextCanvas& canvas, int32_t x,
                   int32_t y, uint32_t colour) {
    BltAlphaChannelClipped(nullptr, 0, 0, canvas.bitmap, x, y, accumulator.width(),
                           accumulator.height(), accumulator.width(), accumulator.height(),
                           canvas.width, canvas.height, colour & 0xFFFFFF, QV_COVERAGE_WIDE,
                           canvas.alpha, 255 - (colour >> 24), accumulator.coverage(),
                           accumulator.rowLength(), nullptr);
}

// Flood fill by spans. A span is filled left and right of its seed up to the border or the
// limits; on the rows above and below, the start of every run of pixels that are neither
// border nor fill becomes a new seed. Seeds wait in an explicit work list, so a maze costs
// heap, not call stack.
#include <cstring>
#include <utility>

#include "engine/error_codes.h"
#include "gfx/kernels/filters.h"
#include "gfx/kernels/rows.h"
#include "platform/linux/memory.h"

namespace qv {
namespace {

// A stack of seeds in one block that doubles when full.
class Seeds {
public:
    Seeds() = default;
    Seeds(const Seeds&) = delete;
    Seeds& operator=(const Seeds&) = delete;
    ~Seeds() { FreeMemBlock(seeds_); }

    bool Push(int32_t x, int32_t y) {
        if (count_ == capacity_ && !Grow()) return false;
        seeds_[count_++] = {x, y};
        return true;
    }
    bool Pop(int32_t* x, int32_t* y) {
        if (count_ == 0) return false;
        --count_;
        *x = seeds_[count_].x, *y = seeds_[count_].y;
        return true;
    }

private:
    struct Seed {
        int32_t x, y;
    };

    bool Grow() {
        const size_t capacity = capacity_ == 0 ? 1024 : capacity_ * 2;
        auto* grown = static_cast<Seed*>(AllocMemBlock(capacity * sizeof(Seed), 0));
        if (grown == nullptr) return false;
        if (count_ != 0) std::memcpy(grown, seeds_, count_ * sizeof(Seed));
        FreeMemBlock(seeds_);
        seeds_ = grown, capacity_ = capacity;
        return true;
    }

    Seed* seeds_ = nullptr;
    size_t count_ = 0, capacity_ = 0;
};

template <int Bytes>
class Fill {
public:
    Fill(const qvFloodFillContext& c, uint32_t compareMask)
        : c_(c),
          compare_(compareMask),
          border_(c.border & compareMask),
          fill_(c.fill & compareMask),
          right_(int64_t(c.left) + c.width),
          bottom_(int64_t(c.top) + c.height) {}

    int Run(int32_t x, int32_t y) {
        if (x < c_.left || x >= right_ || y < c_.top || y >= bottom_) return 0;
        if (Value(x, y) == border_) return 0;
        if (!Span(x, y)) return ERR_MEM;
        // A seed filled since it was made belongs to a span that is done.
        while (seeds_.Pop(&x, &y)) {
            if (Value(x, y) != fill_ && !Span(x, y)) return ERR_MEM;
        }
        return 0;
    }

private:
    uint8_t* At(int32_t x, int32_t y) const { return PixelAt(c_.base, c_.rowLength, Bytes, x, y); }
    uint32_t Value(int32_t x, int32_t y) const { return LoadPixel(At(x, y), Bytes) & compare_; }

    // Fills the span through (x, y) and seeds the rows beside it; false when a seed could not
    // be kept.
    bool Span(int32_t x, int32_t y) {
        int32_t left = x, right = x;
        StorePixel(At(x, y), Bytes, c_.fill);
        while (left > c_.left && Value(left - 1, y) != border_)
            StorePixel(At(--left, y), Bytes, c_.fill);
        while (right + 1 < right_ && Value(right + 1, y) != border_) {
            StorePixel(At(++right, y), Bytes, c_.fill);
        }
        return (y <= c_.top || SeedRow(y - 1, left, right)) &&
               (y + 1 >= bottom_ || SeedRow(y + 1, left, right));
    }

    bool SeedRow(int32_t y, int32_t left, int32_t right) {
        bool inRun = false;
        for (int32_t x = left; x <= right; ++x) {
            const uint32_t v = Value(x, y);
            const bool open = v != border_ && v != fill_;
            if (open && !inRun && !seeds_.Push(x, y)) return false;
            inRun = open;
        }
        return true;
    }

    const qvFloodFillContext& c_;
    const uint32_t compare_, border_, fill_;
    const int64_t right_, bottom_;
    Seeds seeds_;
};

}  // namespace
}  // namespace qv

int FloodFillPixels32(const qvFloodFillContext& context, int32_t x, int32_t y,
                      uint32_t compareMask) {
    return qv::Fill<4>(context, compareMask).Run(x, y);
}

int FloodFillPixels24(const qvFloodFillContext& context, int32_t x, int32_t y) {
    return qv::Fill<3>(context, 0xFFFFFF).Run(x, y);
}

int FloodFillPixels16(const qvFloodFillContext& context, int32_t x, int32_t y) {
    return qv::Fill<2>(context, 0xFFFF).Run(x, y);
}

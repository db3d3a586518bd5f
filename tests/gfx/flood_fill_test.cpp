// Flood fill in the screen format: borders, rings, limits, fill values with alpha bits,
// random pictures against a breadth-first reference, a 4096 x 4096 maze and a work list that
// cannot grow.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/kernels/filters.h"
#include "gfx/kernels/rows.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/flood_reference.h"
#include "tests/gfx/support/maze.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::Raw;

constexpr uint32_t kBorder = 0x102030, kFill = 0xE0C0A0;

struct Limits {
    int32_t left, top, width, height;
};

uint32_t CompareMask(const qvDisplayBitMap* b) {
    return b->bytesPerPixel == 4   ? qv::CompareMask32(b->format)
           : b->bytesPerPixel == 3 ? 0xFFFFFFu
                                   : 0xFFFFu;
}

// The kernel of the bitmap's depth, with fill and border given as pixel values.
int FillValues(qvDisplayBitMap* b, int32_t x, int32_t y, uint32_t border, uint32_t fill, Limits l) {
    const qvFloodFillContext c{b->pixels, l.width, l.height, b->rowLength,
                               border,    fill,    l.left,   l.top};
    switch (b->bytesPerPixel) {
        case 2:
            return FloodFillPixels16(c, x, y);
        case 3:
            return FloodFillPixels24(c, x, y);
        default:
            return FloodFillPixels32(c, x, y, CompareMask(b));
    }
}

int Fill(qvDisplayBitMap* b, int32_t x, int32_t y, Limits l) {
    return FillValues(b, x, y, RGBToPixelFormat(kBorder, b->format),
                      RGBToPixelFormat(kFill, b->format), l);
}

Limits Whole(const qvDisplayBitMap* b) {
    return {0, 0, b->width, b->height};
}

BitMapPtr Blank(int32_t width, int32_t height) {
    BitMapPtr b = qv::test::Filled(width, height, 0x406080);
    return b;
}

std::vector<uint32_t> Snapshot(const qvDisplayBitMap* b) {
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < b->height; ++y) {
        for (int32_t x = 0; x < b->width; ++x) pixels.push_back(Raw(b, x, y));
    }
    return pixels;
}

// A ring of border pixels around (2..6, 2..6).
BitMapPtr Ring() {
    BitMapPtr b = Blank(9, 9);
    for (int32_t i = 1; i < 8; ++i) {
        PlotPixel(b.get(), i, 1, kBorder), PlotPixel(b.get(), i, 7, kBorder);
        PlotPixel(b.get(), 1, i, kBorder), PlotPixel(b.get(), 7, i, kBorder);
    }
    return b;
}

TEST(FloodFill, SeedOnTheBorderChangesNothing) {
    BitMapPtr b = Ring();
    const auto before = Snapshot(b.get());
    EXPECT_EQ(Fill(b.get(), 1, 4, Whole(b.get())), 0);
    EXPECT_EQ(Snapshot(b.get()), before);
}

TEST(FloodFill, RingFillsInsideOnly) {
    BitMapPtr b = Ring();
    ASSERT_EQ(Fill(b.get(), 4, 4, Whole(b.get())), 0);
    const uint32_t fill = ReadBitMapPixel(b.get(), 4, 4);
    for (int32_t y = 0; y < 9; ++y) {
        for (int32_t x = 0; x < 9; ++x) {
            const bool inside = x >= 2 && x <= 6 && y >= 2 && y <= 6;
            const bool ring = !inside && x >= 1 && x <= 7 && y >= 1 && y <= 7;
            const uint32_t expected = inside ? fill
                                      : ring ? ReadBitMapPixel(b.get(), 1, 1)
                                             : ReadBitMapPixel(b.get(), 0, 0);
            EXPECT_EQ(ReadBitMapPixel(b.get(), x, y), expected) << x << "," << y;
        }
    }
    EXPECT_NE(fill, ReadBitMapPixel(b.get(), 0, 0));
}

// Seeds outside each of the four limits do nothing; a fill inside stays inside them.
TEST(FloodFill, Limits) {
    const Limits limits{2, 3, 5, 4};  // x 2..6, y 3..6
    const int32_t seeds[][2] = {{1, 4}, {7, 4}, {4, 2}, {4, 7}, {-100, 4}, {4, 1 << 30}};
    for (const auto& seed : seeds) {
        BitMapPtr b = Blank(10, 10);
        const auto before = Snapshot(b.get());
        EXPECT_EQ(Fill(b.get(), seed[0], seed[1], limits), 0);
        EXPECT_EQ(Snapshot(b.get()), before) << seed[0] << "," << seed[1];
    }
    BitMapPtr b = Blank(10, 10);
    ASSERT_EQ(Fill(b.get(), 4, 4, limits), 0);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 10; ++x) {
            const bool inside = x >= 2 && x <= 6 && y >= 3 && y <= 6;
            EXPECT_EQ(ReadBitMapPixel(b.get(), x, y) == ReadBitMapPixel(b.get(), 4, 4), inside)
                << x << "," << y;
        }
    }
}

// 32-bit fill and border values with alpha bits: filled pixels are recognised under the
// compare mask, so the fill ends; a border with alpha bits still stops it.
TEST(FloodFill, ValuesWithAlphaBits) {
    BitMapPtr b = Ring();
    if (b->bytesPerPixel != 4) GTEST_SKIP() << "alpha bits exist in 4-byte pixels only";
    const uint32_t alpha = ~CompareMask(b.get());
    const uint32_t fill = RGBToPixelFormat(kFill, b->format) | alpha;
    ASSERT_EQ(FillValues(b.get(), 4, 4, RGBToPixelFormat(kBorder, b->format) | alpha, fill,
                         Whole(b.get())),
              0);
    EXPECT_EQ(Raw(b.get(), 4, 4), fill);
    EXPECT_EQ(Raw(b.get(), 2, 6), fill);
    EXPECT_NE(Raw(b.get(), 0, 0), fill);
}

TEST(FloodFill, RandomPicturesMatchBreadthFirstSearch) {
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        const auto width = int32_t(1 + random() % 40), height = int32_t(1 + random() % 30);
        BitMapPtr b = Blank(width, height);
        const uint32_t colours[] = {kBorder, 0x406080, 0x123456};
        const uint32_t borderShare = random() % 60;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t pick = random() % 100 < borderShare ? 0 : 1 + random() % 2;
                PlotPixel(b.get(), x, y, colours[pick]);
            }
        }
        const auto x = int32_t(random() % uint32_t(width)),
                   y = int32_t(random() % uint32_t(height));
        const auto before = Snapshot(b.get());
        std::vector<uint32_t> compared;
        for (uint32_t v : before) compared.push_back(v & CompareMask(b.get()));
        const auto reach = qv::test::FloodReach(compared, width, {0, 0, width, height}, x, y,
                                                RGBToPixelFormat(kBorder, b->format));
        ASSERT_EQ(Fill(b.get(), x, y, Whole(b.get())), 0);
        const uint32_t fill = RGBToPixelFormat(kFill, b->format);
        for (int32_t py = 0; py < height; ++py) {
            for (int32_t px = 0; px < width; ++px) {
                const size_t i = size_t(py) * width + px;
                ASSERT_EQ(Raw(b.get(), px, py), reach[i] ? fill : before[i])
                    << "round " << round << " at " << px << "," << py;
            }
        }
    }
}

// A maze of single-pixel corridors fills completely without growing the call stack: 4096 x
// 4096 in the default screen-format run, smaller in the others (the same code per depth).
TEST(FloodFill, Maze) {
    const char* format = std::getenv("QV_SCREEN_FORMAT");
    const int32_t kSide = format == nullptr || std::string(format) == "10" ? 4096 : 512;
    const auto maze = qv::test::MakeMaze(kSide, kSide, 1);
    BitMapPtr b(AllocDisplayBitMap(kSide, kSide));
    ASSERT_NE(b, nullptr);
    const uint32_t border = RGBToPixelFormat(kBorder, b->format);
    const uint32_t open = RGBToPixelFormat(0x406080, b->format);
    for (int32_t y = 0; y < kSide; ++y) {
        uint8_t* row = qv::PixelAt(b->pixels, b->rowLength, b->bytesPerPixel, 0, y);
        for (int32_t x = 0; x < kSide; ++x) {
            qv::StorePixel(row + x * b->bytesPerPixel, b->bytesPerPixel,
                           maze[size_t(y) * kSide + x] ? border : open);
        }
    }
    ASSERT_EQ(Fill(b.get(), 1, 1, Whole(b.get())), 0);
    const uint32_t fill = RGBToPixelFormat(kFill, b->format);
    for (int32_t y = 0; y < kSide; ++y) {
        for (int32_t x = 0; x < kSide; ++x) {
            ASSERT_EQ(Raw(b.get(), x, y), maze[size_t(y) * kSide + x] ? border : fill)
                << x << "," << y;
        }
    }
}

// When the work list cannot grow the fill stops with ERR_MEM.
TEST(FloodFill, WorkListOutOfMemory) {
    const auto maze = qv::test::MakeMaze(65, 65, 2);
    BitMapPtr b = Blank(65, 65);
    for (int32_t y = 0; y < 65; ++y) {
        for (int32_t x = 0; x < 65; ++x) {
            if (maze[size_t(y) * 65 + x]) PlotPixel(b.get(), x, y, kBorder);
        }
    }
    qv::AllocationFault fault(1, true);
    EXPECT_EQ(Fill(b.get(), 1, 1, Whole(b.get())), ERR_MEM);
}

}  // namespace

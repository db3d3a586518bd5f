// Tiling, aspect ratios and the display refresh front-ends.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/fake_blit_host.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::FakeBlitHost;

struct TileRow {
    int32_t offsetX, offsetY, tileWidth, tileHeight, rowLength;
    int32_t firstX, firstY;  // tile position of the rectangle's top-left pixel
};

TEST(TileFill, StartsInsideTheTileAtTheReducedOffsets) {
    const TileRow rows[] = {
        {0, 0, 4, 3, 4, 0, 0},      {-1, 0, 16, 3, 16, 15, 0},  // the -1 of a 16 tile is 15
        {-16, -3, 16, 3, 16, 0, 0},  // an exact multiple is 0, not the size
        {17, 7, 16, 3, 20, 1, 1},   {std::numeric_limits<int32_t>::min(), 5, 5, 3, 5, 2, 2},
        {1, 0, 9, 2, 4, 1, 0},  // a tile wider than its rows is cut to them
    };
    for (const TileRow& row : rows) {
        const int32_t width = 37, height = 11;
        std::vector<qvARGB> tile(size_t(row.rowLength) * row.tileHeight);
        for (size_t i = 0; i < tile.size(); ++i) tile[i] = qvARGB(i);
        std::vector<qvARGB> dest(size_t(width) * height, 0xDEAD);
        TileFill(dest.data(), width, height, tile.data(), row.offsetX, row.offsetY, row.tileWidth,
                 row.tileHeight, row.rowLength);
        const int32_t tw = std::min(row.tileWidth, row.rowLength);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                int32_t tx = (row.firstX + x) % tw, ty = (row.firstY + y) % row.tileHeight;
                ASSERT_EQ(dest[size_t(y) * width + x], qvARGB(ty * row.rowLength + tx))
                    << row.offsetX << " at " << x << "," << y;
            }
        }
    }
}

TEST(TileFill, ATileSideBelowOneDrawsNothing) {
    std::vector<qvARGB> tile(16, 1), dest(16, 0);
    for (auto [w, h] : {std::pair{0, 4}, std::pair{4, 0}, std::pair{-4, 4}}) {
        TileFill(dest.data(), 4, 4, tile.data(), -1, -1, w, h, 4);
        EXPECT_EQ(dest, std::vector<qvARGB>(16, 0));
    }
}

TEST(TileFill, CoversARectangleOfABitmap) {
    BitMapPtr tile(AllocDisplayBitMap(16, 2)), dest(AllocDisplayBitMap(20, 6));
    RectFill(dest.get(), 0, 0, 20, 6, 0);
    RectFill(tile.get(), 0, 0, 16, 2, 0x0000F8);
    RectFill(tile.get(), 15, 0, 1, 2, 0xF80000);
    TileFill(dest.get(), 2, 1, 17, 4, tile.get(), -1, 0, 16, 2);
    for (int32_t y = 0; y < 6; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            bool inside = x >= 2 && x < 19 && y >= 1 && y < 5;
            bool red = x == 2 || x == 18;  // tile column 15, twice
            uint32_t want = !inside ? 0 : red ? 0xF80000 : 0x0000F8;
            ASSERT_EQ(ReadBitMapPixel(dest.get(), x, y), want) << x << "," << y;
        }
    }
}

// A rectangle far beyond the bitmap covers only what lies inside it, in the pattern the whole
// rectangle would have: a piece starting left of or above the bitmap keeps its phase.
TEST(TileFill, CutsTheRectangleToTheDestination) {
    BitMapPtr tile(AllocDisplayBitMap(3, 2)), dest(AllocDisplayBitMap(40, 1));
    for (int32_t x = 0; x < 3; ++x) RectFill(tile.get(), x, 0, 1, 2, uint32_t(0x080000 * (x + 1)));
    RectFill(dest.get(), 0, 0, 40, 1, 0);
    TileFill(dest.get(), -5, -1, 16000, 16000, tile.get(), 0, 0, 3, 2);
    for (int32_t x = 0; x < 40; ++x) {
        ASSERT_EQ(ReadBitMapPixel(dest.get(), x, 0), uint32_t(0x080000 * ((x + 5) % 3 + 1))) << x;
    }
}

struct AspectRow {
    int32_t sourceWidth, sourceHeight, width, height;
    int result;
    int32_t outWidth, outHeight;
};

TEST(ScaleKeepAspect, ResolvesTheKeptSide) {
    const AspectRow rows[] = {
        {640, 480, 320, KEEPASPRAT, 0, 320, 240},
        {640, 480, KEEPASPRAT, 240, 0, 320, 240},
        {3, 2, KEEPASPRAT, 1, 0, 2, 1},  // 1.5 rounds up
        {2, 3, KEEPASPRAT, 2, 0, 1, 2},  // 1.33 rounds down
        {640, 480, 50, 60, 0, 50, 60},   // nothing kept: the request stands
        {640, 480, KEEPASPRAT, KEEPASPRAT, ERR_WRONGUSAGE, 0, 0},
        {640, 480, 0, KEEPASPRAT, ERR_BADDIMENSIONS, 0, 0},
        {640, 480, KEEPASPRAT, -5, ERR_BADDIMENSIONS, 0, 0},
        {0, 480, KEEPASPRAT, 100, ERR_BADDIMENSIONS, 0, 0},  // no ratio of a side 0
        {640, 0, 100, KEEPASPRAT, ERR_BADDIMENSIONS, 0, 0},
        {1000, 1, 1, KEEPASPRAT, 0, 1, 1},                       // rounds to 0: at least 1
        {32768, 1, KEEPASPRAT, 99999, ERR_BADDIMENSIONS, 0, 0},  // beyond any coordinate
    };
    for (const AspectRow& row : rows) {
        int32_t width = row.width, height = row.height;
        EXPECT_EQ(ScaleKeepAspect(row.sourceWidth, row.sourceHeight, &width, &height), row.result)
            << row.sourceWidth << "x" << row.sourceHeight << " " << row.width << "x" << row.height;
        if (row.result == 0) {
            EXPECT_EQ(width, row.outWidth);
            EXPECT_EQ(height, row.outHeight);
        }
    }
}

// A display with a window and back buffers on the fake host.
struct TestDisplay {
    TestDisplay() : back1(AllocDisplayBitMap(8, 6)), framebuffer(AllocDisplayBitMap(8, 6)) {
        RectFill(framebuffer.get(), 0, 0, 8, 6, 0);
        window.framebuffer = framebuffer.get();
        host.view.backBuffers[1] = back1.get();
        host.view.pictureWidth = 8, host.view.pictureHeight = 6;
        host.view.window = &window;
    }
    BitMapPtr back1, framebuffer;
    qvPlatformDisplay window{};
    FakeBlitHost host;
};

TEST(BltToDisplay, DefersWhileAVideoDumpRecords) {
    TestDisplay display;
    BitMapPtr bitmap = qv::test::Filled(2, 2, 0xF80000);
    qvVideoDumpState& dump = qv::VideoDumpState();
    dump = {};
    dump.deferredRefresh = true;
    BltToDisplay(bitmap.get(), 0, 0, display.host.Display(), 1, 1, 2, 2, 0);
    EXPECT_TRUE(dump.frameChanged);
    EXPECT_EQ(ReadBitMapPixel(display.framebuffer.get(), 1, 1), 0u);
    for (int flags : {2, 4}) {
        dump.frameChanged = false;
        BltToDisplay(bitmap.get(), 0, 0, display.host.Display(), flags, 1, 2, 2, flags);
        EXPECT_FALSE(dump.frameChanged);
        EXPECT_EQ(ReadBitMapPixel(display.framebuffer.get(), flags, 1), 0xF80000u);
    }
    dump = {};
}

TEST(BltToDisplay, DrawsUnscaledUnlessTheAutoscaleSizeDiffers) {
    TestDisplay display;
    display.host.view.autoscale = true;
    display.host.view.autoscaleWidth = 2, display.host.view.autoscaleHeight = 2;
    BitMapPtr bitmap = qv::test::Filled(2, 2, 0xF80000);
    // The bitmap has the autoscale size, or the refresh does not ask for scaling.
    BltToDisplay(bitmap.get(), 0, 0, display.host.Display(), 3, 3, 2, 2, QV_REFRESH_AUTOSCALE);
    BltToDisplay(bitmap.get(), 1, 1, display.host.Display(), 6, 0, 1, 1, 0);
    EXPECT_EQ(ReadBitMapPixel(display.framebuffer.get(), 3, 3), 0xF80000u);
    EXPECT_EQ(ReadBitMapPixel(display.framebuffer.get(), 6, 0), 0xF80000u);
    EXPECT_EQ(ReadBitMapPixel(display.framebuffer.get(), 7, 0), 0u);
}

// Both copies start where the picture starts in the window, after the letterbox strips.
TEST(BltToDisplay, PlacesBothCopiesAtTheOutputOffset) {
    BitMapPtr bitmap = qv::test::Filled(2, 1, 0xF80000);
    PlotPixel(bitmap.get(), 1, 0, 0x00F800);
    struct Case {
        bool autoscale;
        int32_t dx;
        std::vector<uint32_t> row;  // the window's row 1, columns 0 to 7
    };
    const Case cases[] = {
        // Scaled 2x into 4 x 2 at (3, 1): the source position is not used.
        {true, 0, {0, 0, 0, 0xF80000, 0xF80000, 0x00F800, 0x00F800, 0}},
        // Unscaled at dx + 3.
        {false, 1, {0, 0, 0, 0, 0xF80000, 0x00F800, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.autoscale);
        TestDisplay display;
        display.host.view.autoscale = c.autoscale;
        display.host.view.autoscaleWidth = 4, display.host.view.autoscaleHeight = 2;
        display.host.view.outputX = 3, display.host.view.outputY = 1;
        BltToDisplay(bitmap.get(), 0, 0, display.host.Display(), c.dx, 0, 2, 1,
                     QV_REFRESH_AUTOSCALE);
        std::vector<uint32_t> row;
        for (int32_t x = 0; x < 8; ++x)
            row.push_back(ReadBitMapPixel(display.framebuffer.get(), x, 1));
        EXPECT_EQ(row, c.row);
        EXPECT_EQ(ReadBitMapPixel(display.framebuffer.get(), 3, 0), 0u);
        EXPECT_EQ(ReadBitMapPixel(display.framebuffer.get(), 3, 2), c.autoscale ? 0xF80000u : 0u);
    }
}

TEST(RefreshDisplay, RecomposesOrFlipsAndRedrawsTheVideos) {
    for (bool doubleBuffered : {false, true}) {
        TestDisplay display;
        display.host.view.doubleBuffered = doubleBuffered;
        RefreshDisplay(nullptr, display.host.Display(), 16);
        EXPECT_EQ(display.host.borderClears, 1);
        EXPECT_EQ(display.host.videoRefreshes, 1);
        if (doubleBuffered) {
            ASSERT_EQ(display.host.flips.size(), 1u);
            EXPECT_EQ(display.host.flips[0].mode, 1);
            EXPECT_EQ(display.host.flips[0].flags, 16);
            EXPECT_TRUE(display.host.redraws.empty());
        } else {
            ASSERT_EQ(display.host.redraws.size(), 1u);
            const auto& call = display.host.redraws[0];
            EXPECT_EQ(call.dest, display.back1.get());
            EXPECT_EQ(call.flags, qv::gfx::kRedrawAll);
            EXPECT_EQ(call.width, 8);
            EXPECT_EQ(call.height, 6);
            EXPECT_EQ(ReadBitMapPixel(display.framebuffer.get(), 7, 5),
                      ReadBitMapPixel(display.back1.get(), 7, 5));
            EXPECT_TRUE(display.host.flips.empty());
        }
    }
    // The buffer word of BeginDoubleBuffer alone also means double buffering.
    TestDisplay display;
    display.host.view.bufferWord = 1;
    RefreshDisplay(nullptr, display.host.Display(), 0);
    EXPECT_EQ(display.host.flips.size(), 1u);
}

// Nothing composed over the picture: the window gets the first back buffer as it is, unless
// an autoscaled window shows the second, which must then be composed.
TEST(RefreshDisplay, APlainPictureGoesStraightFromTheFirstBackBuffer) {
    struct Case {
        bool plain, autoscale, composed;
    };
    for (const Case& c :
         {Case{true, false, false}, Case{false, false, true}, Case{true, true, true}}) {
        SCOPED_TRACE(testing::Message() << c.plain << c.autoscale);
        TestDisplay display;
        BitMapPtr first = qv::test::Filled(8, 6, 0x00F800);
        display.host.view.backBuffers[0] = first.get();
        display.host.view.plainPicture = c.plain;
        display.host.view.autoscale = c.autoscale;
        RefreshDisplay(nullptr, display.host.Display(), 0);
        EXPECT_EQ(display.host.redraws.size(), c.composed ? 1u : 0u);
        const qvDisplayBitMap* shown = c.composed ? display.back1.get() : first.get();
        EXPECT_EQ(ReadBitMapPixel(display.framebuffer.get(), 7, 5), ReadBitMapPixel(shown, 7, 5));
    }
}

}  // namespace

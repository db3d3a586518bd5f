// SafeBlt with a fake display host: clipping (regions at negative positions and larger than
// the destination among them), the sprite path, the missing display, the clip-region shape
// with mask and alpha, the target's plane updates, the destination choice of the flags and
// the temporary plane after a failed allocation.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "gfx/graphics_state.h"
#include "gfx/safe_blt.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/fake_blit_host.h"

namespace {

using qv::test::AsStored;
using qv::test::BitMapPtr;
using qv::test::FakeBlitHost;
using qv::test::Filled;
using qv::test::PlanePtr;

// Colours whose channels every format keeps exactly.
constexpr uint32_t kRed = 0xF80000, kBlue = 0x0000F8, kGrey = 0x808080, kBlack = 0;

PlanePtr Plane(int32_t width, int32_t height, uint8_t depth, uint8_t fill) {
    PlanePtr plane(depth == 1 ? AllocMaskBitMap(nullptr, width, height, 0)
                              : AllocAlphaBitMap(width, height, 0));
    std::fill_n(plane->plane, size_t(plane->bytesPerRow) * height, fill);
    return plane;
}

// A window of the given size with two back buffers behind it.
struct TestDisplay {
    explicit TestDisplay(int32_t width = 32, int32_t height = 24)
        : back0(Filled(width, height, kBlack)),
          back1(Filled(width, height, kBlack)),
          framebuffer(Filled(width, height, kBlack)) {
        window.framebuffer = framebuffer.get();
        host.view.backBuffers[0] = back0.get();
        host.view.backBuffers[1] = back1.get();
        host.view.pictureWidth = width, host.view.pictureHeight = height;
        host.view.window = &window;
        qv::gfx::Graphics().CreatePseudoDisplay();
    }

    BitMapPtr back0, back1, framebuffer;
    qvPlatformDisplay window{};
    FakeBlitHost host;
};

uint32_t At(const BitMapPtr& bitmap, int32_t x, int32_t y) {
    return ReadBitMapPixel(bitmap.get(), x, y);
}

// The pixels of a bitmap inside a rectangle are one colour, those outside another.
::testing::AssertionResult Painted(const BitMapPtr& bitmap, int32_t x, int32_t y, int32_t w,
                                   int32_t h, uint32_t inside, uint32_t outside) {
    for (int32_t py = 0; py < bitmap->height; ++py) {
        for (int32_t px = 0; px < bitmap->width; ++px) {
            bool in = px >= x && py >= y && px < x + w && py < y + h;
            uint32_t want = AsStored(in ? inside : outside), got = At(bitmap, px, py);
            if (got != want) {
                return ::testing::AssertionFailure() << "(" << px << "," << py << ") is 0x"
                                                     << std::hex << got << ", not 0x" << want;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

struct ClipRow {
    std::array<int32_t, 4> region;  // width 0: no region
    std::array<int32_t, 6> in;      // sx, sy, dx, dy, width, height
    std::array<int32_t, 4> sizes;   // source width, height, destination width, height
    int useRegion;
    std::array<int32_t, 6> out;  // width and height 0: nothing to draw
};

TEST(ClipBlitRect, CutsToSourceDestinationAndRegion) {
    const ClipRow rows[] = {
        // A negative destination x.
        {{}, {0, 0, -10, 0, 50, 20}, {100, 100, 200, 200}, 1, {10, 0, 0, 0, 40, 20}},
        // A region, used and not used.
        {{100, 100, 50, 50},
         {0, 0, 80, 120, 100, 100},
         {200, 200, 640, 480},
         1,
         {20, 0, 100, 120, 50, 30}},
        {{100, 100, 50, 50},
         {0, 0, 80, 120, 100, 100},
         {200, 200, 640, 480},
         0,
         {0, 0, 80, 120, 100, 100}},
        // The source width, and a negative source.
        {{}, {90, 0, 0, 0, 50, 10}, {100, 100, 200, 200}, 1, {90, 0, 0, 0, 10, 10}},
        {{}, {-1, 0, 0, 0, 50, 10}, {100, 100, 200, 200}, 1, {-1, 0, 0, 0, 0, 0}},
        // Regions at a negative position, larger than the destination and outside it.
        {{-20, -10, 50, 50},
         {0, 0, -30, -30, 40, 40},
         {100, 100, 200, 200},
         1,
         {30, 30, 0, 0, 10, 10}},
        {{0, 0, 1000, 1000}, {0, 0, 60, 40, 20, 20}, {100, 100, 64, 48}, 1, {0, 0, 60, 40, 4, 8}},
        {{70, 0, 10, 10}, {0, 0, 0, 0, 100, 100}, {100, 100, 64, 48}, 1, {0, 0, 70, 0, 0, 0}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const ClipRow& row = rows[i];
        qvClipRegion region{};
        region.x = row.region[0], region.y = row.region[1];
        region.width = row.region[2], region.height = row.region[3];
        auto v = row.in;
        ClipBlitRect(region.width != 0 ? &region : nullptr, &v[0], &v[1], &v[2], &v[3], &v[4],
                     &v[5], row.sizes[0], row.sizes[1], row.sizes[2], row.sizes[3], row.useRegion);
        if (row.out[4] == 0) {
            EXPECT_TRUE(v[4] <= 0 || v[5] <= 0) << "row " << i;
        } else {
            EXPECT_EQ(v, row.out) << "row " << i;
        }
    }
}

TEST(SafeBlt, NegativeDestinationMovesTheSource) {
    TestDisplay display;
    BitMapPtr source = Filled(50, 4, kRed), dest = Filled(32, 8, kBlack);
    RectFill(source.get(), 0, 0, 10, 4, kBlue);  // the part cut off
    SafeBlt(nullptr, source.get(), 0, 0, dest.get(), -10, 0, 50, 4, 50, 4, 32, 8, 0, nullptr,
            nullptr, nullptr);
    EXPECT_TRUE(Painted(dest, 0, 0, 32, 4, kRed, kBlack));
}

TEST(SafeBlt, RegionsNeverReachOutsideTheDestinationSize) {
    // Regions that SetClipRegion lets through for the picture but that do not fit a smaller
    // destination: at a negative position, and larger than it.
    TestDisplay display;
    BitMapPtr source = Filled(40, 40, kRed);
    for (auto [x, y, w, h] : {std::array{-8, -8, 20, 20}, std::array{0, 0, 64, 64}}) {
        BitMapPtr dest = Filled(32, 24, kBlack);
        qvClipRegion region{};
        region.x = x, region.y = y, region.width = w, region.height = h;
        SafeBlt(nullptr, source.get(), 0, 0, dest.get(), -4, -4, 40, 40, 40, 40, 16, 12,
                QV_BLIT_NOSPRITES, nullptr, nullptr, &region);
        int32_t right = std::min(x + w, 16), bottom = std::min(y + h, 12);
        EXPECT_TRUE(Painted(dest, 0, 0, right, bottom, kRed, kBlack)) << x << "," << y;
    }
}

TEST(SafeBlt, DrawsUnderTheSprites) {
    TestDisplay display;
    display.host.sprites = {{10, 10, 8, 8}};
    BitMapPtr source = Filled(20, 20, kRed);
    SafeBlt(nullptr, source.get(), 0, 0, nullptr, 5, 5, 20, 20, 20, 20, 32, 24, 0, nullptr, nullptr,
            nullptr);
    ASSERT_EQ(display.host.redraws.size(), 2u);
    EXPECT_EQ(display.host.redraws[0].flags, qv::gfx::kRedrawNoSprites);
    EXPECT_EQ(display.host.redraws[1].flags, qv::gfx::kRedrawSpritesOnly);
    for (const auto& call : display.host.redraws) {
        EXPECT_EQ(call.dest, display.back1.get());
        EXPECT_EQ((std::array<int32_t, 4>{call.x, call.y, call.width, call.height}),
                  (std::array<int32_t, 4>{5, 5, 20, 19}));  // cut to the picture's height
    }
    // The window shows the source with the sprite on top of it.
    for (int32_t y = 0; y < 24; ++y) {
        for (int32_t x = 0; x < 32; ++x) {
            bool sprite = x >= 10 && x < 18 && y >= 10 && y < 18;
            bool drawn = x >= 5 && x < 25 && y >= 5;
            uint32_t want = sprite ? qv::test::kRedrawSpriteColour : drawn ? kRed : kBlack;
            ASSERT_EQ(At(display.framebuffer, x, y), AsStored(want)) << x << "," << y;
        }
    }
}

TEST(SafeBlt, BackBufferVariantComposesFromTheFirstBuffer) {
    TestDisplay display;
    display.host.sprites = {{0, 0, 4, 4}};
    BitMapPtr source = Filled(8, 8, kRed);
    SafeBlt(nullptr, source.get(), 0, 0, nullptr, 2, 2, 8, 8, 8, 8, 32, 24, QV_BLIT_BACKBUFFER,
            nullptr, nullptr, nullptr);
    EXPECT_TRUE(Painted(display.back0, 2, 2, 8, 8, kRed, kBlack));
    ASSERT_EQ(display.host.redraws.size(), 1u);
    EXPECT_EQ(display.host.redraws[0].flags, qv::gfx::kRedrawAll);
    EXPECT_EQ(display.host.redraws[0].dest, display.back1.get());
    // The window shows what the second buffer composed: the picture and the sprite.
    EXPECT_EQ(At(display.framebuffer, 3, 3), AsStored(qv::test::kRedrawSpriteColour));
    EXPECT_EQ(At(display.framebuffer, 8, 8), AsStored(qv::test::kRedrawPictureColour));
}

TEST(SafeBlt, BlitsAwayFromTheSpritesGoStraightThrough) {
    TestDisplay display;
    display.host.sprites = {{20, 20, 4, 4}};
    BitMapPtr source = Filled(8, 8, kRed);
    SafeBlt(nullptr, source.get(), 0, 0, nullptr, 0, 0, 8, 8, 8, 8, 32, 24, 0, nullptr, nullptr,
            nullptr);
    EXPECT_TRUE(display.host.redraws.empty());
    EXPECT_TRUE(Painted(display.framebuffer, 0, 0, 8, 8, kRed, kBlack));
}

TEST(SafeBlt, WithoutADisplayOnlyOffscreenBlitsDraw) {
    TestDisplay display;
    display.host.SetDisplayOpen(false);
    BitMapPtr source = Filled(4, 4, kRed), dest = Filled(4, 4, kBlack);
    {
        qv::DebugCapture capture;
        SafeBlt(nullptr, source.get(), 0, 0, dest.get(), 0, 0, 4, 4, 4, 4, 4, 4, 0, nullptr,
                nullptr, nullptr);
        EXPECT_EQ(capture.Text(), "ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n");
        EXPECT_TRUE(Painted(dest, 0, 0, 0, 0, kRed, kBlack));
    }
    {
        qv::DebugCapture capture;
        SafeBlt(nullptr, source.get(), 0, 0, dest.get(), 0, 0, 4, 4, 4, 4, 4, 4, QV_BLIT_OFFSCREEN,
                nullptr, nullptr, nullptr);
        EXPECT_EQ(capture.Text(), "");
        EXPECT_TRUE(Painted(dest, 0, 0, 4, 4, kRed, kBlack));
    }
    // The pseudo-display stood in for the one call.
    EXPECT_EQ(display.host.switches,
              std::vector<qvDisplay*>({qv::gfx::Graphics().PseudoDisplay(), nullptr}));
    // Offscreen without a destination still needs a display.
    qv::DebugCapture capture;
    SafeBlt(nullptr, source.get(), 0, 0, nullptr, 0, 0, 4, 4, 4, 4, 4, 4, QV_BLIT_OFFSCREEN,
            nullptr, nullptr, nullptr);
    EXPECT_EQ(capture.Text(), "ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n");
}

TEST(SafeBlt, AShapedRegionShapesAMaskedBlitEvenWithAnAlphaPlane) {
    TestDisplay display;
    BitMapPtr source = Filled(8, 8, kRed);
    PlanePtr mask = Plane(8, 8, 1, 0), alpha = Plane(8, 8, 8, 255);
    FillMaskRect(mask.get(), 0, 0, 4, 8, 0);  // left half
    PlanePtr shape = Plane(8, 8, 1, 0);
    FillMaskRect(shape.get(), 0, 0, 8, 4, 0);  // top half
    qvClipRegion region{};
    region.x = 2, region.y = 2, region.width = 8, region.height = 8, region.mask = shape.get();
    region.maskBytesPerRow = shape->bytesPerRow;

    BitMapPtr dest = Filled(16, 16, kBlack);
    SafeBlt(nullptr, source.get(), 0, 0, dest.get(), 2, 2, 8, 8, 8, 8, 16, 16, QV_BLIT_NOSPRITES,
            mask.get(), alpha.get(), &region);
    EXPECT_TRUE(Painted(dest, 2, 2, 4, 4, kRed, kBlack));  // mask AND region

    BitMapPtr unshaped = Filled(16, 16, kBlack);
    SafeBlt(nullptr, source.get(), 0, 0, unshaped.get(), 2, 2, 8, 8, 8, 8, 16, 16,
            QV_BLIT_NOSPRITES | QV_BLIT_NOREGION, mask.get(), alpha.get(), &region);
    EXPECT_TRUE(Painted(unshaped, 2, 2, 4, 8, kRed, kBlack));  // the mask wins over alpha
}

TEST(SafeBlt, AShapedRegionGatesTheAlphaPlane) {
    TestDisplay display;
    BitMapPtr source = Filled(8, 8, kRed);
    PlanePtr alpha = Plane(8, 8, 8, 255), shape = Plane(8, 8, 1, 0);
    FillMaskRect(shape.get(), 4, 0, 4, 8, 0);
    qvClipRegion region{};
    region.width = 8, region.height = 8, region.mask = shape.get();
    BitMapPtr dest = Filled(8, 8, kBlack);
    SafeBlt(nullptr, source.get(), 0, 0, dest.get(), 0, 0, 8, 8, 8, 8, 8, 8, QV_BLIT_NOSPRITES,
            nullptr, alpha.get(), &region);
    EXPECT_TRUE(Painted(dest, 4, 0, 4, 8, kRed, kBlack));
}

TEST(SafeBlt, DrawingIntoABrushThroughAMaskSetsItsAlphaBytes) {
    TestDisplay display;
    PlanePtr brushAlpha = Plane(8, 8, 8, 7);
    display.host.view.outputType = qv::gfx::kTargetBrush;
    display.host.view.targetAlpha = brushAlpha.get();
    qv::gfx::Graphics().alphaIntensity = 128;
    BitMapPtr source = Filled(8, 8, kRed), brush = Filled(8, 8, kBlack);
    PlanePtr mask = Plane(8, 8, 1, 0);
    FillMaskRect(mask.get(), 0, 0, 3, 8, 0);
    SafeBlt(nullptr, source.get(), 0, 0, brush.get(), 0, 0, 8, 8, 8, 8, 8, 8, QV_BLIT_NOSPRITES,
            mask.get(), nullptr, nullptr);
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(brushAlpha->plane[x], x < 3 ? 255 : 7) << x;
    EXPECT_TRUE(Painted(brush, 0, 0, 3, 8, kRed, kBlack));
}

// The output target's planes after a blit without source planes (the pixel at 0, 0).
struct PlaneUpdateRow {
    bool dest;
    int32_t maskMode, intensity;
    bool bitBefore, bitAfter;
    uint8_t alphaAfter;
};

TEST(SafeBlt, PlainBlitsUpdateTheTargetPlanesInTheMaskModeAndIntensity) {
    const PlaneUpdateRow rows[] = {
        // With a destination: always a vanilla copy at full alpha.
        {true, 1, 128, false, true, 255},
        {true, 3, -1, true, true, 255},
        // Without one: the global settings.
        {false, 0, 128, false, true, 128},
        {false, 1, 128, true, false, 128},
        {false, 2, -1, false, true, 255},
        {false, 3, 128, true, false, 128},
        {false, 3, 128, false, true, 128},
        {false, 4, 128, true, true, 128},
        {false, 4, 128, false, false, 128},
        {false, 5, -1, false, true, 255},
    };
    for (const PlaneUpdateRow& row : rows) {
        TestDisplay display;
        PlanePtr mask = Plane(4, 4, 1, row.bitBefore ? 0xFF : 0), alpha = Plane(4, 4, 8, 9);
        display.host.view.outputType = qv::gfx::kTargetMask;
        display.host.view.targetMask = mask.get();
        display.host.view.targetAlpha = alpha.get();
        qv::gfx::Graphics().maskMode = row.maskMode;
        qv::gfx::Graphics().alphaIntensity = row.intensity;
        BitMapPtr source = Filled(4, 4, kRed), dest = Filled(4, 4, kBlack);
        SafeBlt(nullptr, source.get(), 0, 0, row.dest ? dest.get() : nullptr, 0, 0, 2, 2, 4, 4, 4,
                4, QV_BLIT_NOSPRITES, nullptr, nullptr, nullptr);
        EXPECT_EQ(ReadBitMapPixel(mask.get(), 0, 0), row.bitAfter ? 1u : 0u)
            << row.dest << " mode " << row.maskMode;
        EXPECT_EQ(alpha->plane[0], row.alphaAfter) << row.dest << " mode " << row.maskMode;
        EXPECT_EQ(alpha->plane[2], 9) << "outside the rectangle";
        // Offscreen blits leave the target's planes alone.
        PlanePtr untouched = Plane(4, 4, 8, 9);
        display.host.view.targetAlpha = untouched.get();
        SafeBlt(nullptr, source.get(), 0, 0, row.dest ? dest.get() : nullptr, 0, 0, 2, 2, 4, 4, 4,
                4, QV_BLIT_NOSPRITES | QV_BLIT_OFFSCREEN, nullptr, nullptr, nullptr);
        EXPECT_EQ(untouched->plane[0], 9);
    }
}

struct AlphaTargetRow {
    bool dest, combine;
    int32_t intensity;
    uint8_t sourceAlpha, before, after;
};

TEST(SafeBlt, AlphaBlitsCombineIntoTheTargetAlphaPlane) {
    const AlphaTargetRow rows[] = {
        {false, false, 100, 60, 9, 100},  // mode 6: the intensity where the source has alpha
        {false, false, 100, 0, 9, 9},    {false, false, -1, 60, 9, 60},  // vanilla copy: mode 0
        {false, false, -1, 0, 9, 0},     {true, true, 100, 60, 9, 60},   // combine: mode 1
        {true, true, 100, 0, 9, 9},      {true, false, 100, 0, 9, 0},    // plain copy
    };
    for (const AlphaTargetRow& row : rows) {
        TestDisplay display;
        PlanePtr target = Plane(2, 2, 8, row.before);
        display.host.view.outputType = qv::gfx::kTargetBrush;
        display.host.view.targetAlpha = target.get();
        qv::gfx::Graphics().alphaIntensity = row.intensity;
        qv::gfx::Graphics().alphaCombine = row.combine;
        BitMapPtr source = Filled(2, 2, kRed), dest = Filled(2, 2, kBlue);
        PlanePtr alpha = Plane(2, 2, 8, row.sourceAlpha);
        SafeBlt(nullptr, source.get(), 0, 0, row.dest ? dest.get() : nullptr, 0, 0, 2, 2, 2, 2, 2,
                2, QV_BLIT_NOSPRITES, nullptr, alpha.get(), nullptr);
        EXPECT_EQ(target->plane[0], row.after)
            << row.dest << row.combine << " " << row.intensity << " " << int(row.sourceAlpha);
        if (row.dest) {
            // With the target's own alpha, pixels are copied (where the alpha is non-zero
            // when combining), not blended.
            bool copied = !row.combine || row.sourceAlpha != 0;
            EXPECT_EQ(At(dest, 0, 0), AsStored(copied ? kRed : kBlue));
        }
    }
}

struct DestinationRow {
    const char* name;
    uint32_t flags;
    bool layers;
    bool intoFirst, window, recomposed;
};

TEST(SafeBlt, FlagsChooseTheDestinationOnTheDisplay) {
    const DestinationRow rows[] = {
        {"window", 0, false, false, true, false},
        {"back buffer", QV_BLIT_BACKBUFFER, false, true, true, false},
        {"back buffer without refresh", QV_BLIT_BACKBUFFER | QV_BLIT_NOREFRESH, false, true, false,
         false},
        {"back buffer with layers", QV_BLIT_BACKBUFFER, true, false, true, false},
        {"recompose", QV_BLIT_RECOMPOSE, true, false, false, true},
        {"recompose without layers", QV_BLIT_RECOMPOSE, false, false, true, false},
        {"first buffer", QV_BLIT_FIRSTBUFFER, true, true, true, false},
        {"first buffer without refresh", QV_BLIT_FIRSTBUFFER | QV_BLIT_NOREFRESH, true, true, false,
         false},
    };
    for (const DestinationRow& row : rows) {
        TestDisplay display;
        display.host.view.layersEnabled = row.layers;
        BitMapPtr source = Filled(4, 4, kRed);
        SafeBlt(nullptr, source.get(), 0, 0, nullptr, 1, 1, 4, 4, 4, 4, 32, 24,
                row.flags | QV_BLIT_NOSPRITES, nullptr, nullptr, nullptr);
        EXPECT_TRUE(Painted(display.back0, 1, 1, 4, 4, row.intoFirst ? kRed : kBlack, kBlack))
            << row.name;
        uint32_t shown = row.recomposed ? qv::test::kRedrawPictureColour
                         : row.window   ? kRed
                                        : kBlack;
        EXPECT_TRUE(Painted(display.framebuffer, 1, 1, 4, 4, shown, kBlack)) << row.name;
        EXPECT_EQ(display.host.redraws.size(), row.recomposed ? 1u : 0u) << row.name;
    }
}

TEST(SafeBlt, AnAutoscaledDisplayGetsTheSecondBackBufferToo) {
    TestDisplay display;
    display.host.view.autoscale = true;
    display.host.view.autoscaleWidth = 64, display.host.view.autoscaleHeight = 48;
    BitMapPtr source = Filled(4, 4, kRed);
    SafeBlt(nullptr, source.get(), 0, 0, nullptr, 1, 1, 4, 4, 4, 4, 32, 24,
            QV_BLIT_BACKBUFFER | QV_BLIT_NOSPRITES, nullptr, nullptr, nullptr);
    EXPECT_TRUE(Painted(display.back0, 1, 1, 4, 4, kRed, kBlack));
    EXPECT_TRUE(Painted(display.back1, 1, 1, 4, 4, kRed, kBlack));
    // Offscreen blits leave the second buffer alone.
    BitMapPtr grey = Filled(4, 4, kGrey);
    SafeBlt(nullptr, grey.get(), 0, 0, display.back0.get(), 1, 1, 4, 4, 4, 4, 32, 24,
            QV_BLIT_NOSPRITES | QV_BLIT_OFFSCREEN, nullptr, nullptr, nullptr);
    EXPECT_TRUE(Painted(display.back1, 1, 1, 4, 4, kRed, kBlack));
}

TEST(SafeBlt, AFailedTemporaryPlaneDrawsNothingAndIsForgotten) {
    TestDisplay display;
    qv::gfx::Graphics().Free();  // start from no temporary plane
    qv::gfx::Graphics().CreatePseudoDisplay();
    PlanePtr shape = Plane(64, 64, 1, 0xFF);
    qvClipRegion region{};
    region.width = 64, region.height = 64, region.mask = shape.get();
    BitMapPtr small = Filled(8, 8, kRed), large = Filled(64, 64, kBlue);
    auto blit = [&](const BitMapPtr& source, const BitMapPtr& dest) {
        SafeBlt(nullptr, source.get(), 0, 0, dest.get(), 0, 0, source->width, source->height,
                source->width, source->height, 64, 64, QV_BLIT_NOSPRITES, nullptr, nullptr,
                &region);
    };
    BitMapPtr dest = Filled(64, 64, kBlack);
    blit(small, dest);
    const size_t grown = qv::gfx::Graphics().TempPlaneSize();
    EXPECT_GT(grown, 0u);
    {
        qv::AllocationFault fault(1, false);
        blit(large, dest);
    }
    EXPECT_TRUE(Painted(dest, 0, 0, 8, 8, kRed, kBlack));
    EXPECT_EQ(qv::gfx::Graphics().TempPlaneSize(), 0u);
    // A later blit no larger than the first allocates afresh instead of using freed memory.
    BitMapPtr again = Filled(64, 64, kBlack);
    blit(small, again);
    EXPECT_TRUE(Painted(again, 0, 0, 8, 8, kRed, kBlack));
    EXPECT_EQ(qv::gfx::Graphics().TempPlaneSize(), grown);
}

}  // namespace

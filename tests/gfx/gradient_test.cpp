// DrawGradient and RenderGradient in the screen format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "gfx/gradient.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::BitMapPtr;
namespace hooks = qv::platform::testing;
using qv::gfx::CONICAL;
using qv::gfx::LINEAR;
using qv::gfx::RADIAL;

constexpr uint32_t kStart = 0x10C020, kEnd = 0xF02090;

qvGradient TwoColours(int32_t style, int32_t angle) {
    qvGradient g;
    g.style = style, g.angle = angle, g.startColour = kStart, g.endColour = kEnd;
    return g;
}

// A gradient of three stops; the general path.
qvGradient ThreeStops(int32_t style, int32_t angle) {
    qvGradient g = TwoColours(style, angle);
    g.stopCount = 3;
    g.stops[0] = {kStart, 0}, g.stops[1] = {0x808080, 0.4}, g.stops[2] = {kEnd, 1};
    return g;
}

BitMapPtr Render(const qvGradient& g, int32_t width, int32_t height) {
    BitMapPtr bitmap(AllocDisplayBitMap(width, height));
    DrawGradient(bitmap.get(), 0, 0, width, height, &g);
    return bitmap;
}

uint32_t Channel(uint32_t rgb, int shift) {
    return (rgb >> shift) & 255;
}

// Along the steps from (x, y): every channel moves one way only, from the start colour's
// side to the end colour's.
::testing::AssertionResult Monotone(const qvDisplayBitMap* b, int32_t x, int32_t y, int32_t dx,
                                    int32_t dy) {
    uint32_t previous = ReadBitMapPixel(b, x, y);
    for (x += dx, y += dy; x >= 0 && y >= 0 && x < b->width && y < b->height; x += dx, y += dy) {
        const uint32_t rgb = ReadBitMapPixel(b, x, y);
        for (int shift = 0; shift <= 16; shift += 8) {
            const bool up = Channel(kEnd, shift) >= Channel(kStart, shift);
            if (up ? Channel(rgb, shift) < Channel(previous, shift)
                   : Channel(rgb, shift) > Channel(previous, shift)) {
                return ::testing::AssertionFailure()
                       << "channel " << shift << " turns at " << x << "," << y;
            }
        }
        previous = rgb;
    }
    return ::testing::AssertionSuccess();
}

TEST(RenderGradient, EquivalentAnglesDrawAlike) {
    for (auto make : {TwoColours, ThreeStops}) {
        for (auto [a, b] : {std::pair{-90, 270}, std::pair{450, 90}, std::pair{-315, 45}}) {
            BitMapPtr first = Render(make(LINEAR, a), 23, 17),
                      second = Render(make(LINEAR, b), 23, 17);
            EXPECT_TRUE(qv::test::SameBitMap(first.get(), second.get())) << a << " " << b;
        }
    }
}

TEST(RenderGradient, TwoColoursStopShortOfTheEndColour) {
    constexpr int32_t kHeight = 10;
    BitMapPtr b = Render(TwoColours(LINEAR, 0), 5, kHeight);
    const uint32_t format = b->format;
    for (int32_t y = 0; y < kHeight; ++y) {
        uint32_t want = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int32_t c1 = int32_t(Channel(kStart, shift)), c2 = int32_t(Channel(kEnd, shift));
            want |= uint32_t(c1 + y * (c2 - c1) / kHeight) << shift;
        }
        for (int32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(ReadBitMapPixel(b.get(), x, y), qv::test::AsStored(format, want)) << y;
        }
    }
    EXPECT_NE(ReadBitMapPixel(b.get(), 0, kHeight - 1), qv::test::AsStored(format, kEnd));
}

TEST(RenderGradient, DirectionsOfTheAngle) {
    const uint32_t format = qv::ScreenFormat();
    for (auto make : {TwoColours, ThreeStops}) {
        // 0 runs down from the start colour, 180 up from it, 90 to the right, 270 to the left.
        BitMapPtr down = Render(make(LINEAR, 0), 19, 31);
        EXPECT_TRUE(Monotone(down.get(), 7, 0, 0, 1));
        BitMapPtr up = Render(make(LINEAR, 180), 19, 31);
        EXPECT_TRUE(Monotone(up.get(), 7, 30, 0, -1));
        EXPECT_NE(ReadBitMapPixel(up.get(), 7, 30), ReadBitMapPixel(up.get(), 7, 0));
        BitMapPtr right = Render(make(LINEAR, 90), 31, 19);
        EXPECT_TRUE(Monotone(right.get(), 0, 5, 1, 0));
        BitMapPtr left = Render(make(LINEAR, 270), 31, 19);
        EXPECT_TRUE(Monotone(left.get(), 30, 5, -1, 0));
        for (int32_t angle : {30, 135, 200, 300}) {
            BitMapPtr b = Render(make(LINEAR, angle), 40, 25);
            const double r = angle * std::numbers::pi / 180;
            // Along the direction (sin, cos) in whole steps of its larger component.
            const int32_t dx = std::fabs(std::sin(r)) > 0.38 ? (std::sin(r) > 0 ? 1 : -1) : 0;
            const int32_t dy = std::fabs(std::cos(r)) > 0.38 ? (std::cos(r) > 0 ? 1 : -1) : 0;
            EXPECT_TRUE(Monotone(b.get(), dx < 0 ? 39 : 0, dy < 0 ? 24 : 0, dx, dy)) << angle;
        }
    }
    // The two-colour gradient has the start colour on the top row at angle 0 and the end
    // colour there at 180; the general path samples pixel centres, just inside the line.
    BitMapPtr down = Render(TwoColours(LINEAR, 0), 3, 8);
    EXPECT_EQ(ReadBitMapPixel(down.get(), 1, 0), qv::test::AsStored(format, kStart));
    BitMapPtr up = Render(TwoColours(LINEAR, 180), 3, 8);
    EXPECT_EQ(ReadBitMapPixel(up.get(), 1, 0), qv::test::AsStored(format, kEnd));
}

TEST(RenderGradient, UltraHighDefinitionKeepsItsInvariants) {
    // 3840 x 2160 at 120 degrees: the row values pass 2^31 on the way right.
    BitMapPtr b = Render(TwoColours(LINEAR, 120), 3840, 2160);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 0, 2159), qv::test::AsStored(b->format, kStart));
    EXPECT_TRUE(Monotone(b.get(), 0, 2159, 1, 0));
    EXPECT_TRUE(Monotone(b.get(), 0, 0, 1, 0));
    EXPECT_TRUE(Monotone(b.get(), 3839, 2159, 0, -1));
    EXPECT_TRUE(Monotone(b.get(), 0, 2159, 2, -1));
    EXPECT_NE(ReadBitMapPixel(b.get(), 3839, 0), ReadBitMapPixel(b.get(), 0, 2159));
}

TEST(RenderGradient, RadialAndConical) {
    const uint32_t format = qv::ScreenFormat();
    qvGradient radial = TwoColours(RADIAL, 0);
    BitMapPtr b = Render(radial, 41, 41);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 20, 20), qv::test::AsStored(format, kStart));
    EXPECT_TRUE(Monotone(b.get(), 20, 20, 1, 1));
    EXPECT_TRUE(Monotone(b.get(), 20, 20, -1, 0));
    // A border of 1 keeps a hundredth of the radius, as 0.99 does.
    radial.border = 1;
    BitMapPtr full = Render(radial, 41, 41);
    radial.border = 0.99;
    BitMapPtr almost = Render(radial, 41, 41);
    EXPECT_TRUE(qv::test::SameBitMap(full.get(), almost.get()));
    EXPECT_EQ(ReadBitMapPixel(full.get(), 30, 30), qv::test::AsStored(format, kEnd));
    // Conical: the end colour towards the angle, the start colour at the balance.
    qvGradient conical = TwoColours(CONICAL, 0);
    BitMapPtr c = Render(conical, 41, 41);
    EXPECT_EQ(ReadBitMapPixel(c.get(), 40, 20), qv::test::AsStored(format, kEnd));
    EXPECT_EQ(ReadBitMapPixel(c.get(), 0, 20), qv::test::AsStored(format, kStart));
}

TEST(RenderGradient, OneStopPaintsEverywhereAndCountsAreBounded) {
    for (int32_t style : {LINEAR, RADIAL, CONICAL}) {
        qvGradient g = TwoColours(style, 33);
        g.stopCount = 1;
        g.stops[0] = {0x3060F0, 0.7};
        BitMapPtr b = Render(g, 9, 7);
        for (int32_t y = 0; y < 7; ++y) {
            for (int32_t x = 0; x < 9; ++x) {
                ASSERT_EQ(ReadBitMapPixel(b.get(), x, y), qv::test::AsStored(b->format, 0x3060F0));
            }
        }
    }
    // 65 stops are 64: the last one read is the record's last, at position 1.
    qvGradient many = TwoColours(LINEAR, 0);
    many.stopCount = 65;
    for (int32_t i = 0; i < qv::gfx::kMaxGradientStops; ++i) {
        many.stops[i] = {uint32_t(i * 4) << 8, i / 63.0};
    }
    BitMapPtr b = Render(many, 4, 64);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 0, 63), qv::test::AsStored(b->format, 252 << 8));
    // A negative count is a two-colour gradient.
    qvGradient negative = TwoColours(RADIAL, 0);
    negative.stopCount = -5;
    BitMapPtr n = Render(negative, 9, 9);
    EXPECT_EQ(ReadBitMapPixel(n.get(), 4, 4), qv::test::AsStored(n->format, kStart));
}

TEST(RenderGradient, WritesAlphaZero) {
    for (auto make : {TwoColours, ThreeStops}) {
        BitMapPtr b(AllocDisplayBitMap(6, 4));
        if (b->bytesPerPixel != 4) GTEST_SKIP() << "no alpha in this format";
        std::memset(b->pixels, 0xFF, size_t(b->rowLength) * 4 * 4);
        const qvGradient g = make(LINEAR, 10);
        DrawGradient(b.get(), 0, 0, 6, 4, &g);
        qv::VisitFormat(b->format, [&](auto f) {
            if constexpr (f.bytes == 4) {
                for (int32_t y = 0; y < 4; ++y) {
                    for (int32_t x = 0; x < 6; ++x) {
                        const uint32_t pixel =
                            qv::LoadPixel(b->pixels + (y * b->rowLength + x) * 4, 4);
                        EXPECT_EQ(pixel & f.alphaMask, 0u) << x << "," << y;
                    }
                }
            }
        });
    }
}

TEST(DrawGradient, RefusesWhatItCannotDraw) {
    const qvGradient g = TwoColours(LINEAR, 0);
    {
        qv::DebugCapture capture;
        DrawGradient(nullptr, 0, 0, 4, 4, &g);
        EXPECT_EQ(capture.Text(), "ERROR! DRAWGRADIENT() CALLED WITH DST=NULL!\n");
    }
    BitMapPtr b = qv::test::Filled(8, 8, 0x123456), before = qv::test::Filled(8, 8, 0x123456);
    {
        hooks::LockFault fault(1);
        DrawGradient(b.get(), 0, 0, 8, 8, &g);
    }
    DrawGradient(b.get(), 4, 4, 5, 4, &g);  // not inside
    DrawGradient(b.get(), 0, 0, 8, 0, &g);
    EXPECT_TRUE(qv::test::SameBitMap(b.get(), before.get()));
    // A rectangle inside is drawn at its place.
    DrawGradient(b.get(), 2, 3, 4, 4, &g);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 2, 3), qv::test::AsStored(b->format, kStart));
    EXPECT_EQ(ReadBitMapPixel(b.get(), 1, 3), ReadBitMapPixel(before.get(), 1, 3));
}

}  // namespace

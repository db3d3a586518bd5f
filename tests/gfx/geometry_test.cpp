// Position constants, the trigonometry table, transformed bounds, polygon clipping, arcs,
// colour blending and the ripple displacement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "gfx/clip_region.h"
#include "gfx/geometry.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/fake_blit_host.h"

namespace {

using namespace qv::gfx;

struct PosRow {
    int32_t c, objectSize, targetSize;
    double anchor;
    int32_t x, y;  // ResolvePosX and ResolvePosY
};

TEST(ResolvePos, BandsOffsetsAndAnchors) {
    const PosRow rows[] = {
        {-100000, 100, 640, 0, 270, 270},       // centred
        {-99990, 100, 640, 0, 280, 280},        // centred, offset 10
        {-95000, 100, 640, 0, -95000, -95000},  // between two bands
        {-94999, 100, 640, 0, -4999, -94999},   // LEFT's band edge; no y band there
        {-80000, 100, 640, 0, 540, -80000},
        {-50000, 100, 640, 0, -100, -50000},
        {-40000, 100, 640, 0, 640, -40000},
        {-70000, 100, 480, 0, -70000, 0},  // TOP
        {-60000, 100, 480, 0, -60000, 380},
        {-30000, 100, 480, 0, -30000, -100},
        {-20000, 100, 480, 0, -20000, 480},
        {-104999, 100, 640, 0, 270 - 4999, 270 - 4999},  // the centre band's far edge
        {-105000, 100, 640, 0, -105000, -105000},
        {-100000, 101, 640, 0, 269, 269},  // (640 - 101) / 2 truncates
        {-100000, 100, 640, 0.5, 320, 320},
        {-90000, 100, 640, -0.25, -25, -90000},
        {-80000, 100, 640, 1, 640, -80000},
        {17, 100, 640, 0.5, 17, 17},  // plain coordinates pass through
    };
    for (const PosRow& row : rows) {
        EXPECT_EQ(ResolvePosX(row.c, row.objectSize, row.targetSize, row.anchor), row.x) << row.c;
        EXPECT_EQ(ResolvePosY(row.c, row.objectSize, row.targetSize, row.anchor), row.y) << row.c;
    }
}

TEST(ResolvePos, TargetZeroIsTheOutputPictureOrItsClipRegion) {
    qv::test::FakeBlitHost host;
    host.view.pictureWidth = 640, host.view.pictureHeight = 480;
    EXPECT_EQ(ResolvePosX(CENTER, 100, 0, 0), 270);
    EXPECT_EQ(ResolvePosY(BOTTOM, 80, 0, 0), 400);
    qvClipRegion region{};
    region.x = 100, region.y = 50, region.width = 200, region.height = 100;
    host.clipRegion = &region;
    EXPECT_EQ(ResolvePosX(CENTER, 100, 0, 0), 150);      // 100 + (200 - 100) / 2
    EXPECT_EQ(ResolvePosX(RIGHT + 5, 100, 0, 0), 205);   // 100 + 200 - 100 + 5
    EXPECT_EQ(ResolvePosY(TOPOUT, 20, 0, 0), 30);        // 50 - 20
    EXPECT_EQ(ResolvePosY(BOTTOMOUT, 20, 0, 0.5), 160);  // 50 + 100 + 10
    EXPECT_EQ(ResolvePosX(12, 100, 0, 0), 12);
    // A given target size ignores the picture and its region.
    EXPECT_EQ(ResolvePosX(CENTER, 100, 640, 0), 270);
}

TEST(TrigTable, ExactValuesTruncatedTowardZero) {
    const auto& t = TrigTable();
    const struct {
        size_t index;
        int32_t value;
    } rows[] = {
        {0, 1024},         {60, 512},         {120, -512},     {90, 0},          {91, -17},
        {180, -1024},      {270, 0},          {360 + 30, 512}, {360 + 150, 512}, {360 + 90, 1024},
        {360 + 210, -512}, {360 + 330, -512}, {360 + 1, 17},   {360 + 0, 0},
    };
    for (const auto& row : rows) EXPECT_EQ(t[row.index], row.value) << row.index;
    for (size_t d = 0; d < 360; ++d) {
        EXPECT_LE(std::abs(t[d]), 1024);
        EXPECT_NEAR(t[d], std::cos(d * std::numbers::pi / 180) * 1024, 1.0) << d;
        EXPECT_NEAR(t[360 + d], std::sin(d * std::numbers::pi / 180) * 1024, 1.0) << d;
    }
}

TEST(TruncSaturate, HoldsEveryDoubleInRange) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(TruncSaturate(-2.9), -2);
    EXPECT_EQ(TruncSaturate(std::nan("")), 0);
    EXPECT_EQ(TruncSaturate(inf), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(TruncSaturate(-1e300), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(TruncExact(511.9999999999999), 512);
    EXPECT_EQ(TruncExact(-0.9999), -0);
}

TEST(GetTransformedBounds, CornersAboutTheAnchor) {
    const double identity[4] = {1, 0, 0, 1}, quarter[4] = {0, 1, -1, 0}, half[4] = {-1, 0, 0, -1};
    const struct {
        const double* matrix;
        double ax, ay;
        int32_t x, y, w, h;
    } rows[] = {
        {identity, 0, 0, 10, 20, 30, 40},
        {quarter, 0, 0, 10 - 39, 20, 40, 30},         // corners x = -y: from -39 to 0
        {quarter, 0.5, 0.5, 10 - 4, 20 + 5, 40, 30},  // about (15, 20)
        {half, 0.5, 0.5, 10 + 1, 20 + 1, 30, 40},     // about (15, 20): 30 - 29 = 1
    };
    for (const auto& row : rows) {
        int32_t x, y, w, h;
        GetTransformedBounds(10, 20, 30, 40, row.matrix, &x, &y, &w, &h, row.ax, row.ay);
        EXPECT_EQ(x, row.x);
        EXPECT_EQ(y, row.y);
        EXPECT_EQ(w, row.w);
        EXPECT_EQ(h, row.h);
    }
    // Every out pointer may be null; a NaN matrix gives no undefined conversion.
    GetTransformedBounds(0, 0, 5, 5, identity, nullptr, nullptr, nullptr, nullptr, 0, 0);
    const double broken[4] = {std::nan(""), 0, 0, 1e300};
    int32_t w = -1;
    GetTransformedBounds(0, 0, 5, 5, broken, nullptr, nullptr, &w, nullptr, 0, 0);
}

std::vector<qvVertex> Clip(const std::vector<qvVertex>& in, int32_t boundary, int mode) {
    std::vector<qvVertex> out(in.size() * 2);
    out.resize(size_t(ClipPolygonEdge(in, out, boundary, mode)));
    return out;
}

TEST(ClipPolygonEdge, KeepsOneSideOfTheBoundary) {
    const std::vector<qvVertex> square{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    EXPECT_EQ(Clip(square, 5, QV_CLIP_KEEP_LEFT),
              (std::vector<qvVertex>{{0, 0}, {5, 0}, {5, 10}, {0, 10}}));
    EXPECT_EQ(Clip(square, 5, QV_CLIP_KEEP_RIGHT),
              (std::vector<qvVertex>{{5, 0}, {10, 0}, {10, 10}, {5, 10}}));
    EXPECT_EQ(Clip(square, 4, QV_CLIP_KEEP_BELOW),
              (std::vector<qvVertex>{{10, 4}, {10, 10}, {0, 10}, {0, 4}}));
    EXPECT_EQ(Clip(square, 20, QV_CLIP_KEEP_LEFT), square);
    EXPECT_TRUE(Clip(square, 20, QV_CLIP_KEEP_RIGHT).empty());
    EXPECT_TRUE(Clip(square, 5, 7).empty());
}

TEST(ClipPolygonEdge, VerticalAndSteepEdgesAgainstRows) {
    // A triangle with a vertical edge at x = 3 and a steep one (|dy| > |dx|, whose integer
    // slope would be 0).
    const std::vector<qvVertex> triangle{{3, 0}, {3, 10}, {5, 0}};
    for (int mode : {QV_CLIP_KEEP_BELOW, QV_CLIP_KEEP_ABOVE}) {
        std::vector<qvVertex> out = Clip(triangle, 5, mode);
        ASSERT_FALSE(out.empty());
        for (const qvVertex& v : out) {
            EXPECT_GE(v.x, 3);
            EXPECT_LE(v.x, 5);
        }
        EXPECT_NE(std::find(out.begin(), out.end(), qvVertex{3, 5}), out.end()) << mode;
    }
    // The steep edge (5, 0)-(3, 10) crosses y = 5 at x = 4.
    const std::vector<qvVertex> below = Clip(triangle, 5, QV_CLIP_KEEP_BELOW);
    EXPECT_EQ(below, (std::vector<qvVertex>{{3, 5}, {3, 10}, {4, 5}}));
    // A shallow edge (|dy| < |dx|) crosses y = 2 at x = trunc(2 / 0.3).
    EXPECT_EQ(Clip({{0, 0}, {10, 3}, {0, 3}}, 2, QV_CLIP_KEEP_BELOW),
              (std::vector<qvVertex>{{6, 2}, {10, 3}, {0, 3}, {0, 2}}));
}

TEST(ClipPolygonEdge, WritesNoMoreThanTheOutputHolds) {
    const std::vector<qvVertex> square{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    std::vector<qvVertex> out(3, qvVertex{-7, -7});
    EXPECT_EQ(ClipPolygonEdge(square, std::span(out).first(2), 5, QV_CLIP_KEEP_LEFT), 2);
    EXPECT_EQ(out[2], (qvVertex{-7, -7}));
}

TEST(MakeArcVertices, FullCirclesSlicesAndBadAngles) {
    std::vector<qvVertex> out(400);
    ASSERT_EQ(MakeArcVertices(out, 10, 10, 0, 360), 361);
    EXPECT_EQ(out[0], (qvVertex{20, 10}));
    EXPECT_EQ(out[90], (qvVertex{10, 20}));
    EXPECT_EQ(out[180], (qvVertex{0, 10}));
    EXPECT_EQ(out[360], out[0]);
    // A slice is closed through the centre.
    ASSERT_EQ(MakeArcVertices(out, 10, 5, 0, 90), 93);
    EXPECT_EQ(out[91], (qvVertex{10, 5}));
    EXPECT_EQ(out[92], out[0]);
    // Negative angles read the table from its start, not before it.
    std::vector<qvVertex> negative(400), positive(400);
    ASSERT_EQ(MakeArcVertices(negative, 8, 6, -90, 0), 93);
    ASSERT_EQ(MakeArcVertices(positive, 8, 6, 270, 360), 93);
    for (size_t i = 0; i < 91; ++i) EXPECT_EQ(negative[i], positive[i]) << i;
    EXPECT_EQ(MakeArcVertices(out, 10, 10, 90, 10), 0);                      // reversed
    EXPECT_EQ(MakeArcVertices(std::span(out).first(92), 10, 10, 0, 90), 0);  // too small
    EXPECT_EQ(MakeArcVertices(std::span(out).first(93), 10, 10, 0, 90), 93);
    EXPECT_EQ(MakeArcVertices(out, 10, 10, std::numeric_limits<int32_t>::min(),
                              std::numeric_limits<int32_t>::max()),
              0);
}

TEST(BlendRGB, ShiftsTheSignedDifference) {
    EXPECT_EQ(BlendRGB(0x000000, 0xFFFFFF, 128), 0x7F7F7Fu);
    EXPECT_EQ(BlendRGB(0xFFFFFF, 0x000000, 128), 0x7F7F7Fu);  // 255 + (-255 x 128 >> 8) = 127
    EXPECT_EQ(BlendRGB(0x102030, 0x405060, 0), 0x102030u);
    EXPECT_EQ(BlendRGB(0xFF102030, 0x00405060, 255), 0x3F4F5Fu);  // alpha 0
}

TEST(RippleSourcePoint, MovesAlongTheRadiusInsideThePicture) {
    constexpr int32_t kWidth = 21, kHeight = 21;
    std::vector<float> distances(size_t(kWidth) * kHeight);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            distances[size_t(y) * kWidth + x] = float(std::hypot(x - 10, y - 10));
        }
    }
    qvRippleBlock ripple{kWidth, kHeight, 10, 10, 8, 4, 50, 0, false, 1};
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const qvVertex p = RippleSourcePoint(x, y, distances.data(), ripple);
            ASSERT_TRUE(p.x >= 0 && p.x < kWidth && p.y >= 0 && p.y < kHeight) << x << "," << y;
            if (distances[size_t(y) * kWidth + x] >= 8) {
                EXPECT_EQ(p, (qvVertex{x, y}));
            }
            if (x == 10) {
                EXPECT_EQ(p.x, 10);  // along the radius: the column stays
            }
        }
    }
    // At distance 1 the phase is 2 pi / 4: the sine is 1, amplitude (8 - 1) / 8 x 50.
    EXPECT_EQ(RippleSourcePoint(11, 10, distances.data(), ripple), (qvVertex{20, 10}));
    ripple.damping = true, ripple.dampingRatio = 0.1;
    EXPECT_EQ(RippleSourcePoint(11, 10, distances.data(), ripple), (qvVertex{15, 10}));
    ripple.wavelength = 0;  // no wave
    EXPECT_EQ(RippleSourcePoint(11, 10, distances.data(), ripple), (qvVertex{11, 10}));
}

}  // namespace

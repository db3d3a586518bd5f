// The distortion engine: identities, the output geometry, the horizon, argument checks,
// failures through the allocation and lock hooks, the output plane kinds and the matrix
// routines.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/distort.h"
#include "gfx/kernels/rows.h"
#include "platform/linux/memory.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::PlanePtr;
using qv::test::RandomBitMap;
namespace hooks = qv::platform::testing;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Distorted : qv::test::Outputs {
    // The visibility of an output pixel: its mask bit, else its alpha byte.
    int Visible(int32_t x, int32_t y) const {
        if (mask != nullptr) return int(ReadBitMapPixel(mask, x, y)) * 255;
        return alpha->plane[y * alpha->bytesPerRow + x];
    }
};

int Distort(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
            int32_t method, const std::vector<double>& args, int smooth, Distorted& out) {
    return DistortBitmap(source, mask, alpha, source->width, source->height, method,
                         int32_t(args.size()), args.data(), smooth, &out.bitmap, &out.mask,
                         &out.alpha, &out.width, &out.height);
}

std::vector<double> OwnCorners(double w, double h) {
    return {0, 0, 0, 0, w, 0, w, 0, w, h, w, h, 0, h, 0, h};
}

// Point sampling with A = B = C = 0, D = 1 copies every pixel (the centre one of an even
// picture maps through the r = 0 branch); smoothing interpolates at pixel centres exactly.
TEST(Distort, BarrelIdentity) {
    for (const int smooth : {0, 1}) {
        for (const auto& size : {std::pair{8, 6}, std::pair{7, 5}}) {
            BitMapPtr source = RandomBitMap(size.first, size.second, 2, QV_FMT_R8G8B8);
            Distorted out;
            ASSERT_EQ(Distort(source.get(), nullptr, nullptr, QV_DISTORT_BARREL, {0, 0, 0, 1},
                              smooth, out),
                      0);
            ASSERT_EQ(out.width, size.first);
            ASSERT_EQ(out.height, size.second);
            EXPECT_TRUE(qv::test::SameBitMap(out.bitmap, source.get())) << smooth;
            EXPECT_EQ(out.Visible(size.first / 2, size.second / 2), 255);
            EXPECT_EQ(out.Visible(0, 0), 255);
        }
    }
}

TEST(Distort, PerspectiveOntoItsOwnCornersAddsATransparentBorder) {
    for (const int smooth : {0, 1}) {
        BitMapPtr source = RandomBitMap(9, 7, 3, QV_FMT_A8R8G8B8);
        const std::vector<double> args = OwnCorners(9, 7);
        qvDistortRequest r{};
        r.method = QV_DISTORT_PERSPECTIVE, r.argumentCount = 16, r.arguments = args.data();
        r.sourceWidth = 9, r.sourceHeight = 7;
        ASSERT_EQ(GenerateDistortCoefficients(&r), 0);
        EXPECT_EQ(r.outX, -1);
        EXPECT_EQ(r.outY, -1);
        Distorted out;
        ASSERT_EQ(
            Distort(source.get(), nullptr, nullptr, QV_DISTORT_PERSPECTIVE, args, smooth, out), 0);
        ASSERT_EQ(out.width, 11);
        ASSERT_EQ(out.height, 9);
        for (int32_t y = 0; y < 9; ++y) {
            for (int32_t x = 0; x < 11; ++x) {
                const bool border = x == 0 || y == 0 || x == 10 || y == 8;
                ASSERT_EQ(out.Visible(x, y), border ? 0 : 255) << x << "," << y;
                const uint32_t expected = border ? 0 : ReadBitMapPixel(source.get(), x - 1, y - 1);
                ASSERT_EQ(ReadBitMapPixel(out.bitmap, x, y), expected) << x << "," << y;
            }
        }
    }
}

// Whole-pixel moves are pixel copies at every size: the identity, a shift by (3, 2), a mirror
// and a half-turn each give the picture, moved, inside a one-pixel transparent border. The
// least-squares solution carries round-off that must not move a pixel or widen the output.
TEST(Distort, WholePixelPerspectivesAreExactAtEverySize) {
    struct Move {
        const char* name;
        int dx, dy;            // where source (0, 0) goes
        bool mirror, flipped;  // x and y reversed
    };
    const Move moves[] = {{"identity", 0, 0, false, false},
                          {"shift", 3, 2, false, false},
                          {"mirror", 0, 0, true, false},
                          {"half-turn", 0, 0, true, true}};
    for (int32_t w = 1; w <= 30; ++w) {
        for (int32_t h = 1; h <= 30; ++h) {
            BitMapPtr source = RandomBitMap(w, h, uint32_t(w * 31 + h), QV_FMT_A8R8G8B8);
            for (const Move& m : moves) {
                // The destination of a source point, and a source column or row from an
                // output pixel's place relative to the destination box's corner.
                auto to = [&](double u, double v) {
                    return std::pair{m.dx + (m.mirror ? w - u : u), m.dy + (m.flipped ? h - v : v)};
                };
                std::vector<double> args;
                for (const auto& [u, v] : {std::pair{0.0, 0.0},
                                           {double(w), 0.0},
                                           {double(w), double(h)},
                                           {0.0, double(h)}}) {
                    const auto [x, y] = to(u, v);
                    args.insert(args.end(), {u, v, x, y});
                }
                for (const int smooth : {0, 1}) {
                    SCOPED_TRACE(std::string(m.name) + " " + std::to_string(w) + "x" +
                                 std::to_string(h) + " smooth " + std::to_string(smooth));
                    Distorted out;
                    ASSERT_EQ(Distort(source.get(), nullptr, nullptr, QV_DISTORT_PERSPECTIVE, args,
                                      smooth, out),
                              0);
                    ASSERT_EQ(out.width, w + 2);
                    ASSERT_EQ(out.height, h + 2);
                    for (int32_t y = 0; y < h + 2; ++y) {
                        for (int32_t x = 0; x < w + 2; ++x) {
                            const bool border = x == 0 || y == 0 || x == w + 1 || y == h + 1;
                            ASSERT_EQ(out.Visible(x, y), border ? 0 : 255) << x << "," << y;
                            if (border) continue;
                            const int32_t u = m.mirror ? w - x : x - 1;
                            const int32_t v = m.flipped ? h - y : y - 1;
                            ASSERT_EQ(ReadBitMapPixel(out.bitmap, x, y),
                                      ReadBitMapPixel(source.get(), u, v))
                                << x << "," << y;
                        }
                    }
                }
            }
        }
    }
}

// Destination corners a hair off whole and half pixels still give the box they stand for:
// 0 .. 7 by 0 .. 5.5 is 9 x 7 with the offsets -1.
TEST(Distort, APerspectiveBoxIsNotWidenedByRoundOff) {
    const std::vector<double> args = {0, 0, 0, 0, 7, 0, 7, 0, 7, 5, 7, 5, 0, 5, 0, 5.5};
    qvDistortRequest r{};
    r.method = QV_DISTORT_PERSPECTIVE, r.argumentCount = 16, r.arguments = args.data();
    r.sourceWidth = 7, r.sourceHeight = 5;
    ASSERT_EQ(GenerateDistortCoefficients(&r), 0);
    EXPECT_EQ(r.outX, -1);
    EXPECT_EQ(r.outY, -1);
    EXPECT_EQ(r.outWidth, 9);
    EXPECT_EQ(r.outHeight, 7);
}

// d = 1 - 0.05 x has its horizon at x = 20; u = (30 - x) / d maps the pixels beyond it (and
// some before it) back into the source, so only the validity test hides them.
TEST(Distort, PixelsBeyondTheHorizonAreTransparent) {
    BitMapPtr source = RandomBitMap(40, 10, 4, QV_FMT_A8R8G8B8);
    BitMapPtr dest(qv::AllocBitMapInFormat(40, 10, QV_FMT_A8R8G8B8, false));
    PlanePtr mask(AllocMaskBitMap(dest.get(), 40, 10, 1));
    qvDistortRequest r{};
    r.method = QV_DISTORT_PERSPECTIVE;
    r.sourceWidth = 40, r.sourceHeight = 10, r.outWidth = 40, r.outHeight = 10;
    const double c[9] = {-1, 0, 30, 0, 1, 0, -0.05, 0, 1};
    std::copy(c, c + 9, r.coefficients);
    qvDistortPlanes p{};
    p.source = source->pixels, p.sourceRowLength = source->rowLength;
    p.dest = dest->pixels, p.destRowLength = dest->rowLength;
    p.destMask = mask->plane, p.destMaskBytesPerRow = mask->bytesPerRow;
    p.format = QV_FMT_A8R8G8B8;
    for (const int smooth : {0, 1}) {
        r.smooth = smooth;
        DistortPixels(r, p);
        EXPECT_EQ(ReadBitMapPixel(mask.get(), 5, 4), 1u);  // u = 33.8
        for (int32_t x = 20; x < 40; ++x) {
            EXPECT_EQ(ReadBitMapPixel(mask.get(), x, 4), 0u) << x;
            EXPECT_EQ(ReadBitMapPixel(dest.get(), x, 4), 0u) << x;
        }
    }
}

TEST(Distort, ArgumentsOutsideTheLimitsAreWrongUsage) {
    const struct {
        const char* name;
        int32_t method;
        std::vector<double> args;
        int32_t width = 20;
    } cases[] = {
        {"arc angle 0", QV_DISTORT_ARC, {0}},
        {"arc top radius 0", QV_DISTORT_ARC, {90, 0, 0}},
        {"arc five numbers", QV_DISTORT_ARC, {90, 0, 40, 20, 1}},
        {"arc equal radii", QV_DISTORT_ARC, {90, 0, 40, 40}},
        {"polar three numbers", QV_DISTORT_POLAR, {10, 2, 5}},
        {"polar seven numbers", QV_DISTORT_POLAR, {10, 2, 5, 5, 0, 90, 1}},
        {"polar inner beyond outer", QV_DISTORT_POLAR, {10, 12}},
        {"barrel five numbers", QV_DISTORT_BARREL, {0, 0, 0, 1, 2}},
        {"barrel on a 0-wide source", QV_DISTORT_BARREL, {0, 0, 0, 1}, 0},
        {"perspective fifteen numbers", QV_DISTORT_PERSPECTIVE, std::vector<double>(15, 1)},
        {"singular perspective",
         QV_DISTORT_PERSPECTIVE,
         {0, 0, 5, 5, 20, 0, 5, 5, 20, 10, 5, 5, 0, 10, 5, 5}},
        {"collinear perspective",
         QV_DISTORT_PERSPECTIVE,
         {0, 0, 0, 0, 20, 0, 1, 1, 20, 10, 2, 2, 0, 10, 3, 3}},
        {"unknown method", 5, {1, 2, 3, 4}},
        {"NaN in barrel", QV_DISTORT_BARREL, {0, kNaN, 0, 1}},
        {"infinity in arc", QV_DISTORT_ARC, {kInf}},
        {"minus infinity in polar", QV_DISTORT_POLAR, {-kInf}},
        {"NaN in perspective",
         QV_DISTORT_PERSPECTIVE,
         {0, 0, 0, 0, 20, 0, 20, 0, 20, 10, 20, kNaN, 0, 10, 0, 10}},
    };
    BitMapPtr source = RandomBitMap(20, 10, 5, QV_FMT_R8G8B8);
    for (const auto& c : cases) {
        Distorted out;
        EXPECT_EQ(DistortBitmap(source.get(), nullptr, nullptr, c.width, 10, c.method,
                                int32_t(c.args.size()), c.args.data(), 0, &out.bitmap, &out.mask,
                                &out.alpha, &out.width, &out.height),
                  ERR_WRONGUSAGE)
            << c.name;
        EXPECT_EQ(out.bitmap, nullptr) << c.name;
    }
    Distorted out;
    EXPECT_EQ(DistortBitmap(source.get(), nullptr, nullptr, 20, 10, QV_DISTORT_BARREL, 4, nullptr,
                            0, &out.bitmap, &out.mask, &out.alpha, &out.width, &out.height),
              ERR_WRONGUSAGE);
}

// A bounding box beyond any bitmap is an output that cannot be allocated.
TEST(Distort, HugeOutputsAreOutOfMemory) {
    BitMapPtr source = RandomBitMap(20, 10, 5, QV_FMT_R8G8B8);
    const struct {
        int32_t method;
        std::vector<double> args;
    } cases[] = {
        {QV_DISTORT_ARC, {90, 0, 1e6}},
        {QV_DISTORT_ARC, {90, 0, 1e300, 1}},
        {QV_DISTORT_POLAR, {1e300}},
        {QV_DISTORT_PERSPECTIVE, {0, 0, 0, 0, 20, 0, 1e7, 0, 20, 10, 1e7, 1e7, 0, 10, 0, 1e7}},
    };
    for (const auto& c : cases) {
        Distorted out;
        EXPECT_EQ(Distort(source.get(), nullptr, nullptr, c.method, c.args, 1, out), ERR_MEM);
        EXPECT_EQ(out.bitmap, nullptr);
    }
}

// The output carries the source's mask or alpha plane, else a mask without smoothing and an
// alpha plane with it.
TEST(Distort, OutputPlaneKindFollowsTheSource) {
    BitMapPtr source = RandomBitMap(12, 8, 6, qv::ScreenFormat());
    PlanePtr mask(AllocMaskBitMap(source.get(), 12, 8, 1));
    PlanePtr alpha(AllocAlphaBitMap(12, 8, 1));
    FillMaskRect(mask.get(), 0, 0, 12, 8, 0);
    const struct {
        bool mask, alpha;
        int smooth;
        bool outMask;
    } rows[] = {
        {true, false, 0, true},  {true, false, 1, true},  {false, true, 0, false},
        {false, true, 1, false}, {false, false, 0, true}, {false, false, 1, false},
        {true, true, 1, true},
    };
    for (const auto& r : rows) {
        Distorted out;
        ASSERT_EQ(Distort(source.get(), r.mask ? mask.get() : nullptr,
                          r.alpha ? alpha.get() : nullptr, QV_DISTORT_ARC, {60, 10}, r.smooth, out),
                  0);
        EXPECT_EQ(out.mask != nullptr, r.outMask);
        EXPECT_EQ(out.alpha != nullptr, !r.outMask);
    }
}

// Every allocation and both locks fail in turn: the error comes back and nothing stays
// allocated.
TEST(Distort, FailuresLeaveNothingBehind) {
    BitMapPtr source = RandomBitMap(16, 12, 7, qv::ScreenFormat());
    PlanePtr alpha(AllocAlphaBitMap(16, 12, 1));
    const std::vector<double> args = {0, 0, 2, 1, 16, 0, 15, 2, 16, 12, 14, 11, 0, 12, 1, 10};
    for (const int32_t method : {QV_DISTORT_PERSPECTIVE, QV_DISTORT_POLAR}) {
        const std::vector<double> a = method == QV_DISTORT_POLAR ? std::vector<double>{} : args;
        int code = ERR_MEM;
        for (uint64_t n = 1; code == ERR_MEM; ++n) {
            const size_t live = qv::GetMemoryStats().liveBlocks;
            Distorted out;
            {
                qv::AllocationFault fault(n, false);
                code = Distort(source.get(), nullptr, alpha.get(), method, a, 1, out);
            }
            if (code == ERR_MEM) {
                EXPECT_EQ(out.bitmap, nullptr);
                EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live) << n;
            }
            ASSERT_LT(n, 100u);
        }
        EXPECT_EQ(code, 0);
        for (const uint64_t lock : {1u, 2u}) {
            const size_t live = qv::GetMemoryStats().liveBlocks;
            Distorted out;
            {
                hooks::LockFault fault(lock);
                EXPECT_EQ(Distort(source.get(), nullptr, alpha.get(), method, a, 0, out),
                          ERR_LOCKBMAP);
            }
            EXPECT_EQ(out.bitmap, nullptr);
            EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live);
        }
    }
}

// A source without pixels maps every point outside it (truncation toward zero once read
// pixel 0 of an empty bitmap).
TEST(Distort, EmptySourcesGiveTransparentPictures) {
    for (const auto& size : {std::pair{0, 5}, std::pair{6, 0}, std::pair{0, 0}}) {
        BitMapPtr source(qv::AllocBitMapInFormat(size.first, size.second, QV_FMT_R5G5B5, false));
        for (const int smooth : {0, 1}) {
            Distorted out;
            ASSERT_EQ(
                Distort(source.get(), nullptr, nullptr, QV_DISTORT_ARC, {90, 0, 3}, smooth, out),
                0);
            for (int32_t y = 0; y < out.height; ++y) {
                for (int32_t x = 0; x < out.width; ++x) ASSERT_EQ(out.Visible(x, y), 0);
            }
        }
    }
}

// Random requests with hostile numbers finish, and what succeeds has a sane geometry.
TEST(Distort, HostileArgumentsFinish) {
    BitMapPtr source = RandomBitMap(7, 5, 8, qv::ScreenFormat());
    PlanePtr mask(AllocMaskBitMap(source.get(), 7, 5, 1));
    const double values[] = {0, 1, -1, 0.5, 3, 90, -360, 1e300, -1e300, 1e-300, 7, 1e6};
    std::mt19937 random(12);
    for (int i = 0; i < 3000; ++i) {
        const int32_t methods[] = {QV_DISTORT_PERSPECTIVE, QV_DISTORT_ARC, QV_DISTORT_POLAR,
                                   QV_DISTORT_BARREL};
        const int32_t method = methods[random() % 4];
        std::vector<double> args(method == QV_DISTORT_PERSPECTIVE ? 16 : random() % 11);
        for (double& v : args) v = values[random() % std::size(values)] * (random() % 3 + 1);
        Distorted out;
        const int code = Distort(source.get(), random() % 2 ? mask.get() : nullptr, nullptr, method,
                                 args, int(random() % 2), out);
        ASSERT_TRUE(code == 0 || code == ERR_WRONGUSAGE || code == ERR_MEM) << code;
        if (code == 0) {
            EXPECT_GE(out.width, 1);
            EXPECT_LE(out.width, 32768);
        }
    }
}

TEST(Distort, MatrixRoutines) {
    auto m = AllocMatrix(3, 3);
    auto v = AllocMatrix(2, 3);
    ASSERT_TRUE(m && v);
    const double a[3][3] = {{2, 1, -1}, {-3, -1, 2}, {-2, 1, 2}};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) m.get()[i][j] = a[i][j];
    }
    const double b[2][3] = {{8, -11, -3}, {1, 0, 0}};
    for (int k = 0; k < 2; ++k) {
        for (int i = 0; i < 3; ++i) v.get()[k][i] = b[k][i];
    }
    ASSERT_TRUE(SolveLeastSquares(m.get(), v.get(), 3, 2));
    EXPECT_NEAR(v.get()[0][0], 2, 1e-12);
    EXPECT_NEAR(v.get()[0][1], 3, 1e-12);
    EXPECT_NEAR(v.get()[0][2], -1, 1e-12);
    // The second vector is the first column of the inverse.
    EXPECT_NEAR(2 * v.get()[1][0] + v.get()[1][1] - v.get()[1][2], 1, 1e-12);

    auto singular = AllocMatrix(2, 2);
    auto rhs = AllocMatrix(1, 2);
    singular.get()[0][0] = 1, singular.get()[0][1] = 2;
    singular.get()[1][0] = 2, singular.get()[1][1] = 4;
    EXPECT_FALSE(SolveLeastSquares(singular.get(), rhs.get(), 2, 1));

    // A reverse mapping and its forward one compose to the identity.
    const double reverse[8] = {1.2, 0.1, 3, -0.2, 0.9, 1, 0.001, 0.002};
    double forward[8];
    ASSERT_TRUE(InvertProjectiveMatrix(reverse, forward));
    const double x = 5, y = 7;
    const double d = forward[6] * x + forward[7] * y + 1;
    const double u = (forward[0] * x + forward[1] * y + forward[2]) / d;
    const double w = (forward[3] * x + forward[4] * y + forward[5]) / d;
    const double back = reverse[6] * u + reverse[7] * w + 1;
    EXPECT_NEAR((reverse[0] * u + reverse[1] * w + reverse[2]) / back, x, 1e-9);
    EXPECT_NEAR((reverse[3] * u + reverse[4] * w + reverse[5]) / back, y, 1e-9);
    const double flat[8] = {1, 2, 0, 2, 4, 0, 0, 0};
    EXPECT_FALSE(InvertProjectiveMatrix(flat, forward));
}

}  // namespace

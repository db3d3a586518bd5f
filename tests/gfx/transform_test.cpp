// TransformBounds, TransformBitmap, CopyBitmapArea and FlipBitmap in the screen format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/transform.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/coordinate_picture.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::Outputs;
using qv::test::PlanePtr;
namespace hooks = qv::platform::testing;

struct Picture : qv::test::CoordinatePicture {
    using CoordinatePicture::CoordinatePicture;
    int Transform(const double matrix[4], int smooth, Outputs& out, int32_t x = 0, int32_t y = 0,
                  int32_t width = 0, int32_t height = 0) {
        return TransformBitmap(bitmap.get(), mask.get(), alpha.get(), x, y,
                               width != 0 ? width : bitmap->width,
                               height != 0 ? height : bitmap->height, matrix, smooth, &out.bitmap,
                               &out.mask, &out.alpha, &out.width, &out.height);
    }
};

constexpr double kIdentity[4] = {1, 0, 0, 1};

TEST(TransformBounds, SizesAndOffsets) {
    const double c = std::cos(std::numbers::pi / 6), s = std::sin(std::numbers::pi / 6);
    const struct {
        double m[4];
        int32_t w, h;
        double ox, oy;
    } rows[] = {
        {{1, 0, 0, 1}, 10, 7, 0, 0},
        {{0, 1, -1, 0}, 7, 10, -7, 0},  // 90 degrees: h x w
        {{-1, 0, 0, -1}, 10, 7, -10, -7},
        {{2, 0, 0, 0.5}, 20, 3, 0, 0},  // 3.5 - 0.5
        {{1, 0, 0.5, 1}, 13, 7, 0, 0},  // shear: 10 + 7 / 2 = 13.5, less 0.5
        {{c, s, -s, c},
         int32_t(std::ceil(10 * c + 7 * s - 0.5)),
         int32_t(std::ceil(10 * s + 7 * c - 0.5)),
         -7 * s,
         0},
        {{0, 0, 0, 0}, 0, 0, 0, 0},
    };
    for (const auto& row : rows) {
        int32_t w, h;
        double ox, oy;
        TransformBounds(row.m, 10, 7, &w, &h, &ox, &oy);
        EXPECT_EQ(w, row.w) << row.m[0] << " " << row.m[2];
        EXPECT_EQ(h, row.h) << row.m[0] << " " << row.m[2];
        EXPECT_DOUBLE_EQ(ox, row.ox);
        EXPECT_DOUBLE_EQ(oy, row.oy);
    }
    int32_t w = 0;
    TransformBounds(kIdentity, 10, 10, &w, nullptr, nullptr, nullptr);
    EXPECT_EQ(w, 10);
}

TEST(TransformBitmap, IdentityCopiesEveryPlaneExactly) {
    for (int smooth : {0, 1}) {
        for (auto [withMask, withAlpha] :
             {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
            Picture picture(10, 10, withMask, withAlpha);
            Outputs out;
            ASSERT_EQ(picture.Transform(kIdentity, smooth, out), 0);
            ASSERT_EQ(out.width, 10);
            ASSERT_EQ(out.height, 10);
            ASSERT_EQ(out.alpha != nullptr, withAlpha);
            ASSERT_EQ(out.mask != nullptr, !withAlpha);
            for (int32_t y = 0; y < 10; ++y) {
                for (int32_t x = 0; x < 10; ++x) {
                    const bool visible = !withMask || qv::test::CoordinateBit(x, y);
                    if (withAlpha) {
                        EXPECT_EQ(out.alpha->plane[y * out.alpha->bytesPerRow + x],
                                  qv::test::CoordinateAlpha(x, y));
                    } else {
                        EXPECT_EQ(ReadBitMapPixel(out.mask, x, y), visible ? 1u : 0u);
                    }
                    // Smoothing gives a hidden pixel the colour of a visible neighbour.
                    if (visible || smooth == 0) {
                        EXPECT_EQ(ReadBitMapPixel(out.bitmap, x, y),
                                  ReadBitMapPixel(picture.bitmap.get(), x, y))
                            << x << "," << y << " smooth " << smooth;
                    }
                }
            }
        }
    }
}

TEST(TransformBitmap, ReadsOnlyTheRectangle) {
    Picture picture(12, 9, true, false);
    const double mirror[4] = {-1, 0, 0, 1};
    for (int smooth : {0, 1}) {
        Outputs out;
        ASSERT_EQ(picture.Transform(mirror, smooth, out, 3, 2, 5, 4), 0);
        ASSERT_EQ(out.width, 5);
        for (int32_t y = 0; y < 4; ++y) {
            for (int32_t x = 0; x < 5; ++x) {
                const int32_t sx = 3 + 4 - x, sy = 2 + y;
                const bool visible = qv::test::CoordinateBit(sx, sy);
                EXPECT_EQ(ReadBitMapPixel(out.mask, x, y), visible ? 1u : 0u);
                if (!visible && smooth != 0) continue;
                const auto from = qv::test::SourceOf(out.bitmap, x, y, 12);
                EXPECT_EQ(from.x, sx);
                EXPECT_EQ(from.y, sy);
            }
        }
    }
    Outputs out;
    EXPECT_EQ(picture.Transform(mirror, 0, out, 8, 2, 5, 4), ERR_COORDSRANGE);
    EXPECT_EQ(out.bitmap, nullptr);
    EXPECT_EQ(TransformBitmap(picture.bitmap.get(), nullptr, nullptr, 0, 0, 0, 4, mirror, 0,
                              &out.bitmap, nullptr, nullptr, nullptr, nullptr),
              ERR_BADDIMENSIONS);
}

TEST(TransformBitmap, SmoothingTakesVisibleNeighboursOnly) {
    // Red and green columns visible, two blue ones hidden between them.
    BitMapPtr source(AllocDisplayBitMap(4, 1));
    PlanePtr mask(AllocMaskBitMap(source.get(), 4, 1, 1));
    RectFill(source.get(), 0, 0, 4, 1, 0x0000F8);
    RectFill(source.get(), 0, 0, 1, 1, 0xF80000);
    RectFill(source.get(), 3, 0, 1, 1, 0x00F800);
    FillMaskRect(mask.get(), 0, 0, 1, 1, 0);
    FillMaskRect(mask.get(), 3, 0, 1, 1, 0);
    const double grow[4] = {4, 0, 0, 1};
    Outputs out;
    ASSERT_EQ(TransformBitmap(source.get(), mask.get(), nullptr, 0, 0, 4, 1, grow, 1, &out.bitmap,
                              &out.mask, nullptr, &out.width, &out.height),
              0);
    ASSERT_EQ(out.width, 16);
    for (int32_t x = 0; x < 16; ++x) {
        // Sample x / 4 + 1 / 8; its neighbours are the columns floor(sample - 1 / 2) and the next.
        const double sample = (x + 0.5) / 4 - 0.5;
        const int32_t left = int32_t(std::floor(sample));
        const bool anyVisible = left <= 0 || left + 1 >= 3;
        const bool nearestVisible = x < 4 || x >= 12;
        EXPECT_EQ(ReadBitMapPixel(out.mask, x, 0), anyVisible && nearestVisible ? 1u : 0u) << x;
        if (anyVisible) {
            EXPECT_EQ(ReadBitMapPixel(out.bitmap, x, 0) & 0xFF, 0u) << "no blue at " << x;
        }
    }
}

TEST(TransformBitmap, SmoothingAgreesWithAndWithoutPlanes) {
    // The colour alone takes a path of its own; with a mask that shows every pixel, or with
    // an alpha plane, the same pixels must come out.
    constexpr int32_t kWidth = 23, kHeight = 17;
    BitMapPtr source(AllocDisplayBitMap(kWidth, kHeight));
    std::mt19937 random(9);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) PlotPixel(source.get(), x, y, random() & 0xFFFFFF);
    }
    PlanePtr mask(AllocMaskBitMap(source.get(), kWidth, kHeight, 1));
    FillMaskRect(mask.get(), 0, 0, kWidth, kHeight, 0);
    PlanePtr alpha(AllocAlphaBitMap(kWidth, kHeight, 1));
    FillPlane8Rect(alpha.get(), 0, 0, kWidth, kHeight, 255);
    const double c = std::cos(0.5), s = std::sin(0.5);
    const double matrices[][4] = {{c, s, -s, c}, {1.7, 0, 0.4, 0.8}, {-0.6, 0.3, 0.2, 1.3}};
    for (const auto& m : matrices) {
        Outputs plain, masked, withAlpha;
        ASSERT_EQ(TransformBitmap(source.get(), nullptr, nullptr, 0, 0, kWidth, kHeight, m, 1,
                                  &plain.bitmap, &plain.mask, nullptr, &plain.width, &plain.height),
                  0);
        ASSERT_EQ(TransformBitmap(source.get(), mask.get(), nullptr, 0, 0, kWidth, kHeight, m, 1,
                                  &masked.bitmap, &masked.mask, nullptr, nullptr, nullptr),
                  0);
        ASSERT_EQ(TransformBitmap(source.get(), nullptr, alpha.get(), 0, 0, kWidth, kHeight, m, 1,
                                  &withAlpha.bitmap, nullptr, &withAlpha.alpha, nullptr, nullptr),
                  0);
        int32_t covered = 0;
        for (int32_t y = 0; y < plain.height; ++y) {
            for (int32_t x = 0; x < plain.width; ++x) {
                if (ReadBitMapPixel(plain.mask, x, y) == 0) continue;
                ++covered;
                const uint32_t want = ReadBitMapPixel(plain.bitmap, x, y);
                ASSERT_EQ(ReadBitMapPixel(masked.bitmap, x, y), want) << x << "," << y;
                ASSERT_EQ(ReadBitMapPixel(withAlpha.bitmap, x, y), want) << x << "," << y;
                EXPECT_EQ(withAlpha.alpha->plane[y * withAlpha.alpha->bytesPerRow + x], 255);
            }
        }
        EXPECT_GT(covered, kWidth * kHeight / 2);
    }
}

TEST(TransformBitmap, SingularAndHugeMatrices) {
    Picture picture(6, 4, false, false);
    Picture withAlpha(6, 4, false, true);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double m[4];
        int32_t w, h;
    } singular[] = {
        {{1, 2, 2, 4}, 14, 28},  // rank 1: the bounds of a line
        {{0, 0, 0, 0}, 1, 1},
        {{1e-7, 0, 0, 1e-7}, 1, 1},
        {{nan, 0, 0, 1}, 1, 4},
    };
    for (const auto& row : singular) {
        for (Picture* p : {&picture, &withAlpha}) {
            Outputs out;
            ASSERT_EQ(p->Transform(row.m, 1, out), 0) << row.m[0];
            EXPECT_EQ(out.width, row.w);
            EXPECT_EQ(out.height, row.h);
            for (int32_t y = 0; y < out.height; ++y) {
                for (int32_t x = 0; x < out.width; ++x) {
                    if (out.alpha != nullptr) {
                        EXPECT_EQ(out.alpha->plane[y * out.alpha->bytesPerRow + x], 0);
                    } else {
                        EXPECT_EQ(ReadBitMapPixel(out.mask, x, y), 0u);
                    }
                }
            }
        }
    }
    for (const double m : {1e6, 1e300, inf}) {
        const double huge[4] = {m, 0, 0, 1};
        Outputs out;
        EXPECT_EQ(picture.Transform(huge, 0, out), ERR_MEM) << m;
        EXPECT_EQ(out.bitmap, nullptr);
    }
}

TEST(TransformBitmap, FailuresReleaseEverything) {
    Picture picture(5, 4, false, true);
    const double turn[4] = {0.8, 0.6, -0.6, 0.8};
    for (uint64_t n = 1;; ++n) {
        const size_t live = qv::GetMemoryStats().liveBlocks;
        Outputs out;
        int result;
        {
            qv::AllocationFault fault(n, false);
            result = picture.Transform(turn, 1, out);
        }
        if (result == 0) break;
        ASSERT_EQ(result, ERR_MEM);
        EXPECT_EQ(out.bitmap, nullptr);
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live);
    }
    for (uint64_t n : {1, 2}) {
        const size_t live = qv::GetMemoryStats().liveBlocks;
        Outputs out;
        hooks::LockFault fault(n);
        EXPECT_EQ(picture.Transform(turn, 0, out), ERR_LOCKBMAP);
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live);
    }
}

TEST(TransformBitmap, PlanesWithoutColour) {
    PlanePtr mask(AllocMaskBitMap(nullptr, 5, 3, 1));
    FillMaskRect(mask.get(), 0, 0, 2, 3, 0);
    const double quarter[4] = {0, 1, -1, 0};
    Outputs out;
    ASSERT_EQ(TransformBitmap(nullptr, mask.get(), nullptr, 0, 0, 5, 3, quarter, 0, &out.bitmap,
                              &out.mask, nullptr, &out.width, &out.height),
              0);
    EXPECT_EQ(out.bitmap, nullptr);
    ASSERT_EQ(out.width, 3);
    // Source column x lands on row x: rows 0 and 1 visible.
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(ReadBitMapPixel(out.mask, x, y), y < 2 ? 1u : 0u);
    }
}

TEST(TransformBitmap, TheCompositorRendersScreenFriendsOrFallsBack) {
    BitMapPtr source(AllocDisplayBitMapAlt(6, 4));
    qv::test::PaintCoordinates(source.get());
    const double quarter[4] = {0, 1, -1, 0};
    for (bool succeed : {true, false}) {
        hooks::GrantCompositing(qv::kCompositeTransform, succeed);
        Outputs out;
        ASSERT_EQ(TransformBitmap(source.get(), nullptr, nullptr, 0, 0, 6, 4, quarter, 0,
                                  &out.bitmap, &out.mask, &out.alpha, &out.width, &out.height),
                  0);
        EXPECT_EQ(hooks::CompositeCallCounts().transform, 1);
        EXPECT_EQ(out.width, 4);
        EXPECT_EQ(out.height, 6);
        EXPECT_EQ(QueryBitMapAttr(out.bitmap, 25), succeed ? 1u : 0u);
        EXPECT_EQ(QueryBitMapAttr(out.bitmap, 26), succeed ? 1u : 0u);
        EXPECT_EQ(out.mask == nullptr, succeed);
    }
}

TEST(CopyBitmapArea, CopiesARectangleIntoUnclearedPlanes) {
    Picture picture(19, 7, true, false);
    PlanePtr alpha(AllocAlphaBitMap(19, 7, 1));
    qv::test::PaintCoordinates(picture.bitmap.get(), nullptr, alpha.get());
    for (int displayable : {0, 1}) {
        Outputs out;
        ASSERT_EQ(CopyBitmapArea(picture.bitmap.get(), picture.mask.get(), alpha.get(), 3, 2, 13, 4,
                                 displayable, &out.bitmap, &out.mask, &out.alpha),
                  0);
        EXPECT_EQ(QueryBitMapAttr(out.bitmap, 25), uintptr_t(displayable));
        for (int32_t y = 0; y < 4; ++y) {
            for (int32_t x = 0; x < 13; ++x) {
                const auto [sx, sy] = qv::test::SourceOf(out.bitmap, x, y, 19);
                ASSERT_EQ(sx, x + 3);
                ASSERT_EQ(sy, y + 2);
                EXPECT_EQ(ReadBitMapPixel(out.mask, x, y),
                          qv::test::CoordinateBit(x + 3, y + 2) ? 1u : 0u);
                EXPECT_EQ(out.alpha->plane[y * out.alpha->bytesPerRow + x],
                          qv::test::CoordinateAlpha(x + 3, y + 2));
            }
        }
    }
    Outputs out;
    EXPECT_EQ(CopyBitmapArea(picture.bitmap.get(), nullptr, nullptr, 10, 0, 10, 7, 0, &out.bitmap,
                             nullptr, nullptr),
              ERR_COORDSRANGE);
    for (uint64_t n = 1;; ++n) {
        const size_t live = qv::GetMemoryStats().liveBlocks;
        Outputs failed;
        int result;
        {
            qv::AllocationFault fault(n, true);
            result = CopyBitmapArea(picture.bitmap.get(), picture.mask.get(), alpha.get(), 0, 0, 4,
                                    4, 1, &failed.bitmap, &failed.mask, &failed.alpha);
        }
        if (result == 0) break;
        ASSERT_EQ(result, ERR_MEM);
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live);
    }
}

// A whole picture is duplicated with its layout, row padding included; one in another format
// is converted into the screen's.
TEST(CopyBitmapArea, AWholePictureKeepsItsLayout) {
    Picture picture(19, 7, true, false);
    PlanePtr alpha(AllocAlphaBitMap(19, 7, 1));
    qv::test::PaintCoordinates(picture.bitmap.get(), nullptr, alpha.get());
    const qvDisplayBitMap* source = picture.bitmap.get();
    const size_t bytes = size_t(source->rowLength) * source->bytesPerPixel * 7;
    for (int displayable : {0, 1}) {
        Outputs out;
        ASSERT_EQ(CopyBitmapArea(picture.bitmap.get(), picture.mask.get(), alpha.get(), 0, 0, 19, 7,
                                 displayable, &out.bitmap, &out.mask, &out.alpha),
                  0);
        EXPECT_EQ(QueryBitMapAttr(out.bitmap, 25), uintptr_t(displayable));
        EXPECT_EQ(out.bitmap->rowLength, source->rowLength);
        EXPECT_EQ(std::memcmp(out.bitmap->pixels, source->pixels, bytes), 0);
        EXPECT_EQ(std::memcmp(out.mask->plane, picture.mask->plane,
                              size_t(picture.mask->bytesPerRow) * 7),
                  0);
        EXPECT_EQ(std::memcmp(out.alpha->plane, alpha->plane, size_t(alpha->bytesPerRow) * 7), 0);
    }
    const uint32_t other = qv::ScreenFormat() == QV_FMT_R5G6B5 ? QV_FMT_A8R8G8B8 : QV_FMT_R5G6B5;
    BitMapPtr foreign(qv::AllocBitMapInFormat(19, 7, other, false));
    RectFill(foreign.get(), 0, 0, 19, 7, 0xF80000);
    Outputs out;
    ASSERT_EQ(CopyBitmapArea(foreign.get(), nullptr, nullptr, 0, 0, 19, 7, 0, &out.bitmap, nullptr,
                             nullptr),
              0);
    EXPECT_EQ(out.bitmap->format, qv::ScreenFormat());
    EXPECT_EQ(ReadBitMapPixel(out.bitmap, 18, 6), qv::test::AsStored(0xF80000));
    for (uint64_t n = 1;; ++n) {
        const size_t live = qv::GetMemoryStats().liveBlocks;
        Outputs failed;
        int result;
        {
            qv::AllocationFault fault(n, false);
            result = CopyBitmapArea(picture.bitmap.get(), picture.mask.get(), alpha.get(), 0, 0, 19,
                                    7, 0, &failed.bitmap, &failed.mask, &failed.alpha);
        }
        if (result == 0) break;
        ASSERT_EQ(result, ERR_MEM);
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live);
    }
}

TEST(FlipBitmap, RowsColumnsAndTheirPlanes) {
    for (int32_t direction : {QV_FLIP_VERTICAL, QV_FLIP_HORIZONTAL}) {
        Picture picture(10, 5, true, false);
        Picture reference(10, 5, true, true);
        PlanePtr alpha(AllocAlphaBitMap(10, 5, 1));
        qv::test::PaintCoordinates(picture.bitmap.get(), nullptr, alpha.get());
        // The unused bits after the width in the mask's last byte are kept.
        for (int32_t y = 0; y < 5; ++y)
            picture.mask->plane[y * picture.mask->bytesPerRow + 1] |= 0x3F;
        ASSERT_EQ(
            FlipBitmap(picture.bitmap.get(), picture.mask.get(), alpha.get(), 10, 5, direction), 0);
        for (int32_t y = 0; y < 5; ++y) {
            for (int32_t x = 0; x < 10; ++x) {
                const int32_t sx = direction == QV_FLIP_VERTICAL ? x : 9 - x;
                const int32_t sy = direction == QV_FLIP_VERTICAL ? 4 - y : y;
                const auto from = qv::test::SourceOf(picture.bitmap.get(), x, y, 10);
                EXPECT_EQ(from.x, sx);
                EXPECT_EQ(from.y, sy);  // the middle row of the odd height stays
                EXPECT_EQ(ReadBitMapPixel(picture.mask.get(), x, y),
                          qv::test::CoordinateBit(sx, sy) ? 1u : 0u);
                EXPECT_EQ(alpha->plane[y * alpha->bytesPerRow + x],
                          qv::test::CoordinateAlpha(sx, sy));
            }
            EXPECT_EQ(picture.mask->plane[y * picture.mask->bytesPerRow + 1] & 0x3F, 0x3F);
        }
    }
}

TEST(FlipBitmap, FailuresChangeNothing) {
    Picture picture(6, 3, true, false);
    BitMapPtr before(AllocDisplayBitMap(6, 3));
    BltBitMap(picture.bitmap.get(), 0, 0, before.get(), 0, 0, 6, 3);
    {
        qv::AllocationFault fault(1, false);  // the scratch row
        EXPECT_EQ(FlipBitmap(picture.bitmap.get(), picture.mask.get(), nullptr, 6, 3, 1), ERR_MEM);
    }
    {
        hooks::LockFault fault(1);
        EXPECT_EQ(FlipBitmap(picture.bitmap.get(), picture.mask.get(), nullptr, 6, 3, 1),
                  ERR_LOCKBMAP);
    }
    EXPECT_EQ(FlipBitmap(picture.bitmap.get(), picture.mask.get(), nullptr, 7, 3, 1),
              ERR_COORDSRANGE);
    EXPECT_TRUE(qv::test::SameBitMap(picture.bitmap.get(), before.get()));
}

}  // namespace

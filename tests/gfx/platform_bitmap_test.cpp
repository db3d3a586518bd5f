// The platform's bitmap records: allocation, wrappers, locks, attributes and pixel I/O.
#include "platform/linux/bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "platform/linux/memory.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::PlanePtr;
namespace hooks = qv::platform::testing;

TEST(PlatformBitMap, DisplayBitMapsUseTheScreenFormatAndPaddedRows) {
    BitMapPtr bitmap(AllocDisplayBitMap(17, 3));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->format, qv::ScreenFormat());
    EXPECT_EQ(bitmap->bytesPerPixel, qv::BytesPerPixel(qv::ScreenFormat()));
    EXPECT_EQ(bitmap->rowLength, 32 + 3);  // rounded up to 16 pixels, plus the test padding
    EXPECT_FALSE(bitmap->screenFriend);
    BitMapPtr alt(AllocDisplayBitMapAlt(1, 1));
    ASSERT_TRUE(alt);
    EXPECT_TRUE(alt->screenFriend);
    EXPECT_EQ(QueryBitMapAttr(alt.get(), 25), 1u);
}

TEST(PlatformBitMap, BuffersArePoisonedUnlessCleared) {
    BitMapPtr bitmap(AllocDisplayBitMap(4, 2));
    PlanePtr dirty(AllocMaskBitMap(nullptr, 8, 2, 0));
    PlanePtr clean(AllocAlphaBitMap(8, 2, 1));
    ASSERT_TRUE(bitmap && dirty && clean);
    EXPECT_EQ(bitmap->pixels[0], hooks::kPoison);
    EXPECT_EQ(dirty->plane[dirty->bytesPerRow * 2 - 1], hooks::kPoison);
    EXPECT_EQ(clean->plane[clean->bytesPerRow * 2 - 1], 0);
    hooks::SetPoisonFill(false);
    BitMapPtr production(AllocDisplayBitMap(4, 2));
    EXPECT_EQ(production->pixels[0], 0);
}

struct SizeCase {
    int32_t width, height;
    bool ok;
};

TEST(PlatformBitMap, SidesFromZeroTo32768AreAccepted) {
    const SizeCase cases[] = {{0, 0, true},         {0, 5, true},     {5, 0, true},
                              {32768, 1, true},     {1, 32768, true}, {32769, 1, false},
                              {1, 32769, false},    {-1, 1, false},   {1, -1, false},
                              {INT32_MIN, 1, false}};
    for (const auto& c : cases) {
        BitMapPtr bitmap(AllocDisplayBitMap(c.width, c.height));
        PlanePtr mask(AllocMaskBitMap(nullptr, c.width, c.height, 1));
        PlanePtr alpha(AllocAlphaBitMap(c.width, c.height, 1));
        EXPECT_EQ(bitmap != nullptr, c.ok) << c.width << "x" << c.height;
        EXPECT_EQ(mask != nullptr, c.ok) << c.width << "x" << c.height;
        EXPECT_EQ(alpha != nullptr, c.ok) << c.width << "x" << c.height;
    }
}

TEST(PlatformBitMap, PlaneRowsFollowTheirRules) {
    hooks::SetExtraRowPadding(0);
    PlanePtr mask(AllocMaskBitMap(nullptr, 17, 2, 1));
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->bytesPerRow, 4);
    EXPECT_EQ(mask->depth, 1);
    PlotPixel(mask.get(), 8, 1, 0);
    EXPECT_EQ(mask->plane[4 + 1], 0x80);  // pixel 8 is bit 7 of the second byte
    EXPECT_EQ(PlanePtr(AllocMaskBitMap(nullptr, 1, 1, 1))->bytesPerRow, 2);
    EXPECT_EQ(PlanePtr(AllocAlphaBitMap(5, 1, 1))->bytesPerRow, 8);
    EXPECT_EQ(PlanePtr(AllocAlphaBitMap(8, 1, 1))->bytesPerRow, 8);

    // With a friend the rows cover the friend's width, but never fewer than the width needs.
    BitMapPtr wide(AllocDisplayBitMap(100, 1)), narrow(AllocDisplayBitMap(3, 1));
    EXPECT_EQ(PlanePtr(AllocMaskBitMap(wide.get(), 10, 1, 1))->bytesPerRow, 14);
    EXPECT_EQ(PlanePtr(AllocMaskBitMap(narrow.get(), 40, 1, 1))->bytesPerRow, 6);
}

TEST(PlatformBitMap, FailedAllocationsLeakNothing) {
    auto live = qv::GetMemoryStats().liveBlocks;
    BitMapPtr bitmap(AllocDisplayBitMap(4, 4));
    uint8_t buffer[16];
    // Each allocator fails at its first and (where it has one) its second allocation.
    const std::function<bool()> allocators[] = {
        [] { return AllocDisplayBitMap(8, 8) == nullptr; },
        [] { return AllocMaskBitMap(nullptr, 8, 8, 1) == nullptr; },
        [] { return AllocAlphaBitMap(8, 8, 0) == nullptr; },
        [] { return qv::OpenHeadlessWindow(0, 0, 8, 8) == nullptr; },
        [&] { return ReadBitMapARGB(bitmap.get(), 4, 4) == nullptr; },
        [&] { return WrapChunkyBufferEx(buffer, 4, 4, 4) == nullptr; },
    };
    for (size_t i = 0; i < std::size(allocators); ++i) {
        for (uint64_t n = 1; n <= (i < 4 ? 2 : 1); ++n) {
            qv::AllocationFault fault(n, false);
            EXPECT_TRUE(allocators[i]()) << "allocator " << i << " request " << n;
        }
    }
    bitmap.reset();
    EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live);
}

TEST(PlatformBitMap, LocksDescribeThePixelsAndBalance) {
    BitMapPtr bitmap(AllocDisplayBitMap(10, 4));
    qvBitMapLock lock{};
    ASSERT_NE(LockBitMapRecord(bitmap.get(), &lock), 0);
    EXPECT_EQ(lock.base, bitmap->pixels);
    EXPECT_EQ(lock.handle, bitmap.get());
    EXPECT_EQ(lock.format, bitmap->format);
    EXPECT_EQ(lock.bytesPerPixel, bitmap->bytesPerPixel);
    EXPECT_EQ(lock.rowLength, bitmap->rowLength);
    EXPECT_EQ(lock.width, 10);
    EXPECT_EQ(lock.height, 4);
    EXPECT_EQ(hooks::LockBalance(), 1);
    EXPECT_EQ(bitmap->lockCount, 1);
    UnlockBitMapRecord(&lock);
    UnlockBitMapRecord(&lock);  // a second release of the same record changes nothing
    EXPECT_EQ(hooks::LockBalance(), 0);
    EXPECT_EQ(LockBitMapRecord(nullptr, &lock), 0);
    bitmap->format = 14;
    EXPECT_EQ(LockBitMapRecord(bitmap.get(), &lock), 0);
}

TEST(PlatformBitMap, InjectedLockFailureHitsTheNthLock) {
    BitMapPtr bitmap(AllocDisplayBitMap(2, 2));
    hooks::LockFault fault(2);
    qv::ScopedBitMapLock first(bitmap.get());
    qv::ScopedBitMapLock second(bitmap.get());
    qv::ScopedBitMapLock third(bitmap.get());
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_TRUE(third);
    EXPECT_EQ(hooks::LockBalance(), 2);
}

TEST(PlatformBitMap, AttributesOfRecordsAndScreen) {
    BitMapPtr bitmap(AllocDisplayBitMap(33, 7));
    PlanePtr alpha(AllocAlphaBitMap(9, 5, 1)), mask(AllocMaskBitMap(nullptr, 9, 5, 1));
    const qvDisplayBitMap* none = nullptr;
    const uint32_t format = qv::ScreenFormat();
    const uintptr_t rowLength = 48 + 3, bytes = uintptr_t(qv::BytesPerPixel(format));
    struct {
        uintptr_t actual, expected;
    } cases[] = {
        {QueryBitMapAttr(bitmap.get(), 0), 33},
        {QueryBitMapAttr(bitmap.get(), 1), rowLength * bytes},
        {QueryBitMapAttr(bitmap.get(), 4), rowLength},
        {QueryBitMapAttr(bitmap.get(), 11), ((rowLength + 15) >> 3) & ~uintptr_t(1)},
        {QueryBitMapAttr(bitmap.get(), 18), 7},
        {QueryBitMapAttr(bitmap.get(), 21), format < 4 ? 15 : bytes * 8},
        {QueryBitMapAttr(bitmap.get(), 25), 0},
        {QueryBitMapAttr(alpha.get(), 1), uintptr_t(alpha->bytesPerRow)},
        {QueryBitMapAttr(alpha.get(), 3), reinterpret_cast<uintptr_t>(alpha->plane)},
        {QueryBitMapAttr(mask.get(), 2), uintptr_t(mask->bytesPerRow)},
        {QueryBitMapAttr(mask.get(), 4), reinterpret_cast<uintptr_t>(mask->plane)},
        {QueryBitMapAttr(mask.get(), 21), 1},
        {QueryBitMapAttr(alpha.get(), 21), 8},
        {QueryBitMapAttr(none, 0), 0},
        {QueryBitMapAttr(none, 14), uintptr_t(qv::ScreenWidth())},
        {QueryBitMapAttr(nullptr, 15), uintptr_t(qv::ScreenHeight())},
        {QueryBitMapAttr(nullptr, 12), uintptr_t(qv::kDefaultPointerSize)},
        {QueryBitMapAttr(nullptr, 20), 0},
        {QueryBitMapAttr(nullptr, 21), format < 4 ? 15 : bytes * 8},
        {QueryBitMapAttr(nullptr, 99), 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].actual, cases[i].expected) << "case " << i;
    }
}

TEST(PlatformBitMap, RuntimeOptionsAreStoredAndReadBack) {
    BitMapPtr bitmap(AllocDisplayBitMap(1, 1));
    SetRuntimeOption(nullptr, 16, 25);
    EXPECT_EQ(QueryBitMapAttr(nullptr, 16), 25u);
    SetRuntimeOption(bitmap.get(), 26, 1);
    EXPECT_EQ(QueryBitMapAttr(bitmap.get(), 26), 1u);
    SetRuntimeOption(bitmap.get(), 26, 0);
    EXPECT_EQ(QueryBitMapAttr(bitmap.get(), 26), 0u);
    SetRuntimeOption(nullptr, 26, 1);  // no bitmap: ignored
    SetRuntimeOption(nullptr, 16, 0);
}

TEST(PlatformBitMap, PixelsReadBackAsWrittenWithinTheFormatsPrecision) {
    BitMapPtr bitmap = qv::test::Filled(5, 3, 0);
    PlotPixel(bitmap.get(), 4, 2, 0xFFFFFF);
    PlotPixel(bitmap.get(), 5, 2, 0xFFFFFF);   // outside: ignored
    PlotPixel(bitmap.get(), -1, 0, 0xFFFFFF);  // outside: ignored
    uint32_t white = RGBToPixelFormat(0xFFFFFF, bitmap->format);
    uint8_t rgb[3];
    ReadPixelRGB(&white, bitmap->format, rgb);
    uint32_t expected = uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 4, 2), expected);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 3, 2), 0u);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 5, 2), 0u);
    const qvDisplayBitMap* none = nullptr;
    EXPECT_EQ(ReadBitMapPixel(none, 0, 0), 0u);

    // The whole-picture read: padded with 0 beyond the bitmap, alpha 0xFF.
    qvARGB* argb = ReadBitMapARGB(bitmap.get(), 6, 4);
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(argb[2 * 6 + 4], 0xFF000000u | expected);
    EXPECT_EQ(argb[0], 0xFF000000u);
    EXPECT_EQ(argb[2 * 6 + 5], 0u);
    EXPECT_EQ(argb[3 * 6], 0u);
    FreeMemBlock(argb);
}

TEST(PlatformBitMap, ARGBReadTakesAlphaFromPixelsWithAttribute26) {
    for (uint32_t format = QV_FMT_A8R8G8B8; format <= QV_FMT_A8B8G8R8; ++format) {
        BitMapPtr bitmap(qv::AllocBitMapInFormat(1, 1, format, true));
        *reinterpret_cast<uint32_t*>(bitmap->pixels) =
            ARGBToPixel32(format, 0x00123456) | (format == 11 || format == 12 ? 0x40 : 0x40000000);
        SetRuntimeOption(bitmap.get(), 26, 1);
        qvARGB* argb = ReadBitMapARGB(bitmap.get(), 1, 1);
        EXPECT_EQ(*argb, 0x40123456u) << "format " << format;
        FreeMemBlock(argb);
    }
}

TEST(PlatformBitMap, MaskPixelsFollowTheMaskMode) {
    PlanePtr mask(AllocMaskBitMap(nullptr, 16, 1, 1));
    const struct {
        int mode;
        uint32_t before, after;
    } cases[] = {{0, 0, 1}, {2, 0, 1}, {5, 0, 1}, {1, 1, 0}, {3, 1, 0},
                 {3, 0, 1}, {4, 1, 1}, {4, 0, 0}, {9, 1, 0}};
    for (const auto& c : cases) {
        PlotPixel(mask.get(), 3, 0, c.before ? 0 : 1);
        PlotPixel(mask.get(), 3, 0, c.mode);
        EXPECT_EQ(ReadBitMapPixel(mask.get(), 3, 0), c.after) << "mode " << c.mode;
    }
    PlotPixel(mask.get(), 100, 0, 0);  // beyond the plane: ignored
    EXPECT_EQ(ReadBitMapPixel(mask.get(), 100, 0), 0u);
}

TEST(PlatformBitMap, AlphaMergesIntoScreenFriendPixels) {
    PlanePtr mask(AllocMaskBitMap(nullptr, 2, 1, 1)), alpha(AllocAlphaBitMap(2, 1, 1));
    PlotPixel(mask.get(), 1, 0, 0);
    alpha->plane[0] = 0x12, alpha->plane[1] = 0x34;
    for (uint32_t format = QV_FMT_A8R8G8B8; format <= QV_FMT_A8B8G8R8; ++format) {
        BitMapPtr bitmap(qv::AllocBitMapInFormat(2, 1, format, true));
        RectFill(bitmap.get(), 0, 0, 2, 1, 0x123456);
        SetRuntimeOption(bitmap.get(), 26, 1);
        int maskMerged = -1, alphaMerged = -1;
        MergeAlphaIntoBitMap(bitmap.get(), mask.get(), alpha.get(), &maskMerged, &alphaMerged);
        EXPECT_EQ(maskMerged, 1);
        EXPECT_EQ(alphaMerged, 0);
        qvARGB* argb = ReadBitMapARGB(bitmap.get(), 2, 1);
        EXPECT_EQ(argb[0], 0x00123456u) << "format " << format;
        EXPECT_EQ(argb[1], 0xFF123456u) << "format " << format;
        FreeMemBlock(argb);
        MergeAlphaIntoBitMap(bitmap.get(), nullptr, alpha.get(), &maskMerged, &alphaMerged);
        EXPECT_EQ(alphaMerged, 1);
        argb = ReadBitMapARGB(bitmap.get(), 2, 1);
        EXPECT_EQ(argb[1], 0x34123456u);
        FreeMemBlock(argb);
        MergeAlphaIntoBitMap(bitmap.get(), nullptr, nullptr, &maskMerged, &alphaMerged);
        argb = ReadBitMapARGB(bitmap.get(), 2, 1);
        EXPECT_EQ(argb[0] >> 24, 0xFFu);
        FreeMemBlock(argb);
    }
    BitMapPtr plain(qv::AllocBitMapInFormat(2, 1, QV_FMT_A8R8G8B8, false));
    int maskMerged = -1, alphaMerged = -1;
    MergeAlphaIntoBitMap(plain.get(), mask.get(), nullptr, &maskMerged, &alphaMerged);
    EXPECT_EQ(maskMerged, 0);
    EXPECT_EQ(alphaMerged, 0);
}

TEST(PlatformBitMap, WrappedBuffersStayTheCallers) {
    auto live = qv::GetMemoryStats().liveBlocks;
    uint8_t buffer[64] = {};
    qvPlaneBitMap* chunky = WrapChunkyBufferEx(buffer, 7, 3, 8);
    ASSERT_NE(chunky, nullptr);
    EXPECT_EQ(chunky->owner, kPlaneWrapped);
    EXPECT_EQ(QueryBitMapAttr(chunky, 3), reinterpret_cast<uintptr_t>(buffer));
    FreePlaneBitMap2(chunky);
    FreePlaneBitMap2(nullptr);

    // Rewrapping a record frees the plane it owned and keeps the new buffer alive.
    qvPlaneBitMap* mask = AllocMaskBitMap(nullptr, 16, 2, 1);
    WrapMaskPlane(mask, buffer, 4);
    PlotPixel(mask, 9, 1, 0);
    EXPECT_EQ(buffer[4 + 1], 0x40);
    WrapAlphaPlane(mask, buffer, 8);
    EXPECT_EQ(mask->depth, 8);
    FreePlaneBitMap(mask);
    EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live);
}

TEST(PlatformBitMap, TheTemporaryHeaderIsSharedAndNeverFreed) {
    hooks::SetExtraRowPadding(0);
    BitMapPtr source(AllocDisplayBitMap(20, 2));  // row length 32
    uint8_t buffer[64] = {};
    qvPlaneBitMap* header = SetupTempMaskBitMap(buffer, source.get(), 20, 2);
    EXPECT_EQ(header->bytesPerRow, 4);
    EXPECT_EQ(header->depth, 1);
    EXPECT_EQ(SetupTempMaskBitMap(buffer, nullptr, 40, 2)->bytesPerRow, 6);
    EXPECT_EQ(SetTempMaskPlane(buffer, 20), header);
    EXPECT_EQ(header->depth, 8);
    EXPECT_EQ(header->bytesPerRow, 20);
    FreePlaneBitMap(header);  // ignored: the header is not a record of its own
    EXPECT_EQ(SetTempMaskPlane(buffer, 8)->plane, buffer);
}

TEST(PlatformBitMap, LinesAreCutToTheBitMap) {
    hooks::SetExtraRowPadding(0);
    BitMapPtr bitmap(AllocDisplayBitMap(8, 6));
    auto count = [&] {
        int n = 0;
        for (int32_t y = 0; y < 6; ++y) {
            for (int32_t x = 0; x < 8; ++x) n += ReadBitMapPixel(bitmap.get(), x, y) != 0;
        }
        return n;
    };
    const struct {
        int32_t x1, y1, x2, y2;
        int pixels;
        int32_t probeX, probeY;
    } cases[] = {
        {0, 0, 7, 0, 8, 7, 0},                  // horizontal
        {2, 5, 2, 1, 5, 2, 3},                  // vertical upward
        {0, 0, 5, 5, 6, 3, 3},                  // diagonal
        {-100, 2, 100, 2, 8, 0, 2},             // far ends
        {INT32_MIN, 3, INT32_MAX, 3, 8, 6, 3},  // extreme ends cost nothing
        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 6, 2, 2},
        {7, 5, 7, 5, 1, 7, 5},      // a point
        {-5, -5, -1, -1, 0, 0, 0},  // entirely outside
        {0, 0, 7, 2, 8, 4, 1},      // shallow slope rounds half up
    };
    for (const auto& c : cases) {
        RectFill(bitmap.get(), 0, 0, 8, 6, 0);
        DrawBitMapLine(bitmap.get(), c.x1, c.y1, c.x2, c.y2, 0xFFFFFF);
        EXPECT_EQ(count(), c.pixels) << c.x1 << "," << c.y1 << " to " << c.x2 << "," << c.y2;
        if (c.pixels > 0) {
            EXPECT_NE(ReadBitMapPixel(bitmap.get(), c.probeX, c.probeY), 0u);
        }
    }
}

TEST(PlatformBitMap, CompositingIsSoftwareUnlessGranted) {
    BitMapPtr a(AllocDisplayBitMapAlt(4, 4)), b(AllocDisplayBitMapAlt(8, 8));
    const double matrix[4] = {1, 0, 0, 1};
    EXPECT_EQ(CompositingSupported(1 | 2 | 4 | 8 | 16), 0u);
    EXPECT_EQ(CompositeScaleBlit(a.get(), b.get(), 4, 4, 8, 8, 1, 0), 0);
    hooks::GrantCompositing(4 | 16, true);
    EXPECT_EQ(CompositingSupported(1 | 4 | 8 | 16), 4u | 16u);
    EXPECT_EQ(CompositeScaleBlit(a.get(), b.get(), 4, 4, 8, 8, 1, 0), 1);
    EXPECT_EQ(CompositeTransformBlit(a.get(), b.get(), 4, 4, matrix, 1), 1);
    hooks::GrantCompositing(4, false);
    EXPECT_EQ(CompositeScaleBlit(a.get(), b.get(), 4, 4, 8, 8, 1, 0), 0);
    EXPECT_EQ(CompositeTransformBlit(a.get(), b.get(), 4, 4, matrix, 1), 0);
    EXPECT_EQ(hooks::CompositeCallCounts().scale, 1);
    EXPECT_EQ(hooks::CompositeCallCounts().transform, 0);
    NoOpComposite();
}

}  // namespace

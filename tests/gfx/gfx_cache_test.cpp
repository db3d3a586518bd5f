// The gfx cache: names without regard to letter case, the first match, plane copies that
// belong to their holders, and the image handle's count raised per insert and hit and given
// back by the flush.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/error_codes.h"
#include "gfx/gfx_cache.h"
#include "platform/linux/memory.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::PlanePtr;

// The cache does not depend on the screen format: it runs in the default one.
class GfxCache : public ::testing::Test {
protected:
    void SetUp() override {
        const char* format = std::getenv("QV_SCREEN_FORMAT");
        if (format != nullptr && std::string(format) != "10")
            GTEST_SKIP() << "independent of the screen format";
        handle = NewImageHandle(4, 3);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override {
        FlushGfxCache();
        if (handle != nullptr) ReleaseImageHandle(handle);
    }

    struct Found {
        int error;
        int32_t width = 0, height = 0, value1 = 0, value2 = 0;
        qvImageHandle* handle = nullptr;
        PlanePtr plane;
    };
    Found Find(const char* name, int wantPlane) {
        Found f{};
        qvPlaneBitMap* plane = nullptr;
        f.error = FindGfxCacheEntry(name, wantPlane, &f.width, &f.height, &f.value1, &f.handle,
                                    &plane, &f.value2);
        f.plane.reset(plane);
        return f;
    }

    qvImageHandle* handle = nullptr;
};

TEST_F(GfxCache, FindsByNameWithoutRegardToCase) {
    ASSERT_EQ(AddGfxCacheEntry("Pics/Brush.PNG", 4, 3, 7, handle, nullptr, 9), 0);
    const struct {
        const char* name;
        int error;
    } cases[] = {{"pics/brush.png", 0},
                 {"PICS/BRUSH.PNG", 0},
                 {"Pics/Brush.PNG", 0},
                 {"Pics/Brush.PN", ERR_CACHEERROR},
                 {"", ERR_CACHEERROR}};
    uint32_t hits = 0;
    for (const auto& c : cases) {
        const Found f = Find(c.name, 0);
        EXPECT_EQ(f.error, c.error) << c.name;
        if (c.error != 0) continue;
        ++hits;
        EXPECT_EQ(f.handle, handle);
        EXPECT_EQ(f.width, 4);
        EXPECT_EQ(f.height, 3);
        EXPECT_EQ(f.value1, 7);
        EXPECT_EQ(f.value2, 9);
    }
    EXPECT_EQ(handle->refCount, 2 + hits);  // ours, the insert's and one per hit
    FlushGfxCache();
    EXPECT_EQ(handle->refCount, 1 + hits);  // the hits' counts belong to their holders
    for (uint32_t i = 0; i < hits; ++i) ReleaseImageHandle(handle);
    EXPECT_EQ(handle->refCount, 1u);
}

TEST_F(GfxCache, FirstMatchWins) {
    qvImageHandle* second = NewImageHandle(1, 1);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(AddGfxCacheEntry("a.iff", 4, 3, 1, handle, nullptr, 0), 0);
    ASSERT_EQ(AddGfxCacheEntry("A.IFF", 1, 1, 2, second, nullptr, 0), 0);
    Found f = Find("a.IFF", 0);
    EXPECT_EQ(f.error, 0);
    EXPECT_EQ(f.value1, 1);
    EXPECT_EQ(f.handle, handle);
    ReleaseImageHandle(handle);
    FlushGfxCache();
    EXPECT_EQ(second->refCount, 1u);
    ReleaseImageHandle(second);
}

TEST_F(GfxCache, PlaneCopiesBelongToTheirHolders) {
    PlanePtr plane(AllocAlphaBitMap(4, 3, 1));
    ASSERT_NE(plane, nullptr);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x)
            plane->plane[y * plane->bytesPerRow + x] = uint8_t(y * 4 + x);
    ASSERT_EQ(AddGfxCacheEntry("alpha.png", 4, 3, 0, handle, plane.get(), 0), 0);
    plane->plane[0] = 200;  // the entry keeps its own copy
    Found first = Find("ALPHA.png", 1);
    ASSERT_EQ(first.error, 0);
    ASSERT_NE(first.plane, nullptr);
    EXPECT_EQ(first.plane->plane[0], 0);
    first.plane->plane[1] = 99;  // and so does every caller
    Found second = Find("alpha.png", 1);
    ASSERT_EQ(second.error, 0);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(second.plane->plane[y * second.plane->bytesPerRow + x], uint8_t(y * 4 + x));
    ReleaseImageHandle(handle);
    ReleaseImageHandle(handle);
}

TEST_F(GfxCache, RefusalsDeliverNothing) {
    ASSERT_EQ(AddGfxCacheEntry("noplane.png", 4, 3, 0, handle, nullptr, 0), 0);
    Found f = Find("noplane.png", 1);
    EXPECT_EQ(f.error, ERR_CACHEERROR);
    EXPECT_EQ(f.handle, nullptr);
    EXPECT_EQ(f.plane, nullptr);
    // A name that does not fit is not cached, so it can never match a cut-off name.
    const std::string longName(1024, 'x');
    EXPECT_EQ(AddGfxCacheEntry(longName.c_str(), 4, 3, 0, handle, nullptr, 0), 0);
    EXPECT_EQ(Find(longName.substr(0, 1023).c_str(), 0).error, ERR_CACHEERROR);
    EXPECT_EQ(Find(longName.c_str(), 0).error, ERR_CACHEERROR);
    EXPECT_EQ(handle->refCount, 2u);
}

TEST_F(GfxCache, AllocationFailuresStoreNothing) {
    PlanePtr plane(AllocAlphaBitMap(4, 3, 1));
    ASSERT_NE(plane, nullptr);
    for (uint64_t n : {1, 2}) {
        qv::AllocationFault fault(n, false);
        EXPECT_EQ(AddGfxCacheEntry("p.png", 4, 3, 0, handle, plane.get(), 0), ERR_MEM) << n;
    }
    EXPECT_EQ(handle->refCount, 1u);
    ASSERT_EQ(AddGfxCacheEntry("p.png", 4, 3, 0, handle, plane.get(), 0), 0);
    {
        qv::AllocationFault fault(1, true);
        EXPECT_EQ(Find("p.png", 1).error, ERR_MEM);
    }
    EXPECT_EQ(handle->refCount, 2u);
}

}  // namespace

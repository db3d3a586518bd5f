#include <gtest/gtest.h>

#include "tests/engine/engine_test_support.h"

namespace qv::testing {
namespace {

using StateTest = EngineTest;

TEST_F(StateTest, FreshEngineHasItsTablesStackAndStrings) {
    qvVmGlobalState* g = L->g;
    qvTable* registry = TableOf(&g->registry);
    EXPECT_EQ(registry->sizearray, 4u);
    EXPECT_EQ(registry->lsizenode, 4);
    ASSERT_TRUE(IsTable(&L->globals));
    EXPECT_EQ(TableOf(&L->globals)->sizearray, 0u);
    EXPECT_EQ(TableOf(&L->globals)->lsizenode, 4);
    qvTable* meta = TableOf(&g->defaultMeta);
    EXPECT_EQ(meta->metatable, meta);
    EXPECT_EQ(L->stacksize, 45);
    EXPECT_EQ(L->stackLast, L->stack + 39);
    EXPECT_EQ(L->sizeCi, 8);
    EXPECT_EQ(L->ci, L->baseCi);
    EXPECT_EQ(L->ci->top, L->base + 20);
    EXPECT_EQ(L->top - L->base, 0);
    EXPECT_EQ(g->strt.size, 32u);
    EXPECT_EQ(g->strt.nuse, 24u);
    EXPECT_EQ(g->GCthreshold, 4 * g->nblocks);
    for (int e = 0; e < TM_N; ++e) EXPECT_TRUE(g->tmname[e]->marked & VM_FIXED) << e;
}

TEST(StateOpen, EveryFailingAllocationGivesNullAndLeaksNothing) {
    size_t before = GetMemoryStats().liveBlocks;
    uint64_t needed;
    {
        AllocationFault count(UINT64_MAX, false);
        qvVmState* L = VmOpen();
        needed = AllocationRequestsSinceArm();
        VmClose(L);
    }
    ASSERT_GT(needed, 5u);
    for (uint64_t n = 1; n <= needed; ++n) {
        AllocationFault fault(n, false);
        qvVmState* L = VmOpen();
        EXPECT_EQ(L, nullptr) << "allocation " << n;
        if (L != nullptr) VmClose(L);
        EXPECT_EQ(GetMemoryStats().liveBlocks, before) << "allocation " << n;
    }
}

TEST_F(StateTest, HugeAllocationFailsWithoutReachingTheAllocator) {
    AllocationFault watch(UINT64_MAX, false);
    EXPECT_EQ(Protected(L, [&] { VmRealloc(L, nullptr, 0, 0xFFFFFFFD); }), ERR_MEM);
    EXPECT_EQ(AllocationRequestsSinceArm(), 0u);
    void* block = nullptr;
    EXPECT_EQ(Protected(L, [&] { block = VmRealloc(L, nullptr, 0, 0xFFFFFFFC - 64); }), 0);
    VmRealloc(L, block, 0xFFFFFFFC - 64, 0);
}

TEST_F(StateTest, FailedAllocationRaisesOutOfMemoryAndKeepsTheCount) {
    size_t before = L->g->nblocks;
    AllocationFault fault(1, false);
    EXPECT_EQ(Protected(L, [&] { VmRealloc(L, nullptr, 0, 64); }), ERR_MEM);
    EXPECT_EQ(L->g->nblocks, before);
}

TEST_F(StateTest, GrowVectorDoublesUpToItsLimit) {
    struct Case {
        int32_t size, limit, grown;
        int status;
    } cases[] = {
        {0, 100, 4, 0},    {2, 100, 4, 0},    {10, 100, 20, 0},    {49, 100, 98, 0},
        {50, 100, 100, 0}, {95, 100, 100, 0}, {96, 100, 96, 1135}, {100, 100, 100, 1135},
    };
    for (const Case& c : cases) {
        int32_t size = c.size;
        void* block = nullptr;
        int status = Protected(L, [&] {
            block = VmRealloc(L, nullptr, 0, size * sizeof(int));
            block = VmGrowVector(L, block, &size, sizeof(int), c.limit, ERR_STACK);
        });
        EXPECT_EQ(status, c.status) << c.size;
        EXPECT_EQ(size, c.grown) << c.size;
        VmRealloc(L, block, size * sizeof(int), 0);
    }
}

TEST_F(StateTest, GrowVectorRefusesByteSizesBeyondThirtyTwoBits) {
    int32_t size = 0x20000000;
    EXPECT_EQ(Protected(L, [&] { VmGrowVector(L, nullptr, &size, 16, 0x7FFFFFFF, ERR_STACK); }),
              ERR_MEM);
}

TEST_F(StateTest, ThreadsShareTheGlobalsAndAreCollected) {
    qvVmState* L1 = VmNewThreadState(L);
    EXPECT_EQ(L1->g, L->g);
    EXPECT_EQ(L1->globals.value.gc, L->globals.value.gc);
    EXPECT_EQ(L1->stacksize, 45);
    VmCollectGarbage(L);  // unanchored: freed here, and the sanitizer sees any misuse
}

TEST(StateTorture, EnvironmentSwitchTurnsOnCollectionAtEveryCheckPoint) {
    setenv("QV_GC_TORTURE", "1", 1);
    qvVmState* L = VmOpen();
    unsetenv("QV_GC_TORTURE");
    ASSERT_NE(L, nullptr);
    EXPECT_TRUE(L->g->gcTorture);
    qvTable* t = VmTableNew(L, 0, 0);
    (void)t;
    size_t before = L->g->nblocks;
    VmCheckGC(L);  // the unanchored table goes at once
    EXPECT_LT(L->g->nblocks, before);
    VmClose(L);
}

}  // namespace
}  // namespace qv::testing

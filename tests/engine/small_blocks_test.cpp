#include "engine/small_blocks.h"

#include <vector>

#include "tests/engine/engine_test_support.h"

namespace qv::testing {
namespace {

using SmallBlockTest = EngineTest;

// Each class keeps at most 1 MiB of freed blocks; the rest go back to the system.
TEST_F(SmallBlockTest, ClassesKeepAtMostOneMebibyte) {
    qvVmGlobalState* g = L->g;
    for (size_t size : {512u, 48u, 16u}) {
        ReleaseSmallBlocks(g);
        const size_t c = SmallClass(size);
        const size_t kept = kSmallBlockBytesKept / size;  // 2048, 21845, 65536
        std::vector<void*> blocks(kept + 10);
        for (void*& b : blocks) b = AllocBlock(g, size);
        const size_t live = GetMemoryStats().liveBlocks;
        for (void* b : blocks) FreeBlock(g, b, size);
        EXPECT_EQ(g->smallBlockCounts[c], kept) << size;
        EXPECT_EQ(GetMemoryStats().liveBlocks, live - 10) << size;
        // A cached block is handed out again without the system.
        void* again = AllocBlock(g, size - 1);
        EXPECT_EQ(g->smallBlockCounts[c], kept - 1) << size;
        EXPECT_EQ(GetMemoryStats().liveBlocks, live - 10) << size;
        FreeBlock(g, again, size - 1);
    }
}

// A request served from the cache still passes the fault injector, and a refused one leaves
// the cache as it was.
TEST_F(SmallBlockTest, CachedBlocksStillMeetInjectedFaults) {
    qvVmGlobalState* g = L->g;
    FreeBlock(g, AllocBlock(g, 100), 100);
    const size_t c = SmallClass(100);
    const uint32_t count = g->smallBlockCounts[c];
    void* head = g->smallBlocks[c];
    ASSERT_GT(count, 0u);
    {
        AllocationFault fault(1, false);
        EXPECT_EQ(AllocBlock(g, 100), nullptr);
    }
    EXPECT_EQ(g->smallBlockCounts[c], count);
    EXPECT_EQ(g->smallBlocks[c], head);
    void* block = AllocBlock(g, 100);
    EXPECT_EQ(block, head);
    FreeBlock(g, block, 100);
}

}  // namespace
}  // namespace qv::testing

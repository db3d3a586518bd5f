#include "platform/linux/memory.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/linux/debug_output.h"

namespace {

TEST(PlatformMemory, BlocksAreCountedAndCleared) {
    auto before = qv::GetMemoryStats();
    auto* block = static_cast<unsigned char*>(AllocMemBlock(100, 1));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(block[i], 0);
    EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before.liveBlocks + 1);
    FreeMemBlock(block);
    FreeMemBlock(nullptr);
    EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before.liveBlocks);
    EXPECT_EQ(qv::GetMemoryStats().liveBytes, before.liveBytes);
}

TEST(PlatformMemory, InjectedFaultHitsExactlyTheNthRequest) {
    qv::AllocationFault fault(2, false);
    void* a = AllocMemBlock(8, 0);
    void* b = AllocMemBlock(8, 0);
    void* c = AllocMemBlock(8, 0);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    FreeMemBlock(a);
    FreeMemBlock(c);
}

TEST(PlatformMemory, InjectedFaultCanFailEveryLaterRequest) {
    void* kept = AllocMemBlock(8, 0);
    {
        qv::AllocationFault fault(1, true);
        EXPECT_EQ(AllocMemBlock(8, 0), nullptr);
        EXPECT_EQ(AllocMemBlock(8, 0), nullptr);
        // A failed growth leaves the block as it was; freeing never fails.
        EXPECT_EQ(qv::PlatformRealloc(nullptr, 0, 32), nullptr);
        FreeMemBlock(kept);
        EXPECT_EQ(qv::AllocationRequestsSinceArm(), 3u);
    }
    void* after = AllocMemBlock(8, 0);
    EXPECT_NE(after, nullptr);
    FreeMemBlock(after);
}

TEST(PlatformMemory, CapRefusesGrowthBeyondIt) {
    size_t live = qv::GetMemoryStats().liveBytes;
    qv::SetMemoryCap(live + 1000);
    void* small = qv::PlatformRealloc(nullptr, 0, 500);
    EXPECT_NE(small, nullptr);
    EXPECT_EQ(qv::PlatformRealloc(small, 500, 2000), nullptr);
    qv::SetMemoryCap(0);
    qv::PlatformRealloc(small, 500, 0);
}

// The cap and the injector are independent: clearing one leaves the other in force.
TEST(PlatformMemory, CapOutlivesAClearedFault) {
    size_t live = qv::GetMemoryStats().liveBytes;
    qv::SetMemoryCap(live + 1000);
    { qv::AllocationFault fault(5, false); }
    EXPECT_EQ(qv::PlatformRealloc(nullptr, 0, 2000), nullptr);
    qv::SetMemoryCap(0);
    {
        qv::AllocationFault fault(2, false);
        qv::SetMemoryCap(live + 1000);
        qv::SetMemoryCap(0);
        void* first = AllocMemBlock(8, 0);
        EXPECT_NE(first, nullptr);
        EXPECT_EQ(AllocMemBlock(8, 0), nullptr);
        FreeMemBlock(first);
    }
}

// Requests count per thread, so another thread's allocations never disturb a count taken
// around a run of the engine.
TEST(PlatformMemory, RequestsCountPerThread) {
    uint64_t before = qv::GetMemoryStats().requests;
    std::thread other([] {
        for (int i = 0; i < 100; ++i) FreeMemBlock(AllocMemBlock(8, 0));
    });
    other.join();
    void* block = qv::PlatformRealloc(nullptr, 0, 24);
    block = qv::PlatformRealloc(block, 24, 48);
    qv::PlatformRealloc(block, 48, 0);  // freeing is no request
    EXPECT_EQ(qv::GetMemoryStats().requests, before + 2);
}

TEST(DebugOutput, CaptureCollectsTextVerbatim) {
    qv::DebugCapture capture;
    WriteDebugText("Now calling %s()", "foo");
    qv::WriteDebugPlain("100%s");
    WriteDebugText("%s", std::string(1000, 'x').c_str());
    EXPECT_EQ(capture.Text(), "Now calling foo()100%s" + std::string(1000, 'x'));
}

TEST(DebugOutput, UnknownDeviceIsRefused) {
    EXPECT_EQ(SelectDebugOutput("@stdout"), 0);
    EXPECT_EQ(SelectDebugOutput("@nowhere"), -1);
}

}  // namespace

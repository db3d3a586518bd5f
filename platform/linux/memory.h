// Memory services of the platform layer: the one reallocation primitive under every
// allocation of the run-time, the plain block allocator, live-block accounting and a fault
// injector that tests use to reach every out-of-memory path.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Returns a block of at least size bytes (zero-filled when clear is non-zero), or nullptr
// when memory is short.
void* AllocMemBlock(size_t size, int clear);
// Frees a block from AllocMemBlock; nullptr is allowed.
void FreeMemBlock(void* block);

namespace qv {

// Resizes block from oldsize to newsize bytes. newsize 0 frees the block and returns nullptr.
// On failure (or an injected fault) returns nullptr and leaves the block untouched. Freeing
// never fails. oldsize must be the size the block was last given.
void* PlatformRealloc(void* block, size_t oldsize, size_t newsize);

namespace memory_detail {
extern thread_local constinit uint64_t threadRequests;
extern std::atomic<bool> checking;  // a fault is armed or a cap is set
bool ArmedFailure(size_t oldsize, size_t newsize);
}  // namespace memory_detail

// Counts one allocation request; true when it may go ahead, false when an injected fault or
// the memory cap refuses it. In line, since the engine's cache of small blocks calls it for
// each block it hands out: disarmed, it is a count and one predicted branch.
inline bool CountAllocationRequest(size_t oldsize, size_t newsize) {
    ++memory_detail::threadRequests;
    if (!memory_detail::checking.load(std::memory_order_relaxed)) [[likely]]
        return true;
    return !memory_detail::ArmedFailure(oldsize, newsize);
}

struct MemoryStats {
    size_t liveBlocks;
    size_t liveBytes;
    uint64_t requests;  // allocation requests (newsize > 0) of the calling thread since its start
};
MemoryStats GetMemoryStats();

// Arms the fault injector: the n-th allocation request from now (1-based) fails; with
// failAfter set, every request from the n-th on fails too.
void InjectAllocationFault(uint64_t n, bool failAfter);
void ClearAllocationFault();
// Number of requests since the injector was armed (counted only while it is armed).
uint64_t AllocationRequestsSinceArm();

// Caps the live bytes; requests beyond it fail. 0 removes the cap.
void SetMemoryCap(size_t bytes);

// Arms the injector for one scope.
class AllocationFault {
public:
    AllocationFault(uint64_t n, bool failAfter) { InjectAllocationFault(n, failAfter); }
    ~AllocationFault() { ClearAllocationFault(); }
    AllocationFault(const AllocationFault&) = delete;
    AllocationFault& operator=(const AllocationFault&) = delete;
};

}  // namespace qv

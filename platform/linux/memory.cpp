#include "platform/linux/memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace qv {
namespace {

std::atomic<size_t> liveBlocks{0};
std::atomic<size_t> liveBytes{0};
std::atomic<uint64_t> requestsSinceArm{0};
std::atomic<uint64_t> faultAt{0};  // 0: disarmed
std::atomic<bool> faultAfter{false};
std::atomic<size_t> memoryCap{0};

void UpdateChecking() {
    memory_detail::checking.store(faultAt.load() != 0 || memoryCap.load() != 0);
}

}  // namespace

namespace memory_detail {

// Each thread counts its own requests: a plain increment, where a shared counter would cost a
// locked instruction on every allocation of the engine's hot paths.
thread_local constinit uint64_t threadRequests = 0;
std::atomic<bool> checking{false};

bool ArmedFailure(size_t oldsize, size_t newsize) {
    uint64_t at = faultAt.load(std::memory_order_relaxed);
    if (at != 0) {
        uint64_t n = requestsSinceArm.fetch_add(1, std::memory_order_relaxed) + 1;
        if (n == at || (n > at && faultAfter.load(std::memory_order_relaxed))) return true;
    }
    size_t cap = memoryCap.load(std::memory_order_relaxed);
    return cap != 0 && newsize > oldsize &&
           liveBytes.load(std::memory_order_relaxed) + (newsize - oldsize) > cap;
}

}  // namespace memory_detail

void* PlatformRealloc(void* block, size_t oldsize, size_t newsize) {
    if (newsize == 0) {
        if (block != nullptr) {
            std::free(block);
            liveBlocks.fetch_sub(1, std::memory_order_relaxed);
            liveBytes.fetch_sub(oldsize, std::memory_order_relaxed);
        }
        return nullptr;
    }
    if (block == nullptr) oldsize = 0;
    if (!CountAllocationRequest(oldsize, newsize)) return nullptr;
    void* result = std::realloc(block, newsize);
    if (result == nullptr) return nullptr;
    if (block == nullptr) liveBlocks.fetch_add(1, std::memory_order_relaxed);
    // One update of the byte count: unsigned arithmetic wraps to the right difference.
    liveBytes.fetch_add(newsize - oldsize, std::memory_order_relaxed);
    return result;
}

MemoryStats GetMemoryStats() {
    return {liveBlocks.load(), liveBytes.load(), memory_detail::threadRequests};
}

void InjectAllocationFault(uint64_t n, bool failAfter) {
    requestsSinceArm = 0;
    faultAfter = failAfter;
    faultAt = n;
    UpdateChecking();
}

void ClearAllocationFault() {
    faultAt = 0;
    faultAfter = false;
    requestsSinceArm = 0;
    UpdateChecking();
}

uint64_t AllocationRequestsSinceArm() {
    return requestsSinceArm.load();
}

void SetMemoryCap(size_t bytes) {
    memoryCap = bytes;
    UpdateChecking();
}

}  // namespace qv

namespace {
// Blocks of AllocMemBlock carry their size in front so that FreeMemBlock can account for
// them; 16 bytes keep the payload 16-byte aligned.
constexpr size_t kBlockHeader = 16;
}  // namespace

void* AllocMemBlock(size_t size, int clear) {
    if (size > SIZE_MAX - kBlockHeader) return nullptr;
    auto* raw = static_cast<unsigned char*>(qv::PlatformRealloc(nullptr, 0, size + kBlockHeader));
    if (raw == nullptr) return nullptr;
    std::memcpy(raw, &size, sizeof size);
    if (clear) std::memset(raw + kBlockHeader, 0, size);
    return raw + kBlockHeader;
}

void FreeMemBlock(void* block) {
    if (block == nullptr) return;
    auto* raw = static_cast<unsigned char*>(block) - kBlockHeader;
    size_t size;
    std::memcpy(&size, raw, sizeof size);
    qv::PlatformRealloc(raw, size + kBlockHeader, 0);
}

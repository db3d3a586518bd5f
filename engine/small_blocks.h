// The engine's cache of small blocks. Strings, tables, closures and hash parts come and go by
// the million in script loops; freed blocks of up to 512 bytes wait in per-size lists (classes
// of 16 bytes) for the next request of their class instead of going back to the system. Every
// request still passes the platform's fault injector, and under AddressSanitizer a waiting
// block is poisoned, so a use after free stays visible.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>

#include "engine/vm.h"
#include "platform/linux/memory.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define QV_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define QV_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define QV_POISON(p, n) ((void)(p), (void)(n))
#define QV_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace qv {

// 512 bytes hold the hash part of eight nodes that a record of four fields grows into.
inline constexpr size_t kSmallBlockMax = 512;
inline constexpr size_t kSmallBlockClass = 16;
// Each class keeps at most 1 MiB of freed blocks (65536 of 16 bytes, 2048 of 512), enough for
// the garbage a collection frees in a script's loop, and at most 32 MiB in all.
inline constexpr size_t kSmallBlockBytesKept = size_t{1} << 20;
static_assert(kSmallBlockMax / kSmallBlockClass ==
              sizeof(qvVmGlobalState::smallBlocks) / sizeof(void*));

// How many freed blocks each class keeps: kSmallBlockBytesKept of them.
inline constexpr auto kSmallBlocksKept = [] {
    std::array<uint32_t, kSmallBlockMax / kSmallBlockClass> kept{};
    for (size_t c = 0; c < kept.size(); ++c)
        kept[c] = static_cast<uint32_t>(kSmallBlockBytesKept / ((c + 1) * kSmallBlockClass));
    return kept;
}();

inline size_t SmallClass(size_t size) {
    return (size - 1) / kSmallBlockClass;
}
inline size_t SmallClassSize(size_t size) {
    return (SmallClass(size) + 1) * kSmallBlockClass;
}

// Both sizes small and of one class: the block already fits.
inline bool SameSmallClass(size_t oldsize, size_t newsize) {
    return oldsize <= kSmallBlockMax && newsize <= kSmallBlockMax &&
           SmallClass(oldsize) == SmallClass(newsize);
}

// A block of at least size bytes (1..512), or nullptr when memory is refused.
inline void* AllocSmallBlock(qvVmGlobalState* g, size_t size) {
    size_t c = SmallClass(size);
    void* block = g->smallBlocks[c];
    if (block == nullptr) return PlatformRealloc(nullptr, 0, SmallClassSize(size));
    if (!CountAllocationRequest(0, size)) return nullptr;
    QV_UNPOISON(block, SmallClassSize(size));
    std::memcpy(&g->smallBlocks[c], block, sizeof(void*));
    --g->smallBlockCounts[c];
    // The next block of the class has most likely left the first-level cache since it was
    // freed; fetching it now keeps that wait off the next allocation's path.
    __builtin_prefetch(g->smallBlocks[c], 1);
    return block;
}

inline void FreeSmallBlock(qvVmGlobalState* g, void* block, size_t size) {
    if (block == nullptr) return;
    size_t c = SmallClass(size);
    // A table, not a quotient: this runs once for every object a collection frees.
    if (g->smallBlockCounts[c] >= kSmallBlocksKept[c]) {
        PlatformRealloc(block, SmallClassSize(size), 0);
        return;
    }
    std::memcpy(block, &g->smallBlocks[c], sizeof(void*));
    g->smallBlocks[c] = block;
    ++g->smallBlockCounts[c];
    QV_POISON(block, SmallClassSize(size));
}

// Any engine block: small ones through the cache.
inline void* AllocBlock(qvVmGlobalState* g, size_t size) {
    return size <= kSmallBlockMax ? AllocSmallBlock(g, size) : PlatformRealloc(nullptr, 0, size);
}

inline void FreeBlock(qvVmGlobalState* g, void* block, size_t size) {
    if (size <= kSmallBlockMax)
        FreeSmallBlock(g, block, size);
    else
        PlatformRealloc(block, size, 0);
}

// Requests from this size on fail with ERR_MEM before they reach the allocator: sizes are
// 32-bit in the records that keep them.
inline constexpr size_t kLargestAllocation = 0xFFFFFFFD;

// VmRealloc's paths for a fresh block and a freed one, in line for the objects scripts make
// by the million. A refused block raises ERR_MEM.
inline void* NewEngineBlock(qvVmState* L, size_t size) {
    if (size >= kLargestAllocation) RaiseError(L, ERR_MEM);
    qvVmGlobalState* g = L->g;
    void* block = AllocBlock(g, size);
    if (block == nullptr) RaiseError(L, ERR_MEM);
    g->nblocks += size;
    return block;
}

inline void FreeEngineBlock(qvVmState* L, void* block, size_t size) {
    FreeBlock(L->g, block, size);
    L->g->nblocks -= size;
}

// Gives every waiting block back to the system (closing the engine).
inline void ReleaseSmallBlocks(qvVmGlobalState* g) {
    for (size_t c = 0; c < kSmallBlockMax / kSmallBlockClass; ++c) {
        size_t size = (c + 1) * kSmallBlockClass;
        while (void* block = g->smallBlocks[c]) {
            QV_UNPOISON(block, size);
            std::memcpy(&g->smallBlocks[c], block, sizeof(void*));
            PlatformRealloc(block, size, 0);
        }
        g->smallBlockCounts[c] = 0;
    }
}

}  // namespace qv

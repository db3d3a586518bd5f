// Records of the platform layer live in blocks of the run-time allocator, so that its fault
// injector reaches every allocation and a failure comes back as none, never an exception.
#pragma once

#include <memory>
#include <new>
#include <utility>

#include "platform/linux/memory.h"

namespace qv {

// Constructs a T in a fresh block; nullptr when memory is short.
template <typename T, typename... Args>
T* NewBlock(Args&&... args) {
    void* block = AllocMemBlock(sizeof(T), 0);
    return block != nullptr ? new (block) T(std::forward<Args>(args)...) : nullptr;
}

template <typename T>
void DeleteBlock(T* record) {
    if (record == nullptr) return;
    record->~T();
    FreeMemBlock(record);
}

struct BlockDeleter {
    template <typename T>
    void operator()(T* record) const {
        DeleteBlock(record);
    }
};
template <typename T>
using BlockPtr = std::unique_ptr<T, BlockDeleter>;

// Runs fn; a standard container that runs out of memory inside it gives fallback instead.
template <typename R, typename F>
R CatchAllocFailure(R fallback, F&& fn) {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return fallback;
    }
}

}  // namespace qv

#include "platform/linux/semaphore.h"

#include <mutex>
#include <new>

#include "platform/linux/memory.h"

struct qvSemaphore {
    std::recursive_mutex mutex;
};

// The block comes from the platform allocator so that a failure is seen (and injected) like
// every other allocation.
qvSemaphore* NewSemaphore() {
    void* block = AllocMemBlock(sizeof(qvSemaphore), 0);
    return block != nullptr ? new (block) qvSemaphore : nullptr;
}

void ObtainSem(qvSemaphore* semaphore) {
    semaphore->mutex.lock();
}

void ReleaseSem(qvSemaphore* semaphore) {
    semaphore->mutex.unlock();
}

void FreeSemaphore(qvSemaphore* semaphore) {
    if (semaphore == nullptr) return;
    semaphore->~qvSemaphore();
    FreeMemBlock(semaphore);
}

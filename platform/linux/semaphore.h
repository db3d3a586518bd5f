// Nestable semaphores: the task that holds one may obtain it again, and must release it as
// often as it obtained it. The event queue is guarded by one; the platform's other threads
// post into it.
#pragma once

struct qvSemaphore;

// A new semaphore, or none when memory is short.
qvSemaphore* NewSemaphore();
void ObtainSem(qvSemaphore* semaphore);
void ReleaseSem(qvSemaphore* semaphore);
// Frees a semaphore that nobody holds; none is allowed.
void FreeSemaphore(qvSemaphore* semaphore);

namespace qv {

// Holds a semaphore for one scope.
class SemaphoreLock {
public:
    explicit SemaphoreLock(qvSemaphore* semaphore) : semaphore_(semaphore) {
        ObtainSem(semaphore_);
    }
    ~SemaphoreLock() { ReleaseSem(semaphore_); }
    SemaphoreLock(const SemaphoreLock&) = delete;
    SemaphoreLock& operator=(const SemaphoreLock&) = delete;

private:
    qvSemaphore* semaphore_;
};

}  // namespace qv

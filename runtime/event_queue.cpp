#include "runtime/event_queue.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/linux/memory.h"
#include "platform/linux/semaphore.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

struct EventQueue {
    qvEvent* entries = nullptr;  // kEventQueueSize of them
    // Entries 0 to count - 1 are queued, in posting order. Stored with release once an entry
    // is complete, so that GetEvent may read below it without the semaphore.
    std::atomic<int32_t> count{0};
    qvSemaphore* semaphore = nullptr;
};

EventQueue queue;

bool IsOpen() {
    return queue.entries != nullptr;
}

// A window-size event is held back while the display suppresses it; no display suppresses
// nothing.
bool Suppressed(const qvDisplay* display, uint32_t type) {
    if (type != QV_EVENT_SIZEWINDOW || display == nullptr) return false;
    const qvDisplayPrefix* prefix = DisplayPrefixOf(display);
    return prefix->eventSuppression[0] != 0 || prefix->eventSuppression[1] != 0;
}

// Age of an entry in milliseconds; 0 for a stamp ahead of now.
int64_t AgeInMilliseconds(const qvTimeVal& now, const qvTimeVal& stamp) {
    int64_t micros = (int64_t{now.seconds} - stamp.seconds) * 1000000 +
                     (int64_t{now.microseconds} - stamp.microseconds);
    return std::max<int64_t>(micros, 0) / 1000;
}

void FreeExtra(qvEvent* entry) {
    FreeMemBlock(entry->extra);
    entry->extra = nullptr;
}

// Copies the data words that events of the entry's type carry.
void CopyEventData(const qvEvent& e, qvInputEvent* out) {
    switch (e.type) {
        case QV_EVENT_LEFTMOUSE:
        case QV_EVENT_RIGHTMOUSE:
        case QV_EVENT_MIDMOUSE:
            out->down = e.data[2];
            [[fallthrough]];
        case QV_EVENT_DROPFILES:
            out->x = e.data[0];
            out->y = e.data[1];
            break;
        case QV_EVENT_KEY:
            out->keyDown = e.data[0];
            out->keyQualifiers = e.data[1];
            out->keyCode = e.data[2];
            break;
        default:
            break;
    }
}

// Copies entry e into *out; with clearExtra the entry's extra block moves to *out.
void CopyEntry(qvEvent& e, qvInputEvent* out, int clearExtra) {
    out->display = e.display;
    out->type = e.type;
    out->extra = e.extra;
    if (clearExtra != 0) e.extra = nullptr;
    CopyEventData(e, out);
}

// Removes the first removed entries, freeing their extra blocks and moving the rest to the
// front. The caller holds the semaphore.
void RemoveFirst(int32_t removed) {
    qvEvent* entries = queue.entries;
    const int32_t count = queue.count.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < removed; ++i) FreeExtra(&entries[i]);
    const int32_t kept = count - removed;
    std::memmove(entries, entries + removed, sizeof(qvEvent) * kept);
    // The vacated entries must not keep pointers to blocks that moved down.
    for (int32_t i = kept; i < count; ++i) entries[i].extra = nullptr;
    queue.count.store(kept, std::memory_order_release);
}

// Removes the newest entry older than the event time-out with every entry before it. The
// caller holds the semaphore.
void ExpireHeld() {
    const auto timeout = static_cast<uint32_t>(Runtime().eventTimeout);
    qvTimeVal now;
    MonotonicTime(&now);
    int32_t expired = 0;
    const int32_t count = queue.count.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < count; ++i) {
        if (AgeInMilliseconds(now, queue.entries[i].stamp) > timeout) expired = i + 1;
    }
    if (expired > 0) RemoveFirst(expired);
}

// Whether nothing is queued; only the main task removes, so an empty queue stays empty for
// it without the semaphore.
bool Empty() {
    return queue.count.load(std::memory_order_acquire) == 0;
}

}  // namespace

EventQueueLock::EventQueueLock() {
    if (queue.semaphore != nullptr) ObtainSem(queue.semaphore);
}

EventQueueLock::~EventQueueLock() {
    if (queue.semaphore != nullptr) ReleaseSem(queue.semaphore);
}

int OpenEventQueue() {
    if (IsOpen()) return 0;
    qvSemaphore* semaphore = NewSemaphore();
    if (semaphore == nullptr) return ERR_SEMAPHORE;
    auto* entries = static_cast<qvEvent*>(AllocMemBlock(sizeof(qvEvent) * kEventQueueSize, 1));
    if (entries == nullptr) {
        FreeSemaphore(semaphore);
        return ERR_MEM;
    }
    queue.semaphore = semaphore;
    queue.count.store(0);
    queue.entries = entries;
    return 0;
}

void CloseEventQueue() {
    if (!IsOpen()) return;
    for (int i = 0; i < kEventQueueSize; ++i) FreeExtra(&queue.entries[i]);
    FreeMemBlock(queue.entries);
    FreeSemaphore(queue.semaphore);
    queue.entries = nullptr;
    queue.semaphore = nullptr;
    queue.count.store(0);
}

}  // namespace qv

int PostEvent(qvDisplay* display, uint32_t type, uint32_t data1, uint32_t data2, uint32_t data3,
              void* extra) {
    if (!qv::IsOpen() || qv::Suppressed(display, type)) return 0;
    qv::EventQueueLock lock;
    int32_t count = qv::queue.count.load(std::memory_order_relaxed);
    if (count >= kEventQueueSize) return 0;
    qvEvent& e = qv::queue.entries[count];
    e.type = type;
    e.data[0] = data1;
    e.data[1] = data2;
    e.data[2] = data3;
    qv::MonotonicTime(&e.stamp);
    e.display = display;
    e.extra = extra;
    qv::queue.count.store(count + 1, std::memory_order_release);
    return 1;
}

int GetEvent(qvVmState* /*L*/, int index, qvInputEvent* out, int clearExtra) {
    if (!qv::IsOpen() || index < 0 || index >= qv::queue.count.load(std::memory_order_acquire)) {
        return 0;
    }
    qv::CopyEntry(qv::queue.entries[index], out, clearExtra);
    return index + 1;
}

void RemoveEvents(qvVmState* /*L*/, int last, int /*lock*/) {
    // Any other negative index reads as a large unsigned one.
    if (!qv::IsOpen() || (last != -1 && (last < 0 || last >= kEventQueueSize))) return;
    qv::EventQueueLock lock;
    const int32_t count = qv::queue.count.load(std::memory_order_relaxed);
    qv::RemoveFirst(last == -1 ? count : std::min(last + 1, count));
}

void DropDisplayEvents(qvDisplay* display) {
    if (!qv::IsOpen() || qv::Empty()) return;
    qv::EventQueueLock lock;
    for (int i = 0; i < kEventQueueSize; ++i) {
        qvEvent& e = qv::queue.entries[i];
        if (e.display == display) e.display = nullptr;
    }
}

void ExpireEvents(qvVmState* /*L*/) {
    // The dispatcher expires at every look at the queue; an empty one needs no lock.
    if (!qv::IsOpen() || qv::Empty()) return;
    qv::EventQueueLock lock;
    qv::ExpireHeld();
}

namespace qv {

bool TakeFirstEvent(qvInputEvent* out) {
    if (!IsOpen() || Empty()) return false;
    EventQueueLock lock;
    ExpireHeld();
    if (Empty()) return false;
    CopyEntry(queue.entries[0], out, 1);
    RemoveFirst(1);
    return true;
}

}  // namespace qv

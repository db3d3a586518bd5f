#include "runtime/event_queue.h"

#include <algorithm>
#include <atomic>

#include "platform/linux/memory.h"
#include "platform/linux/semaphore.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

// A ring of kEventQueueSize entries: queued entry i, in posting order, is the slot of
// counter head + i, and the tail's slot is the next to fill. Only posters move the tail (under
// the semaphore) and only the main task moves the head; each stores its counter with release
// once the slots it hands over are complete, so the other side reads them without the lock.
struct EventQueue {
    qvEvent* entries = nullptr;
    std::atomic<uint32_t> head{0};
    std::atomic<uint32_t> tail{0};
    qvSemaphore* semaphore = nullptr;
};

EventQueue queue;

qvEvent& Slot(uint32_t counter) {
    return queue.entries[counter % kEventQueueSize];
}

// Queued entry index, for the main task.
qvEvent& Entry(uint32_t index) {
    return Slot(queue.head.load(std::memory_order_relaxed) + index);
}

// How many entries are queued, for the main task.
uint32_t Count() {
    return queue.tail.load(std::memory_order_acquire) - queue.head.load(std::memory_order_relaxed);
}

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

// Removes the first n entries, freeing their extra blocks; their slots keep no pointer to a
// freed block. On the main task.
void RemoveFirst(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) FreeExtra(&Entry(i));
    queue.head.store(queue.head.load(std::memory_order_relaxed) + n, std::memory_order_release);
}

// Removes the newest entry older than the event time-out with every entry before it. On the
// main task.
void Expire() {
    const auto timeout = static_cast<uint32_t>(Runtime().eventTimeout);
    qvTimeVal now;
    MonotonicTime(&now);
    uint32_t expired = 0;
    const uint32_t count = Count();
    for (uint32_t i = 0; i < count; ++i) {
        if (AgeInMilliseconds(now, Entry(i).stamp) > timeout) expired = i + 1;
    }
    if (expired > 0) RemoveFirst(expired);
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
    queue.head.store(0);
    queue.tail.store(0);
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
    queue.head.store(0);
    queue.tail.store(0);
}

}  // namespace qv

int PostEvent(qvDisplay* display, uint32_t type, uint32_t data1, uint32_t data2, uint32_t data3,
              void* extra) {
    if (!qv::IsOpen() || qv::Suppressed(display, type)) return 0;
    qv::EventQueueLock lock;
    const uint32_t tail = qv::queue.tail.load(std::memory_order_relaxed);
    if (tail - qv::queue.head.load(std::memory_order_acquire) >= kEventQueueSize) return 0;
    qvEvent& e = qv::Slot(tail);
    e.type = type;
    e.data[0] = data1;
    e.data[1] = data2;
    e.data[2] = data3;
    qv::MonotonicTime(&e.stamp);
    e.display = display;
    e.extra = extra;
    qv::queue.tail.store(tail + 1, std::memory_order_release);
    return 1;
}

int GetEvent(qvVmState* /*L*/, int index, qvInputEvent* out, int clearExtra) {
    if (!qv::IsOpen() || index < 0 || static_cast<uint32_t>(index) >= qv::Count()) return 0;
    qv::CopyEntry(qv::Entry(index), out, clearExtra);
    return index + 1;
}

void RemoveEvents(qvVmState* /*L*/, int last, int /*lock*/) {
    // Any other negative index reads as a large unsigned one.
    if (!qv::IsOpen() || (last != -1 && (last < 0 || last >= kEventQueueSize))) return;
    qv::EventQueueLock lock;
    const uint32_t count = qv::Count();
    qv::RemoveFirst(last == -1 ? count : std::min(static_cast<uint32_t>(last) + 1, count));
}

void DropDisplayEvents(qvDisplay* display) {
    if (!qv::IsOpen() || qv::Count() == 0) return;
    qv::EventQueueLock lock;
    for (int i = 0; i < kEventQueueSize; ++i) {
        qvEvent& e = qv::queue.entries[i];
        if (e.display == display) e.display = nullptr;
    }
}

void ExpireEvents(qvVmState* /*L*/) {
    // The dispatcher expires at every look at the queue; an empty one needs no lock.
    if (!qv::IsOpen() || qv::Count() == 0) return;
    qv::EventQueueLock lock;
    qv::Expire();
}

namespace qv {

bool TakeFirstEvent(qvInputEvent* out) {
    if (!IsOpen() || Count() == 0) return false;
    Expire();
    if (Count() == 0) return false;
    CopyEntry(Entry(0), out, 1);
    RemoveFirst(1);
    return true;
}

}  // namespace qv

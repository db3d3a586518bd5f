#include "platform/linux/timers.h"

#include <algorithm>
#include <limits>

#include "engine/error_codes.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/time.h"

namespace qv {
namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr int64_t kFireTickMicros = 20000;

struct Timers {
    qvTimerEntry* head = nullptr;
    // No entry is due before this; lowered by every new entry, raised to walkEarliest when a
    // walk reaches the end of the list.
    int64_t earliest = kNever;
    int64_t walkEarliest = kNever;
    int fireUsers = 0;
    int64_t fireOrigin = 0;
};

Timers timers;

bool Matches(const qvTimerEntry* entry, uint32_t kind, qvObjectId id) {
    return entry->kind == kind && entry->id.number == id.number && entry->id.handle == id.handle;
}

int AddEntry(uint32_t kind, qvObjectId id, int32_t milliseconds, void* owner) {
    auto* entry = static_cast<qvTimerEntry*>(AllocMemBlock(sizeof(qvTimerEntry), 1));
    if (entry == nullptr) return ERR_MEM;
    entry->kind = kind;
    entry->id = id;
    entry->owner = owner;
    entry->period = int64_t{milliseconds} * 1000;
    entry->due = MonotonicMicros() + entry->period;
    *ListEnd(&timers.head) = entry;
    timers.earliest = std::min(timers.earliest, entry->due);
    timers.walkEarliest = std::min(timers.walkEarliest, entry->due);
    return 0;
}

void RemoveEntry(uint32_t kind, qvObjectId id) {
    FreeMemBlock(TakeFromList(&timers.head, [&](qvTimerEntry* e) { return Matches(e, kind, id); }));
}

// A period after the last due time, or after now when the program fell behind.
void Rearm(qvTimerEntry* entry, int64_t now) {
    entry->due += entry->period;
    if (entry->due < now) entry->due = now + entry->period;
    entry->signalled = false;
}

}  // namespace

qvTimerEntry* BeginTimerWalk(int64_t now) {
    if (now < timers.earliest) return nullptr;
    timers.walkEarliest = kNever;
    return timers.head;
}

bool TakeDueTimerSignal(int64_t now) {
    bool taken = false;
    for (qvTimerEntry* e = timers.head; e != nullptr; e = e->next) {
        if (!e->signalled && e->due <= now) e->signalled = taken = true;
    }
    return taken;
}

int64_t NextTimerSignal() {
    int64_t next = kNever;
    for (const qvTimerEntry* e = timers.head; e != nullptr; e = e->next) {
        if (!e->signalled) next = std::min(next, e->due);
    }
    return next;
}

int FireTaskUsers() {
    return timers.fireUsers;
}

int64_t NextFireTick(int64_t now) {
    if (timers.fireUsers <= 0) return kNever;
    const int64_t elapsed = std::max<int64_t>(now - timers.fireOrigin, 0);
    return timers.fireOrigin + (elapsed / kFireTickMicros + 1) * kFireTickMicros;
}

void FreeTimerEntries() {
    DrainList(&timers.head, [](qvTimerEntry* e) { FreeMemBlock(e); });
    timers = {};
}

}  // namespace qv

int StartTimerRequest(int operation, qvObjectId id, int32_t milliseconds, void* owner) {
    switch (operation) {
        case QV_TIMEROP_INTERVAL:
            return qv::AddEntry(QV_TIMER_INTERVAL, id, milliseconds, owner);
        case QV_TIMEROP_TIMEOUT:
            return qv::AddEntry(QV_TIMER_TIMEOUT, id, milliseconds, owner);
        case QV_TIMEROP_CLEARINTERVAL:
            qv::RemoveEntry(QV_TIMER_INTERVAL, id);
            return 0;
        case QV_TIMEROP_CLEARTIMEOUT:
            qv::RemoveEntry(QV_TIMER_TIMEOUT, id);
            return 0;
        case QV_TIMEROP_SETPERIOD:
            if (qvTimerEntry* e = FindTimerEntry(QV_TIMER_INTERVAL, id, nullptr)) {
                e->period = int64_t{milliseconds} * 1000;
            }
            return 0;
        default:
            return 0;
    }
}

qvTimerEntry* ServiceTimerEntry(qvTimerEntry* entry, uint32_t* kind, qvObjectId* id, void** owner) {
    *kind = QV_TIMER_NONE;
    if (entry == nullptr) entry = qv::timers.head;
    if (entry == nullptr) return nullptr;
    qvTimerEntry* next = entry->next;
    const int64_t now = qv::MonotonicMicros();
    if (entry->due <= now) {
        *kind = entry->kind;
        *id = entry->id;
        if (owner != nullptr) *owner = entry->owner;
        if (entry->kind == QV_TIMER_TIMEOUT) {
            qv::RemoveEntry(entry->kind, entry->id);
            entry = nullptr;
        } else {
            qv::Rearm(entry, now);
        }
    }
    if (entry != nullptr) qv::timers.walkEarliest = std::min(qv::timers.walkEarliest, entry->due);
    if (next == nullptr) qv::timers.earliest = qv::timers.walkEarliest;
    return next;
}

qvTimerEntry* FindTimerEntry(uint32_t kind, qvObjectId id, qvTimerEntry** next) {
    for (qvTimerEntry* e = qv::timers.head; e != nullptr; e = e->next) {
        if (!qv::Matches(e, kind, id)) continue;
        if (next != nullptr) *next = e->next;
        return e;
    }
    if (next != nullptr) *next = nullptr;
    return nullptr;
}

int StartFireTask(qvVmState*, int users) {
    if (qv::timers.fireUsers <= 0) qv::timers.fireOrigin = qv::MonotonicMicros();
    qv::timers.fireUsers += users;
    return 0;
}

void StopFireTaskUser(qvVmState*, int users) {
    qv::timers.fireUsers = std::max(qv::timers.fireUsers - users, 0);
}

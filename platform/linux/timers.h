// The platform's timer list and the fire task.
//
// Every interval and timeout of the event library has one entry here: its kind, the record's
// id pair, its period and its next due time on the monotonic clock of the SystemClock seam.
// An entry's request has completed once its due time is not after now; nothing runs in the
// background. The wait (platform/linux/wait.h) wakes at the earliest due time that it has not
// woken for yet, so that a due entry ends one wait, not every wait until it is serviced.
//
// The fire task is a count of users and a tick every 20 ms from its start: while it has users
// the tick ends waits, so that sockets are polled although no other event arrives.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

enum : uint32_t {
    QV_TIMER_INTERVAL = 0,
    QV_TIMER_TIMEOUT = 1,
    QV_TIMER_NONE = 9,  // ServiceTimerEntry reported nothing
};

// Operations of StartTimerRequest.
enum : int {
    QV_TIMEROP_INTERVAL = 0,       // a new interval entry
    QV_TIMEROP_TIMEOUT = 1,        // a new timeout entry
    QV_TIMEROP_CLEARINTERVAL = 2,  // cancel and free the interval entry
    QV_TIMEROP_CLEARTIMEOUT = 3,   // cancel and free the timeout entry
    QV_TIMEROP_SETPERIOD = 4,      // the interval's period from its next re-arm on
};

struct qvTimerEntry {
    qvTimerEntry* next;
    uint32_t kind;   // QV_TIMER_INTERVAL or QV_TIMER_TIMEOUT
    qvObjectId id;   // of the record that the entry serves
    void* owner;     // that record, which removes the entry before it goes
    int64_t period;  // microseconds
    int64_t due;     // monotonic microseconds
    bool signalled;  // a wait has woken for this due time
};

// Operations 0 and 1 append a new entry for owner due now plus the period; 2 and 3 unlink and
// free the entry of that kind and id pair (none is no error); 4 sets the interval entry's
// period, its pending due time kept. Returns 0, or ERR_MEM when a new entry cannot be
// allocated.
int StartTimerRequest(int operation, qvObjectId id, int32_t milliseconds, void* owner = nullptr);
// Services entry (none: the first) and returns the entry after it (none at the end). Sets
// *kind to QV_TIMER_NONE, or, for an entry whose due time has come, to its kind with its id
// pair and (when asked) its owner: a timeout entry is unlinked and freed; an interval entry is
// re-armed a period later, or a period from now when that time has passed already, so that
// missed periods are dropped.
qvTimerEntry* ServiceTimerEntry(qvTimerEntry* entry, uint32_t* kind, qvObjectId* id,
                                void** owner = nullptr);
// The entry of that kind and id pair with the entry after it in *next; none when absent.
qvTimerEntry* FindTimerEntry(uint32_t kind, qvObjectId id, qvTimerEntry** next);

// Adds users of the fire task; its tick starts with the first. 0.
int StartFireTask(qvVmState* L, int users);
// Removes users; the tick stops with the last.
void StopFireTaskUser(qvVmState* L, int users);

namespace qv {

// The first entry when one may be due at now, else none: a walk of the list is skipped while
// every due time lies ahead (the walk that ServiceTimerEntry finishes learns the earliest).
qvTimerEntry* BeginTimerWalk(int64_t now);

// For the wait: marks every entry due by now that no wait has woken for and tells whether
// there was one; the earliest due time no wait has woken for (INT64_MAX: none).
bool TakeDueTimerSignal(int64_t now);
int64_t NextTimerSignal();

int FireTaskUsers();
// The first tick after now; INT64_MAX without users.
int64_t NextFireTick(int64_t now);

// Frees every entry and forgets the fire task's users: the end of a run.
void FreeTimerEntries();

}  // namespace qv

// Stopwatch timers and the plain delay. Times are signed 64-bit microseconds of the
// monotonic clock, so that a negative start counts up through 0.
#include <cstdint>

#include "engine/convert.h"
#include "libs/system/commands.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/time.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/objects.h"
#include "runtime/timed_wait.h"

namespace qv {
namespace {

struct qvTimer {
    qvObjectHeader header;  // first, so that the object registry can walk the list
    int64_t start;          // when the current running stretch began; 0 while paused
    int64_t base;           // time counted before it
    uint32_t paused;
};

qvObjectHeader* timers = nullptr;

enum : int32_t { kUnitSeconds = 0, kUnitTicks = 2 };

int64_t Now() {
    return MonotonicMicros();
}

qvTimer* FindTimer(qvObjectId id) {
    return reinterpret_cast<qvTimer*>(FindObjectInList(timers, id));
}

// The timer named by argument idx in *t: 0, or the lookup error, which commands return.
int TimerArg(qvVmState* L, int idx, qvTimer** t) {
    return FindObjectArg(L, idx, timers, ERR_FINDTIMER, t);
}

int64_t ElapsedMicros(const qvTimer* t) {
    return t->paused ? t->base : t->base + Now() - t->start;
}

int32_t ElapsedMillis(const qvTimer* t) {
    return static_cast<int32_t>(ElapsedMicros(t) / 1000);
}

// Elapsed 0 and running; only the identity and the list link survive.
void Restart(qvVmState* L, qvTimer* t) {
    FreeRefList(L, t->header.data);
    t->header.data = nullptr;
    t->base = 0;
    t->paused = 0;
    t->start = Now();
}

void Unlink(qvTimer* t) {
    UnlinkObject(&timers, &t->header);
}

void FreeTimer(qvVmState* L, qvTimer* t) {
    FreeRefList(L, t->header.data);
    FreeMemBlock(t);
}

int NewTimer(qvVmState* L, uint32_t number, bool automatic) {
    auto* t = static_cast<qvTimer*>(AllocMemBlock(sizeof(qvTimer), 1));
    if (t == nullptr) return ERR_MEM;
    t->header = NewObjectHeader(kTimerType, number, automatic, t);
    t->start = Now();
    AppendObject(&timers, &t->header);
    return PushNewObjectHandle(L, t->header);
}

}  // namespace

int RegisterTimerList() {
    return RegisterObjectList(&timers);
}

void FreeAllTimers(qvVmState* L) {
    DrainList(&timers, [L](qvObjectHeader* h) { FreeTimer(L, reinterpret_cast<qvTimer*>(h)); });
}

int StartTimer(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    if (VmType(L, 1) == VM_TNIL) return NewTimer(L, 0, true);
    qvObjectId id = GetObjectIdArg(L, 1);
    if (qvTimer* t = FindTimer(id)) {
        Restart(L, t);
        return 0;
    }
    if (id.handle != nullptr) return ERR_FINDARRAY;
    return NewTimer(L, id.number, false);
}

int StopTimer(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvTimer* t;
    if (int code = TimerArg(L, 1, &t)) return code;
    Unlink(t);
    FreeTimer(L, t);
    return 0;
}

int PauseTimer(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvTimer* t;
    if (int code = TimerArg(L, 1, &t)) return code;
    if (t->paused) return 0;
    t->base += Now() - t->start;
    t->start = 0;
    t->paused = 1;
    return 0;
}

int ResumeTimer(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvTimer* t;
    if (int code = TimerArg(L, 1, &t)) return code;
    if (!t->paused) return 0;
    t->paused = 0;
    t->start = Now();
    return 0;
}

int ResetTimer(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    qvTimer* t;
    if (int code = TimerArg(L, 1, &t)) return code;
    int32_t start = VmGetTop(L) >= 2 ? Trunc32(GetArgNumber(L, 2)) : 0;
    t->paused = 0;
    t->base = int64_t{start} * 1000;
    t->start = Now();
    return 0;
}

int GetTimer(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    qvTimer* t;
    if (int code = TimerArg(L, 1, &t)) return code;
    VmPushNumber(L, ElapsedMillis(t));
    return 1;
}

// A handler may stop the timer during the wait, so the reset finds it again by its id.
int WaitTimer(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    qvTimer* t;
    if (int code = TimerArg(L, 1, &t)) return code;
    qvObjectId id{t->header.id, t->header.handle};
    int32_t time = Trunc32(GetArgNumber(L, 2));
    bool reset = VmGetTop(L) < 3 || Trunc32(GetArgNumber(L, 3)) != 0;
    if (t->paused) return ERR_WRONGUSAGE;
    int64_t remaining = int64_t{time} - ElapsedMillis(t);
    if (remaining > 0) {
        if (int code = TimedWaitWithEvents(L, remaining)) return code;
    }
    if (reset) {
        if (qvTimer* again = FindTimer(id)) Restart(L, again);
    }
    return 0;
}

int Wait(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    int64_t n = Trunc32(GetArgNumber(L, 1));
    int32_t unit = VmGetTop(L) >= 2 ? Trunc32(GetArgNumber(L, 2)) : kUnitTicks;
    if (n <= 0) return 0;
    int64_t ms = unit == kUnitTicks ? n * 20 : unit == kUnitSeconds ? n * 1000 : n;
    return TimedWaitWithEvents(L, ms);
}

}  // namespace qv

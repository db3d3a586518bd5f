#include "scene/events/intervals.h"

#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/timers.h"
#include "runtime/arguments.h"
#include "scene/events/dispatcher.h"
#include "scene/events/owned_ref.h"

namespace qv::events {
namespace {

qvObjectHeader* intervals = nullptr;
qvObjectHeader* timeouts = nullptr;

// What differs between the two kinds of record.
struct Kind {
    uint32_t type;
    qvObjectHeader** list;
    int notFound;
    int startOperation;
    int clearOperation;
    uint32_t timerKind;
};
constexpr Kind kInterval{gfx::kTypeInterval,       &intervals,
                         ERR_FINDINTERVAL,         QV_TIMEROP_INTERVAL,
                         QV_TIMEROP_CLEARINTERVAL, QV_TIMER_INTERVAL};
constexpr Kind kTimeout{gfx::kTypeTimeout,       &timeouts,
                        ERR_FINDTIMEOUT,         QV_TIMEROP_TIMEOUT,
                        QV_TIMEROP_CLEARTIMEOUT, QV_TIMER_TIMEOUT};

qvObjectId IdOf(const qvTimedCall* record) {
    return {record->header.id, record->header.handle};
}

qvTimedCall* Find(const Kind& kind, qvObjectId id) {
    return reinterpret_cast<qvTimedCall*>(FindObjectInList(*kind.list, id));
}

int FindOrFail(const Kind& kind, qvObjectId id, qvTimedCall** out) {
    *out = Find(kind, id);
    return *out != nullptr ? 0 : ObjectNotFound(id, kind.notFound);
}

// Releases the record's references (L none: they belong to an engine that is gone) and frees
// it.
void Release(qvVmState* L, qvTimedCall* record) {
    if (L != nullptr) {
        FreeRef(L, VM_REGISTRYINDEX, record->function);
        FreeRef(L, VM_REGISTRYINDEX, record->userData);
        FreeRefList(L, record->header.data);
    } else {
        DrainList(&record->header.data, [](qvObjectDataEntry* e) { FreeMemBlock(e); });
    }
    FreeMemBlock(record);
}

// Takes the record off its list and its entry off the timer list; a dispatcher walking the
// timer list moves past the entry first.
void Clear(qvVmState* L, const Kind& kind, qvTimedCall* record) {
    const qvObjectId id = IdOf(record);
    UnlinkObject(kind.list, &record->header);
    Release(L, record);
    qvTimerEntry* next = nullptr;
    qvTimerEntry* entry = FindTimerEntry(kind.timerKind, id, &next);
    qvEventState* state = EventState();
    if (state != nullptr && entry != nullptr && state->timerCursor == entry) {
        state->timerCursor = next;
    }
    StartTimerRequest(kind.clearOperation, id, 0);
}

int Set(qvVmState* L, const Kind& kind) {
    CheckArgCount(L, 3, 4);
    const bool hasUserData = VmGetTop(L) == 4;
    int automatic = 0;
    const auto number = static_cast<uint32_t>(GetOptIntArg(L, 1, &automatic));
    const int32_t period = GetOptIntArg(L, 3, nullptr);
    if (period < 1) return ERR_WRONGUSAGE;
    CheckArgFunction(L, 2);
    if (automatic == 0) {
        if (qvTimedCall* old = Find(kind, {number, nullptr})) Clear(L, kind, old);
    }
    OwnedRef function(L, MakeRefTo(L, 2));
    OwnedRef userData(L, hasUserData ? MakeRefTo(L, 4) : -1);
    auto* record = static_cast<qvTimedCall*>(AllocMemBlock(sizeof(qvTimedCall), 1));
    if (record == nullptr) return ERR_MEM;
    record->header = NewObjectHeader(kind.type, number, automatic != 0, record);
    record->function = function.release();
    record->period = period;
    record->userData = userData.release();
    AppendObject(kind.list, &record->header);
    if (StartTimerRequest(kind.startOperation, IdOf(record), period, record) != 0) {
        // A record without a timer would never fire and keep its references.
        UnlinkObject(kind.list, &record->header);
        Release(L, record);
        return ERR_MEM;
    }
    return PushNewObjectHandle(L, record->header);
}

int ClearCommand(qvVmState* L, const Kind& kind) {
    CheckArgCount(L, 1, 1);
    qvTimedCall* record = nullptr;
    if (const int code = FindObjectArg(L, 1, *kind.list, kind.notFound, &record)) return code;
    Clear(L, kind, record);
    return 0;
}

int PushRef(qvVmState* L, int32_t ref) {
    if (ref < 0) {
        VmPushNumber(L, 0);
    } else {
        VmRawGetI(L, VM_REGISTRYINDEX, ref);
    }
    return 1;
}

template <const Kind& kKind>
int Provider(const gfx::AttributeRequest& request) {
    qvTimedCall* record = nullptr;
    if (const int code = FindOrFail(kKind, request.id, &record)) return code;
    switch (request.attribute) {
        case gfx::ATTRFUNCTION:
            return PushRef(request.L, record->function);
        case gfx::ATTRUSERDATA:
            return PushRef(request.L, record->userData);
        default:  // ATTRDURATION
            VmPushNumber(request.L, record->period);
            return 1;
    }
}

}  // namespace

int RegisterTimedCallLists() {
    if (const int code = RegisterObjectList(&intervals)) return code;
    if (const int code = RegisterObjectList(&timeouts)) return code;
    gfx::RegisterAttributeProvider(gfx::kTypeInterval, Provider<kInterval>);
    gfx::RegisterAttributeProvider(gfx::kTypeTimeout, Provider<kTimeout>);
    return 0;
}

void FreeTimedCalls(qvVmState* L) {
    for (qvObjectHeader** list : {&intervals, &timeouts}) {
        DrainList(list, [L](qvObjectHeader* h) { Release(L, reinterpret_cast<qvTimedCall*>(h)); });
    }
}

bool TakeTimeout(qvVmState* L, qvObjectId id, int32_t* function, int32_t* userData) {
    qvTimedCall* record = Find(kTimeout, id);
    if (record == nullptr) return false;
    UnlinkObject(&timeouts, &record->header);
    *function = record->function;
    *userData = record->userData;
    record->function = record->userData = -1;
    Release(L, record);
    return true;
}

}  // namespace qv::events

int FindInterval(qvObjectId id, qvInterval** out) {
    return qv::events::FindOrFail(qv::events::kInterval, id, out);
}

int FindTimeout(qvObjectId id, qvTimeout** out) {
    return qv::events::FindOrFail(qv::events::kTimeout, id, out);
}

int SetInterval(qvVmState* L) {
    return qv::events::Set(L, qv::events::kInterval);
}

int SetTimeout(qvVmState* L) {
    return qv::events::Set(L, qv::events::kTimeout);
}

int ClearInterval(qvVmState* L) {
    return qv::events::ClearCommand(L, qv::events::kInterval);
}

int ClearTimeout(qvVmState* L) {
    return qv::events::ClearCommand(L, qv::events::kTimeout);
}

int ChangeInterval(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvInterval* record = nullptr;
    if (const int code =
            qv::FindObjectArg(L, 1, qv::events::intervals, ERR_FINDINTERVAL, &record)) {
        return code;
    }
    const int32_t period = GetOptIntArg(L, 2, nullptr);
    if (period < 1) return ERR_WRONGUSAGE;
    return StartTimerRequest(QV_TIMEROP_SETPERIOD, qv::events::IdOf(record), period);
}

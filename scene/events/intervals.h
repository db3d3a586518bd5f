// Intervals and timeouts: records of the event library (gfx::kTypeInterval and kTypeTimeout,
// 41 and 42) in two lists, each backed by one entry of the platform's timer list
// (platform/linux/timers.h) whose owner is the record: clearing or replacing a record removes
// its entry first, so an entry never outlives its record. The dispatcher notices completed
// entries and calls the handlers, one per call; an interval keeps its rhythm and drops the
// periods it missed, a timeout fires once and is gone.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

// qvInterval and qvTimeout share one layout. The header's data list holds the extra registry
// references that the record owns.
struct qvTimedCall {
    qvObjectHeader header;
    int32_t function;  // the handler's registry reference
    int32_t period;    // milliseconds as created (ChangeInterval leaves it)
    int32_t userData;  // -1: none
};
using qvInterval = qvTimedCall;
using qvTimeout = qvTimedCall;

// 0 and the record in *out, or the lookup error (ERR_FINDINTERVAL / ERR_FINDTIMEOUT with the
// number, ERR_FINDARRAY for a handle) with *out none.
int FindInterval(qvObjectId id, qvInterval** out);
int FindTimeout(qvObjectId id, qvTimeout** out);

int SetInterval(qvVmState* L);
int SetTimeout(qvVmState* L);
int ClearInterval(qvVmState* L);
int ClearTimeout(qvVmState* L);
int ChangeInterval(qvVmState* L);

namespace qv::events {

// Registers both lists with the object registry and the attribute providers of both types.
int RegisterTimedCallLists();
// Frees every record with its references (L none: forgets the references, which belong to an
// engine that is gone); their timer entries go with the platform's.
void FreeTimedCalls(qvVmState* L);
// A fired timeout: takes its record off the list and frees it with its reference list, handing
// the handler's and the user data's references to the caller, which releases them after the
// call (the record is no longer found meanwhile). False when no record has the id pair.
bool TakeTimeout(qvVmState* L, qvObjectId id, int32_t* function, int32_t* userData);

}  // namespace qv::events

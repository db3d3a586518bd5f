// The wait for the program's signals: until the earliest of a timer entry's due time, the fire
// task's next tick, host input from the video back end, a readable descriptor (the ports and
// whatever the caller adds) or the abort flag (Ctrl-C, End, a close request).
//
// On the system's clock one wait is one slice of at most 20 ms, so that the abort flag is seen
// at once and the caller's input pump runs; it sleeps inside the slice. Under a test's clock
// (qv::SetSystemClock) it never sleeps: it moves the clock to the earliest thing that can end it,
// and a wait that nothing can end sets the abort flag and returns at once, reported to the test
// seam below as a wait that would block forever.
#pragma once

#include <cstdint>
#include <span>

#include "platform/linux/abort_flag.h"

// What ended a wait.
enum : uint32_t {
    QV_WAIT_TIMER = 1u << 0,       // a timer entry came due
    QV_WAIT_TICK = 1u << 1,        // the fire task ticked
    QV_WAIT_INPUT = 1u << 2,       // host input is pending (the input-due word is set)
    QV_WAIT_DESCRIPTOR = 1u << 3,  // a descriptor became readable
    QV_WAIT_BREAK = 1u << 4,       // the abort flag is set
};

// Waits as described above for descriptors (readable, closed or failed) and the abort flag, and
// until the monotonic time until at the latest; returns the QV_WAIT_ bits of what ended it (0:
// the slice or the time ended).
uint32_t BuildWaitMask(std::span<const int> descriptors, qv::AbortFlag* abortFlag,
                       int64_t until = INT64_MAX);

namespace qv {

// The idle wait of the network engines: until fd is ready for events (poll's POLLIN, POLLOUT)
// or timeoutMs have passed, a peer being given that real time. The monotonic clock of the
// SystemClock seam then moves by the time waited, so that time-outs measured on a test's clock
// expire as on the system's, and the wait presents (scheduled input comes with its refresh);
// under a test's clock it ends at the next scheduled input at the latest. Returns poll's ready
// events, 0 when the time passed, or -1 with errno set.
int WaitOnDescriptor(int fd, short events, int timeoutMs);

}  // namespace qv

namespace qv::platform::testing {

// The test's view of waits under its clock: the time at which it releases its next scripted
// input (INT64_MAX: none), and a report of each wait that nothing could have ended.
struct VirtualWaitHooks {
    int64_t (*nextScriptedInput)();
    void (*blockedForever)();
};
// nullptr removes them.
void SetVirtualWaitHooks(const VirtualWaitHooks* hooks);

}  // namespace qv::platform::testing

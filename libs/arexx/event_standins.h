// What the ARexx library needs of the event subsystem, until that subsystem exists: the
// global "onarexx" handler slot, the delivery of waiting commands to it (CallOnARexx), and the
// wait for the program's signals (WaitSignals). The event library takes these over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/vm.h"

// One handler slot: registry references of the function and of the user data (-1: none).
struct qvEventHandler {
    int32_t function = -1;
    int32_t userData = -1;
};

namespace qv {

// The global "onarexx" slot; tests set it directly.
qvEventHandler& OnARexxSlot();

// An ARexx command text as the handler's message table holds it.
struct RexxCommandText {
    std::string command;
    std::string args;  // the arguments, separated by NULs, without their quotes
    std::string rawArgs;
    int argc = 0;
};
RexxCommandText SplitRexxCommand(std::string_view text);

}  // namespace qv

// Takes every message waiting at the program's port. With deliver set and a handler in the
// slot, calls it with the message table (kind 10, "OnARexx") and replies with its first result
// as text, else replies "". Stops after a delivered message when single is set, or after a
// handler error. Returns the last handler's result (ERR_USERABORT when the abort flag is set
// after it), 0 when none ran.
int CallOnARexx(qvVmState* L, int deliver, int single);
// Waits at most 20 ms for the program's port or extraFd (-1: none) to become readable.
// Returns 0.
int WaitSignals(qvVmState* L, int extraFd);

// Messages between running programs: the program's public user port, and texts sent to
// another program's port, which its script sees as "OnUserMessage".
#pragma once

#include "engine/vm.h"

// CreatePort(name): the program's user port under that name, replacing an earlier one.
int CreatePort(qvVmState* L);
// SendMessage(port, message [, argument ...]): the message word and each argument in double
// quotes, separated by spaces.
int SendMessage(qvVmState* L);

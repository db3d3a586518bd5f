// The "system" command library: so far its program-control group (ending the program,
// raising and catching errors, the call trace and debug output) and the error constants.
#pragma once

#include "engine/vm.h"

// Registers the commands as globals, the ERR_ constants, and the table under "system" for
// command lists and error reports. Raises on engine errors, so it runs under protection.
// Returns 0 or ERR_MEM.
int RegisterSystemLibrary(qvVmState* L);

int DebugPrint(qvVmState* L);
int DebugOutput(qvVmState* L);
int End(qvVmState* L);
int Error(qvVmState* L);
int ExitOnError(qvVmState* L);
int GetLastError(qvVmState* L);

// The "system" command library: program control and errors, debug output, information,
// table commands, memory, object data, dates, timers, waiting and sorting, the desktop
// commands (requesters, clipboard, icons, URLs, language, catalogs), and the run-time's
// largest constants table.
#pragma once

#include "engine/vm.h"

// Registers the commands as globals, the constants (with one ERR_ row per error code), the
// timer list with the object registry, and the table under "system" for command lists and
// error reports. Raises on engine errors, so it runs under protection.
// Returns 0 or ERR_MEM.
int RegisterSystemLibrary(qvVmState* L);
// Shutdown: frees every timer and closes the script's catalog.
void FreeSystemObjects(qvVmState* L);

int DebugPrint(qvVmState* L);
int DebugOutput(qvVmState* L);
int End(qvVmState* L);
int Error(qvVmState* L);
int ExitOnError(qvVmState* L);
int GetLastError(qvVmState* L);

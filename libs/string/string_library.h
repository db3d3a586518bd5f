// The "string" command library: 33 commands for byte strings (Latin-1 text), registered as
// global functions. Its ToString is the script's global "tostring".
#pragma once

#include "engine/vm.h"

// Registers the commands as globals (raising on engine errors, so it runs under protection)
// and records the table under "string" for command lists and error reports. Returns 0 or
// ERR_MEM.
int RegisterStringLibrary(qvVmState* L);

// The "math" command library: arithmetic, rounding, logarithms, trigonometry, the shared
// random generator and 32-bit bit operations, and the constant PI.
#pragma once

#include "engine/vm.h"

// Registers the commands as globals, PI, and the table under "math"; seeds the run-time's
// 48-bit generator and the C library's with the time in seconds. Raises on engine errors, so
// it runs under protection. Returns 0 or ERR_MEM.
int RegisterMathLibrary(qvVmState* L);

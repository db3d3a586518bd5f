// The least of the "math" library until it is built: it registers its name and seeds the
// run-time's random generator, and the C library's, with the time in seconds.
#pragma once

#include "engine/vm.h"

int RegisterMathLibrary(qvVmState* L);

// What every library stub does: it registers the library's name with an empty command table,
// so that the command list and error reports know the library before its commands exist.
#pragma once

#include "engine/vm.h"

namespace qv {

// 0 or ERR_MEM.
int RegisterStubLibrary(qvVmState* L, const char* name);

// The clean-up of a library that keeps no objects yet.
void NoCleanup(qvVmState* L);

}  // namespace qv

// The "brush" command library: the brush list and its services for the rest of the run-time
// (attributes, plugins); its commands join the table as they are built.
#pragma once

#include "engine/vm.h"

// Registers the library's commands and the brush list, GetAttribute's brush provider and the
// plugins' brush lookup. 0 or ERR_MEM.
int RegisterBrushLibrary(qvVmState* L);

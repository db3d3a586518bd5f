// The "draw" command library: the draw state's three commands, the shape work buffers and
// angle tables, and the colour, fill-style and shape-type constants. It is the fourth
// library that start-up registers.
#pragma once

#include <span>

#include "engine/vm.h"
#include "objects/draw/outline.h"

// Resets the draw state, makes the work buffers and tables, and registers the commands and
// constants. Raises on engine errors, so it runs under protection. 0 or ERR_MEM (nothing
// kept).
int RegisterDrawLibrary(qvVmState* L);
// Shutdown: frees the work buffers and tables; safe when the library never registered.
void FreeDrawBuffers(qvVmState* L);

namespace qv::draw {

// The library's work buffers and angle tables (empty before registration).
const qvShapeWork& DrawShapeWork();

// The rows RegisterDrawLibrary registers, without the closing empty row.
std::span<const qvCommandEntry> DrawCommands();
std::span<const qvConstant> DrawConstants();

}  // namespace qv::draw

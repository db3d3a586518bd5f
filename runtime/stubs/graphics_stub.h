// The least of the "graphics" library until it is built: it registers its name, answers
// run-time attributes 5 (mask mode) and 7 (alpha intensity) from the graphics state, and
// frees what the graphics engine holds at shutdown. There is no gfx cache yet.
#pragma once

#include <cstdint>

#include "engine/vm.h"

int RegisterGraphicsLibrary(qvVmState* L);
// The attribute handlers; non-zero when they took the tag.
int GraphicsSetAttr(qvVmState* L, uint32_t tag, int32_t value);
int GraphicsGetAttr(qvVmState* L, uint32_t tag, int32_t* value);
void FlushGfxCache();
void FreeGraphicsObjects(qvVmState* L);

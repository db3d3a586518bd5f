// Double buffering: drawing on a display goes into a back buffer, and Flip copies what
// changed into the front buffer and from there into the window. The display's double-buffer
// pseudo-picture lends the back buffer to the drawing commands as a brush-type output; its
// dirty list holds the rectangles drawn since the last flip, always as corners.
#pragma once

#include <cstdint>

#include "engine/vm.h"

struct qvDisplay;

namespace qv::scene {

// Makes the current display double-buffer; with hardware a compositing back buffer when the
// back end offers one. 0 or an error code, with the display as it was.
int BeginDoubleBuffer(qvVmState* L, int hardware);
// Copies the back buffer's changes into the front buffer and the window; waits for the
// vertical blank first with sync. 0 or ERR_NODOUBLEBUFFER.
int Flip(qvVmState* L, int sync);
// Ends double buffering: the back buffer becomes the display's picture as shown. 0 or
// ERR_NODOUBLEBUFFER.
int EndDoubleBufferEx(qvDisplay* display);
// A new front buffer of width x height, cleared and copied into the window. 0 or ERR_MEM
// (the old one kept).
int AllocBackBuffer(qvDisplay* display, int32_t width, int32_t height);
// Copies the front buffer into the window: all of it with whole (or when the dirty list is
// whole or the display scales), else the dirty rectangles. refreshFlags are BltToDisplay's.
void FlipBuffers(qvDisplay* display, int whole, int refreshFlags);

// The displays' allocBackBuffer hook: the front buffer at the display's new scale size.
int AllocScaledBackBuffer(qvVmState* L, qvDisplay* display);

}  // namespace qv::scene

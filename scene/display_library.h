// The "display" command library: creating, opening, closing, hiding, showing, selecting,
// activating, moving, resizing, retitling and freeing displays, changing their attributes and
// listing the screen's modes; the opening of the first displays at start-up.
#pragma once

#include "engine/vm.h"
#include "runtime/runtime_state.h"

// Registers the commands and constants, the display list with the object registry, the
// display semaphore (ERR_SEMAPHORE when it cannot be made) and the display list's answers to
// the blits, pictures, text, input pump and brushes. 0 or an error code.
int RegisterDisplayLibrary(qvVmState* L);
// Shutdown: every display (FreeAllDisplays), then the answers go.
void CloseDisplayLibrary(qvVmState* L);

// Start-up, once the applet's resources are preloaded: converts the preloaded objects to the
// screen's format ("Preparing display... done", then "And Action!" unless quiet or recording),
// sizes every display and opens those without "hidden"; the first one with "active" becomes
// current, else display 1 (which must exist: ERR_FINDDISPLAY). The display mode of the
// applet's header chooses the windows or the full screen (mode 3 asks the user) with the
// backfill behind them; display 1 may show the desktop. 0 or an error.
int OpenFirstDisplay(qvVmState* L, qvScriptHeader* header, qvStartupOptions* options);

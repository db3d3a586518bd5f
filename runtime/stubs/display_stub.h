// The least of the display library until it is built: a stand-in CreateDisplay that checks
// its arguments and records what it was given, the first display opened as a window of the
// video back end (so that the screen counts as open), and the display side of the input pump
// (runtime/display_input.h) and of the event library (scene/events/event_displays.h) for that
// one window: its handler slots, close reporting and mouse state.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/runtime_state.h"

struct qvPlatformDisplay;

// Registers "display" with its one command.
int RegisterDisplayLibrary(qvVmState* L);
// CreateDisplay(id [, options]): the fields "title", "width", "height" and "color" are kept.
int CreateDisplay(qvVmState* L);
// Prints "And Action!" unless quiet and opens display 1 (else the first one created, else a
// default 640 x 480 one) centred on the screen, filled with its colour. 0 or the window's
// error.
int OpenFirstDisplay(qvVmState* L, qvScriptHeader* header, qvStartupOptions* options);
// Presents a last time, releases the handler slots (engine state none: forgets them) and closes
// the window.
void FreeAllDisplays(qvVmState* L);

namespace qv {

// The window of the opened display; none before OpenFirstDisplay.
qvPlatformDisplay* StandInWindow();
// The key state of a code, the mouse-button state (0 left, 1 right, 2 middle) and the
// mouse-moved flag that the pump wrote.
bool StandInKeyDown(uint32_t code);
bool StandInButtonDown(int button);
bool StandInMouseMoved();

}  // namespace qv

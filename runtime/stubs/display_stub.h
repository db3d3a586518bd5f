// The least of the display library until it is built: a stand-in CreateDisplay that checks
// its arguments and records what it was given, the first display opened as a window of the
// video back end (so that the screen counts as open), the display side of the input pump for
// that one window (runtime/display_input.h: a close request ends the program), and the input
// poll.
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
// The engine's line hook: pumps input (PumpEvents) while the video back end has flagged
// input as due. Sets *status to 0; returns non-zero when the program is to stop. Its idle
// path makes no system call and allocates nothing.
int PollEvents(qvVmState* L, qvDebugRecord* ar, int* status);
// Presents a last time and closes the window.
void FreeAllDisplays(qvVmState* L);

namespace qv {

// PollEvents in the shape of a line hook, which need not report the stop: the engine sets
// *status to 0 before the call and reads the abort flag at every instruction.
void PollEventsHook(qvVmState* L, qvDebugRecord* ar, int* status);

// The window of the opened display; none before OpenFirstDisplay.
qvPlatformDisplay* StandInWindow();
// The key state of a code, the mouse-button state (0 left, 1 right, 2 middle) and the
// mouse-moved flag that the pump wrote.
bool StandInKeyDown(uint32_t code);
bool StandInButtonDown(int button);
bool StandInMouseMoved();

}  // namespace qv

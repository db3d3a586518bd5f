// The run-time's input pump: host input from the video back end becomes queued run-time
// events (runtime/event_queue.h) of the displays that own the windows, in the windows' inner
// coordinates, and the display states of runtime/display_input.h. Also one pass of the
// engine's line hook for commands that wait (runtime/timed_wait.h keeps it running in waits).
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/display_input.h"

// Reads every pending host event, posts the run-time events and applies the display requests
// (resize, minimise, mode switch), then presents. Returns 1 and sets the abort flag when the
// program is to end: the flag was already set, a close request came for a display without
// close reporting, Escape was pressed with run-time option 10 on, or the left button is held
// with option 9 on (or went down during this pump); else 0.
int PumpEvents(qvVmState* L);

// The qualifier keys held, as the key table's qualifier codes OR-ed (top bit set), or 0.
uint32_t GetQualifierFlags();

namespace qv {

// Runs the line hook once; true when the program is to stop (the hook reported a status or
// the abort flag is set).
bool RunInputPump(qvVmState* L);

// Forgets the qualifier keys and the left button that the pump saw held, and the presses it
// saw.
void ResetInputPump();

// Whether the key (a code below 300) or the mouse button went down in the display's window
// during the last pump, even when it was released again before the pump ended.
bool KeyPressedDuringLastPump(const qvDisplay* display, uint32_t code);
bool ButtonPressedDuringLastPump(const qvDisplay* display, MouseButton button);

}  // namespace qv

// Forgets the key and pointer state the pump keeps after an external program or a requester
// had the input, and has the display side forget the current display's.
void ResetDisplayInput(qvVmState* L);

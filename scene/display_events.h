// The display list as the event library sees it (scene/events/event_displays.h): the current
// display, the list, each display's handler slots, close reporting, mouse-moved flag and
// window, the facts of its message tables, window positions in the display's coordinates
// (WindowToLogical); the pictures of buttons and the held keys and mouse buttons. The display
// library installs it when it registers, together with the hooks that have the dispatcher
// forget a freed display and the buttons forget presses or go with their picture (the last
// one stays to the end of the run).
#pragma once

namespace qv::scene {

void InstallEventDisplays();
// Puts the event side's "no display" back and empties the hook.
void RemoveEventDisplays();

}  // namespace qv::scene

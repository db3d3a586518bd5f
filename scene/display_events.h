// The display list as the event library sees it (scene/events/event_displays.h): the current
// display, the list, each display's handler slots, close reporting, mouse-moved flag and
// window, the facts of its message tables, and window positions in the display's coordinates
// (WindowToLogical). The display library installs it when it
// registers, together with the hook that has the dispatcher forget a freed display.
#pragma once

namespace qv::scene {

void InstallEventDisplays();
// Puts the event side's "no display" back and empties the hook.
void RemoveEventDisplays();

}  // namespace qv::scene

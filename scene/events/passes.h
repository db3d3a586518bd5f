// The dispatcher's passes over buttons (buttons.cpp) and legacy labels (legacy_labels.cpp).
#pragma once

#include "engine/vm.h"
#include "scene/events/dispatcher.h"

namespace qv::events {

// The click pass for a queued mouse-button event (types 1, 2, 16) of the display: true when it
// chose a button handler and filled the message (kind QV_MSG_BUTTON). Events and the hover pass
// carry window coordinates; EventDisplays::ToDisplay (event_displays.h) gives the display's.
bool ButtonClickPass(qvVmState* L, qvDisplay* display, const qvInputEvent& event,
                     qvEventMessage* message);
// The hover pass over the display whose mouse moved (the mouse in window coordinates),
// continuing at the state's button cursor when resumed: true when it chose an "OnMouseOver"
// or "OnMouseOut" handler and filled the message.
bool ButtonHoverPass(qvVmState* L, qvDisplay* display, int32_t mouseX, int32_t mouseY, bool resumed,
                     qvEventMessage* message);

// The fields of a button's message table (kind QV_MSG_BUTTON) on the table on top of the
// stack, and the message's id.
void PushButtonFields(qvVmState* L, qvEventMessage* message);

// Whether any legacy label record exists.
bool LegacyLabelsExist();
// Under the queue's lock: a legacy label that matches a queued event and that the script has.
// Returns -1 after preparing the jump (the matched events are gone from the queue), else 0.
int LegacyLabelPass(qvVmState* L, qvEventMessage* message);
// The legacy hover labels of the current display; -1 after preparing a jump, else 0.
int LegacyHoverCheck(qvVmState* L, qvEventMessage* message);

}  // namespace qv::events

#include "scene/events/event_neighbours.h"

#include "scene/events/event_displays.h"
#include "scene/events/event_slots.h"

namespace qv::events {

const qvEventHandler* EventNeighbours::DisplayEventHandlers(const qvDisplay* display) {
    if (display == nullptr) return nullptr;
    return Displays().EventHandlers(const_cast<qvDisplay*>(display));
}

const qvEventHandler* EventNeighbours::GlobalEventHandlers() {
    return GlobalEventSlots();
}

}  // namespace qv::events

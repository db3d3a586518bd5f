// The graphics library's questions about handler slots (GetAttribute of EVENTHANDLER),
// answered from the installed displays and the event library's global slots. The player joins
// these answers with the other subsystems' into the one object it installs.
#pragma once

#include "gfx/library/neighbours.h"

namespace qv::events {

class EventNeighbours : public virtual gfx::Neighbours {
public:
    const qvEventHandler* DisplayEventHandlers(const qvDisplay* display) override;
    const qvEventHandler* GlobalEventHandlers() override;
};

}  // namespace qv::events

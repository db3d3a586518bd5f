#include "scene/display_events.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/linux/window.h"
#include "scene/display.h"
#include "scene/display_engine.h"
#include "scene/events/event_displays.h"

namespace qv::scene {
namespace {

// Toward zero, as events give positions; a factor far below 1 cannot overflow it.
int32_t TruncatedCoordinate(double value) {
    value = std::clamp(std::trunc(value), double(std::numeric_limits<int32_t>::min()),
                       double(std::numeric_limits<int32_t>::max()));
    return static_cast<int32_t>(value);
}

class EventSide final : public events::EventDisplays {
public:
    qvDisplay* CurrentDisplay() override { return Displays().current; }
    qvDisplay* FirstDisplay() override { return scene::FirstDisplay(); }
    qvDisplay* NextDisplay(const qvDisplay* display) override {
        return scene::NextDisplay(display);
    }
    // A minimised display keeps its window: a script that hid it may wait for "showwindow".
    bool IsOpen(const qvDisplay* display) override { return display->state != DISPSTATE_CLOSED; }
    qvEventHandler* EventHandlers(qvDisplay* display) override { return display->handlers; }
    void SetCloseReporting(qvDisplay* display, bool on) override {
        display->closeReporting = on ? 1 : 0;
    }
    bool MouseMoved(const qvDisplay* display, qvTimeVal* when) override {
        *when = display->mouseMoveTime;
        return display->mouseMoved != 0;
    }
    void ClearMouseMoved(qvDisplay* display) override { display->mouseMoved = 0; }
    qvPlatformDisplay* Window(qvDisplay* display) override { return display->window; }

    // The window's own position while it is shown (the user may have moved it), else the
    // position the display keeps for its next opening.
    events::DisplayFacts Facts(const qvDisplay* display) override {
        const qvDisplaySettings& s = display->settings;
        const qvPlatformDisplay* window = display->window;
        const bool shown = window != nullptr && WindowIsOpen(window);
        events::DisplayFacts facts{};
        facts.width = s.width, facts.height = s.height;
        facts.x = shown ? window->x : s.x;
        facts.y = shown ? window->y : s.y;
        facts.mouseX = shown ? window->pointer.mouseX : 0;
        facts.mouseY = shown ? window->pointer.mouseY : 0;
        facts.fullScreen = Displays().ownScreen;
        return facts;
    }
    events::DisplayPoint ToDisplay(const qvDisplay* display, int32_t x, int32_t y) override {
        const LogicalPoint at = WindowToLogical(display, x, y);
        return {TruncatedCoordinate(at.x), TruncatedCoordinate(at.y)};
    }
};

EventSide eventSide;

}  // namespace

void InstallEventDisplays() {
    events::SetEventDisplays(&eventSide);
    Hooks().displayFreed = events::ForgetEventDisplay;
}

void RemoveEventDisplays() {
    if (&events::Displays() == &eventSide) events::SetEventDisplays(nullptr);
    Hooks().displayFreed = nullptr;
}

}  // namespace qv::scene

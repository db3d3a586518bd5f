#include "scene/display_events.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "gfx/library/object_types.h"
#include "platform/linux/window.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/display_engine.h"
#include "scene/events/buttons.h"
#include "scene/events/event_displays.h"

namespace qv::scene {
namespace {

// A logical coordinate rounded as asked and clamped, so a factor far below 1 cannot overflow it.
int32_t Coordinate(double value, events::Rounding rounding) {
    value = rounding == events::Rounding::kDown ? std::floor(value) : std::trunc(value);
    value = std::clamp(value, double(std::numeric_limits<int32_t>::min()),
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
    events::DisplayPoint ToDisplay(const qvDisplay* display, int32_t x, int32_t y,
                                   events::Rounding rounding) override {
        const LogicalPoint at = WindowToLogical(display, x, y);
        return {Coordinate(at.x, rounding), Coordinate(at.y, rounding)};
    }

    qvBGPic* Picture(qvDisplay* display) override { return display->settings.picture; }
    qvBGPic* ButtonPicture() override {
        const qvDisplay* display = Displays().current;
        if (display == nullptr) return nullptr;
        const bool picture =
            display->outputType == gfx::kTypeBGPic || display->outputType == gfx::kTypeDisplay;
        return picture ? Displays().outputPicture : nullptr;
    }
    bool KeyDown(const qvDisplay* display, uint32_t code) override {
        return code < kKeyStateCount && display->keys[code] != 0;
    }
    bool ButtonDown(const qvDisplay* display, MouseButton button) override {
        return display->buttons[int(button)] != 0;
    }
};

EventSide eventSide;

}  // namespace

void InstallEventDisplays() {
    events::SetEventDisplays(&eventSide);
    Hooks().displayFreed = events::ForgetEventDisplay;
    Hooks().resetButtonStates = ResetButtonStates;
    SetFreeButtons(events::FreeButtonList);
}

void RemoveEventDisplays() {
    if (&events::Displays() == &eventSide) events::SetEventDisplays(nullptr);
    Hooks().displayFreed = nullptr;
    Hooks().resetButtonStates = nullptr;
}

}  // namespace qv::scene

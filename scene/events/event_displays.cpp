#include "scene/events/event_displays.h"

namespace qv::events {
namespace {

// Before the display side installs its records: no display at all.
class NoDisplays final : public EventDisplays {
public:
    qvDisplay* CurrentDisplay() override { return nullptr; }
    qvDisplay* FirstDisplay() override { return nullptr; }
    qvDisplay* NextDisplay(const qvDisplay*) override { return nullptr; }
    bool IsOpen(const qvDisplay*) override { return false; }
    qvEventHandler* EventHandlers(qvDisplay*) override { return nullptr; }
    void SetCloseReporting(qvDisplay*, bool) override {}
    bool MouseMoved(const qvDisplay*, qvTimeVal*) override { return false; }
    void ClearMouseMoved(qvDisplay*) override {}
    qvPlatformDisplay* Window(qvDisplay*) override { return nullptr; }
    DisplayFacts Facts(const qvDisplay*) override { return {}; }
    DisplayPoint ToDisplay(const qvDisplay*, int32_t x, int32_t y, Rounding) override {
        return {x, y};
    }
    qvBGPic* Picture(qvDisplay*) override { return nullptr; }
    qvBGPic* ButtonPicture() override { return nullptr; }
    bool KeyDown(const qvDisplay*, uint32_t) override { return false; }
    bool ButtonDown(const qvDisplay*, MouseButton) override { return false; }
};

NoDisplays none;
EventDisplays* installed = &none;

}  // namespace

DisplayPoint MouseInDisplay(const qvDisplay* display) {
    EventDisplays& displays = Displays();
    if (display == nullptr || !displays.IsOpen(display)) return {0, 0};
    const DisplayFacts facts = displays.Facts(display);
    return displays.ToDisplay(display, facts.mouseX, facts.mouseY, Rounding::kTowardZero);
}

EventDisplays& Displays() {
    return *installed;
}

void SetEventDisplays(EventDisplays* displays) {
    installed = displays != nullptr ? displays : &none;
}

}  // namespace qv::events

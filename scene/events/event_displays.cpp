#include "scene/events/event_displays.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
    qvBGPic* Picture(qvDisplay*) override { return nullptr; }
    qvBGPic* ButtonPicture() override { return nullptr; }
    bool KeyDown(const qvDisplay*, uint32_t) override { return false; }
    bool ButtonDown(const qvDisplay*, MouseButton) override { return false; }
    void ClearInput(qvDisplay*) override {}
};

NoDisplays none;
EventDisplays* installed = &none;

DisplayPoint Convert(const DisplayFacts& facts, int32_t x, int32_t y, bool floor) {
    const auto axis = [floor](int32_t at, int32_t offset, double scale) {
        double value = double(at) - offset;
        if (scale > 0) value /= scale;
        if (floor) value = std::floor(value);
        value = std::clamp(value, double(std::numeric_limits<int32_t>::min()),
                           double(std::numeric_limits<int32_t>::max()));
        return static_cast<int32_t>(value);
    };
    return {axis(x, facts.offsetX, facts.scaleX), axis(y, facts.offsetY, facts.scaleY)};
}

}  // namespace

DisplayPoint ToDisplayPoint(const DisplayFacts& facts, int32_t x, int32_t y) {
    return Convert(facts, x, y, false);
}

DisplayPoint ToPicturePoint(const DisplayFacts& facts, int32_t x, int32_t y) {
    return Convert(facts, x, y, true);
}

DisplayPoint MouseInDisplay(const qvDisplay* display) {
    EventDisplays& displays = Displays();
    if (display == nullptr || !displays.IsOpen(display)) return {0, 0};
    const DisplayFacts facts = displays.Facts(display);
    return ToDisplayPoint(facts, facts.mouseX, facts.mouseY);
}

EventDisplays& Displays() {
    return *installed;
}

void SetEventDisplays(EventDisplays* displays) {
    installed = displays != nullptr ? displays : &none;
}

}  // namespace qv::events

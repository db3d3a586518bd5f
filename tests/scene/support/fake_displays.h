// A test double of the display records for the event side: displays in a list, each with the
// fields that handler installation and the dispatcher read and write (the 24 handler slots,
// close reporting, the mouse-moved flag and its time, the key and button states, the facts of
// message tables, a picture for buttons) and a window of the headless back end, so that host input
// injected into it goes through the real input pump. It installs itself as the event side's
// displays and as the pump's display side.
#pragma once

#include <vector>

#include "engine/vm.h"
#include "gfx/library/neighbours.h"
#include "platform/linux/window.h"
#include "runtime/display_input.h"
#include "runtime/event_queue.h"
#include "runtime/key_table.h"
#include "scene/bgpic.h"
#include "scene/events/event_displays.h"

namespace qv::testing {

struct FakeDisplay {
    qvDisplayPrefix prefix;  // first, as in every display record
    qvEventHandler handlers[gfx::kDisplayEventCount];
    bool open;
    bool closeReporting;
    bool mouseMoved;
    qvTimeVal mouseTime;
    bool buttons[3];
    events::DisplayFacts facts;
    int32_t offsetX, offsetY;  // where the picture starts in the window
    double scale;              // window pixels per picture pixel; 0 is 1
    qvPlatformDisplay* window;
    uint8_t keys[kKeyStateCount];
    qvBGPic picture;        // 320 x 200; its buttons are freed with the display
    bool drawsIntoPicture;  // output goes to the picture (else to a brush, say)

    qvDisplay* record() { return DisplayOfPrefix(&prefix); }
};

class FakeDisplays final : public events::EventDisplays, public DisplayInput {
public:
    FakeDisplays();
    ~FakeDisplays() override;
    FakeDisplays(const FakeDisplays&) = delete;
    FakeDisplays& operator=(const FakeDisplays&) = delete;

    // A new open display at the end of the list with a 320 x 200 window; the first one added
    // becomes the current display.
    FakeDisplay* Add(uint32_t id);
    // Frees a display as the display library does: out of the list, its queued events and the
    // dispatcher's references dropped, its slots released (L none: forgotten), its window gone.
    void Free(qvVmState* L, FakeDisplay* display);
    void FreeAll(qvVmState* L);
    void SetCurrent(FakeDisplay* display) { current_ = display; }
    FakeDisplay* Current() { return current_; }
    static FakeDisplay& Of(const qvDisplay* display) {
        return *reinterpret_cast<FakeDisplay*>(const_cast<qvDisplay*>(display));
    }

    // The event side.
    qvDisplay* CurrentDisplay() override { return current_ ? current_->record() : nullptr; }
    qvDisplay* FirstDisplay() override;
    qvDisplay* NextDisplay(const qvDisplay* display) override;
    bool IsOpen(const qvDisplay* display) override { return Of(display).open; }
    qvEventHandler* EventHandlers(qvDisplay* display) override { return Of(display).handlers; }
    void SetCloseReporting(qvDisplay* display, bool on) override {
        Of(display).closeReporting = on;
    }
    bool MouseMoved(const qvDisplay* display, qvTimeVal* when) override {
        *when = Of(display).mouseTime;
        return Of(display).mouseMoved;
    }
    void ClearMouseMoved(qvDisplay* display) override { Of(display).mouseMoved = false; }
    qvPlatformDisplay* Window(qvDisplay* display) override { return Of(display).window; }
    events::DisplayFacts Facts(const qvDisplay* display) override { return Of(display).facts; }
    // Scaled by the record's own offset and factor: the real conversion is tested over the
    // real display records.
    events::DisplayPoint ToDisplay(const qvDisplay* display, int32_t x, int32_t y,
                                   events::Rounding rounding) override;
    qvBGPic* Picture(qvDisplay* display) override { return &Of(display).picture; }
    qvBGPic* ButtonPicture() override {
        return current_ != nullptr && current_->drawsIntoPicture ? &current_->picture : nullptr;
    }
    bool KeyDown(const qvDisplay* display, uint32_t code) override {
        return code < kKeyStateCount && Of(display).keys[code] != 0;
    }
    bool ButtonDown(const qvDisplay* display, MouseButton button) override {
        return Of(display).buttons[int(button)];
    }

    // The input pump's side.
    bool ReportsClose(const qvDisplay* display) override { return Of(display).closeReporting; }
    bool IsPrimary(const qvDisplay* display) override;
    uint32_t Flags(const qvDisplay*) override { return 0; }
    void ForgetInput(qvVmState*) override;
    void SetKeyState(qvDisplay* display, uint32_t code, bool down) override {
        if (code < kKeyStateCount) Of(display).keys[code] = down ? 1 : 0;
    }
    void SetButtonState(qvDisplay* display, MouseButton button, bool down) override {
        Of(display).buttons[int(button)] = down;
    }
    void MouseMoved(qvDisplay* display, const qvTimeVal& when) override {
        Of(display).mouseMoved = true;
        Of(display).mouseTime = when;
    }
    void RequestResize(qvDisplay*, int32_t, int32_t) override {}
    void SetIconified(qvDisplay*, bool) override {}
    void RequestModeSwitch(qvDisplay*) override {}

private:
    std::vector<FakeDisplay*> list_;
    FakeDisplay* current_ = nullptr;
};

}  // namespace qv::testing

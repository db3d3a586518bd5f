#include "runtime/input_pump.h"

#include <algorithm>

#include "engine/case_tables.h"
#include "platform/linux/memory.h"
#include "platform/linux/program.h"
#include "platform/linux/time.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "runtime/display_input.h"
#include "runtime/event_queue.h"
#include "runtime/key_table.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

constexpr uint32_t kNoModeSwitchFlag = 0x8;
constexpr uint32_t kShiftBits = (KeyCode("LSHIFT") | KeyCode("RSHIFT")) & ~kQualifierBit;
constexpr uint32_t kAltBits = (KeyCode("LALT") | KeyCode("RALT")) & ~kQualifierBit;
constexpr uint32_t kEscape = KeyCode("ESC");

DisplayInput* installed = nullptr;
uint32_t heldQualifiers = 0;  // qualifier bits without the top bit
bool leftHeld = false;
// The display in whose window each key (by code) and each mouse button (after the keys) went
// down during the current or last pump: a press released within the same pump leaves no held
// state behind to test.
constexpr uint32_t kFirstButtonSlot = kKeyStateCount;
const qvDisplay* pressedIn[kKeyStateCount + 3] = {};

void ForgetPresses() {
    std::fill(std::begin(pressedIn), std::end(pressedIn), nullptr);
}

bool IsQualifierKey(uint32_t code) {
    for (int row = kFirstQualifierRow; row < int(std::size(kKeyTable)); ++row) {
        if (kKeyTable[row].code == code) return true;
    }
    return false;
}

// The code a key event carries into the queue: printable keys upper case under Shift or Caps
// Lock; 0 for a key that has no code below 300.
uint32_t QueuedKeyCode(const HostEvent& event) {
    uint32_t code = event.key;
    if (code == 0 || code >= kKeyStateCount) return 0;
    if (code < 256 && ((heldQualifiers & kShiftBits) != 0 || event.capsLock)) {
        code = kUpperCase[code];
    }
    return code;
}

uint32_t Data(int32_t value) {
    return static_cast<uint32_t>(value);
}

bool IsEnter(uint32_t code) {
    return code == KeyCode("RETURN") || code == KeyCode("ENTER");
}

class Pump {
public:
    Pump(DisplayInput& input, qvPlatformDisplay* window, qvDisplay* display)
        : input_(input), window_(window), display_(display) {}

    // Applies one event; false when it ends the program.
    bool Apply(HostEvent& event) {
        switch (event.kind) {
            case HostEventKind::kButton:
                return Button(event);
            case HostEventKind::kWheel:
                Post(event.down ? QV_EVENT_WHEELDOWN : QV_EVENT_WHEELUP, Data(event.x),
                     Data(event.y), 0);
                return true;
            case HostEventKind::kKey:
                return Key(event);
            case HostEventKind::kMotion:
                Motion(event);
                return true;
            case HostEventKind::kMoved:
                window_->x = event.x, window_->y = event.y;
                Post(QV_EVENT_MOVEWINDOW, Data(event.x), Data(event.y), 0);
                return true;
            case HostEventKind::kResized:
                Resized(event);
                return true;
            case HostEventKind::kClose:
                if (!input_.ReportsClose(display_)) return false;
                Post(QV_EVENT_CLOSEWINDOW, 0, 0, 0);
                return true;
            case HostEventKind::kFocus:
                Post(event.down ? QV_EVENT_ACTIVE : QV_EVENT_INACTIVE, 0, 0, 0);
                return true;
            case HostEventKind::kIconify:
                // The desktop confirms a minimising or restoring that the program asked for:
                // the display already knows and posted its event.
                if (window_->iconified == event.down) return true;
                window_->iconified = event.down;
                input_.SetIconified(display_, event.down);
                Post(event.down ? QV_EVENT_HIDDEN : QV_EVENT_SHOWN, 0, 0, 0);
                return true;
            case HostEventKind::kDrop:
                Drop(event);
                return true;
            case HostEventKind::kClipboard:
                if (window_->clipboardReports) Post(QV_EVENT_CLIPBOARD, 0, 0, 0);
                return true;
        }
        return true;
    }

private:
    void Post(uint32_t type, uint32_t d1, uint32_t d2, uint32_t d3, void* extra = nullptr) {
        if (PostEvent(display_, type, d1, d2, d3, extra) == 0) FreeMemBlock(extra);
    }

    bool Button(const HostEvent& event) {
        static constexpr uint32_t kTypes[] = {QV_EVENT_LEFTMOUSE, QV_EVENT_RIGHTMOUSE,
                                              QV_EVENT_MIDMOUSE};
        if (event.button < 0 || event.button > 2) return true;
        if (event.button == 0) leftHeld = event.down;
        if (event.down) pressedIn[kFirstButtonSlot + event.button] = display_;
        input_.SetButtonState(display_, MouseButton(event.button), event.down);
        window_->pointer.mouseX = event.x, window_->pointer.mouseY = event.y;
        Post(kTypes[event.button], Data(event.x), Data(event.y), event.down ? 1 : 0);
        return true;
    }

    bool Key(const HostEvent& event) {
        if (IsQualifierKey(event.key)) {
            const uint32_t bit = event.key & ~kQualifierBit;
            heldQualifiers = event.down ? heldQualifiers | bit : heldQualifiers & ~bit;
            return true;
        }
        const uint32_t code = QueuedKeyCode(event);
        if (code == 0) return true;
        input_.SetKeyState(display_, code, event.down);
        if (event.down) pressedIn[code] = display_;
        if (!event.down) {
            Post(QV_EVENT_KEY, 0, GetQualifierFlags(), code);
            return true;
        }
        if (code == kEscape && EscapeQuits()) return false;
        if (IsEnter(code) && (heldQualifiers & kAltBits) != 0 && ModeSwitch()) return true;
        Post(QV_EVENT_KEY, 1, GetQualifierFlags(), code);
        return true;
    }

    // Alt+Enter: only the primary display without "nomodeswitch" switches; elsewhere the keys
    // are queued as they are.
    bool ModeSwitch() {
        if (!input_.IsPrimary(display_) || (input_.Flags(display_) & kNoModeSwitchFlag) != 0) {
            return false;
        }
        input_.RequestModeSwitch(display_);
        Post(QV_EVENT_MODESWITCH, 0, 0, 0);
        return true;
    }

    void Motion(const HostEvent& event) {
        window_->pointer.mouseX = event.x, window_->pointer.mouseY = event.y;
        qvTimeVal now;
        MonotonicTime(&now);
        input_.MouseMoved(display_, now);
    }

    void Resized(const HostEvent& event) {
        if ((window_->flags & QV_WINDOW_SIZEABLE) == 0) return;
        input_.RequestResize(display_, event.x, event.y);
        Post(QV_EVENT_SIZEWINDOW, Data(event.x), Data(event.y), 0);
    }

    void Drop(HostEvent& event) {
        void* names = event.names;
        event.names = nullptr;
        if (!window_->dropTarget) {
            FreeMemBlock(names);
            return;
        }
        Post(QV_EVENT_DROPFILES, Data(event.x), Data(event.y), 0, names);
    }

    DisplayInput& input_;
    qvPlatformDisplay* window_;
    qvDisplay* display_;
};

// One host event; false when it ends the program. Events of windows without a display, and
// all events while no display side is installed, are dropped.
bool Dispatch(HostEvent& event) {
    qvPlatformDisplay* window = FindOpenWindow(event.window);
    auto* display = window != nullptr ? static_cast<qvDisplay*>(window->owner) : nullptr;
    bool goOn = true;
    if (display != nullptr && installed != nullptr) {
        goOn = Pump(*installed, window, display).Apply(event);
    }
    FreeMemBlock(event.names);
    return goOn;
}

bool AbortSet() {
    return Runtime().abortFlag.load(std::memory_order_relaxed) != 0;
}

}  // namespace

DisplayInput* CurrentDisplayInput() {
    return installed;
}

void SetDisplayInput(DisplayInput* input) {
    installed = input;
}

bool RunInputPump(qvVmState* L) {
    if (L != nullptr && L->hook != nullptr) {
        int status = 0;
        L->hook(L, nullptr, &status);
        if (status != 0) return true;
    }
    return AbortSet();
}

void ResetInputPump() {
    heldQualifiers = 0;
    leftHeld = false;
    ForgetPresses();
}

bool KeyPressedDuringLastPump(const qvDisplay* display, uint32_t code) {
    return display != nullptr && code < kKeyStateCount && pressedIn[code] == display;
}

bool ButtonPressedDuringLastPump(const qvDisplay* display, MouseButton button) {
    return display != nullptr && pressedIn[kFirstButtonSlot + uint32_t(button)] == display;
}

}  // namespace qv

int PumpEvents(qvVmState*) {
    qv::InputDue().store(0, std::memory_order_relaxed);
    qv::ForgetPresses();
    bool end = qv::AbortSet();
    qv::HostEvent event;
    while (!end && qv::Video().pollEvent(&event)) end = !qv::Dispatch(event);
    const bool leftPressed = qv::leftHeld || qv::pressedIn[qv::kFirstButtonSlot] != nullptr;
    if (leftPressed && qv::LeftMouseQuits()) end = true;
    qv::Present();
    if (!end) return 0;
    qv::Runtime().abortFlag.store(1);
    return 1;
}

uint32_t GetQualifierFlags() {
    return qv::heldQualifiers != 0 ? qv::heldQualifiers | qv::kQualifierBit : 0;
}

void ResetDisplayInput(qvVmState* L) {
    qv::ResetInputPump();
    if (qv::installed != nullptr) qv::installed->ForgetInput(L);
}

// The seam between the input pump and the display records: from a window's owner word (the
// display record) to what the pump reads and writes of the display. The display side
// installs one implementation; without one, the pump drops every event.
#pragma once

#include <cstdint>

#include "platform/linux/time.h"

struct qvDisplay;
struct qvVmState;

namespace qv {

enum class MouseButton : int { kLeft = 0, kRight = 1, kMiddle = 2 };

class DisplayInput {
public:
    virtual ~DisplayInput() = default;

    // While set, a close request is queued as event 7 instead of ending the program.
    virtual bool ReportsClose(const qvDisplay* display) = 0;
    // The primary-display rule: only the primary display takes the mode-switch hotkey.
    virtual bool IsPrimary(const qvDisplay* display) = 0;
    // The display flags (0x8: the mode-switch hotkey is refused).
    virtual uint32_t Flags(const qvDisplay* display) = 0;

    // The key state of a code below 300; an implementation ignores any other code.
    virtual void SetKeyState(qvDisplay* display, uint32_t code, bool down) = 0;
    virtual void SetButtonState(qvDisplay* display, MouseButton button, bool down) = 0;
    // The mouse moved over the display's window: the mouse-moved flag and its time.
    virtual void MouseMoved(qvDisplay* display, const qvTimeVal& when) = 0;

    // The user resized a sizeable window to that inner size: the display resizes its window
    // (script resize 0).
    virtual void RequestResize(qvDisplay* display, int32_t width, int32_t height) = 0;
    // The user minimised (true) or restored (false) the window.
    virtual void SetIconified(qvDisplay* display, bool iconified) = 0;
    // Alt+Enter on the primary display: switch between windowed and full-screen mode.
    virtual void RequestModeSwitch(qvDisplay* display) = 0;

    // Another program or a requester had the input: the current display forgets its keys
    // and buttons.
    virtual void ForgetInput(qvVmState*) {}
};

// The installed implementation; none drops all input.
DisplayInput* CurrentDisplayInput();
void SetDisplayInput(DisplayInput* input);

}  // namespace qv

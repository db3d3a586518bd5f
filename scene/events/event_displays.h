// The seam between the event side and the display records: what handler installation and the
// dispatcher read and write of a display. The display library implements it over its records
// and installs it; until one is installed there is no display, so display events find no
// handler and WaitEvent reports a closed display. A display's id is read from its
// qvDisplayPrefix (runtime/event_queue.h), which every display record begins with.
#pragma once

#include <cstdint>

#include "gfx/library/neighbours.h"
#include "platform/linux/time.h"
#include "runtime/display_input.h"

struct qvBGPic;
struct qvDisplay;
struct qvPlatformDisplay;

namespace qv::events {

// What message tables say about a display.
struct DisplayFacts {
    int32_t width, height;   // the display's size
    int32_t x, y;            // its position on the desktop
    int32_t mouseX, mouseY;  // the mouse in the window's inner coordinates
    int32_t orientation;
    bool fullScreen;  // the run-time is in full-screen mode
};

struct DisplayPoint {
    int32_t x, y;
};

// How a window point that falls between two display pixels is rounded: toward zero, as
// input events and the mouse give positions, or down, so that a point left of or above the
// picture (in a letterbox strip) stays outside it.
enum class Rounding { kTowardZero, kDown };

class EventDisplays {
public:
    virtual ~EventDisplays() = default;

    // The run-time's current display; none when there is none.
    virtual qvDisplay* CurrentDisplay() = 0;
    // The display list in its order; none at its end.
    virtual qvDisplay* FirstDisplay() = 0;
    virtual qvDisplay* NextDisplay(const qvDisplay* display) = 0;
    // Whether the display has its window (open or minimised).
    virtual bool IsOpen(const qvDisplay* display) = 0;
    // The display's gfx::kDisplayEventCount handler slots.
    virtual qvEventHandler* EventHandlers(qvDisplay* display) = 0;
    // While set, a close request of the window is queued as an event instead of ending the
    // program.
    virtual void SetCloseReporting(qvDisplay* display, bool on) = 0;
    // The mouse-moved flag that the input pump sets, with the time of that movement.
    virtual bool MouseMoved(const qvDisplay* display, qvTimeVal* when) = 0;
    virtual void ClearMouseMoved(qvDisplay* display) = 0;
    // The display's window record (also while it is closed); none when it has none.
    virtual qvPlatformDisplay* Window(qvDisplay* display) = 0;
    virtual DisplayFacts Facts(const qvDisplay* display) = 0;
    // A point of the window's inner area (as input events and the mouse carry it) in the
    // display's coordinates.
    virtual DisplayPoint ToDisplay(const qvDisplay* display, int32_t x, int32_t y,
                                   Rounding rounding) = 0;

    // The picture the display shows; none when it has none.
    virtual qvBGPic* Picture(qvDisplay* display) = 0;
    // Where buttons are made and found: the current output picture while the current
    // display draws into a picture or into itself; none otherwise.
    virtual qvBGPic* ButtonPicture() = 0;
    // Whether the key (a code below kKeyStateCount) or the mouse button is held.
    virtual bool KeyDown(const qvDisplay* display, uint32_t code) = 0;
    virtual bool ButtonDown(const qvDisplay* display, MouseButton button) = 0;
};

// The mouse in the display's coordinates, toward zero; 0, 0 while it has no window.
DisplayPoint MouseInDisplay(const qvDisplay* display);

// The installed displays, or ones that answer "no display"; nullptr restores those.
EventDisplays& Displays();
void SetEventDisplays(EventDisplays* displays);

// The display side calls this while it frees a display, after taking it out of its list and
// before freeing the record: the dispatcher's display cursor moves on to successor and an
// event that the dispatcher holds forgets the display, as queued events do.
void ForgetEventDisplay(qvDisplay* display, qvDisplay* successor);

}  // namespace qv::events

// The headless video back end: windows live in memory only, the screen comes from
// QV_SCREEN_SIZE (60 Hz, no frames, the whole screen usable), input is what tests inject or
// what QV_HEADLESS_INPUT schedules, and QV_HEADLESS_FRAMES=DIR keeps every present of a
// changed window as DIR/frame-NNNNNN-wK.png (N is the frame, the refresh that shows it, from 1;
// K is the window's opening number). DIR is taken from the current directory at start-up and made
// if missing.
//
// QV_HEADLESS_INPUT=FILE: one event per line, "FRAME TYPE ARGS [@DISPLAY]", injected once
// refresh FRAME has come (video.h) into the window of the display whose numeric id DISPLAY
// is (dropped when it has none open), or else into the active window, or while none is active
// the topmost open window that is not minimised: "click X Y" (left press and release at the
// inner position), "press X Y" and "release X Y" (one of the two), "key CODE" (key down and
// up), "keydown CODE" and "keyup CODE" (one of the two), "move X Y" (the mouse moves), "close"
// (a close request), "movewindow X Y" (the user moves the window to that outer position),
// "sizewindow W H" (the user sizes it to that inner size), "activate" (the user activates
// the window, bringing it to the front) and "deactivate" (another program takes the focus).
// A move or size that changes nothing is no event. Empty lines are skipped; any other line
// ends start-up naming its number.
//
// The active window is the one last activated: opened active, activated by the run-time or by
// an input line. Each change of it is reported as the desktop reports a change of focus: the
// window that loses it, then the one that gains it. Closing the active window leaves none
// active; minimising it deactivates it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/video/driver.h"

namespace qv {

const VideoDriver& HeadlessDriver();
// Reads QV_HEADLESS_FRAMES and QV_HEADLESS_INPUT; 0, or ERR_CREATEDIR with the frames' folder
// that cannot be made or written, or ERR_READFILE with the file and the number of the
// malformed line in *detail, or ERR_MEM.
int StartHeadlessDriver(std::string* detail);
// The frame of the next scheduled input; 0 when none is left.
uint64_t HeadlessNextInputFrame();

}  // namespace qv

namespace qv::platform::testing {

// Queues a host event as if the desktop had sent it and sets the input-due word; false when
// the queue (1024 events) is full, the event's names then freed.
bool InjectHostEvent(const HostEvent& event);
// A drop of those names (the names block is made here).
bool InjectDrop(uint32_t window, int32_t x, int32_t y, const std::vector<std::string>& names);
// A joystick at the port (0 to 3), or none.
void SetJoystick(int port, bool connected, int32_t direction, uint32_t buttons);

// The headless screen: frame sizes of framed windows, the screen's title bar, its size (the
// whole of it usable unless an area is set), its usable area, its listed modes (as given, in
// that order) and its refresh rate. ResetHeadless goes back to the environment's screen and
// forgets injected input, joysticks and the operation log.
void SetFrameSizes(FrameSizes frame);
void SetScreenSize(ScreenMode size);
void SetTitleBar(int32_t height);
void SetUsableArea(ScreenArea area);
void SetScreenModes(const std::vector<ScreenMode>& modes);
void SetRefresh(int32_t refresh);
void ResetHeadless();

// The calls the back end received that change what the desktop shows, one line each with
// their arguments, e.g. "open 1 10,20 640x480 flags=0x1 title=Demo shape=0".
std::vector<std::string> OperationLog();

}  // namespace qv::platform::testing

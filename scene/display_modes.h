// Full screen: every display switched between windows on the desktop and the run-time's own
// screen, the start-up display modes and the desktop shown in display 1, and the backfill
// display that covers the screen behind the displays.
//
// The backfill is made through the script commands by name ("CreateBGPic", "createdisplay",
// "FreeDisplay", ...), as a script would make it: a screen-sized "private1" display at the
// head of the display list, borderless, fixed and without pointer.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/runtime_state.h"
#include "scene/display.h"

namespace qv::scene {

// The screen's bits per pixel.
int32_t ScreenDepth();

// A screen size remembered by the caller: 0 not read yet (read from the screen), -1 not
// available.
struct ScreenCache {
    int32_t width, height;
};
// The size of the own screen for the display: the screen's when the display with its frame
// fits it, or when only the frame does not fit (the display becomes borderless); otherwise,
// and when the screen is not available, the display's outer size.
void FitDisplaySizeToScreen(ScreenCache* cache, qvDisplay* display, int32_t* width,
                            int32_t* height);

// Switches every display: full screen opens the own screen of width x height (0 when it is
// open with that size already) and reopens the displays centred, borderless and fixed on it;
// windowed (0 when windows are shown already) closes it and reopens the displays as framed
// windows. The backfill follows the applet's declared one, else black in full screen. 0 or
// an error code; an error leaves the displays closed after the failing step.
int ChangeDisplayModeEx(qvVmState* L, int fullScreen, int32_t width, int32_t height);
// The mode-switch hotkey: full screen of the display's size (or the applet's screen size),
// or back to windows; not while a video is recorded (ERR_WRONGCMDRECVIDEO).
int ToggleDisplayMode(qvVmState* L, const qvDisplay* display);

// The backfill's picture for the settings (kinds 1 colour, 2 gradient, 3 the brush as a
// texture, 4 the brush, scaled to the picture on request, on the colour or gradient) of the
// screen's size, less the title bar unless it is covered: its handle in *picture and the
// window's top in *y. The brush of kinds 3 and 4 is kept in the display state.
int CreateBackfillBGPic(qvVmState* L, const qvBackfill& settings, void** picture, int32_t* y);
// The backfill display showing that picture; the handles are kept for FreeBackfillObjects,
// which a failure calls.
int CreateBackfillDisplay(qvVmState* L, const qvBackfill& settings);
void FreeBackfillObjects(qvVmState* L);

// What start-up decided about the screen before the displays open.
struct StartupScreen {
    qvBackfill backfill;
    bool desktop;  // display 1 shows the desktop
};
// Start-up, before "Preparing display": the display mode (mode 3 asks), the flags and the
// backfill it gives, the checks of the desktop display (ERR_DDRECVIDEO, ERR_DDAUTOSCALE), and
// the own screen opened for a full-screen mode.
int PrepareStartupScreen(const qvScriptHeader* header, qvDisplay* first, StartupScreen* out);
// The desktop grabbed (ERR_MEM) and copied into display 1's picture.
int ShowDesktopInDisplay(qvDisplay* first);

}  // namespace qv::scene

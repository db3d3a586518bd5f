// The screen the windows open on: its size, pixel format, usable area and modes (from the
// video back end), the run-time's own full screen, and the screen-mode choice for the first
// display.
//
// The screen format is 10 unless QV_SCREEN_FORMAT=0..13 chooses another. The headless
// screen is 1920x1080 unless QV_SCREEN_SIZE=WxH chooses another; the sdl screen is the
// desktop's. While the own screen is open, it is the screen.
#pragma once

#include <cstdint>

#include "platform/linux/video/driver.h"

// Writes at most capacity distinct (width, height) modes of the screen into modes and
// returns how many it wrote; with modes none it only counts. The order is the back end's.
int32_t EnumDisplayModes(qv::ScreenMode* modes, int32_t capacity);
// Whether a window of that outer size fits the screen. The position only picks the screen
// (there is one), so that a window placed partly off the desktop still opens.
int DisplayFitsScreen(int32_t x, int32_t y, int32_t outerWidth, int32_t outerHeight);
// Opens the run-time's own full screen of that size (the depth is the screen format's); 0, or
// ERR_SCREENSIZE for a side outside 1 to 32768, or ERR_SCREEN.
int OpenDisplayScreen(int32_t width, int32_t height, int32_t depth);
// Closes the own screen at once: no program but this one has windows on it.
void CloseDisplayScreen();

// Start-up display modes of the screen-mode choice.
enum : int {
    QV_SCREENMODE_WINDOWED = 1,
    QV_SCREENMODE_BESTFIT = 2,
    QV_SCREENMODE_MANUAL = 4,
};
// The screen mode for the first display. Windowed: the screen's size. Best fit: the fitted
// size the display side computed (0 x 0: the screen's size). Manual: the smallest listed mode
// that holds the fitted size, else the largest. The depth is the screen format's bits per
// pixel. Returns 0.
int SelectScreenModeForDisplay(int mode, int32_t fittedWidth, int32_t fittedHeight, int32_t* width,
                               int32_t* height, int32_t* depth);

// Hooks of the display side that have nothing to do on this platform.
void NotifyDisplayChange(const void* display);
void ReleaseScreenPens();
void WaitBlitter();
int NoOpZero();

namespace qv {

uint32_t ScreenFormat();
int32_t ScreenWidth();
int32_t ScreenHeight();
// Where windows may go: the usable area of the desktop, or the whole own screen.
ScreenArea UsableScreenArea();
int32_t ScreenRefresh();
int32_t ScreenTitleBar();
// Whether a window is open.
bool ScreenOpen();
bool OwnScreenOpen();

// Reads the screen of the back end again (after it changed or was replaced).
void RefreshScreenInfo();

}  // namespace qv

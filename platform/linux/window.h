// The screen and headless windows: each window owns a framebuffer bitmap in the screen
// format that tests (and later the player) read back; the desktop is the screen-size picture
// of the open windows over black.
//
// The screen format is 10 unless QV_SCREEN_FORMAT=0..13 chooses another; the screen size is
// 1920x1080 unless QV_SCREEN_SIZE=WxH chooses another.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"

struct qvVmState;

// The back end's part of a display; the display subsystem adds its other fields.
struct qvPlatformDisplay {
    int32_t x, y;                  // window position on the desktop
    qvDisplayBitMap* framebuffer;  // the window's inner area
    qvPlatformDisplay* next;       // open windows, bottom first
};

// The video-dump recorder's state; the recorder drives it.
struct qvVideoDumpState {
    bool deferredRefresh;
    bool frameChanged;
    bool pointerVisible;
    int32_t pointerKind;
    uint32_t elapsedSeconds;
    uint32_t elapsedMicroseconds;
};

// Copies a rectangle into the window's framebuffer, cut to both bitmaps. Scaled sizes other
// than 0 scale the rectangle to them by nearest neighbour (the part that lands inside the
// framebuffer is drawn).
void WindowBlit(const qvDisplayBitMap* bitmap, int32_t sx, int32_t sy, qvPlatformDisplay* display,
                int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t scaledWidth,
                int32_t scaledHeight);
// A new bitmap holding the rectangle of the window's framebuffer, or of the desktop when
// display is none; the rectangle is cut to the source. None when it is empty or memory is
// short.
qvDisplayBitMap* GrabScreenToBitMap(const qvPlatformDisplay* display, int32_t x, int32_t y,
                                    int32_t width, int32_t height);
// Waits for the next 1/60 s boundary of the monotonic clock.
void PlatformWaitVBlank(qvVmState* L, qvPlatformDisplay* display);

namespace qv {

inline constexpr int32_t kDefaultPointerSize = 16;

uint32_t ScreenFormat();
int32_t ScreenWidth();
int32_t ScreenHeight();
// Whether a window is open.
bool ScreenOpen();

// A window at (x, y) on the desktop with a black framebuffer of the given size; none when
// memory is short. Windows opened later lie on top.
qvPlatformDisplay* OpenHeadlessWindow(int32_t x, int32_t y, int32_t width, int32_t height);
void CloseHeadlessWindow(qvPlatformDisplay* display);

qvVideoDumpState& VideoDumpState();

}  // namespace qv

// The sdl video back end: one SDL2 window per open window (a shaped one for a window with a
// shape), drawn by SDL's software renderer from a streaming ARGB8888 texture; the own screen
// is one desktop-sized full-screen window that shows the open windows in their order. The
// keyboard, the mouse, the window manager's requests, dropped files, clipboard changes and
// game controllers come from SDL's events. SDL's own signal handlers stay off, so that the
// run-time's Ctrl-C handling stays.
//
// What it cannot show: translucent shapes (a shape's alpha is cut at 1) and, in the desktop
// grab, other programs' windows (the grab shows this program's windows over black).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/video/driver.h"

namespace qv {

// Starts SDL's video and game controllers; none (with SDL's reason in *why) when they do not
// start, or, with desktopOnly, when SDL's video took a driver that shows nothing on a desktop
// (its off-screen or dummy one when no desktop is reachable): only x11 and wayland count then.
const VideoDriver* StartSdlDriver(std::string* why, bool desktopOnly);

}  // namespace qv

namespace qv::platform::testing {

// The pixels the renderer of an open window shows, as ARGB rows; false when it has none.
bool ReadPresentedPixels(const qvPlatformDisplay* window, std::vector<uint32_t>* argb);

}  // namespace qv::platform::testing

// The sdl back end on an X server: SDL wakes its waiting main thread by sending an event to
// the window it waits on through a second connection. When that window is destroyed just
// after the wait, the server may refuse the sent event (BadWindow), and Xlib's default error
// handler would end the program with status 1 while it shuts down cleanly.
#pragma once

namespace qv {

// Installs an X error handler that drops a refused sent event to a window that is gone and
// passes every other error to the handler before it. Call before SDL starts its video.
void IgnoreLateX11Wakeups();

// The decision of that handler: true for the error it drops.
bool IsLateX11Wakeup(int errorCode, int requestCode);

}  // namespace qv

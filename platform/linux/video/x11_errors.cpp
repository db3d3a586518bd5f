#include "platform/linux/video/x11_errors.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>

namespace qv {
namespace {

XErrorHandler previous = nullptr;

int DropLateWakeups(Display* display, XErrorEvent* error) {
    if (IsLateX11Wakeup(error->error_code, error->request_code)) return 0;
    return previous != nullptr ? previous(display, error) : 0;
}

}  // namespace

bool IsLateX11Wakeup(int errorCode, int requestCode) {
    return errorCode == BadWindow && requestCode == X_SendEvent;
}

void IgnoreLateX11Wakeups() {
    XErrorHandler before = XSetErrorHandler(DropLateWakeups);
    if (before != DropLateWakeups) previous = before;
}

}  // namespace qv

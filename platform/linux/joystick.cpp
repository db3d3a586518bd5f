#include "platform/linux/joystick.h"

#include "platform/linux/video/video.h"

int ReadJoystick(int port, int32_t* direction, uint32_t* buttons) {
    int32_t d = QV_JOYNODIR;
    uint32_t b = 0;
    const int code = qv::Video().joystick(port, &d, &b);
    if (code != 0) return code;
    if (direction != nullptr) *direction = d;
    if (buttons != nullptr) *buttons = b;
    return 0;
}

int CountJoyPorts(int32_t* count) {
    *count = 0;
    for (int port = 0; port < 4; ++port) {
        if (ReadJoystick(port, nullptr, nullptr) == 0) ++*count;
    }
    return 0;
}

// Joysticks and game pads on ports 0 to 3, read through the video back end.
#pragma once

#include <cstdint>

// Directions: 0 up, clockwise to 7 up left; 8 none.
enum : int32_t { QV_JOYUP = 0, QV_JOYNODIR = 8 };

// The port's direction and button mask (bit 0 the first button); either out may be none.
// 0, ERR_NOJOYATPORT for a port outside 0 to 3, or ERR_JOYSTICK when the port holds none.
int ReadJoystick(int port, int32_t* direction, uint32_t* buttons);
// How many of the ports 0 to 3 hold a joystick; returns 0.
int CountJoyPorts(int32_t* count);

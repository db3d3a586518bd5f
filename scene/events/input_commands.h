// The event library's direct input commands: the mouse, keys and joysticks queried, waits for
// mouse buttons and keys, the quit keys, the event time-out and the queue and key states
// cleared.
#pragma once

#include <cstdint>

#include "engine/vm.h"

int MouseX(qvVmState* L);
int MouseY(qvVmState* L);
int IsLeftMouse(qvVmState* L);
int IsRightMouse(qvVmState* L);
int IsMidMouse(qvVmState* L);
// IsKeyDown(key name): one printable character, or a name of the key table (any case).
int IsKeyDown(qvVmState* L);
int JoyDir(qvVmState* L);
// JoyFire(port [, button]): button 1 to 32 (default 1) pressed, or with 0 the whole mask.
int JoyFire(qvVmState* L);
int CountJoysticks(qvVmState* L);

int WaitLeftMouse(qvVmState* L);
int WaitRightMouse(qvVmState* L);
int WaitMidMouse(qvVmState* L);
int WaitKeyDown(qvVmState* L);
int WhileMouseDown(qvVmState* L);
int WhileRightMouseDown(qvVmState* L);

int SetEventTimeout(qvVmState* L);
int CtrlCQuit(qvVmState* L);
int LeftMouseQuit(qvVmState* L);
int EscapeQuit(qvVmState* L);
int ResetKeyStates(qvVmState* L);
int FreeEventCache(qvVmState* L);

namespace qv::events {

// One wait of the input commands: for the program's signals, then the input pump. True when
// the program is to end.
bool WaitForInput(qvVmState* L);

}  // namespace qv::events

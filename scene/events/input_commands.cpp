#include "scene/events/input_commands.h"

#include <cstring>

#include "platform/linux/bitmap.h"
#include "platform/linux/joystick.h"
#include "platform/linux/locale.h"
#include "runtime/arguments.h"
#include "runtime/attributes.h"
#include "runtime/event_queue.h"
#include "runtime/input_pump.h"
#include "runtime/key_table.h"
#include "runtime/strings.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_displays.h"

namespace qv::events {
namespace {

constexpr int kCtrlCOption = 8, kLeftMouseOption = 9, kEscapeOption = 10;
constexpr int32_t kJoyButtons = 32;

bool FlagArg(qvVmState* L, int idx) {
    return VmType(L, idx) == VM_TBOOLEAN ? VmToBoolean(L, idx) != 0 : GetArgNumber(L, idx) != 0;
}

int PushNumber(qvVmState* L, double value) {
    VmPushNumber(L, value);
    return 1;
}

qvDisplay* OpenCurrentDisplay() {
    qvDisplay* display = Displays().CurrentDisplay();
    return display != nullptr && Displays().IsOpen(display) ? display : nullptr;
}

// The key that argument idx names: one printable character stands for its code, else a name
// of the key table's rows from "TAB" to lastRow, in any case; 0 for anything else.
uint32_t KeyArg(qvVmState* L, int idx, int lastRow) {
    size_t length = 0;
    const char* name = GetArgString(L, idx, &length);
    if (length != std::strlen(name)) return 0;
    const auto first = static_cast<unsigned char>(name[0]);
    if (length == 1 && LocaleIsGraph(first) != 0) return first;
    for (int row = kFirstKeyRow; row <= lastRow; ++row) {
        if (StrICmp(name, kKeyTable[row].name) == 0) return kKeyTable[row].code;
    }
    return 0;
}

bool Held(MouseButton button) {
    const qvDisplay* display = Displays().CurrentDisplay();
    return display != nullptr && Displays().ButtonDown(display, button);
}

int IsHeld(qvVmState* L, MouseButton button) {
    CheckArgCount(L, 0, 0);
    return PushNumber(L, Held(button) ? 1 : 0);
}

// Waits until the held test turns true (or a pump saw a press that it also saw released),
// then false, and empties the queue of the input that came meanwhile. Stops early when the
// program is to end.
template <typename HeldTest, typename PressTest>
int WaitPressAndRelease(qvVmState* L, HeldTest held, PressTest pressedDuringPump) {
    bool pressed = held();
    while (!pressed) {
        if (WaitForInput(L)) return 0;
        pressed = held() || pressedDuringPump();
    }
    while (held()) {
        if (WaitForInput(L)) return 0;
    }
    RemoveEvents(L, -1, 1);
    return 0;
}

int WaitMouseButton(qvVmState* L, MouseButton button) {
    CheckArgCount(L, 0, 0);
    if (OpenCurrentDisplay() == nullptr) return ERR_CLOSEDDISPDRAW;
    return WaitPressAndRelease(
        L, [button] { return Held(button); },
        [button] { return ButtonPressedDuringLastPump(Displays().CurrentDisplay(), button); });
}

int WhileHeld(qvVmState* L, MouseButton button) {
    CheckArgCount(L, 0, 0);
    while (Held(button)) {
        if (WaitForInput(L)) break;
    }
    return 0;
}

int SetQuitOption(qvVmState* L, int option) {
    CheckArgCount(L, 1, 1);
    SetRuntimeOption(nullptr, option, FlagArg(L, 1) ? 1 : 0);
    return 0;
}

}  // namespace

bool WaitForInput(qvVmState* L) {
    WaitSignals(L, -1);
    return PumpEvents(L) != 0;
}

}  // namespace qv::events

using namespace qv::events;

int MouseX(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    return PushNumber(L, MouseInDisplay(Displays().CurrentDisplay()).x);
}

int MouseY(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    return PushNumber(L, MouseInDisplay(Displays().CurrentDisplay()).y);
}

int IsLeftMouse(qvVmState* L) {
    return IsHeld(L, qv::MouseButton::kLeft);
}

int IsRightMouse(qvVmState* L) {
    return IsHeld(L, qv::MouseButton::kRight);
}

int IsMidMouse(qvVmState* L) {
    return IsHeld(L, qv::MouseButton::kMiddle);
}

int IsKeyDown(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const uint32_t code = KeyArg(L, 1, int(std::size(qv::kKeyTable)) - 1);
    if (code == 0) return ERR_WRONGUSAGE;
    const qvDisplay* display = OpenCurrentDisplay();
    if (display == nullptr) return ERR_CLOSEDDISPDRAW;
    const bool down = qv::IsQualifierCode(code) ? (GetQualifierFlags() & code) == code
                                                : Displays().KeyDown(display, code);
    return PushNumber(L, down ? 1 : 0);
}

int JoyDir(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int32_t direction = QV_JOYNODIR;
    if (const int code = ReadJoystick(GetOptIntArg(L, 1, nullptr), &direction, nullptr)) {
        return code;
    }
    return PushNumber(L, direction);
}

int JoyFire(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    const int32_t port = GetOptIntArg(L, 1, nullptr);
    const int32_t button = VmGetTop(L) >= 2 ? GetOptIntArg(L, 2, nullptr) : 1;
    if (button < 0 || button > kJoyButtons) return ERR_WRONGUSAGE;
    uint32_t mask = 0;
    if (const int code = ReadJoystick(port, nullptr, &mask)) return code;
    if (button == 0) return PushNumber(L, mask);
    return PushNumber(L, (mask >> (button - 1)) & 1);
}

int CountJoysticks(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    int32_t count = 0;
    CountJoyPorts(&count);
    return PushNumber(L, count);
}

int WaitLeftMouse(qvVmState* L) {
    return WaitMouseButton(L, qv::MouseButton::kLeft);
}

int WaitRightMouse(qvVmState* L) {
    return WaitMouseButton(L, qv::MouseButton::kRight);
}

int WaitMidMouse(qvVmState* L) {
    return WaitMouseButton(L, qv::MouseButton::kMiddle);
}

int WaitKeyDown(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    if (OpenCurrentDisplay() == nullptr) return ERR_CLOSEDDISPDRAW;
    const uint32_t code = KeyArg(L, 1, qv::kLastSpecialKeyRow);
    if (code == 0) return ERR_WRONGUSAGE;
    return WaitPressAndRelease(
        L,
        [code] {
            const qvDisplay* display = Displays().CurrentDisplay();
            return display != nullptr && Displays().KeyDown(display, code);
        },
        [code] { return qv::KeyPressedDuringLastPump(Displays().CurrentDisplay(), code); });
}

int WhileMouseDown(qvVmState* L) {
    return WhileHeld(L, qv::MouseButton::kLeft);
}

int WhileRightMouseDown(qvVmState* L) {
    return WhileHeld(L, qv::MouseButton::kRight);
}

int SetEventTimeout(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const qvAttrSet tags[] = {{QV_ATTR_EVENTTIMEOUT, GetOptIntArg(L, 1, nullptr)},
                              {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, tags);
    return 0;
}

int CtrlCQuit(qvVmState* L) {
    return SetQuitOption(L, kCtrlCOption);
}

int LeftMouseQuit(qvVmState* L) {
    return SetQuitOption(L, kLeftMouseOption);
}

int EscapeQuit(qvVmState* L) {
    return SetQuitOption(L, kEscapeOption);
}

int ResetKeyStates(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    // As after a requester: the pump's held keys and buttons go too, and so do the pressed
    // states of the display's buttons, which would otherwise take the release.
    ResetDisplayInput(L);
    return 0;
}

int FreeEventCache(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    RemoveEvents(L, -1, 1);
    return 0;
}

#include "scene/events/event_library.h"

#include <iterator>

#include "platform/linux/timers.h"
#include "platform/linux/user_port.h"
#include "runtime/exports.h"
#include "scene/events/buttons.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_slots.h"
#include "scene/events/input_commands.h"
#include "scene/events/intervals.h"
#include "scene/events/legacy_labels.h"
#include "scene/events/ports.h"

namespace qv::events {
namespace {

// In the order of the library's published table.
constexpr qvCommandEntry kEventCommands[] = {
    {"WaitLeftMouse", WaitLeftMouse},
    {"WaitRightMouse", WaitRightMouse},
    {"WaitKeyDown", WaitKeyDown},
    {"IsKeyDown", IsKeyDown},
    {"WhileRightMouseDown", WhileRightMouseDown},
    {"WhileMouseDown", WhileMouseDown},
    {"WhileKeyDown", WhileKeyDown},
    {"IsLeftMouse", IsLeftMouse},
    {"IsRightMouse", IsRightMouse},
    {"BreakWhileMouseOn", BreakWhileMouseOn},
    {"SetEventTimeout", SetEventTimeout},
    {"GetEventCode", GetEventCode},
    {"LeftMouseQuit", LeftMouseQuit},
    {"EscapeQuit", EscapeQuit},
    {"CtrlCQuit", CtrlCQuit},
    {"EnableEvent", EnableEvent},
    {"DisableEvent", DisableEvent},
    {"RemoveButton", RemoveButton},
    {"RemoveKeyDown", RemoveKeyDown},
    {"ModifyButton", ModifyButton},
    {"ModifyKeyDown", ModifyKeyDown},
    {"WhileMouseOn", WhileMouseOn},
    {"CreateButton", CreateButton},
    {"CreateKeyDown", CreateKeyDown},
    {"FreeEventCache", FreeEventCache},
    {"ClearEvents", ClearEvents},
    {"CheckEvent", CheckEvent},
    {"WaitEvent", WaitEvent},
    {"MouseX", MouseX},
    {"MouseY", MouseY},
    {"MakeButton", MakeButton},
    {"DeleteButton", DeleteButton},
    {"DisableButton", DisableButton},
    {"EnableButton", EnableButton},
    {"InstallEventHandler", InstallEventHandler},
    {"SetInterval", SetInterval},
    {"SetTimeout", SetTimeout},
    {"ClearInterval", ClearInterval},
    {"ClearTimeout", ClearTimeout},
    {"ChangeInterval", ChangeInterval},
    {"DumpButtons", DumpButtons},
    {"WaitMidMouse", WaitMidMouse},
    {"IsMidMouse", IsMidMouse},
    {"ResetKeyStates", ResetKeyStates},
    {"JoyDir", JoyDir},
    {"JoyFire", JoyFire},
    {"CountJoysticks", CountJoysticks},
    {"CreatePort", CreatePort},
    {"SendMessage", SendMessage},
    {nullptr, nullptr},
};
static_assert(std::size(kEventCommands) == 49 + 1);

constexpr qvConstant kEventConstants[] = {
    {"MOVEWINDOW", nullptr, 6},
    {"SIZEWINDOW", nullptr, 7},
    {"INACTIVEWINDOW", nullptr, 8},
    {"ACTIVEWINDOW", nullptr, 9},
    {"CLOSEWINDOW", nullptr, 10},
    {"ONBUTTONCLICKALL", nullptr, 11},
    {"ONBUTTONRIGHTCLICKALL", nullptr, 12},
    {"ONBUTTONOVERALL", nullptr, 13},
    {"ONKEYDOWNALL", nullptr, 14},
    {"JOYUP", nullptr, 0},
    {"JOYUPRIGHT", nullptr, 1},
    {"JOYRIGHT", nullptr, 2},
    {"JOYDOWNRIGHT", nullptr, 3},
    {"JOYDOWN", nullptr, 4},
    {"JOYDOWNLEFT", nullptr, 5},
    {"JOYLEFT", nullptr, 6},
    {"JOYUPLEFT", nullptr, 7},
    {"JOYNODIR", nullptr, 8},
    {"ONBUTTONCLICK", nullptr, 2},
    {"ONBUTTONOVER", nullptr, 1},
    {"ONKEYDOWN", nullptr, 3},
    {"ONBUTTONRIGHTCLICK", nullptr, 5},
    {"SIMPLEBUTTON", nullptr, 0},
    {"LAYERBUTTON", nullptr, 1},
    {nullptr, nullptr, 0},
};

}  // namespace
}  // namespace qv::events

int RegisterEventLibrary(qvVmState* L) {
    using namespace qv::events;
    // What an earlier run left (one that ended without its clean-up) belongs to another engine.
    FreeTimedCalls(nullptr);
    qv::FreeTimerEntries();
    ResetGlobalEventSlots(nullptr);
    FreeLegacyLabels(true);
    if (const int code = OpenEventState(L)) return code;
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kEventCommands, 0);
    VmSetTop(L, -2);
    RegisterConstants(L, kEventConstants, 0);
    if (const int code = RegisterCommandTable(kEventCommands, "event")) return code;
    return RegisterTimedCallLists();
}

void FreeEventObjects(qvVmState* L) {
    using namespace qv::events;
    const bool registered = EventState() != nullptr;
    FreeTimedCalls(L);
    qv::FreeTimerEntries();
    // Slots filled before this run's registration belong to another engine.
    ResetGlobalEventSlots(registered ? L : nullptr);
    FreeLegacyLabels(true);
    FreeButtonIndex();
    qv::CloseUserPort();
    CloseEventState();
}

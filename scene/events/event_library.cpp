#include "scene/events/event_library.h"

#include "platform/linux/timers.h"
#include "runtime/exports.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_slots.h"
#include "scene/events/intervals.h"

namespace qv::events {
namespace {

// In the order of the library's published table; the buttons, queries, waits, ports and
// legacy labels take their places between these.
constexpr qvCommandEntry kEventCommands[] = {
    {"CheckEvent", CheckEvent},
    {"WaitEvent", WaitEvent},
    {"InstallEventHandler", InstallEventHandler},
    {"SetInterval", SetInterval},
    {"SetTimeout", SetTimeout},
    {"ClearInterval", ClearInterval},
    {"ClearTimeout", ClearTimeout},
    {"ChangeInterval", ChangeInterval},
    {nullptr, nullptr},
};

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
    if (const int code = OpenEventState()) return code;
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
    CloseEventState();
}

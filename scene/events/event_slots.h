// Event handler slots: 24 per display (their names qv::gfx::kDisplayEventNames) and the 11
// global ones of the event library (qv::gfx::kGlobalEventNames), each a registry reference of
// the handler and one of its user data (-1: none), and InstallEventHandler, which fills them
// from a script's table and keeps the run-time in step with them: close reporting, the drop
// target and clipboard hook of the window, the fire task's tick for the network handlers and
// the run-time attributes that tell the sound code which notifications to queue.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/library/neighbours.h"

namespace qv::events {

// Slot indices, in the order of the name tables.
enum DisplaySlot : int {
    kOnKeyDown,
    kOnKeyUp,
    kOnMouseMove,
    kCloseWindow,
    kMoveWindow,
    kSizeWindow,
    kActiveWindow,
    kInactiveWindow,
    kHideWindow,
    kShowWindow,
    kOnMouseDown,
    kOnMouseUp,
    kOnRightMouseDown,
    kOnRightMouseUp,
    kOnWheelDown,
    kOnWheelUp,
    kModeSwitch,
    kOnDropFile,
    kClipboardChange,
    kOnMidMouseDown,
    kOnMidMouseUp,
    kOrientationChange,
    kShowKeyboard,
    kHideKeyboard,
};
enum GlobalSlot : int {
    kOnSampleLoop,
    kOnSampleEnd,
    kOnMusicEnd,
    kOnARexx,
    kOnConnect,
    kOnDisconnect,
    kOnReceiveData,
    kOnReceiveUdpData,
    kOnVideoEnd,
    kOnUserMessage,
    kFillMusicBuffer,
};

// The run-time attributes that InstallEventHandler publishes: whether "onsampleloop",
// "onsampleend", "onmusicend" and "onvideoend" hold a handler.
enum : uint32_t {
    QV_ATTR_SAMPLELOOPEVENTS = 13,
    QV_ATTR_SAMPLEENDEVENTS = 14,
    QV_ATTR_MUSICENDEVENTS = 19,
    QV_ATTR_VIDEOENDEVENTS = 24,
};

// The gfx::kGlobalEventCount global slots.
qvEventHandler* GlobalEventSlots();
inline bool HasHandler(const qvEventHandler& slot) {
    return slot.function != -1;
}
// Releases the global slots' references (when the engine is still open) and empties them.
void ResetGlobalEventSlots(qvVmState* L);

// The field name of the handler table at idx, classified: -2 nil (leave the slot), -1 a number
// (remove the handler), else a new registry reference to the function. Anything else raises
// the engine's argument error.
int GetHandlerField(qvVmState* L, int idx, const char* name);
// Puts function (or -1) into the slot, releasing the old one, and applies the user-data rule:
// without a user-data argument an installed handler keeps the slot's user data; otherwise the
// slot's user data is released and userData (a reference made for this slot, or -1) stored.
void StoreHandlerRef(qvVmState* L, qvEventHandler* slot, int32_t function, bool userDataGiven,
                     int32_t userData);

}  // namespace qv::events

// InstallEventHandler(handlers [, userdata]): no results.
int InstallEventHandler(qvVmState* L);

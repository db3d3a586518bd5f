// The names the dispatcher writes into message and result tables: the field names and the
// actions. The event library interns them once when it registers, fixed in its engine, so that
// filling a table costs no interning of names per event.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

namespace qv::events {

enum class MessageName : uint8_t {
    // Fields
    kAction,
    kKey,
    kId,
    kUserData,
    kResults,
    kNResults,
    kTriggered,
    kX,
    kY,
    kWidth,
    kHeight,
    kMouseDown,
    kRightMouseDown,
    kMidMouseDown,
    kDisplay,
    kLayer,
    kLayerName,
    kCommand,
    kArgs,
    kRawArgs,
    kArgc,
    kDropFiles,
    kNumDropFiles,
    kServerId,
    kClientId,
    kTime,
    kStarts,
    kMode,
    kOrientation,
    kSamples,
    kCount,
    // Actions; kNoAction is the action of a call that ran no handler.
    kNoAction,
    kOnKeyDown,
    kOnKeyUp,
    kOnMouseDown,
    kOnMouseUp,
    kOnRightMouseDown,
    kOnRightMouseUp,
    kOnMidMouseDown,
    kOnMidMouseUp,
    kOnWheelUp,
    kOnWheelDown,
    kOnMouseOver,
    kOnMouseOut,
    kOnMouseMove,
    kMoveWindow,
    kSizeWindow,
    kInactiveWindow,
    kCloseWindow,
    kActiveWindow,
    kHideWindow,
    kShowWindow,
    kModeSwitch,
    kOnDropFile,
    kClipboardChange,
    kOrientationChange,
    kShowKeyboard,
    kHideKeyboard,
    kOnSampleLoop,
    kOnSampleEnd,
    kOnMusicEnd,
    kOnVideoEnd,
    kInterval,
    kTimeout,
    kOnReceiveUdpData,
    kOnConnect,
    kOnReceiveData,
    kOnDisconnect,
    kOnARexx,
    kOnUserMessage,
    kFillMusicBuffer,
};
constexpr int kMessageNameCount = int(MessageName::kFillMusicBuffer) + 1;

// Interns every name fixed in L's engine (raising the engine's error when memory runs out);
// from then until ForgetMessageNames the names are pushed as those strings, and a
// one-character key name is interned once when first used.
void InternMessageNames(qvVmState* L);
// The engine is going: names are interned again each time they are pushed.
void ForgetMessageNames();

// Pushes the name.
void PushMessageName(qvVmState* L, MessageName name);
// Sets the field of the message table on top of the stack. The table is one made for the
// handler's call, without a metatable of its own, so a raw set is what a script's assignment
// does.
void SetMessageField(qvVmState* L, MessageName field, int32_t value);
void SetMessageField(qvVmState* L, MessageName field, const qvObjectId& id);
void SetMessageField(qvVmState* L, MessageName field, MessageName value);
void SetMessageField(qvVmState* L, MessageName field, const char* text);
// Sets "key" to the key name.
void SetKeyField(qvVmState* L, const char* name);

}  // namespace qv::events

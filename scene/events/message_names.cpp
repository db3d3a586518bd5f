#include "scene/events/message_names.h"

#include "runtime/arguments.h"
#include "scene/events/dispatcher.h"

namespace qv::events {
namespace {

constexpr const char* kTexts[kMessageNameCount] = {
    "action",
    "key",
    "id",
    "userdata",
    "results",
    "nresults",
    "triggered",
    "x",
    "y",
    "width",
    "height",
    "mousedown",
    "rightmousedown",
    "midmousedown",
    "display",
    "layer",
    "layername",
    "command",
    "args",
    "rawargs",
    "argc",
    "dropfiles",
    "numdropfiles",
    "serverid",
    "clientid",
    "time",
    "starts",
    "mode",
    "orientation",
    "samples",
    "count",
    "",
    "OnKeyDown",
    "OnKeyUp",
    "OnMouseDown",
    "OnMouseUp",
    "OnRightMouseDown",
    "OnRightMouseUp",
    "OnMidMouseDown",
    "OnMidMouseUp",
    "OnWheelUp",
    "OnWheelDown",
    "OnMouseOver",
    "OnMouseOut",
    "OnMouseMove",
    "MoveWindow",
    "SizeWindow",
    "InactiveWindow",
    "CloseWindow",
    "ActiveWindow",
    "HideWindow",
    "ShowWindow",
    "ModeSwitch",
    "OnDropFile",
    "ClipboardChange",
    "OrientationChange",
    "ShowKeyboard",
    "HideKeyboard",
    "OnSampleLoop",
    "OnSampleEnd",
    "OnMusicEnd",
    "OnVideoEnd",
    "Interval",
    "Timeout",
    "OnReceiveUDPData",
    "OnConnect",
    "OnReceiveData",
    "OnDisconnect",
    "OnARexx",
    "OnUserMessage",
    "FillMusicBuffer",
};

template <typename Push>
void SetField(qvVmState* L, MessageName field, Push push) {
    PushMessageName(L, field);
    push();
    VmRawSet(L, -3);
}

}  // namespace

void InternMessageNames(qvVmState* L, MessageNames* names) {
    for (int i = 0; i < kMessageNameCount; ++i) names->strings[i] = VmNewFixedString(L, kTexts[i]);
}

void PushMessageName(qvVmState* L, MessageName name) {
    const qvEventState* state = EventState();
    qvString* interned = state != nullptr ? state->names.strings[int(name)] : nullptr;
    if (interned == nullptr) {
        VmPushString(L, kTexts[int(name)]);
        return;
    }
    qvValue value{};
    value.tag = VM_TSTRING;
    value.value.gc = interned;
    VmPushObject(L, &value);
}

void SetMessageField(qvVmState* L, MessageName field, int32_t value) {
    SetField(L, field, [&] { VmPushNumber(L, value); });
}

void SetMessageField(qvVmState* L, MessageName field, const qvObjectId& id) {
    SetField(L, field, [&] { PushObjectId(L, id); });
}

void SetMessageField(qvVmState* L, MessageName field, MessageName value) {
    SetField(L, field, [&] { PushMessageName(L, value); });
}

void SetMessageField(qvVmState* L, MessageName field, const char* text) {
    SetField(L, field, [&] { VmPushString(L, text); });
}

}  // namespace qv::events

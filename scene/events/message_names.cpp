#include "scene/events/message_names.h"

#include <algorithm>
#include <iterator>

#include "runtime/arguments.h"

namespace qv::events {
namespace {

// Each name's text, in the order of the names (checked below).
struct NameText {
    MessageName name;
    const char* text;
};
constexpr NameText kTexts[] = {
    {MessageName::kAction, "action"},
    {MessageName::kKey, "key"},
    {MessageName::kId, "id"},
    {MessageName::kUserData, "userdata"},
    {MessageName::kResults, "results"},
    {MessageName::kNResults, "nresults"},
    {MessageName::kTriggered, "triggered"},
    {MessageName::kX, "x"},
    {MessageName::kY, "y"},
    {MessageName::kWidth, "width"},
    {MessageName::kHeight, "height"},
    {MessageName::kMouseDown, "mousedown"},
    {MessageName::kRightMouseDown, "rightmousedown"},
    {MessageName::kMidMouseDown, "midmousedown"},
    {MessageName::kDisplay, "display"},
    {MessageName::kLayer, "layer"},
    {MessageName::kLayerName, "layername"},
    {MessageName::kCommand, "command"},
    {MessageName::kArgs, "args"},
    {MessageName::kRawArgs, "rawargs"},
    {MessageName::kArgc, "argc"},
    {MessageName::kDropFiles, "dropfiles"},
    {MessageName::kNumDropFiles, "numdropfiles"},
    {MessageName::kServerId, "serverid"},
    {MessageName::kClientId, "clientid"},
    {MessageName::kTime, "time"},
    {MessageName::kStarts, "starts"},
    {MessageName::kMode, "mode"},
    {MessageName::kOrientation, "orientation"},
    {MessageName::kSamples, "samples"},
    {MessageName::kCount, "count"},
    {MessageName::kNoAction, ""},
    {MessageName::kOnKeyDown, "OnKeyDown"},
    {MessageName::kOnKeyUp, "OnKeyUp"},
    {MessageName::kOnMouseDown, "OnMouseDown"},
    {MessageName::kOnMouseUp, "OnMouseUp"},
    {MessageName::kOnRightMouseDown, "OnRightMouseDown"},
    {MessageName::kOnRightMouseUp, "OnRightMouseUp"},
    {MessageName::kOnMidMouseDown, "OnMidMouseDown"},
    {MessageName::kOnMidMouseUp, "OnMidMouseUp"},
    {MessageName::kOnWheelUp, "OnWheelUp"},
    {MessageName::kOnWheelDown, "OnWheelDown"},
    {MessageName::kOnMouseOver, "OnMouseOver"},
    {MessageName::kOnMouseOut, "OnMouseOut"},
    {MessageName::kOnMouseMove, "OnMouseMove"},
    {MessageName::kMoveWindow, "MoveWindow"},
    {MessageName::kSizeWindow, "SizeWindow"},
    {MessageName::kInactiveWindow, "InactiveWindow"},
    {MessageName::kCloseWindow, "CloseWindow"},
    {MessageName::kActiveWindow, "ActiveWindow"},
    {MessageName::kHideWindow, "HideWindow"},
    {MessageName::kShowWindow, "ShowWindow"},
    {MessageName::kModeSwitch, "ModeSwitch"},
    {MessageName::kOnDropFile, "OnDropFile"},
    {MessageName::kClipboardChange, "ClipboardChange"},
    {MessageName::kOrientationChange, "OrientationChange"},
    {MessageName::kShowKeyboard, "ShowKeyboard"},
    {MessageName::kHideKeyboard, "HideKeyboard"},
    {MessageName::kOnSampleLoop, "OnSampleLoop"},
    {MessageName::kOnSampleEnd, "OnSampleEnd"},
    {MessageName::kOnMusicEnd, "OnMusicEnd"},
    {MessageName::kOnVideoEnd, "OnVideoEnd"},
    {MessageName::kInterval, "Interval"},
    {MessageName::kTimeout, "Timeout"},
    {MessageName::kOnReceiveUdpData, "OnReceiveUDPData"},
    {MessageName::kOnConnect, "OnConnect"},
    {MessageName::kOnReceiveData, "OnReceiveData"},
    {MessageName::kOnDisconnect, "OnDisconnect"},
    {MessageName::kOnARexx, "OnARexx"},
    {MessageName::kOnUserMessage, "OnUserMessage"},
    {MessageName::kFillMusicBuffer, "FillMusicBuffer"},
};

constexpr bool InEnumOrder() {
    for (size_t i = 0; i < std::size(kTexts); ++i) {
        if (size_t(kTexts[i].name) != i) return false;
    }
    return true;
}
static_assert(std::size(kTexts) == kMessageNameCount && InEnumOrder());

template <typename Push>
void SetField(qvVmState* L, MessageName field, Push push) {
    PushMessageName(L, field);
    push();
    VmRawSet(L, -3);
}

// The names fixed in the engine that registered the event library; an entry left empty
// (registration ran out of memory) is interned when it is used. They live here rather than
// in the dispatcher's record: read from there, they missed the cache at every event.
qvString* names[kMessageNameCount];
qvString* characters[256];  // one-character key names, with names
bool engineBound = false;

void PushString(qvVmState* L, qvString* s) {
    qvValue value{};
    value.tag = VM_TSTRING;
    value.value.gc = s;
    VmPushObject(L, &value);
}

}  // namespace

void InternMessageNames(qvVmState* L) {
    ForgetMessageNames();
    engineBound = true;
    for (int i = 0; i < kMessageNameCount; ++i) names[i] = VmNewFixedString(L, kTexts[i].text);
}

void ForgetMessageNames() {
    std::fill(std::begin(names), std::end(names), nullptr);
    std::fill(std::begin(characters), std::end(characters), nullptr);
    engineBound = false;
}

void PushMessageName(qvVmState* L, MessageName name) {
    if (qvString* interned = names[int(name)]) {
        PushString(L, interned);
    } else {
        VmPushString(L, kTexts[int(name)].text);
    }
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

void SetKeyField(qvVmState* L, const char* name) {
    if (!engineBound || name[0] == '\0' || name[1] != '\0') {
        SetMessageField(L, MessageName::kKey, name);
        return;
    }
    qvString*& interned = characters[uint8_t(name[0])];
    if (interned == nullptr) interned = VmNewFixedString(L, name);
    SetField(L, MessageName::kKey, [&] { PushString(L, interned); });
}

}  // namespace qv::events

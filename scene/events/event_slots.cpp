#include "scene/events/event_slots.h"

#include <algorithm>
#include <array>

#include "platform/linux/timers.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/attributes.h"
#include "scene/events/event_displays.h"

namespace qv::events {
namespace {

using gfx::kDisplayEventCount;
using gfx::kDisplayEventNames;
using gfx::kGlobalEventCount;
using gfx::kGlobalEventNames;

constexpr qvEventHandler kEmptySlot{-1, -1};
constexpr int kFieldCount = kDisplayEventCount + kGlobalEventCount;
constexpr GlobalSlot kNetworkSlots[] = {kOnConnect, kOnDisconnect, kOnReceiveData,
                                        kOnReceiveUdpData};

std::array<qvEventHandler, kGlobalEventCount> globalSlots = [] {
    std::array<qvEventHandler, kGlobalEventCount> slots;
    slots.fill(kEmptySlot);
    return slots;
}();

bool AnyNetworkHandler() {
    return std::any_of(std::begin(kNetworkSlots), std::end(kNetworkSlots),
                       [](GlobalSlot s) { return HasHandler(globalSlots[s]); });
}

const char* FieldName(int field) {
    return field < kDisplayEventCount ? kDisplayEventNames[field]
                                      : kGlobalEventNames[field - kDisplayEventCount];
}

// Pushes t[name] of the table at idx and returns its type; a value that is neither nil, a
// number nor a function raises the argument error.
int PushHandlerField(qvVmState* L, int idx, const char* name) {
    VmPushString(L, name);
    VmGetTable(L, idx);
    const int type = VmType(L, -1);
    if (type != VM_TNIL && type != VM_TNUMBER) CheckArgFunction(L, VmGetTop(L));
    return type;
}

// The references one call makes before it stores any: released again unless committed, so
// that a failure (a field of the wrong type, memory running out) leaves every slot as it was.
class PendingSlots {
public:
    explicit PendingSlots(qvVmState* L) : L_(L) { pending_.fill({-2, -1}); }
    ~PendingSlots() {
        for (const qvEventHandler& p : pending_) {
            FreeRef(L_, VM_REGISTRYINDEX, p.function);
            FreeRef(L_, VM_REGISTRYINDEX, p.userData);
        }
    }
    PendingSlots(const PendingSlots&) = delete;
    PendingSlots& operator=(const PendingSlots&) = delete;

    // The field's function (-2 absent, -1 remove) and its user data.
    qvEventHandler& operator[](int field) { return pending_[field]; }
    // Hands the references over: they belong to the slots now.
    void Commit() { pending_.fill({-2, -1}); }

private:
    qvVmState* L_;
    std::array<qvEventHandler, kFieldCount> pending_;
};

qvEventHandler* SlotOf(int field, qvEventHandler* displaySlots) {
    if (field >= kDisplayEventCount) return &globalSlots[field - kDisplayEventCount];
    return displaySlots != nullptr ? &displaySlots[field] : nullptr;
}

// Keeps the run-time in step with the slots: close reporting, the window's drop target and
// clipboard hook, the fire task's tick and the sound attributes. The first error.
int ApplySideEffects(qvVmState* L, qvDisplay* display, const qvEventHandler& dropBefore,
                     const qvEventHandler& clipboardBefore, bool networkBefore) {
    EventDisplays& displays = Displays();
    int code = 0;
    const auto keep = [&code](int result) {
        if (code == 0) code = result;
    };
    if (display != nullptr) {
        const qvEventHandler* slots = displays.EventHandlers(display);
        displays.SetCloseReporting(display, HasHandler(slots[kCloseWindow]));
        qvPlatformDisplay* window = displays.Window(display);
        if (window != nullptr && displays.IsOpen(display) &&
            slots[kOnDropFile].function != dropBefore.function) {
            keep(UpdateDisplayAppWindow(window, HasHandler(slots[kOnDropFile])));
        }
        if (window != nullptr && slots[kClipboardChange].function != clipboardBefore.function) {
            keep(SetClipboardChangeHook(window, HasHandler(slots[kClipboardChange])));
        }
    }
    const bool networkAfter = AnyNetworkHandler();
    if (!networkAfter && networkBefore) StopFireTaskUser(L, 1);
    if (networkAfter && !networkBefore) keep(StartFireTask(L, 1));
    const qvAttrSet attributes[] = {
        {QV_ATTR_SAMPLELOOPEVENTS, HasHandler(globalSlots[kOnSampleLoop])},
        {QV_ATTR_SAMPLEENDEVENTS, HasHandler(globalSlots[kOnSampleEnd])},
        {QV_ATTR_MUSICENDEVENTS, HasHandler(globalSlots[kOnMusicEnd])},
        {QV_ATTR_VIDEOENDEVENTS, HasHandler(globalSlots[kOnVideoEnd])},
        {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, attributes);
    return code;
}

}  // namespace

qvEventHandler* GlobalEventSlots() {
    return globalSlots.data();
}

void ResetGlobalEventSlots(qvVmState* L) {
    for (qvEventHandler& slot : globalSlots) {
        if (L != nullptr) {
            FreeRef(L, VM_REGISTRYINDEX, slot.function);
            FreeRef(L, VM_REGISTRYINDEX, slot.userData);
        }
        slot = kEmptySlot;
    }
}

int GetHandlerField(qvVmState* L, int idx, const char* name) {
    const int type = PushHandlerField(L, idx, name);
    if (type == VM_TFUNCTION) return MakeRef(L, VM_REGISTRYINDEX);
    VmSetTop(L, -2);
    return type == VM_TNIL ? -2 : -1;
}

void StoreHandlerRef(qvVmState* L, qvEventHandler* slot, int32_t function, bool userDataGiven,
                     int32_t userData) {
    FreeRef(L, VM_REGISTRYINDEX, slot->function);
    slot->function = function;
    if (!userDataGiven && function != -1) return;
    FreeRef(L, VM_REGISTRYINDEX, slot->userData);
    slot->userData = userDataGiven ? userData : -1;
}

}  // namespace qv::events

int InstallEventHandler(qvVmState* L) {
    using namespace qv::events;
    CheckArgCount(L, 1, 2);
    CheckArgTable(L, 1);
    const bool userDataGiven = VmGetTop(L) == 2;
    qvDisplay* display = Displays().CurrentDisplay();
    qvEventHandler* displaySlots = display != nullptr ? Displays().EventHandlers(display) : nullptr;
    const qvEventHandler dropBefore = displaySlots ? displaySlots[kOnDropFile] : kEmptySlot;
    const qvEventHandler clipboardBefore =
        displaySlots ? displaySlots[kClipboardChange] : kEmptySlot;
    const bool networkBefore = AnyNetworkHandler();

    // Every field is checked before any reference is made, and every reference is made before
    // any slot changes.
    for (int field = 0; field < kFieldCount; ++field) {
        PushHandlerField(L, 1, FieldName(field));
        VmSetTop(L, -2);
    }
    PendingSlots pending(L);
    for (int field = 0; field < kFieldCount; ++field) {
        if (SlotOf(field, displaySlots) == nullptr) continue;
        pending[field].function = GetHandlerField(L, 1, FieldName(field));
        if (pending[field].function != -2 && userDataGiven) {
            VmPushValue(L, 2);
            pending[field].userData = MakeRef(L, VM_REGISTRYINDEX);
        }
    }
    for (int field = 0; field < kFieldCount; ++field) {
        qvEventHandler* slot = SlotOf(field, displaySlots);
        if (slot == nullptr || pending[field].function == -2) continue;
        StoreHandlerRef(L, slot, pending[field].function, userDataGiven, pending[field].userData);
    }
    pending.Commit();
    return ApplySideEffects(L, display, dropBefore, clipboardBefore, networkBefore);
}

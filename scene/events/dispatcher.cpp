#include "scene/events/dispatcher.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "gfx/library/neighbours.h"
#include "libs/arexx/arexx_library.h"
#include "libs/network/network_library.h"
#include "media/sound_events.h"
#include "platform/linux/memory.h"
#include "platform/linux/time.h"
#include "platform/linux/timers.h"
#include "platform/linux/user_port.h"
#include "platform/linux/wait.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/input_pump.h"
#include "runtime/key_table.h"
#include "runtime/runtime_state.h"
#include "runtime/timed_wait.h"
#include "scene/events/event_displays.h"
#include "scene/events/event_slots.h"
#include "scene/events/intervals.h"
#include "scene/events/owned_ref.h"
#include "scene/events/passes.h"

namespace qv::events {
namespace {

// Resume steps: where the next call continues.
enum Step : int32_t {
    kNewCycle = 0,
    kTimerStep = 1,
    kSoundStep = 2,
    kMouseMoveStep = 3,
    kARexxStep = 4,
    kSecondHalfStep = 5,
    kQueueStep = 6,
    kHoverStep = 7,
    kUdpStep = 9,
    kConnectStep = 10,
    kReceiveStep = 11,
    kDisconnectStep = 12,
    kMusicStep = 13,
    kUserMessageStep = 14,
};

// The sources in cycle order.
enum class Stage {
    kMusic,
    kTimers,
    kSound,
    kMouseMove,
    kUdp,
    kConnect,
    kReceive,
    kDisconnect,
    kARexx,
    kUserMessages,
    kQueue,
    kLegacyHover,
    kHover,
    kEnd,
};

// The display slot, message kind and action of the events that reach display handlers after
// the mouse buttons.
struct DisplayEventRow {
    uint32_t type;
    DisplaySlot slot;
    int32_t kind;
    MessageName action;
};
constexpr DisplayEventRow kDisplayEvents[] = {
    {QV_EVENT_MOVEWINDOW, kMoveWindow, QV_MSG_MOVEWINDOW, MessageName::kMoveWindow},
    {QV_EVENT_SIZEWINDOW, kSizeWindow, QV_MSG_SIZEWINDOW, MessageName::kSizeWindow},
    {QV_EVENT_INACTIVE, kInactiveWindow, QV_MSG_INPUT, MessageName::kInactiveWindow},
    {QV_EVENT_CLOSEWINDOW, kCloseWindow, QV_MSG_INPUT, MessageName::kCloseWindow},
    {QV_EVENT_ACTIVE, kActiveWindow, QV_MSG_INPUT, MessageName::kActiveWindow},
    {QV_EVENT_HIDDEN, kHideWindow, QV_MSG_INPUT, MessageName::kHideWindow},
    {QV_EVENT_SHOWN, kShowWindow, QV_MSG_INPUT, MessageName::kShowWindow},
    {QV_EVENT_MODESWITCH, kModeSwitch, QV_MSG_MODESWITCH, MessageName::kModeSwitch},
    {QV_EVENT_DROPFILES, kOnDropFile, QV_MSG_DROP, MessageName::kOnDropFile},
    {QV_EVENT_CLIPBOARD, kClipboardChange, QV_MSG_INPUT, MessageName::kClipboardChange},
    {QV_EVENT_ORIENTATION, kOrientationChange, QV_MSG_ORIENTATION, MessageName::kOrientationChange},
    {QV_EVENT_KEYBOARDSHOWN, kShowKeyboard, QV_MSG_INPUT, MessageName::kShowKeyboard},
    {QV_EVENT_KEYBOARDHIDDEN, kHideKeyboard, QV_MSG_INPUT, MessageName::kHideKeyboard},
};

// The row of the event type; none for the mouse buttons and keys.
const DisplayEventRow* DisplayEventRowOf(uint32_t type) {
    for (const DisplayEventRow& row : kDisplayEvents) {
        if (row.type == type) return &row;
    }
    return nullptr;
}

// The sound event kinds and the global slots that hear them.
struct SoundRow {
    uint32_t kind;
    GlobalSlot slot;
    MessageName action;
};
constexpr SoundRow kSoundEvents[] = {
    {QV_SOUNDEVENT_SAMPLELOOP, kOnSampleLoop, MessageName::kOnSampleLoop},
    {QV_SOUNDEVENT_SAMPLEEND, kOnSampleEnd, MessageName::kOnSampleEnd},
    {QV_SOUNDEVENT_MUSICEND, kOnMusicEnd, MessageName::kOnMusicEnd},
    {QV_SOUNDEVENT_VIDEOEND, kOnVideoEnd, MessageName::kOnVideoEnd},
};

qvEventState* state = nullptr;

const qvEventHandler& Global(GlobalSlot slot) {
    return GlobalEventSlots()[slot];
}

// A fresh message for one handler.
void Prepare(qvEventMessage* message, int32_t kind, MessageName action,
             const qvEventHandler& slot) {
    StartMessage(message);
    message->kind = kind;
    message->action = action;
    message->function = slot.function;
    message->userData = slot.userData;
}

int Call(qvVmState* L, qvEventMessage* message, Step step) {
    state->resumeStep = step;
    return CallEventHandler(L, message, 0);
}

constexpr uint32_t kTab = KeyCode("TAB"), kEnter = KeyCode("ENTER"), kReturn = KeyCode("RETURN"),
                   kSpace = KeyCode("SPACE");
constexpr uint32_t kFirstSpecialCode = 256;  // codes below are the characters of the layout

// The key name of a key event: what TAB, ENTER, RETURN and SPACE type, the table's names from
// "ESC" to "PAUSE", else the key's character.
void SetKeyName(qvEventMessage* message, uint32_t code) {
    const char* name = nullptr;
    if (code == kTab) {
        name = "        ";
    } else if (code == kEnter || code == kReturn) {
        name = "\n";
    } else if (code == kSpace) {
        name = " ";
    } else if (code >= kFirstSpecialCode) {
        for (int row = kFirstKeyRow; row <= kLastSpecialKeyRow && name == nullptr; ++row) {
            if (kKeyTable[row].code == code) name = kKeyTable[row].name;
        }
    }
    if (name != nullptr) {
        std::strncpy(message->keyName, name, sizeof message->keyName - 1);
    } else {
        message->keyName[0] = static_cast<char>(code);
        message->keyName[1] = '\0';
    }
}

// --- The sources ---

std::optional<int> Music(qvVmState* L, qvEventMessage* message) {
    state->timerCursor = nullptr;
    state->buttonCursor = state->hitButton = state->pressedButton = nullptr;
    state->displayCursor = nullptr;
    qvObjectId id{};
    int32_t count = 0;
    const int32_t samples = QueryMusicStreamEvent(&id, &count);
    if (samples <= 0 || !HasHandler(Global(kFillMusicBuffer))) return std::nullopt;
    state->resumeStep = kMusicStep;
    return CallFillMusicBuffer(L, message, id, samples, count, 0);
}

std::optional<int> Timers(qvVmState* L, bool resumed, qvEventMessage* message) {
    if (!resumed) state->timerCursor = BeginTimerWalk(MonotonicMicros());
    while (state->timerCursor != nullptr) {
        uint32_t kind = QV_TIMER_NONE;
        qvObjectId id{};
        void* owner = nullptr;
        state->timerCursor = ServiceTimerEntry(state->timerCursor, &kind, &id, &owner);
        if (kind == QV_TIMER_INTERVAL) {
            const auto* interval = static_cast<const qvInterval*>(owner);
            if (interval == nullptr || interval->function == -1) continue;
            Prepare(message, QV_MSG_INTERVAL, MessageName::kInterval,
                    {interval->function, interval->userData});
            message->objectId = id;
            return Call(L, message, kTimerStep);
        }
        int32_t function = -1, userData = -1;
        if (kind != QV_TIMER_TIMEOUT || !TakeTimeout(L, id, &function, &userData)) continue;
        // The record is gone before its handler runs; its references go after it.
        const OwnedRef functionRef(L, function), userDataRef(L, userData);
        Prepare(message, QV_MSG_TIMEOUT, MessageName::kTimeout, {function, userData});
        message->objectId = id;
        return Call(L, message, kTimerStep);
    }
    return std::nullopt;
}

std::optional<int> Sound(qvVmState* L, qvEventMessage* message) {
    const bool heard =
        std::any_of(std::begin(kSoundEvents), std::end(kSoundEvents),
                    [](const SoundRow& row) { return HasHandler(Global(row.slot)); });
    if (!heard) return std::nullopt;
    uint32_t kind = 0;
    qvObjectId id{};
    int32_t time = 0, starts = 0;
    while (PollSoundEvent(&kind, &id, &time, &starts) != 0) {
        for (const SoundRow& row : kSoundEvents) {
            if (row.kind != kind || !HasHandler(Global(row.slot))) continue;
            Prepare(message, QV_MSG_SOUND, row.action, Global(row.slot));
            message->objectId = id;
            message->time = time, message->starts = starts;
            return Call(L, message, kSoundStep);
        }
    }
    return std::nullopt;
}

// Milliseconds since the pump saw the movement (monotonic, as the pump stamps it).
int64_t AgeInMilliseconds(const qvTimeVal& when) {
    qvTimeVal now;
    MonotonicTime(&now);
    TimerSubTime(&now, &when);
    return int64_t{int32_t(now.seconds)} * 1000 + now.microseconds / 1000;
}

std::optional<int> MouseMove(qvVmState* L, bool resumed, qvEventMessage* message) {
    EventDisplays& displays = Displays();
    if (!resumed) state->displayCursor = displays.FirstDisplay();
    while (qvDisplay* display = state->displayCursor) {
        state->displayCursor = displays.NextDisplay(display);
        const qvEventHandler& slot = displays.EventHandlers(display)[kOnMouseMove];
        qvTimeVal when{};
        if (!HasHandler(slot) || !displays.MouseMoved(display, &when)) continue;
        if (AgeInMilliseconds(when) > Runtime().eventTimeout) continue;
        Prepare(message, QV_MSG_MOUSEMOVE, MessageName::kOnMouseMove, slot);
        message->display = display;
        return Call(L, message, kMouseMoveStep);
    }
    return std::nullopt;
}

qvNetObject* NetHead(uint32_t type) {
    return reinterpret_cast<qvNetObject*>(*NetworkList(type));
}

qvNetObject* NetNext(const qvNetObject* node) {
    return reinterpret_cast<qvNetObject*>(node->header.next);
}

// One network pass: the walking position cursor visits the list of type, and poll tells
// whether node raises the event (filling the message's objects).
template <typename Poll>
std::optional<int> NetworkPass(qvVmState* L, bool resumed, GlobalSlot slot, uint32_t type,
                               qvNetObject*& cursor, int32_t kind, MessageName action, Step step,
                               qvEventMessage* message, Poll poll) {
    if (!HasHandler(Global(slot))) return std::nullopt;
    if (!resumed) cursor = NetHead(type);
    while (qvNetObject* node = cursor) {
        cursor = NetNext(node);
        Prepare(message, kind, action, Global(slot));
        if (poll(node, message)) return Call(L, message, step);
    }
    ClearMessage(message);
    return std::nullopt;
}

std::optional<int> Udp(qvVmState* L, bool resumed, qvEventMessage* message) {
    return NetworkPass(L, resumed, kOnReceiveUdpData, QV_OBJ_UDPOBJECT, NetworkWalk().udp,
                       QV_MSG_RECEIVEUDP, MessageName::kOnReceiveUdpData, kUdpStep, message,
                       [](qvNetObject* node, qvEventMessage* m) {
                           m->udp = node;
                           return PollUdpData(node) != 0;
                       });
}

std::optional<int> Connect(qvVmState* L, bool resumed, qvEventMessage* message) {
    return NetworkPass(L, resumed, kOnConnect, QV_OBJ_SERVER, NetworkWalk().server, QV_MSG_CONNECT,
                       MessageName::kOnConnect, kConnectStep, message,
                       [](qvNetObject* node, qvEventMessage* m) {
                           m->server = node;
                           return PollServerAccept(node, &m->connection) != 0;
                       });
}

std::optional<int> Receive(qvVmState* L, bool resumed, qvEventMessage* message) {
    return NetworkPass(L, resumed, kOnReceiveData, QV_OBJ_CLIENT, NetworkWalk().client,
                       QV_MSG_RECEIVE, MessageName::kOnReceiveData, kReceiveStep, message,
                       [](qvNetObject* node, qvEventMessage* m) {
                           m->connection = node;
                           return PollConnectionData(node) != 0;
                       });
}

std::optional<int> Disconnect(qvVmState* L, bool resumed, qvEventMessage* message) {
    return NetworkPass(L, resumed, kOnDisconnect, QV_OBJ_CLIENT, NetworkWalk().client,
                       QV_MSG_DISCONNECT, MessageName::kOnDisconnect, kDisconnectStep, message,
                       [](qvNetObject* node, qvEventMessage* m) {
                           m->connection = node;
                           return PollConnectionClosed(node) != 0;
                       });
}

std::optional<int> ARexx(qvVmState* L, qvEventMessage* message) {
    const int code = CallOnARexx(L, 1, 1, message);
    if (code != 0 || message->kind != QV_MSG_NONE) return code;
    return std::nullopt;
}

std::optional<int> UserMessages(qvVmState* L, qvEventMessage* message) {
    int delivered = 0;
    const int code = CallOnUserMessage(L, message, &delivered);
    if (code != 0 || delivered != 0) return code;
    return std::nullopt;
}

// --- Queued input ---

// Frees the held event's extra block when the event is done with, also when a handler's
// call unwinds.
class HeldEventDone {
public:
    HeldEventDone() = default;
    ~HeldEventDone() {
        FreeMemBlock(state->currentEvent.extra);
        state->currentEvent.extra = nullptr;
        state->holdingEvent = false;
    }
    HeldEventDone(const HeldEventDone&) = delete;
    HeldEventDone& operator=(const HeldEventDone&) = delete;
};

// Takes the first queued event (after dropping the expired ones) as the held event.
bool TakeNextEvent() {
    state->currentEvent = {};
    if (!TakeFirstEvent(&state->currentEvent)) return false;
    state->holdingEvent = true;
    return true;
}

// The display's slot for a mouse-button or wheel event; -1 for other events.
int MouseSlot(const qvInputEvent& event, MessageName* action) {
    struct Row {
        uint32_t type;
        int down, up;
        MessageName downAction;
        MessageName upAction;
    };
    static constexpr Row kRows[] = {
        {QV_EVENT_LEFTMOUSE, kOnMouseDown, kOnMouseUp, MessageName::kOnMouseDown,
         MessageName::kOnMouseUp},
        {QV_EVENT_RIGHTMOUSE, kOnRightMouseDown, kOnRightMouseUp, MessageName::kOnRightMouseDown,
         MessageName::kOnRightMouseUp},
        {QV_EVENT_MIDMOUSE, kOnMidMouseDown, kOnMidMouseUp, MessageName::kOnMidMouseDown,
         MessageName::kOnMidMouseUp},
        {QV_EVENT_WHEELUP, kOnWheelUp, kOnWheelUp, MessageName::kOnWheelUp,
         MessageName::kOnWheelUp},
        {QV_EVENT_WHEELDOWN, kOnWheelDown, kOnWheelDown, MessageName::kOnWheelDown,
         MessageName::kOnWheelDown},
    };
    for (const Row& row : kRows) {
        if (row.type != event.type) continue;
        const bool down = event.down != 0;
        *action = down ? row.downAction : row.upAction;
        return down ? row.down : row.up;
    }
    return -1;
}

// The display's own mouse handler runs first; the rest of the event waits for the next call.
std::optional<int> FirstHalf(qvVmState* L, qvEventMessage* message) {
    const qvInputEvent& event = state->currentEvent;
    MessageName action = MessageName::kNoAction;
    const int slot = MouseSlot(event, &action);
    if (event.display == nullptr || slot < 0) return std::nullopt;
    const qvEventHandler& handler = Displays().EventHandlers(event.display)[slot];
    if (!HasHandler(handler)) return std::nullopt;
    Prepare(message, QV_MSG_INPUT, action, handler);
    message->display = event.display;
    return Call(L, message, kSecondHalfStep);
}

// The buttons for a mouse-button event, else the display's slot of the event's type. An event
// whose display was freed meanwhile is dropped.
std::optional<int> SecondHalf(qvVmState* L, qvEventMessage* message) {
    const HeldEventDone done;
    const qvInputEvent& event = state->currentEvent;
    qvDisplay* display = event.display;
    if (display == nullptr) return std::nullopt;
    const uint32_t type = event.type;
    if (type == QV_EVENT_LEFTMOUSE || type == QV_EVENT_RIGHTMOUSE || type == QV_EVENT_MIDMOUSE) {
        if (!ButtonClickPass(L, display, event, message)) return std::nullopt;
        return Call(L, message, kQueueStep);
    }
    const bool key = type == QV_EVENT_KEY;
    const bool down = event.keyDown != 0;
    const DisplaySlot slot = key ? (down ? kOnKeyDown : kOnKeyUp) : kOnKeyDown;
    const DisplayEventRow* row = key ? nullptr : DisplayEventRowOf(type);
    if (!key && row == nullptr) return std::nullopt;
    const qvEventHandler& handler = Displays().EventHandlers(display)[key ? slot : row->slot];
    if (!HasHandler(handler)) return std::nullopt;
    if (key) {
        Prepare(message, QV_MSG_KEY, down ? MessageName::kOnKeyDown : MessageName::kOnKeyUp,
                handler);
        message->keyQualifiers = event.keyQualifiers;
        SetKeyName(message, event.keyCode);
    } else {
        Prepare(message, row->kind, row->action, handler);
    }
    message->display = display;
    // A drop lands in the display's coordinates, as the mouse does.
    const DisplayPoint at =
        Displays().ToDisplay(display, static_cast<int32_t>(event.x), static_cast<int32_t>(event.y),
                             Rounding::kTowardZero);
    message->x = at.x, message->y = at.y;
    if (type == QV_EVENT_DROPFILES) message->dropList = static_cast<const char*>(event.extra);
    return Call(L, message, kQueueStep);
}

std::optional<int> Queue(qvVmState* L, int32_t step, qvEventMessage* message) {
    if (step == kSecondHalfStep && state->holdingEvent) {
        ExpireEvents(L);
        if (std::optional<int> ran = SecondHalf(L, message)) return ran;
    } else if (step != kQueueStep && LegacyLabelsExist()) {
        ExpireEvents(L);
        EventQueueLock lock;
        if (LegacyLabelPass(L, message) == -1) {
            state->resumeStep = kNewCycle;
            message->kind = QV_MSG_LABELJUMP;
            return -1;
        }
    }
    while (TakeNextEvent()) {
        if (std::optional<int> ran = FirstHalf(L, message)) return ran;
        if (std::optional<int> ran = SecondHalf(L, message)) return ran;
    }
    return std::nullopt;
}

std::optional<int> LegacyHover(qvVmState* L, int hoverLabels, qvEventMessage* message) {
    EventDisplays& displays = Displays();
    const qvDisplay* current = displays.CurrentDisplay();
    if (!LegacyLabelsExist() || hoverLabels != 0 || current == nullptr ||
        !displays.IsOpen(current)) {
        return std::nullopt;
    }
    if (LegacyHoverCheck(L, message) != -1) return std::nullopt;
    state->resumeStep = kNewCycle;
    message->kind = QV_MSG_LABELJUMP;
    return -1;
}

std::optional<int> Hover(qvVmState* L, bool resumed, qvEventMessage* message) {
    EventDisplays& displays = Displays();
    if (!resumed) state->displayCursor = displays.FirstDisplay();
    while (qvDisplay* display = state->displayCursor) {
        const qvPlatformDisplay* window = displays.Window(display);
        const int32_t x = window != nullptr ? window->pointer.mouseX : 0;
        const int32_t y = window != nullptr ? window->pointer.mouseY : 0;
        qvTimeVal when{};
        if (resumed || displays.MouseMoved(display, &when)) {
            if (!resumed) displays.ClearMouseMoved(display);
            if (ButtonHoverPass(L, display, x, y, resumed, message)) {
                return Call(L, message, kHoverStep);
            }
        }
        resumed = false;
        state->displayCursor = displays.NextDisplay(display);
    }
    return std::nullopt;
}

std::optional<int> RunStage(qvVmState* L, Stage stage, int32_t step, bool resumed, int hoverLabels,
                            qvEventMessage* message) {
    switch (stage) {
        case Stage::kMusic:
            return Music(L, message);
        case Stage::kTimers:
            return Timers(L, resumed, message);
        case Stage::kSound:
            return Sound(L, message);
        case Stage::kMouseMove:
            return MouseMove(L, resumed, message);
        case Stage::kUdp:
            return Udp(L, resumed, message);
        case Stage::kConnect:
            return Connect(L, resumed, message);
        case Stage::kReceive:
            return Receive(L, resumed, message);
        case Stage::kDisconnect:
            return Disconnect(L, resumed, message);
        case Stage::kARexx:
            return ARexx(L, message);
        case Stage::kUserMessages:
            return UserMessages(L, message);
        case Stage::kQueue:
            return Queue(L, resumed ? step : kNewCycle, message);
        case Stage::kLegacyHover:
            return LegacyHover(L, hoverLabels, message);
        case Stage::kHover:
            return Hover(L, resumed, message);
        case Stage::kEnd:
            break;
    }
    return std::nullopt;
}

// Where a resume step continues, and whether that is inside the source's scan.
struct Entry {
    Stage stage;
    bool resumed;
};
Entry EntryOf(int32_t step) {
    switch (step) {
        case kMusicStep:
            return {Stage::kTimers, false};
        case kTimerStep:
            return {Stage::kTimers, true};
        case kSoundStep:
            return {Stage::kSound, true};
        case kMouseMoveStep:
            return {Stage::kMouseMove, true};
        case kUdpStep:
            return {Stage::kUdp, true};
        case kConnectStep:
            return {Stage::kConnect, true};
        case kReceiveStep:
            return {Stage::kReceive, true};
        case kDisconnectStep:
            return {Stage::kDisconnect, true};
        case kARexxStep:
            return {Stage::kARexx, true};
        case kUserMessageStep:
            return {Stage::kUserMessages, true};
        case kSecondHalfStep:
        case kQueueStep:
            return {Stage::kQueue, true};
        case kHoverStep:
            return {Stage::kHover, true};
        default:
            return {Stage::kMusic, false};
    }
}

// Sets the field of the table on top of the stack to what push pushes, as a script's
// assignment does: the handler may have given its message table a metatable.
template <typename Push>
void AssignField(qvVmState* L, MessageName field, Push push) {
    PushMessageName(L, field);
    push();
    VmSetTable(L, -3);
}

// The result table of WaitEvent and CheckEvent: the copy of the message table that the
// handler's call left below its results, or a new table when none ran.
int PushResultTable(qvVmState* L, const qvEventMessage& message) {
    int results = 0;
    if (message.kind == QV_MSG_NONE) {
        VmNewTable(L);
    } else {
        const int table = message.stackHeight + 1;
        results = VmGetTop(L) - table;
        VmPushValue(L, table);
        if (results > 0) {
            PushMessageName(L, MessageName::kResults);
            VmNewTable(L);
            for (int i = 0; i < results; ++i) {
                VmPushValue(L, table + 1 + i);
                VmRawSetI(L, -2, i);
            }
            VmRawSet(L, -3);
        }
    }
    AssignField(L, MessageName::kAction, [&] { PushMessageName(L, message.action); });
    const qvObjectId id = message.hasId ? message.id : qvObjectId{0, nullptr};
    AssignField(L, MessageName::kId, [&] { PushObjectId(L, id); });
    AssignField(L, MessageName::kNResults, [&] { VmPushNumber(L, results); });
    AssignField(L, MessageName::kTriggered,
                [&] { VmPushNumber(L, message.kind != QV_MSG_NONE ? 1 : 0); });
    return 1;
}

// The timed wait's service: the handlers of what is pending, until the dispatcher's cycle ends
// without one. Inside a handler it runs none: that would overwrite the state the outer dispatch
// resumes (the event it holds, its cursors); what is pending waits for the outer wait.
int ServeEventsInWait(qvVmState* L) {
    if (state == nullptr || CallbackDepth() != 0) return 0;
    qvEventMessage message;
    for (;;) {
        const int top = VmGetTop(L);
        const int code = DispatchEvent(L, 0, &message);
        VmSetTop(L, top);  // the message table's copy and the handler's results
        if (code != 0 || message.kind == QV_MSG_NONE) return code;
    }
}

void WaitSignalsInWait(qvVmState* L, int64_t until) {
    WaitSignals(L, -1, until);
}

constexpr WaitService kWaitService = {ServeEventsInWait, WaitSignalsInWait};

}  // namespace

int32_t CallbackDepth() {
    return Runtime().error.nestedCalls;
}

qvEventState* EventState() {
    return state;
}

int OpenEventState(qvVmState* L) {
    CloseEventState();
    state = static_cast<qvEventState*>(AllocMemBlock(sizeof(qvEventState), 1));
    if (state == nullptr) return ERR_MEM;
    InternMessageNames(L);
    SetWaitService(&kWaitService);
    return 0;
}

void CloseEventState() {
    SetWaitService(nullptr);
    ForgetMessageNames();
    if (state == nullptr) return;
    FreeMemBlock(state->currentEvent.extra);
    FreeMemBlock(state);
    state = nullptr;
}

void ForgetEventDisplay(qvDisplay* display, qvDisplay* successor) {
    if (state == nullptr) return;
    if (state->displayCursor == display) {
        state->displayCursor = successor;
        state->buttonCursor = state->hitButton = state->pressedButton = nullptr;
    }
    if (state->holdingEvent && state->currentEvent.display == display) {
        state->currentEvent.display = nullptr;
    }
}

}  // namespace qv::events

int DispatchEvent(qvVmState* L, int hoverLabels, qvEventMessage* message) {
    using namespace qv::events;
    message->kind = QV_MSG_NONE;
    message->hasId = false;
    if (state == nullptr) return 0;
    const int32_t step = state->resumeStep;
    Entry entry = EntryOf(step);
    for (; entry.stage != Stage::kEnd;
         entry = {static_cast<Stage>(static_cast<int>(entry.stage) + 1), false}) {
        if (std::optional<int> ran =
                RunStage(L, entry.stage, step, entry.resumed, hoverLabels, message)) {
            return *ran;
        }
    }
    state->resumeStep = kNewCycle;
    return 0;
}

int WaitOrCheckEvent(qvVmState* L, int wait) {
    using namespace qv::events;
    if (CallbackDepth() != 0 || state == nullptr) return ERR_WRONGUSAGE;
    qvEventMessage message;
    const bool midCycle = state->resumeStep != kNewCycle;
    int code = DispatchEvent(L, 0, &message);
    if (code == 0 && message.kind == QV_MSG_NONE && midCycle) code = DispatchEvent(L, 0, &message);
    while (code == 0 && message.kind == QV_MSG_NONE && wait != 0) {
        if (!qv::gfx::Neighbour().VideoDumpRecording()) WaitSignals(L, -1);
        if (PumpEvents(L) != 0) return 0;
        code = DispatchEvent(L, 0, &message);
    }
    if (code != 0) return code;
    return PushResultTable(L, message);
}

int WaitEvent(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    qv::events::EventDisplays& displays = qv::events::Displays();
    const qvDisplay* current = displays.CurrentDisplay();
    if (current == nullptr || !displays.IsOpen(current)) return ERR_CLOSEDDISPDRAW;
    return WaitOrCheckEvent(L, 1);
}

int CheckEvent(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    return WaitOrCheckEvent(L, 0);
}

int CallOnARexx(qvVmState* L, int deliver, int single, qvEventMessage* message) {
    using namespace qv::events;
    int result = 0;
    while (std::unique_ptr<qv::RexxMessage> incoming = GetRexxPortMessage()) {
        qvEventMessage own;
        qvEventMessage* target = message != nullptr ? message : &own;
        const bool delivered = deliver != 0 && HasHandler(Global(kOnARexx));
        if (delivered) {
            // Only the dispatcher's own call moves its resume step.
            if (message != nullptr && state != nullptr) state->resumeStep = kARexxStep;
            Prepare(target, QV_MSG_AREXX, MessageName::kOnARexx, Global(kOnARexx));
            target->command = GetRexxArg0(*incoming);
            const int top = VmGetTop(L);
            result = CallEventHandler(L, target, message == nullptr);
            if (message == nullptr) VmSetTop(L, top);
        }
        const std::string_view reply =
            target->reply ? std::string_view(target->reply.get(), target->replyLength) : "";
        ReplyRexxMessage(std::move(incoming), reply);
        target->reply.reset();
        if (delivered && (single != 0 || result != 0)) break;
    }
    return result;
}

int CallOnUserMessage(qvVmState* L, qvEventMessage* message, int* delivered) {
    using namespace qv::events;
    *delivered = 0;
    while (true) {
        size_t size = 0;
        const std::unique_ptr<char, void (*)(void*)> block(GetPortMessage(&size), FreeMemBlock);
        if (block == nullptr) return 0;
        if (!HasHandler(Global(kOnUserMessage))) continue;
        if (state != nullptr) state->resumeStep = kUserMessageStep;
        Prepare(message, QV_MSG_USERMESSAGE, MessageName::kOnUserMessage, Global(kOnUserMessage));
        message->command = std::string_view(block.get() + 2, size - 2);
        *delivered = 1;
        return CallEventHandler(L, message, 0);
    }
}

int CallFillMusicBuffer(qvVmState* L, qvEventMessage* message, qvObjectId id, int32_t samples,
                        int32_t count, int popResults) {
    using namespace qv::events;
    if (!HasHandler(Global(kFillMusicBuffer))) return 0;
    qvEventMessage own;
    qvEventMessage* target = message != nullptr ? message : &own;
    Prepare(target, QV_MSG_FILLMUSIC, MessageName::kFillMusicBuffer, Global(kFillMusicBuffer));
    target->objectId = id;
    target->samples = samples, target->count = count;
    const int top = VmGetTop(L);
    const int code = CallEventHandler(L, target, popResults);
    if (popResults != 0) VmSetTop(L, top);
    return code;
}

int WaitSignals(qvVmState*, int extraFd, int64_t until) {
    std::vector<int> descriptors;
    qv::CatchAllocFailure(false, [&] {
        descriptors = qv::RexxPortDescriptors();
        for (int fd : qv::UserPortDescriptors()) descriptors.push_back(fd);
        if (extraFd >= 0) descriptors.push_back(extraFd);
        return true;
    });
    BuildWaitMask(descriptors, &qv::Runtime().abortFlag, until);
    return 0;
}

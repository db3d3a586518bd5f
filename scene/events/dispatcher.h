// The event dispatcher behind WaitEvent and CheckEvent: a resumable state machine that visits
// the event sources in a fixed order and calls at most one script handler per call, so that
// every source gets its turn. The resume step is the whole state of a cycle: 0 between
// cycles, else the step of the source whose handler ran last, where the next call continues.
//
// Steps in order (resume step in brackets): music-buffer requests [13], timers [1], sound and
// video ends [2], mouse movement [3], UDP data [9], new connections [10], received data
// [11], closed connections [12], ARexx [4], user messages [14], queued input (display mouse
// handlers [5], then the rest of the event [6]), the legacy hover labels, button hovering
// [7]. A handler may free the objects that the cursors point at: clearing an interval,
// freeing a network object or a display moves the cursor on first.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/vm.h"
#include "platform/linux/blocks.h"
#include "runtime/event_queue.h"
#include "runtime/objects.h"
#include "scene/events/message_names.h"

struct qvBGPic;
struct qvBGPicButton;
struct qvNetObject;
struct qvTimerEntry;

// What happened, by the handler's message kind.
enum : int32_t {
    QV_MSG_NONE = 0,  // no handler ran
    QV_MSG_BUTTON = 1,
    QV_MSG_KEY = 2,
    QV_MSG_INPUT = 3,
    QV_MSG_SIZEWINDOW = 4,
    QV_MSG_MOVEWINDOW = 5,
    QV_MSG_INTERVAL = 6,
    QV_MSG_TIMEOUT = 7,
    QV_MSG_MOUSEMOVE = 8,
    QV_MSG_SOUND = 9,
    QV_MSG_AREXX = 10,
    QV_MSG_LABELJUMP = 11,
    QV_MSG_MODESWITCH = 12,
    QV_MSG_DROP = 13,
    QV_MSG_CONNECT = 14,
    QV_MSG_DISCONNECT = 15,
    QV_MSG_RECEIVE = 16,
    QV_MSG_RECEIVEUDP = 17,
    QV_MSG_USERMESSAGE = 18,
    QV_MSG_ORIENTATION = 19,
    QV_MSG_FILLMUSIC = 20,
};

// The dispatcher's record: allocated cleared when the event library registers, freed at
// shutdown. The network cursors are the network library's (qv::NetworkWalk()), so that
// freeing a network object moves them.
struct qvEventState {
    int32_t resumeStep;  // 0 to 14 (8 is not used)
    qvTimerEntry* timerCursor;
    // The event taken off the queue; its extra block belongs to the dispatcher while held.
    qvInputEvent currentEvent;
    bool holdingEvent;
    qvBGPicButton* buttonCursor;  // the button pass's place
    qvBGPicButton* hitButton;
    qvBGPicButton* pressedButton;
    qvDisplay* displayCursor;  // the mouse-move and hover passes' place
};

// One handler's call, filled by the dispatcher and read by CallEventHandler; lives in the
// frame of the command that dispatches. It is made blank; StartMessage readies it for each
// handler.
struct qvEventMessage {
    // Provided, not defaulted: the members then take their initializers one by one, which
    // compiles to a few wide stores, where a defaulted one clears the whole record first.
    qvEventMessage() {}

    qvDisplay* display = nullptr;
    int32_t kind = QV_MSG_NONE;
    qvBGPic* bgpic = nullptr;
    qvBGPicButton* button = nullptr;
    int32_t function = -1;
    int32_t userData = -1;
    qvObjectId objectId{};  // the interval, timeout, sample, music, video or stream
    uint32_t keyQualifiers = 0;
    int32_t x = 0, y = 0;
    qv::events::MessageName action = qv::events::MessageName::kNoAction;
    char keyName[32] = "";
    int32_t time = 0, starts = 0;  // sound events
    std::string_view command;      // ARexx or user message text
    qv::BlockPtr<char> reply;      // a copy of what an ARexx handler returned
    size_t replyLength = 0;
    const char* dropList = nullptr;  // names, each NUL-terminated, ended by an empty one
    int stackHeight = 0;
    qvNetObject* server = nullptr;
    qvNetObject* connection = nullptr;
    qvNetObject* udp = nullptr;
    int32_t samples = 0, count = 0;
    bool hasId = false;
    qvObjectId id{};       // the object the event belongs to; WaitEvent returns it
    bool started = false;  // StartMessage ran: a handler's fields may be set
};

// Makes the message blank again, in place.
inline void ClearMessage(qvEventMessage* message) {
    std::destroy_at(message);
    std::construct_at(message);
}

// Readies the message for a handler's fields: one that was started before is cleared, a blank
// one is used as it is (the record is large and most events see a fresh one).
inline void StartMessage(qvEventMessage* message) {
    if (message->started) ClearMessage(message);
    message->started = true;
}

// One step of the state machine. hoverLabels is 1 when WhileMouseOn dispatches (the legacy
// hover labels are then skipped). Returns 0 (the cycle ended, or a handler ran and returned
// 0; message->kind tells which), the handler's error code, or -1 after a legacy label jump.
int DispatchEvent(qvVmState* L, int hoverLabels, qvEventMessage* message);
// Builds the message table, calls the handler with it under the engine's protection and, unless
// keepNoCopy is set, leaves a copy of the table below its results for WaitOrCheckEvent.
// Returns 0 or an error code (ERR_USERABORT when the abort flag is set after the call).
int CallEventHandler(qvVmState* L, qvEventMessage* message, int keepNoCopy);
// The body of WaitEvent (wait 1) and CheckEvent (wait 0).
int WaitOrCheckEvent(qvVmState* L, int wait);

// Delivers the messages waiting at the program's ARexx port: with deliver set and an "onarexx"
// handler, each goes to the handler and is answered with its result, else it is answered with
// "". Stops after a delivered message when single is set, or after a failed handler. Returns
// the last handler's result, 0 when none ran. The dispatcher passes its message; other callers
// pass none and find the stack as it was.
int CallOnARexx(qvVmState* L, int deliver, int single, qvEventMessage* message = nullptr);
// Delivers one message of the program's user port to "onusermessage" (dropping every message
// while there is no handler); *delivered tells whether one was delivered. The handler's result.
int CallOnUserMessage(qvVmState* L, qvEventMessage* message, int* delivered);
// The music code's direct request for data: "fillmusicbuffer" with the music's id, samples and
// count; with popResults the handler's results are dropped. 0 without a handler.
int CallFillMusicBuffer(qvVmState* L, qvEventMessage* message, qvObjectId id, int32_t samples,
                        int32_t count, int popResults);
// Waits for the program's signals (platform/linux/wait.h): timers, the fire task's tick, host
// input, the ARexx and user ports, extraFd (-1: none) and the abort flag, until the monotonic
// time until at the latest. Returns 0.
int WaitSignals(qvVmState* L, int extraFd, int64_t until = INT64_MAX);

int WaitEvent(qvVmState* L);
int CheckEvent(qvVmState* L);

namespace qv::events {

// The dispatcher's record; none while the event library is not registered.
qvEventState* EventState();
// Allocates it cleared (ERR_MEM) and interns the message names in L's engine; frees it with
// the held event's extra block and forgets the names.
int OpenEventState(qvVmState* L);
void CloseEventState();

// How deep handler calls are nested (run-time attribute 11): not 0 inside a handler, where a
// command must not dispatch again.
int32_t CallbackDepth();

}  // namespace qv::events

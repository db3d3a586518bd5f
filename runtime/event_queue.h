// The event queue: input from the platform's input pump and hooks on its way to the event
// dispatcher. Posts may come from any thread; reading, removing, expiring and dropping
// display references happen on the main task, which is the only remover. One nestable
// semaphore serialises the posts and the main task's changes; GetEvent and the dispatcher's
// take run without it, which is safe because posters only fill the slot past the queued
// entries and publish it with the tail, while only the main task moves the head.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/time.h"
#include "runtime/objects.h"

// The display library's record. It begins with a qvDisplayPrefix.
struct qvDisplay;

// The first fields of every display record: its object header and the two flags with which
// the display library holds back window-size events (type 5) while it changes the window
// itself; such an event is queued only when both are 0.
struct qvDisplayPrefix {
    qvObjectHeader header;
    uint32_t eventSuppression[2];
};

// One queue entry.
struct qvEvent {
    uint32_t type;
    uint32_t data[3];  // meaning by type: mouse buttons x, y, down; keys down, qualifiers, code
    qvTimeVal stamp;   // when it was posted, on the monotonic clock
    qvDisplay* display;
    void* extra;  // a block of the run-time allocator owned by the entry, or none
};

// The part of the dispatcher's current input event that GetEvent fills.
struct qvInputEvent {
    qvDisplay* display;
    uint32_t type;
    uint32_t x;  // mouse buttons (types 1, 2, 16) and dropped files (14)
    uint32_t y;
    uint32_t down;     // mouse buttons
    uint32_t keyDown;  // keys (type 3)
    uint32_t keyQualifiers;
    uint32_t keyCode;
    void* extra;
};

// Event types: what the input pump posts and the dispatcher reads.
enum : uint32_t {
    QV_EVENT_LEFTMOUSE = 1,
    QV_EVENT_RIGHTMOUSE = 2,
    QV_EVENT_KEY = 3,
    QV_EVENT_MOVEWINDOW = 4,
    QV_EVENT_SIZEWINDOW = 5,
    QV_EVENT_INACTIVE = 6,
    QV_EVENT_CLOSEWINDOW = 7,
    QV_EVENT_ACTIVE = 8,
    QV_EVENT_HIDDEN = 9,
    QV_EVENT_SHOWN = 10,
    QV_EVENT_WHEELUP = 11,
    QV_EVENT_WHEELDOWN = 12,
    QV_EVENT_MODESWITCH = 13,
    QV_EVENT_DROPFILES = 14,
    QV_EVENT_CLIPBOARD = 15,
    QV_EVENT_MIDMOUSE = 16,
    QV_EVENT_ORIENTATION = 17,
    QV_EVENT_KEYBOARDSHOWN = 18,
    QV_EVENT_KEYBOARDHIDDEN = 19,
};

inline constexpr int kEventQueueSize = 256;

// Appends an event stamped with the current time. Returns 1 when it was queued, 0 when not
// (a full queue, a held-back size event, or no queue): the poster then still owns extra and
// frees it.
int PostEvent(qvDisplay* display, uint32_t type, uint32_t data1, uint32_t data2, uint32_t data3,
              void* extra);
// Copies entry index into *out and returns index + 1, or returns 0 when there is no such
// entry. With clearExtra the entry forgets its extra block, which then belongs to *out.
int GetEvent(qvVmState* L, int index, qvInputEvent* out, int clearExtra);
// Removes entries 0 to last (-1: all; a last index beyond the queued entries removes them
// all; one above 255 removes nothing), freeing their extra blocks and moving the rest to the
// front. Always takes the queue's semaphore; the flag is kept for callers that hold it.
void RemoveEvents(qvVmState* L, int last, int lock);
// The events of a closing display stay queued without a display.
void DropDisplayEvents(qvDisplay* display);
// Removes the newest entry older than the event time-out together with every entry before
// it.
void ExpireEvents(qvVmState* L);

namespace qv {

// The queue's semaphore for one scope: the dispatcher holds it across a look at the queue.
class EventQueueLock {
public:
    EventQueueLock();
    ~EventQueueLock();
    EventQueueLock(const EventQueueLock&) = delete;
    EventQueueLock& operator=(const EventQueueLock&) = delete;
};

// The dispatcher's take, on the main task: drops the expired entries, then copies the first
// one into *out with its extra block and removes it. false when none is left.
bool TakeFirstEvent(qvInputEvent* out);

// Made by InitSupport: 0, ERR_MEM or ERR_SEMAPHORE.
int OpenEventQueue();
// Frees every entry's extra block, the queue and its semaphore.
void CloseEventQueue();

inline const qvDisplayPrefix* DisplayPrefixOf(const qvDisplay* display) {
    return reinterpret_cast<const qvDisplayPrefix*>(display);
}
inline qvDisplay* DisplayOfPrefix(qvDisplayPrefix* prefix) {
    return reinterpret_cast<qvDisplay*>(prefix);
}

}  // namespace qv

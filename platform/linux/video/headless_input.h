// The input schedule of a headless player run (QV_HEADLESS_INPUT): events by frame number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/video/driver.h"

namespace qv {

struct ScheduledInput {
    // HostEventsOf relies on the order. Activating and deactivating are no event of their own:
    // the back end moves the focus for them.
    enum class Kind : uint8_t {
        kButton,
        kKey,
        kMove,
        kClose,
        kMoveWindow,
        kSizeWindow,
        kActivate,
        kDeactivate
    };
    // A button or a key goes down and up within the entry, or only down, or only up.
    enum class Phase : uint8_t { kBoth, kDown, kUp };
    uint64_t frame;
    Kind kind;
    Phase phase;
    // Button, move and window move: x, y; window size: width, height; key: the key code.
    int32_t a, b;
    uint32_t display;  // the numeric id of the display it names; 0: it names none
};

// The host events of one entry: a click is a left press and its release, a key its down and
// its up; press, release, keydown and keyup give one of the two; activating and deactivating
// give none.
struct ScheduledEvents {
    HostEvent events[2];
    int count;

    const HostEvent* begin() const { return events; }
    const HostEvent* end() const { return events + count; }
};
ScheduledEvents HostEventsOf(const ScheduledInput& input);

// Reads the file into *out in frame order (stable for one frame); 0, or ERR_READFILE with the
// file and the number of the first malformed line (or the reason it cannot be read) in
// *detail, or ERR_MEM. A malformed line is also described on standard error: its number, its
// text and what was expected there.
int LoadInputSchedule(const char* path, std::vector<ScheduledInput>* out, std::string* detail);

}  // namespace qv

// The input schedule of a headless player run (QV_HEADLESS_INPUT): events by frame number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/video/driver.h"

namespace qv {

struct ScheduledInput {
    enum class Kind : uint8_t { kClick, kKey, kMove, kClose };  // HostEventsOf relies on the order
    uint64_t frame;
    Kind kind;
    int32_t a, b;  // click and move: x, y; key: the key code
};

// The host events of one entry: a click is a left press and its release, a key its down and
// its up.
struct ScheduledEvents {
    HostEvent events[2];
    int count;

    const HostEvent* begin() const { return events; }
    const HostEvent* end() const { return events + count; }
};
ScheduledEvents HostEventsOf(const ScheduledInput& input);

// Reads the file into *out in frame order (stable for one frame); 0, or ERR_READFILE with the
// file and the number of the first malformed line (or the reason it cannot be read) in
// *detail, or ERR_MEM.
int LoadInputSchedule(const char* path, std::vector<ScheduledInput>* out, std::string* detail);

}  // namespace qv

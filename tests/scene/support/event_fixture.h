// The event library's test fixtures. EventClockFixture: the library fixture with the "event"
// library, a virtual clock whose sleeps jump to their deadlines, host input released into the
// headless back end as virtual time passes, and handlers that append their calls to a trace. A
// wait that nothing could end fails the test (through the wait's test seam) instead of hanging
// it, and so does an hour of the clock spent in waits that only ticks end. EventFixture adds
// fake displays (one open display with id 1 as the current one).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/video/driver.h"
#include "tests/scene/support/fake_displays.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

class EventClockFixture : public LibFixture {
protected:
    // The libraries of the engine; the "event" library must be among them.
    explicit EventClockFixture(LibraryOpener opener);
    ~EventClockFixture() override;

public:
    // The virtual clock in milliseconds; it starts at 1000 s.
    static int64_t NowMs();
    // Moves the clock on (also from inside a handler, standing for one that takes that long),
    // releasing the input that falls due.
    void Advance(int64_t milliseconds);
    // Host input for the window at that time of the clock (milliseconds).
    void InputAt(int64_t atMs, HostEvent event, const qvPlatformDisplay* window);
    // Runs the input pump once, as the line hook does while input is due.
    void Pump();

    // A handler that appends "Action id userdata" to the trace ("-" for a missing id or user
    // data, "auto" for an automatic id), then runs then (when given), whose result is the
    // handler's.
    Arg Handler(NativeFunction then = {});
    std::vector<std::string> trace;

    // InstallEventHandler with a table of these fields and, when given, user data.
    CallResult Install(std::vector<std::pair<std::string, Arg>> fields,
                       std::optional<Arg> userData = std::nullopt);
    CallResult Wait() { return Call("WaitEvent"); }
    CallResult Check() { return Call("CheckEvent"); }
    // The action of WaitEvent's or CheckEvent's result table ("" when none).
    static std::string ActionOf(const CallResult& result);

    // The last value InstallEventHandler published for attribute 13, 14, 19 or 24 (-1: none).
    static int32_t PublishedAttribute(uint32_t tag);
    // Registry references that hold a value other than a number (free ones hold numbers).
    int LiveRefs();

    // Waits that nothing could have ended; each one fails the test unless expected.
    void ExpectBlockedWaits() { expectBlocked_ = true; }
    int BlockedWaits() const { return blockedWaits_; }

    // The wait's report of a wait that nothing could end.
    void OnBlockedForever();
    // Set once the clock passed an hour in waits (which ends the program and fails the test).
    bool horizonPassed = false;

private:
    bool expectBlocked_ = false;
    int blockedWaits_ = 0;
};

class EventFixture : public EventClockFixture {
protected:
    explicit EventFixture(LibraryOpener opener);
    EventFixture();
    ~EventFixture() override;

public:
    FakeDisplays displays;
    FakeDisplay* display = nullptr;

    // Host input for the display's window (the current display's when none is given) at that
    // time of the clock (milliseconds).
    void InputAt(int64_t atMs, HostEvent event, FakeDisplay* target = nullptr);
    // Host input released at once.
    void Input(HostEvent event, FakeDisplay* target = nullptr) { InputAt(NowMs(), event, target); }
};

}  // namespace qv::testing

// The library fixture with the system library (and the string library, whose ToString the
// debug commands call) registered, and a virtual clock: sleeping moves its time to the
// deadline at once, and tests move it by hand to simulate work.
#pragma once

#include <cstdint>
#include <ctime>

#include "libs/string/string_library.h"
#include "libs/system/system_library.h"
#include "platform/linux/time.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

inline constexpr LibraryOpener OpenSystemLibrary =
    OpenLibraries<RegisterStringLibrary, RegisterSystemLibrary>;

struct VirtualClock {
    static inline int64_t micros = 0;
    static inline time_t wall = 0;
    static inline int sleeps = 0;

    static void Install() {
        static constexpr SystemClock kClock = {[] { return micros; },
                                               [] { return int64_t{wall} * 1000000; },
                                               [](int64_t deadline) {
                                                   ++sleeps;
                                                   if (deadline > micros) micros = deadline;
                                               }};
        micros = 1'000'000'000;
        wall = 0;
        sleeps = 0;
        SetSystemClock(&kClock);
    }
    static void AdvanceMillis(int64_t ms) { micros += ms * 1000; }
};

class SystemLib : public LibFixture {
protected:
    SystemLib() : LibFixture(OpenSystemLibrary) { VirtualClock::Install(); }
    ~SystemLib() override {
        FreeSystemObjects(L);
        SetSystemClock(nullptr);
    }
};

}  // namespace qv::testing

#include "platform/linux/video/video.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/error_codes.h"
#include "platform/linux/screen.h"
#include "platform/linux/time.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/video/sdl.h"
#include "platform/linux/video/virtual_clock.h"
#include "platform/linux/window.h"

namespace qv {
namespace {

constexpr int64_t kMicrosPerSecond = 1000000;

const VideoDriver* driver = nullptr;  // none: headless
uint64_t presents = 0;
uint64_t vblanks = 0;
bool instantVBlank = false;

// The refreshes of the display since the video started (or, before that, since the first
// present). Refresh k of the monotonic clock is at the 1/refresh boundary ceil(k / refresh s),
// where the vertical blank wait ends. A change of the refresh rate counts on at the new rate
// from the last reading.
struct RefreshCount {
    bool started = false;
    uint64_t count = 0;  // refreshes up to readAt
    int64_t readAt = 0;
};
RefreshCount refreshes;

int64_t Refresh() {
    return std::max<int64_t>(ScreenRefresh(), 1);
}

// The boundaries at or before the time.
int64_t Boundaries(int64_t refresh, int64_t micros) {
    return micros * refresh / kMicrosPerSecond;
}

void StartRefreshes() {
    refreshes = {true, 0, Clock().monotonicMicros()};
}

// Shows the damage as that frame; counts a present.
void ShowFrame(uint64_t frame) {
    ++presents;
    Video().present(frame);
}

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// The desktop the environment names, as the notice of a headless run gives it.
std::string DesktopName() {
    if (Set("DISPLAY")) return std::string("DISPLAY=") + getenv("DISPLAY");
    return std::string("WAYLAND_DISPLAY=") + getenv("WAYLAND_DISPLAY");
}

// The back end QV_VIDEO names or the desktop suggests; none after an error.
const VideoDriver* ChooseDriver(std::string* detail, int* code) {
    const char* forced = std::getenv("QV_VIDEO");
    const bool forceSdl = forced != nullptr && std::strcmp(forced, "sdl") == 0;
    if (forced != nullptr && *forced != '\0' && !forceSdl && std::strcmp(forced, "headless") != 0) {
        *detail = std::string("QV_VIDEO=") + forced;
        *code = ERR_OPENLIB;
        return nullptr;
    }
    const bool tryHeadless = forced != nullptr && std::strcmp(forced, "headless") == 0;
    if (forceSdl || (!tryHeadless && (Set("DISPLAY") || Set("WAYLAND_DISPLAY")))) {
        std::string why;
        // Only a desktop shows the windows, unless SDL_VIDEODRIVER names SDL's driver (tests
        // use its off-screen one): a forced sdl elsewhere would wait on windows nobody sees.
        const bool desktopOnly = !forceSdl || !Set("SDL_VIDEODRIVER");
        if (const VideoDriver* sdl = StartSdlDriver(&why, desktopOnly)) return sdl;
        if (forceSdl) {
            *detail = "SDL2 video (" + why + ")";
            *code = ERR_OPENLIB;
            return nullptr;
        }
        // Without a window on a desktop nobody would see the run or could end it.
        std::fprintf(stderr, "QuorvellaPlayer: no desktop at %s (%s), running headless\n",
                     DesktopName().c_str(), why.c_str());
    }
    if ((*code = StartHeadlessDriver(detail)) != 0) return nullptr;
    if (!StartHeadlessClock()) {
        *detail = std::string("QV_HEADLESS_CLOCK=") + std::getenv("QV_HEADLESS_CLOCK");
        *code = ERR_OPENLIB;
        return nullptr;
    }
    return &HeadlessDriver();
}

}  // namespace

const VideoDriver& Video() {
    return driver != nullptr ? *driver : HeadlessDriver();
}

int StartVideo(std::string* detail) {
    StopVideo();
    int code = 0;
    const VideoDriver* chosen = ChooseDriver(detail, &code);
    if (chosen == nullptr) return code;
    driver = chosen;
    StartRefreshes();
    RestartWindowNumbers();
    setenv("QV_VIDEO", driver->name, 1);
    RefreshScreenInfo();
    return 0;
}

void StopVideo() {
    if (driver == nullptr) return;
    Present();
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = OpenWindows()) {
        CloseDisplayWindow(w);
    }
    CloseDisplayScreen();
    Video().stop();
    StopHeadlessClock();
    driver = nullptr;
    presents = vblanks = 0;
    refreshes = {};
    InputDue().store(0, std::memory_order_relaxed);
    RefreshScreenInfo();
}

uint64_t Refreshes() {
    if (!refreshes.started) StartRefreshes();
    const int64_t now = std::max(Clock().monotonicMicros(), refreshes.readAt);
    const int64_t refresh = Refresh();
    refreshes.count += uint64_t(Boundaries(refresh, now) - Boundaries(refresh, refreshes.readAt));
    refreshes.readAt = now;
    return refreshes.count;
}

int64_t RefreshTime(uint64_t count) {
    const uint64_t reached = Refreshes();
    if (count <= reached) return refreshes.readAt;
    const int64_t refresh = Refresh();
    const int64_t boundary = Boundaries(refresh, refreshes.readAt) + int64_t(count - reached);
    return (boundary * kMicrosPerSecond + refresh - 1) / refresh;
}

void Present() {
    ShowFrame(Refreshes() + 1);
}

void PresentChanges() {
    Video().present(std::max<uint64_t>(Refreshes(), 1));  // frames count from 1
}

bool WaitForHostEvent(int64_t deadline) {
    Present();
    const bool pending = Video().waitEvent(deadline);
    if (pending) InputDue().store(1, std::memory_order_relaxed);
    return pending;
}

void WaitVerticalBlank() {
    if (!instantVBlank) {
        const SystemClock& clock = Clock();
        const int64_t refresh = ScreenRefresh();
        const int64_t frame = clock.monotonicMicros() * refresh / kMicrosPerSecond + 1;
        clock.sleepUntil((frame * kMicrosPerSecond + refresh - 1) / refresh);
    }
    // What the blank shows is this refresh's frame; later presents show at the next one.
    ShowFrame(std::max<uint64_t>(Refreshes(), 1));
    ++vblanks;
}

uint64_t PresentCount() {
    return presents;
}

uint64_t VBlankCount() {
    return vblanks;
}

}  // namespace qv

namespace qv::platform::testing {

void SetInstantVBlank(bool enabled) {
    instantVBlank = enabled;
}

}  // namespace qv::platform::testing

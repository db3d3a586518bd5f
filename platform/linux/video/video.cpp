#include "platform/linux/video/video.h"

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
    InputDue().store(0, std::memory_order_relaxed);
    RefreshScreenInfo();
}

void Present() {
    Video().present(++presents);
}

void PresentChanges() {
    if (presents == 0) return Present();  // a picture is named by a present from 1
    Video().present(presents);
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
    Present();
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

// qvdisplay [--x X] [--y Y] [--width W] [--height H] [--color RGB] [--borderless] [--sizeable]
//           [--scalemode M] [--scalewidth W] [--scaleheight H] [--keepproportions] [--frames N]
// Makes display 1 with those options through the display library, opens it as start-up does
// (QV_VIDEO chooses the back end, as for the player) and runs the input pump over it. Prints
// "READY x y w h" (the inner rectangle on the desktop) once the window is shown, then
// "EVENT type" for every queued event, with the display's size after a size event
// ("EVENT 5 w h") and the position in the display's coordinates, truncated, and the button
// state after a mouse button event ("EVENT 1 x y down"). It ends on a close request, after N
// refreshes of the display, or on SIGTERM.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gfx/library/graphics_library.h"
#include "objects/object_neighbours.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "runtime/event_queue.h"
#include "runtime/input_pump.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "scene/display.h"
#include "scene/display_engine.h"
#include "scene/display_hosts.h"
#include "scene/display_library.h"
#include "scene/scene_neighbours.h"

namespace {

constexpr int kFailure = 20;
constexpr uint32_t kCloseRequest = 7;

volatile std::sig_atomic_t terminated = 0;

// The graphics library's questions answered as the player answers them.
class Neighbours final : public qv::scene::SceneNeighbours,
                         public qv::scene::DisplayNeighbours,
                         public qv::objects::ObjectNeighbours {};

struct Options {
    std::vector<std::pair<std::string, long>> fields;  // CreateDisplay's option table
    long frames = -1;
};

bool ParseArguments(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--borderless" || name == "--sizeable" || name == "--keepproportions") {
            o->fields.emplace_back(name.substr(2), 1);
            continue;
        }
        if (i + 1 == argc) return false;
        const char* value = argv[++i];
        char* end = nullptr;
        const long number = std::strtol(value, &end, 0);
        if (*value == '\0' || *end != '\0' || number < -32768 || number > 0xFFFFFF) return false;
        if (name == "--x" || name == "--y" || name == "--width" || name == "--height" ||
            name == "--color" || name == "--scalemode" || name == "--scalewidth" ||
            name == "--scaleheight") {
            o->fields.emplace_back(name.substr(2), number);
        } else if (name == "--frames" && number > 0) {
            o->frames = number;
        } else {
            return false;
        }
    }
    return true;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "qvdisplay: %s\n", message.c_str());
    return kFailure;
}

int Register(qvVmState* L) {
    for (int (*registerLibrary)(qvVmState*) :
         {RegisterGraphicsLibrary, RegisterDisplayLibrary, RegisterBGPicLibrary}) {
        if (int code = registerLibrary(L)) RaiseError(L, code);
    }
    return 0;
}

// CreateDisplay(1, options) as a script calls it.
int CreateFirst(qvVmState* L) {
    const auto* o = static_cast<const Options*>(VmToUserdata(L, 1));
    VmPushString(L, "createdisplay");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushNumber(L, 1);
    VmNewTable(L);
    for (const auto& [key, value] : o->fields) {
        VmPushString(L, key.c_str());
        VmPushNumber(L, double(value));
        VmSetTable(L, -3);
    }
    VmCall(L, 2, 0);
    return 0;
}

bool IsMouseButton(uint32_t type) {
    return type == QV_EVENT_LEFTMOUSE || type == QV_EVENT_RIGHTMOUSE || type == QV_EVENT_MIDMOUSE;
}

// Prints and removes the queued events; true after a close request.
bool PrintEvents(const qvDisplay* display) {
    bool closed = false;
    qvInputEvent e{};
    for (int i = 0; (i = GetEvent(nullptr, i, &e, 0)) != 0; e = {}) {
        if (e.type == QV_EVENT_SIZEWINDOW) {
            std::printf("EVENT %u %d %d\n", e.type, display->settings.width,
                        display->settings.height);
        } else if (IsMouseButton(e.type)) {
            const qv::scene::LogicalPoint p =
                qv::scene::WindowToLogical(display, int32_t(e.x), int32_t(e.y));
            std::printf("EVENT %u %d %d %u\n", e.type, int32_t(std::trunc(p.x)),
                        int32_t(std::trunc(p.y)), e.down);
        } else {
            std::printf("EVENT %u\n", e.type);
        }
        closed = closed || e.type == kCloseRequest;
    }
    RemoveEvents(nullptr, -1, 1);
    std::fflush(stdout);
    return closed;
}

int Run(qvVmState* L, const Options& o) {
    if (VmCPCall(L, Register, nullptr) != 0) return Fail("the libraries do not register");
    if (VmCPCall(L, CreateFirst, const_cast<Options*>(&o)) != 0) {
        return Fail("CreateDisplay failed with " + std::to_string(qv::Runtime().error.lastError));
    }
    if (int code = OpenFirstDisplay(L, nullptr, nullptr)) {
        return Fail("the display does not open (error " + std::to_string(code) + ")");
    }
    qvDisplay* display = qv::scene::Displays().current;
    display->closeReporting = 1;
    qv::Present();
    const qvPlatformDisplay* window = display->window;
    std::printf("READY %d %d %d %d\n", window->x + window->frame.left,
                window->y + window->frame.top, display->settings.width, display->settings.height);
    std::fflush(stdout);
    bool closed = false;
    while (!closed && !terminated && (o.frames < 0 || qv::Refreshes() < uint64_t(o.frames))) {
        if (qv::Video().waitEvent(qv::RefreshTime(qv::Refreshes() + 1))) qv::InputDue().store(1);
        PumpEvents(L);
        closed = PrintEvents(display);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, &options)) {
        return Fail(
            "usage: qvdisplay [--x X] [--y Y] [--width W] [--height H] [--color RGB] "
            "[--borderless] [--sizeable] [--scalemode M] [--scalewidth W] [--scaleheight H] "
            "[--keepproportions] [--frames N]");
    }
    std::signal(SIGTERM, [](int) { terminated = 1; });
    std::string detail;
    if (int code = qv::StartVideo(&detail)) {
        return Fail("no video (error " + std::to_string(code) + ": " + detail + ")");
    }
    static Neighbours neighbours;
    qv::gfx::SetNeighbours(&neighbours);
    qv::Runtime().quiet = 1;
    int status = kFailure;
    if (InitSupport() != 0) {
        status = Fail("no event queue");
    } else if (qvVmState* L = VmOpen()) {
        qv::InstallRuntimeHost(L);
        status = Run(L, options);
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        FreeGraphicsObjects(L);
        VmClose(L);
    } else {
        status = Fail("no engine");
    }
    FreeSupport();
    qv::gfx::SetNeighbours(nullptr);
    qv::StopVideo();
    return status;
}

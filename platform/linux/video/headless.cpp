#include "platform/linux/video/headless.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"
#include "platform/linux/png_saver.h"
#include "platform/linux/time.h"
#include "platform/linux/video/headless_input.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"

namespace qv {
namespace {

constexpr int32_t kDefaultWidth = 1920, kDefaultHeight = 1080;
constexpr int32_t kDefaultRefresh = 60;
constexpr int kQueueSize = 1024;
constexpr size_t kLogLimit = 4096;
constexpr ScreenMode kStandardModes[] = {{1280, 1024}, {640, 480}, {1024, 768}, {800, 600}};

struct Joystick {
    bool connected;
    int32_t direction;
    uint32_t buttons;
};

struct Headless {
    HostEvent queue[kQueueSize];
    int head, count;
    Joystick joysticks[4];
    std::optional<FrameSizes> frame;
    std::optional<int32_t> titleBar, refresh;
    std::optional<ScreenArea> usable;
    std::optional<ScreenMode> size;
    std::optional<std::vector<ScreenMode>> modes;
    std::vector<std::string> log;
    std::string framesDir;
    bool frameWriteFailed;
    std::vector<ScheduledInput> schedule;
    size_t scheduled;  // the next schedule entry to inject
    uint32_t active;   // the opening number of the active window; 0 while none is
};

Headless& State() {
    static Headless state{};
    return state;
}

void Log(const std::string& line) {
    std::vector<std::string>& log = State().log;
    if (log.size() < kLogLimit) CatchAllocFailure(false, [&] { return log.push_back(line), true; });
}

std::string Number(const qvPlatformDisplay* window) {
    return std::to_string(window->number);
}

ScreenMode SizeFromEnvironment() {
    const char* text = std::getenv("QV_SCREEN_SIZE");
    int width, height;
    char tail;
    if (text != nullptr && std::sscanf(text, "%dx%d%c", &width, &height, &tail) == 2 && width > 0 &&
        height > 0 && width <= 32768 && height <= 32768) {
        return {width, height};
    }
    return {kDefaultWidth, kDefaultHeight};
}

const ScreenMode& EnvironmentSize() {
    static const ScreenMode size = SizeFromEnvironment();
    return size;
}

ScreenMode ScreenSize() {
    return State().size.value_or(EnvironmentSize());
}

ScreenInfo Screen() {
    const Headless& s = State();
    const ScreenMode size = ScreenSize();
    return {size.width, size.height, s.titleBar.value_or(0),
            s.usable.value_or(ScreenArea{0, 0, size.width, size.height}),
            s.refresh.value_or(kDefaultRefresh)};
}

// The screen's size and the standard modes that fit it, in no particular order.
int32_t EnumModes(ScreenMode* modes, int32_t capacity) {
    std::vector<ScreenMode> all;
    if (State().modes) {
        all = *State().modes;
    } else {
        const ScreenMode screen = ScreenSize();
        for (const ScreenMode& m : kStandardModes) {
            const bool same = m.width == screen.width && m.height == screen.height;
            if (!same && m.width <= screen.width && m.height <= screen.height) all.push_back(m);
        }
        all.push_back(screen);
    }
    const auto total = int32_t(all.size());
    if (modes == nullptr) return total;
    const int32_t written = std::min(total, capacity);
    std::copy_n(all.begin(), written, modes);
    return written;
}

bool Queue(const HostEvent& event) {
    Headless& s = State();
    if (s.count == kQueueSize) {
        FreeMemBlock(event.names);
        return false;
    }
    s.queue[(s.head + s.count++) % kQueueSize] = event;
    InputDue().store(1, std::memory_order_relaxed);
    return true;
}

// The focus moves to the window (none: to no window of ours) as a desktop reports it: the
// window that loses it first, then the one that gains it.
void Focus(const qvPlatformDisplay* window) {
    Headless& s = State();
    const uint32_t number = window != nullptr ? window->number : 0;
    if (number == s.active) return;
    HostEvent event{};
    event.kind = HostEventKind::kFocus;
    if (s.active != 0) {
        event.window = s.active;
        Queue(event);
    }
    s.active = number;
    if (number != 0) {
        event.window = number;
        event.down = true;
        Queue(event);
    }
}

int OpenScreen(int32_t width, int32_t height) {
    Log("screen open " + std::to_string(width) + "x" + std::to_string(height));
    return 0;
}

void CloseScreen() {
    Log("screen close");
}

FrameSizes Frame(uint32_t flags) {
    if ((flags & QV_WINDOW_BORDERLESS) != 0) return {};
    return State().frame.value_or(FrameSizes{});
}

std::string Geometry(const qvPlatformDisplay* w) {
    return std::to_string(w->x) + "," + std::to_string(w->y) + " " +
           std::to_string(w->framebuffer->width) + "x" + std::to_string(w->framebuffer->height);
}

int OpenWindow(qvPlatformDisplay* w, bool activate) {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%x", w->flags);
    Log("open " + Number(w) + " " + Geometry(w) + " flags=" + flags + " title=" + w->title +
        " shape=" + (w->shape != nullptr ? "1" : "0") + (activate ? " active" : ""));
    if (activate) Focus(w);
    return 0;
}

// A closed window takes its focus along: no other window gains it.
void CloseWindow(qvPlatformDisplay* w) {
    Log("close " + Number(w));
    if (State().active == w->number) State().active = 0;
}

void PlaceWindow(qvPlatformDisplay* w) {
    Log("place " + Number(w) + " " + Geometry(w));
}

void SetTitle(qvPlatformDisplay* w) {
    Log("title " + Number(w) + " " + w->title);
}

void Activate(qvPlatformDisplay* w, bool toFront) {
    Log("activate " + Number(w) + (toFront ? " front" : ""));
    Focus(w);
}

// A minimised window loses the focus; shown again, it does not take it back.
int Iconify(qvPlatformDisplay* w, bool hide) {
    Log((hide ? "iconify " : "restore ") + Number(w));
    if (hide && State().active == w->number) Focus(nullptr);
    return 0;
}

void SetPointer(qvPlatformDisplay* w, const PointerImage* image) {
    std::string what = image != nullptr
                           ? std::to_string(image->width) + "x" + std::to_string(image->height) +
                                 " hot " + std::to_string(image->hotX) + "," +
                                 std::to_string(image->hotY)
                           : "kind " + std::to_string(w->pointer.kind);
    Log("pointer " + Number(w) + (w->pointer.hidden ? " hidden " : " shown ") + what);
}

void WarpPointer(qvPlatformDisplay* w, int32_t x, int32_t y) {
    Log("warp " + Number(w) + " " + std::to_string(x) + "," + std::to_string(y));
}

void SetInputFlags(qvPlatformDisplay* w) {
    Log("input " + Number(w) + " drop=" + (w->dropTarget ? "1" : "0") +
        " clipboard=" + (w->clipboardReports ? "1" : "0"));
}

void WriteFrame(const qvPlatformDisplay* w, uint64_t frame) {
    Headless& s = State();
    const qvDisplayBitMap* fb = w->framebuffer;
    char name[64];
    std::snprintf(name, sizeof name, "/frame-%06llu-w%u.png",
                  static_cast<unsigned long long>(frame), w->number);
    const std::string path = s.framesDir + name;
    BlockPtr<qvARGB> pixels(ReadBitMapARGB(fb, fb->width, fb->height));
    int code = pixels ? SaveARGBAsPng(path.c_str(), pixels.get(), fb->width, fb->height,
                                      fb->width * int32_t(sizeof(qvARGB)), 0)
                      : ERR_MEM;
    if (code != 0 && !s.frameWriteFailed) {
        std::fprintf(stderr, "headless: cannot write %s (error %d)\n", path.c_str(), code);
        s.frameWriteFailed = true;
    }
}

// Where input goes that names no display: the active window, else the topmost open window
// that is not minimised.
qvPlatformDisplay* InputWindow() {
    if (qvPlatformDisplay* active = FindOpenWindow(State().active)) return active;
    qvPlatformDisplay* top = nullptr;
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        if (!w->iconified) top = w;
    }
    return top;
}

qvPlatformDisplay* DisplayWindow(uint32_t displayId) {
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        if (w->displayId == displayId) return w;
    }
    return nullptr;
}

// Whether a move or size of the window would change it: a desktop reports no other.
bool Changes(const ScheduledInput& input, const qvPlatformDisplay* w) {
    if (input.kind == ScheduledInput::Kind::kMoveWindow) return input.a != w->x || input.b != w->y;
    if (input.kind == ScheduledInput::Kind::kSizeWindow) {
        return input.a != w->framebuffer->width || input.b != w->framebuffer->height;
    }
    return true;
}

void Inject(const ScheduledInput& input, qvPlatformDisplay* w) {
    if (input.kind == ScheduledInput::Kind::kActivate) {
        ActivateDisplayWindow(w, 1);  // as a click on it: to the front
        return;
    }
    if (input.kind == ScheduledInput::Kind::kDeactivate) {
        if (State().active == w->number) Focus(nullptr);  // another program takes the focus
        return;
    }
    if (!Changes(input, w)) return;
    for (HostEvent event : HostEventsOf(input)) {
        event.window = w->number;
        Queue(event);
    }
}

// The schedule's entries of the refreshes that came go to the display they name, or else to
// the window input goes to; an entry whose display has no open window is dropped. Whoever
// looks at host input or presents next finds them.
void InjectScheduled() {
    Headless& s = State();
    const uint64_t reached = Refreshes();
    while (s.scheduled < s.schedule.size() && s.schedule[s.scheduled].frame <= reached) {
        const ScheduledInput& input = s.schedule[s.scheduled++];
        qvPlatformDisplay* w = input.display != 0 ? DisplayWindow(input.display) : InputWindow();
        if (w != nullptr) Inject(input, w);
    }
}

void Present(uint64_t frame) {
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        std::lock_guard<std::recursive_mutex> hold(w->lock);
        if (TakeDamage(w).count != 0 && !State().framesDir.empty()) WriteFrame(w, frame);
    }
    InjectScheduled();
}

bool PollEvent(HostEvent* out) {
    InjectScheduled();
    Headless& s = State();
    if (s.count == 0) return false;
    *out = s.queue[s.head];
    s.head = (s.head + 1) % kQueueSize;
    --s.count;
    return true;
}

bool WaitEvent(int64_t deadline) {
    InjectScheduled();
    if (State().count == 0 && Clock().monotonicMicros() < deadline) {
        Clock().sleepUntil(deadline);
        InjectScheduled();
    }
    return State().count != 0;
}

int ReadJoystick(int port, int32_t* direction, uint32_t* buttons) {
    if (port < 0 || port > 3) return ERR_NOJOYATPORT;
    const Joystick& j = State().joysticks[port];
    if (!j.connected) return ERR_JOYSTICK;
    *direction = j.direction;
    *buttons = j.buttons;
    return 0;
}

int NoRequester(const char*, const char*, const char*) {
    return -1;
}

void DropQueue() {
    HostEvent event;
    while (PollEvent(&event)) FreeMemBlock(event.names);
}

void Stop() {
    DropQueue();
    Headless& s = State();
    s.framesDir.clear();
    s.schedule.clear();
    s.scheduled = 0;
    s.active = 0;
    s.frameWriteFailed = false;
}

constexpr VideoDriver kHeadless = {
    "headless",  Stop,          Screen,      EnumModes, OpenScreen, CloseScreen,  Frame,
    OpenWindow,  CloseWindow,   PlaceWindow, SetTitle,  Activate,   Iconify,      SetPointer,
    WarpPointer, SetInputFlags, Present,     PollEvent, WaitEvent,  ReadJoystick, NoRequester,
};

// The frames' folder as an absolute path, taken from the current directory at start-up (the
// player later changes to the applet's folder), and made when it is missing; 0, or
// ERR_CREATEDIR with the folder and the reason in *detail, so that no run ends with its frames
// silently lost.
int PrepareFramesDir(const char* dir, std::string* out, std::string* detail) {
    return CatchAllocFailure(int(ERR_MEM), [&] {
        std::error_code error;
        const std::filesystem::path path = std::filesystem::absolute(dir, error);
        if (!error) std::filesystem::create_directories(path, error);
        if (!error && access(path.c_str(), W_OK | X_OK) != 0) {
            error.assign(errno, std::generic_category());
        }
        if (error) {
            *detail = path.string() + " (" + error.message() + ")";
            return int(ERR_CREATEDIR);
        }
        *out = path.string();
        return 0;
    });
}

}  // namespace

const VideoDriver& HeadlessDriver() {
    return kHeadless;
}

int StartHeadlessDriver(std::string* detail) {
    Stop();
    Headless& s = State();
    if (const char* dir = std::getenv("QV_HEADLESS_FRAMES"); dir != nullptr && *dir != '\0') {
        if (int code = PrepareFramesDir(dir, &s.framesDir, detail)) return code;
    }
    if (const char* file = std::getenv("QV_HEADLESS_INPUT"); file != nullptr && *file != '\0') {
        return LoadInputSchedule(file, &s.schedule, detail);
    }
    return 0;
}

uint64_t HeadlessNextInputFrame() {
    const Headless& s = State();
    return s.scheduled < s.schedule.size() ? s.schedule[s.scheduled].frame : 0;
}

}  // namespace qv

namespace qv::platform::testing {

bool InjectHostEvent(const HostEvent& event) {
    return Queue(event);
}

bool InjectDrop(uint32_t window, int32_t x, int32_t y, const std::vector<std::string>& names) {
    size_t size = 1;
    for (const std::string& name : names) size += name.size() + 1;
    auto* block = static_cast<char*>(AllocMemBlock(size, 1));
    if (block == nullptr) return false;
    char* at = block;
    for (const std::string& name : names) {
        std::memcpy(at, name.c_str(), name.size() + 1);
        at += name.size() + 1;
    }
    HostEvent event{};
    event.kind = HostEventKind::kDrop;
    event.window = window, event.x = x, event.y = y;
    event.names = block;
    return Queue(event);
}

void SetJoystick(int port, bool connected, int32_t direction, uint32_t buttons) {
    if (port >= 0 && port < 4) State().joysticks[port] = {connected, direction, buttons};
}

void SetFrameSizes(FrameSizes frame) {
    State().frame = frame;
}

void SetTitleBar(int32_t height) {
    State().titleBar = height;
    RefreshScreenInfo();
}

void SetScreenSize(ScreenMode size) {
    State().size = size;
    RefreshScreenInfo();
}

void SetUsableArea(ScreenArea area) {
    State().usable = area;
    RefreshScreenInfo();
}

void SetScreenModes(const std::vector<ScreenMode>& modes) {
    State().modes = modes;
}

void SetRefresh(int32_t refresh) {
    State().refresh = refresh;
    RefreshScreenInfo();
}

void ResetHeadless() {
    DropQueue();
    Headless& s = State();
    s.frame.reset();
    s.titleBar.reset();
    s.refresh.reset();
    s.usable.reset();
    s.size.reset();
    s.modes.reset();
    s.log.clear();
    for (Joystick& j : s.joysticks) j = {};
    RefreshScreenInfo();
}

std::vector<std::string> OperationLog() {
    return State().log;
}

}  // namespace qv::platform::testing

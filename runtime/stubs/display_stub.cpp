#include "runtime/stubs/display_stub.h"

#include <cstring>

#include "platform/linux/debug_output.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/display_input.h"
#include "runtime/event_queue.h"
#include "runtime/exports.h"
#include "runtime/input_pump.h"
#include "runtime/key_table.h"
#include "runtime/option_tables.h"
#include "runtime/runtime_state.h"
#include "scene/bgpic.h"
#include "scene/events/event_displays.h"

namespace qv {
namespace {

constexpr int kMaxDisplays = 64;
constexpr int32_t kDefaultWidth = 640, kDefaultHeight = 480;
constexpr char kDefaultTitle[] = "Quorvella";
constexpr uint32_t kDisplayType = 21;

struct StandInDisplay {
    uint32_t id;
    char title[256];
    int32_t width;
    int32_t height;
    uint32_t color;
};

struct DisplayList {
    StandInDisplay displays[kMaxDisplays];
    int count = 0;
};

// The opened display as the pump and the event side see it: a record that begins like every
// display record.
struct ShownDisplay {
    qvDisplayPrefix prefix;
    qvPlatformDisplay* window;
    bool keys[kKeyStateCount];
    bool buttons[3];
    bool mouseMoved;
    qvTimeVal mouseTime;
    bool iconified;
    bool closeReporting;
    qvEventHandler handlers[gfx::kDisplayEventCount];
};

DisplayList list;
ShownDisplay shown;

ShownDisplay& Shown(const qvDisplay* display) {
    return *reinterpret_cast<ShownDisplay*>(const_cast<qvDisplay*>(display));
}

class StandInInput final : public DisplayInput {
public:
    bool ReportsClose(const qvDisplay* display) override { return Shown(display).closeReporting; }
    bool IsPrimary(const qvDisplay*) override { return true; }
    uint32_t Flags(const qvDisplay*) override { return 0; }
    void SetKeyState(qvDisplay* display, uint32_t code, bool down) override {
        if (code < kKeyStateCount) Shown(display).keys[code] = down;
    }
    void SetButtonState(qvDisplay* display, MouseButton button, bool down) override {
        Shown(display).buttons[int(button)] = down;
    }
    void MouseMoved(qvDisplay* display, const qvTimeVal& when) override {
        Shown(display).mouseMoved = true;
        Shown(display).mouseTime = when;
    }
    void RequestResize(qvDisplay* display, int32_t width, int32_t height) override {
        const qvPlatformDisplay* w = Shown(display).window;
        ChangeDisplayWindowBox(Shown(display).window, w->x, w->y, width, height);
    }
    void SetIconified(qvDisplay* display, bool iconified) override {
        Shown(display).iconified = iconified;
    }
    // The stand-in has no full-screen mode to switch to.
    void RequestModeSwitch(qvDisplay*) override {}
};

StandInInput input;

// The one display while it is shown.
class StandInEventDisplays final : public events::EventDisplays {
public:
    qvDisplay* CurrentDisplay() override { return DisplayOfPrefix(&shown.prefix); }
    qvDisplay* FirstDisplay() override { return CurrentDisplay(); }
    qvDisplay* NextDisplay(const qvDisplay*) override { return nullptr; }
    bool IsOpen(const qvDisplay*) override { return true; }
    qvEventHandler* EventHandlers(qvDisplay* display) override { return Shown(display).handlers; }
    void SetCloseReporting(qvDisplay* display, bool on) override {
        Shown(display).closeReporting = on;
    }
    bool MouseMoved(const qvDisplay* display, qvTimeVal* when) override {
        *when = Shown(display).mouseTime;
        return Shown(display).mouseMoved;
    }
    void ClearMouseMoved(qvDisplay* display) override { Shown(display).mouseMoved = false; }
    qvPlatformDisplay* Window(qvDisplay* display) override { return Shown(display).window; }
    events::DisplayFacts Facts(const qvDisplay* display) override {
        const qvPlatformDisplay* w = Shown(display).window;
        return {w->framebuffer->width, w->framebuffer->height, w->x, w->y,
                w->pointer.mouseX,     w->pointer.mouseY,      0,    false};
    }
};

StandInEventDisplays eventDisplays;

constexpr qvCommandEntry kDisplayCommands[] = {
    {"CreateDisplay", CreateDisplay},
    {nullptr, nullptr},
};

StandInDisplay* FindDisplay(uint32_t id) {
    for (int i = 0; i < list.count; ++i) {
        if (list.displays[i].id == id) return &list.displays[i];
    }
    return nullptr;
}

// A new id takes a new slot; an id in use is replaced, as creating any object does.
StandInDisplay* SlotFor(qvVmState* L, uint32_t id) {
    if (StandInDisplay* old = FindDisplay(id)) return old;
    if (list.count == kMaxDisplays) RaiseError(L, ERR_MEM);
    return &list.displays[list.count++];
}

const StandInDisplay* FirstDisplay() {
    const StandInDisplay* one = FindDisplay(1);
    return one != nullptr || list.count == 0 ? one : &list.displays[0];
}

// Centred on the usable area of the screen, the frame around it.
qvWindowSpec CentredSpec(qvPlatformDisplay* window, const StandInDisplay& display) {
    const FrameSizes frame = NewSysIImage(window, 0);
    const ScreenArea area = UsableScreenArea();
    const int32_t outerWidth = display.width + frame.left + frame.right;
    const int32_t outerHeight = display.height + frame.top + frame.bottom;
    return {area.x + (area.width - outerWidth) / 2,
            area.y + (area.height - outerHeight) / 2,
            display.width,
            display.height,
            0,
            display.title};
}

}  // namespace

qvPlatformDisplay* StandInWindow() {
    return shown.window;
}

bool StandInKeyDown(uint32_t code) {
    return code < kKeyStateCount && shown.keys[code];
}

bool StandInButtonDown(int button) {
    return button >= 0 && button < 3 && shown.buttons[button];
}

bool StandInMouseMoved() {
    return shown.mouseMoved;
}

}  // namespace qv

int RegisterDisplayLibrary(qvVmState* L) {
    FreeAllDisplays(nullptr);  // what an earlier run left belongs to another engine
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kDisplayCommands, 0);
    return RegisterCommandTable(qv::kDisplayCommands, "display");
}

int CreateDisplay(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    qv::StandInDisplay display{static_cast<uint32_t>(GetOptIntArg(L, 1, nullptr)), "",
                               qv::kDefaultWidth, qv::kDefaultHeight, 0};
    std::strcpy(display.title, qv::kDefaultTitle);
    if (VmGetTop(L) == 2) {
        CheckArgTable(L, 2);
        GetTableFieldString(L, 2, "title", display.title, sizeof display.title, nullptr);
        GetTableFieldInt(L, 2, "width", &display.width, nullptr);
        GetTableFieldInt(L, 2, "height", &display.height, nullptr);
        uint32_t color = 0;
        int found = 0;
        GetTableFieldBool(L, 2, "color", &color, &found);
        if (found != 0) display.color = color;
    }
    if (display.width < 1 || display.height < 1) return ERR_WRONGUSAGE;
    *qv::SlotFor(L, display.id) = display;
    return 0;
}

int OpenFirstDisplay(qvVmState* L, qvScriptHeader*, qvStartupOptions*) {
    if (int code = RebuildBGPics(L)) return code;
    if (qv::Runtime().quiet == 0) qv::WriteConsole("And Action!\n");
    const qv::StandInDisplay fallback{1, "", qv::kDefaultWidth, qv::kDefaultHeight, 0};
    const qv::StandInDisplay* first = qv::FirstDisplay();
    qv::StandInDisplay display = first != nullptr ? *first : fallback;
    if (first == nullptr) std::strcpy(display.title, qv::kDefaultTitle);
    qv::ShownDisplay& shown = qv::shown;
    shown.prefix.header.type = qv::kDisplayType;
    shown.prefix.header.id = display.id;
    shown.window = AllocPlatformDisplay(qv::DisplayOfPrefix(&shown.prefix));
    if (shown.window == nullptr) return ERR_MEM;
    const qvWindowSpec spec = qv::CentredSpec(shown.window, display);
    if (int code = OpenPlatformWindow(shown.window, spec, 1, nullptr, nullptr)) return code;
    FillWindowRect(shown.window, 0, 0, display.width, display.height, display.color & 0xFFFFFF);
    for (qvEventHandler& slot : shown.handlers) slot = {-1, -1};
    qv::SetDisplayInput(&qv::input);
    qv::events::SetEventDisplays(&qv::eventDisplays);
    return 0;
}

void FreeAllDisplays(qvVmState* L) {
    if (qv::shown.window != nullptr) qv::Present();
    if (qv::CurrentDisplayInput() == &qv::input) qv::SetDisplayInput(nullptr);
    if (&qv::events::Displays() == &qv::eventDisplays) {
        qv::events::SetEventDisplays(nullptr);
        qv::events::ForgetEventDisplay(qv::DisplayOfPrefix(&qv::shown.prefix), nullptr);
        for (const qvEventHandler& slot : qv::shown.handlers) {
            if (L == nullptr) break;
            FreeRef(L, VM_REGISTRYINDEX, slot.function);
            FreeRef(L, VM_REGISTRYINDEX, slot.userData);
        }
    }
    FreePlatformDisplay(qv::shown.window);
    qv::shown = {};
    qv::list.count = 0;
}

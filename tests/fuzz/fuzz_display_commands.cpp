// The "display" and "event" commands under arguments drawn from the fuzzer's bytes, on displays
// of the headless back end: displays made, opened, moved, resized, scaled, hidden, closed and
// freed, double buffering begun, flipped and ended on them, handlers, buttons, legacy labels,
// intervals and timeouts installed and removed, and host input (clicks, keys, moves, close
// requests, drops) pumped in between. Handlers are native functions that may run one more
// command from the bytes, so that a handler can free its own display, clear its own interval or
// delete its own button. The clock is virtual: a wait jumps to its deadline, and a step that
// waits too long ends as Ctrl-C ends it. Every call ends with a result
// or an error code, and nothing is left allocated.
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "gfx/library/graphics_library.h"
#include "objects/brush.h"
#include "objects/brush_library/brush_library.h"
#include "objects/object_neighbours.h"
#include "platform/linux/memory.h"
#include "platform/linux/testing.h"
#include "platform/linux/time.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/wait.h"
#include "platform/linux/window.h"
#include "runtime/event_queue.h"
#include "runtime/input_pump.h"
#include "runtime/objects.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "scene/display.h"
#include "scene/display_hosts.h"
#include "scene/display_library.h"
#include "scene/events/event_library.h"
#include "scene/events/event_neighbours.h"
#include "scene/scene_neighbours.h"
#include "tests/fuzz/scene_fuzz_input.h"
#include "tests/fuzz/virtual_clock.h"

namespace {

using qv::fuzz::ByteInput;
using qv::fuzz::Check;

// Every command of both libraries, double buffering, and the few neighbours that change what a
// display shows or read its state.
constexpr const char* kCommands[] = {
    // display
    "changedisplaysize", "settitle", "movedisplay", "hidedisplay", "showdisplay",
    "setdisplayattributes", "createdisplay", "freedisplay", "opendisplay", "closedisplay",
    "selectdisplay", "activatedisplay", "changedisplaymode", "getdisplaymodes",
    // event
    "waitleftmouse", "waitrightmouse", "waitkeydown", "iskeydown", "whilerightmousedown",
    "whilemousedown", "whilekeydown", "isleftmouse", "isrightmouse", "breakwhilemouseon",
    "seteventtimeout", "geteventcode", "leftmousequit", "escapequit", "ctrlcquit", "enableevent",
    "disableevent", "removebutton", "removekeydown", "modifybutton", "modifykeydown",
    "whilemouseon", "createbutton", "createkeydown", "freeeventcache", "clearevents", "checkevent",
    "waitevent", "mousex", "mousey", "makebutton", "deletebutton", "disablebutton", "enablebutton",
    "installeventhandler", "setinterval", "settimeout", "clearinterval", "cleartimeout",
    "changeinterval", "dumpbuttons", "waitmidmouse", "ismidmouse", "resetkeystates", "joydir",
    "joyfire", "countjoysticks", "createport", "sendmessage",
    // double buffering and neighbours
    "begindoublebuffer", "enddoublebuffer", "flip", "createbgpic", "displaybgpic", "freebgpic",
    "getattribute", "vwait"};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

// Moderate values, limits, 2^31 neighbours and values beyond every limit. Sizes in the tens of
// thousands meet the memory cap below.
constexpr double kNumbers[] = {
    0,   1,        2,        3,     4,     -1,   5,     7,          10,         16,
    32,  48,       64,       100,   200,   320,  -50,   -100,       1000,       4096,
    0.5, -1e5,     32768,    32769, 99999, 1e12, -1e12, 0x7FFFFFFF, 0x80000000, -0x80000000LL,
    NAN, INFINITY, -INFINITY};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];

// Key names, port names, words, titles, percentages.
const std::string kLongTitle(300, 't');
const char* const kTexts[] = {
    "a",   "ESC", "SPACE",           "",     "LMB", "50%",     "150%", "x%",
    "F1",  "UP",  "FUZZPORT",        "word", "a b", "q\"uote", "1",    "RETURN",
    "DEL", "zz",  kLongTitle.c_str()};
constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];

// Display options, handler names and button fields.
constexpr const char* kKeys[] = {"width",
                                 "height",
                                 "x",
                                 "y",
                                 "title",
                                 "bgpic",
                                 "scalemode",
                                 "scalewidth",
                                 "scaleheight",
                                 "fillstyle",
                                 "color",
                                 "borderless",
                                 "sizeable",
                                 "fixed",
                                 "smoothscale",
                                 "keepproportions",
                                 "fitscale",
                                 "hidden",
                                 "layers",
                                 "active",
                                 "private1",
                                 "hidepointer",
                                 "nohide",
                                 "noclose",
                                 "dragregion",
                                 "sizeregion",
                                 "onkeydown",
                                 "onkeyup",
                                 "onmousemove",
                                 "closewindow",
                                 "movewindow",
                                 "sizewindow",
                                 "onmousedown",
                                 "onmouseup",
                                 "onrightmousedown",
                                 "onrightmouseup",
                                 "onwheeldown",
                                 "onwheelup",
                                 "ondropfile",
                                 "onmidmousedown",
                                 "hidewindow",
                                 "showwindow",
                                 "activewindow",
                                 "inactivewindow",
                                 "modeswitch",
                                 "onmouseover",
                                 "onmouseout",
                                 "onmidmouseup",
                                 "onusermessage",
                                 "onarexx",
                                 "type",
                                 "smooth"};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];

constexpr int kSteps = 48;

struct Run {
    ByteInput* in;
    int depth;  // handlers that run a command run at most one more level
};
Run* running = nullptr;

// The graphics library's neighbours as the player joins them.
class JoinedNeighbours final : public qv::scene::SceneNeighbours,
                               public qv::scene::DisplayNeighbours,
                               public qv::objects::ObjectNeighbours,
                               public qv::events::EventNeighbours {};

// --- Arguments ---

int Handler(qvVmState* L);
void Step(qvVmState* L, ByteInput* in);

void PushNumber(qvVmState* L, ByteInput* in) {
    VmPushNumber(L, kNumbers[in->Byte() % kNumberCount]);
}

void PushValue(qvVmState* L, ByteInput* in, bool nested);

// A table of known keys (options, handlers, button fields), or a list.
void PushTable(qvVmState* L, ByteInput* in) {
    VmNewTable(L);
    const uint8_t shape = in->Byte();
    for (int i = shape % 6; i > 0; --i) {
        if (shape & 0x80) {
            PushValue(L, in, true);
            VmRawSetI(L, -2, i - 1);
            continue;
        }
        VmPushString(L, kKeys[in->Byte() % kKeyCount]);
        PushValue(L, in, true);
        VmRawSet(L, -3);
    }
}

void PushValue(qvVmState* L, ByteInput* in, bool nested) {
    switch (in->Byte() % 9) {
        case 0:
        case 1:
            PushNumber(L, in);
            break;
        case 2:
            VmPushNumber(L, in->Byte() % 5);  // a display, button or interval id
            break;
        case 3:
            VmPushString(L, kTexts[in->Byte() % kTextCount]);
            break;
        case 4:
            if (!nested) {
                PushTable(L, in);
                break;
            }
            [[fallthrough]];
        case 5:
            VmPushCClosure(L, Handler, 0);
            break;
        case 6:
            VmPushBoolean(L, in->Byte() & 1);
            break;
        case 7:
            VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t(0x1000 + in->Byte())));
            break;
        default:
            VmPushNil(L);
            break;
    }
}

// --- Steps ---

// Well-formed calls, so that buttons, handlers and timers come to exist and meet input: each
// letter is one argument: i an id (or nil), n a small coordinate, N any number, s a text, f a
// handler, h a table of handlers, o a table of display options, t a button type, v any value.
struct Shape {
    const char* command;
    const char* arguments;
};
constexpr Shape kShapes[] = {{"makebutton", "itnnnnhv"},
                             {"makebutton", "itnnnnh"},
                             {"installeventhandler", "h"},
                             {"installeventhandler", "hv"},
                             {"setinterval", "ifn"},
                             {"settimeout", "ifnv"},
                             {"changeinterval", "in"},
                             {"clearinterval", "i"},
                             {"cleartimeout", "i"},
                             {"createbutton", "innnn"},
                             {"createkeydown", "is"},
                             {"modifybutton", "innnn"},
                             {"modifykeydown", "is"},
                             {"enableevent", "ni"},
                             {"disableevent", "ni"},
                             {"deletebutton", "i"},
                             {"enablebutton", "i"},
                             {"disablebutton", "i"},
                             {"createdisplay", "io"},
                             {"setdisplayattributes", "o"},
                             {"opendisplay", "iv"},
                             {"closedisplay", "i"},
                             {"freedisplay", "i"},
                             {"selectdisplay", "iv"},
                             {"activatedisplay", "i"},
                             {"changedisplaysize", "NNo"},
                             {"changedisplaysize", "nn"},
                             {"movedisplay", "NN"},
                             {"changedisplaymode", "nNN"},
                             {"begindoublebuffer", "n"},
                             {"flip", "n"},
                             {"enddoublebuffer", ""},
                             {"createbgpic", "innn"},
                             {"displaybgpic", "i"},
                             {"freebgpic", "i"},
                             {"waitevent", ""},
                             {"checkevent", ""},
                             {"hidedisplay", ""},
                             {"showdisplay", ""},
                             {"iskeydown", "s"},
                             {"seteventtimeout", "n"},
                             {"createport", "s"},
                             {"sendmessage", "sss"},
                             {"whilemousedown", ""},
                             {"waitkeydown", "s"}};
constexpr int kShapeCount = sizeof kShapes / sizeof kShapes[0];

// Handler names of displays and buttons, and the display options.
constexpr int kFirstHandlerKey = 26;
constexpr int kHandlerKeyCount = 24;

void PushHandlers(qvVmState* L, ByteInput* in) {
    VmNewTable(L);
    for (int i = 1 + in->Byte() % 4; i > 0; --i) {
        VmPushString(L, kKeys[kFirstHandlerKey + in->Byte() % kHandlerKeyCount]);
        if (in->Byte() % 6 == 0) {
            VmPushNumber(L, 0);  // uninstalls
        } else {
            VmPushCClosure(L, Handler, 0);
        }
        VmRawSet(L, -3);
    }
}

void PushOptions(qvVmState* L, ByteInput* in) {
    VmNewTable(L);
    for (int i = in->Byte() % 5; i > 0; --i) {
        const uint8_t key = in->Byte() % kFirstHandlerKey;
        VmPushString(L, kKeys[key]);
        if (key < 4 || key == 7 || key == 8) {
            VmPushNumber(L, in->Byte() % 4 == 0 ? kNumbers[in->Byte() % kNumberCount]
                                                : double(in->Byte() % 96));
        } else if (key == 5) {
            VmPushNumber(L, in->Byte() % 5);  // a picture
        } else if (key == 6 || key == 9) {
            VmPushNumber(L, in->Byte() % 4);  // a scale mode, a fill style
        } else {
            PushValue(L, in, true);
        }
        VmRawSet(L, -3);
    }
}

void PushShaped(qvVmState* L, ByteInput* in, char kind) {
    if (in->Byte() % 16 == 0) return PushValue(L, in, false);  // now and then a wrong one
    switch (kind) {
        case 'i':
            if (in->Byte() % 6 == 0) return VmPushNil(L);
            return VmPushNumber(L, in->Byte() % 5);
        case 'n':
            return VmPushNumber(L, in->Byte() % 72);
        case 't':
            return VmPushNumber(L, in->Byte() % 4 == 0 ? 1 : 0);
        case 'N':
            return PushNumber(L, in);
        case 's':
            return VmPushString(L, kTexts[in->Byte() % kTextCount]);
        case 'f':
            return VmPushCClosure(L, Handler, 0);
        case 'h':
            return PushHandlers(L, in);
        case 'o':
            return PushOptions(L, in);
        default:
            return PushValue(L, in, false);
    }
}

void CallGlobal(qvVmState* L, const char* command, int base) {
    VmPushString(L, command);
    VmGetTable(L, VM_GLOBALSINDEX);
    VmInsert(L, base + 1);
    VmCall(L, VmGetTop(L) - base - 1, -1);
    VmSetTop(L, base);
}

void CallCommand(qvVmState* L, ByteInput* in) {
    const int base = VmGetTop(L);
    const char* command = kCommands[in->Byte() % kCommandCount];
    for (int i = in->Byte() % 9; i > 0; --i) PushValue(L, in, false);
    CallGlobal(L, command, base);
}

void CallShaped(qvVmState* L, ByteInput* in) {
    const int base = VmGetTop(L);
    const Shape& shape = kShapes[in->Byte() % kShapeCount];
    for (const char* kind = shape.arguments; *kind != '\0'; ++kind) PushShaped(L, in, *kind);
    CallGlobal(L, shape.command, base);
}

// Host input for the window of a display (or one nobody knows), then the input pump.
void SendInput(qvVmState* L, ByteInput* in) {
    uint32_t window = 0;
    int pick = in->Byte() % 5;
    for (qvDisplay* d = qv::scene::FirstDisplay(); d != nullptr; d = qv::scene::NextDisplay(d)) {
        if (d->window != nullptr && d->window->number != 0) window = d->window->number;
        if (pick-- == 0) break;
    }
    qv::HostEvent event{};
    event.kind = qv::HostEventKind(in->Byte() % (uint8_t(qv::HostEventKind::kClipboard) + 1));
    event.window = in->Byte() % 8 == 0 ? 99 : window;
    event.x = int32_t(in->Byte() % 80) - 8;
    event.y = int32_t(in->Byte() % 60) - 8;
    event.button = in->Byte() % 4;
    event.down = in->Byte() & 1;
    event.key = in->Byte();
    if (event.kind == qv::HostEventKind::kDrop) {
        qv::platform::testing::InjectDrop(event.window, event.x, event.y, {"a", "b/c"});
    } else {
        qv::platform::testing::InjectHostEvent(event);
    }
    PumpEvents(L);
}

void Step(qvVmState* L, ByteInput* in) {
    const uint8_t op = in->Byte() % 8;
    if (op < 2) return SendInput(L, in);
    if (op < 5) return CallShaped(L, in);
    CallCommand(L, in);
}

// A handler: nothing, or one more step from the bytes (freeing its display, say).
int Handler(qvVmState* L) {
    Run* run = running;
    if (run == nullptr || run->depth > 0 || run->in->Byte() % 3 != 0) return 0;
    ++run->depth;
    Step(L, run->in);
    --run->depth;
    return 0;
}

int ProtectedStep(qvVmState* L) {
    Run* run = static_cast<Run*>(VmToUserdata(L, 1));
    VmSetTop(L, 0);
    Step(L, run->in);
    return 0;
}

// Display 1 of 64 x 48 opened as start-up opens it, and a hidden display 2 to switch to.
int OpenDisplays(qvVmState* L) {
    for (uint32_t id : {1u, 2u}) {
        VmPushString(L, "createdisplay");
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushNumber(L, id);
        VmNewTable(L);
        for (auto [key, value] : {std::pair{"width", 64}, std::pair{"height", 48}}) {
            VmPushString(L, key);
            VmPushNumber(L, value);
            VmRawSet(L, -3);
        }
        if (id == 2) {
            VmPushString(L, "hidden");
            VmPushBoolean(L, 1);
            VmRawSet(L, -3);
        }
        VmCall(L, 2, 0);
    }
    Check(OpenFirstDisplay(L, nullptr, nullptr) == 0);
    return 0;
}

int OpenAll(qvVmState* L) {
    for (int (*open)(qvVmState*) :
         {RegisterGraphicsLibrary, RegisterDisplayLibrary, RegisterBGPicLibrary,
          RegisterBrushLibrary, RegisterEventLibrary}) {
        Check(open(L) == 0);
        VmSetTop(L, 0);
    }
    return OpenDisplays(L);
}

const bool kSetUp = [] {
    char dir[] = "/tmp/qvfuzz-display-XXXXXX";
    setenv("QV_REXX_DIR", mkdtemp(dir), 1);
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(kSetUp);
    // Displays of a few hundred megapixels fail here as they fail on a machine without the memory.
    qv::SetMemoryCap(size_t(256) << 20);
    qv::fuzz::VirtualClock::Install(1000000000);
    qv::ResetRuntimeState();
    Check(InitSupport() == 0);
    qv::Runtime().quiet = 1;
    qv::platform::testing::ResetHeadless();
    qv::platform::testing::SetInstantVBlank(true);
    qv::RestartWindowNumbers();
    JoinedNeighbours neighbours;
    qv::gfx::SetNeighbours(&neighbours);

    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    Check(VmCPCall(L, OpenAll, nullptr) == 0);
    ByteInput in{data, size};
    Run run{&in, 0};
    running = &run;
    // Errors end the script or are returned, as the script chose.
    qv::Runtime().error.exitOnError = in.Byte() & 1;
    qv::fuzz::RunSteps(L, ProtectedStep, &run, kSteps);
    running = nullptr;

    // The player's shutdown order.
    CloseDisplayLibrary(L);
    FreeGraphicsObjects(L);
    FreeAllBrushes(L);
    FreeAllBGPics(L);
    FreeEventObjects(L);
    VmClose(L);
    qv::gfx::SetNeighbours(nullptr);
    qv::ResetRuntimeState();
    qv::platform::testing::ResetHeadless();
    qv::fuzz::VirtualClock::Remove();
    qv::SetMemoryCap(0);
    return 0;
}

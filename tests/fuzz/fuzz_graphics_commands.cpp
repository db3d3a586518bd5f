// The "graphics" commands under arguments drawn from the fuzzer's bytes, on a small headless
// display with layers on or off and objects of several kinds alive: brushes, a background
// picture, sprites shown on screen, clip regions (a box, a brush's mask, one a layer uses),
// pointers (system, brush, sprite frame) and asynchronous drawing objects of a small producer.
// GetAttribute asks every type for every attribute of live, missing and freed objects; clip
// regions, pointers and drawing objects are made, set, freed and used after freeing, while the
// neighbouring commands free what they were made from, switch layers and change the output.
// Snapshots go only to fixed relative names inside a private directory. Every call ends with
// a result or an error code, and nothing is left allocated.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "gfx/library/async_draw.h"
#include "gfx/library/graphics_library.h"
#include "objects/brush.h"
#include "objects/brush_library/brush_library.h"
#include "objects/object_neighbours.h"
#include "objects/scene_hooks.h"
#include "objects/sprite/sprite.h"
#include "objects/sprite/sprite_library.h"
#include "platform/linux/memory.h"
#include "platform/linux/testing.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/window.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "scene/display_hosts.h"
#include "scene/display_library.h"
#include "scene/layers/layers_library.h"
#include "scene/object_hooks.h"
#include "scene/scene_neighbours.h"
#include "tests/fuzz/fuzz_files.h"
#include "tests/fuzz/scene_fuzz_input.h"

namespace {

using qv::fuzz::ByteInput;
using qv::fuzz::Check;
using qv::fuzz::SmallBmp;
using qv::fuzz::WriteFile;

// Moderate values, object types, limits, 2^31 neighbours and values no size can have.
constexpr double kNumbers[] = {0,
                               1,
                               2,
                               3,
                               -1,
                               7,
                               14,
                               28,
                               36,
                               32,
                               22,
                               60,
                               100,
                               255,
                               256,
                               -2,
                               0.5,
                               99999,
                               1e12,
                               -1e12,
                               -100000,
                               2147483647,
                               2147483648.,
                               -2147483648.,
                               -2147483649.,
                               0x80FF0000,
                               0xFFFFFFFF,
                               NAN,
                               INFINITY,
                               -INFINITY};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];

// The type constants of GetAttribute, with types nobody knows.
constexpr int kTypes[] = {1,  2,  3,  4,  8,  21, 22, 32, 33, 35, 36, 37, 39, 40, 41, 42, 43, 44,
                          45, 49, 50, 51, 52, 53, 54, 55, 56, 0,  7,  9,  12, 28, 30, 57, -1, 100};
constexpr int kTypeCount = sizeof kTypes / sizeof kTypes[0];

// Fixed names relative to the private directory, and texts that are no file.
constexpr const char* kTexts[] = {
    "good.bmp", "broken.bmp", "missing.png", "snap.bmp", "snap.png", "sub/none.bmp",
    "",         "50%",        "x",           ".",        "onswitch", "onmouseup"};
constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];

// Keys of draw-tag and layer-style tables, and of save options.
constexpr const char* kKeys[] = {
    "anchorx", "anchory", "border",   "bordersize", "rotate",          "scalex",
    "scaley",  "shadow",  "edgesize", "tint",       "tintcolor",       "transparency",
    "width",   "height",  "hidden",   "clipregion", "nocliptransform", "x",
    "y",       "quality", "colors",   "dither",     "smoothscale",     "insertpos"};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];

// A producer of asynchronous frames: it counts its frames, draws nothing and frees its record
// when the list lets it go.
struct Producer {
    int32_t frames, current;
};

int ProducerStep(void* data, int32_t* finished) {
    auto* p = static_cast<Producer*>(data);
    if (p->current < p->frames) ++p->current;
    *finished = p->current >= p->frames ? 1 : 0;
    return 0;
}

void ProducerFinish(void* data, int32_t) {
    auto* p = static_cast<Producer*>(data);
    p->current = p->frames;
}

void ProducerFree(void* data, int32_t) {
    delete static_cast<Producer*>(data);
}

intptr_t ProducerHandler(int32_t message, void* argument, void* data) {
    auto* p = static_cast<Producer*>(data);
    switch (message) {
        case kAsyncFrameCount:
            return p->frames;
        case kAsyncCurrentFrame:
            return p->current;
        case kAsyncJumpToFrame:
            p->current = *static_cast<int32_t*>(argument);
            return 0;
        default:
            return 0;
    }
}

// The player's answers of the later subsystems to the graphics library and to the objects.
class Neighbours final : public qv::scene::SceneNeighbours,
                         public qv::scene::DisplayNeighbours,
                         public qv::objects::ObjectNeighbours,
                         public qv::sprites::SpriteNeighbours {};

class Hooks final : public qv::objects::SceneHooks {
public:
    bool SpriteFrame(const qvSpriteInstance& instance, int32_t frame,
                     qv::gfx::PictureView* out) override {
        return qv::sprites::InstanceFrame(instance, frame, out);
    }
};

struct Run {
    ByteInput* in;
    std::vector<void*> handles;  // automatic ids commands returned (some freed since)
    std::vector<void*> drawers;  // asynchronous drawing objects made (some freed since)
};

void PushNumber(qvVmState* L, ByteInput* in) {
    VmPushNumber(L, kNumbers[in->Byte() % kNumberCount]);
}

// An object id: small numbers that exist or not, nil, a handle seen before (live or stale),
// an unknown handle, or any number.
void PushId(qvVmState* L, Run* run) {
    const uint8_t pick = run->in->Byte();
    switch (pick % 8) {
        case 0:
        case 1:
        case 2:
            return VmPushNumber(L, 1 + pick / 8 % 4);
        case 3:
            return VmPushNil(L);
        case 4:
            if (!run->handles.empty()) {
                return VmPushLightUserdata(L, run->handles[pick / 8 % run->handles.size()]);
            }
            [[fallthrough]];
        case 5:
            if (!run->drawers.empty()) {
                return VmPushLightUserdata(L, run->drawers[pick / 8 % run->drawers.size()]);
            }
            [[fallthrough]];
        case 6:
            return VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t(0x1000 + pick)));
        default:
            return PushNumber(L, run->in);
    }
}

void PushValue(qvVmState* L, Run* run, bool nested);

void PushTable(qvVmState* L, Run* run) {
    VmNewTable(L);
    for (int i = run->in->Byte() % 5; i > 0; --i) {
        VmPushString(L, kKeys[run->in->Byte() % kKeyCount]);
        PushValue(L, run, true);
        VmRawSet(L, -3);
    }
}

void PushValue(qvVmState* L, Run* run, bool nested) {
    ByteInput* in = run->in;
    switch (in->Byte() % 8) {
        case 0:
        case 1:
            return PushNumber(L, in);
        case 2:
            return VmPushString(L, kTexts[in->Byte() % kTextCount]);
        case 3:
            if (!nested) return PushTable(L, run);
            [[fallthrough]];
        case 4:
            return VmPushBoolean(L, in->Byte() & 1);
        case 5:
        case 6:
            return PushId(L, run);
        default:
            return VmPushNil(L);
    }
}

// Argument kinds: N number, i id, t type constant, a attribute number, s text, o table,
// k pointer kind, f frame, b boolean; any other letter a value of any kind.
void PushShaped(qvVmState* L, Run* run, char kind) {
    ByteInput* in = run->in;
    if (in->Byte() % 16 == 0) return PushValue(L, run, false);  // now and then a wrong one
    switch (kind) {
        case 'N':
            return PushNumber(L, in);
        case 'i':
            return PushId(L, run);
        case 't':
            return VmPushNumber(L, kTypes[in->Byte() % kTypeCount]);
        case 'a':
            return VmPushNumber(L, in->Byte() % 80);
        case 's':
            return VmPushString(L, kTexts[in->Byte() % kTextCount]);
        case 'o':
            return PushTable(L, run);
        case 'k':
            return VmPushNumber(L, in->Byte() % 4);
        case 'f':
            return VmPushNumber(L, int(in->Byte() % 6) - 1);
        case 'b':
            return VmPushBoolean(L, in->Byte() & 1);
        default:
            return PushValue(L, run, false);
    }
}

// Each command with the arguments it takes; the commands of the graphics library and the
// neighbours that make, show and free what its objects are made from.
struct Shape {
    const char* command;
    const char* arguments;
};
constexpr Shape kShapes[] = {
    {"red", "N"},
    {"green", "N"},
    {"blue", "N"},
    {"rgb", "NNN"},
    {"argb", "NN"},
    {"mixrgb", "NNN"},
    {"mixrgb", "NNs"},
    {"getrealcolor", "N"},
    {"getpen", "N"},
    {"getrandomcolor", ""},
    {"movepointer", "NN"},
    {"hidepointer", ""},
    {"showpointer", ""},
    {"setpointer", "i"},
    {"createpointer", "iPk"},
    {"createpointer", "iBiNN"},
    {"createpointer", "iSifNN"},
    {"freepointer", "i"},
    {"getattribute", "tia"},
    {"getattribute", "tiaN"},
    {"getattribute", "tsa"},
    {"getattribute", "tia"},
    {"vwait", ""},
    {"setfpslimit", "N"},
    {"getfpslimit", ""},
    {"ispicture", "s"},
    {"savesnapshot", "s"},
    {"savesnapshot", "sNNo"},
    {"createclipregion", "iXNNNN"},
    {"createclipregion", "iMiNN"},
    {"setclipregion", "i"},
    {"freeclipregion", "i"},
    {"asyncdrawframe", "i"},
    {"asyncdrawframe", "if"},
    {"cancelasyncdraw", "i"},
    {"finishasyncdraw", "i"},
    {"dumpvideotime", ""},
    {"setdrawtagsdefault", "o"},
    // neighbours
    {"createbrush", "iNNN"},
    {"freebrush", "i"},
    {"freebgpic", "i"},
    {"createsprite", "iBi"},
    {"displaysprite", "iNN"},
    {"removesprite", "i"},
    {"freesprite", "i"},
    {"displaybrush", "iNNo"},
    {"setlayerstyle", "io"},
    {"removelayer", "i"},
    {"enablelayers", ""},
    {"disablelayers", ""},
    {"selectbrush", "i"},
    {"selectmask", "i"},
    {"selectbgpic", "i"},
    {"endselect", ""},
    {"begindoublebuffer", ""},
    {"enddoublebuffer", ""},
    {"closedisplay", "i"},
    {"opendisplay", "i"},
    {"selectdisplay", "i"},
    {"freedisplay", "i"},
};
constexpr int kShapeCount = sizeof kShapes / sizeof kShapes[0];

// A shape's capitals are the type constants of the creating commands: B brush, M mask,
// P pointer, S sprite, X box.
void PushArguments(qvVmState* L, Run* run, const char* arguments) {
    for (const char* kind = arguments; *kind != '\0'; ++kind) {
        switch (*kind) {
            case 'B':
                VmPushNumber(L, 3);
                break;
            case 'M':
                VmPushNumber(L, 28);
                break;
            case 'P':
                VmPushNumber(L, 36);
                break;
            case 'S':
                VmPushNumber(L, 32);
                break;
            case 'X':
                VmPushNumber(L, 14);
                break;
            default:
                PushShaped(L, run, *kind);
        }
    }
}

void CallGlobal(qvVmState* L, const char* name, int base) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    VmInsert(L, base + 1);
    VmCall(L, VmGetTop(L) - base - 1, 1);
}

// An asynchronous drawing object of the current display, as a producer makes one.
void AddDrawer(Run* run) {
    auto* producer = new Producer{1 + run->in->Byte() % 4, 0};
    qvAsyncDraw* a = nullptr;
    if (AddAsyncDraw(run->in->Byte() % 3, ProducerStep, 0, ProducerFinish, ProducerFree,
                     ProducerHandler, producer, &a) != 0) {
        delete producer;
        return;
    }
    if (run->drawers.size() < 8) run->drawers.push_back(a);
}

// One step under the engine's protection: a shaped command, a command with any arguments, or
// a new drawing object. An automatic id a command returns is kept for later calls.
int CallOne(qvVmState* L) {
    Run* run = static_cast<Run*>(VmToUserdata(L, 1));
    ByteInput* in = run->in;
    VmSetTop(L, 0);
    const uint8_t op = in->Byte() % 16;
    if (op == 0) {
        AddDrawer(run);
        return 0;
    }
    const Shape& shape = kShapes[in->Byte() % kShapeCount];
    if (op == 1) {
        for (int i = in->Byte() % 7; i > 0; --i) PushValue(L, run, false);
    } else {
        PushArguments(L, run, shape.arguments);
    }
    CallGlobal(L, shape.command, 0);
    if (VmType(L, -1) == VM_TLIGHTUSERDATA && run->handles.size() < 8) {
        run->handles.push_back(VmToUserdata(L, -1));
    }
    return 0;
}

void Call(qvVmState* L, const char* name, std::initializer_list<double> numbers,
          const char* key = nullptr, double value = 1) {
    VmSetTop(L, 0);
    for (double n : numbers) VmPushNumber(L, n);
    if (key != nullptr) {
        VmNewTable(L);
        VmPushString(L, key);
        VmPushNumber(L, value);
        VmRawSet(L, -3);
    }
    CallGlobal(L, name, 0);
}

// Display 1 of 64 x 48 opened as start-up opens it; brushes 1-3 (plain, masked, with an alpha
// plane), picture 1, sprites 1-2 made from brushes, clip regions 1 (a box) and 2 (brush 2's
// mask), pointers 1 (the busy one) and 2 (brush 3). With layers on,
// brushes 1 and 2 are layers and layer 2 is clipped by region 1; with layers off, sprite 1 is
// on screen. Two drawing objects come last.
int Prepare(qvVmState* L) {
    Run* run = static_cast<Run*>(VmToUserdata(L, 1));
    const bool layers = (run->in->Byte() & 1) != 0;
    VmSetTop(L, 0);
    VmPushNumber(L, 1);
    VmNewTable(L);
    for (const auto& [key, value] : {std::pair{"width", 64}, {"height", 48}}) {
        VmPushString(L, key);
        VmPushNumber(L, value);
        VmRawSet(L, -3);
    }
    CallGlobal(L, "createdisplay", 0);
    Check(OpenFirstDisplay(L, nullptr, nullptr) == 0);
    Call(L, "createbrush", {1, 9, 7, 0xFF8000});
    Call(L, "createbrush", {2, 9, 7, 0x0080FF}, "mask");
    Call(L, "createbrush", {3, 9, 7, 0x00FF00}, "alphachannel");
    Call(L, "createbgpic", {1, 40, 30, 0x203040});
    Call(L, "createsprite", {1, 3, 1});
    Call(L, "createsprite", {2, 3, 2});
    Call(L, "createclipregion", {1, 14, 2, 3, 20, 10});
    Call(L, "createclipregion", {2, 28, 2, 4, 5});
    Call(L, "createpointer", {1, 36, 1});
    Call(L, "createpointer", {2, 3, 3, 1, 1});
    if (layers) {
        Call(L, "enablelayers", {});
        Call(L, "displaybrush", {1, 0, 0});
        Call(L, "displaybrush", {2, 10, 10});
        Call(L, "setlayerstyle", {2}, "clipregion", 1);
    } else {
        Call(L, "displaysprite", {1, 10, 10});
    }
    // Layers cannot be switched while drawing objects exist.
    AddDrawer(run);
    AddDrawer(run);
    return 0;
}

std::string directory;

void RemoveDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
}

// A private directory made current once (the replay runner calls no initialiser), holding a
// small picture and a broken one, removed at exit: snapshots and probes name files relative
// to it.
bool MakeDirectory() {
    setenv("QV_VIDEO", "headless", 1);
    char pattern[] = "/tmp/fuzz_graphics_XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    directory = pattern;
    std::vector<uint8_t> bmp = SmallBmp();
    WriteFile(directory + "/good.bmp", bmp);
    bmp.resize(60);  // a header that promises rows the file does not hold
    WriteFile(directory + "/broken.bmp", bmp);
    std::atexit(RemoveDirectory);
    Check(chdir(directory.c_str()) == 0);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = MakeDirectory();
    if (size < 1 || !ready) return 0;
    // Bitmaps of a few hundred megapixels fail here as on a machine without the memory.
    qv::SetMemoryCap(size_t(256) << 20);
    ByteInput in{data, size};
    qv::ResetRuntimeState();
    Check(InitSupport() == 0);
    qv::Runtime().quiet = 1;
    qv::platform::testing::ResetHeadless();
    qv::platform::testing::SetInstantVBlank(true);
    qv::RestartWindowNumbers();
    Neighbours neighbours;
    qv::gfx::SetNeighbours(&neighbours);
    Hooks hooks;
    qv::scene::SetObjectHooks(&hooks);
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    for (int (*registerLibrary)(qvVmState*) :
         {RegisterGraphicsLibrary, RegisterLayersLibrary, RegisterDisplayLibrary,
          RegisterBrushLibrary, RegisterBGPicLibrary, RegisterSpriteLibrary}) {
        VmSetTop(L, 0);
        Check(registerLibrary(L) == 0);
    }
    Run run{&in, {}, {}};
    VmSetTop(L, 0);
    Check(VmCPCall(L, Prepare, &run) == 0);
    for (int step = 0; step < 48 && in.More(); ++step) VmCPCall(L, CallOne, &run);
    // The player's shutdown order.
    CloseDisplayLibrary(L);
    FreeGraphicsObjects(L);
    FreeAllBrushes(L);
    FreeAllBGPics(L);
    FreeAllSprites(L);
    FreeLayersLibrary(L);
    VmClose(L);
    qv::scene::SetObjectHooks(nullptr);
    qv::gfx::SetNeighbours(nullptr);
    qv::ResetRuntimeState();
    qv::platform::testing::ResetHeadless();
    qv::SetMemoryCap(0);
    // What snapshots saved, the pictures to probe excepted.
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        const std::string name = entry.path().filename();
        if (name != "good.bmp" && name != "broken.bmp") std::filesystem::remove_all(entry.path());
    }
    return 0;
}

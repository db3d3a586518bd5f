// The "brush" and "bgpic" commands under arguments drawn from the fuzzer's bytes, on a small
// headless display opened as start-up opens it, with layers on or off: brushes and pictures
// made, loaded (a good and a broken picture file), copied, transformed, drawn into, shown and
// freed in any order, through numeric ids, automatic handles (live and stale) and ids that do
// not exist. Every call ends with a result or an error code and nothing is left allocated.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gfx/library/graphics_library.h"
#include "objects/brush.h"
#include "objects/brush_library/brush_library.h"
#include "objects/object_neighbours.h"
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
#include "scene/scene_neighbours.h"
#include "tests/fuzz/fuzz_files.h"
#include "tests/fuzz/scene_fuzz_input.h"

namespace {

using qv::fuzz::ByteInput;
using qv::fuzz::Check;
using qv::fuzz::SmallBmp;
using qv::fuzz::WriteFile;

// Every command of both libraries, and the layer switches that change how brushes are shown.
constexpr const char* kCommands[] = {"createbrush",
                                     "displaybrush",
                                     "displaybrushpart",
                                     "scalebrush",
                                     "freebrush",
                                     "tintbrush",
                                     "replacecolors",
                                     "invertbrush",
                                     "flipbrush",
                                     "mixbrush",
                                     "brushtogray",
                                     "rotatebrush",
                                     "getbrushlink",
                                     "selectbrush",
                                     "copybrush",
                                     "setbrushtransparency",
                                     "loadbrush",
                                     "selectmask",
                                     "setmaskmode",
                                     "savebrush",
                                     "selectalphachannel",
                                     "setalphaintensity",
                                     "deletealphachannel",
                                     "cropbrush",
                                     "invertmask",
                                     "invertalphachannel",
                                     "floodfill",
                                     "deletemask",
                                     "begindoublebuffer",
                                     "enddoublebuffer",
                                     "flip",
                                     "converttobrush",
                                     "grabdesktop",
                                     "transformbrush",
                                     "trimbrush",
                                     "rasterizebrush",
                                     "blurbrush",
                                     "embossbrush",
                                     "edgebrush",
                                     "sharpenbrush",
                                     "solarizebrush",
                                     "gammabrush",
                                     "contrastbrush",
                                     "modulatebrush",
                                     "sepiatonebrush",
                                     "charcoalbrush",
                                     "swirlbrush",
                                     "pixelatebrush",
                                     "brushtomonochrome",
                                     "changebrushtransparency",
                                     "createshadowbrush",
                                     "createborderbrush",
                                     "waterripplebrush",
                                     "oilpaintbrush",
                                     "brushtorgbarray",
                                     "rgbarraytobrush",
                                     "perspectivedistortbrush",
                                     "arcdistortbrush",
                                     "polardistortbrush",
                                     "barreldistortbrush",
                                     "creategradientbrush",
                                     "createtexturedbrush",
                                     "readbrushpixel",
                                     "writebrushpixel",
                                     "displaybgpic",
                                     "displaybgpicpart",
                                     "scalebgpic",
                                     "creategradientbgpic",
                                     "createrainbowbgpic",
                                     "createtexturedbgpic",
                                     "brushtobgpic",
                                     "bgpictobrush",
                                     "createbgpic",
                                     "freebgpic",
                                     "loadbgpic",
                                     "copybgpic",
                                     "selectbgpic",
                                     "endselect",
                                     "enablelayers",
                                     "disablelayers"};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

// Moderate values, object types, limits, 2^31 neighbours and values no size can have.
constexpr double kNumbers[] = {0,
                               1,
                               2,
                               3,
                               4,
                               5,
                               -1,
                               7,
                               8,
                               10,
                               12,
                               22,
                               28,
                               30,
                               32,
                               45,
                               90,
                               -90,
                               180,
                               360,
                               0.5,
                               1.5,
                               -4,
                               100,
                               255,
                               256,
                               999,
                               -2,
                               99999,
                               1e12,
                               -1e12,
                               2147483647.0,
                               2147483648.0,
                               -2147483648.0,
                               -2147483649.0,
                               0x80FF0000,
                               0xFFFFFFFF,
                               0xFF00FF,
                               NAN,
                               INFINITY,
                               -INFINITY};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];
constexpr const char* kOptionKeys[] = {"mask",
                                       "alphachannel",
                                       "clear",
                                       "transparency",
                                       "loadalpha",
                                       "globalalpha",
                                       "x",
                                       "y",
                                       "width",
                                       "height",
                                       "hardware",
                                       "fillstyle",
                                       "fillcolor",
                                       "texturebrush",
                                       "layers",
                                       "quality",
                                       "colors",
                                       "dither",
                                       "gradientstyle",
                                       "gradientangle",
                                       "smoothscale",
                                       "rotate",
                                       "shadow",
                                       "border",
                                       "bordersize",
                                       "bordercolor",
                                       "tint",
                                       "tintcolor",
                                       "insertpos",
                                       "hidden",
                                       "name",
                                       "edgesize",
                                       "shadowsize",
                                       "shadowradius",
                                       "cache"};
constexpr int kOptionKeyCount = sizeof kOptionKeys / sizeof kOptionKeys[0];

// The files the texts name: a small picture, a broken one, a missing one and one to save to.
struct Files {
    std::string dir, good, broken, missing, saved;
};
Files files;

void RemoveFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(files.dir, ignored);
}

const char* Text(ByteInput* in) {
    switch (in->Byte() % 10) {
        case 0:
            return files.good.c_str();
        case 1:
            return files.broken.c_str();
        case 2:
            return files.missing.c_str();
        case 3:
            return files.saved.c_str();
        case 4:
            return "50%";
        case 5:
            return "200%";
        case 6:
            return "x%";
        case 7:
            return "-5%";
        case 8:
            return "";
        default:
            return "1";
    }
}

// The player's answers of the later subsystems to the graphics library.
class Neighbours final : public qv::scene::SceneNeighbours,
                         public qv::scene::DisplayNeighbours,
                         public qv::objects::ObjectNeighbours {};

struct Run {
    ByteInput* in;
    void* handle = nullptr;  // the last automatic id a command returned (it may be freed since)
};

// An object id: numbers that exist or not, nil (an automatic id), the last handle, -1 (the
// picture a display shows) and an unknown handle.
void PushId(qvVmState* L, Run* run) {
    const uint8_t pick = run->in->Byte();
    switch (pick % 8) {
        case 0:
        case 1:
        case 2:
            VmPushNumber(L, 1 + pick / 8 % 6);
            break;
        case 3:
            VmPushNil(L);
            break;
        case 4:
            if (run->handle != nullptr) {
                VmPushLightUserdata(L, run->handle);
                break;
            }
            [[fallthrough]];
        case 5:
            VmPushNumber(L, -1);
            break;
        case 6:
            VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t(0x1000 + pick)));
            break;
        default:
            VmPushNumber(L, kNumbers[run->in->Byte() % kNumberCount]);
            break;
    }
}

void PushValue(qvVmState* L, Run* run, bool nested) {
    ByteInput* in = run->in;
    switch (in->Byte() % 9) {
        case 0:
        case 1:
        case 2:
            VmPushNumber(L, kNumbers[in->Byte() % kNumberCount]);
            break;
        case 3:
            VmPushString(L, Text(in));
            break;
        case 4:
            if (!nested) {
                VmNewTable(L);
                for (int i = in->Byte() % 5; i > 0; --i) {
                    VmPushString(L, kOptionKeys[in->Byte() % kOptionKeyCount]);
                    PushValue(L, run, true);
                    VmRawSet(L, -3);
                }
                break;
            }
            [[fallthrough]];
        case 5:
            // A list from index 0, as colour pairs and pixel tables are read; now and then
            // long enough for a small brush's pixels.
            VmNewTable(L);
            for (int i = 0, n = in->Byte() % 4 == 0 ? 70 : in->Byte() % 9; i < n; ++i) {
                VmPushNumber(L, kNumbers[in->Byte() % kNumberCount]);
                VmRawSetI(L, -2, i);
            }
            break;
        case 6:
            PushId(L, run);
            break;
        case 7:
            VmPushBoolean(L, in->Byte() & 1);
            break;
        default:
            VmPushNil(L);
            break;
    }
}

void CallGlobal(qvVmState* L, const char* name, int argCount, int results) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    VmInsert(L, -argCount - 1);
    VmCall(L, argCount, results);
}

// A brush or picture grows by the product of the factors it is scaled or transformed by, and a
// shadow or border takes time in proportion to the cube of its size: legitimate but slow work
// at sizes a fuzz run cannot afford. So such arguments of the commands below come down to
// their limit (those no bitmap can have stay), and what grew beyond kPixelBudget is freed
// after each call.
struct Tamed {
    const char* command;
    int first, last;
    double limit;
};
constexpr Tamed kTamed[] = {{"rotatebrush", 3, 4, 4},
                            {"transformbrush", 2, 5, 4},
                            {"createshadowbrush", 4, 5, 64},
                            {"createborderbrush", 4, 5, 64}};
constexpr int64_t kPixelBudget = int64_t(1) << 18;

void TameArguments(qvVmState* L, const char* command) {
    for (const Tamed& t : kTamed) {
        if (std::strcmp(command, t.command) != 0) continue;
        for (int i = t.first; i <= std::min(t.last, VmGetTop(L)); ++i) {
            if (VmType(L, i) != VM_TNUMBER) continue;
            const double value = VmToNumber(L, i);
            if (std::fabs(value) <= t.limit || std::fabs(value) >= 1e6) continue;
            VmPushNumber(L, std::copysign(t.limit, value));
            VmReplace(L, i);
        }
    }
}

int FreeOversized(qvVmState* L) {
    std::vector<qvObjectId> brushes, pictures;
    for (qvObjectHeader* h = *qv::BrushList(); h != nullptr; h = h->next) {
        const auto* b = reinterpret_cast<const qvBrush*>(h);
        if (int64_t(b->width) * b->height > kPixelBudget) brushes.push_back({h->id, h->handle});
    }
    for (qvObjectHeader* h = *qv::scene::BGPicList(); h != nullptr; h = h->next) {
        const auto* p = reinterpret_cast<const qvBGPic*>(h);
        if (int64_t(p->width) * p->height > kPixelBudget) pictures.push_back({h->id, h->handle});
    }
    for (const qvObjectId& id : brushes) FreeBrushById(L, id, false);
    for (const qvObjectId& id : pictures) FreeBGPicById(L, id, 0);
    return 0;
}

// One command with up to 11 arguments (an id first), under the engine's protection; an
// automatic id it returns is kept for later calls.
int CallOne(qvVmState* L) {
    Run* run = static_cast<Run*>(VmToUserdata(L, 1));
    ByteInput* in = run->in;
    VmSetTop(L, 0);
    const char* command = kCommands[in->Byte() % kCommandCount];
    const int count = in->Byte() % 12;
    if (count > 0) PushId(L, run);
    for (int i = 1; i < count; ++i) PushValue(L, run, false);
    TameArguments(L, command);
    CallGlobal(L, command, count, 1);
    if (VmType(L, -1) == VM_TLIGHTUSERDATA) run->handle = VmToUserdata(L, -1);
    return 0;
}

// Display 1 of 64 x 48 opened as start-up opens it; brushes 1-4 (plain, masked, with an alpha
// plane, loaded) and pictures 1-2 (plain, loaded); layers on when asked.
int Prepare(qvVmState* L) {
    const bool layers = VmToUserdata(L, 1) != nullptr;
    const auto call = [L](const char* name, std::initializer_list<double> numbers,
                          const char* key = nullptr) {
        VmSetTop(L, 0);
        for (double n : numbers) VmPushNumber(L, n);
        if (key != nullptr) {
            VmNewTable(L);
            VmPushString(L, key);
            VmPushNumber(L, 1);
            VmRawSet(L, -3);
        }
        CallGlobal(L, name, int(numbers.size()) + (key != nullptr ? 1 : 0), 0);
    };
    VmSetTop(L, 0);
    VmPushNumber(L, 1);
    VmNewTable(L);
    for (const auto& [key, value] : {std::pair{"width", 64}, {"height", 48}}) {
        VmPushString(L, key);
        VmPushNumber(L, value);
        VmRawSet(L, -3);
    }
    CallGlobal(L, "createdisplay", 2, 0);
    Check(OpenFirstDisplay(L, nullptr, nullptr) == 0);
    call("createbrush", {1, 9, 7, 0xFF8000});
    call("createbrush", {2, 9, 7, 0x0080FF}, "mask");
    call("createbrush", {3, 9, 7, 0x00FF00}, "alphachannel");
    call("createbgpic", {1, 40, 30, 0x203040});
    for (const auto& [command, id] : {std::pair{"loadbrush", 4}, {"loadbgpic", 2}}) {
        VmSetTop(L, 0);
        VmPushNumber(L, id);
        VmPushString(L, files.good.c_str());
        CallGlobal(L, command, 2, 0);
    }
    if (layers) CallGlobal(L, "enablelayers", 0, 0);
    return 0;
}

// The files, made once (the replay runner calls no initialiser) and removed at exit.
bool MakeFiles() {
    setenv("QV_VIDEO", "headless", 1);
    char pattern[] = "/tmp/fuzz_brush_XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    files.dir = pattern;
    files.good = files.dir + "/good.bmp";
    files.broken = files.dir + "/broken.bmp";
    files.missing = files.dir + "/missing.png";
    files.saved = files.dir + "/saved.bmp";
    std::vector<uint8_t> bmp = SmallBmp();
    WriteFile(files.good, bmp);
    bmp.resize(60);  // a header that promises rows the file does not hold
    WriteFile(files.broken, bmp);
    std::atexit(RemoveFiles);
    // SaveBrush writes a file a number or a text names relative to the current directory.
    Check(chdir(files.dir.c_str()) == 0);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = MakeFiles();
    if (size < 1 || !ready) return 0;
    ByteInput in{data, size};
    const bool layers = (in.Byte() & 1) != 0;
    qv::ResetRuntimeState();
    Check(InitSupport() == 0);
    qv::platform::testing::ResetHeadless();
    qv::RestartWindowNumbers();
    Neighbours neighbours;
    qv::gfx::SetNeighbours(&neighbours);
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    for (int (*registerLibrary)(qvVmState*) :
         {RegisterGraphicsLibrary, RegisterLayersLibrary, RegisterDisplayLibrary,
          RegisterBrushLibrary, RegisterBGPicLibrary}) {
        VmSetTop(L, 0);
        Check(registerLibrary(L) == 0);
    }
    VmSetTop(L, 0);
    Check(VmCPCall(L, Prepare, reinterpret_cast<void*>(uintptr_t(layers))) == 0);
    Run run{&in};
    for (int step = 0; step < 48 && in.More(); ++step) {
        VmCPCall(L, CallOne, &run);
        VmCPCall(L, FreeOversized, nullptr);
    }
    // Shutdown's order: displays, graphics objects, brushes, pictures, layer lists.
    CloseDisplayLibrary(L);
    FreeGraphicsObjects(L);
    FreeAllBrushes(L);
    FreeAllBGPics(L);
    FreeLayersLibrary(L);
    VmClose(L);
    qv::gfx::SetNeighbours(nullptr);
    qv::ResetRuntimeState();
    qv::platform::testing::ResetHeadless();
    // Files that saves made, the pictures to load excepted.
    for (const auto& entry : std::filesystem::directory_iterator(files.dir)) {
        if (entry.path() != files.good && entry.path() != files.broken) {
            std::filesystem::remove_all(entry.path());
        }
    }
    return 0;
}

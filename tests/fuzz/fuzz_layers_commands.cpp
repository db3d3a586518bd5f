// The "layers" commands under arguments drawn from the fuzzer's bytes, on a small display
// with brush layers (plain, masked, with an alpha plane, grouped and named): every call ends
// with a result or an error code, nothing is left allocated, and the window keeps showing
// exactly what the picture recomposes to.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/anim_store.h"
#include "objects/brush.h"
#include "runtime/objects.h"
#include "runtime/runtime_host.h"
#include "scene/layers/layers_library.h"
#include "tests/fuzz/scene_fuzz_input.h"
#include "tests/scene/support/layer_scene.h"

namespace {

using qv::fuzz::ByteInput;
using qv::fuzz::Check;
using qv::fuzz::KindPlanes;

constexpr const char* kCommands[] = {"undo",          "enablelayers",   "disablelayers",
                                     "swaplayers",    "insertlayer",    "showlayer",
                                     "hidelayer",     "removelayer",    "addmove",
                                     "clearmove",     "freelayers",     "setlayername",
                                     "collision",     "dumplayers",     "getlayerstyle",
                                     "layerexists",   "setlayerzpos",   "translatelayer",
                                     "selectlayer",   "createlayer",    "modifylayerframes",
                                     "getlayeratpos", "setlayershadow", "setlayerborder",
                                     "layertofront",  "layertoback"};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

constexpr const char* kTexts[] = {"a", "B", "team", "", "50%", "150%", "x%", "frames"};
// Moderate values, and values far beyond every limit. (A shadow radius in the thousands is
// left out: the shadow blur takes time in proportion to it at every pixel of a plane that
// large.)
constexpr double kNumbers[] = {0,       1,   2,        3,        4,     -1,           7,
                               22,      46,  47,       14,       32,    48,           10,
                               24,      25,  26,       34,       0.5,   20,           64,
                               100,     -4,  99999,    1e12,     -1e12, 2147483648.0, 100000,
                               -100000, NAN, INFINITY, -INFINITY};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];
constexpr const char* kOptionKeys[] = {"mask", "alphachannel", "clear", "color", "frames"};

void PushValue(qvVmState* L, ByteInput* in, bool nested) {
    switch (in->Byte() % 7) {
        case 0:
        case 1:
            VmPushNumber(L, kNumbers[in->Byte() % kNumberCount]);
            break;
        case 2:
            VmPushString(L, kTexts[in->Byte() % (sizeof kTexts / sizeof kTexts[0])]);
            break;
        case 3:
            if (!nested) {
                VmNewTable(L);
                for (int i = in->Byte() % 4; i > 0; --i) {
                    VmPushString(L, kOptionKeys[in->Byte() % 5]);
                    PushValue(L, in, true);
                    VmRawSet(L, -3);
                }
                break;
            }
            [[fallthrough]];
        case 4:
            VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t(0x1000 + in->Byte())));
            break;
        case 5:
            VmPushBoolean(L, in->Byte() & 1);
            break;
        default:
            VmPushNil(L);
            break;
    }
}

struct Run {
    ByteInput* in;
    bool unrefreshed;  // an Undo asked not to repaint
};

// One command with up to 9 arguments, under the engine's protection.
int CallOne(qvVmState* L) {
    Run* run = static_cast<Run*>(VmToUserdata(L, 1));
    ByteInput* in = run->in;
    VmSetTop(L, 0);
    const char* command = kCommands[in->Byte() % kCommandCount];
    VmPushString(L, command);
    VmGetTable(L, VM_GLOBALSINDEX);
    const int count = in->Byte() % 10;
    run->unrefreshed = std::strcmp(command, "undo") == 0 && count >= 4;
    for (int i = 0; i < count; ++i) PushValue(L, in, false);
    VmCall(L, count, 0);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::test::Planes background = qv::test::Solid(48, 32, 0);
    for (size_t i = 0; i < background.rgb.size(); ++i) background.rgb[i] = uint32_t(i) * 0x030507;
    qv::test::SceneObjects objects;
    objects.brushes.emplace(1, qv::test::MakePlanes(KindPlanes(1)));
    qv::test::SceneDisplay scene(background);
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    Check(RegisterLayersLibrary(L) == 0);
    for (int i = 0; i < 6; ++i) {
        qvLayer* layer = scene.AddLayer(L, KindPlanes(i), i * 7 - 3, i * 5 - 2);
        if (layer != nullptr && i >= 3) std::strcpy(layer->group, "team");
        if (layer != nullptr && i == 1) SetLayerNameString(layer, "a");
    }
    RefreshDisplayArea(L, 0, 0, scene.width, scene.height);
    ByteInput in{data, size};
    Run run{&in, false};
    for (int step = 0; step < 64 && in.More(); ++step) {
        VmCPCall(L, CallOne, &run);
        // Undo's last argument may ask for no repaint; the window catches up here.
        if (run.unrefreshed) RefreshDisplayArea(L, 0, 0, scene.width, scene.height);
        Check(scene.Window() == scene.Recomposed(L));
    }
    FreeLayerList(L, scene.picture, true);
    FreeLayersLibrary(L);
    VmClose(L);
    FreeAllBrushes(nullptr);
    FreeAllAnims(nullptr);
    qv::FreeObjectRegistry();
    return 0;
}

// The short restyling commands, NextFrame and move queues under arguments drawn from the
// fuzzer's bytes, on a small display with brush layers (plain, masked, with an alpha plane),
// anim layers, shape layers and a text layer: filter tables of every shape, AddMove entries of
// every kind with good and bad positions (frame entries rebuild their layers), and DoMove runs.
// Every call ends with a result or an error code, nothing is left allocated or touched after it was
// freed, and the window keeps showing exactly what the picture recomposes to.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "media/anim_store.h"
#include "objects/brush.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/text/text_library.h"
#include "runtime/objects.h"
#include "runtime/runtime_host.h"
#include "scene/layers/filter_table.h"
#include "scene/layers/layers_commands.h"
#include "scene/layers/layers_library.h"
#include "tests/fuzz/scene_fuzz_input.h"
#include "tests/scene/support/layer_scene.h"

namespace {

using qv::fuzz::ByteInput;
using qv::fuzz::Check;
using qv::fuzz::KindPlanes;

constexpr const char* kCommands[] = {"setlayerfilter",       "setlayeranchor", "transformlayer",
                                     "rotatelayer",          "scalelayer",     "setlayertint",
                                     "setlayertransparency", "nextframe",      "setlayerlight"};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

constexpr double kNumbers[] = {
    0,   1,    2,      3,  4,     -1,   7,     0.5,          -5,      22,  100,      255,      300,
    725, -370, 100000, -2, 99999, 1e12, -1e12, 2147483648.0, -100000, NAN, INFINITY, -INFINITY};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];
constexpr const char* kTexts[] = {"50%", "150%", "x%", "", "blur", "twin", "-5%", "100%"};
constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];
// Entry kinds of AddMove, and one that no pass knows.
constexpr int32_t kKinds[] = {3, 8, 10, 22, 23, 24, 25, 26, 29, 34, 99};
constexpr const char* kFilterKeys[] = {"name", "args", "priority", "disable"};

void PushScalar(qvVmState* L, ByteInput* in) {
    switch (in->Byte() % 5) {
        case 0:
        case 1:
            VmPushNumber(L, kNumbers[in->Byte() % kNumberCount]);
            break;
        case 2:
            VmPushString(L, kTexts[in->Byte() % kTextCount]);
            break;
        case 3:
            VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t(0x1000 + in->Byte())));
            break;
        default:
            VmPushNil(L);
            break;
    }
}

// A filter entry: mostly well-formed, with a known name, arguments and switches.
void PushFilterEntry(qvVmState* L, ByteInput* in) {
    if (in->Byte() % 8 == 0) return PushScalar(L, in);
    VmNewTable(L);
    for (int keys = in->Byte() % 5; keys > 0; --keys) {
        const char* key = kFilterKeys[in->Byte() % 4];
        VmPushString(L, key);
        if (key[0] == 'n' && in->Byte() % 4 != 0) {
            VmPushString(L, qvLayerFilterNames[in->Byte() % kLayerFilterCount]);
        } else if (key[0] == 'a') {
            VmNewTable(L);
            for (int i = 0, n = in->Byte() % 7; i < n; ++i) {
                PushScalar(L, in);
                VmRawSetI(L, -2, i);
            }
        } else {
            PushScalar(L, in);
        }
        VmRawSet(L, -3);
    }
}

void PushArgument(qvVmState* L, ByteInput* in) {
    if (in->Byte() % 4 != 0) return PushScalar(L, in);
    VmNewTable(L);
    for (int i = 0, n = in->Byte() % 5; i < n; ++i) {
        PushFilterEntry(L, in);
        VmRawSetI(L, -2, i);
    }
}

void CallGlobal(qvVmState* L, const char* name, int argCount) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    VmInsert(L, -argCount - 1);
    VmCall(L, argCount, 0);
}

// One step under the engine's protection: a short command, an AddMove, a DoMove or a
// ClearMove.
int Step(qvVmState* L) {
    ByteInput* in = static_cast<ByteInput*>(VmToUserdata(L, 1));
    VmSetTop(L, 0);
    const uint8_t op = in->Byte();
    const int queue = 1 + in->Byte() % 3;
    switch (op % 8) {
        case 0:
        case 1:
        case 2: {
            const char* command = kCommands[in->Byte() % kCommandCount];
            const int count = in->Byte() % 7;
            VmPushNumber(L, in->Byte() % 9);  // a layer position, 0 and past the end included
            for (int i = 1; i < count; ++i) PushArgument(L, in);
            CallGlobal(L, command, count);
            break;
        }
        case 3:
        case 4:
        case 5: {
            VmPushNumber(L, queue);
            VmPushNumber(L, kKinds[in->Byte() % (sizeof kKinds / sizeof kKinds[0])]);
            VmPushNumber(L, int(in->Byte() % 10) - 1);  // a position, a type or an id
            const int rest = in->Byte() % 4;
            for (int i = 0; i < rest; ++i) VmPushNumber(L, kNumbers[in->Byte() % kNumberCount]);
            CallGlobal(L, "addmove", 3 + rest);
            break;
        }
        case 6:
            VmPushNumber(L, in->Byte() % 5 == 0 ? 9 : queue);
            CallGlobal(L, "domove", 1);
            break;
        default:
            VmPushNumber(L, queue);
            CallGlobal(L, "clearmove", 1);
            break;
    }
    return 0;
}

void AddAnimOf(qvVmState* L, uint32_t number, int frames) {
    qvAnimFrames planes;
    for (int i = 0; i < frames; ++i) {
        planes.bitmaps.push_back(qv::test::MakePlanes(KindPlanes(i)).bitmap.release());
    }
    qvObjectId id{number, nullptr};
    qvAnim* anim = nullptr;
    if (AddAnim(&id, 9, 7, &planes, -1, &anim) != 0) std::abort();
    qv::scene::AddAnimLayer(L, id, int32_t(number) * 6, 10, 9, 7, 0, frames, -1,
                            QV_ADDLAYER_DISPLAYITEM);
}

// A box, a line and a text layer, drawn by their commands.
int DrawShapesAndText(qvVmState* L) {
    const auto call = [L](const char* name, std::initializer_list<double> numbers,
                          const char* text = nullptr) {
        VmSetTop(L, 0);
        for (double n : numbers) VmPushNumber(L, n);
        if (text != nullptr) VmPushString(L, text);
        CallGlobal(L, name, int(numbers.size()) + (text != nullptr ? 1 : 0));
    };
    call("box", {4, 12, 10, 6, 0xFF0000});
    call("line", {0, 30, 20, 25, 0xFFFF00});
    call("textout", {22, 2}, "Text");
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::test::Planes background = qv::test::Solid(48, 32, 0);
    for (size_t i = 0; i < background.rgb.size(); ++i) background.rgb[i] = uint32_t(i) * 0x030507;
    qv::test::SceneObjects objects;
    objects.brushes.emplace(1, qv::test::MakePlanes(KindPlanes(1)));
    objects.brushes.emplace(2, qv::test::MakePlanes(KindPlanes(2)));
    qv::test::SceneDisplay scene(background);
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    Check(RegisterLayersLibrary(L) == 0);
    Check(RegisterDrawLibrary(L) == 0);
    Check(RegisterTextLibrary(L) == 0);
    ResetDrawState(GetDrawState());
    for (int i = 0; i < 4; ++i) scene.AddLayer(L, KindPlanes(i), i * 7 - 3, i * 5 - 2);
    qv::scene::InsertObjectLayer(L, 3 /* BRUSH */, {1, nullptr}, 30, 20, -1, 0);
    AddAnimOf(L, 1, 3);
    AddAnimOf(L, 2, 1);
    // A second layer of anim 1, so that frame entries meet two layers of one anim.
    qv::scene::AddAnimLayer(L, {1, nullptr}, 36, 20, 9, 7, 1, 3, -1, QV_ADDLAYER_DISPLAYITEM);
    Check(VmCPCall(L, DrawShapesAndText, nullptr) == 0);
    VmSetTop(L, 0);
    RefreshDisplayArea(L, 0, 0, scene.width, scene.height);
    ByteInput in{data, size};
    for (int step = 0; step < 48 && in.More(); ++step) {
        VmCPCall(L, Step, &in);
        Check(scene.Window() == scene.Recomposed(L));
    }
    FreeLayerList(L, scene.picture, true);
    FreeLayersLibrary(L);
    FreeDrawBuffers(L);
    VmClose(L);
    FreeAllBrushes(nullptr);
    FreeAllAnims(nullptr);
    qv::FreeObjectRegistry();
    return 0;
}

// The "draw" and "sprite" commands under arguments drawn from the fuzzer's bytes, on a small
// headless display with layers on or off, or drawing into a brush, its mask or its alpha
// channel: every call ends with a result or an error code and nothing is left allocated.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "media/anim_store.h"
#include "objects/brush.h"
#include "objects/draw/draw_library.h"
#include "objects/scene_hooks.h"
#include "objects/scene_seam.h"
#include "objects/sprite/sprite.h"
#include "objects/sprite/sprite_library.h"
#include "runtime/objects.h"
#include "runtime/runtime_host.h"
#include "tests/fuzz/scene_fuzz_input.h"
#include "tests/scene/support/layer_scene.h"

namespace {

using qv::fuzz::ByteInput;
using qv::fuzz::Check;

constexpr const char* kCommands[] = {
    "box",         "circle",     "ellipse",       "arc",          "polygon",       "plot",
    "readpixel",   "cls",        "line",          "setfillstyle", "setformstyle",  "setlinewidth",
    "box",         "circle",     "displaysprite", "removesprite", "removesprites", "freesprite",
    "scalesprite", "flipsprite", "copysprite",    "createsprite", "displaysprite"};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

constexpr const char* kTexts[] = {"", "50%", "200%", "x%", "1"};
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
                               20,
                               30,
                               45,
                               90,
                               180,
                               360,
                               -90,
                               50,
                               100,
                               255,
                               999,
                               1000,
                               0.5,
                               -4,
                               99999,
                               1e12,
                               -1e12,
                               2147483000,
                               2147483648.0,
                               -2147483648.0,
                               0x80FF0000,
                               0xFFFFFFFF,
                               NAN,
                               INFINITY,
                               -INFINITY};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];
constexpr const char* kTagKeys[] = {
    "roundlevel", "cornera", "cornerb", "rotate",   "anchorx",  "clockwise",  "color",
    "edge",       "shadow",  "texture", "gradient", "edgesize", "shadowsize", "transparency"};
constexpr int kTagCount = sizeof kTagKeys / sizeof kTagKeys[0];

double Number(ByteInput* in) {
    return kNumbers[in->Byte() % kNumberCount];
}

void PushValue(qvVmState* L, ByteInput* in, bool nested) {
    switch (in->Byte() % 8) {
        case 0:
        case 1:
        case 2:
            VmPushNumber(L, Number(in));
            break;
        case 3:
            VmPushString(L, kTexts[in->Byte() % (sizeof kTexts / sizeof kTexts[0])]);
            break;
        case 4:
            if (!nested) {
                VmNewTable(L);
                for (int i = in->Byte() % 5; i > 0; --i) {
                    VmPushString(L, kTagKeys[in->Byte() % kTagCount]);
                    PushValue(L, in, true);
                    VmRawSet(L, -3);
                }
                break;
            }
            [[fallthrough]];
        case 5:
            // A list of numbers, as Polygon reads its points.
            VmNewTable(L);
            for (int i = 1, n = in->Byte() % 12; i <= n; ++i) {
                VmPushNumber(L, Number(in));
                VmRawSetI(L, -2, i);
            }
            break;
        case 6:
            VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t(0x1000 + in->Byte())));
            break;
        default:
            VmPushNil(L);
            break;
    }
}

// One command with up to 8 arguments, under the engine's protection.
int CallOne(qvVmState* L) {
    ByteInput* in = static_cast<ByteInput*>(VmToUserdata(L, 1));
    VmSetTop(L, 0);
    VmPushString(L, kCommands[in->Byte() % kCommandCount]);
    VmGetTable(L, VM_GLOBALSINDEX);
    const int count = in->Byte() % 9;
    for (int i = 0; i < count; ++i) PushValue(L, in, false);
    VmCall(L, count, 0);
    return 0;
}

// Drawing redirected into the planes of a picture standing for a brush.
class BrushTarget final : public qv::objects::SceneSeam {
public:
    int FetchOutputBitmaps(qvVmState*, qvDisplayBitMap** bitmap) override {
        *bitmap = giveBitmap ? picture->base.bitmap : nullptr;
        return 0;
    }
    qvBGPic* picture = nullptr;
    bool giveBitmap = false;
};

class SpriteFrames final : public qv::objects::SceneHooks {
public:
    bool SpriteFrame(const qvSpriteInstance& s, int32_t frame, qv::gfx::PictureView* out) override {
        return qv::sprites::InstanceFrame(s, frame, out);
    }
};

void MakeSprite(uint32_t id, int32_t frames) {
    auto* bitmaps = static_cast<qvDisplayBitMap**>(AllocMemBlock(sizeof(void*) * frames, 1));
    auto* masks = static_cast<qvPlaneBitMap**>(AllocMemBlock(sizeof(void*) * frames, 1));
    for (int32_t i = 0; i < frames; ++i) {
        qv::test::Planes p = qv::test::Solid(6, 5, 0x204060u * uint32_t(i + 1));
        p.mask.resize(30);
        for (size_t j = 0; j < p.mask.size(); ++j) p.mask[j] = uint8_t(j % 3 != 0);
        qv::test::OwnedPlanes own = qv::test::MakePlanes(p);
        bitmaps[i] = own.bitmap.release(), masks[i] = own.mask.release();
    }
    qvObjectId oid{id, nullptr};
    AddSprite(&oid, 6, 5, {nullptr, bitmaps, masks, nullptr, frames}, kNoTransparency, nullptr,
              nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    ByteInput in{data, size};
    const uint8_t mode = in.Byte();
    qv::test::Planes background = qv::test::Solid(40, 30, 0);
    for (size_t i = 0; i < background.rgb.size(); ++i) background.rgb[i] = uint32_t(i) * 0x030507;
    qv::test::SceneObjects objects;
    objects.brushes.emplace(1, qv::test::MakePlanes(qv::test::Solid(5, 4, 0x00FF00)));
    SpriteFrames hooks;
    qv::scene::SetObjectHooks(&hooks);
    qv::test::SceneDisplay scene(background);
    // Bits 1-2: the display, or a brush's colour, mask or alpha channel.
    const int target = (mode >> 1) % 4;
    scene.view.layersEnabled = target == 0 && (mode & 1) != 0;
    BrushTarget brush;
    qv::test::OwnedPlanes targetPlanes;
    if (target != 0) {
        qv::test::Planes planes = qv::test::Solid(24, 20, 0x808080);
        planes.mask.assign(24 * 20, 1);
        planes.alpha.assign(24 * 20, 200);
        targetPlanes = qv::test::MakePlanes(planes);
        qv::scene::BGPicParts parts;
        parts.bitmap.reset(qv::DuplicateBitMap(targetPlanes.bitmap.get(), false));
        parts.width = 24, parts.height = 20;
        qvObjectId id = qv::scene::AutomaticId();
        Check(AddBGPic(&id, &parts, &brush.picture) == 0);
        scene.output = brush.picture;
        brush.giveBitmap = target == 1;
        scene.view.outputType = target == 1   ? qv::gfx::kTargetBrush
                                : target == 2 ? qv::gfx::kTargetMask
                                              : qv::gfx::kTargetAlphaChannel;
        scene.view.targetMask = target == 2 ? targetPlanes.mask.get() : nullptr;
        scene.view.targetAlpha = target == 3 ? targetPlanes.alpha.get() : nullptr;
        qv::objects::SetSceneSeam(&brush);
    }
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    Check(RegisterDrawLibrary(L) == 0);
    Check(RegisterSpriteLibrary(L) == 0);
    MakeSprite(1, 3);
    MakeSprite(2, 1);
    for (int step = 0; step < 48 && in.More(); ++step) VmCPCall(L, CallOne, &in);
    FreeDrawBuffers(L);
    FreeAllSprites(L);
    VmClose(L);
    qv::objects::SetSceneSeam(nullptr);
    qv::scene::SetObjectHooks(nullptr);
    FreeAllBrushes(nullptr);
    FreeAllAnims(nullptr);
    qv::FreeObjectRegistry();
    return 0;
}

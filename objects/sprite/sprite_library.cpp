#include "objects/sprite/sprite_library.h"

#include "engine/convert.h"
#include "gfx/blit_frontends.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "gfx/masks.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "media/anim_store.h"
#include "objects/brush.h"
#include "objects/sprite/sprite.h"
#include "runtime/arguments.h"
#include "runtime/exports.h"
#include "runtime/files.h"
#include "runtime/image_handles.h"
#include "runtime/option_tables.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"

namespace qv::sprites {
namespace {

// The id argument of a command that makes a sprite.
using NewSpriteId = qvNewObjectId;

// A numeric id in use may be taken over unless its sprite is locked.
int CheckReplaceable(const NewSpriteId& target) {
    if (target.automatic) return 0;
    qvSprite* old = nullptr;
    return GetSprite({target.number, nullptr}, &old, 0) == 0 && old->locked != 0 ? ERR_LOCKEDOBJ
                                                                                 : 0;
}

// Gives a sprite just made under an automatic id the command's id, the old sprite of a
// numeric id freed first. The results of the command.
int PublishNewSprite(qvVmState* L, const NewSpriteId& target, qvSprite* made) {
    if (!target.automatic) {
        if (const int code = FreeSpriteById(L, {target.number, nullptr}, false)) {
            FreeSpriteEx(L, made);
            return code;
        }
        made->header.id = target.number;
        made->header.handle = nullptr;
    }
    return PushNewObjectHandle(L, made->header);
}

// A one-frame sprite of the planes, which it takes over on success.
int AddOneFrameSprite(gfx::NewPicture* planes, int32_t width, int32_t height,
                      uint32_t transparentColour, qvSprite** out) {
    auto bitmaps = static_cast<qvDisplayBitMap**>(AllocMemBlock(sizeof(void*), 1));
    auto masks = static_cast<qvPlaneBitMap**>(AllocMemBlock(sizeof(void*), 1));
    auto alphas = static_cast<qvPlaneBitMap**>(AllocMemBlock(sizeof(void*), 1));
    qvObjectId id = AutomaticSpriteId();
    int code = bitmaps != nullptr && masks != nullptr && alphas != nullptr ? 0 : ERR_MEM;
    if (code == 0) {
        bitmaps[0] = planes->bitmap.get(), masks[0] = planes->mask.get();
        alphas[0] = planes->alpha.get();
        code = AddSprite(&id, width, height, {nullptr, bitmaps, masks, alphas, 1},
                         transparentColour, nullptr, out);
    }
    if (code != 0) {
        FreeMemBlock(bitmaps), FreeMemBlock(masks), FreeMemBlock(alphas);
        return code;
    }
    planes->bitmap.release(), planes->mask.release(), planes->alpha.release();
    return 0;
}

// A copy of a whole picture triple as a one-frame sprite.
int SpriteOfPlanes(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha,
                   int32_t width, int32_t height, uint32_t transparentColour, qvSprite** out) {
    gfx::NewPicture copy;
    qvDisplayBitMap* b = nullptr;
    qvPlaneBitMap *m = nullptr, *a = nullptr;
    if (const int code =
            CopyBitmapArea(bitmap, mask, alpha, 0, 0, width, height, 0, &b,
                           mask != nullptr ? &m : nullptr, alpha != nullptr ? &a : nullptr)) {
        return code;
    }
    copy.bitmap.reset(b), copy.mask.reset(m), copy.alpha.reset(a);
    return AddOneFrameSprite(&copy, width, height, transparentColour, out);
}

// What the anim library's creator makes of a brush, a picture or an anim (every frame); the
// numbers that choose frames of a source are the anim library's.
int CreateFromObject(qvVmState* L, int32_t sourceType, qvObjectId source, qvSprite** out) {
    switch (sourceType) {
        case gfx::kTypeBrush: {
            qvBrush* brush = nullptr;
            if (const int code = ::GetBrush(L, source, &brush, 0)) return code;
            return SpriteOfPlanes(brush->bitmap, brush->mask, brush->alpha, brush->width,
                                  brush->height, brush->transparentColour, out);
        }
        case gfx::kTypeBGPic: {
            qvBGPic* picture = nullptr;
            if (const int code = GetBGPic(L, source, &picture, 0)) return code;
            return SpriteOfPlanes(picture->base.bitmap, picture->base.mask, picture->base.alpha,
                                  picture->baseWidth, picture->baseHeight,
                                  uint32_t(picture->transparentColour), out);
        }
        case gfx::kTypeAnim: {
            qvAnim* anim = nullptr;
            if (const int code = FindAnimById(L, source, &anim, 0)) return code;
            const uint32_t key =
                anim->transparentColour >= 0 ? uint32_t(anim->transparentColour) : kNoTransparency;
            qvObjectId id = AutomaticSpriteId();
            return AddSpriteOfFrames(
                &id, anim->width, anim->height, anim->frameCount, key,
                [anim](int32_t i, qvDisplayBitMap** bitmap, qvPlaneBitMap** mask,
                       qvPlaneBitMap** alpha) {
                    return GetAnimFrameBitmap(anim, i, bitmap, mask, alpha);
                },
                out);
        }
        default:
            return ERR_WRONGUSAGE;
    }
}

// CreateSprite(id, type, source [, numbers]).
int CreateSprite(qvVmState* L) {
    CheckArgCount(L, 3, 9);
    const NewSpriteId target = GetNewObjectIdArg(L, 1);
    const int32_t sourceType = GetOptIntArg(L, 2, nullptr);
    const qvObjectId source = GetObjectIdArg(L, 3);
    if (VmGetTop(L) > 3) return ERR_WRONGUSAGE;
    if (const int code = CheckReplaceable(target)) return code;
    qvSprite* made = nullptr;
    if (const int code = CreateFromObject(L, sourceType, source, &made)) return code;
    return PublishNewSprite(L, target, made);
}

// LoadSprite(id, file [, options]): a picture through the loaders as a one-frame sprite.
int LoadSprite(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    const NewSpriteId target = GetNewObjectIdArg(L, 1);
    const char* file = GetStringArgResolved(L, 2, 0, nullptr);
    double transparency = -1;
    if (VmType(L, 3) == VM_TTABLE)
        GetTableFieldNumber(L, 3, "transparency", &transparency, nullptr);
    if (const int code = CheckReplaceable(target)) return code;
    qvLoadedPicture loaded{};
    if (const int code = LoadPluginPicture(file, 0, &loaded)) return code;
    const ImageHandleRef handle(loaded.handle);
    const OwnedPlane alpha(loaded.alpha);
    uint32_t key = transparency >= 0 ? uint32_t(transparency) & 0xFFFFFF : kNoTransparency;
    if (key == kNoTransparency && loaded.transparentColour >= 0) {
        key = uint32_t(loaded.transparentColour);
    }
    gfx::NewPicture planes;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    if (const int code = PixelArrayToBitMap(GetImageHandlePixels(loaded.handle), key, loaded.width,
                                            loaded.height, loaded.width, 0, &bitmap, &mask)) {
        return code;
    }
    planes.bitmap.reset(bitmap), planes.mask.reset(mask);
    qvSprite* made = nullptr;
    if (const int code = AddOneFrameSprite(&planes, loaded.width, loaded.height, key, &made)) {
        return code;
    }
    return PublishNewSprite(L, target, made);
}

int DisplaySprite(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    const qvObjectId id = GetObjectIdArg(L, 1);
    const int32_t x = GetOptIntArg(L, 2, nullptr), y = GetOptIntArg(L, 3, nullptr);
    const int32_t frame = VmGetTop(L) >= 4 ? GetOptIntArg(L, 4, nullptr) : 0;
    if (const int code = CheckSpriteScreen()) return code;
    return DisplaySpriteEx(L, id, x, y, frame);
}

int RemoveSprite(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const qvObjectId id = GetObjectIdArg(L, 1);
    if (const int code = CheckSpriteScreen()) return code;
    return RemoveSpriteEx(L, id);
}

int RemoveSprites(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    const int32_t keep = VmGetTop(L) >= 1 ? GetOptIntArg(L, 1, nullptr) : 0;
    if (const int code = CheckSpriteScreen()) return code;
    return RemoveAllSprites(L, keep != 0);
}

int FreeSprite(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return FreeSpriteById(L, GetObjectIdArg(L, 1), true);
}

// The sprite that ScaleSprite and FlipSprite change.
int SpriteToChange(qvVmState* L, int idx, qvSprite** out) {
    return GetSprite(GetObjectIdArg(L, idx), out, 0);
}

int ScaleSprite(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    qvSprite* sprite = nullptr;
    if (const int code = SpriteToChange(L, 1, &sprite)) return code;
    int32_t width = Trunc32(GetNumberOrPercentArg(L, 2, sprite->width, 1, nullptr));
    int32_t height = Trunc32(GetNumberOrPercentArg(L, 3, sprite->height, 1, nullptr));
    const bool smooth = VmGetTop(L) >= 4 && GetOptIntArg(L, 4, nullptr) != 0;
    if (const int code = ScaleKeepAspect(sprite->width, sprite->height, &width, &height)) {
        return code;
    }
    return ScaleSpriteEx(sprite, width, height, smooth);
}

int FlipSprite(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvSprite* sprite = nullptr;
    if (const int code = SpriteToChange(L, 1, &sprite)) return code;
    return FlipSpriteEx(sprite, GetOptIntArg(L, 2, nullptr));
}

int CopySprite(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvSprite* source = nullptr;
    if (const int code = GetSprite(GetObjectIdArg(L, 1), &source, 0)) return code;
    const NewSpriteId target = GetNewObjectIdArg(L, 2);
    if (!target.automatic && source->header.handle == nullptr &&
        source->header.id == target.number) {
        return ERR_WRONGUSAGE;
    }
    if (const int code = CheckReplaceable(target)) return code;
    qvObjectId id = AutomaticSpriteId();
    qvSprite* made = nullptr;
    if (const int code = CopySpriteEx(L, source, &id, &made)) return code;
    return PublishNewSprite(L, target, made);
}

constexpr qvCommandEntry kSpriteCommands[] = {
    {"CreateSprite", CreateSprite},   {"DisplaySprite", DisplaySprite},
    {"RemoveSprite", RemoveSprite},   {"FreeSprite", FreeSprite},
    {"LoadSprite", LoadSprite},       {"ScaleSprite", ScaleSprite},
    {"CopySprite", CopySprite},       {"FlipSprite", FlipSprite},
    {"RemoveSprites", RemoveSprites}, {nullptr, nullptr},
};

int RedirectionRefusal(const gfx::DisplayView& view) {
    if (view.doubleBuffered) return ERR_ENDDOUBLEBUFFER;
    switch (view.outputType) {
        case gfx::kTargetAnim:
            return ERR_SELECTANIM;
        case gfx::kTargetBrush:
        case gfx::kTargetLayer:
            return ERR_SELECTBRUSH;
        case gfx::kTargetMask:
            return ERR_SELECTMASK;
        case gfx::kTargetAlphaChannel:
            return ERR_SELECTALPHACHANNEL;
        case gfx::kTargetBGPic:
            return ERR_SELECTBG;
        default:
            return 0;
    }
}

}  // namespace

int CheckSpriteScreen() {
    qvDisplay* display = gfx::Graphics().Host().CurrentDisplay();
    if (display == nullptr) return 0;
    const gfx::DisplayView view = gfx::Graphics().View(display);
    if (const int code = RedirectionRefusal(view)) return code;
    const qvBGPic* picture = scene::LayerDisplays().OutputPicture();
    if (view.layersEnabled || (picture != nullptr && !IsListEmpty(&picture->layers))) {
        return ERR_LAYERSOFF;
    }
    return 0;
}

bool InstanceFrame(const qvSpriteInstance& instance, int32_t frame, gfx::PictureView* out) {
    if (instance.sprite == nullptr) return false;
    *out = {nullptr, nullptr, nullptr, instance.sprite->width, instance.sprite->height};
    ::GetSpriteFrame(instance.sprite, frame, &out->bitmap, &out->mask, &out->alpha);
    return out->bitmap != nullptr;
}

int SpriteNeighbours::GetSprite(qvVmState*, qvObjectId id, int32_t* frames, gfx::PictureView* out) {
    qvSprite* sprite = nullptr;
    if (const int code = ::GetSprite(id, &sprite, 0)) return code;
    *frames = sprite->frameCount;
    *out = {nullptr, nullptr, nullptr, sprite->width, sprite->height};
    return 0;
}

void SpriteNeighbours::GetSpriteFrame(qvObjectId id, int32_t frame, gfx::PictureView* out) {
    qvSprite* sprite = nullptr;
    if (::GetSprite(id, &sprite, 0) != 0) return;
    ::GetSpriteFrame(sprite, frame, &out->bitmap, &out->mask, &out->alpha);
    out->width = sprite->width, out->height = sprite->height;
}

int SpriteNeighbours::CountSpritesOnScreen() {
    const qvBGPic* picture = scene::LayerDisplays().OutputPicture();
    return picture != nullptr ? CountSpriteInstances(picture) : 0;
}

}  // namespace qv::sprites

int RegisterSpriteLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::sprites::kSpriteCommands, 0);
    if (const int code = RegisterObjectList(qv::SpriteList())) return code;
    return RegisterCommandTable(qv::sprites::kSpriteCommands, "sprite");
}

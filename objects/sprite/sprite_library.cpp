#include "objects/sprite/sprite_library.h"

#include "engine/convert.h"
#include "gfx/blit_frontends.h"
#include "gfx/graphics_state.h"
#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "media/anim_store.h"
#include "objects/brush.h"
#include "objects/sprite/sprite.h"
#include "objects/sprite/sprite_loader.h"
#include "runtime/arguments.h"
#include "runtime/exports.h"
#include "runtime/files.h"
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

// The numbers after CreateSprite's source: the cut, in the order width, height, frames,
// frames per row, x, y; nil or a number left out takes its default.
qvFrameCut ReadCutNumbers(qvVmState* L, int first) {
    std::optional<int32_t> numbers[6];
    for (int i = 0; i < 6; ++i) {
        if (VmType(L, first + i) > VM_TNIL) numbers[i] = GetOptIntArg(L, first + i, nullptr);
    }
    return {numbers[0],
            numbers[1],
            numbers[2],
            numbers[3],
            numbers[4].value_or(0),
            numbers[5].value_or(0)};
}

// What the anim library's creator makes of a brush or a picture (the frames of the cut), a
// sprite or an anim (a copy of every frame, which no cut chooses from).
int CreateFromObject(qvVmState* L, int32_t sourceType, qvObjectId source, const qvFrameCut& cut,
                     qvSprite** out) {
    switch (sourceType) {
        case gfx::kTypeBrush: {
            qvBrush* brush = nullptr;
            if (const int code = ::GetBrush(L, source, &brush, 0)) return code;
            return SpriteOfPlanes(
                {brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height}, cut,
                ColourKeyOf(brush->transparentColour), out);
        }
        case gfx::kTypeBGPic: {
            qvBGPic* picture = nullptr;
            if (const int code = GetBGPic(L, source, &picture, 0)) return code;
            return SpriteOfPlanes({picture->base.bitmap, picture->base.mask, picture->base.alpha,
                                   picture->baseWidth, picture->baseHeight},
                                  cut, uint32_t(picture->transparentColour), out);
        }
        case gfx::kTypeSprite: {
            qvSprite* sprite = nullptr;
            if (const int code = GetSprite(source, &sprite, 0)) return code;
            if (cut.Given()) return ERR_WRONGUSAGE;
            qvObjectId id = AutomaticSpriteId();
            return CopySpriteEx(L, sprite, &id, out);
        }
        case gfx::kTypeAnim: {
            qvAnim* anim = nullptr;
            if (const int code = FindAnimById(L, source, &anim, 0)) return code;
            if (cut.Given()) return ERR_WRONGUSAGE;
            const uint32_t key = anim->transparentColour >= 0
                                     ? ColourKeyOf(uint32_t(anim->transparentColour))
                                     : kNoTransparency;
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

// CreateSprite(id, type, source [, width, height, frames, fpr, x, y]).
int CreateSprite(qvVmState* L) {
    CheckArgCount(L, 3, 9);
    const NewSpriteId target = GetNewObjectIdArg(L, 1);
    const int32_t sourceType = GetOptIntArg(L, 2, nullptr);
    const qvObjectId source = GetObjectIdArg(L, 3);
    const qvFrameCut cut = ReadCutNumbers(L, 4);
    if (const int code = CheckReplaceable(target)) return code;
    qvSprite* made = nullptr;
    if (const int code = CreateFromObject(L, sourceType, source, cut, &made)) return code;
    return PublishNewSprite(L, target, made);
}

// LoadSprite(id, file [, options]): the frames cut from a picture file.
int LoadSprite(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    const NewSpriteId target = GetNewObjectIdArg(L, 1);
    const char* file = GetStringArgResolved(L, 2, 0, nullptr);
    SpriteLoadOptions options;
    if (const int code = ReadSpriteLoadOptions(L, 3, &options)) return code;
    if (const int code = CheckReplaceable(target)) return code;
    qvSprite* made = nullptr;
    if (const int code = LoadSpriteFile(L, file, options, &made)) return code;
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
    // The sprite's own refusals come before those of the size.
    if (const int code = CheckSpriteChangeable(sprite)) return code;
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

enum : int32_t {
    kAttrTransparentColour = 5,
    kAttrHasMask = 16,
    kAttrHasAlpha = 17,
};

// The sprite's record on the current output picture, or none.
const qvSpriteInstance* ShownRecord(const qvSprite* sprite) {
    const qvBGPic* picture = scene::LayerDisplays().OutputPicture();
    for (const qvSpriteInstance* s = picture != nullptr ? picture->sprites : nullptr; s != nullptr;
         s = s->next) {
        if (s->sprite == sprite) return s;
    }
    return nullptr;
}

// Place and frame are those on screen; 0 while the sprite is not shown.
double AttributeOf(const qvSprite* sprite, int32_t attribute) {
    const qvSpriteInstance* shown = ShownRecord(sprite);
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    ::GetSpriteFrame(sprite, 0, nullptr, &mask, &alpha);
    switch (attribute) {
        case gfx::ATTRWIDTH:
            return sprite->width;
        case gfx::ATTRHEIGHT:
            return sprite->height;
        case kAttrTransparentColour:
            return sprite->transparentColour;
        case gfx::ATTRXPOS:
            return shown != nullptr ? shown->x : 0;
        case gfx::ATTRYPOS:
            return shown != nullptr ? shown->y : 0;
        case gfx::ATTRNUMFRAMES:
            return sprite->frameCount;
        case gfx::ATTRCURFRAME:
            return shown != nullptr ? shown->frame : 0;
        case kAttrHasMask:
            return mask != nullptr;
        case kAttrHasAlpha:
            return alpha != nullptr;
        default:
            return shown != nullptr;  // ATTRONSCREEN
    }
}

int SpriteAttribute(const gfx::AttributeRequest& request) {
    qvSprite* sprite = nullptr;
    if (const int code = GetSprite(request.id, &sprite, 0)) return code;
    VmPushNumber(request.L, AttributeOf(sprite, request.attribute));
    return 1;
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
    qv::gfx::RegisterAttributeProvider(qv::gfx::kTypeSprite, qv::sprites::SpriteAttribute);
    return RegisterCommandTable(qv::sprites::kSpriteCommands, "sprite");
}

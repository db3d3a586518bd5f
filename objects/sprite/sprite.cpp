#include "objects/sprite/sprite.h"

#include <algorithm>
#include <cstring>

#include "gfx/blit_frontends.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "gfx/masks.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "platform/linux/blocks.h"
#include "platform/linux/lists.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"

namespace qv {
namespace {

qvObjectHeader* sprites = nullptr;
char automaticMarker;
SpriteRefreshFn refreshHook = nullptr;

qvSprite* AsSprite(qvObjectHeader* header) {
    return reinterpret_cast<qvSprite*>(header);
}

void Refresh(qvVmState* L, const qvSpriteInstance& s) {
    (refreshHook != nullptr ? refreshHook : RefreshDisplayArea)(L, s.x, s.y, s.width, s.height);
}

void RefreshArea(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height) {
    (refreshHook != nullptr ? refreshHook : RefreshDisplayArea)(L, x, y, width, height);
}

qvBGPic* CurrentDisplayPicture() {
    qvDisplay* display = gfx::Graphics().Host().CurrentDisplay();
    return display != nullptr ? scene::LayerDisplays().ShownPicture(display) : nullptr;
}

template <typename T>
T* NewArray(int32_t count) {
    return static_cast<T*>(AllocMemBlock(sizeof(T) * size_t(std::max(count, 1)), 1));
}

bool IsSourceOf(const qvSprite* linked, const qvSprite* source) {
    if (linked->sources == nullptr) return false;
    for (qvSprite* const* s = linked->sources; *s != nullptr; ++s) {
        if (*s == source) return true;
    }
    return false;
}

bool UsedAsSource(const qvSprite* sprite) {
    for (qvObjectHeader* h = sprites; h != nullptr; h = h->next) {
        if (IsSourceOf(AsSprite(h), sprite)) return true;
    }
    return false;
}

// Whether any picture, orphans included, keeps an on-screen record of the sprite.
bool ShownAnywhere(const qvSprite* sprite) {
    for (qvObjectHeader* h = *scene::BGPicList(); h != nullptr; h = h->next) {
        for (const qvSpriteInstance* s = reinterpret_cast<qvBGPic*>(h)->sprites; s != nullptr;
             s = s->next) {
            if (s->sprite == sprite) return true;
        }
    }
    return false;
}

qvSpriteInstance** FindInstanceSlot(qvBGPic* picture, const qvSprite* sprite) {
    for (qvSpriteInstance** slot = &picture->sprites; *slot != nullptr; slot = &(*slot)->next) {
        if ((*slot)->sprite == sprite) return slot;
    }
    return nullptr;
}

// Takes the sprite's records off every picture; the current display's are shown again.
void RemoveFromAllPictures(qvVmState* L, const qvSprite* sprite) {
    const qvBGPic* shown = CurrentDisplayPicture();
    for (qvObjectHeader* h = *scene::BGPicList(); h != nullptr; h = h->next) {
        qvBGPic* picture = reinterpret_cast<qvBGPic*>(h);
        while (qvSpriteInstance** slot = FindInstanceSlot(picture, sprite)) {
            qvSpriteInstance* s = *slot;
            *slot = s->next;
            const qvSpriteInstance gone = *s;
            FreeMemBlock(s);
            if (picture == shown) Refresh(L, gone);
        }
    }
}

void FreeFrames(qvSprite* sprite) {
    if (sprite->sources != nullptr) {
        FreeMemBlock(sprite->sources);
        sprite->sources = nullptr;
        return;
    }
    for (int32_t i = 0; i < sprite->frameCount; ++i) {
        if (sprite->bitmaps != nullptr) FreeDisplayBitMap(sprite->bitmaps[i]);
        if (sprite->masks != nullptr) FreePlaneBitMap(sprite->masks[i]);
        if (sprite->alphas != nullptr) FreePlaneBitMap(sprite->alphas[i]);
        if (sprite->pixels != nullptr) FreeMemBlock(sprite->pixels[i]);
    }
    FreeMemBlock(sprite->bitmaps);
    FreeMemBlock(sprite->masks);
    FreeMemBlock(sprite->alphas);
    FreeMemBlock(sprite->pixels);
    sprite->bitmaps = nullptr, sprite->masks = nullptr, sprite->alphas = nullptr;
    sprite->pixels = nullptr;
}

void Destroy(qvVmState* L, qvSprite* sprite) {
    FreeFrames(sprite);
    FreeRefList(L, sprite->header.data);
    FreeMemBlock(sprite);
}

// Frame arrays made for a scale or a copy, freed with what they hold unless handed over.
struct NewFrames {
    explicit NewFrames(int32_t count)
        : count(count),
          bitmaps(NewArray<qvDisplayBitMap*>(count)),
          masks(NewArray<qvPlaneBitMap*>(count)),
          alphas(NewArray<qvPlaneBitMap*>(count)),
          pixels(NewArray<qvARGB*>(count)) {}
    ~NewFrames() {
        for (int32_t i = 0; i < count; ++i) {
            if (bitmaps != nullptr) FreeDisplayBitMap(bitmaps[i]);
            if (masks != nullptr) FreePlaneBitMap(masks[i]);
            if (alphas != nullptr) FreePlaneBitMap(alphas[i]);
            if (pixels != nullptr) FreeMemBlock(pixels[i]);
        }
        FreeMemBlock(bitmaps), FreeMemBlock(masks), FreeMemBlock(alphas), FreeMemBlock(pixels);
    }
    NewFrames(const NewFrames&) = delete;
    NewFrames& operator=(const NewFrames&) = delete;

    bool Made() const {
        return bitmaps != nullptr && masks != nullptr && alphas != nullptr && pixels != nullptr;
    }
    qvSpriteFrames Release() {
        const qvSpriteFrames frames{pixels, bitmaps, masks, alphas, count};
        bitmaps = nullptr, masks = nullptr, alphas = nullptr, pixels = nullptr;
        count = 0;
        return frames;
    }

    int32_t count;
    qvDisplayBitMap** bitmaps;
    qvPlaneBitMap** masks;
    qvPlaneBitMap** alphas;
    qvARGB** pixels;
};

void Adopt(qvSprite* sprite, const qvSpriteFrames& frames) {
    sprite->bitmaps = frames.bitmaps;
    sprite->masks = frames.masks;
    sprite->alphas = frames.alphas;
    sprite->pixels = frames.pixels;
}

// Copies of the frames still kept as pixels; false when memory is short.
bool CopyPixelBuffers(const qvSprite* source, qvSprite* copy) {
    const size_t bytes = sizeof(qvARGB) * size_t(source->width) * size_t(source->height);
    for (int32_t i = 0; i < source->frameCount; ++i) {
        if (source->pixels[i] == nullptr) continue;
        copy->pixels[i] = static_cast<qvARGB*>(AllocMemBlock(bytes, 0));
        if (copy->pixels[i] == nullptr) return false;
        std::memcpy(copy->pixels[i], source->pixels[i], bytes);
    }
    return true;
}

bool Overlap(const qvSpriteInstance& a, const qvSpriteInstance& b) {
    return int64_t{a.x} < int64_t{b.x} + b.width && int64_t{b.x} < int64_t{a.x} + a.width &&
           int64_t{a.y} < int64_t{b.y} + b.height && int64_t{b.y} < int64_t{a.y} + a.height;
}

void RefreshMove(qvVmState* L, const qvSpriteInstance& before, const qvSpriteInstance& after) {
    if (!Overlap(before, after)) {
        Refresh(L, before);
        Refresh(L, after);
        return;
    }
    const int32_t left = std::min(before.x, after.x), top = std::min(before.y, after.y);
    const int64_t right =
        std::max(int64_t{before.x} + before.width, int64_t{after.x} + after.width);
    const int64_t bottom =
        std::max(int64_t{before.y} + before.height, int64_t{after.y} + after.height);
    RefreshArea(L, left, top, int32_t(std::min<int64_t>(right - left, INT32_MAX)),
                int32_t(std::min<int64_t>(bottom - top, INT32_MAX)));
}

}  // namespace

int CopyPictureArea(const gfx::PictureView& source, int32_t x, int32_t y, int32_t width,
                    int32_t height, gfx::NewPicture* out) {
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    if (const int code = CopyBitmapArea(source.bitmap, source.mask, source.alpha, x, y, width,
                                        height, 0, &bitmap, source.mask ? &mask : nullptr,
                                        source.alpha ? &alpha : nullptr)) {
        return code;
    }
    out->bitmap.reset(bitmap), out->mask.reset(mask), out->alpha.reset(alpha);
    return 0;
}

qvObjectHeader** SpriteList() {
    return &sprites;
}

qvObjectId AutomaticSpriteId() {
    return {0, &automaticMarker};
}

void SetSpriteRefresh(SpriteRefreshFn refresh) {
    refreshHook = refresh;
}

}  // namespace qv

using namespace qv;

int AddSprite(qvObjectId* id, int32_t width, int32_t height, const qvSpriteFrames& frames,
              uint32_t transparentColour, qvSprite* const* sources, qvSprite** out) {
    auto* sprite = static_cast<qvSprite*>(AllocMemBlock(sizeof(qvSprite), 1));
    if (sprite == nullptr) return ERR_MEM;
    const bool automatic = id->handle != nullptr;
    sprite->header = NewObjectHeader(gfx::kTypeSprite, id->number, automatic, sprite);
    sprite->width = width, sprite->height = height;
    sprite->transparentColour = transparentColour;
    if (sources != nullptr) {
        size_t count = 0;
        int32_t frameCount = 0;
        for (; sources[count] != nullptr; ++count) frameCount += sources[count]->frameCount;
        sprite->sources = NewArray<qvSprite*>(int32_t(count + 1));
        if (sprite->sources == nullptr) {
            FreeMemBlock(sprite);
            return ERR_MEM;
        }
        std::copy_n(sources, count, sprite->sources);
        sprite->frameCount = frameCount;
    } else {
        // Every array exists, so that a frame's planes are always found where they belong.
        NewFrames missing(frames.frameCount);
        auto pick = [](auto given, auto& made) { return given != nullptr ? given : made; };
        qvSpriteFrames all{pick(frames.pixels, missing.pixels),
                           pick(frames.bitmaps, missing.bitmaps), pick(frames.masks, missing.masks),
                           pick(frames.alphas, missing.alphas), frames.frameCount};
        if (all.pixels == nullptr || all.bitmaps == nullptr || all.masks == nullptr ||
            all.alphas == nullptr) {
            FreeMemBlock(sprite);
            return ERR_MEM;
        }
        if (all.pixels == missing.pixels) missing.pixels = nullptr;
        if (all.bitmaps == missing.bitmaps) missing.bitmaps = nullptr;
        if (all.masks == missing.masks) missing.masks = nullptr;
        if (all.alphas == missing.alphas) missing.alphas = nullptr;
        Adopt(sprite, all);
        sprite->frameCount = frames.frameCount;
    }
    AppendObject(&sprites, &sprite->header);
    if (automatic) *id = {0, sprite};
    if (out != nullptr) *out = sprite;
    return 0;
}

int GetSprite(qvObjectId id, qvSprite** out, int flags) {
    *out = nullptr;
    for (qvObjectHeader* h = sprites; h != nullptr; h = h->next) {
        qvSprite* sprite = AsSprite(h);
        if (h->id != id.number || h->handle != id.handle) continue;
        if (sprite->orphan != 0 && (flags & QV_SPRITE_ORPHANS) == 0) continue;
        if ((flags & QV_SPRITE_UNLOCKED) != 0 && sprite->locked != 0) return ERR_LOCKEDOBJ;
        *out = sprite;
        return 0;
    }
    return ObjectNotFound(id, ERR_FINDSPRITE);
}

void GetSpriteFrame(const qvSprite* sprite, int32_t index, qvDisplayBitMap** bitmap,
                    qvPlaneBitMap** mask, qvPlaneBitMap** alpha) {
    if (bitmap != nullptr) *bitmap = nullptr;
    if (mask != nullptr) *mask = nullptr;
    if (alpha != nullptr) *alpha = nullptr;
    if (index < 0) return;
    if (sprite->sources != nullptr) {
        for (qvSprite* const* s = sprite->sources; *s != nullptr; ++s) {
            if (index < (*s)->frameCount) {
                GetSpriteFrame(*s, index, bitmap, mask, alpha);
                return;
            }
            index -= (*s)->frameCount;
        }
        return;
    }
    if (index >= sprite->frameCount) return;
    if (bitmap != nullptr) *bitmap = sprite->bitmaps[index];
    if (mask != nullptr) *mask = sprite->masks[index];
    if (alpha != nullptr) *alpha = sprite->alphas[index];
}

int FindSpriteInstance(qvObjectId id, qvSpriteInstance** out) {
    *out = nullptr;
    if (qvBGPic* picture = scene::LayerDisplays().OutputPicture()) {
        for (qvSpriteInstance* s = picture->sprites; s != nullptr; s = s->next) {
            if (s->id.number == id.number && s->id.handle == id.handle) {
                *out = s;
                return 0;
            }
        }
    }
    return id.handle != nullptr ? ERR_SPRITEONSCREEN2 : ObjectNotFound(id, ERR_SPRITEONSCREEN);
}

int DisplaySpriteEx(qvVmState* L, qvObjectId id, int32_t x, int32_t y, int32_t frame) {
    qvSprite* sprite = nullptr;
    if (const int code = GetSprite(id, &sprite, 0)) return code;
    if (frame < 0 || frame > sprite->frameCount) return ERR_ANIMFRAME;
    qvBGPic* picture = scene::LayerDisplays().OutputPicture();
    if (picture == nullptr) return 0;
    x = ResolvePosX(x, sprite->width, picture->width, 0);
    y = ResolvePosY(y, sprite->height, picture->height, 0);
    if (qvSpriteInstance** slot = FindInstanceSlot(picture, sprite)) {
        qvSpriteInstance* s = *slot;
        const int32_t next = frame != 0 ? frame : s->frame % std::max(sprite->frameCount, 1) + 1;
        if (next == s->frame && x == s->x && y == s->y) return 0;
        const qvSpriteInstance before = *s;
        s->frame = next, s->x = x, s->y = y;
        RefreshMove(L, before, *s);
        return 0;
    }
    auto* s = static_cast<qvSpriteInstance*>(AllocMemBlock(sizeof(qvSpriteInstance), 1));
    if (s == nullptr) return ERR_MEM;
    *s = {nullptr,
          {sprite->header.id, sprite->header.handle},
          x,
          y,
          sprite->width,
          sprite->height,
          frame != 0 ? frame : 1,
          sprite,
          picture->clipRegion};
    qvSpriteInstance** tail = &picture->sprites;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = s;
    Refresh(L, *s);
    return 0;
}

int RemoveSpriteEx(qvVmState* L, qvObjectId id) {
    qvSprite* sprite = nullptr;
    if (const int code = GetSprite(id, &sprite, QV_SPRITE_UNLOCKED)) return code;
    qvBGPic* picture = CurrentDisplayPicture();
    qvSpriteInstance** slot = picture != nullptr ? FindInstanceSlot(picture, sprite) : nullptr;
    if (slot == nullptr) {
        return id.handle != nullptr ? ERR_SPRITEONSCREEN2 : ObjectNotFound(id, ERR_SPRITEONSCREEN);
    }
    qvSpriteInstance* s = *slot;
    *slot = s->next;
    const qvSpriteInstance gone = *s;
    FreeMemBlock(s);
    Refresh(L, gone);
    return 0;
}

int RemoveAllSprites(qvVmState* L, bool keep) {
    qvBGPic* picture = CurrentDisplayPicture();
    if (picture == nullptr) return 0;
    for (const qvSpriteInstance* s = picture->sprites; s != nullptr; s = s->next) {
        if (s->sprite != nullptr && s->sprite->locked != 0) return ERR_LOCKEDOBJ;
    }
    if (!keep) {
        while (qvSpriteInstance* s = picture->sprites) {
            picture->sprites = s->next;
            const qvSpriteInstance gone = *s;
            FreeMemBlock(s);
            Refresh(L, gone);
        }
        return 0;
    }
    // The composed picture, sprites included, becomes the display's background.
    qvDisplay* display = gfx::Graphics().Host().CurrentDisplay();
    const gfx::DisplayView view = gfx::Graphics().View(display);
    RefreshArea(L, 0, 0, picture->shownWidth, picture->shownHeight);
    if (view.backBuffers[0] != nullptr && view.backBuffers[1] != nullptr) {
        BltBitMap(view.backBuffers[1], 0, 0, view.backBuffers[0], 0, 0, picture->shownWidth,
                  picture->shownHeight);
    }
    FreeSpriteInstances(picture);
    return 0;
}

void FreeSpriteEx(qvVmState* L, qvSprite* sprite) {
    UnlinkObject(&sprites, &sprite->header);
    RemoveFromAllPictures(L, sprite);
    // Linked sprites that show its frames go first, one at a time: each free changes the list.
    while (sprite->sources == nullptr) {
        qvSprite* user = nullptr;
        for (qvObjectHeader* h = sprites; h != nullptr && user == nullptr; h = h->next) {
            if (IsSourceOf(AsSprite(h), sprite)) user = AsSprite(h);
        }
        if (user == nullptr) break;
        FreeSpriteEx(L, user);
    }
    Destroy(L, sprite);
}

int FreeSpriteById(qvVmState* L, qvObjectId id, bool report) {
    qvSprite* sprite = nullptr;
    if (const int code = GetSprite(id, &sprite, QV_SPRITE_UNLOCKED)) {
        return code == ERR_LOCKEDOBJ || report ? code : 0;
    }
    FreeSpriteEx(L, sprite);
    return 0;
}

void FreeAllSprites(qvVmState* L) {
    for (qvObjectHeader* h = *scene::BGPicList(); h != nullptr; h = h->next) {
        FreeSpriteInstances(reinterpret_cast<qvBGPic*>(h));
    }
    DrainList(&sprites, [L](qvObjectHeader* h) { Destroy(L, AsSprite(h)); });
}

void FreeSpriteInstances(qvBGPic* picture) {
    DrainList(&picture->sprites, FreeMemBlock);
}

int32_t CountSpriteInstances(const qvBGPic* picture) {
    int32_t count = 0;
    for (const qvSpriteInstance* s = picture->sprites; s != nullptr; s = s->next) ++count;
    return count;
}

int RebuildSprites(qvVmState*) {
    for (qvObjectHeader* h = sprites; h != nullptr; h = h->next) {
        qvSprite* sprite = AsSprite(h);
        if (sprite->pixels == nullptr) continue;
        for (int32_t i = 0; i < sprite->frameCount; ++i) {
            if (sprite->pixels[i] == nullptr) continue;
            qvDisplayBitMap* bitmap = nullptr;
            qvPlaneBitMap* mask = nullptr;
            if (const int code =
                    PixelArrayToBitMap(sprite->pixels[i], sprite->transparentColour, sprite->width,
                                       sprite->height, sprite->width, 0, &bitmap, &mask)) {
                return code;
            }
            FreeDisplayBitMap(sprite->bitmaps[i]);
            sprite->bitmaps[i] = bitmap;
            if (mask != nullptr) {
                FreePlaneBitMap(sprite->masks[i]);
                sprite->masks[i] = mask;
            }
            FreeMemBlock(sprite->pixels[i]);
            sprite->pixels[i] = nullptr;
        }
    }
    return 0;
}

int CheckSpriteChangeable(const qvSprite* sprite) {
    if (ShownAnywhere(sprite)) return ERR_MODIFYSPRITE;
    if (sprite->locked != 0) return ERR_LOCKEDOBJ;
    if (sprite->sources != nullptr || UsedAsSource(sprite)) return ERR_MODIFYSPRITE2;
    return 0;
}

int ScaleSpriteEx(qvSprite* sprite, int32_t width, int32_t height, bool smooth) {
    if (const int code = CheckSpriteChangeable(sprite)) return code;
    if (width == sprite->width && height == sprite->height) return 0;
    NewFrames scaled(sprite->frameCount);
    if (!scaled.Made()) return ERR_MEM;
    for (int32_t i = 0; i < sprite->frameCount; ++i) {
        // Frames still in pixels are converted first, so that they keep the new size.
        if (sprite->bitmaps[i] == nullptr) return ERR_LOCKBMAP;
        if (const int code = ScaleBitmap(
                sprite->bitmaps[i], sprite->masks[i], sprite->alphas[i], 0, 0, nullptr,
                sprite->width, sprite->height, width, height, smooth ? 1 : 0, &scaled.bitmaps[i],
                sprite->masks[i] != nullptr ? &scaled.masks[i] : nullptr,
                sprite->alphas[i] != nullptr ? &scaled.alphas[i] : nullptr)) {
            return code;
        }
    }
    // Every frame is made: the old ones go and the new ones come together.
    const int32_t count = sprite->frameCount;
    FreeFrames(sprite);
    sprite->frameCount = count;
    Adopt(sprite, scaled.Release());
    sprite->width = width, sprite->height = height;
    return 0;
}

int FlipSpriteEx(qvSprite* sprite, int32_t direction) {
    if (const int code = CheckSpriteChangeable(sprite)) return code;
    for (int32_t i = 0; i < sprite->frameCount; ++i) {
        if (sprite->bitmaps[i] == nullptr) continue;
        if (const int code = FlipBitmap(sprite->bitmaps[i], sprite->masks[i], sprite->alphas[i],
                                        sprite->width, sprite->height, direction)) {
            return code;
        }
    }
    return 0;
}

int AddSpriteOfNewFrames(qvObjectId* id, int32_t width, int32_t height, int32_t frameCount,
                         uint32_t transparentColour, const SpriteFrameMaker& make, qvSprite** out) {
    NewFrames frames(frameCount);
    if (!frames.Made()) return ERR_MEM;
    for (int32_t i = 0; i < frameCount; ++i) {
        gfx::NewPicture planes;
        if (const int code = make(i, &planes)) return code;
        frames.bitmaps[i] = planes.bitmap.release();
        frames.masks[i] = planes.mask.release();
        frames.alphas[i] = planes.alpha.release();
    }
    const qvSpriteFrames given{frames.pixels, frames.bitmaps, frames.masks, frames.alphas,
                               frameCount};
    if (const int code = AddSprite(id, width, height, given, transparentColour, nullptr, out)) {
        return code;
    }
    frames.Release();
    return 0;
}

int AddSpriteOfFrames(qvObjectId* id, int32_t width, int32_t height, int32_t frameCount,
                      uint32_t transparentColour, const SpriteFrameReader& read, qvSprite** out) {
    auto copy = [&read, width, height](int32_t i, gfx::NewPicture* made) {
        qvDisplayBitMap* bitmap = nullptr;
        qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
        if (const int code = read(i, &bitmap, &mask, &alpha)) return code;
        if (bitmap == nullptr) return 0;
        return CopyPictureArea({bitmap, mask, alpha, width, height}, 0, 0, width, height, made);
    };
    return AddSpriteOfNewFrames(id, width, height, frameCount, transparentColour, copy, out);
}

int CopySpriteEx(qvVmState* L, const qvSprite* source, qvObjectId* id, qvSprite** out) {
    qvObjectDataEntry* data = nullptr;
    if (CopyObjectDataList(L, source->header.data, &data) != 0) return ERR_MEM;
    qvSprite* made = nullptr;
    int code = 0;
    if (source->sources != nullptr) {
        code = AddSprite(id, source->width, source->height, {}, source->transparentColour,
                         source->sources, &made);
    } else {
        code = AddSpriteOfFrames(
            id, source->width, source->height, source->frameCount, source->transparentColour,
            [source](int32_t i, qvDisplayBitMap** bitmap, qvPlaneBitMap** mask,
                     qvPlaneBitMap** alpha) {
                GetSpriteFrame(source, i, bitmap, mask, alpha);
                return 0;
            },
            &made);
        if (code == 0 && !CopyPixelBuffers(source, made)) {
            FreeSpriteEx(L, made);
            code = ERR_MEM;
        }
    }
    if (code != 0) {
        FreeRefList(L, data);
        return code;
    }
    made->header.data = data;
    if (out != nullptr) *out = made;
    return 0;
}

#include "media/anim_store.h"

#include <algorithm>

#include "engine/error_codes.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_types.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/errors.h"

namespace {

qvObjectHeader* anims = nullptr;

qvAnim* AsAnim(qvObjectHeader* header) {
    return reinterpret_cast<qvAnim*>(header);
}

// An array of count entries with the planes given (none for the rest); none when memory is
// short.
template <typename Plane>
Plane** ArrayOf(const std::vector<Plane*>& planes, int32_t count) {
    auto** array = static_cast<Plane**>(AllocMemBlock(sizeof(Plane*) * size_t(count), 1));
    if (array != nullptr) std::copy(planes.begin(), planes.end(), array);
    return array;
}

void FreeFrame(qvAnim* anim, int32_t i) {
    FreeDisplayBitMap(anim->bitmaps[i]);
    FreePlaneBitMap(anim->masks[i]);
    FreePlaneBitMap2(anim->alphas[i]);
}

void FreeFrames(qvAnim* anim) {
    for (int32_t i = 0; i < anim->frameCount; ++i) FreeFrame(anim, i);
    FreeMemBlock(anim->bitmaps);
    FreeMemBlock(anim->masks);
    FreeMemBlock(anim->alphas);
}

void Destroy(qvVmState* L, qvAnim* anim) {
    FreeFrames(anim);
    FreeRefList(L, anim->header.data);
    FreeMemBlock(anim);
}

// A copy of a plane that may be none; false when memory is short.
template <typename Plane, typename Duplicate>
bool CopyPlane(const Plane* source, std::vector<Plane*>* to, Duplicate duplicate) {
    to->push_back(source != nullptr ? duplicate(source) : nullptr);
    return source == nullptr || to->back() != nullptr;
}

// Copies of the planes of frame i of the anim appended to frames; false when memory is short.
bool CopyFrame(const qvAnim* anim, int32_t i, qvAnimFrames* frames) {
    const auto bitmap = [](const qvDisplayBitMap* b) { return qv::DuplicateBitMap(b, false); };
    const auto plane = [](const qvPlaneBitMap* p) { return qv::DuplicatePlane(p); };
    return CopyPlane(anim->bitmaps[i], &frames->bitmaps, bitmap) &&
           CopyPlane(anim->masks[i], &frames->masks, plane) &&
           CopyPlane(anim->alphas[i], &frames->alphas, plane);
}

// The three arrays of count entries made of the frames, or false (nothing made).
bool MakeArrays(const qvAnimFrames& frames, int32_t count, qvDisplayBitMap*** bitmaps,
                qvPlaneBitMap*** masks, qvPlaneBitMap*** alphas) {
    *bitmaps = ArrayOf(frames.bitmaps, count);
    *masks = ArrayOf(frames.masks, count);
    *alphas = ArrayOf(frames.alphas, count);
    if (*bitmaps != nullptr && *masks != nullptr && *alphas != nullptr) return true;
    FreeMemBlock(*bitmaps), FreeMemBlock(*masks), FreeMemBlock(*alphas);
    return false;
}

void Forget(qvAnimFrames* frames) {
    frames->bitmaps.clear(), frames->masks.clear(), frames->alphas.clear();
}

}  // namespace

qvAnimFrames::~qvAnimFrames() {
    for (qvDisplayBitMap* b : bitmaps) FreeDisplayBitMap(b);
    for (qvPlaneBitMap* m : masks) FreePlaneBitMap(m);
    for (qvPlaneBitMap* a : alphas) FreePlaneBitMap2(a);
}

qvObjectId AutomaticAnimId() {
    static char marker;
    return {0, &marker};
}

qvObjectHeader** AnimList() {
    return &anims;
}

int AddAnim(qvObjectId* id, int32_t width, int32_t height, qvAnimFrames* frames,
            int32_t transparentColour, qvAnim** out) {
    const auto count = int32_t(frames->bitmaps.size());
    auto* anim = static_cast<qvAnim*>(AllocMemBlock(sizeof(qvAnim), 1));
    if (anim == nullptr) return ERR_MEM;
    if (!MakeArrays(*frames, count, &anim->bitmaps, &anim->masks, &anim->alphas)) {
        FreeMemBlock(anim);
        return ERR_MEM;
    }
    Forget(frames);
    anim->header = qv::NewObjectHeader(qv::gfx::kTypeAnim, id->number, id->handle != nullptr, anim);
    anim->width = width, anim->height = height;
    anim->frameCount = count;
    anim->transparentColour = transparentColour;
    AppendObject(&anims, &anim->header);
    *id = {anim->header.id, anim->header.handle};
    if (out != nullptr) *out = anim;
    return 0;
}

int FindAnimById(qvVmState*, qvObjectId id, qvAnim** out, int flags) {
    for (qvObjectHeader* h = anims; h != nullptr; h = h->next) {
        qvAnim* anim = AsAnim(h);
        if (h->id == id.number && h->handle == id.handle &&
            (anim->orphan == 0 || (flags & QV_ANIM_ORPHANS) != 0)) {
            *out = anim;
            return 0;
        }
    }
    return qv::ObjectNotFound(id, ERR_FINDANIM);
}

int GetAnimFrameBitmap(const qvAnim* anim, int32_t frame, qvDisplayBitMap** bitmap,
                       qvPlaneBitMap** mask, qvPlaneBitMap** alpha) {
    if (frame < 0 || frame >= anim->frameCount) return ERR_ANIMFRAME;
    *bitmap = anim->bitmaps[frame];
    *mask = anim->masks[frame];
    *alpha = anim->alphas[frame];
    return 0;
}

int CopyAnimFrames(qvVmState*, const qvAnim* anim, qvObjectId* id) {
    qvAnimFrames frames;
    for (int32_t i = 0; i < anim->frameCount; ++i) {
        if (!CopyFrame(anim, i, &frames)) return ERR_MEM;
    }
    *id = AutomaticAnimId();
    return AddAnim(id, anim->width, anim->height, &frames, anim->transparentColour, nullptr);
}

int ModifyAnimFramesEx(qvVmState* L, qvObjectId id, int32_t frames, int32_t source, int flags) {
    qvAnim* anim = nullptr;
    if (int code = FindAnimById(L, id, &anim, flags)) return code;
    if (frames < 1) return ERR_WRONGUSAGE;
    if (source < 0 || source >= anim->frameCount) source = anim->frameCount - 1;
    // The new arrays are complete before the anim changes.
    qvAnimFrames added;
    for (int32_t i = anim->frameCount; i < frames; ++i) {
        if (!CopyFrame(anim, source, &added)) return ERR_MEM;
    }
    qvAnimFrames kept;
    const int32_t keep = std::min(frames, anim->frameCount);
    kept.bitmaps.assign(anim->bitmaps, anim->bitmaps + keep);
    kept.masks.assign(anim->masks, anim->masks + keep);
    kept.alphas.assign(anim->alphas, anim->alphas + keep);
    kept.bitmaps.insert(kept.bitmaps.end(), added.bitmaps.begin(), added.bitmaps.end());
    kept.masks.insert(kept.masks.end(), added.masks.begin(), added.masks.end());
    kept.alphas.insert(kept.alphas.end(), added.alphas.begin(), added.alphas.end());
    qvDisplayBitMap** bitmaps = nullptr;
    qvPlaneBitMap **masks = nullptr, **alphas = nullptr;
    const bool made = MakeArrays(kept, frames, &bitmaps, &masks, &alphas);
    Forget(&kept);  // the kept planes stay the anim's; the copies go on failure
    if (!made) return ERR_MEM;
    Forget(&added);
    for (int32_t i = frames; i < anim->frameCount; ++i) FreeFrame(anim, i);
    FreeMemBlock(anim->bitmaps), FreeMemBlock(anim->masks), FreeMemBlock(anim->alphas);
    anim->bitmaps = bitmaps, anim->masks = masks, anim->alphas = alphas;
    anim->frameCount = frames;
    return 0;
}

int FreeAnimObject(qvVmState* L, qvObjectId id, int flags) {
    qvAnim* anim = nullptr;
    if (int code = FindAnimById(L, id, &anim, flags)) return code;
    if (qv::gfx::Neighbour().ObjectInUseByLayers(qv::gfx::kTypeAnim, anim)) {
        anim->orphan = 1;
        return 0;
    }
    UnlinkObject(&anims, &anim->header);
    Destroy(L, anim);
    return 0;
}

void FreeOrphanAnims(qvVmState* L) {
    qv::ReleaseFromList(
        &anims,
        [](qvObjectHeader* h) {
            return AsAnim(h)->orphan != 0 &&
                   !qv::gfx::Neighbour().ObjectInUseByLayers(qv::gfx::kTypeAnim, h);
        },
        [L](qvObjectHeader* h) { Destroy(L, AsAnim(h)); });
}

void FreeAllAnims(qvVmState* L) {
    qv::DrainList(&anims, [L](qvObjectHeader* h) { Destroy(L, AsAnim(h)); });
}

// The least of the anim store that the layers need: anims made from bitmaps, with a colour
// bitmap and optionally a mask or an alpha plane per frame, their lookup (orphans included on
// request), their frames, copies, frame-count changes, freeing and the collection of orphans
// that no layer shows any more.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "runtime/objects.h"

struct qvAnim {
    qvObjectHeader header;  // type ANIM
    int32_t width, height;
    int32_t frameCount;
    // One entry per frame in each; a mask or alpha entry may be none.
    qvDisplayBitMap** bitmaps;
    qvPlaneBitMap** masks;
    qvPlaneBitMap** alphas;
    int32_t transparentColour;  // 0xRRGGBB, or -1 for none
    int32_t orphan;             // freed by the script or private to layers
};

// Planes of the frames of a new anim, owned until AddAnim takes them.
struct qvAnimFrames {
    std::vector<qvDisplayBitMap*> bitmaps;
    std::vector<qvPlaneBitMap*> masks;  // none for the frames beyond its end
    std::vector<qvPlaneBitMap*> alphas;
    ~qvAnimFrames();
};

// Flags of FindAnimById and FreeAnimObject.
enum : int {
    QV_ANIM_ORPHANS = 2,  // orphans are found too
};

// The id pair that asks AddAnim for an automatic id.
qvObjectId AutomaticAnimId();
// The head of the anim list (registered with the object registry).
qvObjectHeader** AnimList();

// Makes an anim of width x height from the frames (taken over on success, the vectors left
// empty) and appends it; *id receives the id pair
// (an automatic id: the record's handle). 0 or ERR_MEM.
int AddAnim(qvObjectId* id, int32_t width, int32_t height, qvAnimFrames* frames,
            int32_t transparentColour, qvAnim** out);
// 0 with the anim, else ERR_FINDARRAY for a handle or ERR_FINDANIM with the number.
int FindAnimById(qvVmState* L, qvObjectId id, qvAnim** out, int flags);
// The planes of frame (from 0); ERR_ANIMFRAME outside the anim.
int GetAnimFrameBitmap(const qvAnim* anim, int32_t frame, qvDisplayBitMap** bitmap,
                       qvPlaneBitMap** mask, qvPlaneBitMap** alpha);
// A copy of every frame under an automatic id, in *id. 0 or ERR_MEM.
int CopyAnimFrames(qvVmState* L, const qvAnim* anim, qvObjectId* id);
// The anim gets frames frames: the kept frames keep their planes, new ones are copies of
// frame source (from 0; the last frame when out of range). 0, ERR_WRONGUSAGE below one frame,
// the lookup's error or ERR_MEM (the anim as it was).
int ModifyAnimFramesEx(qvVmState* L, qvObjectId id, int32_t frames, int32_t source, int flags);
// Frees the anim, or orphans it while layers show it. The lookup's error.
int FreeAnimObject(qvVmState* L, qvObjectId id, int flags);
// Frees the orphans that no layer shows any more.
void FreeOrphanAnims(qvVmState* L);
// Shutdown: every anim.
void FreeAllAnims(qvVmState* L);

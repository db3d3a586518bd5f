// Clip regions (object type 35): the list, its lookup, the commands, the orphans that
// layers still use after the script freed them, and the transformed copies layers make.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/clip_region.h"

// Flags of FindClipRegion.
enum : int {
    QV_CLIP_MODIFY = 1,    // the region is about to change: a locked one is refused
    QV_CLIP_ORPHANS = 2,   // orphans and derived copies match too
    QV_CLIP_NODETACH = 4,  // with QV_CLIP_MODIFY: layers keep sharing the region
};

// The region with the id; 0 with *out set, else ERR_FINDCLIPREGION (ERR_FINDARRAY for a
// handle), ERR_LOCKEDOBJ (QV_CLIP_MODIFY while an asynchronous drawing object draws it) or
// the error of giving layers their private copies, with *out cleared.
int FindClipRegion(qvVmState* L, qvObjectId id, qvClipRegion** out, int flags);

// Moves a negative x or y of the region to 0, shrinking it by as much, and gives the region
// its mask: a new mask holding the part that stays when it moved, else a copy (with copy)
// or mask itself. With freeOld, mask is freed unless the region keeps it. 0 or ERR_MEM (the
// region unchanged).
int ClipRegionMask(qvClipRegion* region, qvPlaneBitMap* mask, bool copy, bool freeOld);

// A derived copy of the region as a layer under the matrix {a, b, c, d} sees it, turning
// about (anchorX x width, anchorY x height): a scaled box, a rotated box as a mask, or a
// transformed mask. Not listed, no id, marked derived; the caller frees it with
// ReleaseItemResources and FreeMemBlock. None when memory is short.
qvClipRegion* TransformClipRegion(qvVmState* L, const qvClipRegion* region, const double matrix[4],
                                  double anchorX, double anchorY);

// Frees a region's mask and releases its object data; the record stays the caller's.
void ReleaseItemResources(qvVmState* L, qvClipRegion* region);

// Frees every orphan that no layer uses any more.
void FreeUnusedClipRegions(qvVmState* L);
// Shutdown: every region, forgotten by the layers first.
void FreeAllClipRegions(qvVmState* L);

int CreateClipRegion(qvVmState* L);
int SetClipRegion(qvVmState* L);
int FreeClipRegion(qvVmState* L);

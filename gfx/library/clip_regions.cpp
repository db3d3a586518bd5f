#include "gfx/library/clip_regions.h"

#include <algorithm>
#include <array>
#include <climits>
#include <memory>

#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_list.h"
#include "gfx/library/object_types.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"

namespace qv::gfx {
namespace {

qvObjectHeader** List() {
    return &Graphics().clipRegions;
}

qvClipRegion* NewRegion() {
    auto* region = static_cast<qvClipRegion*>(AllocMemBlock(sizeof(qvClipRegion), 1));
    if (region != nullptr) region->header.type = kTypeClipRegion;
    return region;
}

void Destroy(qvVmState* L, qvClipRegion* region) {
    ReleaseItemResources(L, region);
    FreeMemBlock(region);
}

// A region being made, before it has object data.
struct NewRegionFree {
    void operator()(qvClipRegion* region) const {
        if (region->mask != nullptr) FreePlaneBitMap(region->mask);
        FreeMemBlock(region);
    }
};

// Drawing clipped by nothing: the whole width of the output picture.
void ClearActiveRegion() {
    Neighbour().SetActiveClipRegion(nullptr);
    Neighbour().SetOutputSpan(0, Graphics().Host().CurrentOutputPicture().width - 1);
}

// Removes a region from the script's view: the active region is cleared, sprites forget it,
// and a region that layers still use stays as an orphan that only they reach.
void Remove(qvVmState* L, qvClipRegion* region) {
    if (Graphics().Host().CurrentOutputPicture().clipRegion == region) ClearActiveRegion();
    Neighbour().ClearPictureClipRegionRefs(region);
    Neighbour().ClearSpriteClipRegionRefs(L, region);
    if (Neighbour().ObjectInUseByLayers(kTypeClipRegion, region)) {
        region->header.id = 0;
        region->header.handle = region;
        region->orphan = 1;
        return;
    }
    UnlinkObject(List(), &region->header);
    Destroy(L, region);
}

// Fills a new region from the arguments after the type: a box, or a brush's mask. 0 or an
// error code (the region then still to be freed by the caller).
int FillRegion(qvVmState* L, qvClipRegion* region, int32_t type) {
    if (type == kClipRegionBox) {
        CheckArgCount(L, 6, 6);
        region->width = GetOptIntArg(L, 5, nullptr);
        region->height = GetOptIntArg(L, 6, nullptr);
        region->x = ResolvePosX(GetOptIntArg(L, 3, nullptr), region->width, 0, 0);
        region->y = ResolvePosY(GetOptIntArg(L, 4, nullptr), region->height, 0, 0);
        return 0;
    }
    if (type != kTypeMask) return ERR_WRONGUSAGE;
    CheckArgCount(L, 5, 5);
    PictureView brush{};
    if (const int code = Neighbour().GetBrush(L, GetObjectIdArg(L, 3), &brush)) return code;
    if (!PlaneUsable(brush.mask)) return ERR_NOMASKBRUSH;
    region->width = brush.width;
    region->height = brush.height;
    region->x = ResolvePosX(GetOptIntArg(L, 4, nullptr), brush.width, 0, 0);
    region->y = ResolvePosY(GetOptIntArg(L, 5, nullptr), brush.height, 0, 0);
    return ClipRegionMask(region, brush.mask, true, false);
}

// A box scaled along the axes.
qvClipRegion* ScaledBox(const qvClipRegion* region, const double matrix[4]) {
    qvClipRegion* copy = NewRegion();
    if (copy == nullptr) return nullptr;
    copy->x = TruncSaturate(region->x * matrix[0]);
    copy->width = TruncSaturate(region->width * matrix[0]);
    copy->y = TruncSaturate(region->y * matrix[3]);
    copy->height = TruncSaturate(region->height * matrix[3]);
    return copy;
}

// A rotated box: its corners mapped about the anchor, the quadrilateral filled into a mask
// of their bounds.
qvClipRegion* RotatedBox(const qvClipRegion* region, const double matrix[4], double anchorX,
                         double anchorY) {
    std::array<qvVertex, 4> corners = {
        qvVertex{0, 0}, {region->width, 0}, {region->width, region->height}, {0, region->height}};
    Neighbour().TransformPoints(matrix, region->width, region->height, corners, anchorX, anchorY);
    int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    for (const qvVertex& p : corners) {
        left = std::min(left, p.x);
        top = std::min(top, p.y);
        right = std::max(right, p.x);
        bottom = std::max(bottom, p.y);
    }
    // Bounds beyond the largest mask make no region, as the mask's allocation would not.
    if (int64_t{right} - left > kMaxBitMapSide || int64_t{bottom} - top > kMaxBitMapSide) {
        return nullptr;
    }
    std::array<int32_t, 8> vertices{};
    for (size_t i = 0; i < corners.size(); ++i) {
        vertices[2 * i] = corners[i].x - left;
        vertices[2 * i + 1] = corners[i].y - top;
    }
    qvClipRegion* copy = NewRegion();
    if (copy == nullptr) return nullptr;
    copy->x = qv::Saturate32(int64_t{region->x} + left);
    copy->y = qv::Saturate32(int64_t{region->y} + top);
    copy->width = right - left;
    copy->height = bottom - top;
    qvPlaneBitMap* mask = AllocMaskBitMap(nullptr, copy->width, copy->height, 1);
    if (mask == nullptr || FillMaskPolygon(mask, vertices.data(), 4) != 0 ||
        ClipRegionMask(copy, mask, false, true) != 0) {
        if (mask != nullptr && copy->mask != mask) FreePlaneBitMap(mask);
        FreeMemBlock(copy);
        return nullptr;
    }
    return copy;
}

qvClipRegion* TransformedMask(qvVmState* L, const qvClipRegion* region, const double matrix[4],
                              double anchorX, double anchorY) {
    qvClipRegion* copy = NewRegion();
    if (copy == nullptr) return nullptr;
    qvPlaneBitMap* mask = nullptr;
    int32_t x = 0, y = 0;
    if (Neighbour().TransformBrushBitmaps(L, region->mask, region->width, region->height, matrix,
                                          anchorX, anchorY, &mask, &x, &y, &copy->width,
                                          &copy->height) != 0) {
        FreeMemBlock(copy);
        return nullptr;
    }
    copy->x = region->x + x;
    copy->y = region->y + y;
    if (ClipRegionMask(copy, mask, false, true) != 0) {
        FreePlaneBitMap(mask);
        FreeMemBlock(copy);
        return nullptr;
    }
    return copy;
}

// The part of a side of size that a negative position cuts away (at most all of it; in 64
// bits, since -INT32_MIN has no 32-bit value).
int32_t CutAway(int32_t position, int32_t size) {
    return static_cast<int32_t>(
        std::clamp(-int64_t{position}, int64_t{0}, int64_t{std::max(size, 0)}));
}

}  // namespace
}  // namespace qv::gfx

using namespace qv::gfx;

int FindClipRegion(qvVmState* L, qvObjectId id, qvClipRegion** out, int flags) {
    *out = FindObject<qvClipRegion>(*List(), id, [flags](const qvClipRegion& r) {
        return r.orphan != 0 && (flags & QV_CLIP_ORPHANS) == 0;
    });
    if (*out == nullptr) return qv::ObjectNotFound(id, ERR_FINDCLIPREGION);
    if ((flags & QV_CLIP_MODIFY) == 0) return 0;
    int code = IsObjectUsedByAsyncDraw(*out) ? ERR_LOCKEDOBJ : 0;
    if (code == 0 && (flags & QV_CLIP_NODETACH) == 0) {
        code = Neighbour().DetachObjectFromLayers(L, id, *out);
    }
    if (code != 0) *out = nullptr;
    return code;
}

int ClipRegionMask(qvClipRegion* region, qvPlaneBitMap* mask, bool copy, bool freeOld) {
    const int32_t dx = CutAway(region->x, region->width), dy = CutAway(region->y, region->height);
    const int32_t width = std::max(0, region->width - dx);
    const int32_t height = std::max(0, region->height - dy);
    qvPlaneBitMap* kept = mask;
    if (dx != 0 || dy != 0) {
        kept = AllocMaskBitMap(nullptr, width, height, 1);
        if (kept != nullptr) CombineMaskRect(mask, dx, dy, kept, 0, 0, width, height, 2);
    } else if (copy) {
        kept = DuplicateMaskBitmap(mask, width, height);
    }
    if (kept == nullptr) return ERR_MEM;
    if (freeOld && kept != mask) FreePlaneBitMap(mask);
    region->x = std::max(region->x, 0);
    region->y = std::max(region->y, 0);
    region->width = width;
    region->height = height;
    region->mask = kept;
    region->maskBytesPerRow = kept->bytesPerRow;
    return 0;
}

qvClipRegion* TransformClipRegion(qvVmState* L, const qvClipRegion* region, const double matrix[4],
                                  double anchorX, double anchorY) {
    qvClipRegion* copy = nullptr;
    if (qv::PlaneUsable(region->mask)) {
        copy = TransformedMask(L, region, matrix, anchorX, anchorY);
    } else if (matrix[1] == 0 && matrix[2] == 0) {
        copy = ScaledBox(region, matrix);
    } else {
        copy = RotatedBox(region, matrix, anchorX, anchorY);
    }
    if (copy != nullptr) copy->orphan = 1;  // the mark of a derived copy
    return copy;
}

void ReleaseItemResources(qvVmState* L, qvClipRegion* region) {
    if (region->mask != nullptr) FreePlaneBitMap(region->mask);
    region->mask = nullptr;
    FreeRefList(L, region->header.data);
    region->header.data = nullptr;
}

void FreeUnusedClipRegions(qvVmState* L) {
    qv::ReleaseFromList(
        List(),
        [](qvObjectHeader* h) {
            auto* region = reinterpret_cast<qvClipRegion*>(h);
            return region->orphan != 0 && !Neighbour().ObjectInUseByLayers(kTypeClipRegion, region);
        },
        [L](qvObjectHeader* h) { Destroy(L, reinterpret_cast<qvClipRegion*>(h)); });
}

void FreeAllClipRegions(qvVmState* L) {
    qv::DrainList(List(), [L](qvObjectHeader* h) {
        auto* region = reinterpret_cast<qvClipRegion*>(h);
        Neighbour().ClearLayerClipRegionRefs(region);
        Destroy(L, region);
    });
}

int CreateClipRegion(qvVmState* L) {
    CheckArgCount(L, 2, 0);
    int automatic = 0;
    const auto number = static_cast<uint32_t>(GetOptIntArg(L, 1, &automatic));
    const int32_t type = GetOptIntArg(L, 2, nullptr);
    std::unique_ptr<qvClipRegion, NewRegionFree> owner(NewRegion());
    if (owner == nullptr) return ERR_MEM;
    if (const int code = FillRegion(L, owner.get(), type)) return code;
    if (!automatic) {
        qvClipRegion* old = nullptr;
        const int code =
            FindClipRegion(L, {number, nullptr}, &old, QV_CLIP_MODIFY | QV_CLIP_NODETACH);
        if (code == ERR_LOCKEDOBJ) return code;
        if (old != nullptr) Remove(L, old);
    }
    qvClipRegion* region = owner.release();
    region->header = qv::NewObjectHeader(kTypeClipRegion, number, automatic, region);
    AppendObject(List(), &region->header);
    return qv::PushNewObjectHandle(L, region->header);
}

int SetClipRegion(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const int32_t output = Graphics().View(Graphics().Host().CurrentDisplay()).outputType;
    if (output == kTargetMask || output == kTargetAlphaChannel) return ERR_WRONGUSAGE;
    if (VmType(L, 1) == VM_TNIL) {
        ClearActiveRegion();
        return 0;
    }
    qvClipRegion* region = nullptr;
    if (const int code = FindClipRegion(L, GetObjectIdArg(L, 1), &region, 0)) return code;
    const OutputPicture picture = Graphics().Host().CurrentOutputPicture();
    if (int64_t(region->x) + region->width > picture.width ||
        int64_t(region->y) + region->height > picture.height) {
        return ERR_WRONGCLIPREG;
    }
    Neighbour().SetActiveClipRegion(region);
    // A box of any size or place may be set; its span saturates rather than wrap.
    Neighbour().SetOutputSpan(region->x, qv::Saturate32(int64_t{region->x} + region->width - 1));
    return 0;
}

int FreeClipRegion(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvClipRegion* region = nullptr;
    if (const int code =
            FindClipRegion(L, GetObjectIdArg(L, 1), &region, QV_CLIP_MODIFY | QV_CLIP_NODETACH)) {
        return code;
    }
    Remove(L, region);
    return 0;
}

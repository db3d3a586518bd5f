#include "objects/brush.h"

#include <cstring>
#include <memory>
#include <type_traits>

#include "gfx/blit_frontends.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_types.h"
#include "gfx/masks.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "objects/scene_seam.h"
#include "platform/linux/blocks.h"
#include "platform/linux/lists.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"

namespace qv {
namespace {

using gfx::kTypeBrush;

qvObjectHeader* brushes = nullptr;
char automaticMarker;

qvBrush* AsBrush(qvObjectHeader* header) {
    return reinterpret_cast<qvBrush*>(header);
}

struct RecordFree {
    void operator()(qvBrush* brush) const { FreeMemBlock(brush); }
};
using NewRecord = std::unique_ptr<qvBrush, RecordFree>;

// A cleared record under the id; none when memory is short.
NewRecord MakeRecord(qvObjectId id) {
    NewRecord brush(static_cast<qvBrush*>(AllocMemBlock(sizeof(qvBrush), 1)));
    if (brush)
        brush->header = NewObjectHeader(kTypeBrush, id.number, id.handle != nullptr, brush.get());
    return brush;
}

// Takes the planes over and links the record at the end of the list.
qvBrush* Adopt(NewRecord record, gfx::NewPicture* planes) {
    qvBrush* brush = record.release();
    brush->bitmap = planes->bitmap.release();
    brush->mask = planes->mask.release();
    brush->alpha = planes->alpha.release();
    AppendObject(&brushes, &brush->header);
    return brush;
}

qvBrush* FindBrush(qvObjectId id, bool orphans) {
    for (qvObjectHeader* h = brushes; h != nullptr; h = h->next) {
        qvBrush* brush = AsBrush(h);
        if (h->id == id.number && h->handle == id.handle && (orphans || brush->orphan == 0)) {
            return brush;
        }
    }
    return nullptr;
}

void Destroy(qvVmState* L, qvBrush* brush) {
    FreeBrushContents(L, brush);
    FreeMemBlock(brush);
}

void ReleaseSource(qvBrush* brush) {
    if (brush->imageSource != nullptr) ReleaseImageHandle(brush->imageSource);
    brush->imageSource = nullptr;
}

template <typename Plane>
void Replace(Plane** slot, std::type_identity_t<Plane>* plane, void (*free)(Plane*)) {
    if (*slot != nullptr && *slot != plane) free(*slot);
    *slot = plane;
}

// A copy of a hardware brush's bitmap in a new compositing bitmap; none when that cannot be
// made.
qvDisplayBitMap* CopyHardwareBitmap(const qvBrush* source) {
    qvDisplayBitMap* copy = AllocDisplayBitMapAlt(source->width, source->height);
    if (copy == nullptr) return nullptr;
    const bool alphaBytes = QueryBitMapAttr(source->bitmap, 26) != 0;
    if (alphaBytes) ClearAlphaArea(copy, 1);
    CopyWholeBitMap(source->bitmap, copy, source->width, source->height);
    if (alphaBytes) SetRuntimeOption(copy, 26, 1);
    return copy;
}

struct PixelsFree {
    void operator()(uint32_t* pixels) const { FreeMemBlock(pixels); }
};
using OwnedPixels = std::unique_ptr<uint32_t, PixelsFree>;

// The display planes of one preloaded brush, made before anything of it changes.
struct Conversion {
    gfx::NewPicture planes;
    bool cropped = false;
    bool hardware = false;
    int32_t width = 0, height = 0;
};

// The crop of the image source the brush shows; none given is the whole source, whose size
// the brush holds until it is converted.
void CropRect(const qvBrush* brush, int32_t rect[4]) {
    if (brush->cropWidth > 0 && brush->cropHeight > 0) {
        rect[0] = brush->cropX, rect[1] = brush->cropY;
        rect[2] = brush->cropWidth, rect[3] = brush->cropHeight;
    } else {
        rect[0] = rect[1] = 0;
        rect[2] = brush->width, rect[3] = brush->height;
    }
}

int Convert(const qvBrush* brush, bool noHardware, Conversion* out) {
    int32_t rect[4];
    CropRect(brush, rect);
    const auto [x, y, width, height] = rect;
    out->width = width, out->height = height;
    out->cropped = x != 0 || y != 0 || width != brush->width || height != brush->height;
    const uint32_t* pixels = GetImageHandlePixels(brush->imageSource);
    int32_t rowLength = brush->rowLength;
    OwnedPixels crop;
    if (out->cropped) {
        if (x < 0 || y < 0 || int64_t(x) + width > rowLength || int64_t(y) + height > brush->height)
            return ERR_COORDSRANGE;
        uint32_t* cut = nullptr;
        qvPlaneBitMap* alpha = nullptr;
        if (const int code = CropPixelArray(pixels, rowLength, brush->alpha, x, y, width, height,
                                            &cut, &alpha)) {
            return code;
        }
        crop.reset(cut);
        out->planes.alpha.reset(alpha);
        pixels = cut, rowLength = width;
    }
    out->hardware =
        brush->hardware != 0 && CompositingSupported(kCompositeHardwareBrush) != 0 && !noHardware;
    const uint32_t key = ColourKeyOf(brush->transparentColour);
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    if (const int code = PixelArrayToBitMap(pixels, key, width, height, rowLength, out->hardware,
                                            &bitmap, &mask)) {
        return code;
    }
    out->planes.bitmap.reset(bitmap);
    out->planes.mask.reset(mask);
    return 0;
}

void Commit(qvBrush* brush, Conversion* done) {
    Replace(&brush->bitmap, done->planes.bitmap.release(), FreeDisplayBitMap);
    if (done->planes.mask) Replace(&brush->mask, done->planes.mask.release(), FreePlaneBitMap);
    if (done->cropped) {
        Replace(&brush->alpha, done->planes.alpha.release(), FreePlaneBitMap);
        brush->rowLength = done->width;
        ReleaseSource(brush);
    }
    brush->width = done->width, brush->height = done->height;
    brush->hardware = done->hardware ? 1 : 0;
    if (brush->type == kVectorBrush && brush->hardware != 0) brush->type = kBitmapBrush;
    // Only a vector brush renders from its source again.
    if (brush->type != kVectorBrush) ReleaseSource(brush);
    if (brush->hardware != 0) MergeHardwarePlanes(brush);
}

}  // namespace

qvObjectId AutomaticBrushId() {
    return {0, &automaticMarker};
}

qvObjectHeader** BrushList() {
    return &brushes;
}

int CheckBrushReplaceable(const NewBrushId& target) {
    if (target.automatic) return 0;
    const qvObjectId id{target.number, nullptr};
    if (IsActiveOutputBrush(id)) return ERR_MODIFYABR;
    const qvBrush* old = FindBrush(id, false);
    return old != nullptr && old->lockCount != 0 ? ERR_LOCKEDOBJ : 0;
}

int PublishNewBrush(qvVmState* L, const NewBrushId& target, qvBrush* made) {
    if (!target.automatic) {
        if (const int code = FreeBrushById(L, {target.number, nullptr}, false)) {
            FreeBrushById(L, {made->header.id, made->header.handle}, false);
            return code;
        }
        made->header.id = target.number;
        made->header.handle = nullptr;
    }
    return PushNewObjectHandle(L, made->header);
}

bool HardwareBrushesAllowed() {
    return CompositingSupported(kCompositeHardwareBrush) != 0 && !ScreenFriendsVetoed();
}

// A hardware brush keeps its mask or alpha plane in the bitmap's alpha bytes: which planes it
// had is recorded, and each plane merged is freed.
void MergeHardwarePlanes(qvBrush* brush) {
    brush->mergedPlanes =
        (brush->mask != nullptr ? kMergedMask : 0) | (brush->alpha != nullptr ? kMergedAlpha : 0);
    int maskMerged = 0, alphaMerged = 0;
    MergeAlphaIntoBitMap(brush->bitmap, brush->mask, brush->alpha, &maskMerged, &alphaMerged);
    if (maskMerged != 0) Replace(&brush->mask, nullptr, FreePlaneBitMap);
    if (alphaMerged != 0) Replace(&brush->alpha, nullptr, FreePlaneBitMap);
    if (maskMerged != 0 || alphaMerged != 0) SetRuntimeOption(brush->bitmap, 26, 1);
}

}  // namespace qv

using namespace qv;

int CreateBrushBitmaps(qvObjectId id, int32_t width, int32_t height, uint32_t colour, bool wantMask,
                       bool wantAlpha, bool clear, bool noFill, qvBrush** out) {
    gfx::NewPicture planes;
    planes.bitmap.reset(AllocDisplayBitMap(width, height));
    if (!planes.bitmap) return ERR_MEM;
    if (wantMask) {
        planes.mask.reset(AllocMaskBitMap(planes.bitmap.get(), width, height, 1));
        if (!planes.mask) return ERR_MEM;
        if (!clear) FillMaskRect(planes.mask.get(), 0, 0, width, height, 0);
    }
    if (wantAlpha) {
        planes.alpha.reset(AllocAlphaBitMap(width, height, 1));
        if (!planes.alpha) return ERR_MEM;
        if (!clear) FillPlane8Rect(planes.alpha.get(), 0, 0, width, height, 255);
    }
    NewRecord record = MakeRecord(id);
    if (!record) return ERR_MEM;
    if (!noFill) RectFill(planes.bitmap.get(), 0, 0, width, height, colour);
    record->width = width, record->height = height, record->rowLength = width;
    record->transparentColour = wantMask ? kMaskWithoutKey : kNoTransparency;
    qvBrush* brush = Adopt(std::move(record), &planes);
    if (out != nullptr) *out = brush;
    return 0;
}

int AddBrush(qvObjectId id, int32_t type, int32_t width, int32_t height, int32_t rowLength,
             int32_t transformedVector, qvImageHandle* imageSource, qvDisplayBitMap* bitmap,
             uint32_t transparentColour, qvPlaneBitMap* mask, qvPlaneBitMap* alpha, qvBrush** out) {
    NewRecord record = MakeRecord(id);
    if (!record) return ERR_MEM;
    qvBrush* brush = record.release();
    brush->imageSource = imageSource;
    brush->bitmap = bitmap, brush->mask = mask, brush->alpha = alpha;
    brush->width = width, brush->height = height, brush->rowLength = rowLength;
    brush->transformedVector = transformedVector;
    brush->type = type;
    brush->transparentColour = transparentColour;
    AppendObject(BrushList(), &brush->header);
    if (out != nullptr) *out = brush;
    return 0;
}

int CopyBrushEx(qvVmState* L, const qvBrush* source, qvObjectId id, bool hardware, qvBrush** out) {
    const bool hardwareCopy = hardware && HardwareBrushesAllowed();
    gfx::NewPicture planes;
    if (hardwareCopy && source->hardware != 0) planes.bitmap.reset(CopyHardwareBitmap(source));
    if (!planes.bitmap) {
        qvDisplayBitMap* bitmap = nullptr;
        qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
        if (const int code =
                CopyBitmapArea(source->bitmap, source->mask, source->alpha, 0, 0, source->width,
                               source->height, hardwareCopy, &bitmap, &mask, &alpha)) {
            return code;
        }
        planes.bitmap.reset(bitmap), planes.mask.reset(mask), planes.alpha.reset(alpha);
    }
    qvObjectDataEntry* data = nullptr;
    if (CopyObjectDataList(L, source->header.data, &data) != 0) return ERR_MEM;
    NewRecord record = MakeRecord(id);
    if (!record) {
        FreeRefList(L, data);
        return ERR_MEM;
    }
    record->header.data = data;
    record->type = source->type;
    record->width = source->width, record->height = source->height;
    record->rowLength = source->width;
    record->transformedVector = source->transformedVector;
    record->transparentColour = source->transparentColour;
    record->imageSource = source->imageSource;
    if (record->imageSource != nullptr) AddImageHandleRef(record->imageSource);
    qvBrush* copy = Adopt(std::move(record), &planes);
    if (hardwareCopy) {
        copy->hardware = 1;
        if (source->hardware != 0) {
            copy->mergedPlanes = source->mergedPlanes;
        } else {
            if (copy->type == kVectorBrush) {
                ReleaseSource(copy);
                copy->type = kBitmapBrush;
            }
            MergeHardwarePlanes(copy);
        }
    }
    if (out != nullptr) *out = copy;
    return 0;
}

int GetBrush(qvVmState* L, qvObjectId id, qvBrush** out, int flags) {
    *out = nullptr;
    qvBrush* brush = FindBrush(id, (flags & QV_BRUSH_ORPHANS) != 0);
    if (brush == nullptr) return ObjectNotFound(id, ERR_FINDBRUSH);
    if ((flags & QV_BRUSH_NOVECTOR) != 0 && brush->type == kVectorBrush) return ERR_BRUSHTYPE;
    if ((flags & QV_BRUSH_HARDWARE) == 0 && brush->hardware != 0) return ERR_HWBRUSH;
    if ((flags & QV_BRUSH_MODIFY) != 0) {
        if (brush->lockCount != 0) return ERR_LOCKEDOBJ;
        if ((flags & QV_BRUSH_NODETACH) == 0) {
            if (const int code = gfx::Neighbour().DetachObjectFromLayers(L, id, brush)) return code;
        }
    }
    *out = brush;
    return 0;
}

bool IsActiveOutputBrush(qvObjectId id) {
    uint32_t type = 0;
    qvObjectId output{};
    return objects::Scene().RedirectedOutput(&type, &output) && type == uint32_t(kTypeBrush) &&
           output.number == id.number && output.handle == id.handle;
}

int GetBrushToModify(qvVmState* L, qvObjectId id, qvBrush** out, int flags) {
    *out = nullptr;
    if (IsActiveOutputBrush(id)) return ERR_MODIFYABR;
    return GetBrush(L, id, out, flags | QV_BRUSH_MODIFY);
}

int FreeBrushById(qvVmState* L, qvObjectId id, bool missingIsError) {
    if (IsActiveOutputBrush(id)) return ERR_MODIFYABR;
    qvBrush* brush = FindBrush(id, false);
    if (brush == nullptr) {
        const int code = ObjectNotFound(id, ERR_FINDBRUSH);
        return missingIsError ? code : 0;
    }
    if (brush->lockCount != 0) return ERR_LOCKEDOBJ;
    if (gfx::Neighbour().ObjectInUseByLayers(kTypeBrush, brush)) {
        // The layers were rebound to the record itself; the script's id is free.
        brush->header.id = 0;
        brush->header.handle = brush;
        brush->orphan = 1;
        return 0;
    }
    UnlinkObject(BrushList(), &brush->header);
    Destroy(L, brush);
    return 0;
}

void FreeBrushContents(qvVmState* L, qvBrush* brush) {
    ReleaseSource(brush);
    Replace(&brush->bitmap, nullptr, FreeDisplayBitMap);
    Replace(&brush->mask, nullptr, FreePlaneBitMap);
    Replace(&brush->alpha, nullptr, FreePlaneBitMap);
    FreeRefList(L, brush->header.data);
    brush->header.data = nullptr;
}

void FreeAllBrushes(qvVmState* L) {
    DrainList(BrushList(), [L](qvObjectHeader* h) { Destroy(L, AsBrush(h)); });
}

void FreeOrphanBrushes(qvVmState* L) {
    ReleaseFromList(
        BrushList(),
        [](qvObjectHeader* h) {
            qvBrush* brush = AsBrush(h);
            return brush->orphan != 0 && !gfx::Neighbour().ObjectInUseByLayers(kTypeBrush, brush);
        },
        [L](qvObjectHeader* h) { Destroy(L, AsBrush(h)); });
}

int CloneBrushForLayers(qvVmState* L, const qvBrush* brush, qvObjectId* copy) {
    qvBrush* made = nullptr;
    if (const int code = CopyBrushEx(L, brush, AutomaticBrushId(), false, &made)) return code;
    made->orphan = 1;
    *copy = {0, made};
    return 0;
}

int RebuildBrushes(qvVmState*, bool noHardware) {
    for (qvObjectHeader* h = *BrushList(); h != nullptr; h = h->next) {
        qvBrush* brush = AsBrush(h);
        if (brush->imageSource == nullptr) continue;
        Conversion done;
        if (const int code = Convert(brush, noHardware, &done)) return code;
        Commit(brush, &done);
    }
    return 0;
}

int GetBrushInfo(qvObjectId id, qvDisplayBitMap** bitmap, qvPlaneBitMap** mask,
                 qvPlaneBitMap** alpha) {
    const qvBrush* brush = FindBrush(id, false);
    if (brush == nullptr) {
        if (id.handle == nullptr) SetErrorNumber(id.number);
        return 0;
    }
    if (brush->hardware != 0 || brush->type == kVectorBrush) return 0;
    *bitmap = brush->bitmap, *mask = brush->mask, *alpha = brush->alpha;
    return 1;
}

qvImageHandle* VectorBrushSource(qvObjectId id, bool* transformed) {
    const qvBrush* brush = FindBrush(id, false);
    if (brush == nullptr || brush->type != kVectorBrush) return nullptr;
    *transformed = brush->transformedVector != 0;
    return brush->imageSource;
}

int CropPixelArray(const uint32_t* pixels, int32_t rowLength, const qvPlaneBitMap* alpha, int32_t x,
                   int32_t y, int32_t width, int32_t height, uint32_t** outPixels,
                   qvPlaneBitMap** outAlpha) {
    *outPixels = nullptr, *outAlpha = nullptr;
    const size_t rowBytes = size_t(width) * sizeof(uint32_t);
    OwnedPixels cut(static_cast<uint32_t*>(AllocMemBlock(rowBytes * size_t(height), 0)));
    if (!cut) return ERR_MEM;
    OwnedPlane plane;
    if (alpha != nullptr) {
        plane.reset(AllocAlphaBitMap(width, height, 0));
        if (!plane) return ERR_MEM;
        CopyPlane8Rect(alpha, x, y, plane.get(), 0, 0, width, height, 0, 0);
    }
    for (int32_t row = 0; row < height; ++row) {
        std::memcpy(cut.get() + size_t(row) * size_t(width),
                    pixels + size_t(y + row) * size_t(rowLength) + size_t(x), rowBytes);
    }
    *outPixels = cut.release(), *outAlpha = plane.release();
    return 0;
}

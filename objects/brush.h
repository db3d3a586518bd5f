// Brushes (object type 3): free-standing pictures in the display's format with an optional
// 1-bit mask or 8-bit alpha plane, found by the script's id. This is the brush record, the
// list, the makers every library uses, the lookup with its flags, freeing, the orphans that
// layers still show after the script freed them, and the copy-on-write that keeps those
// layers' pixels while the script changes a brush.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "runtime/arguments.h"
#include "runtime/image_handles.h"
#include "runtime/objects.h"

struct qvBrush {
    qvObjectHeader header;       // type 3, id pair, data list, next
    qvImageHandle* imageSource;  // the picture the brush was loaded from (a vector brush's
                                 // vector source), counted; or none
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;   // 1-bit, or none
    qvPlaneBitMap* alpha;  // 8-bit, or none
    int32_t width;
    int32_t height;
    int32_t rowLength;           // pixels per row of the image source's pixels
    int32_t lockCount;           // raised while a transition effect or an object movement uses it
    int32_t orphan;              // freed by the script, still shown by layers
    uint32_t transparentColour;  // kNoTransparency, kMaskWithoutKey, or the keyed 0xRRGGBB
    int32_t transformedVector;   // a vector brush scaled, rotated or transformed in place
    int32_t type;                // kBitmapBrush or kVectorBrush
    int32_t cropX, cropY, cropWidth, cropHeight;  // the part of the image source shown
    int32_t hardware;       // the bitmap is a compositing bitmap with the planes merged in
    uint32_t mergedPlanes;  // of a hardware brush: kMergedMask, kMergedAlpha
};

inline constexpr uint32_t kNoTransparency = 0xFFFFFFFF;
inline constexpr uint32_t kMaskWithoutKey = 0xAFC0DE;

// The colour a transparent colour word keys out: kNoTransparency for none, also for a mask
// that came from elsewhere than a key (kMaskWithoutKey only marks such a mask, which must not
// be keyed again nor shown to a script as a colour).
constexpr uint32_t ColourKeyOf(uint32_t transparentColour) {
    return transparentColour == kMaskWithoutKey ? kNoTransparency : transparentColour;
}

enum : int32_t { kBitmapBrush = 0, kVectorBrush = 1 };
inline constexpr uint32_t kMergedMask = 1, kMergedAlpha = 2;

// Flags of GetBrush.
enum : int {
    QV_BRUSH_MODIFY = 1,     // refuse a locked brush and give the layers showing it their copy
    QV_BRUSH_ORPHANS = 2,    // orphans match too
    QV_BRUSH_NODETACH = 4,   // with QV_BRUSH_MODIFY: no copy for the layers
    QV_BRUSH_NOVECTOR = 8,   // a vector brush is ERR_BRUSHTYPE
    QV_BRUSH_HARDWARE = 16,  // a hardware brush is accepted (else ERR_HWBRUSH)
};

namespace qv {

// The id pair that asks a maker for an automatic id: the new record's address becomes its
// handle. A pair with no handle is the script's number.
qvObjectId AutomaticBrushId();

// The head of the brush list, in creation order (RegisterObjectList takes it).
qvObjectHeader** BrushList();

// The id argument of a command that makes a brush (GetNewObjectIdArg reads it).
using NewBrushId = qvNewObjectId;
// Whether the brush of a numeric id may be replaced (checked before anything is made):
// ERR_MODIFYABR for the current output brush, ERR_LOCKEDOBJ for a locked one, else 0.
int CheckBrushReplaceable(const NewBrushId& target);
// Gives a brush just made under an automatic id the command's id; a numeric id's old brush
// goes (or becomes the orphan its layers show) only now that the new one is complete.
// Results: the handle of an automatic id (1), else none (0); or the error of freeing the old
// brush, with the new one freed.
int PublishNewBrush(qvVmState* L, const NewBrushId& target, qvBrush* made);

// Whether a hardware brush can be made: the back end composites and does not veto
// screen-friend bitmaps.
bool HardwareBrushesAllowed();
// Makes a brush whose bitmap is a compositing bitmap a hardware brush: its mask or alpha
// plane is merged into the bitmap's alpha bytes and freed, and which planes it had is kept.
void MergeHardwarePlanes(qvBrush* brush);

}  // namespace qv

// A new brush of width x height filled with the colour 0xRRGGBB (unless noFill), with a mask
// (all visible, or with clear all invisible) and an alpha plane (255, or with clear 0) when
// asked. 0 with the record in *out (when given), or ERR_MEM with nothing made.
int CreateBrushBitmaps(qvObjectId id, int32_t width, int32_t height, uint32_t colour, bool wantMask,
                       bool wantAlpha, bool clear, bool noFill, qvBrush** out = nullptr);
// A new brush around existing planes and an image source reference; they become the brush's
// only when this succeeds (on ERR_MEM they stay the caller's). 0 or ERR_MEM.
int AddBrush(qvObjectId id, int32_t type, int32_t width, int32_t height, int32_t rowLength,
             int32_t transformedVector, qvImageHandle* imageSource, qvDisplayBitMap* bitmap,
             uint32_t transparentColour, qvPlaneBitMap* mask, qvPlaneBitMap* alpha, qvBrush** out);
// A copy of source with its data list under the id; a hardware copy when asked and the back
// end can hold one (its planes merged into the bitmap). 0, or ERR_MEM with nothing made.
int CopyBrushEx(qvVmState* L, const qvBrush* source, qvObjectId id, bool hardware,
                qvBrush** out = nullptr);
// The brush with the id pair: 0 with *out, or ERR_FINDBRUSH (the number as message argument),
// ERR_FINDARRAY (a handle), ERR_BRUSHTYPE, ERR_HWBRUSH, ERR_LOCKEDOBJ, or the error of giving
// the layers that show it their copy, with *out none.
int GetBrush(qvVmState* L, qvObjectId id, qvBrush** out, int flags);
// The lookup of every command that changes a brush's pixels or size: ERR_MODIFYABR when the
// brush is the current output, then GetBrush with QV_BRUSH_MODIFY added.
int GetBrushToModify(qvVmState* L, qvObjectId id, qvBrush** out, int flags);
// Whether drawing on the current display goes into this brush's pixels, mask or alpha.
bool IsActiveOutputBrush(qvObjectId id);
// Frees the brush, or orphans it while layers show it (its id is free at once). A missing
// brush is ERR_FINDBRUSH/ERR_FINDARRAY with missingIsError, else 0; also ERR_MODIFYABR and
// ERR_LOCKEDOBJ.
int FreeBrushById(qvVmState* L, qvObjectId id, bool missingIsError);
// Releases the image source, the planes and the data list (not the record).
void FreeBrushContents(qvVmState* L, qvBrush* brush);
// Shutdown: every brush, orphans included.
void FreeAllBrushes(qvVmState* L);
// Frees the orphans that no layer shows any more.
void FreeOrphanBrushes(qvVmState* L);
// The copy-on-write callback of the layers: a plain copy of the brush under an automatic id,
// marked orphan, whose pair goes to *copy. 0 or ERR_MEM.
int CloneBrushForLayers(qvVmState* L, const qvBrush* brush, qvObjectId* copy);
// Converts the preloaded brushes (pixels of their image sources) into display bitmaps when
// the first display opens; the first error ends the walk. A brush that fails stays as it was.
int RebuildBrushes(qvVmState* L, bool noHardware);
// 1 with the planes of a plain brush, 0 for a missing, hardware or vector brush (a missing
// numeric id is stored as the message argument). Never raises.
int GetBrushInfo(qvObjectId id, qvDisplayBitMap** bitmap, qvPlaneBitMap** mask,
                 qvPlaneBitMap** alpha);
// The image source a vector brush renders from and whether it was scaled or transformed
// since; none for a missing or bitmap brush.
qvImageHandle* VectorBrushSource(qvObjectId id, bool* transformed);
// New copies of the width x height rectangle at (x, y) of an ARGB array (rows rowLength
// pixels) and of its alpha plane (none: none); the pixels are a block (FreeMemBlock). The
// rectangle must lie inside both. 0 or ERR_MEM with nothing made.
int CropPixelArray(const uint32_t* pixels, int32_t rowLength, const qvPlaneBitMap* alpha, int32_t x,
                   int32_t y, int32_t width, int32_t height, uint32_t** outPixels,
                   qvPlaneBitMap** outAlpha);

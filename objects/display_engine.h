// The object display engine: the one routine that puts a picture object on the current output
// (a brush, a part of a brush, an animation frame, a part of a background picture) and its
// scaling and rotating stage, which the brush transform commands share. It resolves positions,
// clips the source rectangle and applies the drawing tags; then it hands the object to the
// layer list (layers on) and draws it straight into the output bitmap through SafeBlt.
//
// The common case, an untransformed and unstyled object, costs one lookup and one clipped
// blit and copies nothing; private copies are made only for transforms, filters, transparency
// and snapshots, and freed on every path.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/library/neighbours.h"
#include "gfx/scale.h"
#include "objects/draw_tags.h"
#include "runtime/image_handles.h"

struct qvBGPic;

// Flags of DisplayBrushEx.
enum : int {
    QV_SHOW_NODIRECT = 1,   // never draw directly
    QV_SHOW_FROMSHOW = 2,   // added to what the layer list is given: the engine inserts
    QV_SHOW_LAYERONLY = 4,  // the layer list refreshes the display, even for a plain object
    QV_SHOW_REINSERT = 8,   // a layer inserted again: orphans found, nothing drawn directly
    QV_SHOW_RERENDER = 16,  // make the picture of an existing layer again
};

// What one call shows, and how.
struct qvDisplayBrushArgs {
    void* layer;             // with QV_SHOW_RERENDER: the layer whose picture is made again
    int32_t insertPosition;  // with QV_SHOW_REINSERT: where the layer goes
    qvBGPic* target;         // the picture a new layer goes to; none: the current output
    int32_t kind;            // BRUSH, BRUSHPART, ANIM (one frame) or BGPICPART
    qvObjectId id;           // for BGPICPART, the number -1 is the picture the display shows
    int32_t frame;           // of an animation, from 0
    int32_t srcX, srcY;      // the part shown (position constants allowed)
    int32_t x, y;            // where it goes (position constants allowed)
    int32_t width, height;   // of the part; brushes and frames: the whole object
    int32_t wholePicture;    // a picture part as shown, layers included (a snapshot)
    int tagArgIndex;         // the script's tag table, 0 for none
    const qvDrawTransform* transform;  // ready blocks, or none: the tags or the defaults
    const qvDrawStyle* style;
    // Picture parts for the transitions: the part's bitmap instead of drawing (none with
    // layers on), *outOwned 1 when it is a private copy that the caller frees.
    qvDisplayBitMap** outBitmap;
    int* outOwned;
    int flags;  // QV_SHOW_*
};

// Shows the object; 0 or an error code, with nothing drawn, added or left allocated on
// failure.
int DisplayBrushEx(qvVmState* L, const qvDisplayBrushArgs& args);
// The brush with its tags at tagArgIndex as a new layer at (x, y) (CreateLayer).
int DisplayBrushAsLayer(qvVmState* L, qvObjectId id, int32_t x, int32_t y, int tagArgIndex);

// Modes of TransformBrushBitmaps.
enum : int {
    QV_TRANSFORM_BITMAPS = 0,  // scale or transform the planes
    QV_TRANSFORM_VECTOR = 1,   // render a vector brush's source again under the matrix
    QV_TRANSFORM_SIZE = 2,     // only the size and position
};

// The planes of the part of a picture that a transformation starts from.
struct qvTransformSource {
    const qvImageHandle* vectorSource;  // mode QV_TRANSFORM_VECTOR
    qv::gfx::PictureView picture;       // the planes and the size of the whole object
    int32_t srcX, srcY;                 // the part
    int32_t x, y;                       // where the part would go untransformed
    int32_t width, height;
};

// A transformation's result: new planes (none in mode QV_TRANSFORM_SIZE), the top-left of
// the transformed part about the anchor and its size.
struct qvTransformedPicture {
    qv::gfx::NewPicture planes;
    int32_t x, y, width, height;
};

// Transforms the part by the matrix {a, b, c, d} about the anchor (fractions of its size):
// the identity copies it, a non-negative scale scales it (the smooth flag interpolates),
// anything else transforms it. 0, or the error of the operation (ERR_MEM for a side beyond the
// largest bitmap, ERR_TFIMAGE for a vector source its loader cannot render).
int TransformBrushBitmaps(qvVmState* L, int mode, const qvTransformSource& source, double anchorX,
                          double anchorY, const double matrix[4], int smooth,
                          qvTransformedPicture* out);

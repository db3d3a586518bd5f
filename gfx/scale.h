// Bitmap scaling: the one scaler of the system. ScaleBitmap offers the job to the
// compositor and otherwise runs the software kernel ScalePixels, nearest neighbour or
// bilinear; the bilinear index maps are cached in the graphics state between calls.
#pragma once

#include <cstdint>

#include "engine/error_codes.h"
#include "gfx/kernels/rows.h"
#include "platform/linux/bitmap.h"

// The kernel's parameters; absent planes are none. Field order of the kernel interface.
struct qvScaleBlock {
    const uint8_t* source;       // the source rectangle's top-left pixel
    uint8_t* dest;               // the destination's top-left pixel
    const uint8_t* sourceMask;   // the rectangle's first row; sourceX is its bit offset
    uint8_t* destMask;           // the destination's first row, from bit 0
    const uint8_t* sourceAlpha;  // the rectangle's top-left byte
    uint8_t* destAlpha;
    int32_t sourceX, sourceY;
    int32_t sourceWidth, sourceHeight;
    int32_t destWidth, destHeight;
    int32_t sourceRowLength, destRowLength;  // pixels
    int32_t sourceMaskBytesPerRow, destMaskBytesPerRow;
    int32_t sourceAlphaBytesPerRow, destAlphaBytesPerRow;
    int32_t smooth;
    uint32_t format;  // of source and destination alike
    int32_t bytesPerPixel;
    // The bilinear index maps, destination size + 1 entries each (ScalePixels fills them).
    int32_t* xFractions;
    int32_t* yFractions;
    int32_t* xSteps;
    int32_t* ySteps;
    // Bilinear work space: three rows of destination width + 1 entries.
    uint32_t* rows;
};

// Scales the sourceWidth x sourceHeight rectangle at (x, y) of a picture triple to
// destWidth x destHeight: into dest (colour only) when one is given, else into new bitmaps
// handed out through the non-null out pointers. A destination side below 1 does nothing.
// The rectangle must lie inside the source bitmap and its planes, and a given destination
// must hold the scaled size in the source's format (ERR_COORDSRANGE, ERR_PIXELFORMAT).
// Returns 0, ERR_MEM, ERR_LOCKBMAP or ERR_BADDIMENSIONS (a source side below 1).
int ScaleBitmap(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                int32_t x, int32_t y, qvDisplayBitMap* dest, int32_t sourceWidth,
                int32_t sourceHeight, int32_t destWidth, int32_t destHeight, int smooth,
                qvDisplayBitMap** outBitmap, qvPlaneBitMap** outMask, qvPlaneBitMap** outAlpha);

// The software kernel. Without source pixels only the planes are scaled; the smoothing
// path needs the four maps and the rows and draws nothing without them.
void ScalePixels(const qvScaleBlock& block);

// Frees the cached index maps (shutdown).
void FreeScaleTables();

namespace qv::gfx {

// A picture triple made by an operation, owned until it is handed out.
struct NewPicture {
    OwnedBitMap bitmap;
    OwnedPlane mask;
    OwnedPlane alpha;

    // Hands each part out through its out pointer; a part whose pointer is null is freed.
    void HandOut(qvDisplayBitMap** outBitmap, qvPlaneBitMap** outMask, qvPlaneBitMap** outAlpha);
};

// Runs a picture kernel (ScalePixels, TransformPixels) whose planes are set: on the planes alone
// without both colour bitmaps, else over their locked pixels, the source's from (x, y) and the
// destination's from its top-left pixel. Returns 0 or ERR_LOCKBMAP.
template <typename Block>
int RunPictureKernel(void (*kernel)(const Block&), Block& k, qvDisplayBitMap* source,
                     qvDisplayBitMap* dest, int32_t x, int32_t y) {
    if (source == nullptr || dest == nullptr) {
        kernel(k);
        return 0;
    }
    ScopedBitMapLock sourceLock(source);
    ScopedBitMapLock destLock(dest);
    if (!sourceLock || !destLock) return ERR_LOCKBMAP;
    k.source = PixelAt(sourceLock->base, sourceLock->rowLength, sourceLock->bytesPerPixel, x, y);
    k.dest = destLock->base;
    k.sourceRowLength = sourceLock->rowLength, k.destRowLength = destLock->rowLength;
    k.format = sourceLock->format, k.bytesPerPixel = sourceLock->bytesPerPixel;
    kernel(k);
    return 0;
}

// Prepares a new screen-friend bitmap for the compositor to draw a picture with alpha
// into: its 32-bit pixels are cleared and it is marked as carrying alpha in its pixels
// (attribute 26). False when it cannot be locked.
bool ClearForCompositing(qvDisplayBitMap* bitmap);

// Whether the width x height rectangle at (x, y) lies inside the bitmap and the planes that
// are given (a plane record without memory holds nothing). Negative sizes lie nowhere.
bool RectInPicture(const qvDisplayBitMap* bitmap, const qvPlaneBitMap* mask,
                   const qvPlaneBitMap* alpha, int32_t x, int32_t y, int32_t width, int32_t height);

}  // namespace qv::gfx

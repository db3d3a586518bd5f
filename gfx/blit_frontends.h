// Blit, plane and fill front-ends: the per-pixel work beside and below SafeBlt that the
// platform blits cannot do. Each front-end locks the colour bitmaps it touches (sources
// first, released last), dispatches on bytes per pixel to a kernel of gfx/kernels and
// unlocks; a failed lock or allocation draws nothing.
//
// Every front-end first cuts its rectangle to the bitmaps and planes it is given (planes by
// the extent of their rows and their height), moving source and destination together, so
// that no call reaches outside them; calls inside all of them are unchanged.
#pragma once

#include <cstdint>

#include "gfx/blit_host.h"
#include "platform/linux/bitmap.h"

// Blends the source rectangle into the destination through the alpha bytes at (sx, sy) of
// the plane. A source in another format is converted first.
void BltAlphaBitmap(qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
                    int32_t dx, int32_t dy, int32_t width, int32_t height,
                    const qvPlaneBitMap* alpha);

// Paints the colour 0xRRGGBB (or the texture's pixels) into the destination with the
// coverage bytes at (sx, sy) as per-pixel alpha, in a coverage mode (QV_COVERAGE_*). The
// three mode values: the second plane's opacity (modes 2 and 3), the 16-bit coverage
// buffer of mode 3 and its row length in 16-bit units. The texture is read at the coverage
// position; one in another format than the destination is converted first.
void BltAlphaChannel(const qvPlaneBitMap* coverage, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
                     int32_t dx, int32_t dy, int32_t width, int32_t height, uint32_t colour,
                     int32_t mode, qvPlaneBitMap* second, uint32_t modeValue1,
                     const uint16_t* modeValue2, int32_t modeValue3, qvDisplayBitMap* texture);
// The same, first cut to the coverage size and the destination size given; a negative
// position on either side moves the other side along.
void BltAlphaChannelClipped(const qvPlaneBitMap* coverage, int32_t sx, int32_t sy,
                            qvDisplayBitMap* dest, int32_t dx, int32_t dy, int32_t width,
                            int32_t height, int32_t coverageWidth, int32_t coverageHeight,
                            int32_t destWidth, int32_t destHeight, uint32_t colour, int32_t mode,
                            qvPlaneBitMap* second, uint32_t modeValue1, const uint16_t* modeValue2,
                            int32_t modeValue3, qvDisplayBitMap* texture);

void FillPlane8Rect(qvPlaneBitMap* plane, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint8_t value);
// Plane bytes become the value where the mask bits are set; other bytes stay.
void ExpandMaskToPlane8Rect(const qvPlaneBitMap* mask, int32_t sx, int32_t sy, qvPlaneBitMap* plane,
                            int32_t dx, int32_t dy, int32_t width, int32_t height, uint8_t value);
// The same, but clear bits write 0.
void ExpandMaskToPlane8(const qvPlaneBitMap* mask, int32_t maskX, int32_t maskY,
                        qvPlaneBitMap* plane, int32_t planeX, int32_t planeY, int32_t width,
                        int32_t height, uint8_t value);
// Combines a rectangle of two 8-bit planes in a mode 0-8 (others copy).
void CopyPlane8Rect(const qvPlaneBitMap* source, int32_t sx, int32_t sy, qvPlaneBitMap* dest,
                    int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t mode,
                    uint8_t value);
void CopyPlane8RectClipped(const qvPlaneBitMap* source, int32_t sx, int32_t sy, qvPlaneBitMap* dest,
                           int32_t dx, int32_t dy, int32_t width, int32_t height,
                           int32_t sourceWidth, int32_t sourceHeight, int32_t destWidth,
                           int32_t destHeight, int32_t mode, uint8_t value);
// Whole rows: destination byte = source byte x value / 255, over the rows and row bytes
// both planes have. Source and destination may be one plane.
void CopyPlane8(const qvPlaneBitMap* source, qvPlaneBitMap* dest, int32_t height, uint8_t value);
// Mask bits from alpha bytes in a mask mode: 255 sets (modes 0, 2, 5), clears (1) or
// toggles (3) the bit; below 255 clears (0, 2) or sets (1) it; other cases leave it.
void AlphaToMaskRect(const qvPlaneBitMap* alpha, int32_t sx, int32_t sy, qvPlaneBitMap* mask,
                     int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t maskMode);
// Sets the bits of a polygon of count (x, y) pairs in the mask; 0 or ERR_MEM.
int FillMaskPolygon(qvPlaneBitMap* mask, const int32_t* vertices, int32_t count);
// New planes of the size holding the source's rows (the rest cleared); none on failure.
qvPlaneBitMap* DuplicateMaskBitmap(const qvPlaneBitMap* source, int32_t width, int32_t height);
qvPlaneBitMap* DuplicatePlane8Bitmap(const qvPlaneBitMap* source, int32_t width, int32_t height);

// Covers the rectangle with copies of the tile, the first row and column starting inside
// the tile at the offsets (reduced into the tile). A tile side below 1 draws nothing.
void TileFill(qvDisplayBitMap* dest, int32_t x, int32_t y, int32_t width, int32_t height,
              const qvDisplayBitMap* tile, int32_t tileX, int32_t tileY, int32_t tileWidth,
              int32_t tileHeight);
// The ARGB form: fills a whole width x height buffer from a tile whose rows hold
// tileRowLength pixels.
void TileFill(qvARGB* dest, int32_t width, int32_t height, const qvARGB* tile, int32_t tileX,
              int32_t tileY, int32_t tileWidth, int32_t tileHeight, int32_t tileRowLength);

// The requested side that means "keep the aspect ratio".
inline constexpr int32_t KEEPASPRAT = 100000;
// Resolves KEEPASPRAT in a requested size; 0, ERR_BADDIMENSIONS or ERR_WRONGUSAGE.
int ScaleKeepAspect(int32_t sourceWidth, int32_t sourceHeight, int32_t* width, int32_t* height);

// Flags of BltToDisplay.
enum : int {
    QV_REFRESH_AUTOSCALE = 1,   // draw the whole bitmap scaled when the display autoscales
    QV_REFRESH_UNDEFERRED = 6,  // either bit draws even while a video dump defers refreshes
    QV_REFRESH_WHOLE = 8,       // a whole-display refresh
};
// Copies a rectangle of a bitmap into the display's window, where the picture starts in it
// (after the letterbox strips): scaled whole to the autoscale size with QV_REFRESH_AUTOSCALE
// when the display autoscales to another size, else unscaled.
void BltToDisplay(const qvDisplayBitMap* bitmap, int32_t sx, int32_t sy, qvDisplay* display,
                  int32_t dx, int32_t dy, int32_t width, int32_t height, int flags);
// Redraws the whole visible area of a display.
void RefreshDisplay(qvVmState* L, qvDisplay* display, int flags);
// RefreshDisplay after the source, at the shown picture's size, is copied into the display
// bitmap: where the window shows that bitmap as it is, both copies are made in one pass and
// true is returned; else nothing is done and false is returned.
bool RefreshDisplayFrom(qvDisplay* display, const qvDisplayBitMap* source);
// Waits for the vertical blank of the current display.
void WaitVBlank(qvVmState* L);

// The roll and wallpaper transitions: each source line j of lineCount (a row for a
// vertical roll, a column for a horizontal one) is copied to destination line
// position + j + trunc(lineOffsets[j] / (2 pi / period)) when that lies inside the
// destination, carrying the source mask or alpha plane into the destination's.
struct qvRollBlock {
    qvDisplayBitMap* source;
    const qvPlaneBitMap* sourceMask;
    const qvPlaneBitMap* sourceAlpha;
    qvDisplayBitMap* dest;
    qvPlaneBitMap* destMask;
    qvPlaneBitMap* destAlpha;
    int32_t horizontal;
    int32_t lineCount;
    const double* lineOffsets;
    double period;
    int32_t position;
    // Results: lines drawn, the first destination line drawn (-100000 when none) and the
    // destination line after the last source line, displacement left out.
    int32_t linesDrawn;
    int32_t firstLine;
    int32_t endPosition;
};
// Returns the number of lines drawn.
int32_t RollCopyLines(qvRollBlock* block);

namespace qv::gfx {

// SafeBlt's alpha-combined copy: the source pixels whose alpha byte (read at the source
// position) is non-zero.
void CopyWhereAlpha(qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
                    int32_t dx, int32_t dy, int32_t width, int32_t height,
                    const qvPlaneBitMap* alpha);

}  // namespace qv::gfx

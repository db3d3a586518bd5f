// Bitmaps of the platform layer: display bitmaps in the screen's pixel format, 1-bit masks
// and 8-bit alpha planes, their locks and attributes, and the software blits over them.
//
// This platform always renders in software: bitmaps are plain pixel buffers and the blits
// run the kernels of gfx/kernels. Sizes are 0 to 32768 per side; allocation failure gives
// none (callers report ERR_MEM). Operations that take rectangles cut them to every bitmap
// involved, moving source and destination together.
//
// Where an operation reads either a colour bitmap or a mask depending on a flag, the flag is
// the choice of overload here (ReadBitMapPixel, PlotPixel, QueryBitMapAttr).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "gfx/pixel_format.h"

struct qvDisplayBitMap {
    int32_t width;
    int32_t height;
    int32_t rowLength;  // pixels per row; never assume it equals the width
    uint32_t format;    // qvPixelFormat
    int32_t bytesPerPixel;
    bool screenFriend;   // attribute 25
    bool alphaInPixels;  // attribute 26: 32-bit pixels carry the picture's alpha
    uint8_t* pixels;
    int32_t lockCount;
};

// Planes owned by their record are freed with it; wrapped ones carry this owner mark.
inline constexpr uint8_t kPlaneWrapped = 255;

struct qvPlaneBitMap {
    int32_t width;
    int32_t height;
    int32_t bytesPerRow;  // read it from here: test builds pad rows
    uint8_t depth;        // 1 (mask) or 8 (alpha plane)
    uint8_t owner;        // 0, or kPlaneWrapped for a caller's buffer
    uint8_t* plane;
};

struct qvBitMapLock {
    uint8_t* base;
    qvDisplayBitMap* handle;
    uint32_t format;
    int32_t bytesPerPixel;
    int32_t rowLength;
    int32_t width;
    int32_t height;
};

// Allocation. AllocDisplayBitMapAlt marks the bitmap screen-friend (attribute 25).
qvDisplayBitMap* AllocDisplayBitMap(int32_t width, int32_t height);
qvDisplayBitMap* AllocDisplayBitMapAlt(int32_t width, int32_t height);
// A mask with ((width + 15) >> 3) & ~1 bytes per row, taken from the friend's width when a
// friend is given but never fewer than the width needs.
qvPlaneBitMap* AllocMaskBitMap(const qvDisplayBitMap* friendBitMap, int32_t width, int32_t height,
                               int clear);
// An 8-bit plane with the width rounded up to 4 bytes per row.
qvPlaneBitMap* AllocAlphaBitMap(int32_t width, int32_t height, int clear);
void FreeDisplayBitMap(qvDisplayBitMap* bitmap);
void FreePlaneBitMap(qvPlaneBitMap* plane);
void FreePlaneBitMap2(qvPlaneBitMap* plane);

// Records around a caller's buffer; freeing the record leaves the buffer alone.
qvPlaneBitMap* WrapChunkyBuffer(uint8_t* buffer, int32_t bytesPerRow);
qvPlaneBitMap* WrapChunkyBufferEx(uint8_t* buffer, int32_t width, int32_t height,
                                  int32_t bytesPerRow);
// Point an existing record at a caller's buffer (a plane the record owned is freed first).
void WrapMaskPlane(qvPlaneBitMap* record, uint8_t* buffer, int32_t bytesPerRow);
void WrapAlphaPlane(qvPlaneBitMap* record, uint8_t* buffer, int32_t bytesPerRow);
// The one shared temporary header: a 1-bit plane as wide as the source's rows (or the
// width without a source), then reused as an 8-bit plane.
qvPlaneBitMap* SetupTempMaskBitMap(uint8_t* buffer, const qvDisplayBitMap* source, int32_t width,
                                   int32_t height);
qvPlaneBitMap* SetTempMaskPlane(uint8_t* buffer, int32_t bytesPerRow);

// Locks: non-zero on success. A missing bitmap or an unknown format fails.
int LockBitMapRecord(qvDisplayBitMap* bitmap, qvBitMapLock* lock);
void UnlockBitMapRecord(qvBitMapLock* lock);

// Attributes: 0 width, 1/2 bytes per row, 3/4 plane address (a display bitmap's row
// length), 11 bytes per row of a mask as wide as the rows, 12/13 default pointer size,
// 14/15 screen size, 16 frame limit, 18 height, 20 screen open, 21 bits per pixel (15 for
// the 5-5-5 formats), 23 the address of the screen's usable area {x, y, width, height} (a
// qv::ScreenArea, valid until the next query), 25 screen friend, 26 alpha in pixels. Pointer-sized,
// so that plane addresses fit. Record attributes of a null record are 0.
uintptr_t QueryBitMapAttr(const qvDisplayBitMap* bitmap, int id);
uintptr_t QueryBitMapAttr(const qvPlaneBitMap* plane, int id);
uintptr_t QueryBitMapAttr(std::nullptr_t screen, int id);
// 8 Ctrl-C quits (default on), 9 a held left mouse button quits, 10 Escape quits (both
// default off), 16 sets the frame limit; 26 sets a display bitmap's attribute 26.
void SetRuntimeOption(qvDisplayBitMap* bitmap, int id, uintptr_t value);

// Pixel I/O. ReadBitMapARGB returns a width x height block (FreeMemBlock) whose pixels
// outside the bitmap are 0; alpha comes from the pixels on 4-byte bitmaps with attribute 26,
// else it is 0xFF.
qvARGB* ReadBitMapARGB(const qvDisplayBitMap* bitmap, int32_t width, int32_t height);
uint32_t ReadBitMapPixel(const qvDisplayBitMap* bitmap, int32_t x, int32_t y);  // 0xRRGGBB
uint32_t ReadBitMapPixel(const qvPlaneBitMap* mask, int32_t x, int32_t y);      // 0 or 1
void PlotPixel(qvDisplayBitMap* bitmap, int32_t x, int32_t y, uint32_t rgb);
void PlotPixel(qvPlaneBitMap* mask, int32_t x, int32_t y, int maskMode);
// Writes the mask (as 0/255), else the alpha plane, else 255 into the alpha bytes of a
// 32-bit screen-friend bitmap; the flags tell which plane was merged.
void MergeAlphaIntoBitMap(qvDisplayBitMap* bitmap, const qvPlaneBitMap* mask,
                          const qvPlaneBitMap* alpha, int* maskMerged, int* alphaMerged);
void CopyWholeBitMap(const qvDisplayBitMap* source, qvDisplayBitMap* dest, int32_t width,
                     int32_t height);
void DrawBitMapLine(qvDisplayBitMap* bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    uint32_t rgb);

// Blits; formats that differ are converted through the kernels.
void BltBitMap(const qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
               int32_t dx, int32_t dy, int32_t width, int32_t height);
// BltBitMap of the source's rectangle at 0,0 into first at 0,0, then of that rectangle of
// first into second at dx,dy: in one pass over the source where the three bitmaps share a
// format and the rectangle lies whole inside each.
void BltBitMapTwice(const qvDisplayBitMap* source, qvDisplayBitMap* first, qvDisplayBitMap* second,
                    int32_t dx, int32_t dy, int32_t width, int32_t height);
// Copies where the mask, read at the source position, has bits.
void BltMask(const qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
             int32_t dx, int32_t dy, int32_t width, int32_t height, const qvPlaneBitMap* mask);
void BltTemplate(const qvPlaneBitMap* templatePlane, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
                 int32_t dx, int32_t dy, int32_t width, int32_t height, uint32_t rgb);
void RectFill(qvDisplayBitMap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
              uint32_t rgb);
// Modes: 0 or, 1 clear where the source is set, 2 exact copy, 3 xor, 4 and, 5 or.
void CombineMaskRect(const qvPlaneBitMap* source, int32_t sx, int32_t sy, qvPlaneBitMap* dest,
                     int32_t dx, int32_t dy, int32_t width, int32_t height, int mode);
// Modes 0, 2, 5 set, 3 inverts, 4 leaves, others clear.
void FillMaskRect(qvPlaneBitMap* mask, int32_t x, int32_t y, int32_t width, int32_t height,
                  int mode);

// Compositing: none in software rendering (a test hook may grant capabilities).
uint32_t CompositingSupported(uint32_t flags);
void NoOpComposite();
int CompositeScaleBlit(const qvDisplayBitMap* source, qvDisplayBitMap* dest, int32_t sourceWidth,
                       int32_t sourceHeight, int32_t destWidth, int32_t destHeight, int flags,
                       int smooth);
int CompositeTransformBlit(const qvDisplayBitMap* source, qvDisplayBitMap* dest, int32_t width,
                           int32_t height, const double matrix[4], int smooth);

namespace qv {

// The largest side of any bitmap or plane.
inline constexpr int32_t kMaxBitMapSide = 32768;

// Compositing capabilities.
enum : uint32_t {
    kCompositeAlphaChannel = 1,
    kCompositeScale = 4,
    kCompositeHardwareBrush = 8,
    kCompositeTransform = 16,
};

// Copies of a whole bitmap or plane, row padding included, in its format and layout (a
// screen friend when asked); none on failure. Every byte is copied, so nothing is cleared
// first.
qvDisplayBitMap* DuplicateBitMap(const qvDisplayBitMap* source, bool screenFriend);
qvPlaneBitMap* DuplicatePlane(const qvPlaneBitMap* source);

// The back end's veto on screen-friend bitmaps (a display setting): while it holds, no
// hardware brush and no hardware back buffer is made. Clear at start.
bool ScreenFriendsVetoed();
void SetScreenFriendVeto(bool veto);

// A bitmap in a given format (AllocDisplayBitMap uses the screen's); none on failure. Its
// pixels start black, unless overwritten says that the caller writes all of them at once:
// then only the rows' padding is cleared (test builds poison them all the same).
qvDisplayBitMap* AllocBitMapInFormat(int32_t width, int32_t height, uint32_t format,
                                     bool screenFriend, bool overwritten = false);

// The pixels a plane's memory covers per row: bits of a mask, bytes of an 8-bit plane.
// Operations on planes clip against this extent and the plane's height.
inline int64_t PlaneExtentX(const qvPlaneBitMap* plane) {
    return int64_t(plane->bytesPerRow) * (plane->depth == 1 ? 8 : 1);
}

inline bool PlaneUsable(const qvPlaneBitMap* plane) {
    return plane != nullptr && plane->plane != nullptr;
}

// Owners of bitmaps and planes that an operation hands out only when it succeeds.
struct BitMapFree {
    void operator()(qvDisplayBitMap* bitmap) const { FreeDisplayBitMap(bitmap); }
    void operator()(qvPlaneBitMap* plane) const { FreePlaneBitMap(plane); }
};
using OwnedBitMap = std::unique_ptr<qvDisplayBitMap, BitMapFree>;
using OwnedPlane = std::unique_ptr<qvPlaneBitMap, BitMapFree>;

// Holds a lock for one scope.
class ScopedBitMapLock {
public:
    explicit ScopedBitMapLock(qvDisplayBitMap* bitmap) : ok_(LockBitMapRecord(bitmap, &lock_)) {}
    ~ScopedBitMapLock() {
        if (ok_) UnlockBitMapRecord(&lock_);
    }
    ScopedBitMapLock(const ScopedBitMapLock&) = delete;
    ScopedBitMapLock& operator=(const ScopedBitMapLock&) = delete;

    explicit operator bool() const { return ok_ != 0; }
    const qvBitMapLock& operator*() const { return lock_; }
    const qvBitMapLock* operator->() const { return &lock_; }

private:
    qvBitMapLock lock_{};
    int ok_;
};

}  // namespace qv

// The compositor: repaints a rectangle of a background picture from scratch into a
// destination bitmap (normally the display's composition bitmap): the picture's background,
// every visible layer from the bottom up through its mask, alpha plane, clip region and
// transparency, then the picture's sprites. It keeps no state of its own.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_effects.h"

struct qvBGPic;
struct qvClipRegion;
struct qvDisplay;
struct qvImageHandle;
struct qvLayer;
struct qvLayerItem;

// Flags of Redraw (the graphics engine's kRedraw* are 0 to 2).
enum : int {
    QV_REDRAW_NOSPRITES = 1,
    QV_REDRAW_SPRITESONLY = 2,
    QV_REDRAW_DISPLAYBACKGROUND = 4,  // the background from the display bitmap in any case
    QV_REDRAW_PICTUREBACKGROUND = 8,  // never from the display bitmap
    QV_REDRAW_PICTURESIZE = 16,       // at the picture's logical size, with its picture items
};

// Recomposes the rectangle of the picture into dest: for each visible layer its shadow, its
// border, then its image with its filters and transform. A width or height below 1, a negative
// x or y and a missing destination write their debug line and paint nothing; so does a
// rectangle that lies outside the picture. unused is passed as 0. Returns 0 or the error of
// the last paint step.
int Redraw(qvVmState* L, qvDisplay* display, qvBGPic* picture, qvDisplayBitMap* dest, int32_t x,
           int32_t y, int32_t width, int32_t height, int32_t unused, int flags);
namespace qv::scene {
// The topmost layer whose own paint decides every pixel of the area (of the picture items
// when pictureItems, else the display items): shown, upright, with no mask, alpha plane,
// clip region, transparency, filter, shadow or border, and an image that reaches over the
// area. Redraw composes from it up and skips the background and the layers below, which
// gives the same pixels. Reads only what the layers hold; none when no layer qualifies.
qvLayer* TopOpaqueCover(qvVmState* L, qvBGPic* picture, const LayerRect& area, bool pictureItems);
// Whether composing the area (display items) gives the bitmap's pixels from (srcX, srcY): the
// top layer covers it as TopOpaqueCover asks, shows that bitmap there, and no sprite lies over
// it.
bool TopLayerShowsAlone(qvVmState* L, qvBGPic* picture, const LayerRect& area,
                        const qvDisplayBitMap* bitmap, int32_t srcX, int32_t srcY);
}  // namespace qv::scene

// The display host's Redraw: the rectangle of the picture the display shows.
void RedrawShownPicture(qvVmState* L, qvDisplay* display, qvDisplayBitMap* dest, int32_t x,
                        int32_t y, int32_t width, int32_t height, int flags);

// The image a layer shows now. frame -1 is an anim layer's current frame. Part layers read
// their part at the out offset (partX, partY when the image is the object's own, else 0).
struct qvLayerPicture {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;
    qvPlaneBitMap* alpha;
    int32_t width, height;
    qvImageHandle* source;  // a brush layer's brush image handle, else none
    int32_t offsetX, offsetY;
};
// With filters, a layer with an active filter answers its filtered image (built when
// missing, from the transformed image when the transform is asked for and there is one). 0,
// ERR_WRONGUSAGE for a layer being removed or a type without an image, the object lookup's
// error or the filter pass's.
int GetLayerImage(qvVmState* L, qvLayer* layer, qvLayerItem* item, int withFilters,
                  int withTransform, int32_t frame, qvLayerPicture* out);

// The rectangle the item covers: its draw rectangle grown by its border image and its
// shadow (both built when missing).
void GetLayerBounds(qvVmState* L, qvLayer* layer, qvLayerItem* item, int32_t* x, int32_t* y,
                    int32_t* width, int32_t* height);

// A layer's border image and where it lies against the item's draw position (dx, dy to the
// left and up).
struct qvLayerBorder {
    qvLayerImage image;
    int32_t dx, dy, width, height;
};
// Builds the border of the colour (0xAARRGGBB, the top byte a transparency) and size for the
// item: texts below size 8, shapes and paths through their library's border renderer, other
// layers from their image's silhouette dilated by the size (as the transform scales it). 0 or
// ERR_MEM (also for a border beyond the bitmap limits), or the image's error.
int RenderLayerBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item, uint32_t colour,
                      int32_t size, qvLayerBorder* out);

// Paints width x height pixels from (sx, sy) of the source at (dx, dy): transparency 0
// through the mask or alpha plane and the clip region (its shape included); transparency t
// mixed in at opacity 255 - t, through the clip region's shape by way of a copy of the
// destination. Returns 0 or ERR_MEM.
int BlendLayerImage(qvVmState* L, qvDisplayBitMap* source, int32_t sx, int32_t sy,
                    qvDisplayBitMap* dest, int32_t dx, int32_t dy, int32_t width, int32_t height,
                    int32_t sourceWidth, int32_t sourceHeight, int32_t destWidth,
                    int32_t destHeight, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                    uint32_t transparency, const qvClipRegion* region);

// 1 when no visible layer above the given one overlaps its display item's draw rectangle.
int IsLayerUncovered(const qvBGPic* picture, const qvLayer* layer);

// Whether two rectangles given by inclusive corners overlap.
bool RectsOverlap(int32_t ax1, int32_t ay1, int32_t ax2, int32_t ay2, int32_t bx1, int32_t by1,
                  int32_t bx2, int32_t by2);
// The span [low, high) of picture coordinates as a start and a length that fit 32 bits. Both
// ends are held within 2^30 of the origin, far beyond any picture, so that a span too long for
// a 32-bit length loses only what no picture shows, never the part near the picture.
void SpanExtent(int64_t low, int64_t high, int32_t* start, int32_t* length);
// Grows the first rectangle (x, y, width, height) to include the second (see SpanExtent).
void UnionRects(int32_t* x, int32_t* y, int32_t* width, int32_t* height, int32_t x2, int32_t y2,
                int32_t width2, int32_t height2);

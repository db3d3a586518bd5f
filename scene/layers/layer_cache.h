// The layer content caches: a layer stores what it shows, and this renders it. A layer's
// picture item is its content under the layer's transform, its display item the same scaled
// to the display by the layer scaling engine. Both are built as new items and swapped in
// only when complete: every failure leaves the layer with its previous items. Also the
// rebuild of every layer when a display changes size or scaling, and the conversion of a
// layer into a private image that drawing can go into.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_transform.h"

struct qvDisplay;

// Mode bits of BuildLayerCache.
enum : int {
    QV_CACHE_DISPLAYITEM = 1,  // build the display item, else the picture item
    QV_CACHE_NOREPAINT = 2,    // the caller repaints
    QV_CACHE_NOPREVIOUS = 4,   // with QV_CACHE_DISPLAYITEM: no previous area to repaint
};

// Flags of BuildLayerContent, passed on to the drawing engine of the layer's kind.
enum : int {
    QV_CONTENT_TEXTOBJECT = 8,  // text objects draw through their own path
    QV_CONTENT_RENDER = 16,     // render into the item, not onto the display
    QV_CONTENT_KEEPPOS = 64,    // keep the given position (a LINE's draw position)
};

// How the drawing library of a layer kind renders a layer's content into item (its image, or
// the transformed image out, at the item's position and parameters under the work
// transform): it fills the item and places it with UpdateLayerGeometry(previous). 0 or the
// engine's error, the item then the caller's to free.
using qvLayerContentRenderer = int (*)(qvVmState* L, qvLayer* layer, int32_t insertPos,
                                       qvLayerItem* item, qvLayerImage* out,
                                       const qvWorkTransform* transform, qvLayerArea* previous,
                                       int flags);
// How the drawing library of a text, shape or path kind draws a layer's border of the colour
// and size around the item (RenderLayerBorder's contract).
using qvLayerBorderRenderer = int (*)(qvVmState* L, qvLayer* layer, qvLayerItem* item,
                                      uint32_t colour, int32_t size, qvLayerBorder* out);

// The renderers of one layer type (an object type below 64); none leaves the type without
// one. Image kinds (brushes, parts, anims) start with the layers' own renderer.
void SetLayerRenderers(uint32_t type, qvLayerContentRenderer content, qvLayerBorderRenderer border);
qvLayerContentRenderer LayerContentRenderer(uint32_t type);
qvLayerBorderRenderer LayerBorderRenderer(uint32_t type);

// How the drawing library draws the border of a box outline of width x height turned by the
// layer's transform: the border of a turned image without mask or alpha, whose silhouette is
// that box. Installed with the shape renderers; none leaves such images dilated.
using qvBoxBorderRenderer = int (*)(qvVmState* L, qvLayer* layer, int32_t width, int32_t height,
                                    uint32_t colour, int32_t size, qvLayerBorder* out);
void SetBoxBorderRenderer(qvBoxBorderRenderer render);
qvBoxBorderRenderer BoxBorderRenderer();

// A picture made from the source (its rectangle at the offset, width x height) as image layers
// show theirs under a transform: scaled (a plain scale) or turned by TransformBitmap, the one
// road of every layer that turns, and where the source point (pivotX, pivotY) lies in it.
struct qvTurnedLayerPicture {
    qvLayerImage image;
    int32_t width = 0, height = 0;
    int32_t pivotX = 0, pivotY = 0;
};
// 0, ERR_MEM or the transform's error; the image is the caller's.
int TransformLayerPicture(const qvLayerPicture& source, double pivotX, double pivotY,
                          const qvDrawTransform& transform, qvTurnedLayerPicture* out);

// Renders the layer's content through its type's renderer; a type without one renders
// nothing and gives 0.
int BuildLayerContent(qvVmState* L, qvLayer* layer, int32_t insertPos, qvLayerItem* item,
                      qvLayerImage* out, const qvWorkTransform* transform, qvLayerArea* previous,
                      int flags);

// Whether a layer of the type draws its image into its own items (text, shapes, paths),
// where the other kinds show the image of an object.
bool DrawsOwnImage(uint32_t type);
// Renders the content of a drawn layer upright at scale 1.0 into its display item in place,
// without a repaint. 0 or the renderer's error.
int RenderUprightContent(qvVmState* L, qvLayer* layer);

// Builds the item the mode names. 0 or an error code, the layer keeping its items on error.
int BuildLayerCache(qvVmState* L, qvLayer* layer, int mode);
// BuildLayerCache with QV_CACHE_DISPLAYITEM | QV_CACHE_NOREPAINT.
int RebuildLayerCache(qvVmState* L, qvLayer* layer);
// With the display and the picture current, every layer of the picture rebuilt in list order
// until one fails; the current display and output picture are restored. The first error.
int RebuildPictureLayers(qvVmState* L, qvDisplay* display, qvBGPic* picture);
// The picture's shown set becomes its scaled set at its logical size, and every layer's own
// display item is dropped for its picture item (which gets empty transformed buffers where the
// dropped item had a transformed mask or alpha, or the layer asks for them). With reallocate
// the display's work bitmaps follow (through the display hook). 0 or an error.
int RebuildLayersForDisplay(qvVmState* L, qvDisplay* display, qvBGPic* picture, int reallocate);
// The display hook: the picture's layers for the display's layer scaling (at scale 1.0 the
// picture items, else new display items).
int RebuildLayersOnDisplay(qvVmState* L, qvDisplay* display, qvBGPic* picture);

// The layer as a private image that drawing can go into (the target of SelectLayer): drawn
// layers become brush layers of a new brush with an automatic id, a brush or anim shown by
// other layers too is copied for this one, a picture part gets its own picture. The planes
// (frame: the anim frame from 0, -1 its current one) and the size. 0, ERR_RENDERADLAYER,
// ERR_WRONGUSAGE, ERR_MEM or the object code's error; the layer as it was on error.
int LayerToImage(qvVmState* L, qvLayer* layer, int32_t frame, qvDisplayBitMap** bitmap,
                 qvPlaneBitMap** mask, qvPlaneBitMap** alpha, int32_t* width, int32_t* height);

// The rectangle scaled: x' = lrint(x sx), width' = lrint((x + width - 1) sx) - x' + 1, and
// the same for y.
void ScaleRect(int32_t x, int32_t y, int32_t width, int32_t height, int32_t* outX, int32_t* outY,
               int32_t* outWidth, int32_t* outHeight, double scaleX, double scaleY);

// Dirty rectangles and refresh: what is repainted when a layer is added, removed, moved or
// restyled, and when. While drawing goes to the display, a rectangle is recomposed at once
// into the display's composition bitmap and copied to the window; while it goes into the
// shown picture (SelectBGPic), it is recorded in the display's dirty list for the end of the
// redirection. Also the layer move and geometry update that every layer movement goes
// through, and the merge of dirty rectangles.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"

struct qvDisplay;
struct qvLayer;
struct qvLayerItem;

// Corners inclusive (x2 = x + width - 1). An x1 of kMergedAway marks an entry merged into
// another; every consumer skips it.
struct qvRect {
    int32_t x1, y1, x2, y2;
};

// A display's dirty list is "the whole picture" while its count equals its capacity: a full
// list stays whole (appends are dropped) until a consumer repaints and resets it. Work lists
// grow by kRectListGrowth entries.
struct qvRectList {
    qvRect* rects;
    int32_t count;
    int32_t capacity;
};

inline constexpr int32_t kMergedAway = 100000;
inline constexpr int32_t kRectListGrowth = 1024;
// A coordinate that keeps the current one (of a layer's move, a display's position).
inline constexpr int32_t KEEPPOSITION = 100000;

// Flags of MoveLayerTo and UpdateLayerGeometry.
enum : int {
    QV_MOVE_RELATIVEX = 1,
    QV_MOVE_RELATIVEY = 2,
    QV_GEOMETRY_KEEPLINE = 64,  // a LINE layer keeps its draw position
};

// The list with capacity entries and none used; 0 or ERR_MEM (the list empty).
int InitRectList(qvRectList* list, int32_t capacity);
void FreeRectList(qvRectList* list);
bool RectListWhole(const qvRectList* list);
// What a consumer does after repainting the list (or the whole picture).
void ResetRectList(qvRectList* list);

// Appends (x, y, x + width - 1, y + height - 1); a full list grows only with mayGrow. False
// when the rectangle was not stored.
bool AppendRect(qvRectList* list, int32_t x, int32_t y, int32_t width, int32_t height,
                bool mayGrow);
// Cuts the rectangle to 0..width, 0..height: a negative x or y moves to 0 and shortens it.
void ClipRectToSize(int32_t width, int32_t height, int32_t* x, int32_t* y, int32_t* rectWidth,
                    int32_t* rectHeight);
// Merges, in one forward pass, every rectangle with the later and earlier ones that overlap
// it or lie within one pixel of it; merged ones are marked kMergedAway. The result depends on
// the order. The count does not change.
void MergeDirtyRects(qvRectList* list);

// Records the rectangle in the current display's dirty list: a rectangle from (< 1, < 1)
// that reaches the output picture's size makes the list whole; a full list drops it.
void AddDirtyRect(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height);
// Records the rectangle in the display's dirty list (made on first use); a whole list stays
// whole. Without a list the rectangle is repainted now.
void AddDisplayDirtyRect(qvVmState* L, qvDisplay* display, int32_t x, int32_t y, int32_t width,
                         int32_t height);
// By the current display's output: drawing to the display repaints the rectangle now;
// drawing into the shown picture records it; drawing into an object does nothing.
void RefreshRect(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height);
// Repaints now (recomposes and copies to the window), whatever the output.
void RefreshDisplayArea(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height);
// RefreshDisplayArea of every rectangle of the list that was not merged away.
void RedrawLayerArea(qvVmState* L, const qvRectList* list);
// RefreshRect of the layer's bounds.
void RefreshLayer(qvVmState* L, qvLayer* layer);
// Appends the item's bounds, growing the list; false when they were not stored.
bool AddLayerBoundsToRectList(qvVmState* L, qvRectList* list, qvLayer* layer, qvLayerItem* item);

struct qvLayerSize {
    int32_t width, height;
};

// Moves the layer to (x, y) (QV_MOVE_* make them relative, KEEPPOSITION keeps one) and,
// unless noRefresh, refreshes the old and the new place (grown to minSize when given, and to
// the bounds when a shadow or a border is on) or appends that area to list (refreshed at
// once when the list cannot grow).
void MoveLayerTo(qvVmState* L, qvLayer* layer, const qvLayerSize* minSize, int32_t x, int32_t y,
                 int noRefresh, int flags, qvRectList* list);

// The area a layer covered before a change; width -1 when it is not known yet. skip set
// means the caller repaints.
struct qvLayerArea {
    int32_t x, y, width, height;
    int32_t skip;
};

// The layer's content changed size or image: the display item is placed for the new size
// at (x, y) and takes the planes when a bitmap is given (freeing those it held); its
// transformed image is made again empty at the new size (or an asynchronous drawing object
// that owns the layer is told); the old and new areas are refreshed unless the layer is
// hidden or deferred or previous->skip is set. A previous width of -1 becomes the new draw
// rectangle.
void UpdateLayerGeometry(qvVmState* L, qvLayer* layer, qvLayerArea* previous, int32_t x, int32_t y,
                         int32_t width, int32_t height, qvDisplayBitMap* bitmap,
                         qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int flags);
// The last step of UpdateLayerGeometry: refreshes the area from the smaller of the previous
// and the display item's corners to the larger corner plus the larger size, unless the layer
// is hidden or deferred or previous.skip is set.
void RefreshLayerChange(qvVmState* L, qvLayer* layer, const qvLayerArea& previous);

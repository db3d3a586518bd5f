#include "scene/layers/dirty_rects.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/object_types.h"
#include "platform/linux/blocks.h"
#include "scene/bgpic.h"
#include "scene/layers/compositor.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"

using namespace qv::gfx;
using qv::scene::Anchored;
using qv::scene::LayerDisplays;

namespace {

// trunc(v x factor), held to 32 bits.
int32_t Scaled(int32_t v, double factor) {
    const double scaled = std::trunc(v * factor);
    return std::isnan(scaled) ? 0
                              : int32_t(std::clamp(scaled, double(INT32_MIN), double(INT32_MAX)));
}

qvRect RectOf(int32_t x, int32_t y, int32_t width, int32_t height) {
    return {x, y, qv::Saturate32(int64_t(x) + width - 1), qv::Saturate32(int64_t(y) + height - 1)};
}

bool Grow(qvRectList* list) {
    if (list->capacity > INT32_MAX / int32_t(sizeof(qvRect)) - kRectListGrowth) return false;
    const int32_t capacity = list->capacity + kRectListGrowth;
    auto* rects = static_cast<qvRect*>(AllocMemBlock(size_t(capacity) * sizeof(qvRect), 0));
    if (rects == nullptr) return false;
    if (list->count > 0) std::memcpy(rects, list->rects, size_t(list->count) * sizeof(qvRect));
    FreeMemBlock(list->rects);
    list->rects = rects;
    list->capacity = capacity;
    return true;
}

// The rectangle cut to the picture's size; false when nothing of it is inside.
bool ClipToPicture(int32_t width, int32_t height, int32_t* x, int32_t* y, int32_t* w, int32_t* h) {
    if (int64_t(*x) + *w <= 0 || *x >= width || int64_t(*y) + *h <= 0 || *y >= height) {
        return false;
    }
    ClipRectToSize(width, height, x, y, w, h);
    return *w > 0 && *h > 0;
}

// A display's dirty list, made on first use; none when there is none or it cannot be made.
qvRectList* DirtyListOf(qvDisplay* display) {
    qvRectList* list = display != nullptr ? LayerDisplays().DirtyRects(display) : nullptr;
    if (list == nullptr || list->capacity > 0) return list;
    return InitRectList(list, kRectListGrowth) == 0 ? list : nullptr;
}

// The source item's move to (x, y) on item: its anchored position follows and the draw
// position moves with it.
void PlaceItem(qvLayerItem* item, const qvLayer* layer, const qvLayerItem* source, int32_t x,
               int32_t y) {
    const int32_t anchoredX = Anchored(x, source->width, layer->anchorX);
    const int32_t anchoredY = Anchored(y, source->height, layer->anchorY);
    item->drawX = qv::Saturate32(int64_t(item->drawX) + anchoredX - item->anchoredX);
    item->drawY = qv::Saturate32(int64_t(item->drawY) + anchoredY - item->anchoredY);
    item->anchoredX = anchoredX, item->anchoredY = anchoredY;
    item->x = x, item->y = y;
}

struct Box {
    int32_t x, y, width, height;
};

Box BoundsOf(qvVmState* L, qvLayer* layer) {
    Box b;
    GetLayerBounds(L, layer, layer->displayItem, &b.x, &b.y, &b.width, &b.height);
    return b;
}

void Include(Box* area, const Box& other) {
    UnionRects(&area->x, &area->y, &area->width, &area->height, other.x, other.y, other.width,
               other.height);
}

// A new empty plane like the one given (none for none); false when it cannot be made.
template <typename Alloc>
bool RemakePlane(qvPlaneBitMap** plane, Alloc alloc, void (*release)(qvPlaneBitMap*)) {
    if (*plane == nullptr) return true;
    release(*plane);
    *plane = alloc();
    return *plane != nullptr;
}

// The transformed image made again, empty, at the new size; dropped when memory is short
// (the layer then shows its own image until the image is rendered again).
void RemakeTransformed(qvLayerItem* item, int32_t width, int32_t height) {
    qvLayerImage& t = item->transformed;
    if (t.bitmap == nullptr) return;
    FreeDisplayBitMap(t.bitmap);
    t.bitmap = AllocDisplayBitMap(width, height);
    const bool made =
        t.bitmap != nullptr &&
        RemakePlane(
            &t.mask, [&] { return AllocMaskBitMap(t.bitmap, width, height, 1); },
            FreePlaneBitMap) &&
        RemakePlane(
            &t.alpha, [&] { return AllocAlphaBitMap(width, height, 1); }, FreePlaneBitMap2);
    if (!made) {
        FreeDisplayBitMap(t.bitmap);
        FreePlaneBitMap(t.mask);
        FreePlaneBitMap2(t.alpha);
        t = {};
    }
}

// Overlapping, touching or one pixel apart (corners inclusive).
bool Near(const qvRect& a, const qvRect& b) {
    return int64_t(b.x1) - a.x2 < 2 && int64_t(a.x1) - b.x2 < 2 && int64_t(b.y1) - a.y2 < 2 &&
           int64_t(a.y1) - b.y2 < 2;
}

// a takes in b, which is merged away.
void Absorb(qvRect* a, qvRect* b) {
    *a = {std::min(a->x1, b->x1), std::min(a->y1, b->y1), std::max(a->x2, b->x2),
          std::max(a->y2, b->y2)};
    b->x1 = kMergedAway;
}

// The merge as written: each rectangle's pass compares it with every other one in order.
void MergeByScan(qvRect* r, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        for (int32_t j = 0; j < count; ++j) {
            if (j == i || r[i].x1 == kMergedAway || r[j].x1 == kMergedAway) continue;
            if (Near(r[i], r[j])) Absorb(&r[i], &r[j]);
        }
    }
}

// A uniform grid over the rectangles' extent; each cell lists the rectangles that reach it.
class RectGrid {
public:
    // False when a live rectangle has inverted corners (nearness is then no overlap of
    // cells).
    bool Build(const qvRect* r, int32_t count) {
        bool any = false;
        for (int32_t i = 0; i < count; ++i) {
            if (r[i].x1 == kMergedAway) continue;
            if (r[i].x2 < r[i].x1 || r[i].y2 < r[i].y1) return false;
            if (!any) min_ = {r[i].x1, r[i].y1}, max_ = {r[i].x2, r[i].y2}, any = true;
            min_.x = std::min(min_.x, r[i].x1), min_.y = std::min(min_.y, r[i].y1);
            max_.x = std::max(max_.x, r[i].x2), max_.y = std::max(max_.y, r[i].y2);
        }
        side_ = std::clamp(int32_t(std::sqrt(double(count))), 1, 64);
        heads_.assign(size_t(side_) * side_, -1);
        nodes_.reserve(size_t(count) * 4);
        for (int32_t i = 0; i < count; ++i) {
            if (r[i].x1 != kMergedAway) Insert(r[i], i);
        }
        return true;
    }
    void Insert(const qvRect& box, int32_t index) {
        const Cells c = CellsOf(box);
        for (int32_t cy = c.y1; cy <= c.y2; ++cy) {
            for (int32_t cx = c.x1; cx <= c.x2; ++cx) {
                int32_t& head = heads_[size_t(cy) * side_ + cx];
                nodes_.push_back({index, head});
                head = int32_t(nodes_.size() - 1);
            }
        }
    }
    // The first live rectangle after `after` (other than self) near box; -1 when none.
    int32_t FirstNear(const qvRect* r, const qvRect& box, int32_t self, int32_t after) const {
        const Cells c =
            CellsOf({Widen(box.x1, -1), Widen(box.y1, -1), Widen(box.x2, 1), Widen(box.y2, 1)});
        int32_t best = -1;
        for (int32_t cy = c.y1; cy <= c.y2; ++cy) {
            for (int32_t cx = c.x1; cx <= c.x2; ++cx) {
                for (int32_t n = heads_[size_t(cy) * side_ + cx]; n >= 0; n = nodes_[n].next) {
                    const int32_t j = nodes_[n].index;
                    if (j > after && j != self && (best < 0 || j < best) &&
                        r[j].x1 != kMergedAway && Near(box, r[j])) {
                        best = j;
                    }
                }
            }
        }
        return best;
    }

private:
    struct Point {
        int32_t x, y;
    };
    struct Cells {
        int32_t x1, y1, x2, y2;
    };
    struct Node {
        int32_t index, next;
    };
    static int32_t Widen(int32_t v, int32_t by) { return qv::Saturate32(int64_t(v) + by); }
    int32_t Cell(int32_t v, int32_t lo, int32_t hi) const {
        const int64_t clamped = std::clamp(v, lo, hi);
        return int32_t((clamped - lo) * side_ / (int64_t(hi) - lo + 1));
    }
    Cells CellsOf(const qvRect& box) const {
        return {Cell(box.x1, min_.x, max_.x), Cell(box.y1, min_.y, max_.y),
                Cell(box.x2, min_.x, max_.x), Cell(box.y2, min_.y, max_.y)};
    }

    Point min_{}, max_{};
    int32_t side_ = 1;
    std::vector<int32_t> heads_;
    std::vector<Node> nodes_;
};

// The same merge with the candidates of each pass found through a grid: a pass takes the
// next near rectangle in index order, so one that its growth reaches but that lies before
// the last taken is passed over exactly as in the scan. False (the list untouched) when the
// grid cannot be made or does not apply.
bool MergeIndexed(qvRect* rects, int32_t count) {
    return qv::CatchAllocFailure(false, [&] {
        std::vector<qvRect> r(rects, rects + count);
        RectGrid grid;
        if (!grid.Build(r.data(), count)) return false;
        for (int32_t i = 0; i < count; ++i) {
            if (r[i].x1 == kMergedAway) continue;
            bool grew = false;
            for (int32_t j = grid.FirstNear(r.data(), r[i], i, -1); j >= 0;
                 j = grid.FirstNear(r.data(), r[i], i, j)) {
                Absorb(&r[i], &r[j]);
                grew = true;
            }
            // Later passes must find it where it reaches now.
            if (grew) grid.Insert(r[i], i);
        }
        std::copy(r.begin(), r.end(), rects);
        return true;
    });
}

}  // namespace

int InitRectList(qvRectList* list, int32_t capacity) {
    *list = {};
    list->rects = static_cast<qvRect*>(AllocMemBlock(size_t(capacity) * sizeof(qvRect), 0));
    if (list->rects == nullptr) return ERR_MEM;
    list->capacity = capacity;
    return 0;
}

void FreeRectList(qvRectList* list) {
    FreeMemBlock(list->rects);
    *list = {};
}

bool RectListWhole(const qvRectList* list) {
    return list->capacity > 0 && list->count == list->capacity;
}

void ResetRectList(qvRectList* list) {
    list->count = 0;
}

bool AppendRect(qvRectList* list, int32_t x, int32_t y, int32_t width, int32_t height,
                bool mayGrow) {
    if (list->count >= list->capacity && (!mayGrow || !Grow(list))) return false;
    list->rects[list->count++] = RectOf(x, y, width, height);
    return true;
}

void ClipRectToSize(int32_t width, int32_t height, int32_t* x, int32_t* y, int32_t* rectWidth,
                    int32_t* rectHeight) {
    int64_t rx = *x, ry = *y, rw = *rectWidth, rh = *rectHeight;
    if (rx < 0) rw += rx, rx = 0;
    if (ry < 0) rh += ry, ry = 0;
    rw = std::min<int64_t>(rw, width - rx);
    rh = std::min<int64_t>(rh, height - ry);
    *x = qv::Saturate32(rx), *y = qv::Saturate32(ry);
    *rectWidth = qv::Saturate32(rw), *rectHeight = qv::Saturate32(rh);
}

void MergeDirtyRects(qvRectList* list) {
    constexpr int32_t kIndexedFrom = 24;  // below this the plain scan is cheaper
    if (list->count < kIndexedFrom || !MergeIndexed(list->rects, list->count)) {
        MergeByScan(list->rects, list->count);
    }
}

void AddDirtyRect(qvVmState*, int32_t x, int32_t y, int32_t width, int32_t height) {
    qvRectList* list = DirtyListOf(Graphics().Host().CurrentDisplay());
    const qvBGPic* picture = LayerDisplays().OutputPicture();
    if (list == nullptr || picture == nullptr) return;
    if (x < 1 && y < 1 && int64_t(x) + width >= picture->width &&
        int64_t(y) + height >= picture->height) {
        list->count = list->capacity;
        return;
    }
    AppendRect(list, x, y, width, height, false);
}

void AddDisplayDirtyRect(qvVmState* L, qvDisplay* display, int32_t x, int32_t y, int32_t width,
                         int32_t height) {
    qvRectList* list = DirtyListOf(display);
    if (list == nullptr) {
        // Repainted now rather than lost.
        RefreshDisplayArea(L, x, y, width, height);
        return;
    }
    AppendRect(list, x, y, width, height, false);
}

void RefreshRect(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height) {
    qvDisplay* display = Graphics().Host().CurrentDisplay();
    if (display == nullptr) return;
    switch (Graphics().View(display).outputType) {
        case kTargetDisplay:
            RefreshDisplayArea(L, x, y, width, height);
            return;
        case kTargetBGPic: {
            const qvBGPic* picture = LayerDisplays().OutputPicture();
            if (picture == nullptr || !ClipToPicture(picture->shownWidth, picture->shownHeight, &x,
                                                     &y, &width, &height)) {
                return;
            }
            AddDisplayDirtyRect(L, display, x, y, width, height);
            return;
        }
        default:
            return;
    }
}

void RefreshDisplayArea(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height) {
    qvDisplay* display = Graphics().Host().CurrentDisplay();
    qvBGPic* picture = display != nullptr ? LayerDisplays().ShownPicture(display) : nullptr;
    if (picture == nullptr) return;
    qvDisplayBitMap* composition = Graphics().View(display).backBuffers[1];
    if (composition == nullptr ||
        !ClipToPicture(picture->shownWidth, picture->shownHeight, &x, &y, &width, &height)) {
        return;
    }
    Redraw(L, display, picture, composition, x, y, width, height, 0, 0);
    // SafeBlt's copy of a back buffer to the window, which reaches the window whatever the
    // output target is.
    BltToDisplay(composition, x, y, display, x, y, width, height, QV_REFRESH_AUTOSCALE);
}

void RedrawLayerArea(qvVmState* L, const qvRectList* list) {
    for (int32_t i = 0; i < list->count; ++i) {
        const qvRect& r = list->rects[i];
        if (r.x1 == kMergedAway) continue;
        RefreshDisplayArea(L, r.x1, r.y1, qv::Saturate32(int64_t(r.x2) - r.x1 + 1),
                           qv::Saturate32(int64_t(r.y2) - r.y1 + 1));
    }
}

void RefreshLayer(qvVmState* L, qvLayer* layer) {
    const Box b = BoundsOf(L, layer);
    RefreshRect(L, b.x, b.y, b.width, b.height);
}

bool AddLayerBoundsToRectList(qvVmState* L, qvRectList* list, qvLayer* layer, qvLayerItem* item) {
    int32_t x, y, width, height;
    GetLayerBounds(L, layer, item, &x, &y, &width, &height);
    return AppendRect(list, x, y, width, height, true);
}

void MoveLayerTo(qvVmState* L, qvLayer* layer, const qvLayerSize* minSize, int32_t x, int32_t y,
                 int noRefresh, int flags, qvRectList* list) {
    const bool styled = layer->shadow.on != 0 || layer->border.on != 0;
    const Box oldBounds = styled ? BoundsOf(L, layer) : Box{};
    qvLayerItem* source = layer->sourceItem;
    qvLayerItem* picture = layer->pictureItem;
    qvLayerItem* display = layer->displayItem;
    const Box before{display->drawX, display->drawY, display->drawWidth, display->drawHeight};
    if (x != KEEPPOSITION || y != KEEPPOSITION) {
        const int32_t newX = (flags & QV_MOVE_RELATIVEX) != 0
                                 ? qv::Saturate32(int64_t(x) + source->x)
                             : x == KEEPPOSITION ? source->x
                                                 : x;
        const int32_t newY = (flags & QV_MOVE_RELATIVEY) != 0
                                 ? qv::Saturate32(int64_t(y) + source->y)
                             : y == KEEPPOSITION ? source->y
                                                 : y;
        const int32_t dx = qv::Saturate32(int64_t(newX) - source->x);
        const int32_t dy = qv::Saturate32(int64_t(newY) - source->y);
        PlaceItem(source, layer, source, newX, newY);
        if (layer->type == kTypeLine) source->Translate(dx, dy);
        if (display != picture) {
            if (picture != source) PlaceItem(picture, layer, source, newX, newY);
            const qv::scene::DisplayScale scale =
                LayerDisplays().Scale(Graphics().Host().CurrentDisplay());
            display->drawX = Scaled(picture->drawX, scale.x);
            display->drawY = Scaled(picture->drawY, scale.y);
        } else if (display != source) {
            PlaceItem(display, layer, source, newX, newY);
        }
    }
    Box area = before;
    Include(&area, {display->drawX, display->drawY, display->drawWidth, display->drawHeight});
    if (minSize != nullptr) {
        area.width = std::max(area.width, minSize->width);
        area.height = std::max(area.height, minSize->height);
    }
    if (noRefresh != 0) return;
    if (styled) {
        Include(&area, oldBounds);
        Include(&area, BoundsOf(L, layer));
    }
    if (list == nullptr || !AppendRect(list, area.x, area.y, area.width, area.height, true)) {
        RefreshRect(L, area.x, area.y, area.width, area.height);
    }
}

void UpdateLayerGeometry(qvVmState* L, qvLayer* layer, qvLayerArea* previous, int32_t x, int32_t y,
                         int32_t width, int32_t height, qvDisplayBitMap* bitmap,
                         qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int flags) {
    qvLayerItem* item = layer->displayItem;
    item->drawWidth = width, item->drawHeight = height;
    if (layer->type != kTypeLine) {
        item->drawX = Anchored(x, item->width, layer->anchorX);
        item->drawY = Anchored(y, item->height, layer->anchorY);
    } else if ((flags & QV_GEOMETRY_KEEPLINE) == 0) {
        item->drawX = x, item->drawY = y;
    }
    if (bitmap != nullptr) {
        qvLayerImage& own = item->image;
        if (own.bitmap != bitmap) FreeDisplayBitMap(own.bitmap);
        if (own.mask != mask) FreePlaneBitMap(own.mask);
        if (own.alpha != alpha) FreePlaneBitMap2(own.alpha);
        own = {bitmap, mask, alpha};
    }
    if (previous->width == -1) {
        *previous = {item->drawX, item->drawY, item->drawWidth, item->drawHeight, previous->skip};
    }
    if (IsObjectUsedByAsyncDraw(layer) != 0) {
        BroadcastAsyncDraws(kAsyncLayerChanged, layer);
    } else {
        RemakeTransformed(item, width, height);
        FreeRenderBitmaps(item);
    }
    RefreshLayerChange(L, layer, *previous);
}

void RefreshLayerChange(qvVmState* L, qvLayer* layer, const qvLayerArea& previous) {
    const qvLayerItem* item = layer->displayItem;
    if (layer->hidden != 0 || layer->deferred != 0 || previous.skip != 0) return;
    const int64_t right =
        int64_t(std::max(previous.x, item->drawX)) + std::max(previous.width, item->drawWidth);
    const int64_t bottom =
        int64_t(std::max(previous.y, item->drawY)) + std::max(previous.height, item->drawHeight);
    Box area;
    SpanExtent(std::min(previous.x, item->drawX), right, &area.x, &area.width);
    SpanExtent(std::min(previous.y, item->drawY), bottom, &area.y, &area.height);
    RefreshRect(L, area.x, area.y, area.width, area.height);
}

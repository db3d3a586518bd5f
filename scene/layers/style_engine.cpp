#include "scene/layers/style_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/convert.h"
#include "engine/error_codes.h"
#include "gfx/clip.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/clip_regions.h"
#include "gfx/library/object_types.h"
#include "platform/linux/blocks.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"
#include "scene/bgpic.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/layers_library.h"
#include "scene/layers/style_rows.h"
#include "scene/layers/transform_matrix.h"

namespace qv::scene {
namespace {

using gfx::Graphics;

// The rectangles one call collects, redrawn at its end. When one cannot be stored the whole
// picture is redrawn instead, so that nothing that changed is left stale.
struct DirtyList {
    qvRectList rects{};
    bool whole = false;
};
DirtyList dirty;

struct ItemFree {
    void operator()(qvLayerItem* item) const { FreeLayerItem(item); }
};
using OwnedItem = std::unique_ptr<qvLayerItem, ItemFree>;

bool SameBytes(const void* a, const void* b, size_t size) {
    return std::memcmp(a, b, size) == 0;
}

qvLayer* PredecessorOf(qvBGPic* picture, qvLayer* layer) {
    qvListNode* pred = layer->node.pred;
    return pred == reinterpret_cast<qvListNode*>(&picture->layers)
               ? nullptr
               : reinterpret_cast<qvLayer*>(pred);
}

qvLayer* SuccessorOf(qvBGPic* picture, qvLayer* pred) {
    qvListNode* node = pred != nullptr ? pred->node.succ : picture->layers.head;
    return node->succ != nullptr ? reinterpret_cast<qvLayer*>(node) : nullptr;
}

// A layer that carries its own size as the transform's explicit size (a shape, a path, a
// shown brush) keeps following it when its content changes size, so that the new content is
// not scaled back to the old size. An explicit width or height in the same table still wins.
void FollowOwnSize(LayerStyleWork* work) {
    int32_t oldWidth, oldHeight, newWidth, newHeight;
    work->live->sourceItem->OwnSize(&oldWidth, &oldHeight);
    work->item->OwnSize(&newWidth, &newHeight);
    qvDrawTransform& t = work->transform;
    if (t.width != 0 && t.width == oldWidth) t.width = newWidth;
    if (t.height != 0 && t.height == oldHeight) t.height = newHeight;
}

// The matrix of the transform's scale, size and rotation for the item's own size.
void MakeMatrixFor(qvDrawTransform* tf, const qvLayerItem* item) {
    int32_t width, height;
    item->OwnSize(&width, &height);
    MakeTransformMatrix(tf->matrix, tf->width, tf->height, width, height, tf->rotate, tf->scalex,
                        tf->scaley);
}

// What the common keys asked for beyond the row's flags.
struct CommonChanges {
    int32_t x = KEEPPOSITION, y = KEEPPOSITION;
    int moveFlags = 0;      // QV_MOVE_RELATIVEX / Y
    bool position = false;  // a position or anchor key
    bool transform = false;
    bool clip = false;
    bool filterCachesInvalid = false;
};

// Where an absolute coordinate of the table puts the layer: a position constant resolved
// against the size of the layer's content and its anchor. Relative and kept coordinates pass.
int32_t TargetX(const CommonChanges& changes, const qvLayer* layer) {
    if ((changes.moveFlags & QV_MOVE_RELATIVEX) != 0) return changes.x;
    return ResolvePosX(changes.x, layer->sourceItem->width, 0, layer->anchorX);
}

int32_t TargetY(const CommonChanges& changes, const qvLayer* layer) {
    if ((changes.moveFlags & QV_MOVE_RELATIVEY) != 0) return changes.y;
    return ResolvePosY(changes.y, layer->sourceItem->height, 0, layer->anchorY);
}

// One call of SetLayerProperties.
class Restyler {
public:
    Restyler(qvVmState* L, qvBGPic* picture, int firstSlot)
        : L_(L), picture_(picture), firstSlot_(firstSlot) {
        toPicture_ =
            Graphics().View(Graphics().Host().CurrentDisplay()).outputType == gfx::kTargetBGPic;
    }

    int Run(int argCount);
    // The final refresh and the bookkeeping after the last pair (or an error).
    void Finish(int deferred);

private:
    int RunPair(int layerSlot);
    int Restyle(qvLayer* live, int t, bool group);
    int ReadTransformKeys(int t, LayerStyleWork* work, CommonChanges* changes);
    int ReadScaleKeys(int t, LayerStyleWork* work, CommonChanges* changes);
    int ReadPositionKeys(int t, LayerStyleWork* work, CommonChanges* changes);
    int ReadFilterKeys(int t, LayerStyleWork* work, CommonChanges* changes);
    int ReadClipKeys(int t, qvLayer* live, CommonChanges* changes);
    int ReadZ(int t, qvLayer* live, LayerStyleWork* work);
    void InvalidateEffectCaches(qvLayer* live, const LayerStyleWork& work,
                                const CommonChanges& changes);
    void WriteBack(qvLayer* live, const LayerStyleWork& work);
    int MoveRoad(qvLayer* live, LayerStyleWork* work, CommonChanges* changes);
    int RebuildRoad(qvLayer* live, LayerStyleWork* work, OwnedItem item,
                    const CommonChanges& changes);
    void PlaceRebuilt(qvLayer* layer, const CommonChanges& changes);
    void AddBounds(qvLayer* layer);
    int ArgNumber(int slot) const { return slot - firstSlot_ + 1; }

    qvVmState* L_;
    qvBGPic* picture_;
    int firstSlot_;
    bool toPicture_ = false;
    int cacheKinds_ = 0;
};

void Restyler::AddBounds(qvLayer* layer) {
    int32_t x, y, width, height;
    GetLayerBounds(L_, layer, layer->displayItem, &x, &y, &width, &height);
    if (toPicture_) {
        // Recorded in the display's own list for the end of the redirection.
        RefreshRect(L_, x, y, width, height);
    } else if (!dirty.whole && !AppendRect(&dirty.rects, x, y, width, height, true)) {
        dirty.whole = true;
    }
}

int Restyler::Run(int argCount) {
    for (int done = 0; done < argCount; done += 2) {
        if (int code = RunPair(firstSlot_ + done)) return code;
    }
    return 0;
}

int Restyler::RunPair(int layerSlot) {
    qvLayer* layer = nullptr;
    int32_t match = 0, group = 0;
    int code = FindLayerOrGroup(L_, layerSlot, picture_, &layer, &match, &group);
    if (code == ERR_STRORNUM) SetErrorNumber(uint32_t(ArgNumber(layerSlot)));
    if (code != 0) return code;
    const int t = layerSlot + 1;
    if (VmType(L_, t) != VM_TTABLE) {
        SetErrorNumber(uint32_t(ArgNumber(t)));
        return ERR_TABEXPECTED;
    }
    // A group's members are collected first: z moves them while they are restyled.
    std::vector<qvLayer*> layers{layer};
    while (match != -1) {
        if ((code = FindLayerOrGroup(L_, layerSlot, picture_, &layer, &match, &group))) return code;
        layers.push_back(layer);
    }
    for (qvLayer* member : layers) {
        if ((code = Restyle(member, t, group != 0))) return code;
    }
    return 0;
}

int Restyler::Restyle(qvLayer* live, int t, bool group) {
    LayerStyleWork work;
    work.layer = *live;
    work.transform = live->transform;
    work.live = live;
    work.oldType = live->type;
    OwnedItem item(CopyWorkingItem(live));
    if (item == nullptr) return ERR_MEM;
    work.item = item.get();
    int32_t type = 0;
    if (!group && GetTableFieldInt(L_, t, "type", &type, nullptr)) {
        work.rebuild = true;
        if (uint32_t(type) != live->type) {
            const LayerStyleRow* row = FindLayerStyleRow(uint32_t(type));
            // Only a type with a row of its own knows how to make its item.
            if (row == nullptr || row->retypeItem == nullptr) return ERR_WRONGUSAGE;
            work.retype = true;
            work.layer.type = uint32_t(type);
            item.reset(row->retypeItem(L_, &work));
            if (item == nullptr) return ERR_MEM;
            work.item = item.get();
        }
    }
    if (!group) {
        const LayerStyleRow* row = FindLayerStyleRow(work.layer.type);
        if (row != nullptr && row->read != nullptr) {
            if (int code = row->read(L_, t, &work)) return code;
        }
        FollowOwnSize(&work);
    }
    cacheKinds_ |= work.cacheKinds;
    CommonChanges changes;
    if (int code = ReadTransformKeys(t, &work, &changes)) return code;
    if (int code = ReadPositionKeys(t, &work, &changes)) return code;
    if (int code = ReadFilterKeys(t, &work, &changes)) return code;
    int32_t hidden = 0;
    if (GetTableFieldInt(L_, t, "hidden", &hidden, nullptr)) {
        work.layer.hidden = hidden;
        work.refresh = true;
    }
    int found = 0;
    if (int code = ParseShadowTags(L_, t, &work.layer.shadow, &found)) return code;
    if (int code = ParseBorderTags(L_, t, true, &work.layer.border, &found)) return code;
    if (found != 0) work.refresh = true;
    if (int code = ReadClipKeys(t, live, &changes)) return code;
    if (int code = ReadZ(t, live, &work)) return code;
    InvalidateEffectCaches(live, work, changes);
    WriteBack(live, work);
    if (work.rebuild) return RebuildRoad(live, &work, std::move(item), changes);
    if (changes.position || changes.transform || changes.clip) {
        return MoveRoad(live, &work, &changes);
    }
    if (work.refresh) {
        if (changes.filterCachesInvalid && IsObjectUsedByAsyncDraw(live) != 0) {
            BroadcastAsyncDraws(kAsyncLayerChanged, live);
        }
        AddBounds(live);
    }
    return 0;
}

// "transform", else the scale, size and rotation keys; then "smoothscale".
int Restyler::ReadTransformKeys(int t, LayerStyleWork* work, CommonChanges* changes) {
    qvDrawTransform& tf = work->transform;
    double given[4];
    int matrixGiven = 0;
    if (int code = ReadTableFieldVector3(L_, t, "transform", given, &matrixGiven)) return code;
    if (matrixGiven != 0) {
        for (double v : given) {
            if (!std::isfinite(v)) return ERR_WRONGUSAGE;
        }
        if (given[0] == 0 || given[3] == 0) return ERR_WRONGUSAGE;
        tf.scalex = tf.scaley = 1.0;
        tf.rotate = 0;
        tf.width = tf.height = 0;
        std::memcpy(tf.transformInput, given, sizeof given);
        std::memcpy(tf.matrix, given, sizeof given);
        tf.hasTransform = 1;
        changes->transform = true;
    } else if (int code = ReadScaleKeys(t, work, changes)) {
        return code;
    }
    int32_t smooth = 0;
    if (GetTableFieldInt(L_, t, "smoothscale", &smooth, nullptr) && smooth != tf.smoothscale) {
        tf.smoothscale = smooth;
        // Smoothing shows only where a transform scales or turns the layer.
        if (!IsIdentityMatrix(tf.matrix)) changes->transform = true;
    }
    return 0;
}

int Restyler::ReadScaleKeys(int t, LayerStyleWork* work, CommonChanges* changes) {
    qvDrawTransform& tf = work->transform;
    const qvDrawTransform& current = work->live->transform;
    double scale = 0;
    if (GetTableFieldNumber(L_, t, "scalex", &scale, nullptr) && scale != current.scalex) {
        tf.scalex = scale, tf.width = 0;
        changes->transform = true;
    }
    if (GetTableFieldNumber(L_, t, "scaley", &scale, nullptr) && scale != current.scaley) {
        tf.scaley = scale, tf.height = 0;
        changes->transform = true;
    }
    // A number is the explicit size, a percentage the scale.
    const auto readSize = [&](const char* key, int32_t* size, double* factor) {
        double value = 0;
        int fraction = 0;
        if (!GetTableFieldPercent(L_, t, key, 0, 1, &value, &fraction, nullptr)) return;
        if (fraction != 0) {
            *factor = value, *size = 0;
        } else {
            *size = Trunc32(value), *factor = 1.0;
        }
        changes->transform = true;
    };
    readSize("width", &tf.width, &tf.scalex);
    readSize("height", &tf.height, &tf.scaley);
    double angle = 0;
    if (GetTableFieldNumber(L_, t, "rotate", &angle, nullptr)) {
        const int32_t degrees = std::isnan(angle) ? 0 : Trunc32(angle);
        if (degrees != current.rotate) {
            tf.rotate = degrees % 360;
            changes->transform = true;
        }
    }
    // A factor that no size can be computed from counts as 0.
    const auto unusable = [](double f) { return f == 0 || !std::isfinite(f); };
    if (tf.width < 0 || tf.height < 0 || unusable(tf.scalex) || unusable(tf.scaley)) {
        return ERR_BADDIMENSIONS;
    }
    if (changes->transform) tf.hasTransform = 0;
    return 0;
}

// The anchors, the position and the check against a print cursor.
int Restyler::ReadPositionKeys(int t, LayerStyleWork* work, CommonChanges* changes) {
    const qvLayerItem* source = work->live->sourceItem;
    const auto readAnchor = [&](const char* key, double* anchor, int32_t* target, int32_t position,
                                int32_t size, int32_t* anchored) {
        double value = 0;
        if (!GetTableFieldNumber(L_, t, key, &value, nullptr)) return 0;
        if (!(value >= 0.0 && value <= 1.0)) return int(ERR_WRONGUSAGE);
        *anchored = Anchored(position, size, *anchor);
        *anchor = value;
        *target = position;
        changes->position = true;
        return 0;
    };
    if (int code = readAnchor("anchorx", &work->layer.anchorX, &changes->x, source->x,
                              source->width, &work->item->anchoredX)) {
        return code;
    }
    if (int code = readAnchor("anchory", &work->layer.anchorY, &changes->y, source->y,
                              source->height, &work->item->anchoredY)) {
        return code;
    }
    // The anchor is the pivot of the layer's transform: a transformed layer is built again
    // about its new anchor, where its renderer places it (a move would shift it by the
    // upright size, and the next build would make it jump).
    const qvLayer* live = work->live;
    if ((work->layer.anchorX != live->anchorX || work->layer.anchorY != live->anchorY) &&
        !IsIdentityMatrix(work->transform.matrix)) {
        changes->transform = true;
    }
    if (work->linePoints) {
        changes->x = work->lineX, changes->y = work->lineY;
        changes->moveFlags = 0;
        changes->position = true;
    } else {
        // Relative before absolute; an absolute one adds a new vertex table's origin.
        const auto readAxis = [&](const char* relative, const char* absolute, int flag,
                                  int32_t origin, int32_t* target) {
            double value = 0;
            if (GetTableFieldNumber(L_, t, relative, &value, nullptr)) {
                *target = Trunc32(value);
                changes->moveFlags |= flag;
            } else if (GetTableFieldNumber(L_, t, absolute, &value, nullptr)) {
                *target = Trunc32(value);
                if (work->hasOrigin && *target != KEEPPOSITION) {
                    *target = Saturate32(int64_t(*target) + origin);
                }
            } else {
                return;
            }
            changes->position = true;
        };
        readAxis("translatex", "x", QV_MOVE_RELATIVEX, work->originX, &changes->x);
        readAxis("translatey", "y", QV_MOVE_RELATIVEY, work->originY, &changes->y);
    }
    if (changes->position && work->cursorSet) return ERR_WRONGUSAGE;
    return 0;
}

// "transparency", "filters", "tint", "tintcolor" and "clearfilters"; the filter caches are
// dropped only when the slots really changed.
int Restyler::ReadFilterKeys(int t, LayerStyleWork* work, CommonChanges* changes) {
    qvLayer& layer = work->layer;
    const auto level = [](double value) {
        return std::isnan(value) ? 0 : std::clamp(Trunc32(value), 0, 255);
    };
    double value = 0;
    if (GetTableFieldPercent(L_, t, "transparency", 255, 0, &value, nullptr, nullptr)) {
        const uint32_t transparency = uint32_t(level(value));
        if (transparency != layer.transparency) {
            layer.transparency = transparency;
            work->refresh = true;
        }
    }
    int given = 0;
    if (int code = ParseLayerFilters(L_, t, layer.filters, &given)) return code;
    qvLayerFilter& tint = layer.filters[kFilterTint];
    if (GetTableFieldPercent(L_, t, "tint", 255, 0, &value, nullptr, nullptr)) {
        tint.ints[1] = level(value);
        tint.enabled = tint.ints[1] != 0 ? 1 : 0;
        given = 1;
    }
    uint32_t colour = 0;
    if (GetTableFieldBool(L_, t, "tintcolor", &colour, nullptr)) {
        tint.ints[0] = int32_t(colour);
        given = 1;
    }
    int32_t clear = 0;
    if (GetTableFieldInt(L_, t, "clearfilters", &clear, nullptr)) {
        if (clear != 0) std::memset(layer.filters, 0, sizeof layer.filters);
        given = 1;
    }
    if (given == 0) return 0;
    work->refresh = true;
    layer.movingFilter = AnyMovingFilter(layer.filters) ? 1 : 0;
    qvLayer* live = const_cast<qvLayer*>(work->live);
    if (!SameBytes(layer.filters, live->filters, sizeof layer.filters)) {
        FreeLayerGeometryBitmaps(live);
        changes->filterCachesInvalid = true;
    }
    return 0;
}

// "clipregion" and "nocliptransform" write the live layer at once.
int Restyler::ReadClipKeys(int t, qvLayer* live, CommonChanges* changes) {
    qvObjectId id{};
    if (GetTableFieldId(L_, t, "clipregion", &id, nullptr)) {
        qvClipRegion* region = nullptr;
        const bool remove = id.handle == nullptr && id.number == uint32_t(-1);
        if (!remove) {
            if (int code = FindClipRegion(L_, id, &region, 0)) return code;
        }
        // Every item lets go of its region; a private copy is freed, and its pointer cleared
        // so that the item's own release does not free it again.
        for (qvLayerItem* item : DistinctItems(live)) {
            if (item == nullptr) continue;
            if (item->ownsClipRegion && item->clipRegion != nullptr) {
                ReleaseItemResources(L_, item->clipRegion);
                FreeMemBlock(item->clipRegion);
            }
            item->clipRegion = nullptr;
            item->ownsClipRegion = false;
        }
        live->sourceItem->clipRegion = region;
        // Items that share no record with the source see the region untransformed until
        // their cache is made again.
        for (qvLayerItem* item : {live->pictureItem, live->displayItem}) {
            if (item != live->sourceItem && item->clipRegion == nullptr) item->clipRegion = region;
        }
        changes->clip = true;
    }
    int32_t noClip = 0;
    if (GetTableFieldInt(L_, t, "nocliptransform", &noClip, nullptr)) {
        live->noClipTransform = noClip;
        changes->clip = true;
    }
    return 0;
}

// "z": the layer moves to that place of the list at once.
int Restyler::ReadZ(int t, qvLayer* live, LayerStyleWork* work) {
    int32_t z = 0;
    int given = 0;
    if (const int code = ReadTableFieldLayer(L_, t, "z", &z, &given)) return code;
    if (given == 0) return 0;
    if (z < 0) return ERR_WRONGUSAGE;
    qvList* list = &picture_->layers;
    const int32_t count = CountLayers(picture_);
    if (z == 1) {
        if (PredecessorOf(picture_, live) == nullptr) return 0;
        RemoveNode(&live->node);
        AddHead(list, &live->node);
    } else if (z == 0 || z >= count) {
        if (SuccessorOf(picture_, live) == nullptr) return 0;
        RemoveNode(&live->node);
        AddTail(list, &live->node);
    } else {
        RemoveNode(&live->node);
        InsertNode(list, &live->node, &GetLayerByIndex(picture_, z - 1)->node);
    }
    picture_->transitionTarget = 1;
    work->refresh = true;
    return 0;
}

// Shadow planes and border images go when their blocks changed or the filters did (both are
// made from the filtered image); shadow planes also when the transparency did (they are made
// at the layer's opacity).
void Restyler::InvalidateEffectCaches(qvLayer* live, const LayerStyleWork& work,
                                      const CommonChanges& changes) {
    const bool filters = changes.filterCachesInvalid;
    if (filters || work.layer.transparency != live->transparency ||
        !SameBytes(&work.layer.shadow, &live->shadow, sizeof live->shadow)) {
        AddBounds(live);
        FreeLayerCaches(live);
    }
    if (filters || !SameBytes(&work.layer.border, &live->border, sizeof live->border)) {
        AddBounds(live);
        FreeLayerCaches(live);
        FreeLayerBorderCache(live);
    }
}

void Restyler::WriteBack(qvLayer* live, const LayerStyleWork& work) {
    const qvLayer& w = work.layer;
    live->shadow = w.shadow;
    live->shadowFade = w.shadowFade;
    live->hidden = w.hidden;
    live->transparency = w.transparency;
    live->border = w.border;
    live->borderFade = w.borderFade;
    std::memcpy(live->filters, w.filters, sizeof live->filters);
    live->movingFilter = w.movingFilter;
    live->anchorX = w.anchorX;
    live->anchorY = w.anchorY;
}

// A move, a new transformed cache, or both.
int Restyler::MoveRoad(qvLayer* live, LayerStyleWork* work, CommonChanges* changes) {
    qvLayerItem* source = live->sourceItem;
    if (!changes->position) {
        AddBounds(live);
    } else {
        const int32_t x = TargetX(*changes, live), y = TargetY(*changes, live);
        AddBounds(live);
        MoveLayerTo(L_, live, nullptr, x, y, 1, changes->moveFlags, nullptr);
        if (!changes->transform) AddBounds(live);
    }
    // A region on items of their own is transformed with them.
    const bool oneRecord = source == live->pictureItem && source == live->displayItem;
    if (changes->clip && source->clipRegion != nullptr && !oneRecord) changes->transform = true;
    if (!changes->transform) {
        live->transform = work->transform;
        if (changes->filterCachesInvalid && IsObjectUsedByAsyncDraw(live) != 0) {
            BroadcastAsyncDraws(kAsyncLayerChanged, live);
        }
        return 0;
    }
    qvDrawTransform& tf = work->transform;
    if (tf.hasTransform == 0) MakeMatrixFor(&tf, source);
    const qvDrawTransform previous = live->transform;
    live->transform = tf;
    if (int code = BuildLayerCache(L_, live, QV_CACHE_NOREPAINT)) {
        // The layer keeps the cache it had, so it keeps the transform that cache shows; a
        // move already made stays and is shown.
        live->transform = previous;
        AddBounds(live);
        return code;
    }
    AddBounds(live);
    return 0;
}

// The layer is made again from the working copies in its place of the list.
int Restyler::RebuildRoad(qvLayer* live, LayerStyleWork* work, OwnedItem item,
                          const CommonChanges& changes) {
    qvLayer* pred = PredecessorOf(picture_, live);
    int flags = QV_ADDLAYER_REPLACE | QV_ADDLAYER_CALLERREFRESH | QV_ADDLAYER_NOREFRESH |
                QV_ADDLAYER_DISPLAYITEM;
    if (live->hidden != 0) flags |= QV_ADDLAYER_HIDDEN;
    if (auto* print = dynamic_cast<qvTextRender*>(item.get());
        print != nullptr && work->layer.type == gfx::kTypePrint && work->cursorSet) {
        // A print cursor is a place in the text, not a coordinate constant.
        if (print->cursorX == -100000 || print->cursorX == -90000 || print->cursorX == -80000 ||
            print->cursorY == -100000 || print->cursorY == -70000 || print->cursorY == -60000) {
            return ERR_NOCOORDCST;
        }
        print->x = -100000;
    } else if (work->linePoints) {
        item->x = changes.x, item->y = changes.y;
    } else {
        // A relative move lands in the working item; an absolute position once the new content
        // is built (PlaceRebuilt).
        const int32_t dx = (changes.moveFlags & QV_MOVE_RELATIVEX) != 0 ? changes.x : 0;
        const int32_t dy = (changes.moveFlags & QV_MOVE_RELATIVEY) != 0 ? changes.y : 0;
        if (work->layer.type == gfx::kTypeLine) item->Translate(dx, dy);
        item->x = Saturate32(int64_t(item->x) + dx), item->y = Saturate32(int64_t(item->y) + dy);
    }
    AddBounds(live);
    std::unique_ptr<char, decltype(&FreeMemBlock)> name(nullptr, FreeMemBlock);
    if (live->name != nullptr) {
        const size_t size = std::strlen(live->name) + 1;
        name.reset(static_cast<char*>(AllocMemBlock(size, 0)));
        if (name == nullptr) return ERR_MEM;
        std::memcpy(name.get(), live->name, size);
    }
    qvDrawTransform& tf = work->transform;
    tf.anchorx = live->anchorX, tf.anchory = live->anchorY;
    if (tf.hasTransform == 0) MakeMatrixFor(&tf, item.get());
    // The style goes in with the layer so that its first render already has its filters.
    qvDrawStyle style = DefaultDrawStyle();
    style.name[0] = '\0';
    style.insertpos = 0;
    style.hidden = live->hidden;
    style.transparency = int32_t(live->transparency);
    style.shadow = live->shadow;
    style.border = live->border;
    std::memcpy(style.filters, live->filters, sizeof style.filters);
    const bool sameObject = work->layer.objectId.number == live->objectId.number &&
                            work->layer.objectId.handle == live->objectId.handle;
    const qvObjectId creation = sameObject ? live->creationId : work->layer.objectId;
    char group[kLayerGroupSize];
    std::memcpy(group, live->group, sizeof group);
    const int32_t shadowFade = int32_t(live->shadowFade), borderFade = int32_t(live->borderFade);
    const int32_t refreshHold = live->refreshHold, displayRebuild = live->displayRebuild;
    qvLayerItem* made = item.get();
    int code = AddLayer(L_, work->layer.type, &work->layer.objectId, made->x, made->y, made->width,
                        made->height, &tf, &style, nullptr, nullptr, nullptr, item.release(),
                        IndexOfLayer(picture_, live), flags);
    if (code != 0) return code;
    qvLayer* fresh = SuccessorOf(picture_, pred);
    fresh->creationId = creation;
    fresh->shadowFade = uint32_t(shadowFade);
    fresh->borderFade = uint32_t(borderFade);
    fresh->refreshHold = refreshHold;
    fresh->displayRebuild = displayRebuild;
    std::memcpy(fresh->group, group, sizeof group);
    FreeMemBlock(fresh->name);
    fresh->name = name.release();
    if (!work->linePoints) PlaceRebuilt(fresh, changes);
    AddBounds(fresh);
    return 0;
}

// The rebuilt layer goes to the table's absolute position as the position road moves a layer:
// a position constant is resolved against the new content's size, which a text laid out again
// has only now.
void Restyler::PlaceRebuilt(qvLayer* layer, const CommonChanges& changes) {
    const int32_t x =
        (changes.moveFlags & QV_MOVE_RELATIVEX) != 0 ? KEEPPOSITION : TargetX(changes, layer);
    const int32_t y =
        (changes.moveFlags & QV_MOVE_RELATIVEY) != 0 ? KEEPPOSITION : TargetY(changes, layer);
    if (x != KEEPPOSITION || y != KEEPPOSITION)
        MoveLayerTo(L_, layer, nullptr, x, y, 1, 0, nullptr);
}

void Restyler::Finish(int deferred) {
    bool held = false;
    ForEachLayer(&picture_->layers,
                 [&](qvLayer* layer) { held = held || layer->refreshHold != 0; });
    if (deferred == 0 && !toPicture_ && !held) {
        if (dirty.whole) {
            RefreshDisplayArea(L_, 0, 0, picture_->shownWidth, picture_->shownHeight);
        } else {
            // A moved layer's old and new areas mostly overlap: each pixel is composed once.
            MergeDirtyRects(&dirty.rects);
            RedrawLayerArea(L_, &dirty.rects);
        }
    }
    if (cacheKinds_ != 0) FreeUnusedCaches(L_, cacheKinds_);
    picture_->transitionTarget = 1;
}

// Redraws what was collected when the pairs end, by an error raised in the middle too.
class FinishOnExit {
public:
    FinishOnExit(Restyler* restyler, int deferred) : restyler_(restyler), deferred_(deferred) {}
    ~FinishOnExit() { restyler_->Finish(deferred_); }
    FinishOnExit(const FinishOnExit&) = delete;
    FinishOnExit& operator=(const FinishOnExit&) = delete;

private:
    Restyler* restyler_;
    int deferred_;
};

}  // namespace

int SetLayerProperties(qvVmState* L, int argCount, int deferred, int firstSlot) {
    qvBGPic* picture = nullptr;
    if (int code = CheckLayerGuard(&picture)) return code;
    ResetRectList(&dirty.rects);
    dirty.whole = false;
    Restyler restyler(L, picture, firstSlot);
    FinishOnExit finish(&restyler, deferred);
    return restyler.Run(argCount);
}

void FreeLayerStyleRects() {
    FreeRectList(&dirty.rects);
    dirty.whole = false;
}

}  // namespace qv::scene

int SetLayerStyle(qvVmState* L) {
    CheckArgCount(L, 2, 0);
    return qv::scene::SetLayerProperties(L, VmGetTop(L), 0, 1);
}

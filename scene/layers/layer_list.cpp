// The layer list of a background picture: creating and removing layers, freeing the list,
// the lookups by position, name and group, layer names, and the collection of the orphans
// that removed layers leave.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/clip_regions.h"
#include "gfx/library/object_types.h"
#include "platform/linux/blocks.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"
#include "runtime/strings.h"
#include "scene/bgpic.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/transform_matrix.h"
#include "scene/object_hooks.h"

using namespace qv::gfx;
using qv::scene::LayerDisplays;
using qv::scene::Objects;

namespace {

qvRectList workRects{};

qvLayer* AsLayer(qvListNode* node) {
    return reinterpret_cast<qvLayer*>(node);
}

// The node after the layer, or none at the end of the list.
qvLayer* NextLayer(const qvLayer* layer) {
    qvListNode* next = layer->node.succ;
    return next != nullptr && next->succ != nullptr ? AsLayer(next) : nullptr;
}

bool IsIdentity(const double m[4]) {
    return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1;
}

// Frees what a layer owns, the button of the picture attached to it and the record; the layer
// must be unlinked or never linked. Every road that frees a layer comes here, so that no button
// is left pointing at a freed layer.
void FreeLayerRecord(qvVmState* L, qvBGPic* picture, qvLayer* layer) {
    Objects().FreeButtonOfLayer(L, picture, layer);
    FreeLayerItems(layer);
    FreeMemBlock(layer->name);
    FreeRefList(L, layer->references);
    FreeMemBlock(layer);
}

// Links the layer at the insert position: -1 on top, 1 at the bottom, n >= 2 after the
// (n - 1)-th; 0 or a position past the end on top.
void LinkLayer(qvBGPic* picture, qvLayer* layer, int32_t position) {
    qvList* list = &picture->layers;
    if (position == 1) {
        AddHead(list, &layer->node);
        return;
    }
    qvLayer* before = position >= 2 ? GetLayerByIndex(picture, position - 1) : nullptr;
    if (before == nullptr || IsListEmpty(list)) {
        AddTail(list, &layer->node);
    } else {
        InsertNode(list, &layer->node, &before->node);
    }
}

// The style of the drawing tags, or the defaults without them. 0 or the name's error.
int ApplyStyle(qvBGPic* picture, qvLayer* layer, qvDrawStyle* style, int* flags,
               int32_t* insertPos) {
    if (style == nullptr) {
        const qvDrawStyle& defaults = qv::DefaultDrawStyle();
        layer->shadow = defaults.shadow;
        layer->border = defaults.border;
        return 0;
    }
    layer->transparency = uint32_t(std::clamp(style->transparency, 0, 255));
    layer->shadow = style->shadow;
    layer->border = style->border;
    std::memcpy(layer->filters, style->filters, sizeof layer->filters);
    layer->movingFilter = qv::AnyMovingFilter(layer->filters) ? 1 : 0;
    if (style->hidden != 0) *flags |= QV_ADDLAYER_HIDDEN;
    if (style->name[0] != '\0') {
        if (const int code = SetLayerNameString(layer, style->name)) return code;
    }
    if (style->insertpos > 0) {
        style->insertpos = std::min(style->insertpos, CountLayers(picture) + 1);
        *insertPos = style->insertpos;
    }
    return 0;
}

// The drawing's transform and anchor; the draw position follows the anchor (not for lines,
// whose position is an end point).
void ApplyTransform(qvLayer* layer, const qvDrawTransform* transform, qvLayerItem* item,
                    int32_t width, int32_t height) {
    if (transform == nullptr) {
        layer->transform = qv::kInitialDrawTransform;
        return;
    }
    layer->transform = *transform;
    layer->anchorX = transform->anchorx;
    layer->anchorY = transform->anchory;
    if (layer->type == kTypeLine) return;
    using qv::scene::Anchored;
    item->anchoredX = Anchored(item->anchoredX, width, layer->anchorX);
    item->anchoredY = Anchored(item->anchoredY, height, layer->anchorY);
    item->drawX = Anchored(item->drawX, width, layer->anchorX);
    item->drawY = Anchored(item->drawY, height, layer->anchorY);
}

// The new layer takes the place of the one it replaces: its buttons, its clip region, the
// clip-transform flag and its script references. Undone (from the new layer back to the
// old) when the new layer cannot be made after all.
void TakeOver(qvBGPic* picture, qvLayer* from, qvLayer* to) {
    Objects().MoveButtons(picture, from, to);
    std::swap(to->sourceItem->clipRegion, from->sourceItem->clipRegion);
    std::swap(to->sourceItem->ownsClipRegion, from->sourceItem->ownsClipRegion);
    to->noClipTransform = from->noClipTransform;
    std::swap(to->references, from->references);
}

// Whether the display scales its layers by a factor other than 1.
bool ScalesLayers(const qvDisplay* display) {
    if (display == nullptr) return false;
    const qv::scene::DisplayScale scale = LayerDisplays().Scale(display);
    return scale.layerScaling && (scale.x != 1.0 || scale.y != 1.0);
}

// A text laid out again from its record is as large as its new image: the item takes that
// size, and its anchor moves it by the new size (the text placed its image so already).
void TakeDrawnTextSize(qvLayer* layer) {
    if (layer->type != kTypeTextOut && layer->type != kTypePrint) return;
    qvLayerItem* item = layer->sourceItem;
    using qv::scene::AnchorShift;
    const int32_t dx =
        AnchorShift(item->drawWidth, layer->anchorX) - AnchorShift(item->width, layer->anchorX);
    const int32_t dy =
        AnchorShift(item->drawHeight, layer->anchorY) - AnchorShift(item->height, layer->anchorY);
    item->width = item->drawWidth, item->height = item->drawHeight;
    item->anchoredX = qv::Saturate32(int64_t(item->anchoredX) - dx);
    item->anchoredY = qv::Saturate32(int64_t(item->anchoredY) - dy);
}

// A text laid out again under a transform keeps, as every transformed layer does, the size
// of its upright layout: drawn upright once to measure it. A matrix made from an explicit
// size follows the new size.
int TakeRelaidTextSize(qvVmState* L, qvLayer* layer) {
    if (layer->type != kTypeTextOut && layer->type != kTypePrint) return 0;
    if (int code = RenderUprightContent(L, layer)) return code;
    TakeDrawnTextSize(layer);
    qvLayerItem* item = layer->sourceItem;
    FreeLayerImage(&item->image);
    qvDrawTransform& tf = layer->transform;
    if (tf.hasTransform == 0) {
        MakeTransformMatrix(tf.matrix, tf.width, tf.height, item->width, item->height, tf.rotate,
                            tf.scalex, tf.scaley);
    }
    return 0;
}

// The display item under layer scaling, or the picture item under a transform.
int BuildItems(qvVmState* L, qvLayer* layer, qvBGPic* picture, qvDisplay* display, int flags) {
    if (!IsIdentity(layer->transform.matrix)) {
        if ((flags & QV_ADDLAYER_REPLACE) != 0) {
            if (int code = TakeRelaidTextSize(L, layer)) return code;
        }
        return BuildLayerCache(L, layer, QV_CACHE_NOREPAINT);
    }
    // An upright drawn layer made from a bare item (one the style engine rebuilds) draws it.
    if (layer->sourceItem->image.bitmap == nullptr && DrawsOwnImage(layer->type)) {
        if (int code = RenderUprightContent(L, layer)) return code;
        TakeDrawnTextSize(layer);
    }
    if ((flags & QV_ADDLAYER_DISPLAYITEM) == 0 || !ScalesLayers(display)) return 0;
    if (LayerDisplays().ShownPicture(display) != picture && QueryAsyncDraws() != picture) return 0;
    int mode = QV_CACHE_DISPLAYITEM | QV_CACHE_NOPREVIOUS;
    if ((flags & QV_ADDLAYER_CALLERREFRESH) != 0) mode |= QV_CACHE_NOREPAINT;
    return BuildLayerCache(L, layer, mode);
}

int CollectKind(uint32_t type) {
    switch (type) {
        case kTypeBrush:
        case kTypeBrushPart:
            return QV_CACHE_BRUSHES;
        case kTypeAnim:
            return QV_CACHE_ANIMS;
        case kTypeTextObject:
            return QV_CACHE_TEXTOBJECTS;
        case kTypeBGPicPart:
            return QV_CACHE_BGPICS;
        default:
            return 0;
    }
}

bool SameText(const char* a, const char* b) {
    return a != nullptr && a[0] != '\0' && StrICmp(a, b) == 0;
}

// The option tables' lookup of a layer name in the current output picture.
int LookupLayerName(qvVmState*, const char* name, int32_t* layer) {
    const int32_t position = IndexOfLayerByName(LayerDisplays().OutputPicture(), name);
    if (position == 0) return 0;
    *layer = position;
    return 1;
}

}  // namespace

int AddLayer(qvVmState* L, uint32_t type, const qvObjectId* id, int32_t x, int32_t y, int32_t width,
             int32_t height, const qvDrawTransform* transform, qvDrawStyle* style,
             qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha, qvLayerItem* item,
             int32_t insertPos, int flags) {
    item->image = {bitmap, mask, alpha};
    item->anchoredX = item->drawX = x;
    item->anchoredY = item->drawY = y;
    item->drawWidth = width, item->drawHeight = height;
    qvBGPic* picture = LayerDisplays().OutputPicture();
    auto* layer = static_cast<qvLayer*>(AllocMemBlock(sizeof(qvLayer), 1));
    if (picture == nullptr || layer == nullptr) {
        FreeMemBlock(layer);
        FreeLayerItem(item);
        return picture == nullptr ? ERR_NOLAYERS : ERR_MEM;
    }
    layer->sourceItem = layer->pictureItem = layer->displayItem = item;
    if (const int code = ApplyStyle(picture, layer, style, &flags, &insertPos)) {
        FreeLayerRecord(L, picture, layer);
        return code;
    }
    qvDisplay* display = Graphics().Host().CurrentDisplay();
    layer->type = type;
    layer->hidden = (flags & QV_ADDLAYER_HIDDEN) != 0 ? 1 : 0;
    layer->deferred = layer->hidden == 0 && display != nullptr &&
                      Graphics().View(display).outputType == kTargetBGPic &&
                      LayerDisplays().ShownPicture(display) == picture;
    if ((flags & QV_ADDLAYER_REPLACE) == 0) item->clipRegion = picture->clipRegion;
    picture->transitionTarget = 1;
    ApplyTransform(layer, transform, item, width, height);
    if (id != nullptr) layer->objectId = layer->creationId = *id;
    LinkLayer(picture, layer, insertPos);
    const bool onTop = NextLayer(layer) == nullptr;
    // A replacement without a layer to replace is a plain add.
    qvLayer* replaced = (flags & QV_ADDLAYER_REPLACE) != 0 ? NextLayer(layer) : nullptr;
    if (replaced != nullptr) TakeOver(picture, replaced, layer);
    if (const int code = BuildItems(L, layer, picture, display, flags)) {
        if (replaced != nullptr) TakeOver(picture, layer, replaced);
        RemoveNode(&layer->node);
        FreeLayerRecord(L, picture, layer);
        return code;
    }
    const int noRefresh = (flags & QV_ADDLAYER_NOREFRESH) != 0 ? 1 : 0;
    if (replaced != nullptr) {
        BroadcastAsyncDraws(kAsyncLayerReplaced, replaced);
        RemoveLayerRecord(L, replaced, noRefresh, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    if (layer->hidden != 0 || noRefresh != 0) return 0;
    // A plain layer on top is painted by the drawing command itself, unless the display
    // scales its layers: then no direct blit shows it. Nor does one show a transformed layer.
    const bool plain = onTop && !LayerHasFilter(layer) && layer->transparency == 0 &&
                       layer->shadow.on == 0 && layer->border.on == 0 &&
                       IsIdentity(layer->transform.matrix);
    if (!plain || ScalesLayers(display)) RefreshLayer(L, layer);
    return 0;
}

int AddBrushLayer(qvVmState* L, uint32_t type, const qvObjectId* id, int32_t partX, int32_t partY,
                  int32_t x, int32_t y, int32_t width, int32_t height,
                  const qvDrawTransform* transform, qvDrawStyle* style, qvDisplayBitMap* bitmap,
                  qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t insertPos, int flags) {
    auto* item = qv::NewBlock<qvImageItem>();
    if (item == nullptr) {
        FreeDisplayBitMap(bitmap);
        FreePlaneBitMap(mask);
        FreePlaneBitMap2(alpha);
        return ERR_MEM;
    }
    item->partX = partX, item->partY = partY;
    item->x = x, item->y = y;
    item->width = width, item->height = height;
    return AddLayer(L, type, id, x, y, width, height, transform, style, bitmap, mask, alpha, item,
                    insertPos, flags);
}

void RemoveLayerRecord(qvVmState* L, qvLayer* layer, int noRefresh, int32_t* x, int32_t* y,
                       int32_t* width, int32_t* height, qvRectList* list) {
    int32_t bx, by, bw, bh;
    GetLayerBounds(L, layer, layer->displayItem, &bx, &by, &bw, &bh);
    if (x != nullptr) *x = bx;
    if (y != nullptr) *y = by;
    if (width != nullptr) *width = bw;
    if (height != nullptr) *height = bh;
    const uint32_t type = layer->type;
    if (noRefresh == 0) {
        // Painted without the layer.
        layer->type = kTypeNoObject;
        if (list == nullptr || !AppendRect(list, bx, by, bw, bh, true)) {
            RefreshRect(L, bx, by, bw, bh);
        }
        layer->type = type;
    }
    qvBGPic* picture = LayerDisplays().OutputPicture();
    if (picture != nullptr) picture->transitionTarget = 1;
    RemoveNode(&layer->node);
    FreeLayerRecord(L, picture, layer);
    FreeUnusedCaches(L, CollectKind(type));
}

void FreeLayerList(qvVmState* L, qvBGPic* picture, bool collect) {
    while (qvListNode* node = RemHead(&picture->layers)) FreeLayerRecord(L, picture, AsLayer(node));
    if (collect) FreeUnusedCaches(L, QV_CACHE_ALL);
}

qvLayer* GetLayerByIndex(const qvBGPic* picture, int32_t n) {
    if (picture == nullptr || n < 1) return nullptr;
    for (qvListNode* node = picture->layers.head; node->succ != nullptr; node = node->succ) {
        if (--n == 0) return AsLayer(node);
    }
    return nullptr;
}

int32_t CountLayers(const qvBGPic* picture) {
    if (picture == nullptr) return 0;
    int32_t count = 0;
    for (qvListNode* node = picture->layers.head; node->succ != nullptr; node = node->succ) {
        ++count;
    }
    return count;
}

int32_t IndexOfLayer(const qvLayer* layer) {
    return IndexOfLayer(LayerDisplays().OutputPicture(), layer);
}

int32_t IndexOfLayer(const qvBGPic* picture, const qvLayer* layer) {
    if (picture == nullptr) return -1;
    int32_t position = 1;
    for (qvListNode* node = picture->layers.head; node->succ != nullptr; node = node->succ) {
        if (AsLayer(node) == layer) return position;
        ++position;
    }
    return -1;
}

int32_t IndexOfLayerByName(const qvBGPic* picture, const char* name) {
    if (picture == nullptr) return 0;
    int32_t position = 1;
    for (qvListNode* node = picture->layers.head; node->succ != nullptr; node = node->succ) {
        if (SameText(AsLayer(node)->name, name)) return position;
        ++position;
    }
    return 0;
}

bool LayerHasFilter(const qvLayer* layer) {
    return qv::AnyFilterEnabled(layer->filters);
}

int32_t FindLayerArg(qvVmState* L, int idx, const qvBGPic* picture) {
    switch (VmType(L, idx)) {
        case VM_TNUMBER:
            return GetOptIntArg(L, idx, nullptr);
        case VM_TSTRING: {
            const char* name = VmToString(L, idx);
            const int32_t position = IndexOfLayerByName(picture, name);
            if (position != 0) return position;
            SetErrorString(name);
            RaiseError(L, ERR_FINDLAYER);
        }
        default:
            SetErrorNumber(uint32_t(idx));
            RaiseError(L, ERR_STRORNUM);
    }
}

int FindLayerOrGroup(qvVmState* L, int idx, const qvBGPic* picture, qvLayer** layer,
                     int32_t* matchIndex, int32_t* group) {
    *layer = nullptr;
    const int type = VmType(L, idx);
    if (type != VM_TNUMBER && type != VM_TSTRING) {
        SetErrorNumber(uint32_t(idx));
        return ERR_STRORNUM;
    }
    if (type == VM_TNUMBER) {
        *layer = GetLayerByIndex(picture, GetOptIntArg(L, idx, nullptr));
        *matchIndex = -1, *group = 0;
        return *layer != nullptr ? 0 : ERR_LAYERRANGE;
    }
    const char* name = VmToString(L, idx);
    if (const int32_t position = IndexOfLayerByName(picture, name)) {
        *layer = GetLayerByIndex(picture, position);
        *matchIndex = -1, *group = 0;
        return 0;
    }
    int32_t rank = 0;
    for (qvListNode* node = picture != nullptr ? picture->layers.head : nullptr;
         node != nullptr && node->succ != nullptr; node = node->succ) {
        qvLayer* member = AsLayer(node);
        if (!SameText(member->group, name)) continue;
        if (*layer != nullptr) {
            *matchIndex = rank;
            return 0;
        }
        if (rank++ == *matchIndex) {
            *layer = member;
            *group = 1;
        }
    }
    if (*layer != nullptr) {
        *matchIndex = -1;
        return 0;
    }
    SetErrorString(name);
    return ERR_FINDLAYER;
}

int SetLayerNameString(qvLayer* layer, const char* name) {
    const size_t length = std::strlen(name);
    if (length > size_t(kLayerNameLength)) return ERR_NAMETOOLONG;
    char* copy = nullptr;
    if (length > 0) {
        if (const qvBGPic* picture = LayerDisplays().OutputPicture()) {
            for (qvListNode* node = picture->layers.head; node->succ != nullptr;
                 node = node->succ) {
                const qvLayer* other = AsLayer(node);
                // A layer may change the case of its own name.
                if ((other != layer && SameText(other->name, name)) ||
                    SameText(other->group, name)) {
                    return ERR_NAMEUSED;
                }
            }
        }
        copy = static_cast<char*>(AllocMemBlock(length + 1, 0));
        if (copy == nullptr) return ERR_MEM;
        std::memcpy(copy, name, length + 1);
    }
    FreeMemBlock(layer->name);
    layer->name = copy;
    return 0;
}

void GetLayerMaskAlphaSlots(qvLayer* layer, int32_t frame, qvPlaneBitMap*** mask,
                            qvPlaneBitMap*** alpha) {
    *mask = nullptr, *alpha = nullptr;
    switch (layer->type) {
        case kTypeBrush:
        case kTypeBrushPart:
            Objects().PlaneSlots(kTypeBrush, layer->objectId, 0, mask, alpha);
            return;
        case kTypeAnim:
            Objects().PlaneSlots(kTypeAnim, layer->objectId, frame, mask, alpha);
            return;
        case kTypeBGPicPart: {
            qvLayerImage& own = layer->sourceItem->image;
            if (own.bitmap != nullptr) {
                *mask = &own.mask, *alpha = &own.alpha;
                return;
            }
            qvBGPic* picture = nullptr;
            if (GetBGPic(nullptr, layer->objectId, &picture, QV_BGPIC_ORPHANS) == 0) {
                *mask = &picture->shown.mask, *alpha = &picture->shown.alpha;
            }
            return;
        }
        default:
            return;
    }
}

void FreeUnusedCaches(qvVmState* L, int flags) {
    qv::scene::ObjectHooks& objects = Objects();
    if ((flags & QV_CACHE_BRUSHES) != 0) objects.FreeOrphanBrushes(L);
    if ((flags & QV_CACHE_ANIMS) != 0) objects.FreeOrphanAnims(L);
    if ((flags & QV_CACHE_TEXTOBJECTS) != 0) objects.FreeOrphanTextObjects(L);
    if ((flags & QV_CACHE_BGPICS) != 0) FreeOrphanBGPics(L);
    FreeUnusedClipRegions(L);
}

int InitLayerLists() {
    if (workRects.capacity == 0 && InitRectList(&workRects, kRectListGrowth) != 0) {
        return ERR_MEM;
    }
    qv::SetLayerNameLookup(LookupLayerName);
    return 0;
}

void FreeLayerLists(qvVmState*) {
    FreeRectList(&workRects);
    qv::SetLayerNameLookup(nullptr);
}

namespace qv::scene {

qvRectList* WorkRects() {
    return &workRects;
}

}  // namespace qv::scene

#include "scene/layers/layers_library.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "engine/convert.h"
#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/object_types.h"
#include "media/anim_store.h"
#include "objects/brush.h"
#include "objects/display_engine.h"
#include "objects/draw_tags.h"
#include "objects/text/text_objects.h"
#include "platform/linux/debug_output.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/option_tables.h"
#include "scene/attribute_providers.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/layers_commands.h"
#include "scene/layers/style_engine.h"
#include "scene/layers/style_rows_objects.h"
#include "scene/layers/style_table.h"
#include "scene/object_hooks.h"

namespace qv::scene {
namespace {

using gfx::Graphics;

// More layers than this in one RemoveLayer is an internal limit.
constexpr int kMaxMatches = 256;

qvDisplay* CurrentDisplay() {
    return Graphics().Host().CurrentDisplay();
}

gfx::DisplayView CurrentView() {
    qvDisplay* display = CurrentDisplay();
    return display != nullptr ? Graphics().Host().ViewDisplay(display) : gfx::DisplayView{};
}

// Drawing goes into a picture (SelectBGPic): changes are recorded, not repainted.
bool OutputIsPicture() {
    return CurrentView().outputType == gfx::kTypeBGPic;
}

// The list changes collect their rectangles in, or none when each change records its own.
qvRectList* BatchList() {
    if (OutputIsPicture()) return nullptr;
    qvRectList* work = WorkRects();
    work->count = 0;
    return work;
}

void FlushBatch(qvVmState* L, qvRectList* batch) {
    if (batch != nullptr) RedrawLayerArea(L, batch);
}

bool OwnedByAsyncDraw(const qvLayer* layer) {
    return IsObjectUsedByAsyncDraw(layer) != 0;
}

// The layer argument idx as a position, read before the guard (its lookup errors raised).
int32_t LayerArg(qvVmState* L, int idx) {
    return FindLayerArg(L, idx, LayerDisplays().OutputPicture());
}

struct Box {
    int32_t x, y, width, height;
};

Box BoundsOf(qvVmState* L, qvLayer* layer) {
    Box b{};
    GetLayerBounds(L, layer, layer->displayItem, &b.x, &b.y, &b.width, &b.height);
    return b;
}

bool PartlyInside(const Box& b, const qvBGPic* picture) {
    return PartlyOnPicture(picture, b.x, b.y, b.width, b.height);
}

void RefreshBox(qvVmState* L, const Box& b) {
    RefreshRect(L, b.x, b.y, b.width, b.height);
}

Box Union(Box a, const Box& b) {
    UnionRects(&a.x, &a.y, &a.width, &a.height, b.x, b.y, b.width, b.height);
    return a;
}

qvListNode* PredOf(qvList* list, qvListNode* node) {
    return node->pred == reinterpret_cast<qvListNode*>(list) ? nullptr : node->pred;
}

void ExchangeNodes(qvList* list, qvListNode* a, qvListNode* b) {
    if (a->succ == b) std::swap(a, b);
    if (b->succ == a) {  // neighbours: b comes first
        qvListNode* pred = PredOf(list, b);
        RemoveNode(a);
        InsertNode(list, a, pred);
        return;
    }
    qvListNode* predA = PredOf(list, a);
    qvListNode* predB = PredOf(list, b);
    RemoveNode(a);
    RemoveNode(b);
    InsertNode(list, a, predB);
    InsertNode(list, b, predA);
}

// Exchanges two layers and refreshes what both cover when both lie partly inside. A layer
// exchanged with one wholly outside still moves past the layers between them, so its own
// bounds are refreshed.
void ExchangeLayers(qvVmState* L, qvBGPic* picture, qvLayer* a, qvLayer* b) {
    const Box ba = BoundsOf(L, a), bb = BoundsOf(L, b);
    ExchangeNodes(&picture->layers, &a->node, &b->node);
    picture->transitionTarget = 1;
    const bool insideA = PartlyInside(ba, picture), insideB = PartlyInside(bb, picture);
    if (insideA && insideB) {
        RefreshBox(L, Union(ba, bb));
    } else if (insideA || insideB) {
        RefreshBox(L, insideA ? ba : bb);
    }
}

// Every layer the layer-or-group argument idx names, after the guard; all errors returned.
int CollectLayers(qvVmState* L, int idx, qvBGPic** picture, std::vector<qvLayer*>* out,
                  int32_t* isGroup = nullptr) {
    if (int guard = CheckLayerGuard(picture)) return guard;
    const qvBGPic* output = *picture;
    int32_t match = 0, group = 0;
    qvLayer* layer = nullptr;
    int code = FindLayerOrGroup(L, idx, output, &layer, &match, &group);
    if (code != 0) return code;
    out->push_back(layer);
    while (match != -1) {
        if ((code = FindLayerOrGroup(L, idx, output, &layer, &match, &group)) != 0) return code;
        if (out->size() >= size_t(kMaxMatches)) return ERR_INTERNAL;
        out->push_back(layer);
    }
    if (isGroup != nullptr) *isGroup = group;
    return 0;
}

// --- Switching layers ---

int EnableLayers(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    if (int code = CanSwitchLayers(L)) return code;
    Displays().current->layersEnabled = 1;
    return 0;
}

int DisableLayers(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    qvDisplay* display = Displays().current;
    if (display == nullptr) return ERR_NOLAYERS;
    if (DisplayHasAsyncDraws(display) != 0) return ERR_LAYERSWITCH;
    if (display->outputType != gfx::kTypeDisplay) return ERR_LAYERSON;
    if (display->settings.layerScaling != 0) return ERR_NODISLAYERS;
    display->layersEnabled = 0;
    return 0;
}

// --- Making and inserting ---

struct CreateOptions {
    uint32_t alpha = 0, mask = 0, clear = 0;
    int32_t colour = 0;
    int32_t frames = 0;
};

CreateOptions ReadCreateOptions(qvVmState* L, int idx) {
    CreateOptions o;
    if (VmType(L, idx) != VM_TTABLE) return o;
    GetTableFieldBool(L, idx, "alphachannel", &o.alpha, nullptr);
    GetTableFieldBool(L, idx, "mask", &o.mask, nullptr);
    GetTableFieldBool(L, idx, "clear", &o.clear, nullptr);
    GetTableFieldInt(L, idx, "color", &o.colour, nullptr);
    GetTableFieldInt(L, idx, "frames", &o.frames, nullptr);
    return o;
}

// n frames of width x height in the colour with a mask or an alpha plane each when asked
// (cleared, or fully set), shown as a private anim layer at (x, y).
int CreateAnimLayer(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height,
                    const CreateOptions& o) {
    qvAnimFrames frames;
    for (int32_t i = 0; i < o.frames; ++i) {
        qvBrush* made = nullptr;
        if (int code = CreateBrushBitmaps(AutomaticBrushId(), width, height, uint32_t(o.colour),
                                          o.mask != 0, o.alpha != 0, o.clear != 0, false, &made)) {
            return code;
        }
        // The planes move from the work brush into the frame arrays.
        frames.bitmaps.push_back(std::exchange(made->bitmap, nullptr));
        frames.masks.push_back(std::exchange(made->mask, nullptr));
        frames.alphas.push_back(std::exchange(made->alpha, nullptr));
        FreeBrushById(L, {made->header.id, made->header.handle}, false);
    }
    qvObjectId id = AutomaticAnimId();
    qvAnim* anim = nullptr;
    if (int code = AddAnim(&id, width, height, &frames, o.mask != 0 ? 0xAFC0DE : -1, &anim)) {
        return code;
    }
    anim->orphan = 1;  // the layer's own
    const int flags = QV_ADDLAYER_DISPLAYITEM | QV_ADDLAYER_CALLERREFRESH;
    if (int code =
            AddAnimLayer(L, id, ResolvePosX(x, width, 0, 0.0), ResolvePosY(y, height, 0, 0.0),
                         anim->width, anim->height, 0, anim->frameCount, -1, flags)) {
        FreeOrphanAnims(L);
        return code;
    }
    RefreshLayer(L, reinterpret_cast<qvLayer*>(LayerDisplays().OutputPicture()->layers.tailPred));
    return 0;
}

int CreateLayer(qvVmState* L) {
    CheckArgCount(L, 4, 5);
    if (int code = CheckLayerGuard(nullptr)) return code;
    const int32_t x = Trunc32(GetArgNumber(L, 1)), y = Trunc32(GetArgNumber(L, 2));
    const int32_t width = Trunc32(GetArgNumber(L, 3)), height = Trunc32(GetArgNumber(L, 4));
    const CreateOptions o = ReadCreateOptions(L, 5);
    if (o.frames < 0 || (o.alpha != 0 && o.mask != 0)) return ERR_WRONGUSAGE;
    if (o.frames > 0) return CreateAnimLayer(L, x, y, width, height, o);
    qvBrush* brush = nullptr;
    if (int code = CreateBrushBitmaps(AutomaticBrushId(), width, height, uint32_t(o.colour),
                                      o.mask != 0, o.alpha != 0, o.clear != 0, false, &brush)) {
        return code;
    }
    const qvObjectId id{brush->header.id, brush->header.handle};
    // Shown as any brush is, which paints the new top layer too.
    if (int code = DisplayBrushAsLayer(L, id, x, y, 0)) {
        FreeBrushById(L, id, false);
        return code;
    }
    // The layer holds the brush alone: an orphan, collected with it.
    brush->orphan = 1;
    return 0;
}

int InsertLayer(qvVmState* L) {
    CheckArgCount(L, 5, 6);
    const int32_t position = GetOptIntArg(L, 1, nullptr);
    const uint32_t type = GetArgUInt32(L, 2);
    const qvObjectId id = GetObjectIdArg(L, 3);
    const int32_t x = Trunc32(GetArgNumber(L, 4)), y = Trunc32(GetArgNumber(L, 5));
    const int hidden = GetOptIntArg(L, 6, nullptr) != 0 ? 1 : 0;
    if (int code = CheckLayerGuard(nullptr)) return code;
    qvLayer* layer = nullptr;
    if (int code = InsertLayerRecord(L, type, id, x, y, position, hidden, &layer)) return code;
    if (hidden == 0) RefreshLayer(L, layer);
    return 0;
}

// --- Removing ---

int RemoveLayer(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBGPic* picture = nullptr;
    std::vector<qvLayer*> layers;
    if (int code = CollectLayers(L, 1, &picture, &layers)) return code;
    if (std::any_of(layers.begin(), layers.end(), OwnedByAsyncDraw)) return ERR_REMADLAYER;
    qvRectList* batch = BatchList();
    for (qvLayer* layer : layers) {
        RemoveLayerRecord(L, layer, 0, nullptr, nullptr, nullptr, nullptr, batch);
    }
    FlushBatch(L, batch);
    picture->transitionTarget = 1;
    return 0;
}

bool AnyOwnedByAsyncDraw(qvBGPic* picture) {
    bool owned = false;
    ForEachLayer(&picture->layers,
                 [&](qvLayer* layer) { owned = owned || OwnedByAsyncDraw(layer); });
    return owned;
}

// The picture composed without sprites becomes the display's background bitmap.
void ComposeIntoDisplayBitmap(qvVmState* L, qvBGPic* picture, bool toWindow) {
    qvDisplay* display = CurrentDisplay();
    const gfx::DisplayView view = CurrentView();
    qvDisplayBitMap* composition = view.backBuffers[1];
    qvDisplayBitMap* background = view.backBuffers[0];
    if (display == nullptr || composition == nullptr || background == nullptr) return;
    const int32_t width = picture->shownWidth, height = picture->shownHeight;
    Redraw(L, display, picture, composition, 0, 0, width, height, 0, QV_REDRAW_NOSPRITES);
    CopyWholeBitMap(composition, background, width, height);
    if (toWindow)
        BltToDisplay(composition, 0, 0, display, 0, 0, width, height, QV_REFRESH_AUTOSCALE);
}

int FreeLayers(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    const bool keep = GetOptArgNumber(L, 1, 1) != 0;
    qvBGPic* picture = nullptr;
    if (int code = CheckLayerGuard(&picture)) return code;
    if (AnyOwnedByAsyncDraw(picture)) return ERR_REMADLAYER;
    qvDisplay* display = CurrentDisplay();
    const bool shown = LayerDisplays().ShownPicture(display) == picture;
    picture->transitionTarget = 1;
    if (OutputIsPicture() && !shown) {
        if (keep) return ERR_WRONGUSAGE;
        FreeLayerList(L, picture, true);
        return 0;
    }
    if (keep) {
        ComposeIntoDisplayBitmap(L, picture, false);
        FreeLayerList(L, picture, true);
        return 0;
    }
    FreeLayerList(L, picture, true);
    if (OutputIsPicture()) {
        AddDirtyRect(L, 0, 0, picture->width, picture->height);
    } else {
        ComposeIntoDisplayBitmap(L, picture, true);
    }
    return 0;
}

// The n-th layer from the top showing type with that creation id, or none.
qvLayer* FindUndoLayer(qvBGPic* picture, uint32_t type, qvObjectId id, int32_t n) {
    for (qvListNode* node = picture->layers.tailPred; node->pred != nullptr; node = node->pred) {
        auto* layer = reinterpret_cast<qvLayer*>(node);
        if (layer->type == type && layer->creationId.number == id.number &&
            layer->creationId.handle == id.handle) {
            if (n <= 1) return layer;  // a count of 1 or less names the topmost
            --n;
        }
    }
    return nullptr;
}

int UndoLayer(qvVmState* L, qvBGPic* picture, uint32_t type, qvObjectId id, int32_t n,
              int noRefresh, Box* removed) {
    qvLayer* layer = FindUndoLayer(picture, type, id, n);
    if (layer == nullptr) return 1;
    if (OwnedByAsyncDraw(layer)) return ERR_REMADLAYER;
    Box b{};
    RemoveLayerRecord(L, layer, noRefresh, &b.x, &b.y, &b.width, &b.height, nullptr);
    picture->transitionTarget = 1;
    if (removed != nullptr) *removed = b;
    return 0;
}

int Undo(qvVmState* L) {
    CheckArgCount(L, 1, 4);
    const uint32_t type = GetArgUInt32(L, 1);
    const qvObjectId id = VmGetTop(L) >= 2 ? GetObjectIdArg(L, 2) : qvObjectId{0, nullptr};
    const int32_t n = Trunc32(GetOptArgNumber(L, 3, 1));
    const int noRefresh = GetOptArgNumber(L, 4, 0) != 0 ? 1 : 0;
    qvBGPic* picture = nullptr;
    if (int code = CheckLayerGuard(&picture)) return code;
    const int code = UndoLayer(L, picture, type, id, n, noRefresh, nullptr);
    return code == 1 ? 0 : code;
}

// --- Names and lookups ---

int SetLayerName(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t position = GetOptIntArg(L, 1, nullptr);
    const char* name = GetArgString(L, 2, nullptr);
    qvBGPic* picture = nullptr;
    if (int code = CheckLayerGuard(&picture)) return code;
    qvLayer* layer = GetLayerByIndex(picture, position < 1 ? CountLayers(picture) : position);
    if (layer == nullptr) return ERR_LAYERRANGE;
    return SetLayerNameString(layer, name);
}

int LayerExists(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* name = GetArgString(L, 1, nullptr);
    qvBGPic* picture = nullptr;
    if (int code = CheckLayerGuard(&picture)) return code;
    VmPushNumber(L, IndexOfLayerByName(picture, name) != 0 ? 1 : 0);
    return 1;
}

int GetLayerAtPos(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t x = Trunc32(GetArgNumber(L, 1)), y = Trunc32(GetArgNumber(L, 2));
    qvBGPic* picture = nullptr;
    if (int code = CheckLayerGuard(&picture)) return code;
    int32_t position = CountLayers(picture);
    for (qvListNode* node = picture->layers.tailPred; node->pred != nullptr;
         node = node->pred, --position) {
        const auto* layer = reinterpret_cast<const qvLayer*>(node);
        const qvLayerItem* item = layer->displayItem;
        if (item != nullptr && x >= item->drawX && y >= item->drawY &&
            int64_t(x) < int64_t(item->drawX) + item->drawWidth &&
            int64_t(y) < int64_t(item->drawY) + item->drawHeight) {
            VmPushNumber(L, position);
            VmPushString(L, layer->name != nullptr ? layer->name : "");
            return 2;
        }
    }
    VmPushNumber(L, 0);
    VmPushString(L, "");
    return 2;
}

// --- Reordering ---

int SwapLayers(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t first = LayerArg(L, 1), second = LayerArg(L, 2);
    qvBGPic* picture = nullptr;
    qvLayer *a = nullptr, *b = nullptr;
    if (int code = GuardedLayer(first, &picture, &a)) return code;
    if (int code = GuardedLayer(second, &picture, &b)) return code;
    if (a == b) return ERR_WRONGUSAGE;
    ExchangeLayers(L, picture, a, b);
    return 0;
}

int ExchangeWithEnd(qvVmState* L, bool top) {
    CheckArgCount(L, 1, 1);
    const int32_t position = LayerArg(L, 1);
    qvBGPic* picture = nullptr;
    qvLayer* layer = nullptr;
    if (int code = GuardedLayer(position, &picture, &layer)) return code;
    qvLayer* end =
        reinterpret_cast<qvLayer*>(top ? picture->layers.tailPred : picture->layers.head);
    if (end != layer) ExchangeLayers(L, picture, layer, end);
    return 0;
}

int LayerToFront(qvVmState* L) {
    return ExchangeWithEnd(L, true);
}

int LayerToBack(qvVmState* L) {
    return ExchangeWithEnd(L, false);
}

int SetLayerZPos(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t position = LayerArg(L, 1);
    const int32_t target = GetOptIntArg(L, 2, nullptr);
    qvBGPic* picture = nullptr;
    qvLayer* layer = nullptr;
    if (int code = GuardedLayer(position, &picture, &layer)) return code;
    if (target == position || target < 0) return ERR_WRONGUSAGE;
    const int32_t count = CountLayers(picture);
    const int32_t place = target == 0 || target > count ? count : target;
    if (place == position) return 0;
    qvLayer* there = GetLayerByIndex(picture, place);
    RemoveNode(&layer->node);
    // Moving up it goes after the layer now at the place, moving down before it.
    qvListNode* pred = place > position ? &there->node : PredOf(&picture->layers, &there->node);
    InsertNode(&picture->layers, &layer->node, pred);
    picture->transitionTarget = 1;
    RefreshLayer(L, layer);
    return 0;
}

// --- Showing, hiding and moving ---

// The bounding box of a group's members from their anchored positions and source sizes.
Box GroupBox(const std::vector<qvLayer*>& members) {
    int64_t x1 = INT32_MAX, y1 = INT32_MAX, x2 = INT32_MIN, y2 = INT32_MIN;
    for (const qvLayer* layer : members) {
        const qvLayerItem* item = layer->sourceItem;
        x1 = std::min<int64_t>(x1, item->anchoredX);
        y1 = std::min<int64_t>(y1, item->anchoredY);
        x2 = std::max<int64_t>(x2, int64_t(item->anchoredX) + item->width);
        y2 = std::max<int64_t>(y2, int64_t(item->anchoredY) + item->height);
    }
    const auto side = [](int64_t length) { return int32_t(std::min<int64_t>(length, INT32_MAX)); };
    return {int32_t(x1), int32_t(y1), side(x2 - x1), side(y2 - y1)};
}

int SetLayerVisible(qvVmState* L, bool show) {
    int32_t x = KEEPPOSITION, y = KEEPPOSITION;
    if (show) {
        CheckArgCount(L, 1, 3);
        x = Trunc32(GetOptArgNumber(L, 2, KEEPPOSITION));
        y = Trunc32(GetOptArgNumber(L, 3, KEEPPOSITION));
    } else {
        CheckArgCount(L, 1, 2);  // the second argument is accepted whatever its type
    }
    qvBGPic* picture = nullptr;
    std::vector<qvLayer*> layers;
    int32_t group = 0;
    if (int code = CollectLayers(L, 1, &picture, &layers, &group)) return code;
    picture->transitionTarget = 1;
    int flags = 0;
    if (group && (x != KEEPPOSITION || y != KEEPPOSITION)) {
        const Box box = GroupBox(layers);
        if (x != KEEPPOSITION)
            x = ResolvePosX(x, box.width, 0, 0.0) - box.x, flags |= QV_MOVE_RELATIVEX;
        if (y != KEEPPOSITION)
            y = ResolvePosY(y, box.height, 0, 0.0) - box.y, flags |= QV_MOVE_RELATIVEY;
    } else if (!group) {
        const qvLayer* layer = layers[0];
        if (x != KEEPPOSITION) x = ResolvePosX(x, layer->sourceItem->width, 0, layer->anchorX);
        if (y != KEEPPOSITION) y = ResolvePosY(y, layer->sourceItem->height, 0, layer->anchorY);
    }
    qvRectList* batch = BatchList();
    for (qvLayer* layer : layers) {
        layer->hidden = show ? 0 : 1;
        MoveLayerTo(L, layer, nullptr, x, y, 0, flags, batch);
    }
    FlushBatch(L, batch);
    return 0;
}

int ShowLayer(qvVmState* L) {
    return SetLayerVisible(L, true);
}

int HideLayer(qvVmState* L) {
    return SetLayerVisible(L, false);
}

int TranslateLayer(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    const int32_t position = LayerArg(L, 1);
    const int32_t dx = Trunc32(GetArgNumber(L, 2)), dy = Trunc32(GetArgNumber(L, 3));
    qvLayer* layer = nullptr;
    if (int code = GuardedLayer(position, nullptr, &layer)) return code;
    MoveLayerTo(L, layer, nullptr, dx, dy, 0, QV_MOVE_RELATIVEX | QV_MOVE_RELATIVEY, nullptr);
    return 0;
}

// --- Border and shadow ---

// Drops the cached effect images, lets change set the fields, and refreshes the old and new
// bounds (the old alone when the effect went off).
template <typename Change>
void Restyle(qvVmState* L, qvBGPic* picture, qvLayer* layer, bool on, bool border, Change change) {
    picture->transitionTarget = 1;
    const Box old = BoundsOf(L, layer);
    if (border) FreeLayerBorderCache(layer);
    FreeLayerCaches(layer);
    change();
    RefreshBox(L, on ? Union(old, BoundsOf(L, layer)) : old);
}

int SetLayerBorder(qvVmState* L) {
    CheckArgCount(L, 2, 4);
    const int32_t position = LayerArg(L, 1);
    const bool on = GetArgNumber(L, 2) != 0;
    const uint32_t colour = GetOptArgUInt32(L, 3, 0);
    const double size = GetOptArgNumber(L, 4, 2);
    if (!(size >= 1)) return ERR_WRONGUSAGE;
    qvBGPic* picture = nullptr;
    qvLayer* layer = nullptr;
    if (int code = GuardedLayer(position, &picture, &layer)) return code;
    if (!on && layer->border.on == 0) return 0;
    Restyle(L, picture, layer, on, true, [&] {
        layer->border.on = on ? 1 : 0;
        if (on) layer->border = {1, colour, Trunc32(size)};
    });
    return 0;
}

int SetLayerShadow(qvVmState* L) {
    CheckArgCount(L, 2, 7);
    const int32_t position = LayerArg(L, 1);
    const bool on = GetArgNumber(L, 2) != 0;
    const uint32_t colour = GetOptArgUInt32(L, 3, 0x80000000u);
    const double radius = GetOptArgNumber(L, 4, 5);
    const double size = GetOptArgNumber(L, 5, 4);
    int32_t direction = Trunc32(GetOptArgNumber(L, 6, 3));
    const double sigma = GetOptArgNumber(L, 7, radius / 3);
    if (!(size >= 0) || !(radius >= 1.0) || !(sigma > 0) || !std::isfinite(radius) ||
        !std::isfinite(sigma)) {
        return ERR_WRONGUSAGE;
    }
    if (direction < 0 || direction > 7) direction = 3;
    qvBGPic* picture = nullptr;
    qvLayer* layer = nullptr;
    if (int code = GuardedLayer(position, &picture, &layer)) return code;
    if (!on && layer->shadow.on == 0) return 0;
    Restyle(L, picture, layer, on, false, [&] {
        layer->shadow.on = on ? 1 : 0;
        if (on) layer->shadow = {1, colour, Trunc32(size), direction, radius, sigma};
    });
    return 0;
}

// --- Drawing into a layer ---

int SelectLayer(qvVmState* L) {
    CheckArgCount(L, 1, 4);
    const int32_t position = LayerArg(L, 1);
    const int32_t frame = GetOptIntArg(L, 2, nullptr);
    const int32_t selMode = GetOptIntArg(L, 3, nullptr);
    const int32_t combo = GetOptIntArg(L, 4, nullptr);
    qvLayer* layer = nullptr;
    if (int code = GuardedLayer(position, nullptr, &layer)) return code;
    // The selector takes the layer's position as the id, the second argument as the frame of
    // an anim layer (from 1; the only way to name one), the third as the selection mode and
    // the fourth as the combination; it makes the layer a private image.
    return Objects().SelectOutputObject(L, gfx::kTypeLayer, {uint32_t(position), nullptr}, selMode,
                                        combo, frame);
}

// --- Anim frames ---

int ModifyLayerFrames(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    const int32_t position = LayerArg(L, 1);
    const int32_t frames = GetOptIntArg(L, 2, nullptr);
    const int32_t third = GetOptIntArg(L, 3, nullptr);
    qvLayer* layer = nullptr;
    if (int code = GuardedLayer(position, nullptr, &layer)) return code;
    if (layer->type != gfx::kTypeAnim) return ObjectNotFound(layer->objectId, ERR_FINDANIM);
    auto* item = static_cast<qvAnimItem*>(layer->sourceItem);
    gfx::PictureView shown{};
    if (int code = Objects().PrivateLayerAnim(L, layer, item->frame, &shown)) return code;
    if (int code = ModifyAnimFramesEx(L, layer->objectId, frames, third, QV_ANIM_ORPHANS)) {
        return code;
    }
    qvAnim* anim = nullptr;
    if (int code = FindAnimById(L, layer->objectId, &anim, QV_ANIM_ORPHANS)) return code;
    const auto kept = std::find(anim->bitmaps, anim->bitmaps + anim->frameCount, shown.bitmap);
    const auto frame = int32_t(kept - anim->bitmaps);
    const bool gone = frame == anim->frameCount;
    for (qvLayerItem* each : DistinctItems(layer)) {
        if (each == nullptr) continue;
        auto* animItem = static_cast<qvAnimItem*>(each);
        animItem->frame = gone ? 0 : frame;
        animItem->frameCount = anim->frameCount;
    }
    if (gone) {
        FreeLayerGeometryBitmaps(layer);
        RefreshLayer(L, layer);
    }
    return 0;
}

// --- Listing ---

const qvLayerItem* DumpItem(const qvLayer* layer, int32_t which) {
    switch (which) {
        case 1:
            return layer->pictureItem;
        case 2:
            return layer->displayItem;
        default:
            return layer->sourceItem;
    }
}

int DumpLayers(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    const int32_t which = Trunc32(GetOptArgNumber(L, 1, 0));
    qvBGPic* picture = nullptr;
    if (int code = CheckLayerGuard(&picture)) return code;
    WriteDebugText("LAYER SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qvLayer): %d\nLayers: %d\n",
                   int(picture->header.id), picture->header.handle, 1080,
                   int(CountLayers(picture)));
    int position = 0;
    ForEachLayer(&picture->layers, [&](qvLayer* layer) {
        const qvLayerItem* item = DumpItem(layer, which);
        if (item == nullptr) item = layer->sourceItem;
        const char* typeName =
            layer->type < std::size(qvObjectTypeNames) ? qvObjectTypeNames[layer->type] : "";
        WriteDebugText(
            "(%d) %s #%d (%p / \"%s\") - X: %d (%d) - Y: %d (%d) - Width: %d (%d) - Height: %d "
            "(%d) - Visible: %d\n",
            ++position, typeName, int(layer->objectId.number), layer->objectId.handle,
            layer->name != nullptr ? layer->name : "", item->x, item->drawX, item->y, item->drawY,
            item->width, item->drawWidth, item->height, item->drawHeight,
            layer->hidden == 0 ? 1 : 0);
    });
    return 0;
}

// In the published order.
constexpr qvCommandEntry kLayersCommands[] = {
    {"Undo", Undo},
    {"EnableLayers", EnableLayers},
    {"DisableLayers", DisableLayers},
    {"SwapLayers", SwapLayers},
    {"InsertLayer", InsertLayer},
    {"ShowLayer", ShowLayer},
    {"HideLayer", HideLayer},
    {"RemoveLayer", RemoveLayer},
    {"SetLayerTransparency", SetLayerTransparency},
    {"SetLayerLight", SetLayerTint},
    {"SetLayerTint", SetLayerTint},
    {"AddMove", AddMove},
    {"ClearMove", ClearMove},
    {"DoMove", DoMove},
    {"FreeLayers", FreeLayers},
    {"NextFrame", NextFrame},
    {"SetLayerName", SetLayerName},
    {"Collision", Collision},
    {"DumpLayers", DumpLayers},
    {"ScaleLayer", ScaleLayer},
    {"RotateLayer", RotateLayer},
    {"SetLayerStyle", SetLayerStyle},
    {"GetLayerStyle", GetLayerStyle},
    {"TransformLayer", TransformLayer},
    {"SetLayerAnchor", SetLayerAnchor},
    {"LayerExists", LayerExists},
    {"SetLayerZPos", SetLayerZPos},
    {"TranslateLayer", TranslateLayer},
    {"SelectLayer", SelectLayer},
    {"CreateLayer", CreateLayer},
    {"ModifyLayerFrames", ModifyLayerFrames},
    {"GetLayerAtPos", GetLayerAtPos},
    {"SetLayerShadow", SetLayerShadow},
    {"SetLayerFilter", SetLayerFilter},
    {"SetLayerBorder", SetLayerBorder},
    {"LayerToFront", LayerToFront},
    {"LayerToBack", LayerToBack},
    {nullptr, nullptr},
};

}  // namespace

int CheckLayerGuard(qvBGPic** picture) {
    qvBGPic* output = LayerDisplays().OutputPicture();
    if (picture != nullptr) *picture = output;
    if (CurrentDisplay() == nullptr) return ERR_NOLAYERS;
    const gfx::DisplayView view = CurrentView();
    switch (view.outputType) {
        case gfx::kTypeBrush:
            return output != nullptr && output->outputKind == gfx::kTypeAnim ? ERR_SELECTANIM
                                                                             : ERR_SELECTBRUSH;
        case gfx::kTypeMask:
            return ERR_SELECTMASK;
        case gfx::kTypeAlphaChannel:
            return ERR_SELECTALPHACHANNEL;
        default:
            break;
    }
    return view.layersEnabled && output != nullptr ? 0 : ERR_NOLAYERS;
}

int InsertObjectLayer(qvVmState* L, uint32_t type, qvObjectId id, int32_t x, int32_t y,
                      int32_t position, int hidden) {
    const int flags = QV_ADDLAYER_DISPLAYITEM | QV_ADDLAYER_CALLERREFRESH |
                      (hidden != 0 ? QV_ADDLAYER_HIDDEN : 0);
    switch (type) {
        case gfx::kTypeBrush: {
            gfx::PictureView view{};
            qvImageHandle* source = nullptr;
            if (int code = Objects().BrushImage(L, id, &view, &source)) return code;
            return AddBrushLayer(L, type, &id, 0, 0, ResolvePosX(x, view.width, 0, 0.0),
                                 ResolvePosY(y, view.height, 0, 0.0), view.width, view.height,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, position, flags);
        }
        case gfx::kTypeTextObject: {
            qvTextObject* object = nullptr;
            if (int code = FindTextObject(L, id, &object, 0)) return code;
            qvDrawStyle style = DefaultDrawStyle();
            style.insertpos = position;
            return AddTextObjectLayer(L, object, ResolvePosX(x, object->width, 0, 0.0),
                                      ResolvePosY(y, object->height, 0, 0.0), object->width,
                                      object->height, nullptr, &style, flags);
        }
        case gfx::kTypeAnim: {
            qvAnim* anim = nullptr;
            if (int code = FindAnimById(L, id, &anim, 0)) return code;
            return AddAnimLayer(L, id, ResolvePosX(x, anim->width, 0, 0.0),
                                ResolvePosY(y, anim->height, 0, 0.0), anim->width, anim->height, 0,
                                anim->frameCount, position, flags);
        }
        default:
            return ERR_WRONGUSAGE;
    }
}

int InsertLayerRecord(qvVmState* L, uint32_t type, qvObjectId id, int32_t x, int32_t y,
                      int32_t position, int hidden, qvLayer** layer) {
    qvBGPic* picture = LayerDisplays().OutputPicture();
    if (position < 0) return ERR_INVINSERT;
    const int32_t count = CountLayers(picture);
    if (position == 0 || position > count + 1) position = count + 1;
    if (int code = InsertObjectLayer(L, type, id, x, y, position, hidden)) return code;
    *layer = GetLayerByIndex(picture, position);
    return *layer != nullptr ? 0 : ERR_LAYERRANGE;
}

int AddAnimLayer(qvVmState* L, qvObjectId id, int32_t x, int32_t y, int32_t width, int32_t height,
                 int32_t frame, int32_t frameCount, int32_t insertPos, int flags) {
    auto* item = NewBlock<qvAnimItem>();
    if (item == nullptr) return ERR_MEM;
    item->x = x, item->y = y;
    item->width = width, item->height = height;
    item->frame = frame, item->frameCount = frameCount;
    return AddLayer(L, gfx::kTypeAnim, &id, x, y, width, height, nullptr, nullptr, nullptr, nullptr,
                    nullptr, item, insertPos, flags);
}

int GuardedLayer(int32_t position, qvBGPic** picture, qvLayer** layer) {
    qvBGPic* output = nullptr;
    if (int code = CheckLayerGuard(&output)) return code;
    if (picture != nullptr) *picture = output;
    *layer = GetLayerByIndex(output, position);
    return *layer != nullptr ? 0 : ERR_LAYERRANGE;
}

}  // namespace qv::scene

using namespace qv::scene;

int CanSwitchLayers(qvVmState*) {
    qvDisplay* display = Displays().current;
    if (display == nullptr) return ERR_NOLAYERS;
    if (DisplayHasAsyncDraws(display) != 0) return ERR_LAYERSWITCH;
    if (display->doubleBufferOutput != 0 || display->doubleBufferPending != 0) {
        return ERR_ENDDOUBLEBUFFER;
    }
    if (display->outputType != qv::gfx::kTypeDisplay) return ERR_LAYERSON;
    const qvBGPic* shown = display->settings.picture;
    if (shown != nullptr && shown->sprites != nullptr) return ERR_NOSPRITES;
    return 0;
}

int UndoLayerByObject(qvVmState* L, uint32_t type, qvObjectId id, int32_t n, int32_t* x, int32_t* y,
                      int32_t* width, int32_t* height, int noRefresh) {
    qvBGPic* picture = LayerDisplays().OutputPicture();
    if (picture == nullptr) return 1;
    Box removed{};
    const int code = UndoLayer(L, picture, type, id, n, noRefresh, &removed);
    if (code == 0) {
        if (x != nullptr) *x = removed.x;
        if (y != nullptr) *y = removed.y;
        if (width != nullptr) *width = removed.width;
        if (height != nullptr) *height = removed.height;
    }
    return code;
}

void FreeLayersLibrary(qvVmState* L) {
    FreeMoveLists();
    FreeLayerStyleRects();
    FreeLayerLists(L);
}

int RegisterLayersLibrary(qvVmState* L) {
    if (int code = InitLayerLists()) return code;
    InstallObjectStyleRows();
    qv::scene::RegisterLayerAttributes();
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kLayersCommands, 0);
    if (int code = RegisterObjectList(MoveLists())) return code;
    return RegisterCommandTable(kLayersCommands, "layers");
}

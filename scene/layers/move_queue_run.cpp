// Playing move queues (DoMove), showing another frame of an anim layer (NextFrame) and the
// frame-and-position change both use. Frame changes go through the style engine, which
// rebuilds the layer record: every walk here holds positions, never records, across them.
#include <algorithm>
#include <array>

#include "engine/convert.h"
#include "engine/error_codes.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/object_types.h"
#include "media/anim_store.h"
#include "runtime/arguments.h"
#include "runtime/option_tables.h"
#include "scene/bgpic.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/layers_commands.h"
#include "scene/layers/layers_library.h"
#include "scene/layers/style_engine.h"

namespace qv::scene {
namespace {

// Entry kinds besides the object types BRUSH, TEXTOBJECT and LAYER.
enum : int32_t {
    kKindUndo = 10,
    kKindHideBrush = 23,
    kKindInsertBrush = 24,
    kKindHideLayer = 25,
    kKindRemoveLayer = 26,
    kKindNextFrame = 29,
    kKindNextFrameAt = 34,  // NEXTFRAME2: the anim layer at a position
};

bool LayersOff() {
    gfx::BlitHost& host = gfx::Graphics().Host();
    qvDisplay* display = host.CurrentDisplay();
    return display == nullptr || !host.ViewDisplay(display).layersEnabled ||
           LayerDisplays().OutputPicture() == nullptr;
}

bool SameObject(qvObjectId a, qvObjectId b) {
    return a.number == b.number && a.handle == b.handle;
}

// One run of a queue over the output picture. An entry's rectangle is replaced by the first
// area this run records for it and grown by the later ones (an entry may move several
// layers); entries this run does not reach keep the rectangle of an earlier run.
class QueueRun {
public:
    QueueRun(qvVmState* L, qvBGPic* picture, qvMoveList* list)
        : L_(L), picture_(picture), list_(list) {}

    int Run() {
        picture_->transitionTarget = 1;
        int code = FirstPass();
        if (code == 0) code = SecondPass();
        if (code == 0) code = ThirdPass();
        // What was carried out stays; the screen shows it even when an entry failed.
        MergeRects();
        RefreshRects();
        return code;
    }

private:
    struct Box {
        int32_t x = 0, y = 0, width = 0, height = 0;
    };

    // Entries the run left to the object passes.
    std::array<uint8_t, kMoveEntries> pending_{};
    std::array<uint8_t, kMoveEntries> recorded_{};

    int Count() const { return std::clamp(list_->count, 0, kMoveEntries); }

    Box Bounds(qvLayer* layer) {
        Box b;
        GetLayerBounds(L_, layer, layer->displayItem, &b.x, &b.y, &b.width, &b.height);
        return b;
    }

    // The area becomes (or, later in the run, grows) entry i's rectangle when it lies at
    // least partly on the picture.
    void Record(int i, const Box& b) {
        if (!PartlyOnPicture(picture_, b.x, b.y, b.width, b.height)) return;
        // Only the picture is ever refreshed; clipped, the corners cannot overflow.
        Box r = b;
        ClipRectToSize(picture_->width, picture_->height, &r.x, &r.y, &r.width, &r.height);
        if (recorded_[i] != 0) {
            const Box old = RectOf(i);
            UnionRects(&r.x, &r.y, &r.width, &r.height, old.x, old.y, old.width, old.height);
        }
        list_->x1[i] = r.x, list_->y1[i] = r.y;
        list_->x2[i] = r.x + r.width - 1, list_->y2[i] = r.y + r.height - 1;
        list_->hasRect[i] = 1;
        recorded_[i] = 1;
    }

    Box RectOf(int i) const {
        return {list_->x1[i], list_->y1[i], list_->x2[i] - list_->x1[i] + 1,
                list_->y2[i] - list_->y1[i] + 1};
    }

    // The layer step of DoMove, its rectangle added to what the run recorded for the entry.
    void Move(int i, qvLayer* layer, bool applyVisibility) {
        const Box before = RectOf(i);
        const bool had = recorded_[i] != 0;
        const uint8_t kept = list_->hasRect[i];
        list_->hasRect[i] = 0;
        DoMoveLayerStep(L_, list_, i, layer, applyVisibility);
        if (list_->hasRect[i] != 0) {
            recorded_[i] = 1;
        } else {
            list_->hasRect[i] = kept;  // the step left the rectangle as it was
        }
        if (had) Record(i, before);
    }

    // Shows the entry's frame on the anim layer at position and moves it as a LAYER entry,
    // shown. The record is fetched again: the frame change rebuilt it.
    int FrameAndMove(int i, int32_t position) {
        qvLayer* layer = GetLayerByIndex(picture_, position);
        if (layer == nullptr) return ERR_LAYERRANGE;
        const Box old = Bounds(layer);
        if (int code =
                SetLayerFrameAndPos(L_, layer, KEEPPOSITION, KEEPPOSITION, list_->extra[i], 1)) {
            return code;
        }
        layer = GetLayerByIndex(picture_, position);
        if (layer == nullptr) return ERR_LAYERRANGE;
        layer->hidden = 0;
        Move(i, layer, false);
        // A frame of another size leaves its old area to repaint too.
        Record(i, old);
        return 0;
    }

    qvLayer* LayerAt(int i) const {
        return GetLayerByIndex(picture_, int32_t(list_->object[i].number));
    }

    // Removes a layer without refresh; its area becomes the rectangle.
    int Remove(int i, qvLayer* layer) {
        if (IsObjectUsedByAsyncDraw(layer) != 0) return ERR_REMADLAYER;
        Box b;
        RemoveLayerRecord(L_, layer, 1, &b.x, &b.y, &b.width, &b.height, nullptr);
        Record(i, b);
        return 0;
    }

    int Undo(int i) {
        if (int code = CheckLayerGuard(nullptr)) return code;
        const auto type = uint32_t(list_->x[i]);
        const int32_t n = list_->y[i] == 0 ? 1 : list_->y[i];
        Box b;
        const int code =
            UndoLayerByObject(L_, type, list_->object[i], n, &b.x, &b.y, &b.width, &b.height, 1);
        if (code == 0) Record(i, b);
        return code == 1 ? 0 : code;
    }

    int FirstPassEntry(int i) {
        switch (list_->kind[i]) {
            case kKindUndo:
                return Undo(i);
            case kKindRemoveLayer: {
                qvLayer* layer = LayerAt(i);
                return layer != nullptr ? Remove(i, layer) : ERR_LAYERRANGE;
            }
            case gfx::kTypeLayer: {
                qvLayer* layer = LayerAt(i);
                if (layer == nullptr) return ERR_LAYERRANGE;
                Move(i, layer, true);
                return 0;
            }
            case kKindInsertBrush: {
                qvLayer* layer = nullptr;
                if (int code = InsertLayerRecord(L_, gfx::kTypeBrush, list_->object[i], list_->x[i],
                                                 list_->y[i], list_->extra[i], 0, &layer)) {
                    return code;
                }
                Record(i, Bounds(layer));
                return 0;
            }
            case kKindHideLayer: {
                qvLayer* layer = LayerAt(i);
                if (layer == nullptr) return ERR_LAYERRANGE;
                layer->hidden = 1;
                Record(i, Bounds(layer));
                return 0;
            }
            case kKindNextFrameAt: {
                qvLayer* layer = LayerAt(i);
                if (layer == nullptr) return ERR_LAYERRANGE;
                if (layer->type != gfx::kTypeAnim) return ERR_WRONGUSAGE;
                return FrameAndMove(i, int32_t(list_->object[i].number));
            }
            default:
                pending_[i] = 1;
                return 0;
        }
    }

    int FirstPass() {
        for (int i = 0; i < Count(); ++i) {
            list_->done[i] = 0;
            if (int code = FirstPassEntry(i)) return code;
            if (pending_[i] == 0) list_->done[i] = 1;
        }
        return 0;
    }

    // Entry i against the layer at position (which it may rebuild).
    int SecondPassEntry(int i, int32_t position) {
        qvLayer* layer = GetLayerByIndex(picture_, position);
        const int32_t kind = list_->kind[i];
        const bool match = SameObject(layer->creationId, list_->object[i]);
        if ((kind == gfx::kTypeBrush || kind == gfx::kTypeTextObject) &&
            layer->type == uint32_t(kind) && match) {
            layer->hidden = 0;
            Move(i, layer, false);
        } else if (kind == kKindHideBrush && layer->type == gfx::kTypeBrush && match) {
            layer->hidden = 1;
            Record(i, Bounds(layer));
            list_->done[i] = 1;
        } else if (kind == kKindNextFrame && layer->type == gfx::kTypeAnim && match) {
            return FrameAndMove(i, position);
        }
        return 0;
    }

    int SecondPass() {
        for (int32_t position = 1; position <= CountLayers(picture_); ++position) {
            for (int i = 0; i < Count(); ++i) {
                if (pending_[i] == 0) continue;
                if (int code = SecondPassEntry(i, position)) return code;
            }
        }
        return 0;
    }

    // The anim frame (from 0) a new layer shows for the entry's frame: 0 the second (the
    // first of a one-frame anim), -1 the last, 1..count that one.
    static int AnimFrame(int32_t frame, int32_t count, int32_t* index) {
        if (frame == 0) {
            *index = count > 1 ? 1 : 0;
        } else if (frame == -1) {
            *index = count - 1;
        } else if (frame >= 1 && frame <= count) {
            *index = frame - 1;
        } else {
            return ERR_ANIMFRAME;
        }
        return 0;
    }

    int NewAnimLayer(int i) {
        qvAnim* anim = nullptr;
        if (int code = FindAnimById(L_, list_->object[i], &anim, 0)) return code;
        int32_t frame = 0;
        if (int code = AnimFrame(list_->extra[i], anim->frameCount, &frame)) return code;
        return AddAnimLayer(L_, list_->object[i], ResolvePosX(list_->x[i], anim->width, 0, 0.0),
                            ResolvePosY(list_->y[i], anim->height, 0, 0.0), anim->width,
                            anim->height, frame, anim->frameCount, -1,
                            QV_ADDLAYER_DISPLAYITEM | QV_ADDLAYER_CALLERREFRESH);
    }

    int ThirdPassEntry(int i) {
        switch (list_->kind[i]) {
            case gfx::kTypeTextObject:
            case gfx::kTypeBrush:
                return InsertObjectLayer(L_, uint32_t(list_->kind[i]), list_->object[i],
                                         list_->x[i], list_->y[i], -1, 0);
            case kKindNextFrame:
                return NewAnimLayer(i);
            default:
                return ERR_WRONGUSAGE;
        }
    }

    int ThirdPass() {
        for (int i = 0; i < Count(); ++i) {
            if (list_->done[i] != 0) continue;
            if (int code = ThirdPassEntry(i)) return code;
            Record(i, Bounds(reinterpret_cast<qvLayer*>(picture_->layers.tailPred)));
            list_->done[i] = 1;
        }
        return 0;
    }

    // One pass in entry order: a rectangle swallows every other one it overlaps (edges
    // inclusive); one that grows late is not compared again with the earlier ones.
    void MergeRects() {
        const int count = Count();
        for (int i = 0; i < count; ++i) {
            if (list_->hasRect[i] == 0) continue;
            for (int j = 0; j < count; ++j) {
                if (j == i || list_->hasRect[j] == 0 ||
                    !RectsOverlap(list_->x1[i], list_->y1[i], list_->x2[i], list_->y2[i],
                                  list_->x1[j], list_->y1[j], list_->x2[j], list_->y2[j])) {
                    continue;
                }
                list_->x1[i] = std::min(list_->x1[i], list_->x1[j]);
                list_->y1[i] = std::min(list_->y1[i], list_->y1[j]);
                list_->x2[i] = std::max(list_->x2[i], list_->x2[j]);
                list_->y2[i] = std::max(list_->y2[i], list_->y2[j]);
                list_->x1[j] = kNoMoveRect;
                list_->hasRect[j] = 0;
            }
        }
    }

    void RefreshRects() {
        for (int i = 0; i < Count(); ++i) {
            if (list_->hasRect[i] == 0) continue;
            RefreshRect(L_, list_->x1[i], list_->y1[i], list_->x2[i] - list_->x1[i] + 1,
                        list_->y2[i] - list_->y1[i] + 1);
        }
    }

    qvVmState* L_;
    qvBGPic* picture_;
    qvMoveList* list_;
};

}  // namespace

int SetLayerFrameAndPos(qvVmState* L, const qvLayer* layer, int32_t x, int32_t y, int32_t frame,
                        int deferred) {
    const RestoreStackTop restore(L);
    VmPushNumber(L, IndexOfLayer(layer));
    VmNewTable(L);
    SetTableFieldInt(L, "x", x);
    SetTableFieldInt(L, "y", y);
    SetTableFieldInt(L, "frame", frame);
    return SetLayerProperties(L, 2, deferred, VmGetTop(L) - 1);
}

int NextFrame(qvVmState* L) {
    CheckArgCount(L, 1, 4);
    const int32_t position = FindLayerArg(L, 1, LayerDisplays().OutputPicture());
    const int32_t x = Trunc32(GetOptArgNumber(L, 2, KEEPPOSITION));
    const int32_t y = Trunc32(GetOptArgNumber(L, 3, KEEPPOSITION));
    const int32_t frame = Trunc32(GetOptArgNumber(L, 4, 0));
    qvLayer* layer = nullptr;
    if (int code = GuardedLayer(position, nullptr, &layer)) return code;
    if (layer->type != gfx::kTypeAnim) return ERR_NOANMLAYER;
    return SetLayerFrameAndPos(L, layer, x, y, frame, 0);
}

int DoMove(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const qvObjectId id = GetObjectIdArg(L, 1);
    if (LayersOff()) return ERR_NOLAYERS;
    qvBGPic* picture = nullptr;
    if (int code = CheckLayerGuard(&picture)) return code;
    qvMoveList* list = nullptr;
    if (int code = FindMoveListArg(id, &list)) return code;
    return QueueRun(L, picture, list).Run();
}

}  // namespace qv::scene

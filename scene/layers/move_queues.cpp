// Move queues: lists of layer and object moves that DoMove plays one step at a time.
#include "engine/convert.h"
#include "engine/error_codes.h"
#include "gfx/geometry.h"
#include "gfx/library/object_types.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "scene/bgpic.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/layers_commands.h"
#include "scene/layers/layers_library.h"

namespace qv::scene {
namespace {

qvObjectHeader* moveLists = nullptr;

// Entry kinds whose third argument is a layer.
bool TakesLayer(int32_t kind) {
    return kind == gfx::kTypeLayer || kind == 25 /* HIDELAYER */ || kind == 26 /* REMOVELAYER */ ||
           kind == 34 /* NEXTFRAME2 */;
}
constexpr int32_t kKindUndo = 10;
constexpr int32_t kKindInsertBrush = 24;

// The queue with the id, made (appended at the tail) when there is none. 0, ERR_FINDARRAY
// for a handle of no queue, or ERR_MEM.
int FindOrMakeList(qvObjectId id, bool automatic, qvMoveList** out) {
    if (!automatic && (*out = FindMoveList(id)) != nullptr) return 0;
    // Only a number can name a queue still to be made.
    if (!automatic && id.handle != nullptr) return ERR_FINDARRAY;
    auto* list = static_cast<qvMoveList*>(AllocMemBlock(sizeof(qvMoveList), 1));
    if (list == nullptr) return ERR_MEM;
    list->header = NewObjectHeader(gfx::kTypeMoveList, id.number, automatic, list);
    AppendObject(&moveLists, &list->header);
    *out = list;
    return 0;
}

}  // namespace

qvObjectHeader** MoveLists() {
    return &moveLists;
}

void FreeMoveLists() {
    while (qvObjectHeader* head = moveLists) {
        moveLists = head->next;
        FreeMemBlock(head);
    }
}

qvMoveList* FindMoveList(qvObjectId id) {
    return reinterpret_cast<qvMoveList*>(FindObjectInList(moveLists, id));
}

int AddMove(qvVmState* L) {
    CheckArgCount(L, 3, 6);
    int wasNil = 0;
    const qvObjectId queueId = VmType(L, 1) == VM_TLIGHTUSERDATA
                                   ? GetObjectIdArg(L, 1)
                                   : qvObjectId{uint32_t(GetOptIntArg(L, 1, &wasNil)), nullptr};
    const int32_t kind = GetOptIntArg(L, 2, nullptr);
    qvObjectId object{};
    int32_t x = 0;
    int next = 4;
    if (TakesLayer(kind)) {
        object = {uint32_t(FindLayerArg(L, 3, LayerDisplays().OutputPicture())), nullptr};
    } else if (kind == kKindUndo) {
        x = GetOptIntArg(L, 3, nullptr);
        object = GetObjectIdArg(L, 4);
        next = 5;
    } else {
        object = GetObjectIdArg(L, 3);
    }
    if (next == 4) x = Trunc32(GetOptArgNumber(L, 4, 0));
    const int32_t y = Trunc32(GetOptArgNumber(L, 5, 0));
    const int32_t extra = kind == kKindInsertBrush && VmGetTop(L) >= 6
                              ? FindLayerArg(L, 6, LayerDisplays().OutputPicture())
                              : Trunc32(GetOptArgNumber(L, 6, 0));
    qvMoveList* list = nullptr;
    if (int code = FindOrMakeList(queueId, wasNil != 0, &list)) return code;
    if (list->count >= kMoveEntries) return ERR_INTERNAL;
    const int i = list->count++;
    list->kind[i] = kind;
    list->object[i] = object;
    list->x[i] = x, list->y[i] = y;
    list->extra[i] = extra;
    list->done[i] = 0;
    list->x1[i] = kNoMoveRect;
    list->hasRect[i] = 0;
    return wasNil != 0 ? PushNewObjectHandle(L, list->header) : 0;
}

int ClearMove(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const qvObjectId id = GetObjectIdArg(L, 1);
    qvMoveList* list = nullptr;
    if (int code = FindMoveListArg(id, &list)) return code;
    UnlinkObject(&moveLists, &list->header);
    FreeMemBlock(list);
    return 0;
}

int FindMoveListArg(qvObjectId id, qvMoveList** out) {
    *out = FindMoveList(id);
    return *out != nullptr ? 0 : ObjectNotFound(id, ERR_FINDMOVE);
}

int DoMoveLayerStep(qvVmState* L, qvMoveList* list, int i, bool applyVisibility) {
    qvLayer* layer =
        GetLayerByIndex(LayerDisplays().OutputPicture(), int32_t(list->object[i].number));
    if (layer == nullptr) return ERR_LAYERRANGE;
    DoMoveLayerStep(L, list, i, layer, applyVisibility);
    return 0;
}

bool PartlyOnPicture(const qvBGPic* picture, int32_t x, int32_t y, int32_t width, int32_t height) {
    return width > 0 && height > 0 && int64_t(x) + width > 0 && int64_t(y) + height > 0 &&
           x < picture->width && y < picture->height;
}

void DoMoveLayerStep(qvVmState* L, qvMoveList* list, int i, qvLayer* layer, bool applyVisibility) {
    const qvBGPic* picture = LayerDisplays().OutputPicture();
    int32_t ox = 0, oy = 0, ow = 0, oh = 0;
    GetLayerBounds(L, layer, layer->displayItem, &ox, &oy, &ow, &oh);
    const qvLayerItem* source = layer->sourceItem;
    const int32_t x = list->x[i] == KEEPPOSITION
                          ? KEEPPOSITION
                          : ResolvePosX(list->x[i], source->width, 0, layer->anchorX);
    const int32_t y = list->y[i] == KEEPPOSITION
                          ? KEEPPOSITION
                          : ResolvePosY(list->y[i], source->height, 0, layer->anchorY);
    MoveLayerTo(L, layer, nullptr, x, y, 1, 0, nullptr);
    if (applyVisibility && (list->extra[i] == 0 || list->extra[i] == 1)) {
        layer->hidden = list->extra[i];
    }
    int32_t nx = 0, ny = 0, nw = 0, nh = 0;
    GetLayerBounds(L, layer, layer->displayItem, &nx, &ny, &nw, &nh);
    const auto inside = [picture](int32_t bx, int32_t by, int32_t bw, int32_t bh) {
        return PartlyOnPicture(picture, bx, by, bw, bh);
    };
    bool record = false;
    if (layer->hidden == 0 && inside(nx, ny, nw, nh)) {
        UnionRects(&ox, &oy, &ow, &oh, nx, ny, nw, nh);
        record = true;
    } else {
        record = inside(ox, oy, ow, oh);
    }
    if (record) {
        // Only the picture is refreshed; clipped, the corners cannot overflow.
        ClipRectToSize(picture->width, picture->height, &ox, &oy, &ow, &oh);
        list->x1[i] = ox, list->y1[i] = oy;
        list->x2[i] = ox + ow - 1, list->y2[i] = oy + oh - 1;
        list->hasRect[i] = 1;
    }
    list->done[i] = 1;
}

}  // namespace qv::scene

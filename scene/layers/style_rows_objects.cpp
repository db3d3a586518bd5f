#include "scene/layers/style_rows_objects.h"

#include <algorithm>

#include "engine/error_codes.h"
#include "gfx/library/object_types.h"
#include "media/anim_store.h"
#include "objects/text/text_objects.h"
#include "platform/linux/blocks.h"
#include "runtime/arguments.h"
#include "runtime/option_tables.h"
#include "scene/bgpic.h"
#include "scene/layers/style_rows.h"
#include "scene/object_hooks.h"

namespace qv::scene {
namespace {

using gfx::kTypeAnim;
using gfx::kTypeBGPicPart;
using gfx::kTypeBrush;
using gfx::kTypeBrushPart;
using gfx::kTypeTextObject;

void SetId(qvVmState* L, const qvObjectId& id) {
    VmPushString(L, "id");
    PushObjectId(L, id);
    VmSetTable(L, -3);
}

// A fresh item of the kind at the layer's old position.
template <typename Item>
qvLayerItem* FreshItem(const LayerStyleWork* work) {
    Item* item = NewBlock<Item>();
    if (item == nullptr) return nullptr;
    item->x = work->live->sourceItem->x;
    item->y = work->live->sourceItem->y;
    return item;
}

// Reads the "id" key: 1 when present. A retype needs it.
int ReadId(qvVmState* L, int t, LayerStyleWork* work, qvObjectId* id, int* found) {
    *found = GetTableFieldId(L, t, "id", id, nullptr);
    return work->retype && *found == 0 ? ERR_MISSINGPARAMTR : 0;
}

// --- Brushes, brush parts and picture parts ---

// The size of the brush or picture the working layer shows (orphans included: a layer may
// show a private copy).
int ImageObjectSize(qvVmState* L, const LayerStyleWork* work, int32_t* width, int32_t* height) {
    if (work->layer.type == kTypeBGPicPart) {
        qvBGPic* picture = nullptr;
        if (int code = GetBGPic(L, work->layer.objectId, &picture, QV_BGPIC_ORPHANS)) return code;
        *width = picture->width, *height = picture->height;
        return 0;
    }
    gfx::PictureView view{};
    qvImageHandle* source = nullptr;
    if (int code = Objects().BrushImage(L, work->layer.objectId, &view, &source)) return code;
    *width = view.width, *height = view.height;
    return 0;
}

// The item's size becomes the object's, or the part's cut to the object, as showing a part
// cuts it: the renderer then never reads beyond the object.
int FitImageItem(qvVmState* L, LayerStyleWork* work, qvImageItem* item) {
    int32_t width = 0, height = 0;
    if (int code = ImageObjectSize(L, work, &width, &height)) return code;
    if (work->layer.type == kTypeBrush) {
        item->partX = item->partY = 0;
        item->width = width, item->height = height;
        return 0;
    }
    if (item->partX < 0 || item->partY < 0) return ERR_NEGCOORDS;
    if (item->partX >= width || item->partY >= height) return ERR_COORDSRANGE;
    // A part without a size of its own (a fresh item) runs to the object's edge.
    if (item->width == 0) item->width = width - item->partX;
    if (item->height == 0) item->height = height - item->partY;
    if (item->width < 1 || item->height < 1) return ERR_WRONGUSAGE;
    item->width = std::min(item->width, width - item->partX);
    item->height = std::min(item->height, height - item->partY);
    return 0;
}

int ReadImageKeys(qvVmState* L, int t, LayerStyleWork* work) {
    auto* item = dynamic_cast<qvImageItem*>(work->item);
    if (item == nullptr) return ERR_WRONGUSAGE;
    int hasId = 0;
    if (int code = ReadId(L, t, work, &work->layer.objectId, &hasId)) return code;
    if (hasId != 0) {
        work->cacheKinds |= work->layer.type == kTypeBGPicPart ? QV_CACHE_BGPICS : QV_CACHE_BRUSHES;
    }
    int part = GetTableFieldInt(L, t, "partx", &item->partX, nullptr);
    part |= GetTableFieldInt(L, t, "party", &item->partY, nullptr);
    part |= GetTableFieldInt(L, t, "partwidth", &item->width, nullptr);
    part |= GetTableFieldInt(L, t, "partheight", &item->height, nullptr);
    if (part != 0 && work->layer.type == kTypeBrush) work->layer.type = kTypeBrushPart;
    if (hasId == 0 && part == 0) return 0;
    work->rebuild = true;
    return FitImageItem(L, work, item);
}

qvLayerItem* ImageRetypeItem(qvVmState*, const LayerStyleWork* work) {
    return FreshItem<qvImageItem>(work);
}

void PushImageKeys(qvVmState* L, const qvLayer* layer) {
    const qvLayerItem* item = layer->sourceItem;
    const auto* image = dynamic_cast<const qvImageItem*>(item);
    SetId(L, layer->objectId);
    SetTableFieldNumber(L, "partx", image != nullptr ? image->partX : 0);
    SetTableFieldNumber(L, "party", image != nullptr ? image->partY : 0);
    SetTableFieldNumber(L, "partwidth", item->width);
    SetTableFieldNumber(L, "partheight", item->height);
}

// --- Anims ---

// The frame (from 0) that a "frame" key of 1..count, 0 (the next, wrapping) or -1 (the
// last) names; ERR_ANIMFRAME for any other value.
int AnimFrameOf(int32_t key, int32_t current, int32_t count, int32_t* frame) {
    if (count < 1) return ERR_ANIMFRAME;
    if (key == 0) {
        *frame = current + 1 < count ? current + 1 : 0;
    } else if (key == -1) {
        *frame = count - 1;
    } else if (key >= 1 && key <= count) {
        *frame = key - 1;
    } else {
        return ERR_ANIMFRAME;
    }
    return 0;
}

int ReadAnimKeys(qvVmState* L, int t, LayerStyleWork* work) {
    auto* item = dynamic_cast<qvAnimItem*>(work->item);
    if (item == nullptr) return ERR_WRONGUSAGE;
    qvObjectId id{};
    int hasId = 0;
    if (int code = ReadId(L, t, work, &id, &hasId)) return code;
    if (hasId != 0) {
        // Looked up at once: the frame key counts the new anim's frames.
        qvAnim* anim = nullptr;
        if (int code = FindAnimById(L, id, &anim, 0)) return code;
        work->layer.objectId = id;
        item->frame = 0;
        item->frameCount = anim->frameCount;
        item->width = anim->width, item->height = anim->height;
        work->cacheKinds |= QV_CACHE_ANIMS;
        work->rebuild = true;
    }
    int32_t key = 0;
    if (GetTableFieldInt(L, t, "frame", &key, nullptr) != 0) {
        if (int code = AnimFrameOf(key, item->frame, item->frameCount, &item->frame)) return code;
        work->rebuild = true;
    }
    return 0;
}

qvLayerItem* AnimRetypeItem(qvVmState*, const LayerStyleWork* work) {
    return FreshItem<qvAnimItem>(work);
}

void PushAnimKeys(qvVmState* L, const qvLayer* layer) {
    const auto* item = dynamic_cast<const qvAnimItem*>(layer->sourceItem);
    SetTableFieldNumber(L, "frame", item != nullptr ? item->frame + 1 : 1);
    SetId(L, layer->objectId);
}

// --- Text objects ---

int ReadTextObjectKeys(qvVmState* L, int t, LayerStyleWork* work) {
    qvObjectId id{};
    int hasId = 0;
    if (int code = ReadId(L, t, work, &id, &hasId)) return code;
    if (hasId == 0) return 0;
    // The item takes the object's size, as showing the object gives it.
    qvTextObject* object = nullptr;
    if (int code = FindTextObject(L, id, &object, 0)) return code;
    work->layer.objectId = id;
    work->item->width = object->width, work->item->height = object->height;
    work->cacheKinds |= QV_CACHE_TEXTOBJECTS;
    work->rebuild = true;
    return 0;
}

qvLayerItem* TextObjectRetypeItem(qvVmState*, const LayerStyleWork* work) {
    return FreshItem<qvLayerItem>(work);
}

void PushTextObjectKeys(qvVmState* L, const qvLayer* layer) {
    SetId(L, layer->objectId);
}

}  // namespace

void InstallObjectStyleRows() {
    const LayerStyleRow image{ReadImageKeys, ImageRetypeItem, PushImageKeys};
    for (uint32_t type : {kTypeBrush, kTypeBrushPart, kTypeBGPicPart})
        SetLayerStyleRow(type, image);
    SetLayerStyleRow(kTypeAnim, {ReadAnimKeys, AnimRetypeItem, PushAnimKeys});
    SetLayerStyleRow(kTypeTextObject,
                     {ReadTextObjectKeys, TextObjectRetypeItem, PushTextObjectKeys});
}

}  // namespace qv::scene

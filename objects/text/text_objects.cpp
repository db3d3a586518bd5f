#include "objects/text/text_objects.h"

#include <cmath>

#include "engine/convert.h"
#include "gfx/blit_frontends.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "gfx/safe_blt.h"
#include "gfx/transform.h"
#include "objects/text/render_text.h"
#include "objects/text/text_commands.h"
#include "objects/text/text_library.h"
#include "platform/linux/blocks.h"
#include "platform/linux/lists.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "scene/bgpic.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/transform_matrix.h"

namespace {

using qv::gfx::kTypeTextObject;

qvTextObject* AsTextObject(qvObjectHeader* header) {
    return reinterpret_cast<qvTextObject*>(header);
}

qvObjectId IdOf(const qvTextObject* object) {
    return {object->header.id, object->header.handle};
}

qvTextObject* FindInList(qvObjectId id, bool orphans) {
    for (qvObjectHeader* h = *TextObjectList(); h != nullptr; h = h->next) {
        qvTextObject* object = AsTextObject(h);
        if (h->id == id.number && h->handle == id.handle && (orphans || object->orphan == 0))
            return object;
    }
    return nullptr;
}

void Destroy(qvVmState* L, qvTextObject* object) {
    FreeDisplayBitMap(object->bitmap);
    FreePlaneBitMap(object->mask);
    FreePlaneBitMap(object->alpha);
    FreeTextRender(object->layout);
    FreeRefList(L, object->header.data);
    FreeMemBlock(object);
}

struct RecordFree {
    void operator()(qvTextObject* object) const { FreeMemBlock(object); }
};
using NewRecord = std::unique_ptr<qvTextObject, RecordFree>;

// A cleared record under the id (an automatic one for a handle); none when memory is short.
NewRecord MakeRecord(qvObjectId id) {
    NewRecord object(static_cast<qvTextObject*>(AllocMemBlock(sizeof(qvTextObject), 1)));
    if (object) {
        object->header =
            qv::NewObjectHeader(kTypeTextObject, id.number, id.handle != nullptr, object.get());
    }
    return object;
}

// The object id argument idx: nil asks for an automatic id.
qvObjectId NewIdArg(qvVmState* L, int idx) {
    int wasNil = 0;
    const int32_t number = GetOptIntArg(L, idx, &wasNil);
    // The handle only says "automatic" until the record exists.
    static char automatic;
    return wasNil != 0 ? qvObjectId{0, &automatic} : qvObjectId{uint32_t(number), nullptr};
}

// Makes the copy with all its parts, not yet listed; 0 or ERR_MEM with nothing left.
int CloneTextObject(qvVmState* L, const qvTextObject* source, qvObjectId id, qvTextObject** out) {
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    qvPlaneBitMap* alpha = nullptr;
    if (int code = CopyBitmapArea(source->bitmap, source->mask, source->alpha, 0, 0, source->width,
                                  source->height, 0, &bitmap, &mask, &alpha))
        return code;
    qv::OwnedBitMap ownedBitmap(bitmap);
    qv::OwnedPlane ownedMask(mask), ownedAlpha(alpha);
    qv::BlockPtr<qvTextRender> layout(NewTextRenderRecord(source->layout));
    NewRecord record = MakeRecord(id);
    if (!layout || !record) return ERR_MEM;
    qvObjectDataEntry* data = nullptr;
    if (CopyObjectDataList(L, source->header.data, &data) != 0) return ERR_MEM;
    const qvObjectHeader header = record->header;
    *record = *source;
    record->header = header;
    record->header.data = data;
    record->orphan = 0;
    record->lockCount = 0;
    record->bitmap = ownedBitmap.release();
    record->mask = ownedMask.release();
    record->alpha = ownedAlpha.release();
    record->layout = layout.release();
    *out = record.release();
    return 0;
}

// The copy that layers showing an object get before it changes; it is an orphan at once.
int CloneForLayers(qvVmState* L, void* object, void** handle) {
    static char automatic;
    qvTextObject* copy = nullptr;
    if (int code = CloneTextObject(L, static_cast<qvTextObject*>(object), {0, &automatic}, &copy))
        return code;
    copy->orphan = 1;
    AppendObject(TextObjectList(), &copy->header);
    *handle = copy;
    return 0;
}

// A locked object under the script number refuses its replacement before anything is made.
int CheckReplaceable(qvObjectId id) {
    const qvTextObject* old = id.handle == nullptr ? FindInList(id, false) : nullptr;
    return old != nullptr && old->lockCount != 0 ? ERR_LOCKEDOBJ : 0;
}

// Lists a complete new object: the one it replaces under a script number is freed (or
// orphaned) only now, so a replacement that fails on the way keeps the old one. The results
// of the command.
int PublishTextObject(qvVmState* L, qvObjectId id, qvTextObject* made) {
    if (id.handle == nullptr) {
        if (int code = FreeTextObjectEx(L, id, false)) {
            Destroy(L, made);
            return code;
        }
    }
    AppendObject(TextObjectList(), &made->header);
    return qv::PushNewObjectHandle(L, made->header);
}

// The object's transform from its scaled size and rotation, and its text rendered again
// under it.
int Rerender(qvVmState* L, qvTextObject* object) {
    qvDrawTransform transform = qv::kInitialDrawTransform;
    MakeTransformMatrix(transform.matrix, object->scaledWidth, object->scaledHeight,
                        object->baseWidth, object->baseHeight, object->rotation, 1, 1);
    transform.rotate = object->rotation;
    qvRenderedText result{};
    if (int code = RenderText(L, nullptr, object->layout, kTypeTextObject, false, &transform,
                              nullptr, QV_RENDERTEXT_ONLY | QV_RENDERTEXT_KEEPGEOMETRY, &result))
        return code;
    FreeDisplayBitMap(object->bitmap);
    FreePlaneBitMap(object->mask);
    FreePlaneBitMap(object->alpha);
    object->bitmap = result.bitmap, object->mask = result.mask, object->alpha = result.alpha;
    object->width = result.width, object->height = result.height;
    object->transform = transform;
    if (object->rotation % 360 == 0) {
        object->offsetX = result.left, object->offsetY = result.top;
    } else {
        object->offsetX = object->offsetY = 0;
    }
    return 0;
}

bool IsIdentity(const qvDrawTransform& t) {
    return t.matrix[0] == 1 && t.matrix[1] == 0 && t.matrix[2] == 0 && t.matrix[3] == 1;
}

// The object's planes into the current output at (x, y) through its clip region, with the
// style's filters and transparency applied to a copy first.
int BlitTextObject(qvVmState* L, const qvTextObject* object, const qvDrawStyle& style, int32_t x,
                   int32_t y) {
    qv::gfx::GraphicsState& graphics = qv::gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr) return 0;
    qvDisplayBitMap* bitmap = object->bitmap;
    qvPlaneBitMap* mask = object->mask;
    qvPlaneBitMap* alpha = object->alpha;
    qv::OwnedBitMap ownedBitmap;
    qv::OwnedPlane ownedMask, ownedAlpha;
    if (style.anyStyle != 0) {
        if (int code = CopyBitmapArea(bitmap, mask, alpha, 0, 0, object->width, object->height, 0,
                                      &bitmap, &mask, &alpha))
            return code;
        ownedBitmap.reset(bitmap);
        const int code =
            ApplyShapeEffects(&style, bitmap, &mask, &alpha, object->width, object->height);
        ownedMask.reset(mask), ownedAlpha.reset(alpha);
        if (code != 0) return code;
    }
    return BlitTextIntoOutput(L, bitmap, mask, alpha, x, y, object->width, object->height);
}

// The arguments after the text: an option table, or align, wrap width and encoding.
int ReadCreateArgs(qvVmState* L, qvBorrowedTextRender* record) {
    if (VmType(L, 3) == VM_TTABLE) return ReadLayoutOptions(L, 3, record, false);
    auto given = [L](int idx) { return VmGetTop(L) >= idx && VmType(L, idx) != VM_TNIL; };
    if (given(3)) record->alignment = qv::Trunc32(GetArgNumber(L, 3));
    if (given(4)) record->rightMargin = qv::Trunc32(GetArgNumber(L, 4));
    if (given(5)) record->encoding = qv::Trunc32(GetArgNumber(L, 5));
    return 0;
}

}  // namespace

int FindTextObject(qvVmState* L, qvObjectId id, qvTextObject** out, int flags) {
    *out = FindInList(id, (flags & QV_TEXTOBJECT_ORPHANS) != 0);
    if (*out == nullptr) return qv::ObjectNotFound(id, ERR_FINDTEXTOBJECT);
    if ((flags & QV_TEXTOBJECT_MODIFY) == 0) return 0;
    if ((*out)->lockCount != 0) return ERR_LOCKEDOBJ;
    if ((flags & QV_TEXTOBJECT_NOCOPY) != 0) return 0;
    void* clone = nullptr;
    return DetachObjectFromLayers(L, kTypeTextObject, id, CloneForLayers, *out, &clone);
}

int AddTextObjectLayer(qvVmState* L, qvTextObject* object, int32_t x, int32_t y, int32_t width,
                       int32_t height, const qvDrawTransform* transform, qvDrawStyle* style,
                       int flags) {
    auto* item = qv::NewBlock<qvLayerItem>();
    if (item == nullptr) return ERR_MEM;
    item->x = x, item->y = y;
    item->width = object->layout->width, item->height = object->layout->height;
    const qvObjectId id = IdOf(object);
    return AddLayer(L, kTypeTextObject, &id, x + object->offsetX, y + object->offsetY, width,
                    height, transform, style, nullptr, nullptr, nullptr, item, 0, flags);
}

int DisplayTextObjectEx(qvVmState* L, qvObjectId id, int32_t x, int32_t y,
                        const qvDrawTransform* transform, int flags) {
    qvTextObject* object = nullptr;
    if (int code = FindTextObject(L, id, &object, 0)) return code;
    qvDrawTransform tags = qv::kInitialDrawTransform;
    qvDrawStyle style = qv::DefaultDrawStyle();
    if (transform == nullptr) {
        if (int code = ParseDrawTags(L, 4, object->baseWidth, object->baseHeight, 0, 0, 0, &tags,
                                     &style, QV_DRAWTAGS_RESET))
            return code;
        transform = &tags;
    }
    x = ResolvePosX(x, object->width, 0, transform->anchorx);
    y = ResolvePosY(y, object->height, 0, transform->anchory);
    qvDisplay* display = qv::gfx::Graphics().Host().CurrentDisplay();
    const bool layers = display != nullptr && qv::gfx::Graphics().View(display).layersEnabled;
    if (layers) {
        if (int code = AddTextObjectLayer(L, object, x, y, object->width, object->height, transform,
                                          &style, flags | QV_ADDLAYER_DISPLAYITEM))
            return code;
        if (!IsIdentity(*transform) || (flags & (1 | 4 | 8)) != 0 || style.anyStyle != 0) return 0;
        style = qv::DefaultDrawStyle();
    }
    return BlitTextObject(L, object, style, x + object->offsetX, y + object->offsetY);
}

int FreeTextObjectEx(qvVmState* L, qvObjectId id, bool report) {
    qvTextObject* object = FindInList(id, false);
    if (object == nullptr) return report ? qv::ObjectNotFound(id, ERR_FINDTEXTOBJECT) : 0;
    if (object->lockCount != 0) return ERR_LOCKEDOBJ;
    if (ObjectInUseByLayers(kTypeTextObject, id, object)) {
        // The layers were rebound to the record itself; the script's id is free.
        object->header.id = 0;
        object->header.handle = object;
        object->orphan = 1;
        return 0;
    }
    UnlinkObject(TextObjectList(), &object->header);
    Destroy(L, object);
    return 0;
}

void FreeOrphanTextObjects(qvVmState* L) {
    qv::ReleaseFromList(
        TextObjectList(),
        [](qvObjectHeader* h) {
            qvTextObject* object = AsTextObject(h);
            return object->orphan != 0 &&
                   !ObjectInUseByLayers(kTypeTextObject, IdOf(object), object);
        },
        [L](qvObjectHeader* h) { Destroy(L, AsTextObject(h)); });
}

void FreeTextObjects(qvVmState* L) {
    qv::DrainList(TextObjectList(), [L](qvObjectHeader* h) { Destroy(L, AsTextObject(h)); });
}

int CreateTextObject(qvVmState* L) {
    CheckArgCount(L, 2, 5);
    const qvObjectId id = NewIdArg(L, 1);
    qvBorrowedTextRender record;
    FillFromDefaults(&record, GetArgString(L, 2, nullptr));
    if (int code = ReadCreateArgs(L, &record)) return code;
    if (record.rightMargin < 0 || !ValidTextEncoding(record.encoding)) return ERR_WRONGUSAGE;
    if (int code = CheckReplaceable(id)) return code;
    // Rendered from the object's own layout record, which keeps the line breaks of this first
    // layout, so that the object rendered again at another size (scaled, or on a layer-scaled
    // display) breaks its lines in the same places.
    qv::BlockPtr<qvTextRender> layout(NewTextRenderRecord(&record));
    if (!layout) return ERR_MEM;
    qvRenderedText rendered{};
    if (int code = RenderText(L, nullptr, layout.get(), kTypeTextObject, false, nullptr, nullptr,
                              QV_RENDERTEXT_ONLY | QV_RENDERTEXT_KEEPGEOMETRY, &rendered))
        return code;
    NewRecord object = MakeRecord(id);
    if (!object) {
        FreeRenderedText(&rendered);
        return ERR_MEM;
    }
    qvTextObject* made = object.release();
    made->bitmap = rendered.bitmap, made->mask = rendered.mask, made->alpha = rendered.alpha;
    made->width = made->baseWidth = made->scaledWidth = rendered.width;
    made->height = made->baseHeight = made->scaledHeight = rendered.height;
    made->layout = layout.release();
    made->layout->width = rendered.width, made->layout->height = rendered.height;
    made->offsetX = rendered.left, made->offsetY = rendered.top;
    made->transform = qv::kInitialDrawTransform;
    return PublishTextObject(L, id, made);
}

int DisplayTextObject(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    const qvObjectId id = GetObjectIdArg(L, 1);
    return DisplayTextObjectEx(L, id, qv::Trunc32(GetArgNumber(L, 2)),
                               qv::Trunc32(GetArgNumber(L, 3)), nullptr, 0);
}

int FreeTextObject(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return FreeTextObjectEx(L, GetObjectIdArg(L, 1), true);
}

int CopyTextObject(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const qvObjectId sourceId = GetObjectIdArg(L, 1);
    const qvObjectId id = NewIdArg(L, 2);
    qvTextObject* source = nullptr;
    if (int code = FindTextObject(L, sourceId, &source, 0)) return code;
    if (id.handle == nullptr && sourceId.handle == nullptr && id.number == sourceId.number)
        return ERR_WRONGUSAGE;
    if (int code = CheckReplaceable(id)) return code;
    qvTextObject* copy = nullptr;
    if (int code = CloneTextObject(L, source, id, &copy)) return code;
    return PublishTextObject(L, id, copy);
}

int ScaleTextObject(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    qvTextObject* object = nullptr;
    if (int code = FindTextObject(L, GetObjectIdArg(L, 1), &object, QV_TEXTOBJECT_MODIFY))
        return code;
    auto side = [L](int idx, int32_t base) {
        return qv::gfx::TruncSaturate(GetNumberOrPercentArg(L, idx, base, 1, nullptr));
    };
    int32_t width = side(2, object->baseWidth), height = side(3, object->baseHeight);
    if (int code = ScaleKeepAspect(object->baseWidth, object->baseHeight, &width, &height))
        return code;
    object->scaledWidth = width, object->scaledHeight = height;
    return Rerender(L, object);
}

int RotateTextObject(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvTextObject* object = nullptr;
    if (int code = FindTextObject(L, GetObjectIdArg(L, 1), &object, QV_TEXTOBJECT_MODIFY))
        return code;
    const double angle = std::fmod(GetArgNumber(L, 2), 360.0);
    object->rotation = std::isfinite(angle) ? int32_t(angle) : 0;
    return Rerender(L, object);
}

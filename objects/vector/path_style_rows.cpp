#include "objects/vector/path_style_rows.h"

#include <memory>

#include "engine/error_codes.h"
#include "gfx/library/object_types.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_style_rows.h"
#include "objects/vector/path_queries.h"
#include "objects/vector/path_render.h"
#include "platform/linux/blocks.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"
#include "scene/layers/style_rows.h"

namespace qv {
namespace {

using scene::LayerStyleWork;

bool ReadInt(qvVmState* L, int t, const char* key, int32_t* value, LayerStyleWork* work) {
    if (GetTableFieldInt(L, t, key, value, nullptr) == 0) return false;
    work->rebuild = true;
    return true;
}

// The item takes its own copy of the path's stream; the layer remembers the path's id.
int ReadPathId(qvVmState* L, int t, LayerStyleWork* work, qvPathItem* item) {
    qvObjectId id{};
    if (GetTableFieldId(L, t, "id", &id, nullptr) == 0) {
        return work->retype ? ERR_MISSINGPARAMTR : 0;
    }
    qvPath* path = nullptr;
    if (const int code = FindPath(id, &path)) return code;
    if (const int code = item->SetStream(path->segments, UsedBytes(*path))) return code;
    work->layer.objectId = id;
    work->pathId = true;
    work->rebuild = true;
    return 0;
}

// Entry i of the table at index table, which must be a number; false past the last one.
int ReadDash(qvVmState* L, int table, int i, double* value, bool* present) {
    VmRawGetI(L, table, i);
    const int type = VmType(L, -1);
    *present = type != VM_TNIL;
    if (type == VM_TNUMBER) *value = VmToNumber(L, -1);
    VmSetTop(L, -2);
    if (*present && type != VM_TNUMBER) return ErrorWithText(ERR_NUMTABLEARG, "dashes");
    return *present && *value < 0 ? ERR_WRONGUSAGE : 0;
}

// The lengths from index 0 up to the first missing one. A negative length could never
// advance the pattern and is refused; a pattern without a length above 0 is no pattern, as
// an empty table is (solid, offset 0).
int ReadDashTable(qvVmState* L, int table, qvPathItem* item) {
    int32_t count = 0;
    bool anyLength = false;
    for (bool present = true;; ++count) {
        double value = 0;
        if (const int code = ReadDash(L, table, count, &value, &present)) return code;
        if (!present) break;
        anyLength = anyLength || value > 0;
    }
    if (!anyLength) {
        item->dashOffset = 0;
        return item->SetDashes(nullptr, 0);
    }
    std::unique_ptr<double[], draw::BlockFree> lengths(
        static_cast<double*>(AllocMemBlock(sizeof(double) * size_t(count), 0)));
    if (lengths == nullptr) return ERR_MEM;
    for (int32_t i = 0; i < count; ++i) {
        bool present = false;
        ReadDash(L, table, i, &lengths[i], &present);
    }
    return item->SetDashes(lengths.get(), count);
}

int ReadDashes(qvVmState* L, int t, LayerStyleWork* work, qvPathItem* item) {
    VmPushString(L, "dashes");
    VmGetTable(L, t);
    const int table = VmGetTop(L);
    int code = 0;
    if (VmType(L, table) == VM_TTABLE) {
        code = ReadDashTable(L, table, item);
        work->rebuild = true;
    } else if (VmType(L, table) != VM_TNIL) {
        SetErrorNumber(uint32_t(t));
        code = ERR_TABEXPECTED;
    }
    VmSetTop(L, table - 1);
    return code;
}

int ReadPathStyle(qvVmState* L, int t, LayerStyleWork* work) {
    auto* item = dynamic_cast<qvPathItem*>(work->item);
    if (item == nullptr) return ERR_WRONGUSAGE;
    if (const int code = ReadPathId(L, t, work, item)) return code;
    if (const int code = draw::ReadShapeColourAndForm(L, t, work, item)) return code;
    ReadInt(L, t, "linejoin", &item->join, work);
    ReadInt(L, t, "linecap", &item->cap, work);
    ReadInt(L, t, "fillrule", &item->fillRule, work);
    if (GetTableFieldNumber(L, t, "dashoffset", &item->dashOffset, nullptr) != 0) {
        work->rebuild = true;
    }
    if (const int code = ReadDashes(L, t, work, item)) return code;
    // The item's size becomes the new path's, so that an own size follows it.
    if (!work->pathId) return 0;
    return MeasurePathItem(item);
}

// The stroke defaults at the old position, with the style and colour of a shape, or the
// draw state's style (and a text layer's colour).
qvLayerItem* RetypePathItem(qvVmState*, const LayerStyleWork* work) {
    auto* item = NewBlock<qvPathItem>();
    if (item == nullptr) return nullptr;
    const qvLayerItem* old = work->live->sourceItem;
    item->drawState = *GetDrawState();
    if (old == nullptr) return item;
    item->x = old->x, item->y = old->y;
    if (const auto* shape = dynamic_cast<const qvShapeItem*>(old)) {
        item->drawState = shape->drawState;
        item->colour = shape->colour;
    } else if (work->oldType == gfx::kTypeTextOut || work->oldType == gfx::kTypePrint) {
        if (const auto* text = dynamic_cast<const qvTextRender*>(old))
            item->colour = text->style.colour;
    }
    return item;
}

void PushPathStyle(qvVmState* L, const qvLayer* layer) {
    const auto* item = dynamic_cast<const qvPathItem*>(layer->sourceItem);
    if (item == nullptr) return;
    SetTableFieldId(L, "id", &layer->objectId);
    draw::PushShapeColourAndForm(L, *item);
    SetTableFieldInt(L, "linejoin", item->join);
    SetTableFieldInt(L, "linecap", item->cap);
    SetTableFieldInt(L, "fillrule", item->fillRule);
    SetTableFieldNumber(L, "dashoffset", item->dashOffset);
    VmPushString(L, "dashes");
    VmNewTable(L);
    for (int32_t i = 0; item->dashes != nullptr && i < item->dashCount; ++i) {
        VmPushNumber(L, item->dashes[i]);
        VmRawSetI(L, -2, i);
    }
    VmSetTable(L, -3);
}

}  // namespace

void InstallPathStyleRow() {
    scene::SetLayerStyleRow(gfx::kTypeVectorPath, {ReadPathStyle, RetypePathItem, PushPathStyle});
}

}  // namespace qv

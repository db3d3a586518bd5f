#include "objects/draw/shape_style_rows.h"

#include <algorithm>
#include <initializer_list>

#include "engine/error_codes.h"
#include "gfx/clip.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/lines.h"
#include "objects/draw/shape_records.h"
#include "objects/draw/shape_redraw.h"
#include "platform/linux/blocks.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"
#include "scene/layers/style_rows.h"
#include "scene/layers/style_table.h"

namespace qv::draw {
namespace {

using scene::LayerStyleWork;

constexpr int32_t kShapeTypes[] = {BOX, CIRCLE, ELLIPSE, LINE, POLYGON, ARC};
constexpr const char* kCornerKeys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};

bool IsShapeType(uint32_t type) {
    return std::find(std::begin(kShapeTypes), std::end(kShapeTypes), int32_t(type)) !=
           std::end(kShapeTypes);
}

// Every key of a shape row asks for a rebuild.
bool ReadInt(qvVmState* L, int t, const char* key, int32_t* value, LayerStyleWork* work) {
    if (GetTableFieldInt(L, t, key, value, nullptr) == 0) return false;
    work->rebuild = true;
    return true;
}

// A key that a retype to the type cannot do without, unless the old type carries its value.
int Required(const LayerStyleWork& work, bool given, std::initializer_list<int32_t> carriers) {
    if (given || !work.retype) return 0;
    for (int32_t carrier : carriers) {
        if (int32_t(work.oldType) == carrier) return 0;
    }
    return ERR_MISSINGPARAMTR;
}

// The box of a shape drawn from its radii, as the redraw lays it out.
void SizeFromRadii(qvShapeItem* item) {
    item->width = SideOfRadius(item->radiusX), item->height = SideOfRadius(item->radiusY);
}

void ReadBox(qvVmState* L, int t, LayerStyleWork* work, qvShapeItem* item) {
    ReadInt(L, t, "sizex", &item->width, work);
    ReadInt(L, t, "sizey", &item->height, work);
    int32_t level = 0;
    if (ReadInt(L, t, "roundlevel", &level, work)) {
        std::fill(std::begin(item->cornerLevels), std::end(item->cornerLevels), level);
    }
    for (int i = 0; i < 4; ++i) ReadInt(L, t, kCornerKeys[i], &item->cornerLevels[i], work);
}

// radiusa and radiusb; a retype from another shape with radii keeps them.
int ReadRadii(qvVmState* L, int t, LayerStyleWork* work, qvShapeItem* item) {
    const bool a = ReadInt(L, t, "radiusa", &item->radiusX, work);
    const bool b = ReadInt(L, t, "radiusb", &item->radiusY, work);
    for (bool given : {a, b}) {
        if (const int code = Required(*work, given, {CIRCLE, ELLIPSE, ARC})) return code;
    }
    SizeFromRadii(item);
    return 0;
}

int ReadCircle(qvVmState* L, int t, LayerStyleWork* work, qvShapeItem* item) {
    int32_t radius = 0;
    const bool given = ReadInt(L, t, "radius", &radius, work);
    if (given) item->radiusX = item->radiusY = radius;
    if (const int code = Required(*work, given, {ELLIPSE, ARC})) return code;
    SizeFromRadii(item);
    return 0;
}

int ReadArc(qvVmState* L, int t, LayerStyleWork* work, qvShapeItem* item) {
    const bool start = ReadInt(L, t, "startangle", &item->startAngle, work);
    const bool end = ReadInt(L, t, "endangle", &item->endAngle, work);
    for (bool given : {start, end}) {
        if (const int code = Required(*work, given, {})) return code;
    }
    if (ReadInt(L, t, "clockwise", &item->clockwise, work)) {
        item->clockwise = item->clockwise != 0 ? 1 : 0;
    }
    return ReadRadii(L, t, work, item);
}

// New end points put the layer at their minimum; the item's box follows them.
void ReadLine(qvVmState* L, int t, LayerStyleWork* work, qvShapeItem* item) {
    bool points = false;
    for (auto [key, value] : {std::pair{"x1", &item->x1}, std::pair{"y1", &item->y1},
                              std::pair{"x2", &item->x2}, std::pair{"y2", &item->y2}}) {
        points = ReadInt(L, t, key, value, work) || points;
    }
    ReadInt(L, t, "thickness", &item->thickness, work);
    if (!points) return;
    const LineBox box = LineBoxOf(item->x1, item->y1, item->x2, item->y2);
    item->x = int32_t(box.x), item->y = int32_t(box.y);
    item->width = Saturate32(box.width), item->height = Saturate32(box.height);
    work->linePoints = true;
    work->lineX = item->x, work->lineY = item->y;
}

// New vertices: the item takes the points relative to their box, whose origin becomes the
// layer's position (an absolute x or y is added to it by the engine).
int ReadPolygon(qvVmState* L, int t, LayerStyleWork* work, qvShapeItem* item) {
    VmPushString(L, "vertices");
    VmGetTable(L, t);
    const int type = VmType(L, -1);
    int code = 0;
    if (type == VM_TNIL) {
        code = Required(*work, false, {});
    } else if (type != VM_TTABLE) {
        SetErrorNumber(uint32_t(t));
        code = ERR_TABEXPECTED;
    } else {
        qvPolygonTable table{};
        code = ReadPolygonTable(L, VmGetTop(L), 0, &table);
        if (code == 0) {
            item->points = std::move(table.points);
            item->pointCount = table.count;
            item->x = table.minX, item->y = table.minY;
            item->width = table.width, item->height = table.height;
            work->rebuild = true;
            work->hasOrigin = true;
            work->originX = table.minX, work->originY = table.minY;
        }
    }
    VmSetTop(L, -2);
    return code;
}

int ReadShapeStyle(qvVmState* L, int t, LayerStyleWork* work) {
    auto* item = dynamic_cast<qvShapeItem*>(work->item);
    if (item == nullptr) return ERR_WRONGUSAGE;
    if (const int code = ReadShapeColourAndForm(L, t, work, item)) return code;
    int code = 0;
    switch (int32_t(work->layer.type)) {
        case BOX:
            ReadBox(L, t, work, item);
            break;
        case CIRCLE:
            code = ReadCircle(L, t, work, item);
            break;
        case ELLIPSE:
            code = ReadRadii(L, t, work, item);
            break;
        case ARC:
            code = ReadArc(L, t, work, item);
            break;
        case LINE:
            ReadLine(L, t, work, item);
            break;
        case POLYGON:
            code = ReadPolygon(L, t, work, item);
            break;
        default:
            return ERR_WRONGUSAGE;
    }
    if (code != 0) return code;
    ClampStyleParams(&item->drawState);
    return 0;
}

// From a shape the whole item; from any other layer the draw state's style at the old
// position.
qvLayerItem* RetypeShapeItem(qvVmState*, const LayerStyleWork* work) {
    const qvLayerItem* old = work->live->sourceItem;
    if (IsShapeType(work->oldType)) {
        if (const auto* shape = dynamic_cast<const qvShapeItem*>(old)) return shape->Copy();
    }
    auto* item = NewBlock<qvShapeItem>();
    if (item == nullptr) return nullptr;
    item->drawState = *GetDrawState();
    if (old != nullptr) item->x = old->x, item->y = old->y;
    return item;
}

// A flat table x, y, x, y, ... from index 0.
void SetVertices(qvVmState* L, const qvShapeItem& item) {
    VmPushString(L, "vertices");
    VmNewTable(L);
    const int32_t count = item.points != nullptr ? item.pointCount : 0;
    for (int32_t i = 0; i < count; ++i) {
        VmPushNumber(L, item.points[i].x);
        VmRawSetI(L, -2, 2 * i);
        VmPushNumber(L, item.points[i].y);
        VmRawSetI(L, -2, 2 * i + 1);
    }
    VmSetTable(L, -3);
    SetTableFieldInt(L, "numvertices", count);
}

void PushShapeStyle(qvVmState* L, const qvLayer* layer) {
    const auto* item = dynamic_cast<const qvShapeItem*>(layer->sourceItem);
    if (item == nullptr) return;
    PushShapeColourAndForm(L, *item);
    const int32_t* corners = item->cornerLevels;
    switch (int32_t(layer->type)) {
        case BOX:
            SetTableFieldInt(L, "sizex", item->width);
            SetTableFieldInt(L, "sizey", item->height);
            if (std::all_of(corners, corners + 4, [&](int32_t c) { return c == corners[0]; })) {
                SetTableFieldInt(L, "roundlevel", corners[0]);
            } else {
                for (int i = 0; i < 4; ++i) SetTableFieldInt(L, kCornerKeys[i], corners[i]);
            }
            break;
        case CIRCLE:
            SetTableFieldInt(L, "radius", item->radiusX);
            break;
        case ARC:
            SetTableFieldInt(L, "startangle", item->startAngle);
            SetTableFieldInt(L, "endangle", item->endAngle);
            SetTableFieldInt(L, "clockwise", item->clockwise);
            [[fallthrough]];
        case ELLIPSE:
            SetTableFieldInt(L, "radiusa", item->radiusX);
            SetTableFieldInt(L, "radiusb", item->radiusY);
            break;
        case LINE:
            SetTableFieldInt(L, "thickness", item->thickness);
            SetTableFieldInt(L, "x1", item->x1);
            SetTableFieldInt(L, "y1", item->y1);
            SetTableFieldInt(L, "x2", item->x2);
            SetTableFieldInt(L, "y2", item->y2);
            break;
        case POLYGON:
            SetVertices(L, *item);
            break;
        default:
            break;
    }
}

}  // namespace

int ReadShapeColourAndForm(qvVmState* L, int t, LayerStyleWork* work, qvShapeItem* item) {
    if (GetTableFieldBool(L, t, "color", &item->colour, nullptr) != 0) work->rebuild = true;
    scene::FormStyleChanges changes;
    if (const int code = scene::ParseLayerFormStyle(L, t, &item->drawState, &work->layer.shadow,
                                                    &work->layer.border, &changes)) {
        return code;
    }
    work->rebuild = work->rebuild || changes.rebuild;
    work->refresh = work->refresh || changes.refresh;
    return 0;
}

void PushShapeColourAndForm(qvVmState* L, const qvShapeItem& item) {
    SetTableFieldNumber(L, "color", item.colour);
    scene::PushFormStyle(L, &item.drawState);
}

void InstallShapeStyleRows() {
    for (int32_t type : kShapeTypes) {
        scene::SetLayerStyleRow(uint32_t(type), {ReadShapeStyle, RetypeShapeItem, PushShapeStyle});
    }
}

}  // namespace qv::draw

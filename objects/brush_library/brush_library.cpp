#include "objects/brush_library/brush_library.h"

#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "objects/brush.h"
#include "runtime/exports.h"
#include "runtime/plugin_api/service_adapters.h"

namespace qv {
namespace {

enum : int32_t { kAttrTransparentColour = 5, kAttrHasMask = 16, kAttrHasAlpha = 17 };

constexpr qvCommandEntry kBrushCommands[] = {{nullptr, nullptr}};

// A hardware brush tells the planes it had before they were merged into its bitmap.
bool HadPlane(const qvPlaneBitMap* plane, const qvBrush* brush, uint32_t merged) {
    return plane != nullptr || (brush->hardware != 0 && (brush->mergedPlanes & merged) != 0);
}

double AttributeOf(const qvBrush* brush, int32_t attribute) {
    switch (attribute) {
        case gfx::ATTRWIDTH:
            return brush->width;
        case gfx::ATTRHEIGHT:
            return brush->height;
        case kAttrTransparentColour:
            return brush->transparentColour;
        case gfx::ATTRTYPE:
            return brush->type;
        case kAttrHasMask:
            return HadPlane(brush->mask, brush, kMergedMask);
        case kAttrHasAlpha:
            return HadPlane(brush->alpha, brush, kMergedAlpha);
        default:
            return brush->hardware;  // ATTRHARDWARE
    }
}

int BrushAttribute(const gfx::AttributeRequest& request) {
    qvBrush* brush = nullptr;
    if (const int code = GetBrush(request.L, request.id, &brush, QV_BRUSH_HARDWARE)) return code;
    VmPushNumber(request.L, AttributeOf(brush, request.attribute));
    return 1;
}

bool FindBrushForPlugin(const qvObjectId& id, BrushView* out) {
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    if (GetBrushInfo(id, &bitmap, &mask, &alpha) == 0) return false;
    *out = {bitmap, mask, static_cast<int32_t>(QueryBitMapAttr(bitmap, 0)),
            static_cast<int32_t>(QueryBitMapAttr(bitmap, 18))};
    return true;
}

}  // namespace
}  // namespace qv

int RegisterBrushLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kBrushCommands, 0);
    if (const int code = RegisterObjectList(qv::BrushList())) return code;
    qv::gfx::RegisterAttributeProvider(qv::gfx::kTypeBrush, qv::BrushAttribute);
    qv::ServiceHooks().findBrush = qv::FindBrushForPlugin;
    return RegisterCommandTable(qv::kBrushCommands, "brush");
}

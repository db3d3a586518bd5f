#include "objects/brush_library/brush_library.h"

#include "engine/convert.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "objects/brush.h"
#include "objects/brush_library/commands.h"
#include "objects/display_engine.h"
#include "runtime/arguments.h"
#include "runtime/exports.h"
#include "runtime/plugin_api/service_adapters.h"

namespace qv::brushes {

int BrushToChange(qvVmState* L, int idx, qvBrush** out, int flags) {
    return GetBrushToModify(L, GetObjectIdArg(L, idx), out, flags);
}

void ReplacePlanes(qvBrush* brush, gfx::NewPicture* planes, int32_t width, int32_t height) {
    FreeDisplayBitMap(brush->bitmap);
    FreePlaneBitMap(brush->mask);
    FreePlaneBitMap(brush->alpha);
    brush->bitmap = planes->bitmap.release();
    brush->mask = planes->mask.release();
    brush->alpha = planes->alpha.release();
    brush->width = width, brush->height = height;
    brush->rowLength = width;
}

int32_t LevelArg(qvVmState* L, int idx) {
    return Trunc32(GetNumberOrPercentArg(L, idx, 255, 0, nullptr));
}

int32_t PositionArg(qvVmState* L, int idx, int32_t objectSize, int32_t targetSize, bool vertical) {
    const int32_t position = GetOptIntArg(L, idx, nullptr);
    return vertical ? ResolvePosY(position, objectSize, targetSize, 0)
                    : ResolvePosX(position, objectSize, targetSize, 0);
}

int DisplayBrush(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    qvDisplayBrushArgs args{};
    args.kind = gfx::kTypeBrush;
    args.id = GetObjectIdArg(L, 1);
    args.x = GetOptIntArg(L, 2, nullptr), args.y = GetOptIntArg(L, 3, nullptr);
    args.tagArgIndex = 4;
    return DisplayBrushEx(L, args);
}

int DisplayBrushPart(qvVmState* L) {
    CheckArgCount(L, 7, 8);
    qvDisplayBrushArgs args{};
    args.kind = gfx::kTypeBrushPart;
    args.id = GetObjectIdArg(L, 1);
    args.srcX = GetOptIntArg(L, 2, nullptr), args.srcY = GetOptIntArg(L, 3, nullptr);
    args.x = GetOptIntArg(L, 4, nullptr), args.y = GetOptIntArg(L, 5, nullptr);
    args.width = GetOptIntArg(L, 6, nullptr), args.height = GetOptIntArg(L, 7, nullptr);
    args.tagArgIndex = 8;
    return DisplayBrushEx(L, args);
}

}  // namespace qv::brushes

namespace qv {
namespace {

using namespace brushes;

enum : int32_t { kAttrTransparentColour = 5, kAttrHasMask = 16, kAttrHasAlpha = 17 };

// In the published order.
constexpr qvCommandEntry kBrushCommands[] = {
    {"CreateBrush", CreateBrush},
    {"DisplayBrush", DisplayBrush},
    {"DisplayBrushPart", DisplayBrushPart},
    {"ScaleBrush", ScaleBrush},
    {"FreeBrush", FreeBrush},
    {"TintBrush", TintBrush},
    {"ReplaceColors", ReplaceColors},
    {"InvertBrush", InvertBrush},
    {"FlipBrush", FlipBrush},
    {"MixBrush", MixBrush},
    {"BrushToGray", BrushToGray},
    {"RotateBrush", RotateBrush},
    {"GetBrushLink", GetBrushLink},
    {"SelectBrush", SelectBrush},
    {"CopyBrush", CopyBrush},
    {"SetBrushTransparency", SetBrushTransparency},
    {"LoadBrush", LoadBrush},
    {"SelectMask", SelectMask},
    {"SetMaskMode", SetMaskMode},
    {"SaveBrush", SaveBrush},
    {"SelectAlphaChannel", SelectAlphaChannel},
    {"SetAlphaIntensity", SetAlphaIntensity},
    {"DeleteAlphaChannel", DeleteAlphaChannel},
    {"CropBrush", CropBrush},
    {"InvertMask", InvertMask},
    {"InvertAlphaChannel", InvertAlphaChannel},
    {"FloodFill", FloodFill},
    {"DeleteMask", DeleteMask},
    {"BeginDoubleBuffer", BeginDoubleBuffer},
    {"EndDoubleBuffer", EndDoubleBuffer},
    {"Flip", Flip},
    {"ConvertToBrush", ConvertToBrush},
    {"GrabDesktop", GrabDesktop},
    {"TransformBrush", TransformBrush},
    {"TrimBrush", TrimBrush},
    {"RasterizeBrush", RasterizeBrush},
    {"BlurBrush", BlurBrush},
    {"EmbossBrush", EmbossBrush},
    {"EdgeBrush", EdgeBrush},
    {"SharpenBrush", SharpenBrush},
    {"SolarizeBrush", SolarizeBrush},
    {"GammaBrush", GammaBrush},
    {"ContrastBrush", ContrastBrush},
    {"ModulateBrush", ModulateBrush},
    {"SepiaToneBrush", SepiaToneBrush},
    {"CharcoalBrush", CharcoalBrush},
    {"SwirlBrush", SwirlBrush},
    {"PixelateBrush", PixelateBrush},
    {"BrushToMonochrome", BrushToMonochrome},
    {"ChangeBrushTransparency", ChangeBrushTransparency},
    {"CreateShadowBrush", CreateShadowBrush},
    {"CreateBorderBrush", CreateBorderBrush},
    {"WaterRippleBrush", WaterRippleBrush},
    {"OilPaintBrush", OilPaintBrush},
    {"BrushToRGBArray", BrushToRGBArray},
    {"RGBArrayToBrush", RGBArrayToBrush},
    {"PerspectiveDistortBrush", PerspectiveDistortBrush},
    {"ArcDistortBrush", ArcDistortBrush},
    {"PolarDistortBrush", PolarDistortBrush},
    {"BarrelDistortBrush", BarrelDistortBrush},
    {"CreateGradientBrush", CreateGradientBrush},
    {"CreateTexturedBrush", CreateTexturedBrush},
    {"ReadBrushPixel", ReadBrushPixel},
    {"WriteBrushPixel", WriteBrushPixel},
    {nullptr, nullptr},
};

constexpr qvConstant kBrushConstants[] = {
    {"MASKVISIBLE", nullptr, gfx::kMaskVisible},
    {"MASKINVISIBLE", nullptr, gfx::kMaskInvisible},
    {"MASKVANILLACOPY", nullptr, gfx::kMaskVanillaCopy},
    {"MASKXOR", nullptr, gfx::kMaskXor},
    {"MASKAND", nullptr, gfx::kMaskAnd},
    {"MASKOR", nullptr, gfx::kMaskOr},
    {"VANILLACOPY", nullptr, gfx::kAlphaVanillaCopy},
    {"SELMODE_NORMAL", nullptr, 0},
    {"SELMODE_COMBO", nullptr, 1},
    {"SELMODE_LAYERS", nullptr, 2},
    {nullptr, nullptr, 0},
};

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
            return ColourKeyOf(brush->transparentColour);
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
    RegisterConstants(L, qv::kBrushConstants, 0);
    if (const int code = RegisterObjectList(qv::BrushList())) return code;
    qv::gfx::RegisterAttributeProvider(qv::gfx::kTypeBrush, qv::BrushAttribute);
    qv::ServiceHooks().findBrush = qv::FindBrushForPlugin;
    return RegisterCommandTable(qv::kBrushCommands, "brush");
}

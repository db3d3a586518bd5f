#include "gfx/library/graphics_library.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "gfx/gfx_cache.h"
#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/clip_regions.h"
#include "gfx/library/commands.h"
#include "gfx/library/get_attribute.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_types.h"
#include "gfx/library/pointers.h"
#include "runtime/exports.h"

namespace qv::gfx {
namespace {

enum : uint32_t { kAttrMaskMode = 5, kAttrAlphaIntensity = 7 };

constexpr qvCommandEntry kGraphicsCommands[] = {
    {"Red", Red},
    {"Green", Green},
    {"Blue", Blue},
    {"RGB", RGB},
    {"ARGB", ARGB},
    {"MovePointer", MovePointer},
    {"HidePointer", HidePointer},
    {"SetPointer", SetPointer},
    {"ShowPointer", ShowPointer},
    {"GetAttribute", GetAttribute},
    {"GetPen", GetPen},
    {"VWait", VWait},
    {"SetFPSLimit", SetFPSLimit},
    {"GetFPSLimit", GetFPSLimit},
    {"IsPicture", IsPicture},
    {"GetRealColor", GetRealColor},
    {"SaveSnapshot", SaveSnapshot},
    {"MixRGB", MixRGB},
    {"CreateClipRegion", CreateClipRegion},
    {"SetClipRegion", SetClipRegion},
    {"FreeClipRegion", FreeClipRegion},
    {"CreatePointer", CreatePointer},
    {"FreePointer", FreePointer},
    {"AsyncDrawFrame", AsyncDrawFrame},
    {"CancelAsyncDraw", CancelAsyncDraw},
    {"FinishAsyncDraw", FinishAsyncDraw},
    {"DumpVideoTime", DumpVideoTime},
    {"GetRandomColor", GetRandomColor},
    {"SetDrawTagsDefault", SetDrawTagsDefault},
    {nullptr, nullptr},
};

// Every constant but the attribute numbers, which follow them.
constexpr qvConstant kFixedConstants[] = {
    {"CENTER", nullptr, -100000},
    {"LEFT", nullptr, -90000},
    {"RIGHT", nullptr, -80000},
    {"TOP", nullptr, -70000},
    {"BOTTOM", nullptr, -60000},
    {"LEFTOUT", nullptr, -50000},
    {"RIGHTOUT", nullptr, -40000},
    {"TOPOUT", nullptr, -30000},
    {"BOTTOMOUT", nullptr, -20000},
    {"USELAYERPOSITION", nullptr, 100000},
    {"KEEPASPRAT", nullptr, 100000},
    {"BGPIC", nullptr, 1},
    {"BRUSH", nullptr, 3},
    {"ANIM", nullptr, 4},
    {"TEXTOBJECT", nullptr, 8},
    {"TEXTOUT", nullptr, 9},
    {"UNDO", nullptr, 10},
    {"PRINT", nullptr, 11},
    {"BRUSHPART", nullptr, 12},
    {"BGPICPART", nullptr, 13},
    {"DISPLAY", nullptr, 21},
    {"LAYER", nullptr, 22},
    {"HIDEBRUSH", nullptr, 23},
    {"INSERTBRUSH", nullptr, 24},
    {"HIDELAYER", nullptr, 25},
    {"REMOVELAYER", nullptr, 26},
    {"SHAPE", nullptr, 28},
    {"MASK", nullptr, 28},
    {"NEXTFRAME", nullptr, 29},
    {"ALPHACHANNEL", nullptr, 30},
    {"SPRITE", nullptr, 32},
    {"NEXTFRAME2", nullptr, 34},
    {"CLIPREGION", nullptr, 35},
    {"POINTER", nullptr, 36},
    {"ASYNCDRAW", nullptr, 37},
    {"DOUBLEBUFFER", nullptr, 38},
    {"MEMORY", nullptr, 39},
    {"EVENTHANDLER", nullptr, 40},
    {"INTERVAL", nullptr, 41},
    {"TIMEOUT", nullptr, 42},
    {"FONT", nullptr, 43},
    {"FILE", nullptr, 44},
    {"DIRECTORY", nullptr, 45},
    {"BRUSH_VS_BOX", nullptr, 46},
    {"LAYER_VS_BOX", nullptr, 47},
    {"SPRITE_VS_BOX", nullptr, 48},
    {"VECTORPATH", nullptr, 49},
    {"VIDEO", nullptr, 50},
    {"MOVELIST", nullptr, 51},
    {"ANIMSTREAM", nullptr, 52},
    {"TIMER", nullptr, 53},
    {"CLIENT", nullptr, 54},
    {"SERVER", nullptr, 55},
    {"UDPOBJECT", nullptr, 56},
    {"NORMALSPEED", nullptr, -1},
    {"FASTSPEED", nullptr, -2},
    {"SLOWSPEED", nullptr, -3},
    {"DEFAULTSPEED", nullptr, -4},
    {"NOTRANSPARENCY", nullptr, 4294967295.0},
    {"NOCOLOR", nullptr, 4294967295.0},
    {"NONE", nullptr, -1},
    {"LINEAR", nullptr, 2},
    {"RADIAL", nullptr, 3},
    {"CONICAL", nullptr, 4},
    {"SNAPWINDOW", nullptr, 0},
    {"SNAPDISPLAY", nullptr, 1},
    {"SNAPDESKTOP", nullptr, 2},
    {"IMGFMT_BMP", nullptr, 0},
    {"IMGFMT_PNG", nullptr, 1},
    {"IMGFMT_JPEG", nullptr, 2},
    {"IMGFMT_GIF", nullptr, 3},
    {"IMGFMT_ILBM", nullptr, 4},
    {"ANMFMT_GIF", nullptr, 0},
    {"ANMFMT_MJPEG", nullptr, 1},
    {"STDPTR_SYSTEM", nullptr, 0},
    {"STDPTR_BUSY", nullptr, 1},
    {"STDPTR_CUSTOM", nullptr, 2},
    {"ADF_FX", nullptr, 0},
    {"ADF_MOVEOBJECT", nullptr, 1},
    {"ADF_ANIM", nullptr, 2},
    {"IMAGETYPE_RASTER", nullptr, 0},
    {"IMAGETYPE_VECTOR", nullptr, 1},
};

constexpr size_t kConstantCount = std::size(kFixedConstants) + std::size(kAttributeNames);
static_assert(kConstantCount == 156);

// The fixed rows, the attribute numbers and the closing empty row.
constexpr auto kGraphicsConstants = [] {
    std::array<qvConstant, kConstantCount + 1> rows{};
    size_t at = 0;
    for (const qvConstant& row : kFixedConstants) rows[at++] = row;
    for (size_t a = 0; a < std::size(kAttributeNames); ++a) {
        rows[at++] = {kAttributeNames[a], nullptr, static_cast<double>(a)};
    }
    rows[at] = {nullptr, nullptr, 0};
    return rows;
}();

int32_t* AttrField(uint32_t tag) {
    GraphicsState& g = Graphics();
    switch (tag) {
        case kAttrMaskMode:
            return &g.maskMode;
        case kAttrAlphaIntensity:
            return &g.alphaIntensity;
        default:
            return nullptr;
    }
}

int Count(int32_t type) {
    return CountObjectsOfType(static_cast<uint32_t>(type));
}

// The pseudo background picture and the pseudo-display are not the script's.
int CountLessOne(int count) {
    return std::max(count - 1, 0);
}

}  // namespace

std::span<const qvCommandEntry> GraphicsCommands() {
    return {kGraphicsCommands, std::size(kGraphicsCommands) - 1};
}

std::span<const qvConstant> GraphicsConstants() {
    return {kGraphicsConstants.data(), kConstantCount};
}

}  // namespace qv::gfx

using namespace qv::gfx;

int RegisterGraphicsLibrary(qvVmState* L) {
    GraphicsState& g = Graphics();
    g.maskMode = kMaskVisible;
    g.alphaIntensity = 128;
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kGraphicsCommands, 0);
    RegisterConstants(L, kGraphicsConstants.data(), 0);
    if (const int code = g.CreatePseudoDisplay()) return code;
    if (const int code = InitDrawTagDefaults()) return code;
    for (qvObjectHeader** list : {&g.clipRegions, &g.pointers, &g.asyncDraws}) {
        if (const int code = RegisterObjectList(list)) return code;
    }
    RegisterGraphicsAttributeProviders();
    return RegisterCommandTable(kGraphicsCommands, "graphics");
}

int GraphicsSetAttr(qvVmState*, uint32_t tag, int32_t value) {
    int32_t* field = AttrField(tag);
    if (field == nullptr) return 0;
    *field = value;
    return 1;
}

int GraphicsGetAttr(qvVmState*, uint32_t tag, int32_t* value) {
    const int32_t* field = AttrField(tag);
    if (field == nullptr) return 0;
    *value = *field;
    return 1;
}

void FreeGraphicsObjects(qvVmState* L) {
    FreeAsyncDraws(L);
    FlushGfxCache();
    FreeAllClipRegions(L);
    FreeAllPointers();
    FreeDrawTagDefaults();
    Graphics().Free();
}

int DumpObjectCounts(char* buffer, size_t size) {
    Neighbours& n = Neighbour();
    return std::snprintf(buffer, size,
                         "Anims               %d\nAsync draws         %d\nBGPics              %d\n"
                         "Brushes             %d\nClip regions        %d\nDirectories         %d\n"
                         "Displays            %d\nFiles               %d\nFonts               %d\n"
                         "Layers (on screen)  %d\nLayers (total)      %d\nMemory blocks       %d\n"
                         "Musics              %d\nPointer images      %d\nSamples             %d\n"
                         "Sprites (on screen) %d\nSprites (total)     %d\nText objects        %d\n"
                         "Timers              %d\nVector paths        %d\nVideos              %d\n",
                         Count(kTypeAnim), Count(kTypeAsyncDraw), CountLessOne(Count(kTypeBGPic)),
                         Count(kTypeBrush), Count(kTypeClipRegion), Count(kTypeDirectory),
                         CountLessOne(Count(kTypeDisplay)), Count(kTypeFile), Count(kTypeFont),
                         n.CountLayersOnScreen(), n.CountAllLayers(), Count(kTypeMemory),
                         Count(kTypeMusic), Count(kTypePointer), Count(kTypeSample),
                         n.CountSpritesOnScreen(), Count(kTypeSprite), Count(kTypeTextObject),
                         Count(kTypeTimer), Count(kTypeVectorPath), Count(kTypeVideo));
}

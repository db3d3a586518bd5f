#include "objects/draw/draw_commands.h"

#include <algorithm>

#include "engine/convert.h"
#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/clip_region.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/neighbours.h"
#include "media/video_display.h"
#include "objects/draw/box.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_engine.h"
#include "objects/draw/shape_output.h"
#include "objects/draw_tags.h"
#include "objects/scene_seam.h"
#include "objects/sprite/sprite.h"
#include "objects/vector/vector_library.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/option_tables.h"
#include "scene/bgpic.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/transform_matrix.h"
#include "scene/object_hooks.h"

namespace qv::draw {
namespace {

ShapeToPathFn shapeToPath = nullptr;
PathForcedFn pathForced = PathUseForced;

int32_t IntArg(qvVmState* L, int idx) {
    return Trunc32(GetArgNumber(L, idx));
}

bool PathsForced() {
    return shapeToPath != nullptr && pathForced != nullptr && pathForced();
}

// A request for path rendering with the fields every shape has; the rest are zero.
qvShapePathRequest PathRequest(int32_t type, int32_t x, int32_t y, uint32_t colour, int tagsIndex) {
    qvShapePathRequest request{};
    request.type = type, request.x = x, request.y = y;
    request.colour = colour, request.tagsIndex = tagsIndex;
    return request;
}

// The transform and style of a shape command: a tags table at idx, else the defaults with a
// rotation (by the command's own rule) over the shape's box.
struct ShapeTags {
    qvDrawTransform transform;
    qvDrawStyle style;
    bool table = false;
};

int ReadShapeTags(qvVmState* L, int idx, int32_t width, int32_t height, int flags,
                  ShapeTags* tags) {
    if (VmGetTop(L) >= idx && VmType(L, idx) == VM_TTABLE) {
        tags->table = true;
        return ParseDrawTags(L, idx, width, height, width, height, 0, &tags->transform,
                             &tags->style, QV_DRAWTAGS_RESET | flags);
    }
    ResetDrawTags(&tags->transform, &tags->style, width, height, 0, 0);
    return 0;
}

void Rotate(ShapeTags* tags, int32_t angle, int32_t width, int32_t height) {
    tags->transform.rotate = angle % 360;
    tags->transform.hasTransform = tags->transform.rotate != 0 ? 1 : 0;
    MakeTransformMatrix(tags->transform.matrix, width, height, width, height,
                        tags->transform.rotate, 1, 1);
}

// The rotation that counts as the last argument after a number at lastIdx - 1.
void TrailingRotation(qvVmState* L, int lastIdx, int32_t width, int32_t height, ShapeTags* tags) {
    if (VmGetTop(L) == lastIdx && VmType(L, lastIdx - 1) == VM_TNUMBER) {
        Rotate(tags, IntArg(L, lastIdx), width, height);
    }
}

qvShapeDesc ShapeOf(int32_t type, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour, ShapeTags* tags) {
    qvShapeDesc desc{};
    desc.type = type, desc.x = x, desc.y = y, desc.width = width, desc.height = height;
    desc.colour = colour;
    desc.drawState = GetDrawState();
    desc.transform = &tags->transform;
    desc.style = &tags->style;
    return desc;
}

int32_t BoxSide(int32_t radius) {
    return Saturate32(2 * int64_t(radius) + 1);
}

// The drawing area holds the point, and the active clip region's mask has it.
bool InDrawingArea(int32_t x, int32_t y) {
    const Area area = DrawingArea();
    if (x < area.left || x > area.right || y < area.top || y > area.bottom) return false;
    const qvClipRegion* region = gfx::Graphics().Host().CurrentOutputPicture().clipRegion;
    return region == nullptr || region->mask == nullptr ||
           ReadBitMapPixel(region->mask, x - region->x, y - region->y) != 0;
}

// A set mask pixel of a shown sprite's current frame covers the point.
bool UnderSpriteMask(const qvBGPic* picture, int32_t x, int32_t y) {
    if (picture == nullptr) return false;
    for (const qvSpriteInstance* s = picture->sprites; s != nullptr; s = s->next) {
        if (x < s->x || y < s->y || int64_t(x) >= int64_t(s->x) + s->width ||
            int64_t(y) >= int64_t(s->y) + s->height) {
            continue;
        }
        gfx::PictureView frame{};
        if (scene::Objects().SpriteFrame(*s, s->frame - 1, &frame) && frame.mask != nullptr &&
            ReadBitMapPixel(frame.mask, x - s->x, y - s->y) != 0) {
            return true;
        }
    }
    return false;
}

// The output's bitmaps, fetched for brush, mask and alpha-channel targets. The fetch may make
// the target's mask or alpha channel, so the view is read again after it.
int FetchOutput(qvVmState* L, qvDisplay* display, gfx::DisplayView* view,
                qvDisplayBitMap** output) {
    *output = nullptr;
    if (view->outputType == gfx::kTargetDisplay) return 0;
    const int code = objects::Scene().FetchOutputBitmaps(L, output);
    *view = gfx::Graphics().View(display);
    return code;
}

uint32_t Blended(uint32_t colour, uint32_t under) {
    const int32_t transparency = int32_t(colour >> 24);
    if (transparency == 0) return colour & 0xFFFFFF;
    return BlendRGB(colour & 0xFFFFFF, under, transparency) & 0xFFFFFF;
}

// The point in the display's bitmap, and in the second one while it autoscales; the colour
// drawn.
uint32_t PlotBuffers(const gfx::DisplayView& view, int32_t x, int32_t y, uint32_t colour) {
    const uint32_t rgb = Blended(colour, ReadBitMapPixel(view.backBuffers[0], x, y));
    PlotPixel(view.backBuffers[0], x, y, rgb);
    if (view.AutoscaleActive() && view.backBuffers[1] != nullptr) {
        PlotPixel(view.backBuffers[1], x, y, rgb);
    }
    return rgb;
}

void PlotDisplay(qvDisplay* display, const gfx::DisplayView& view, int32_t x, int32_t y,
                 uint32_t colour) {
    const uint32_t rgb = PlotBuffers(view, x, y, colour);
    if (view.AutoscaleActive() && view.backBuffers[1] != nullptr) {
        BltToDisplay(view.backBuffers[1], x, y, display, x, y, 1, 1, QV_REFRESH_AUTOSCALE);
    } else if (VideoPlayingOnDisplay(display) == 0) {
        WriteWindowPixel(view.window, x, y, rgb);
    }
}

void PlotTarget(qvVmState* L, const gfx::DisplayView& view, qvDisplayBitMap* bitmap, int32_t x,
                int32_t y, uint32_t colour) {
    const gfx::GraphicsState& graphics = gfx::Graphics();
    const int32_t transparency = int32_t(colour >> 24);
    if (bitmap != nullptr) {
        const bool blend = view.targetAlpha == nullptr;
        PlotPixel(bitmap, x, y,
                  blend ? Blended(colour, ReadBitMapPixel(bitmap, x, y)) : colour & 0xFFFFFF);
    }
    if (view.targetMask != nullptr) {
        PlotPixel(view.targetMask, x, y, bitmap != nullptr ? 2 : graphics.maskMode);
    }
    if (view.targetAlpha != nullptr) {
        int32_t value = 255 - transparency;
        if (bitmap == nullptr && graphics.alphaIntensity != gfx::kAlphaVanillaCopy) {
            value = std::clamp(graphics.alphaIntensity, 0, 255);
        }
        FillPlane8Rect(view.targetAlpha, x, y, 1, 1, uint8_t(value));
    }
    if (view.doubleBuffered) AddDirtyRect(L, x, y, 1, 1);
}

int ClsRedirected(qvVmState* L, const gfx::DisplayView& view, qvDisplayBitMap* bitmap,
                  uint32_t colour) {
    gfx::GraphicsState& graphics = gfx::Graphics();
    const gfx::OutputPicture picture = graphics.Host().CurrentOutputPicture();
    const int32_t w = picture.width, h = picture.height;
    if (bitmap != nullptr) RectFill(bitmap, 0, 0, w, h, colour & 0xFFFFFF);
    if (view.targetAlpha != nullptr) {
        int32_t value = 255;
        if (bitmap == nullptr && graphics.alphaIntensity != gfx::kAlphaVanillaCopy) {
            value = std::clamp(graphics.alphaIntensity, 0, 255);
        }
        FillPlane8Rect(view.targetAlpha, 0, 0, w, h, uint8_t(value));
    }
    if (view.targetMask != nullptr) {
        FillMaskRect(view.targetMask, 0, 0, w, h, bitmap != nullptr ? 2 : graphics.maskMode);
    }
    if (view.doubleBuffered) AddDirtyRect(L, 0, 0, w, h);
    return 0;
}

// Frees the picture's layers. Drawing into a picture records what the end of the
// redirection repaints: there the freed layers' bounds.
int ClsLayers(qvVmState* L, qvBGPic* picture, int32_t outputType) {
    int code = 0;
    scene::ForEachLayer(&picture->layers, [&](qvLayer* layer) {
        if (IsObjectUsedByAsyncDraw(layer) != 0) code = ERR_REMADLAYER;
    });
    if (code != 0) return code;
    if (outputType == gfx::kTargetBGPic)
        scene::ForEachLayer(&picture->layers, [&](qvLayer* layer) { RefreshLayer(L, layer); });
    FreeLayerList(L, picture);
    return 0;
}

}  // namespace

void SetShapeToPath(ShapeToPathFn fn) {
    shapeToPath = fn;
}

ShapeToPathFn InstalledShapeToPath() {
    return shapeToPath;
}

void SetPathForcedQuery(PathForcedFn fn) {
    pathForced = fn;
}

// Box(x, y, width, height [, colour] [, tags or round level] [, rotation])
int Box(qvVmState* L) {
    CheckArgCount(L, 4, 7);
    const int32_t x = IntArg(L, 1), y = IntArg(L, 2), w = IntArg(L, 3), h = IntArg(L, 4);
    const uint32_t colour = GetOptArgUInt32(L, 5, 0);
    int32_t levels[4] = {};
    ShapeTags tags;
    if (const int code = ReadShapeTags(L, 6, w, h, 0, &tags)) return code;
    if (tags.table) {
        // "roundlevel" sets all four corners; a corner's own field overrides only that one.
        int32_t value = 0;
        if (GetTableFieldInt(L, 6, "roundlevel", &value, nullptr)) {
            std::fill(std::begin(levels), std::end(levels), value);
        }
        const char* corners[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
        for (int i = 0; i < 4; ++i) GetTableFieldInt(L, 6, corners[i], &levels[i], nullptr);
    } else if (VmGetTop(L) >= 6 && VmType(L, 6) == VM_TNUMBER) {
        std::fill(std::begin(levels), std::end(levels), IntArg(L, 6));
        TrailingRotation(L, 7, w, h, &tags);
    }
    if (PathsForced()) {
        qvShapePathRequest request = PathRequest(BOX, x, y, colour, tags.table ? 6 : 0);
        request.width = w, request.height = h;
        std::copy(std::begin(levels), std::end(levels), request.cornerLevels);
        return shapeToPath(L, request);
    }
    qvShapeDesc desc = ShapeOf(BOX, x, y, w, h, colour, &tags);
    std::copy(std::begin(levels), std::end(levels), desc.cornerLevels);
    return DrawBoxEx(L, desc, 0);
}

// Circle(x, y, radius [, colour] [, tags or rotation]) and Ellipse(x, y, rx, ry ...): the
// tags position holds the rotation when it is a number.
int DrawEllipseCommand(qvVmState* L, int32_t type) {
    const bool circle = type == CIRCLE;
    CheckArgCount(L, circle ? 3 : 4, circle ? 5 : 6);
    const int32_t x = IntArg(L, 1), y = IntArg(L, 2);
    const int32_t rx = IntArg(L, 3), ry = circle ? rx : IntArg(L, 4);
    const int colourIdx = circle ? 4 : 5, tagsIdx = colourIdx + 1;
    const uint32_t colour = GetOptArgUInt32(L, colourIdx, 0);
    const int32_t w = BoxSide(rx), h = BoxSide(ry);
    ShapeTags tags;
    if (const int code =
            ReadShapeTags(L, tagsIdx, w, h, circle ? QV_DRAWTAGS_NOROTATE : 0, &tags)) {
        return code;
    }
    if (!tags.table && VmGetTop(L) >= tagsIdx && VmType(L, tagsIdx) == VM_TNUMBER) {
        Rotate(&tags, IntArg(L, tagsIdx), w, h);
    }
    if (PathsForced()) {
        qvShapePathRequest request = PathRequest(type, x, y, colour, tags.table ? tagsIdx : 0);
        request.radiusX = rx, request.radiusY = ry;
        return shapeToPath(L, request);
    }
    if (rx < 1 || ry < 1) return ERR_WRONGUSAGE;
    qvShapeDesc desc = ShapeOf(type, x, y, w, h, colour, &tags);
    desc.radiusX = rx, desc.radiusY = ry;
    return DrawShapeEx(L, &desc, 0);
}

int Circle(qvVmState* L) {
    return DrawEllipseCommand(L, CIRCLE);
}

int Ellipse(qvVmState* L) {
    return DrawEllipseCommand(L, ELLIPSE);
}

// Arc(x, y, rx, ry, start, end [, colour] [, tags or clockwise] [, rotation])
int Arc(qvVmState* L) {
    CheckArgCount(L, 6, 9);
    const int32_t x = IntArg(L, 1), y = IntArg(L, 2), rx = IntArg(L, 3), ry = IntArg(L, 4);
    const int32_t start = IntArg(L, 5), end = IntArg(L, 6);
    const uint32_t colour = GetOptArgUInt32(L, 7, 0);
    const int32_t w = BoxSide(rx), h = BoxSide(ry);
    int32_t clockwise = 1;
    ShapeTags tags;
    if (const int code = ReadShapeTags(L, 8, w, h, 0, &tags)) return code;
    if (tags.table) {
        int found = 0, value = 0;
        GetTableFieldInt(L, 8, "clockwise", &value, &found);
        if (found != 0) clockwise = value;
    } else if (VmGetTop(L) >= 8 && VmType(L, 8) == VM_TNUMBER) {
        clockwise = IntArg(L, 8);
        TrailingRotation(L, 9, w, h, &tags);
    }
    if (PathsForced()) {
        qvShapePathRequest request = PathRequest(ARC, x, y, colour, tags.table ? 8 : 0);
        request.radiusX = rx, request.radiusY = ry;
        request.startAngle = start, request.endAngle = end, request.clockwise = clockwise;
        return shapeToPath(L, request);
    }
    if (rx < 1 || ry < 1 || start < 0 || end < 0) return ERR_WRONGUSAGE;
    if (start == end) return 0;
    qvShapeDesc desc = ShapeOf(ARC, x, y, w, h, colour, &tags);
    desc.radiusX = rx, desc.radiusY = ry;
    desc.startAngle = start, desc.endAngle = end, desc.clockwise = clockwise != 0 ? 1 : 0;
    return DrawShapeEx(L, &desc, 0);
}

// Polygon(x, y, vertices, count [, colour] [, tags or rotation])
int Polygon(qvVmState* L) {
    CheckArgCount(L, 4, 6);
    const int32_t x = IntArg(L, 1), y = IntArg(L, 2), count = IntArg(L, 4);
    const uint32_t colour = GetOptArgUInt32(L, 5, 0);
    if (count < 2 || count > kMaxPolygonPoints) return ERR_WRONGUSAGE;
    qvPolygonTable table{};
    if (const int code = ReadPolygonTable(L, 3, count, &table)) return code;
    ShapeTags tags;
    if (const int code = ReadShapeTags(L, 6, table.width, table.height, 0, &tags)) return code;
    if (!tags.table && VmGetTop(L) >= 6 && VmType(L, 6) == VM_TNUMBER) {
        Rotate(&tags, IntArg(L, 6), table.width, table.height);
    }
    const int32_t px = Saturate32(int64_t(x) + table.minX);
    const int32_t py = Saturate32(int64_t(y) + table.minY);
    if (PathsForced()) {
        qvShapePathRequest request = PathRequest(POLYGON, px, py, colour, tags.table ? 6 : 0);
        request.points = table.points.get(), request.pointCount = table.count;
        return shapeToPath(L, request);
    }
    qvShapeDesc desc = ShapeOf(POLYGON, px, py, table.width, table.height, colour, &tags);
    desc.points = table.points.get(), desc.pointCount = table.count;
    return DrawShapeEx(L, &desc, 0);
}

// Plot(x, y [, colour])
int Plot(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    const int32_t x = IntArg(L, 1), y = IntArg(L, 2);
    const uint32_t colour = GetOptArgUInt32(L, 3, 0);
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr) return 0;
    gfx::DisplayView view = graphics.View(display);
    if (view.layersEnabled) return ERR_LAYERSUPPORT2;
    qvDisplayBitMap* output = nullptr;
    if (const int code = FetchOutput(L, display, &view, &output)) return code;
    if (!InDrawingArea(x, y) || UnderSpriteMask(scene::LayerDisplays().OutputPicture(), x, y)) {
        return 0;
    }
    if (view.outputType != gfx::kTargetDisplay) {
        PlotTarget(L, view, output, x, y, colour);
    } else if (RectHitsSprite(scene::LayerDisplays().OutputPicture(), x, y, 1, 1)) {
        // A sprite stays above the point: the window's pixel is composed again.
        PlotBuffers(view, x, y, colour);
        RefreshDisplayArea(L, x, y, 1, 1);
    } else {
        PlotDisplay(display, view, x, y, colour);
    }
    return 0;
}

// ReadPixel(x, y): the pixel of the output target.
int ReadPixel(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t x = IntArg(L, 1), y = IntArg(L, 2);
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr) return ERR_PIXELRANGE;
    gfx::DisplayView view = graphics.View(display);
    qvDisplayBitMap* output = nullptr;
    if (const int code = FetchOutput(L, display, &view, &output)) return code;
    if (!InDrawingArea(x, y)) return ERR_PIXELRANGE;
    double value = 0;
    switch (view.outputType) {
        case gfx::kTargetDisplay:
            value = ReadBitMapPixel(view.backBuffers[0], x, y);
            break;
        case gfx::kTargetBGPic:
        case gfx::kTargetBrush:
            if (output != nullptr) value = ReadBitMapPixel(output, x, y);
            break;
        case gfx::kTargetMask:
            value = view.targetMask != nullptr ? ReadBitMapPixel(view.targetMask, x, y) : 1;
            break;
        case gfx::kTargetAlphaChannel:
            value = view.targetAlpha != nullptr
                        ? view.targetAlpha->plane[size_t(y) * view.targetAlpha->bytesPerRow + x]
                        : 255;
            break;
        default:
            break;
    }
    VmPushNumber(L, value);
    return 1;
}

// Cls([colour]): a redirected object is filled; a display or picture loses its layers, or
// with layers off its sprites, and shows its picture again.
int Cls(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    const uint32_t colour = GetOptArgUInt32(L, 1, 0);
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr) return 0;
    gfx::DisplayView view = graphics.View(display);
    qvDisplayBitMap* output = nullptr;
    if (const int code = FetchOutput(L, display, &view, &output)) return code;
    if (view.outputType != gfx::kTargetDisplay && view.outputType != gfx::kTargetBGPic) {
        return ClsRedirected(L, view, output, colour);
    }
    qvBGPic* picture = scene::LayerDisplays().OutputPicture();
    if (picture != nullptr) {
        if (view.layersEnabled) {
            if (const int code = ClsLayers(L, picture, view.outputType)) return code;
        } else {
            FreeSpriteInstances(picture);
            if (qvDisplayBitMap* bitmap = picture->base.bitmap) {
                const gfx::OutputPicture shown = graphics.Host().CurrentOutputPicture();
                for (qvDisplayBitMap* buffer : view.backBuffers) {
                    if (buffer != nullptr &&
                        (buffer == view.backBuffers[0] || view.AutoscaleActive())) {
                        BltBitMap(bitmap, 0, 0, buffer, 0, 0, shown.width, shown.height);
                    }
                }
            }
        }
    }
    if (view.outputType == gfx::kTargetDisplay) RefreshDisplay(L, display, 0);
    return 0;
}

}  // namespace qv::draw

#include "objects/draw/shape_output.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/graphics_state.h"
#include "gfx/kernels/frontend_kernels.h"
#include "gfx/kernels/rows.h"
#include "gfx/safe_blt.h"
#include "objects/draw_tags.h"
#include "objects/scene_seam.h"
#include "platform/linux/memory.h"
#include "platform/linux/screen.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/filter_table.h"
#include "scene/layers/layer.h"

namespace qv::draw {
namespace {

// A layer redrawn in place takes the image; its old area (the given one, else the shown one)
// and the new one are refreshed.
int UpdateInPlace(qvVmState* L, qvLayer* layer, qvLayerArea* given, ShapeImage image) {
    if (layer == nullptr) return ERR_WRONGUSAGE;
    const qvLayerItem* shown = layer->displayItem;
    qvLayerArea own{shown->drawX, shown->drawY, shown->drawWidth, shown->drawHeight, 0};
    qvLayerArea* previous = given != nullptr ? given : &own;
    UpdateLayerGeometry(L, layer, previous, image.x, image.y, image.width, image.height,
                        image.bitmap.release(), image.mask.release(), image.alpha.release(), 0);
    return 0;
}

// Lines lie where their ends say; other shapes are placed by their anchor, a fraction of the
// shape's own box (the item's), which the image lies in as its geometry placed it: the image
// may be larger (a soft edge, a thick outline, a border, a shadow) or turned.
void PlaceByAnchor(const ShapeOutput& output, ShapeImage* image) {
    if (output.type == LINE || output.transform == nullptr) return;
    image->x = Saturate32(int64_t(image->x) -
                          scene::AnchorShift(output.item->width, output.transform->anchorx));
    image->y = Saturate32(int64_t(image->y) -
                          scene::AnchorShift(output.item->height, output.transform->anchory));
}

// Where a new layer takes the image: the layer anchors the position by the image's size, so
// the position given makes that come out where PlaceByAnchor puts the image.
int32_t LayerPosition(int32_t position, int32_t imageSide, int32_t boxSide, double anchor) {
    return Saturate32(int64_t(position) + scene::AnchorShift(imageSide, anchor) -
                      scene::AnchorShift(boxSide, anchor));
}

}  // namespace

ImageUse ImageUseFor(const qvDrawStyle* style, int flags) {
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    const bool effects =
        style != nullptr && (style->transparency != 0 || AnyFilterEnabled(style->filters));
    if (display == nullptr || effects ||
        (flags & (QV_DRAW_NOBLIT | QV_DRAW_REDRAW | QV_DRAW_INPLACE)) != 0) {
        return ImageUse::kKept;
    }
    const gfx::DisplayView view = graphics.View(display);
    return view.layersEnabled || view.targetAlpha != nullptr ? ImageUse::kKept
                                                             : ImageUse::kBlittedOnce;
}

qvDisplayBitMap* AllocShapeBitMap(int32_t width, int32_t height, ImageUse use) {
    return AllocBitMapInFormat(width, height, ScreenFormat(), false, use == ImageUse::kBlittedOnce);
}

Area DrawingArea() {
    const gfx::OutputPicture picture = gfx::Graphics().Host().CurrentOutputPicture();
    if (const qvClipRegion* region = picture.clipRegion) {
        return {region->x, region->y, int64_t(region->x) + region->width - 1,
                int64_t(region->y) + region->height - 1};
    }
    return {0, 0, int64_t(picture.width) - 1, int64_t(picture.height) - 1};
}

namespace {

// What a blit of the rectangle into the current output does before it draws: nothing on a
// display that scales its layers by a factor other than 1 (false), else the refresh of the
// shown picture or the dirty rectangle of the next flip.
bool PrepareBlit(qvVmState* L, const gfx::DisplayView& view, int32_t x, int32_t y, int32_t width,
                 int32_t height) {
    objects::DisplayScaling scaling{};
    if (view.outputType == gfx::kTargetDisplay && objects::Scene().LayerScaling(&scaling) &&
        (scaling.scaleX != 1 || scaling.scaleY != 1)) {
        // The compositor shows the layer at the display's scale.
        return false;
    }
    if (view.outputType == gfx::kTargetBGPic) {
        RefreshRect(L, x, y, width, height);
    } else if (view.doubleBuffered) {
        AddDirtyRect(L, x, y, width, height);
    }
    return true;
}

}  // namespace

void BlitShapeImage(qvVmState* L, qvDisplayBitMap* output, qvDisplayBitMap* bitmap,
                    const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha, int32_t x, int32_t y,
                    int32_t width, int32_t height) {
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr || bitmap == nullptr) return;
    if (!PrepareBlit(L, graphics.View(display), x, y, width, height)) return;
    const gfx::OutputPicture picture = graphics.Host().CurrentOutputPicture();
    // The display keeps what is drawn in its bitmap, from which the window is refreshed; with
    // layers on the rectangle is composed again from the layers.
    const uint32_t flags =
        output != nullptr ? 0u : uint32_t(QV_BLIT_BACKBUFFER | QV_BLIT_RECOMPOSE);
    SafeBlt(L, bitmap, 0, 0, output, x, y, width, height, width, height, picture.width,
            picture.height, flags, mask, alpha, picture.clipRegion);
}

int FetchDrawTarget(qvVmState* L, DrawTarget* target) {
    gfx::GraphicsState& graphics = gfx::Graphics();
    target->display = graphics.Host().CurrentDisplay();
    if (target->display == nullptr) return 0;
    target->view = graphics.View(target->display);
    return objects::Scene().FetchOutputBitmaps(L, &target->output);
}

bool PaintsStraight(const ShapeOutput& output) {
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr || output.target == nullptr ||
        ImageUseFor(output.style, output.flags) != ImageUse::kBlittedOnce) {
        return false;
    }
    const gfx::DisplayView view = graphics.View(display);
    const gfx::OutputPicture picture = graphics.Host().CurrentOutputPicture();
    // The blit would also draw the target's mask, compose under sprites, cut by a shaped
    // region or copy into the autoscaled second buffer; an image in the screen's format
    // would round the colours before a target of another format gets them.
    return output.target->format == ScreenFormat() && view.targetMask == nullptr &&
           picture.sprites.empty() &&
           (picture.clipRegion == nullptr || !PlaneUsable(picture.clipRegion->mask)) &&
           !(view.AutoscaleActive() && output.target == view.backBuffers[0]);
}

void PaintStraight(qvVmState* L, const ShapeOutput& output, const StraightPaint& paint) {
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr) return;
    ShapeImage image;
    image.x = paint.x, image.y = paint.y, image.width = paint.width, image.height = paint.height;
    PlaceByAnchor(output, &image);
    if (!PrepareBlit(L, graphics.View(display), image.x, image.y, image.width, image.height)) {
        return;
    }
    if (paint.strength == nullptr) return;
    const gfx::OutputPicture picture = graphics.Host().CurrentOutputPicture();
    int32_t sx = paint.strengthX, sy = paint.strengthY;
    int32_t dx = Saturate32(int64_t(image.x) + sx), dy = Saturate32(int64_t(image.y) + sy);
    int32_t width = paint.strength->width, height = paint.strength->height;
    // The strength plane lies at (sx, sy) of the image: it is clipped as the image would be.
    ClipBlitRect(picture.clipRegion, &sx, &sy, &dx, &dy, &width, &height, paint.width, paint.height,
                 picture.width, picture.height, 1);
    if (width < 1 || height < 1) return;
    BltAlphaChannel(paint.strength, sx - paint.strengthX, sy - paint.strengthY, output.target, dx,
                    dy, width, height, paint.colour, QV_COVERAGE_BLEND, nullptr, 0, nullptr, 0,
                    nullptr);
}

namespace {

// The coverage of each layer along a stretch of an image row, zero where the layer's plane
// does not reach: its own row where the plane spans the stretch, else a copy in scratch.
class LayerRows {
public:
    // 0 or ERR_MEM.
    int Reserve(int32_t width) {
        scratch_.reset(static_cast<uint8_t*>(AllocMemBlock(size_t(std::max(width, 1)) * 3, 0)));
        return scratch_ != nullptr ? 0 : ERR_MEM;
    }
    const uint8_t* Row(const qvShapeLayers::Layer& layer, int32_t index, int64_t x, int64_t y,
                       int32_t width) {
        const qvPlaneBitMap& plane = *layer.coverage;
        const int64_t row = y - layer.y, first = std::max<int64_t>(x, layer.x);
        const int64_t end = std::min<int64_t>(x + width, int64_t(layer.x) + plane.width);
        uint8_t* out = scratch_.get() + ptrdiff_t(index) * width;
        if (row < 0 || row >= plane.height || end <= first) {
            std::memset(out, 0, size_t(width));
            return out;
        }
        const uint8_t* bytes = plane.plane + ptrdiff_t(row) * plane.bytesPerRow + (first - layer.x);
        if (first == x && end == x + width) return bytes;
        std::memset(out, 0, size_t(first - x));
        std::memcpy(out + (first - x), bytes, size_t(end - first));
        std::memset(out + (end - x), 0, size_t(x + width - end));
        return out;
    }

private:
    std::unique_ptr<uint8_t[], BlockFree> scratch_;
};

}  // namespace

int PaintLayersStraight(qvVmState* L, const ShapeOutput& output, const LayeredPaint& paint) {
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr) return 0;
    ShapeImage image;
    image.x = paint.x, image.y = paint.y, image.width = paint.width, image.height = paint.height;
    PlaceByAnchor(output, &image);
    // Reserved first, so that a failure changes nothing.
    LayerRows rows;
    if (const int code = rows.Reserve(image.width)) return code;
    if (!PrepareBlit(L, graphics.View(display), image.x, image.y, image.width, image.height)) {
        return 0;
    }
    const gfx::OutputPicture picture = graphics.Host().CurrentOutputPicture();
    ScopedBitMapLock lock(output.target);
    if (!lock) return 0;
    // Cut as the image's blit is cut: by the region and the picture, then by the bitmap.
    int32_t sx = 0, sy = 0, dx = image.x, dy = image.y, width = image.width, height = image.height;
    ClipBlitRect(picture.clipRegion, &sx, &sy, &dx, &dy, &width, &height, image.width, image.height,
                 picture.width, picture.height, 1);
    width = std::min(width, lock->width - dx), height = std::min(height, lock->height - dy);
    if (width < 1 || height < 1 || dx < 0 || dy < 0) return 0;
    const qvShapeLayers& layers = *paint.layers;
    if (layers.count < 1) return 0;
    qvShapeLayerRow row{};
    row.count = layers.count, row.width = width, row.format = lock->format;
    row.antialias = layers.layers[0].paint.antialias;
    for (int32_t k = 0; k < layers.count; ++k) {
        const qvShapePaint& layer = layers.layers[k].paint;
        row.colour[k] =
            lock->bytesPerPixel == 3 ? layer.colour : RGBToPixelFormat(layer.colour, lock->format);
        row.opacity[k] = 255 - uint32_t(std::clamp(layer.transparency, 0, 255));
    }
    for (int32_t j = 0; j < height; ++j) {
        for (int32_t k = 0; k < layers.count; ++k) {
            row.coverage[k] = rows.Row(layers.layers[k], k, sx, int64_t(sy) + j, width);
        }
        row.dest = PixelAt(lock->base, lock->rowLength, lock->bytesPerPixel, dx, dy + j);
        PaintShapeLayerRow(row);
    }
    return 0;
}

int OutputShapeImage(qvVmState* L, const ShapeOutput& output, ShapeImage image) {
    if ((output.flags & QV_DRAW_INPLACE) != 0) {
        return UpdateInPlace(L, output.layer, output.previous, std::move(image));
    }
    qvDisplay* display = gfx::Graphics().Host().CurrentDisplay();
    if (display == nullptr) return 0;
    const bool blit = (output.flags & (QV_DRAW_NOBLIT | QV_DRAW_REDRAW)) == 0;
    if (gfx::Graphics().View(display).layersEnabled) {
        const int32_t insert = (output.flags & QV_DRAW_REDRAW) != 0 ? output.insertPosition : -1;
        qvDisplayBitMap* bitmap = image.bitmap.get();
        const qvPlaneBitMap* mask = image.mask.get();
        const qvPlaneBitMap* alpha = image.alpha.get();
        int32_t x = image.x, y = image.y;
        if (output.type != LINE && output.transform != nullptr) {
            x = LayerPosition(x, image.width, output.item->width, output.transform->anchorx);
            y = LayerPosition(y, image.height, output.item->height, output.transform->anchory);
        }
        if (const int code = AddShapeLayer(
                L, output.type, x, y, image.width, image.height, output.transform, output.style,
                image.bitmap.release(), image.mask.release(), image.alpha.release(), *output.item,
                insert, output.flags | QV_DRAW_FROMLAYER)) {
            return code;
        }
        // The compositor draws the style's effects itself.
        if (!blit || (output.style != nullptr && output.style->anyStyle != 0)) return 0;
        PlaceByAnchor(output, &image);
        BlitShapeImage(L, output.target, bitmap, mask, alpha, image.x, image.y, image.width,
                       image.height);
        return 0;
    }
    if (!blit) return 0;
    PlaceByAnchor(output, &image);
    if (output.style != nullptr) {
        qvPlaneBitMap* mask = image.mask.release();
        qvPlaneBitMap* alpha = image.alpha.release();
        const int code = ApplyShapeEffects(output.style, image.bitmap.get(), &mask, &alpha,
                                           image.width, image.height);
        image.mask.reset(mask), image.alpha.reset(alpha);
        if (code != 0) return code;
    }
    BlitShapeImage(L, output.target, image.bitmap.get(), image.mask.get(), image.alpha.get(),
                   image.x, image.y, image.width, image.height);
    return 0;
}

}  // namespace qv::draw

int AddShapeLayer(qvVmState* L, int32_t type, int32_t x, int32_t y, int32_t width, int32_t height,
                  const qvDrawTransform* transform, qvDrawStyle* style, qvDisplayBitMap* bitmap,
                  qvPlaneBitMap* mask, qvPlaneBitMap* alpha, const qvShapeItem& item,
                  int32_t insertPos, int flags) {
    qvLayerItem* copy = item.Copy();
    if (copy == nullptr) {
        FreeDisplayBitMap(bitmap);
        FreePlaneBitMap(mask);
        FreePlaneBitMap2(alpha);
        return ERR_MEM;
    }
    return AddLayer(L, uint32_t(type), nullptr, x, y, width, height, transform, style, bitmap, mask,
                    alpha, copy, insertPos, flags);
}

#include "objects/draw/shape_engine.h"

#include <algorithm>
#include <cmath>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/gradient.h"
#include "gfx/graphics_state.h"
#include "gfx/scale.h"
#include "objects/brush.h"
#include "objects/draw/coverage.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/shape_geometry.h"
#include "objects/draw/shape_output.h"
#include "objects/scene_seam.h"
#include "platform/linux/screen.h"
#include "scene/layers/layer_transform.h"

namespace qv::draw {

ShapeTransform TransformOf(const qvDrawTransform* transform) {
    ShapeTransform out;
    if (transform != nullptr) {
        std::copy(std::begin(transform->matrix), std::end(transform->matrix), out.matrix);
        out.anchorX = transform->anchorx, out.anchorY = transform->anchory;
    }
    return out;
}

bool IsScaledHairline(const qvDrawState& state, const ShapeTransform& transform) {
    return state.fillStyle == FILLNONE && state.lineWidth <= 1 &&
           (state.formStyle & ANTIALIAS) == 0 && !transform.IsIdentity() &&
           IsPlainScale(transform.matrix);
}

namespace {

// Where the point at offset from the pivot lands, and how many pixels a side becomes, under
// the factor: as the layers place and scale a picture.
int64_t ScaledOffset(int64_t offset, double factor) {
    return RoundSaturate(double(offset) * factor);
}
int32_t ScaledSide(int32_t side, double factor) {
    return RoundSaturate(std::max(1.0, std::trunc(double(side) * factor + 1e-9)));
}

}  // namespace

int ScaleImageAsPicture(const ShapeTransform& transform, int32_t x, int32_t y, int32_t width,
                        int32_t height, ShapeImage* image) {
    const double a = transform.matrix[0], d = transform.matrix[3];
    const int32_t newWidth = ScaledSide(image->width, a), newHeight = ScaledSide(image->height, d);
    if (newWidth > kMaxBitMapSide || newHeight > kMaxBitMapSide) return ERR_MEM;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    if (const int code = ScaleBitmap(image->bitmap.get(), image->mask.get(), image->alpha.get(), 0,
                                     0, nullptr, image->width, image->height, newWidth, newHeight,
                                     0, &bitmap, image->mask != nullptr ? &mask : nullptr,
                                     image->alpha != nullptr ? &alpha : nullptr)) {
        return code;
    }
    const int64_t pivotX = int64_t(x) + int64_t(std::trunc(double(width) * transform.anchorX));
    const int64_t pivotY = int64_t(y) + int64_t(std::trunc(double(height) * transform.anchorY));
    image->bitmap.reset(bitmap), image->mask.reset(mask), image->alpha.reset(alpha);
    image->x = Saturate32(pivotX + ScaledOffset(image->x - pivotX, a));
    image->y = Saturate32(pivotY + ScaledOffset(image->y - pivotY, d));
    image->width = newWidth, image->height = newHeight;
    return 0;
}

void ScaleStyle(qvDrawState* state, const double matrix[4]) {
    state->lineWidth = std::max(1, ScaleWidth(state->lineWidth, matrix));
    state->shadowSize =
        std::clamp(ScaleWidth(state->shadowSize, matrix), kMinEffectSize, kMaxEffectSize);
    ClampStyleParams(state);
}

namespace {

// What a shape layer keeps to draw the shape again.
int FillItem(const qvShapeDesc& desc, int32_t x, int32_t y, qvShapeItem* item) {
    item->x = x, item->y = y, item->width = desc.width, item->height = desc.height;
    item->colour = desc.colour;
    std::copy(std::begin(desc.cornerLevels), std::end(desc.cornerLevels), item->cornerLevels);
    item->radiusX = desc.radiusX, item->radiusY = desc.radiusY;
    item->startAngle = desc.startAngle, item->endAngle = desc.endAngle;
    item->clockwise = desc.clockwise;
    if (desc.type == POLYGON && desc.pointCount > 0) {
        item->points = AllocPolygonPoints(desc.pointCount);
        if (item->points == nullptr) return ERR_MEM;
        std::copy(desc.points, desc.points + desc.pointCount, item->points.get());
        item->pointCount = desc.pointCount;
    }
    return 0;
}

// Whether the shape's image carries an alpha plane; a mask when everything is opaque and
// hard-edged.
bool ImageHasAlpha(const qvShapeDesc& desc) {
    const bool opaque = (desc.colour >> 24) == 0 &&
                        (desc.borderOn == 0 || desc.borderTransparency == 0) &&
                        (desc.shadowOn == 0 || desc.shadowTransparency == 0);
    return !opaque || desc.antialias != 0;
}

// The image and its plane.
int AllocShapeImage(const qvShapeDesc& desc, int32_t width, int32_t height, ImageUse use,
                    ShapeImage* image) {
    image->width = width, image->height = height;
    image->bitmap.reset(AllocShapeBitMap(width, height, use));
    if (image->bitmap == nullptr) return ERR_MEM;
    if (!ImageHasAlpha(desc)) {
        image->mask.reset(AllocMaskBitMap(image->bitmap.get(), width, height, 1));
    } else {
        image->alpha.reset(AllocAlphaBitMap(width, height, 1));
    }
    return image->mask == nullptr && image->alpha == nullptr ? ERR_MEM : 0;
}

}  // namespace

void MoveStyleToLayerStyle(qvDrawState* state, qvDrawStyle* style, uint32_t* colour) {
    if ((state->formStyle & EDGE) != 0) {
        style->border = {1, state->borderColour, state->borderSize};
        state->formStyle &= ~EDGE;
        style->anyStyle = 1;
    }
    if ((state->formStyle & SHADOW) != 0) {
        style->shadow.on = 1, style->shadow.colour = state->shadowColour;
        style->shadow.size = state->shadowSize;
        style->shadow.direction = int32_t(state->shadowDirection);
        state->formStyle &= ~SHADOW;
        style->anyStyle = 1;
    }
    if (state->fillStyle == FILLNONE && state->lineWidth > 1) {
        // The compositor's border draws the width around a one-pixel outline.
        style->border = {1, *colour & 0xFFFFFF, std::max(1, state->lineWidth / 2)};
        state->lineWidth = 1;
        style->anyStyle = 1;
    }
    if ((*colour >> 24) != 0) {
        style->transparency = int32_t(*colour >> 24);
        *colour &= 0xFFFFFF;
        style->anyStyle = 1;
    }
    if (state->formStyle == 0) state->formStyle = NORMAL;
}

void GrowByShadow(uint32_t direction, int32_t size, int32_t* width, int32_t* height) {
    if (direction != 0 && direction != 4) *width += size;
    if (direction != 2 && direction != 6) *height += size;
}

void ClampCornerLevels(int32_t levels[4]) {
    for (int i = 0; i < 4; ++i) levels[i] = std::clamp(levels[i], 0, 100);
}

void TextureScale(const double matrix[4], double* scaleX, double* scaleY) {
    if (matrix[1] == 0 && matrix[2] == 0) {
        *scaleX = std::fabs(matrix[0]), *scaleY = std::fabs(matrix[3]);
    } else {
        *scaleX = *scaleY = WidthScale(matrix);
    }
}

int FillWithTexture(qvVmState* L, qvDisplayBitMap* bitmap, int32_t x, int32_t y, int32_t width,
                    int32_t height, const qvDrawState& state, const double matrix[4]) {
    qvBrush* brush = nullptr;
    if (const int code = GetBrush(L, state.textureBrush, &brush, 0)) return code;
    if (brush->bitmap == nullptr || brush->width < 1 || brush->height < 1) return 0;
    double scaleX = 1, scaleY = 1;
    TextureScale(matrix, &scaleX, &scaleY);
    OwnedBitMap scaled;
    const qvDisplayBitMap* tile = brush->bitmap;
    int32_t tileWidth = brush->width, tileHeight = brush->height;
    if (scaleX != 1 || scaleY != 1) {
        const double w = std::max(1.0, std::round(brush->width * scaleX));
        const double h = std::max(1.0, std::round(brush->height * scaleY));
        if (!(w <= kMaxBitMapSide && h <= kMaxBitMapSide)) return ERR_MEM;
        tileWidth = int32_t(w), tileHeight = int32_t(h);
        qvDisplayBitMap* made = nullptr;
        if (const int code =
                ScaleBitmap(brush->bitmap, nullptr, nullptr, 0, 0, nullptr, brush->width,
                            brush->height, tileWidth, tileHeight, 0, &made, nullptr, nullptr)) {
            return code;
        }
        scaled.reset(made);
        tile = made;
    }
    TileFill(bitmap, x, y, width, height, tile, state.textureX, state.textureY, tileWidth,
             tileHeight);
    return 0;
}

int MakeFillSource(qvVmState* L, const qvDrawState& state, const double matrix[4], int32_t width,
                   int32_t height, int32_t x, int32_t y, int32_t fillWidth, int32_t fillHeight,
                   OwnedBitMap* out) {
    if (state.fillStyle != FILLGRADIENT && state.fillStyle != FILLTEXTURE) return 0;
    // Cut to the image: the rectangle must lie inside the bitmap.
    const int32_t left = std::max(0, x), top = std::max(0, y);
    const int32_t right = std::min(width, x + fillWidth), bottom = std::min(height, y + fillHeight);
    OwnedBitMap source(AllocDisplayBitMap(width, height));
    if (source == nullptr) return ERR_MEM;
    if (right > left && bottom > top) {
        if (state.fillStyle == FILLGRADIENT) {
            DrawGradient(source.get(), left, top, right - left, bottom - top, &state.gradient);
        } else if (const int code = FillWithTexture(L, source.get(), left, top, right - left,
                                                    bottom - top, state, matrix)) {
            return code;
        }
    }
    *out = std::move(source);
    return 0;
}

int32_t ShapeImageMargin(const qvShapeDesc& desc) {
    const int32_t lineWidth = std::max(1, desc.drawState->lineWidth);
    return (desc.antialias != 0 ? 2 : 0) +
           (desc.fillStyle == FILLNONE && lineWidth > 1 ? lineWidth / 2 : 0);
}

int PlaceShapeImage(const qvShapeDesc& desc, int32_t x, int32_t y, ShapeImage* image) {
    int64_t width = desc.imageWidth, height = desc.imageHeight;
    const int32_t origin = ShapeImageMargin(desc);
    if (desc.antialias != 0) width += 5, height += 5;
    const int32_t lineWidth = std::max(1, desc.drawState->lineWidth);
    if (desc.fillStyle == FILLNONE && lineWidth > 1) width += lineWidth, height += lineWidth;
    if (width > kMaxBitMapSide || height > kMaxBitMapSide) return ERR_MEM;
    image->x = Saturate32(int64_t(x) + desc.imageX - origin);
    image->y = Saturate32(int64_t(y) + desc.imageY - origin);
    image->width = int32_t(width), image->height = int32_t(height);
    return 0;
}

namespace {

// The outline that a shape of one layer paints: its fill, or its outline of the line width.
qvShapeOutline OneLayerOutline(const qvShapeDesc& desc) {
    const int32_t origin = ShapeImageMargin(desc);
    const bool outline = desc.fillStyle == FILLNONE;
    return {desc.fillPoints,
            desc.fillCount,
            origin + desc.fillX,
            origin + desc.fillY,
            desc.fillWidth,
            desc.fillHeight,
            !outline,
            outline ? std::max(1, desc.drawState->lineWidth) : 1};
}

}  // namespace

bool IsOneColourLayer(const qvShapeDesc& desc) {
    if (desc.fillStyle == FILLGRADIENT || desc.fillStyle == FILLTEXTURE) return false;
    return desc.fillStyle == FILLNONE ||
           ((desc.borderOn == 0 || desc.borderCount <= 0) && desc.shadowOn == 0);
}

int PaintPreparedShapeStraight(qvVmState* L, const qvShapeDesc& desc, int32_t x, int32_t y,
                               const ShapeOutput& output) {
    ShapeImage image;
    if (const int code = PlaceShapeImage(desc, x, y, &image)) return code;
    const qvShapePaint paint{desc.colour & 0xFFFFFF, int32_t(desc.colour >> 24),
                             desc.antialias != 0};
    OwnedPlane strength;
    int32_t strengthX = 0, strengthY = 0;
    if (const int code = OneColourStrength(image.width, image.height, OneLayerOutline(desc), paint,
                                           &strength, &strengthX, &strengthY)) {
        return code;
    }
    PaintStraight(L, output,
                  {strength.get(), strengthX, strengthY, image.x, image.y, image.width,
                   image.height, paint.colour});
    return 0;
}

bool IsFlatLayered(const qvShapeDesc& desc) {
    return desc.fillStyle != FILLGRADIENT && desc.fillStyle != FILLTEXTURE &&
           desc.fillStyle != FILLNONE && ImageHasAlpha(desc);
}

int PaintLayeredShapeStraight(qvVmState* L, const qvShapeDesc& desc, int32_t x, int32_t y,
                              const ShapeOutput& output) {
    ShapeImage image;
    if (const int code = PlaceShapeImage(desc, x, y, &image)) return code;
    const int32_t origin = ShapeImageMargin(desc);
    qvShapeLayers layers;
    if (const int code =
            ShapeLayerCoverage(image.width, image.height, desc, origin, origin, &layers)) {
        return code;
    }
    return PaintLayersStraight(L, output, {&layers, image.x, image.y, image.width, image.height});
}

int RenderPreparedShape(qvVmState* L, const qvShapeDesc& desc, const ShapeTransform& transform,
                        int32_t x, int32_t y, ShapeImage* out, ImageUse use) {
    const qvDrawState& state = *desc.drawState;
    const int32_t origin = ShapeImageMargin(desc);
    const bool outline = desc.fillStyle == FILLNONE;
    const int32_t lineWidth = std::max(1, state.lineWidth);
    ShapeImage image;
    if (const int code = PlaceShapeImage(desc, x, y, &image)) return code;
    if (const int code = AllocShapeImage(desc, image.width, image.height, use, &image)) {
        return code;
    }
    OwnedBitMap fill;
    const int32_t grow = desc.antialias != 0 ? 2 : 0;
    if (const int code = MakeFillSource(L, state, transform.matrix, image.width, image.height,
                                        origin + desc.fillX - grow, origin + desc.fillY - grow,
                                        desc.fillWidth + 2 * grow + (grow != 0 ? 1 : 0),
                                        desc.fillHeight + 2 * grow + (grow != 0 ? 1 : 0), &fill)) {
        return code;
    }
    const qvShapeTarget target{image.bitmap.get(),
                               image.mask.get(),
                               image.alpha.get(),
                               image.width,
                               image.height,
                               fill.get(),
                               0,
                               0,
                               true};
    int code = 0;
    if (outline) {
        const qvShapeOutline shape{desc.fillPoints,
                                   desc.fillCount,
                                   origin + desc.fillX,
                                   origin + desc.fillY,
                                   desc.fillWidth,
                                   desc.fillHeight,
                                   false,
                                   lineWidth};
        code = RenderShapeImage(
            target, shape,
            {desc.colour & 0xFFFFFF, int32_t(desc.colour >> 24), desc.antialias != 0});
    } else {
        code = CompositeShapeCoverage(target, desc, origin, origin);
    }
    if (code != 0) return code;
    *out = std::move(image);
    return 0;
}

}  // namespace qv::draw

int DrawShapeEx(qvVmState* L, const qvShapeDesc* given, int flags) {
    using namespace qv;
    using namespace qv::draw;
    DrawTarget target;
    if (const int code = FetchDrawTarget(L, &target); code != 0 || target.display == nullptr) {
        return code;
    }
    const gfx::DisplayView& view = target.view;
    // The engine's own copy: its pointers lead to records of this call.
    qvShapeDesc shape = *given;
    qvShapeDesc* desc = &shape;
    qvDrawTransform transform =
        desc->transform != nullptr ? *desc->transform : kInitialDrawTransform;
    if ((flags & QV_DRAW_REDRAW) != 0) ApplyLayerTransform(&transform, desc->width, desc->height);
    const int32_t x = ResolvePosX(desc->x, desc->width, 0, transform.anchorx);
    const int32_t y = ResolvePosY(desc->y, desc->height, 0, transform.anchory);

    qvShapeItem item;
    item.drawState = *desc->drawState;
    desc->drawState = &item.drawState;
    const bool inPlace = (flags & QV_DRAW_INPLACE) != 0;
    qvDrawStyle noStyle = kInitialDrawStyle;
    if (desc->style == nullptr) desc->style = &noStyle;
    if (view.layersEnabled && (flags & (QV_DRAW_REDRAW | QV_DRAW_INPLACE)) == 0) {
        MoveStyleToLayerStyle(&item.drawState, desc->style, &desc->colour);
    }
    ShapeTransform shapeTransform = TransformOf(&transform);
    // With layers on, a turned shape is laid out upright and the compositor turns it through
    // the layer redraw.
    const bool deferred = view.layersEnabled && !shapeTransform.IsIdentity() && !inPlace;
    const ShapeTransform scale = shapeTransform;
    const bool hairline = !deferred && (flags & QV_DRAW_ASPICTURE) != 0 &&
                          IsScaledHairline(item.drawState, shapeTransform);
    if (deferred || hairline) {
        shapeTransform.matrix[0] = shapeTransform.matrix[3] = 1;
        shapeTransform.matrix[1] = shapeTransform.matrix[2] = 0;
    } else {
        ScaleStyle(&item.drawState, shapeTransform.matrix);
    }
    ClampStyleParams(&item.drawState);
    if (const int code = FillItem(*desc, x, y, &item)) return code;
    if (const int code = PrepareShapeGeometry(DrawShapeWork(), desc, shapeTransform)) return code;

    const ShapeOutput out{desc->type,  target.output,        &item, &transform,    desc->style,
                          desc->layer, desc->insertPosition, flags, desc->previous};
    // A blitted shape of one colour and one layer needs no image: its coverage is painted
    // straight into the output's bitmap, the pixels being those the image's blit gives.
    if (!deferred && !hairline && PaintsStraight(out)) {
        if (IsOneColourLayer(*desc)) return PaintPreparedShapeStraight(L, *desc, x, y, out);
        if (IsFlatLayered(*desc)) return PaintLayeredShapeStraight(L, *desc, x, y, out);
    }
    ShapeImage image;
    if (deferred) {
        image.x = Saturate32(int64_t(x) + desc->imageX),
        image.y = Saturate32(int64_t(y) + desc->imageY);
        image.width = desc->imageWidth, image.height = desc->imageHeight;
    } else if (const int code = RenderPreparedShape(L, *desc, shapeTransform, x, y, &image,
                                                    ImageUseFor(desc->style, flags))) {
        return code;
    } else if (hairline) {
        if (const int code = ScaleImageAsPicture(scale, x, y, desc->width, desc->height, &image)) {
            return code;
        }
    }
    return OutputShapeImage(L, out, std::move(image));
}

#include "objects/draw_tags.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/convert.h"
#include "gfx/blit_frontends.h"
#include "gfx/library/graphics_library.h"
#include "gfx/library/neighbours.h"
#include "gfx/transform.h"
#include "objects/scene_seam.h"
#include "platform/linux/blocks.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"
#include "scene/layers/filter_pass.h"
#include "scene/layers/transform_matrix.h"

namespace qv {
namespace {

// The largest side of a bitmap.
constexpr double kMaxSide = 32768;

// A number or percentage of 255, truncated toward zero and clamped to a level.
int32_t Level(double value) {
    return std::clamp(Trunc32(value), 0, 255);
}

// Scale factors and matrix entries that no size could be computed from are refused like 0.
bool UsableFactor(double value) {
    return value != 0 && std::isfinite(value);
}

int ReadScale(qvVmState* L, int t, const char* field, double* scale, int* found) {
    if (GetTableFieldNumber(L, t, field, scale, found) && !UsableFactor(*scale)) {
        return ERR_WRONGUSAGE;
    }
    return 0;
}

int ReadAnchor(qvVmState* L, int t, const char* field, double* anchor) {
    if (GetTableFieldNumber(L, t, field, anchor, nullptr) && !(*anchor >= 0 && *anchor <= 1)) {
        return ERR_WRONGUSAGE;
    }
    return 0;
}

int ParseTransformTags(qvVmState* L, int t, int32_t objectWidth, int32_t objectHeight,
                       int32_t defaultSmooth, qvDrawTransform* tf, int flags) {
    double given[4];
    if (GetTableFieldVector3(L, t, "transform", given, nullptr)) {
        if (given[0] == 0 || given[3] == 0 ||
            !std::all_of(given, given + 4, [](double v) { return std::isfinite(v); })) {
            return ERR_WRONGUSAGE;
        }
        std::memcpy(tf->matrix, given, sizeof given);
        std::memcpy(tf->transformInput, given, sizeof given);
        tf->hasTransform = 1;
    } else {
        int scaled = 0, asked = 0;
        if (const int code = ReadScale(L, t, "scalex", &tf->scalex, &scaled)) return code;
        if (const int code = ReadScale(L, t, "scaley", &tf->scaley, &scaled)) return code;
        if (scaled == 0 && (flags & QV_DRAWTAGS_NOSIZE) == 0) {
            GetTableFieldInt(L, t, "width", &tf->width, &asked);
            GetTableFieldInt(L, t, "height", &tf->height, &asked);
        }
        int32_t angle;
        if ((flags & QV_DRAWTAGS_NOROTATE) == 0 &&
            GetTableFieldInt(L, t, "rotate", &angle, &asked)) {
            tf->rotate = angle % 360;
            if ((flags & QV_DRAWTAGS_SMOOTHROTATE) != 0 && tf->rotate != 0) {
                tf->smoothscale = defaultSmooth;
            }
        }
        tf->hasTransform = scaled | asked;
        if (tf->hasTransform != 0) {
            MakeTransformMatrix(tf->matrix, tf->width, tf->height, objectWidth, objectHeight,
                                tf->rotate, tf->scalex, tf->scaley);
        }
    }
    GetTableFieldInt(L, t, "smoothscale", &tf->smoothscale, nullptr);
    if (const int code = ReadAnchor(L, t, "anchorx", &tf->anchorx)) return code;
    return ReadAnchor(L, t, "anchory", &tf->anchory);
}

int ReadName(qvVmState* L, int t, char name[kDrawNameSize]) {
    char* text = nullptr;
    size_t length = 0;
    if (!GetTableFieldStringAlloc(L, t, "name", 1, nullptr, &text, &length, nullptr)) return 0;
    BlockPtr<char> held(text);
    if (length >= kDrawNameSize) return ERR_NAMETOOLONG;
    std::memcpy(name, text, length + 1);
    return 0;
}

int ParseStyleTags(qvVmState* L, int t, qvDrawStyle* style) {
    const int32_t layers = gfx::Neighbour().CountLayers();
    GetTableFieldInt(L, t, "hidden", &style->hidden, nullptr);
    double level;
    if (GetTableFieldPercent(L, t, "transparency", 255, 0, &level, nullptr, nullptr)) {
        style->transparency = Level(level);
    }
    qvLayerFilter& tint = style->filters[kFilterTint];
    if (GetTableFieldPercent(L, t, "tint", 255, 0, &level, nullptr, nullptr)) {
        tint.ints[1] = Level(level);
        tint.enabled = tint.ints[1] > 0 ? 1 : 0;
    }
    uint32_t colour;
    if (GetTableFieldBool(L, t, "tintcolor", &colour, nullptr)) {
        tint.ints[0] = static_cast<int32_t>(colour);
    }
    int32_t position;
    if (GetTableFieldLayer(L, t, "insertpos", &position, nullptr)) {
        if (position < 0) return ERR_INVINSERT;
        // Without layers a position is kept as given: the layer list appends it anyway.
        if (layers > 0 && position > layers + 1) position = layers + 1;
        style->insertpos = position;
    }
    if (const int code = ParseShadowTags(L, t, &style->shadow, nullptr)) return code;
    if (const int code = ParseBorderTags(L, t, false, &style->border, nullptr)) return code;
    if (const int code = ParseLayerFilters(L, t, style->filters, nullptr)) return code;
    const bool placed = style->insertpos != 0 && style->insertpos != layers + 1;
    style->anyStyle = style->hidden != 0 || style->transparency != 0 ||
                      AnyFilterEnabled(style->filters) || style->shadow.on != 0 ||
                      style->border.on != 0 || placed;
    return ReadName(L, t, style->name);
}

// A side of a scaled or transformed size.
int Side(double value, int32_t* side) {
    if (value > kMaxSide) return ERR_MEM;
    *side = value >= 1 ? static_cast<int32_t>(value) : 1;  // NaN counts as 0
    return 0;
}

}  // namespace
}  // namespace qv

using namespace qv;

int ParseDrawTags(qvVmState* L, int argIndex, int32_t objectWidth, int32_t objectHeight,
                  int32_t defaultWidth, int32_t defaultHeight, int32_t defaultSmooth,
                  qvDrawTransform* transform, qvDrawStyle* style, int flags) {
    if ((flags & QV_DRAWTAGS_RESET) != 0) {
        ResetDrawTags(transform, style, defaultWidth, defaultHeight, defaultSmooth, flags);
    }
    if (VmGetTop(L) != argIndex) return 0;
    if (VmType(L, argIndex) != VM_TTABLE) {
        if ((flags & QV_DRAWTAGS_NEEDTABLE) == 0) return 0;
        SetErrorNumber(static_cast<uint32_t>(argIndex));
        return ERR_TABEXPECTED;
    }
    if (const int code = ParseTransformTags(L, argIndex, objectWidth, objectHeight, defaultSmooth,
                                            transform, flags)) {
        return code;
    }
    return style != nullptr ? ParseStyleTags(L, argIndex, style) : 0;
}

int ParseShadowTags(qvVmState* L, int t, qvShadowBlock* shadow, int* found) {
    int32_t on;
    if (GetTableFieldInt(L, t, "shadow", &on, found)) {
        shadow->on = on;
        if (on == 0) return 0;
    }
    GetTableFieldBool(L, t, "shadowcolor", &shadow->colour, found);
    GetTableFieldInt(L, t, "shadowdir", &shadow->direction, found);
    if (GetTableFieldInt(L, t, "shadowsize", &shadow->size, found) && shadow->size < 0) {
        return ERR_WRONGUSAGE;
    }
    if (GetTableFieldNumber(L, t, "shadowradius", &shadow->radius, found) &&
        !(shadow->radius >= 1 && std::isfinite(shadow->radius))) {
        return ERR_WRONGUSAGE;
    }
    if (GetTableFieldNumber(L, t, "shadowsigma", &shadow->sigma, found) &&
        !(shadow->sigma > 0 && std::isfinite(shadow->sigma))) {
        return ERR_WRONGUSAGE;
    }
    // The direction indexes the offset tables. The size is kept as given, as SetLayerShadow
    // keeps it: the compositor offsets the shadow by any distance.
    if (shadow->direction < 0 || shadow->direction > 7) shadow->direction = kDefaultShadowDirection;
    return 0;
}

int ParseBorderTags(qvVmState* L, int t, bool edgeNames, qvBorderBlock* border, int* found) {
    GetTableFieldInt(L, t, "border", &border->on, found);
    GetTableFieldBool(L, t, "bordercolor", &border->colour, found);
    GetTableFieldInt(L, t, "bordersize", &border->size, found);
    if (edgeNames) {
        GetTableFieldBool(L, t, "edgecolor", &border->colour, found);
        GetTableFieldInt(L, t, "edgesize", &border->size, found);
        GetTableFieldInt(L, t, "outlinethickness", &border->size, found);
    }
    // Kept as given, as SetLayerBorder keeps it.
    if (border->on != 0 && border->size < 1) return ERR_WRONGUSAGE;
    return 0;
}

void ResetDrawTags(qvDrawTransform* transform, qvDrawStyle* style, int32_t width, int32_t height,
                   int32_t smooth, int flags) {
    ResetDrawTagBlock(transform);
    if (style != nullptr) ResetStyleBlock(style);
    transform->width = width;
    transform->height = height;
    if ((flags & QV_DRAWTAGS_SMOOTHROTATE) == 0) transform->smoothscale = smooth;
}

void ResetDrawTagBlock(qvDrawTransform* transform) {
    *transform = DefaultDrawTransform();
}

void ResetStyleBlock(qvDrawStyle* style) {
    *style = DefaultDrawStyle();
}

void InitDrawTagBlocks(qvDrawTransform* transform, qvDrawStyle* style) {
    if (transform != nullptr) *transform = kInitialDrawTransform;
    if (style != nullptr) *style = kInitialDrawStyle;
}

int TransformedSize(const double matrix[4], int32_t width, int32_t height, int32_t* newWidth,
                    int32_t* newHeight) {
    const double a = matrix[0], d = matrix[3];
    double w, h;
    objects::DisplayScaling scaling;
    if (matrix[1] != 0 || matrix[2] != 0 || !(a >= 0) || !(d >= 0)) {
        int32_t bw, bh;
        TransformBounds(matrix, width, height, &bw, &bh, nullptr, nullptr);
        w = bw, h = bh;
    } else if (a == 1 && d == 1) {
        w = width, h = height;
    } else if (objects::Scene().LayerScaling(&scaling) && a == scaling.scaleX &&
               d == scaling.scaleY && width == scaling.pictureWidth &&
               height == scaling.pictureHeight) {
        // Scaled pictures cover the scaled display exactly, whatever the rounding.
        w = scaling.scaledWidth, h = scaling.scaledHeight;
    } else {
        w = std::trunc(width * a), h = std::trunc(height * d);
    }
    if (const int code = Side(w, newWidth)) return code;
    return Side(h, newHeight);
}

int ApplyTransparency(int32_t transparency, qvPlaneBitMap** mask, qvPlaneBitMap** alpha,
                      int32_t width, int32_t height) {
    const auto opacity = static_cast<uint8_t>(255 - Level(transparency));
    if (*alpha != nullptr) {
        CopyPlane8(*alpha, *alpha, height, opacity);
        return 0;
    }
    qvPlaneBitMap* plane = AllocAlphaBitMap(width, height, 0);
    if (plane == nullptr) return ERR_MEM;
    if (*mask != nullptr) {
        ExpandMaskToPlane8(*mask, 0, 0, plane, 0, 0, width, height, opacity);
        FreePlaneBitMap(*mask);
        *mask = nullptr;
    } else {
        FillPlane8Rect(plane, 0, 0, width, height, opacity);
    }
    *alpha = plane;
    return 0;
}

int ApplyShapeEffects(const qvDrawStyle* style, qvDisplayBitMap* bitmap, qvPlaneBitMap** mask,
                      qvPlaneBitMap** alpha, int32_t width, int32_t height) {
    if (style == nullptr) return 0;
    int result = 0;
    if (AnyFilterEnabled(style->filters)) {
        result = ApplyLayerFilters(style->filters, bitmap, *mask, *alpha, width, height);
    }
    // Without memory for the plane the shape stays opaque.
    if (style->transparency != 0)
        ApplyTransparency(style->transparency, mask, alpha, width, height);
    return result;
}

// Drawing tags: the optional last table of every command that shows or draws an object. Its
// transform half (scale, target size, rotation, free matrix, anchor, smoothing) and its style
// half (name, hidden, transparency, tint, shadow, border, filters, insert position) are
// parsed by one parser under one set of rules, over the process-wide defaults that the
// "graphics" library keeps and SetDrawTagsDefault changes.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/library/graphics_library.h"
#include "platform/linux/bitmap.h"
#include "scene/layers/filter_table.h"

struct qvDrawTransform {
    double matrix[4];  // a, b, c, d; a and d the diagonal
    double scalex, scaley;
    int32_t width, height;  // the target size; 0: the object's own
    int32_t rotate;         // degrees, reduced modulo 360 with the sign kept
    double transformInput[4];
    int32_t hasTransform;  // a tag asked for a transformation
    int32_t smoothscale;
    double anchorx, anchory;  // fractions of the object's size, 0 to 1
};

struct qvShadowBlock {
    int32_t on;
    uint32_t colour;  // 0xAARRGGBB, the alpha byte a transparency
    int32_t size;
    int32_t direction;  // 0 north, clockwise to 7 north-west
    double radius;
    double sigma;
};

struct qvBorderBlock {
    int32_t on;
    uint32_t colour;
    int32_t size;
};

inline constexpr int kDrawNameSize = 256;

struct qvDrawStyle {
    char name[kDrawNameSize];
    int32_t hidden;
    int32_t insertpos;     // a layer position; 0 on top
    int32_t transparency;  // 0 opaque to 255 invisible
    qvShadowBlock shadow;
    qvBorderBlock border;
    qvLayerFilter filters[kLayerFilterCount];  // the tint is the tint filter's slot
    int32_t anyStyle;                          // the object needs the full layer treatment
};
static_assert(sizeof(qvDrawStyle) == 1040);

// Shadow and border sizes, and the shadow direction that replaces one out of range.
inline constexpr int32_t kMinStyleSize = 1, kMaxStyleSize = 64, kDefaultShadowDirection = 3;

namespace qv {

// The records as the "graphics" library starts with them: the identity transform, and a style
// with the shadow (0x80000000, size 4, direction 3, radius 5, sigma 5/3) and the border
// (colour 0, size 2) off.
inline constexpr qvDrawTransform kInitialDrawTransform = [] {
    qvDrawTransform t{};
    t.matrix[0] = t.matrix[3] = 1;
    t.scalex = t.scaley = 1;
    return t;
}();
inline constexpr qvDrawStyle kInitialDrawStyle = [] {
    qvDrawStyle s{};
    s.shadow = {0, 0x80000000, 4, kDefaultShadowDirection, 5.0, 5.0 / 3.0};
    s.border = {0, 0, 2};
    return s;
}();

// The process-wide defaults that the "graphics" library holds (SetDrawTagsDefault changes
// them), or the initial ones while it holds none.
inline const qvDrawTransform& DefaultDrawTransform() {
    const void* held = gfx::DefaultDrawTags().transform;
    return held != nullptr ? *static_cast<const qvDrawTransform*>(held) : kInitialDrawTransform;
}
inline const qvDrawStyle& DefaultDrawStyle() {
    const void* held = gfx::DefaultDrawTags().style;
    return held != nullptr ? *static_cast<const qvDrawStyle*>(held) : kInitialDrawStyle;
}

}  // namespace qv

// Flags of ParseDrawTags and ResetDrawTags.
enum : int {
    QV_DRAWTAGS_RESET = 1,          // start from the defaults, with the default size and smoothing
    QV_DRAWTAGS_NEEDTABLE = 2,      // a value that is not a table fails with ERR_TABEXPECTED
    QV_DRAWTAGS_NOSIZE = 4,         // "width" and "height" are not read
    QV_DRAWTAGS_NOROTATE = 8,       // "rotate" is not read
    QV_DRAWTAGS_SMOOTHROTATE = 16,  // the default smoothing only with a rotation
};

// Parses the tag table at argIndex into transform and style (none: the transform half only).
// The table counts only as the last argument; anything else there is ignored (or, with
// QV_DRAWTAGS_NEEDTABLE, ERR_TABEXPECTED naming argIndex). Returns 0 or an error code;
// after an error the blocks are partly filled. Type errors of a field raise ERR_NUMTABLEARG.
int ParseDrawTags(qvVmState* L, int argIndex, int32_t objectWidth, int32_t objectHeight,
                  int32_t defaultWidth, int32_t defaultHeight, int32_t defaultSmooth,
                  qvDrawTransform* transform, qvDrawStyle* style, int flags);

// The shadow keys of the option table at t: 0 or ERR_WRONGUSAGE (a radius below 1, a
// negative size, a sigma not above 0). "shadow" given as 0 ends the reading. A direction out
// of 0..7 becomes 3 and the size is clamped to 1..64. *found is set when a key was present.
int ParseShadowTags(qvVmState* L, int t, qvShadowBlock* shadow, int* found);
// The border keys, with edgeNames also "edgecolor", "edgesize" and "outlinethickness" (the
// later size wins): 0 or ERR_WRONGUSAGE (a size below 1 while the border is on); the size is
// clamped to 1..64.
int ParseBorderTags(qvVmState* L, int t, bool edgeNames, qvBorderBlock* border, int* found);

// The defaults into the blocks (style may be none) with the size and (unless
// QV_DRAWTAGS_SMOOTHROTATE) the smoothing, without reading a table.
void ResetDrawTags(qvDrawTransform* transform, qvDrawStyle* style, int32_t width, int32_t height,
                   int32_t smooth, int flags);
void ResetDrawTagBlock(qvDrawTransform* transform);
void ResetStyleBlock(qvDrawStyle* style);
// The initial defaults, as the "graphics" library starts with them.
void InitDrawTagBlocks(qvDrawTransform* transform, qvDrawStyle* style);

// The size of a width x height object under the matrix: 0, or ERR_MEM for a side beyond the
// largest bitmap. Each side is at least 1.
int TransformedSize(const double matrix[4], int32_t width, int32_t height, int32_t* newWidth,
                    int32_t* newHeight);

// Applies a transparency (0 opaque to 255 invisible) to a picture's planes: an alpha plane is
// scaled by 255 - t, a mask becomes a new alpha plane of 255 - t where it was set (the mask is
// freed), neither gives a new plane of 255 - t. 0, or ERR_MEM with the planes unchanged.
int ApplyTransparency(int32_t transparency, qvPlaneBitMap** mask, qvPlaneBitMap** alpha,
                      int32_t width, int32_t height);
// With layers off: runs the style's filters over a freshly rendered picture and applies its
// transparency: an alpha plane is scaled by 255 - t, a mask becomes an alpha plane of
// 255 - t where it was set (the mask is freed), neither gives a new plane of 255 - t; when
// that plane cannot be made the picture stays opaque. Returns the filter pass's result.
int ApplyShapeEffects(const qvDrawStyle* style, qvDisplayBitMap* bitmap, qvPlaneBitMap** mask,
                      qvPlaneBitMap** alpha, int32_t width, int32_t height);

// Masks, alpha channels, transparency, the mask and alpha drawing modes, borders and shadows,
// and reading, writing and filling pixels.
#include <algorithm>
#include <cmath>

#include "engine/convert.h"
#include "gfx/blit_frontends.h"
#include "gfx/colour_filters.h"
#include "gfx/graphics_state.h"
#include "gfx/masks.h"
#include "gfx/spatial_filters.h"
#include "objects/brush_library/commands.h"
#include "platform/linux/blocks.h"
#include "runtime/arguments.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"

namespace qv::brushes {
namespace {

// The attributes that hold the mask drawing mode and the alpha drawing level.
enum : uint32_t { kAttrMaskMode = 5, kAttrAlphaIntensity = 7 };

// The object types that name a brush's planes in ChangeBrushTransparency.
enum : int32_t { kPlanesNone = -1, kPlanesMask = 28, kPlanesAlpha = 30 };

void DropMask(qvBrush* b) {
    FreePlaneBitMap(b->mask);
    b->mask = nullptr;
}

void DropAlpha(qvBrush* b) {
    FreePlaneBitMap(b->alpha);
    b->alpha = nullptr;
}

// A mask whose bits show the pixels of the alpha plane above 0, or every pixel.
qvPlaneBitMap* MaskFor(const qvBrush* b) {
    qvPlaneBitMap* mask = AllocMaskBitMap(b->bitmap, b->width, b->height, 1);
    if (mask == nullptr) return nullptr;
    if (b->alpha == nullptr) {
        FillMaskRect(mask, 0, 0, b->width, b->height, gfx::kMaskVisible);
        return mask;
    }
    for (int32_t y = 0; y < b->height; ++y) {
        const uint8_t* alpha = b->alpha->plane + size_t(y) * b->alpha->bytesPerRow;
        uint8_t* bits = mask->plane + size_t(y) * mask->bytesPerRow;
        for (int32_t x = 0; x < b->width; ++x) {
            if (alpha[x] != 0) bits[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
    }
    return mask;
}

// An alpha plane of 255 where the mask shows pixels (0 elsewhere), or 255 everywhere.
qvPlaneBitMap* AlphaFor(const qvBrush* b) {
    qvPlaneBitMap* alpha = AllocAlphaBitMap(b->width, b->height, 1);
    if (alpha == nullptr) return nullptr;
    if (b->mask != nullptr) {
        ExpandMaskToPlane8(b->mask, 0, 0, alpha, 0, 0, b->width, b->height, 255);
    } else {
        FillPlane8Rect(alpha, 0, 0, b->width, b->height, 255);
    }
    return alpha;
}

// CreateBorderBrush and CreateShadowBrush (MakeBorderOrShadowBrush): a brush 2 x trunc(size)
// larger than the source, of the colour, seen through the source's silhouette blurred by
// size and sigma.
int MakeBorderOrShadowBrush(qvVmState* L, bool border) {
    CheckArgCount(L, 3, 5);
    const NewBrushId target = GetNewObjectIdArg(L, 1);
    const qvObjectId sourceId = GetObjectIdArg(L, 2);
    const uint32_t colour = GetArgUInt32(L, 3);
    const double size = GetOptArgNumber(L, 4, 5);
    const double sigma = GetOptArgNumber(L, 5, size / 3);
    if (!(size >= 1)) return ERR_WRONGUSAGE;
    if (!target.automatic && sourceId.handle == nullptr && sourceId.number == target.number) {
        return ERR_WRONGUSAGE;
    }
    qvBrush* source = nullptr;
    if (const int code = GetBrush(L, sourceId, &source, 0)) return code;
    // Sides beyond the largest bitmap are refused before anything is made.
    const double radius = std::trunc(size);
    if (source->width + 2 * radius > kMaxBitMapSide || source->height + 2 * radius > kMaxBitMapSide)
        return ERR_MEM;
    if (const int code = CheckBrushReplaceable(target)) return code;
    const auto grow = static_cast<int32_t>(radius);
    const int32_t width = source->width + 2 * grow, height = source->height + 2 * grow;
    OwnedBitMap bitmap(AllocDisplayBitMap(width, height));
    if (!bitmap) return ERR_MEM;
    RectFill(bitmap.get(), 0, 0, width, height, colour & 0xFFFFFF);
    const auto opacity = static_cast<uint8_t>(255 - (colour >> 24));
    OwnedPlane plane(MakeShadowPlane(source->alpha, source->mask, 0, 0, source->width,
                                     source->height, opacity, border ? 1 : 0, size >= 4 ? 1 : 0,
                                     size, sigma));
    if (!plane) return ERR_MEM;
    qvBrush* made = nullptr;
    if (const int code =
            AddBrush(AutomaticBrushId(), kBitmapBrush, width, height, width, 0, nullptr,
                     bitmap.get(), kNoTransparency, nullptr, plane.get(), &made)) {
        return code;
    }
    bitmap.release(), plane.release();
    return PublishNewBrush(L, target, made);
}

// x and y of a pixel command, resolved against the brush.
void PixelPosition(qvVmState* L, const qvBrush* b, int32_t* x, int32_t* y) {
    *x = PositionArg(L, 2, 1, b->width, false);
    *y = PositionArg(L, 3, 1, b->height, true);
}

int CheckInside(const qvBrush* b, int32_t x, int32_t y) {
    if (x < 0 || y < 0) return ERR_NEGCOORDS;
    if (x >= b->width || y >= b->height) return ERR_COORDSRANGE;
    return 0;
}

// Entry i of the colour table at t into *colour; *present is false at the table's end (nil).
// 0, or ERR_NUMTABLEARG naming the table for an entry that is no number.
int ColourAt(qvVmState* L, int t, int i, uint32_t* colour, bool* present) {
    VmRawGetI(L, t, i);
    const int type = VmType(L, -1);
    if (type == VM_TNUMBER) *colour = Bits32(VmToNumber(L, -1));
    VmSetTop(L, -2);
    *present = type == VM_TNUMBER;
    return type == VM_TNIL || type == VM_TNUMBER ? 0 : ErrorWithText(ERR_NUMTABLEARG, "colortable");
}

// The number of pairs {old, new} of a colour table, which ends at a nil or at an old colour of
// -1: 0, ERR_WRONGUSAGE for an old colour without its new one, or ColourAt's error.
int CountColourPairs(qvVmState* L, int t, int* count) {
    uint32_t from = 0, to = 0;
    bool present = false;
    for (*count = 0;; ++*count) {
        if (const int code = ColourAt(L, t, 2 * *count, &from, &present)) return code;
        if (!present || from == 0xFFFFFFFF) return 0;
        if (const int code = ColourAt(L, t, 2 * *count + 1, &to, &present)) return code;
        if (!present) return ERR_WRONGUSAGE;
    }
}

}  // namespace

int SetBrushTransparency(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const uint32_t colour = GetArgUInt32(L, 2);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    if (colour == kNoTransparency) {
        DropMask(b), DropAlpha(b);
        b->transparentColour = kNoTransparency;
        return 0;
    }
    qvPlaneBitMap* mask = ColorKeyToMask(b->bitmap, b->width, b->height, colour & 0xFFFFFF);
    if (mask == nullptr) return ERR_MEM;
    DropMask(b), DropAlpha(b);
    b->mask = mask;
    b->transparentColour = colour & 0xFFFFFF;
    return 0;
}

int ChangeBrushTransparency(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t planes = Trunc32(GetArgNumber(L, 2));
    if (planes != kPlanesNone && planes != kPlanesMask && planes != kPlanesAlpha) {
        return ERR_WRONGUSAGE;
    }
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    if (planes == kPlanesNone) {
        DropMask(b), DropAlpha(b);
        b->transparentColour = kNoTransparency;
    } else if (planes == kPlanesMask && b->mask == nullptr) {
        qvPlaneBitMap* mask = MaskFor(b);
        if (mask == nullptr) return ERR_MEM;
        DropAlpha(b);
        b->mask = mask;
        b->transparentColour = kMaskWithoutKey;
    } else if (planes == kPlanesAlpha && b->alpha == nullptr) {
        qvPlaneBitMap* alpha = AlphaFor(b);
        if (alpha == nullptr) return ERR_MEM;
        DropMask(b);
        b->alpha = alpha;
        b->transparentColour = kNoTransparency;
    }
    return 0;
}

int DeleteMask(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    DropMask(b);
    b->transparentColour = kNoTransparency;
    return 0;
}

int DeleteAlphaChannel(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    DropAlpha(b);
    return 0;
}

int InvertMask(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    if (b->mask == nullptr) return ERR_WRONGUSAGE;
    InvertPlaneBytes(b->mask, b->mask->height, b->mask->bytesPerRow);
    return 0;
}

int InvertAlphaChannel(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    if (b->alpha == nullptr) return ERR_WRONGUSAGE;
    InvertPlaneBytes(b->alpha, b->alpha->height, b->alpha->bytesPerRow);
    return 0;
}

int SetMaskMode(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const qvAttrSet tags[] = {{kAttrMaskMode, Trunc32(GetArgNumber(L, 1))}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, tags);
    return 0;
}

int SetAlphaIntensity(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const int32_t level = LevelArg(L, 1);
    // VANILLACOPY (-1) draws with the colour's own opacity.
    if (level != gfx::kAlphaVanillaCopy && (level < 0 || level > 255)) return ERR_WRONGUSAGE;
    const qvAttrSet tags[] = {{kAttrAlphaIntensity, level}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, tags);
    return 0;
}

int RasterizeBrush(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b, 0)) return code;
    if (b->type != kVectorBrush) return ERR_WRONGUSAGE;
    ReleaseImageHandle(b->imageSource);
    b->imageSource = nullptr;
    b->type = kBitmapBrush;
    b->transformedVector = 0;
    return 0;
}

int CreateBorderBrush(qvVmState* L) {
    return MakeBorderOrShadowBrush(L, true);
}

int CreateShadowBrush(qvVmState* L) {
    return MakeBorderOrShadowBrush(L, false);
}

int ReadBrushPixel(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    qvBrush* b = nullptr;
    if (const int code = GetBrush(L, GetObjectIdArg(L, 1), &b, 0)) return code;
    int32_t x, y;
    PixelPosition(L, b, &x, &y);
    if (const int code = CheckInside(b, x, y)) return code;
    VmPushNumber(L, ReadBitMapPixel(b->bitmap, x, y));
    if (b->mask != nullptr) {
        VmPushNumber(L, ReadBitMapPixel(b->mask, x, y));
    } else if (b->alpha != nullptr) {
        VmPushNumber(L, b->alpha->plane[size_t(y) * b->alpha->bytesPerRow + x]);
    } else {
        VmPushNumber(L, -1);
    }
    return 2;
}

int WriteBrushPixel(qvVmState* L) {
    CheckArgCount(L, 4, 5);
    const uint32_t colour = GetArgUInt32(L, 4);
    const int32_t alpha = Trunc32(GetOptArgNumber(L, 5, -1));
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    int32_t x, y;
    PixelPosition(L, b, &x, &y);
    if (CheckInside(b, x, y) != 0) return 0;
    PlotPixel(b->bitmap, x, y, colour & 0xFFFFFF);
    if (alpha == -1) return 0;
    if (b->mask != nullptr) {
        PlotPixel(b->mask, x, y, alpha == 0 ? gfx::kMaskInvisible : gfx::kMaskVisible);
    } else if (b->alpha != nullptr) {
        b->alpha->plane[size_t(y) * b->alpha->bytesPerRow + x] = static_cast<uint8_t>(alpha);
    }
    return 0;
}

int FloodFill(qvVmState* L) {
    CheckArgCount(L, 5, 5);
    const uint32_t fill = GetArgUInt32(L, 4), border = GetArgUInt32(L, 5);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    int32_t x, y;
    PixelPosition(L, b, &x, &y);
    if (const int code = CheckInside(b, x, y)) return code;
    ScopedBitMapLock lock(b->bitmap);
    if (!lock) return ERR_LOCKBMAP;
    const qvFloodFillContext context{lock->base,
                                     b->width,
                                     b->height,
                                     lock->rowLength,
                                     RGBToPixelFormat(border & 0xFFFFFF, lock->format),
                                     RGBToPixelFormat(fill & 0xFFFFFF, lock->format),
                                     0,
                                     0};
    switch (lock->bytesPerPixel) {
        case 4:
            return FloodFillPixels32(context, x, y, CompareMask32(lock->format));
        case 3:
            return FloodFillPixels24(context, x, y);
        default:
            return FloodFillPixels16(context, x, y);
    }
}

int ReplaceColors(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    CheckArgTable(L, 2);
    int count = 0;
    if (const int code = CountColourPairs(L, 2, &count)) return code;
    if (count == 0) return 0;
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    BlockPtr<uint32_t> table(
        static_cast<uint32_t*>(AllocMemBlock((2 * size_t(count) + 1) * sizeof(uint32_t), 0)));
    if (!table) return ERR_MEM;
    ScopedBitMapLock lock(b->bitmap);
    if (!lock) return ERR_LOCKBMAP;
    uint32_t* pairs = table.get();
    for (int i = 0; i < 2 * count; ++i) {
        bool present = false;
        ColourAt(L, 2, i, &pairs[i], &present);  // counted above: a number
        pairs[i] = RGBToPixelFormat(pairs[i] & 0xFFFFFF, lock->format);
    }
    pairs[2 * count] = 0xFFFFFFFF;
    switch (lock->bytesPerPixel) {
        case 4:
            ReplaceColorsPixels32(b->width, b->height, pairs, lock->base, lock->rowLength,
                                  CompareMask32(lock->format));
            break;
        case 3:
            ReplaceColorsPixels24(b->width, b->height, pairs, lock->base, lock->rowLength);
            break;
        default:
            ReplaceColorsPixels16(b->width, b->height, pairs, lock->base, lock->rowLength);
            break;
    }
    return 0;
}

}  // namespace qv::brushes

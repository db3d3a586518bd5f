// Collision tests between brushes, layers, sprites and rectangles.
#include <algorithm>

#include "engine/convert.h"
#include "engine/error_codes.h"
#include "gfx/graphics_state.h"
#include "gfx/kernels/rows.h"
#include "gfx/library/object_types.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "scene/bgpic.h"
#include "scene/layers/compositor.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/layers_commands.h"
#include "scene/layers/layers_library.h"
#include "scene/object_hooks.h"

namespace qv::scene {
namespace {

enum : int32_t {
    kBrushVsBox = 46,
    kLayerVsBox = 47,
    kSpriteVsBox = 48,
};

// One side of a test: where it lies (inclusive corners), where its planes start, and the
// planes and clip mask that make pixels solid; a side without them is solid all over.
struct Side {
    int64_t x1, y1, x2, y2;
    int64_t imageX = 0, imageY = 0;
    const qvPlaneBitMap* mask = nullptr;
    const qvPlaneBitMap* alpha = nullptr;
    const qvClipRegion* clip = nullptr;

    bool Shaped() const {
        return mask != nullptr || alpha != nullptr || (clip != nullptr && clip->mask != nullptr);
    }
    // A pixel is solid when every plane the side has is set there.
    bool Solid(int64_t x, int64_t y) const {
        const int64_t ix = x - imageX, iy = y - imageY;
        if (mask != nullptr &&
            !MaskBit(PlaneRow(mask->plane, mask->bytesPerRow, int32_t(iy)), int32_t(ix))) {
            return false;
        }
        if (alpha != nullptr && alpha->plane[iy * alpha->bytesPerRow + ix] == 0) return false;
        if (clip != nullptr && clip->mask != nullptr) {
            const int32_t cx = int32_t(x - clip->x), cy = int32_t(y - clip->y);
            if (!MaskBit(PlaneRow(clip->mask->plane, clip->mask->bytesPerRow, cy), cx)) {
                return false;
            }
        }
        return true;
    }
};

Side BoxSide(int64_t x, int64_t y, int64_t width, int64_t height) {
    return {x, y, x + width - 1, y + height - 1};
}

// 1 when some pixel of the overlap is solid on both sides, row by row.
int PixelCollision(const Side& a, const Side& b) {
    const int64_t x1 = std::max(a.x1, b.x1), y1 = std::max(a.y1, b.y1);
    const int64_t x2 = std::min(a.x2, b.x2), y2 = std::min(a.y2, b.y2);
    if (x1 > x2 || y1 > y2) return 0;
    if (!a.Shaped() && !b.Shaped()) return 1;
    for (int64_t y = y1; y <= y2; ++y) {
        for (int64_t x = x1; x <= x2; ++x) {
            if (a.Solid(x, y) && b.Solid(x, y)) return 1;
        }
    }
    return 0;
}

// A brush at (x, y); 0 or the lookup error.
int BrushSide(qvVmState* L, qvObjectId id, int32_t x, int32_t y, Side* out) {
    gfx::PictureView view{};
    qvImageHandle* source = nullptr;
    if (int code = Objects().BrushImage(L, id, &view, &source)) return code;
    *out = BoxSide(x, y, view.width, view.height);
    out->imageX = x, out->imageY = y;
    out->mask = view.mask, out->alpha = view.alpha;
    return 0;
}

// A layer's current image over its draw rectangle cut to its clip region's rectangle.
int LayerSide(qvVmState* L, qvLayer* layer, Side* out) {
    qvLayerItem* item = layer->displayItem;
    qvLayerPicture picture{};
    if (int code = GetLayerImage(L, layer, item, 1, 1, -1, &picture)) return code;
    *out = BoxSide(item->drawX, item->drawY, item->drawWidth, item->drawHeight);
    out->imageX = int64_t(item->drawX) - picture.offsetX;
    out->imageY = int64_t(item->drawY) - picture.offsetY;
    out->mask = picture.mask, out->alpha = picture.alpha;
    if (const qvClipRegion* clip = item->clipRegion) {
        out->x1 = std::max<int64_t>(out->x1, clip->x);
        out->y1 = std::max<int64_t>(out->y1, clip->y);
        out->x2 = std::min<int64_t>(out->x2, int64_t(clip->x) + clip->width - 1);
        out->y2 = std::min<int64_t>(out->y2, int64_t(clip->y) + clip->height - 1);
        out->clip = clip;
    }
    return 0;
}

int32_t IntArg(qvVmState* L, int idx) {
    return Trunc32(GetArgNumber(L, idx));
}

int PushResult(qvVmState* L, int collided) {
    VmPushNumber(L, collided);
    return 1;
}

int BrushCollision(qvVmState* L, bool vsBox) {
    CheckArgCount(L, vsBox ? 8 : 7, vsBox ? 8 : 7);
    const qvObjectId id = GetObjectIdArg(L, 2);
    Side a{}, b{};
    if (int code = BrushSide(L, id, IntArg(L, 3), IntArg(L, 4), &a)) return code;
    if (vsBox) {
        b = BoxSide(IntArg(L, 5), IntArg(L, 6), IntArg(L, 7), IntArg(L, 8));
    } else if (int code = BrushSide(L, GetObjectIdArg(L, 5), IntArg(L, 6), IntArg(L, 7), &b)) {
        return code;
    }
    return PushResult(L, PixelCollision(a, b));
}

int LayerCollision(qvVmState* L, bool vsBox) {
    CheckArgCount(L, vsBox ? 6 : 3, vsBox ? 6 : 3);
    const int32_t first = FindLayerArg(L, 2, LayerDisplays().OutputPicture());
    int32_t second = 0;
    int32_t box[4] = {};
    if (vsBox) {
        for (int i = 0; i < 4; ++i) box[i] = IntArg(L, 3 + i);
    } else {
        second = FindLayerArg(L, 3, LayerDisplays().OutputPicture());
    }
    qvLayer* layer = nullptr;
    if (int code = GuardedLayer(first, nullptr, &layer)) return code;
    Side a{}, b{};
    if (int code = LayerSide(L, layer, &a)) return code;
    if (vsBox) {
        const DisplayScale scale = LayerDisplays().Scale(gfx::Graphics().Host().CurrentDisplay());
        int32_t x = 0, y = 0, width = 0, height = 0;
        ScaleRect(box[0], box[1], box[2], box[3], &x, &y, &width, &height, scale.x, scale.y);
        b = BoxSide(x, y, width, height);
    } else {
        qvLayer* other = nullptr;
        if (int code = GuardedLayer(second, nullptr, &other)) return code;
        if (int code = LayerSide(L, other, &b)) return code;
    }
    return PushResult(L, PixelCollision(a, b));
}

// Sprites are looked up by their own library, which answers here once it exists.
int SpriteCollision(qvVmState* L, bool vsBox) {
    CheckArgCount(L, vsBox ? 6 : 3, vsBox ? 6 : 3);
    const qvObjectId id = GetObjectIdArg(L, 2);
    return ObjectNotFound(id, ERR_FINDSPRITE);
}

}  // namespace

int Collision(qvVmState* L) {
    CheckArgCount(L, 1, 0);
    switch (GetOptIntArg(L, 1, nullptr)) {
        case gfx::kTypeBrush:
            return BrushCollision(L, false);
        case kBrushVsBox:
            return BrushCollision(L, true);
        case gfx::kTypeBox: {
            CheckArgCount(L, 9, 9);
            const Side a = BoxSide(IntArg(L, 2), IntArg(L, 3), IntArg(L, 4), IntArg(L, 5));
            const Side b = BoxSide(IntArg(L, 6), IntArg(L, 7), IntArg(L, 8), IntArg(L, 9));
            return PushResult(L, PixelCollision(a, b));
        }
        case gfx::kTypeLayer:
            return LayerCollision(L, false);
        case kLayerVsBox:
            return LayerCollision(L, true);
        case gfx::kTypeSprite:
            return SpriteCollision(L, false);
        case kSpriteVsBox:
            return SpriteCollision(L, true);
        default:
            return ERR_WRONGUSAGE;
    }
}

}  // namespace qv::scene

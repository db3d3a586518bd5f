// Collision tests between brushes, layers, sprites and rectangles.
#include <immintrin.h>

#include <algorithm>
#include <vector>

#include "engine/convert.h"
#include "engine/error_codes.h"
#include "gfx/graphics_state.h"
#include "gfx/kernels/rows.h"
#include "gfx/library/neighbours.h"
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

    const qvPlaneBitMap* ClipMask() const { return clip != nullptr ? clip->mask : nullptr; }
    bool Shaped() const { return mask != nullptr || alpha != nullptr || ClipMask() != nullptr; }
};

Side BoxSide(int64_t x, int64_t y, int64_t width, int64_t height) {
    return {x, y, x + width - 1, y + height - 1};
}

// Whether some byte is non-zero in both rows: the smaller of two bytes is non-zero exactly
// then. The lanes are gathered over the whole row and tested once.
bool RowsMeetSse2(const uint8_t* a, const uint8_t* b, int32_t count) {
    int32_t i = 0;
    __m128i both = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        both = _mm_max_epu8(both, _mm_min_epu8(va, vb));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(both, _mm_setzero_si128())) != 0xFFFF) return true;
    for (; i < count; ++i) {
        if (a[i] != 0 && b[i] != 0) return true;
    }
    return false;
}

__attribute__((target("avx2"))) bool RowsMeetAvx2(const uint8_t* a, const uint8_t* b,
                                                  int32_t count) {
    int32_t i = 0;
    __m256i both = _mm256_setzero_si256();
    for (; i + 32 <= count; i += 32) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        both = _mm256_max_epu8(both, _mm256_min_epu8(va, vb));
    }
    if (!_mm256_testz_si256(both, both)) return true;
    return RowsMeetSse2(a + i, b + i, count - i);
}

using RowsMeetFn = bool (*)(const uint8_t*, const uint8_t*, int32_t);
const RowsMeetFn RowsMeet = __builtin_cpu_supports("avx2") ? RowsMeetAvx2 : RowsMeetSse2;

// One side's row of the overlap as bytes, non-zero where the pixel is solid: every plane the
// side has must be set there. An alpha plane alone is read in place; masks are widened into
// the scratch row.
class SolidRow {
public:
    SolidRow(const Side& side, int64_t x1, int32_t count)
        : side_(side), x1_(x1), count_(count), scratch_(size_t(count), uint8_t(1)) {
        if (side.alpha != nullptr) stride_ = side.alpha->bytesPerRow;
        direct_ = side.mask == nullptr && side.ClipMask() == nullptr;
    }

    const uint8_t* At(int64_t y) {
        const uint8_t* alpha =
            side_.alpha != nullptr
                ? side_.alpha->plane + (y - side_.imageY) * stride_ + (x1_ - side_.imageX)
                : nullptr;
        if (direct_) return alpha != nullptr ? alpha : scratch_.data();
        if (alpha != nullptr) {
            std::copy(alpha, alpha + count_, scratch_.begin());
        } else {
            std::fill(scratch_.begin(), scratch_.end(), uint8_t(1));
        }
        if (side_.mask != nullptr) Keep(side_.mask, x1_ - side_.imageX, y - side_.imageY);
        if (const qvPlaneBitMap* clip = side_.ClipMask()) {
            Keep(clip, x1_ - side_.clip->x, y - side_.clip->y);
        }
        return scratch_.data();
    }

private:
    // Clears the scratch bytes whose bit of the mask row is clear.
    void Keep(const qvPlaneBitMap* mask, int64_t x, int64_t y) {
        const uint8_t* row = PlaneRow(mask->plane, mask->bytesPerRow, int32_t(y));
        for (int32_t i = 0; i < count_; ++i) {
            if (!MaskBit(row, int32_t(x + i))) scratch_[size_t(i)] = 0;
        }
    }

    const Side& side_;
    int64_t x1_;
    int32_t count_;
    std::vector<uint8_t> scratch_;  // all set for a side without planes
    int64_t stride_ = 0;
    bool direct_ = false;
};

// 1 when some pixel of the overlap is solid on both sides, row by row.
int PixelCollision(const Side& a, const Side& b) {
    const int64_t x1 = std::max(a.x1, b.x1), y1 = std::max(a.y1, b.y1);
    const int64_t x2 = std::min(a.x2, b.x2), y2 = std::min(a.y2, b.y2);
    if (x1 > x2 || y1 > y2) return 0;
    if (!a.Shaped() && !b.Shaped()) return 1;
    const auto count = int32_t(x2 - x1 + 1);
    SolidRow rowA(a, x1, count), rowB(b, x1, count);
    for (int64_t y = y1; y <= y2; ++y) {
        if (RowsMeet(rowA.At(y), rowB.At(y), count)) return 1;
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

// A side is cut to its clip region's rectangle, whose mask then takes part.
void CutToClip(const qvClipRegion* clip, Side* out) {
    if (clip == nullptr) return;
    out->x1 = std::max<int64_t>(out->x1, clip->x);
    out->y1 = std::max<int64_t>(out->y1, clip->y);
    out->x2 = std::min<int64_t>(out->x2, int64_t(clip->x) + clip->width - 1);
    out->y2 = std::min<int64_t>(out->y2, int64_t(clip->y) + clip->height - 1);
    out->clip = clip;
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
    CutToClip(item->clipRegion, out);
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

// A shown sprite: its on-screen record's place and size cut to its clip region's rectangle,
// with the planes of the frame it shows. 0, the lookup error, or the code for a sprite that
// is not on screen.
int SpriteSide(qvVmState* L, qvObjectId id, Side* out) {
    int32_t frames = 0;
    gfx::PictureView view{};
    if (int code = gfx::Neighbour().GetSprite(L, id, &frames, &view)) return code;
    const qvBGPic* picture = LayerDisplays().OutputPicture();
    const qvSpriteInstance* shown = picture != nullptr ? picture->sprites : nullptr;
    while (shown != nullptr && (shown->id.number != id.number || shown->id.handle != id.handle)) {
        shown = shown->next;
    }
    if (shown == nullptr) {
        return id.handle != nullptr ? ERR_SPRITEONSCREEN2 : ObjectNotFound(id, ERR_SPRITEONSCREEN);
    }
    gfx::Neighbour().GetSpriteFrame(id, shown->frame - 1, &view);
    *out = BoxSide(shown->x, shown->y, shown->width, shown->height);
    out->imageX = shown->x, out->imageY = shown->y;
    out->mask = view.mask, out->alpha = view.alpha;
    CutToClip(shown->clipRegion, out);
    return 0;
}

int SpriteCollision(qvVmState* L, bool vsBox) {
    CheckArgCount(L, vsBox ? 6 : 3, vsBox ? 6 : 3);
    Side a{}, b{};
    if (int code = SpriteSide(L, GetObjectIdArg(L, 2), &a)) return code;
    if (vsBox) {
        b = BoxSide(IntArg(L, 3), IntArg(L, 4), IntArg(L, 5), IntArg(L, 6));
    } else if (int code = SpriteSide(L, GetObjectIdArg(L, 3), &b)) {
        return code;
    }
    return PushResult(L, PixelCollision(a, b));
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

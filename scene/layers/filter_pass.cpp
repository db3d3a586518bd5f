#include "scene/layers/filter_pass.h"

#include <algorithm>
#include <array>

#include "gfx/colour_filters.h"
#include "gfx/spatial_filters.h"
#include "gfx/transform.h"

namespace {

struct Picture {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;
    qvPlaneBitMap* alpha;
    int32_t width, height;
};

int RunFilter(int slot, const qvLayerFilter& f, const Picture& p) {
    const int32_t* n = f.ints;
    const float* r = f.reals;
    qvDisplayBitMap* b = p.bitmap;
    const int32_t w = p.width, h = p.height;
    switch (slot) {
        case qv::kFilterBlur:
            return ConvolveBitmap(QV_CONVOLVE_BLUR, b, p.alpha, w, h, nullptr, r[0], r[0] / 3.0);
        case qv::kFilterCharcoal:
            return CharcoalBitmap(b, p.alpha, w, h, r[0], 1.0);
        case qv::kFilterContrast:
            return ContrastBitmap(b, w, h, n[0], n[1], nullptr);
        case qv::kFilterEdge:
            return ConvolveBitmap(QV_CONVOLVE_EDGE, b, p.alpha, w, h, nullptr, r[0], 0.0);
        case qv::kFilterEmboss:
            return ConvolveBitmap(QV_CONVOLVE_EMBOSS, b, p.alpha, w, h, nullptr, r[0], 1.0);
        case qv::kFilterGamma:
            return GammaBitmap(b, w, h, r[0], r[1], r[2]);
        case qv::kFilterGrayscale:
            return GrayBitmap(b, w, h, 0, nullptr);
        case qv::kFilterInvert:
            return InvertBitmap(b, w, h, nullptr);
        // The arguments are percentages (100 leaves a component), the kernel takes factors.
        case qv::kFilterModulate:
            return ModulateBitmap(b, w, h, r[0] / 100.0, r[1] / 100.0, r[2] / 100.0);
        case qv::kFilterMonochrome:
            return MonochromeBitmap(b, w, h, n[0]);
        case qv::kFilterOilPaint:
            return OilPaintBitmap(b, w, h, r[0]);
        case qv::kFilterPixelate:
            return PixelateBitmap(b, p.mask, p.alpha, w, h, n[0]);
        case qv::kFilterSepia:
            return SepiaBitmap(b, w, h, n[0]);
        case qv::kFilterSharpen:
            return ConvolveBitmap(QV_CONVOLVE_SHARPEN, b, p.alpha, w, h, nullptr, r[0], 1.0);
        case qv::kFilterSolarize:
            return SolarizeBitmap(b, w, h, n[0]);
        case qv::kFilterSwirl:
            return SwirlBitmap(b, p.mask, p.alpha, w, h, n[0]);
        case qv::kFilterTint:
            return TintBitmap(b, 0, 0, w, h, uint32_t(n[0]), n[1]);
        case qv::kFilterWaterRipple:
            return WaterRippleBitmap(b, p.mask, p.alpha, w, h, n[0], n[1], n[2], r[0], r[1]);
        case qv::kFilterXFlip:
            return FlipBitmap(b, p.mask, p.alpha, w, h, QV_FLIP_HORIZONTAL);
        default:
            return FlipBitmap(b, p.mask, p.alpha, w, h, QV_FLIP_VERTICAL);
    }
}

}  // namespace

int ApplyLayerFilters(const qvLayerFilter slots[kLayerFilterCount], qvDisplayBitMap* bitmap,
                      qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t width, int32_t height) {
    std::array<int, kLayerFilterCount> order{};
    int count = 0;
    for (int slot = 0; slot < kLayerFilterCount; ++slot) {
        if (slots[slot].enabled != 0) order[count++] = slot;
    }
    std::stable_sort(order.begin(), order.begin() + count,
                     [slots](int a, int b) { return slots[a].priority > slots[b].priority; });
    const Picture picture{bitmap, mask, alpha, width, height};
    int result = 0;
    for (int i = 0; i < count; ++i) result = RunFilter(order[i], slots[order[i]], picture);
    return result;
}

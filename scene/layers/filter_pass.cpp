#include "scene/layers/filter_pass.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "gfx/colour_filters.h"
#include "gfx/spatial_filters.h"
#include "gfx/transform.h"

namespace {

qvFilterKernel installedKernel = nullptr;

// A radius or sigma: not finite counts as 0, and it never shrinks a picture.
double Radius(float value) {
    return std::isfinite(value) && value > 0 ? double(value) : 0.0;
}

int32_t Level(int32_t value) {
    return std::clamp(value, 0, 255);
}

}  // namespace

qvFilterCall MapLayerFilter(int slot, const qvLayerFilter& f, int32_t width, int32_t height) {
    const int32_t* n = f.ints;
    const float* r = f.reals;
    qvFilterCall call{slot, {}, {}};
    switch (slot) {
        case qv::kFilterBlur:
            call.reals[0] = Radius(r[0]), call.reals[1] = call.reals[0] / 3.0;
            break;
        case qv::kFilterCharcoal:
        case qv::kFilterEmboss:
        case qv::kFilterSharpen:
            call.reals[0] = Radius(r[0]), call.reals[1] = 1.0;
            break;
        case qv::kFilterEdge:
        case qv::kFilterOilPaint:
            call.reals[0] = Radius(r[0]);
            break;
        case qv::kFilterContrast:
            call.ints[0] = n[0], call.ints[1] = std::max(n[1], 1);
            break;
        case qv::kFilterGamma:
            call.reals[0] = r[0], call.reals[1] = r[1], call.reals[2] = r[2];
            break;
        // The arguments are percentages (100 leaves a component), the kernel takes factors.
        case qv::kFilterModulate:
            for (int i = 0; i < 3; ++i) call.reals[i] = Radius(r[i]) / 100.0;
            break;
        case qv::kFilterMonochrome:
        case qv::kFilterSwirl:
            call.ints[0] = n[0];
            break;
        case qv::kFilterPixelate:
            call.ints[0] = std::clamp(n[0], 1, std::max(std::min(width, height), 1));
            break;
        case qv::kFilterSepia:
        case qv::kFilterSolarize:
            call.ints[0] = Level(n[0]);
            break;
        // The tint kernel's level runs to 256 (the colour itself).
        case qv::kFilterTint:
            call.ints[0] = n[0], call.ints[1] = std::clamp(n[1], 0, 256);
            break;
        case qv::kFilterWaterRipple:
            call.ints[0] = n[0], call.ints[1] = n[1], call.ints[2] = n[2];
            call.reals[0] = r[0], call.reals[1] = r[1];
            break;
        default:
            break;
    }
    return call;
}

int RunFilterKernel(const qvFilterCall& call, qvDisplayBitMap* b, qvPlaneBitMap* mask,
                    qvPlaneBitMap* alpha, int32_t w, int32_t h) {
    const int32_t* n = call.ints;
    const double* r = call.reals;
    switch (call.slot) {
        case qv::kFilterBlur:
            return ConvolveBitmap(QV_CONVOLVE_BLUR, b, alpha, w, h, nullptr, r[0], r[1]);
        case qv::kFilterCharcoal:
            return CharcoalBitmap(b, alpha, w, h, r[0], r[1]);
        case qv::kFilterContrast:
            return ContrastBitmap(b, w, h, n[0], n[1], nullptr);
        case qv::kFilterEdge:
            return ConvolveBitmap(QV_CONVOLVE_EDGE, b, alpha, w, h, nullptr, r[0], r[1]);
        case qv::kFilterEmboss:
            return ConvolveBitmap(QV_CONVOLVE_EMBOSS, b, alpha, w, h, nullptr, r[0], r[1]);
        case qv::kFilterGamma:
            return GammaBitmap(b, w, h, r[0], r[1], r[2]);
        case qv::kFilterGrayscale:
            return GrayBitmap(b, w, h, 0, nullptr);
        case qv::kFilterInvert:
            return InvertBitmap(b, w, h, nullptr);
        case qv::kFilterModulate:
            return ModulateBitmap(b, w, h, r[0], r[1], r[2]);
        case qv::kFilterMonochrome:
            return MonochromeBitmap(b, w, h, n[0]);
        case qv::kFilterOilPaint:
            return OilPaintBitmap(b, w, h, r[0]);
        case qv::kFilterPixelate:
            return PixelateBitmap(b, mask, alpha, w, h, n[0]);
        case qv::kFilterSepia:
            return SepiaBitmap(b, w, h, n[0]);
        case qv::kFilterSharpen:
            return ConvolveBitmap(QV_CONVOLVE_SHARPEN, b, alpha, w, h, nullptr, r[0], r[1]);
        case qv::kFilterSolarize:
            return SolarizeBitmap(b, w, h, n[0]);
        case qv::kFilterSwirl:
            return SwirlBitmap(b, mask, alpha, w, h, n[0]);
        case qv::kFilterTint:
            return TintBitmap(b, 0, 0, w, h, uint32_t(n[0]), n[1]);
        case qv::kFilterWaterRipple:
            return WaterRippleBitmap(b, mask, alpha, w, h, n[0], n[1], n[2], r[0], r[1]);
        case qv::kFilterXFlip:
            return FlipBitmap(b, mask, alpha, w, h, QV_FLIP_HORIZONTAL);
        default:
            return FlipBitmap(b, mask, alpha, w, h, QV_FLIP_VERTICAL);
    }
}

int ApplyLayerFilters(const qvLayerFilter slots[kLayerFilterCount], qvDisplayBitMap* bitmap,
                      qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t width, int32_t height) {
    std::array<int, kLayerFilterCount> order{};
    int count = 0;
    for (int slot = 0; slot < kLayerFilterCount; ++slot) {
        if (slots[slot].enabled != 0) order[count++] = slot;
    }
    std::stable_sort(order.begin(), order.begin() + count,
                     [slots](int a, int b) { return slots[a].priority > slots[b].priority; });
    const qvFilterKernel kernel = installedKernel != nullptr ? installedKernel : RunFilterKernel;
    for (int i = 0; i < count; ++i) {
        const qvFilterCall call = MapLayerFilter(order[i], slots[order[i]], width, height);
        if (const int code = kernel(call, bitmap, mask, alpha, width, height)) return code;
    }
    return 0;
}

namespace qv::scene {

void SetFilterKernel(qvFilterKernel kernel) {
    installedKernel = kernel;
}

}  // namespace qv::scene

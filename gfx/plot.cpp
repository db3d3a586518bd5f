#include "gfx/plot.h"

#include <algorithm>
#include <cstdlib>

#include "gfx/kernels/rows.h"
#include "gfx/line_walk.h"
#include "gfx/pixel_format.h"

namespace qv::gfx {
namespace {

bool Visible(const qvPlotContext& c, int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= c.width || y >= c.height) return false;
    if (!c.clip) return true;
    const int64_t cx = x - c.clipX, cy = y - c.clipY;
    if (cx < 0 || cy < 0 || cx >= c.clipWidth || cy >= c.clipHeight) return false;
    return c.clipMask == nullptr ||
           MaskBit(PlaneRow(c.clipMask, c.clipMaskBytesPerRow, int32_t(cy)), int32_t(cx));
}

template <typename F>
void Plot(const qvPlotContext& c, int64_t x, int64_t y, int32_t alpha) {
    if (!Visible(c, x, y) || (alpha <= 0 && !c.noBlend)) return;
    const auto px = int32_t(x), py = int32_t(y);
    uint32_t colour = (uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | c.blue;
    if (c.texture != nullptr) {
        colour = F::Unpack(
            LoadPixel(PixelAt(c.texture, c.textureRowLength, F::bytes, px, py), F::bytes));
    }
    uint8_t* pixel = PixelAt(c.base, c.rowLength, F::bytes, px, py);
    if (alpha < 255 && !c.noBlend) {
        const uint32_t under = F::Unpack(LoadPixel(pixel, F::bytes));
        uint32_t blended = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int32_t d = int32_t((under >> shift) & 255), s = int32_t((colour >> shift) & 255);
            blended |= uint32_t(d + (((s - d) * alpha) >> 8)) << shift;
        }
        colour = blended;
    }
    StorePixel(pixel, F::bytes, F::Pack(colour));
}

// Runs fn(Format<F>) for the context's format; nothing when the depth does not match it.
template <typename Fn>
void WithFormat(const qvPlotContext& c, Fn&& fn) {
    if (c.base == nullptr || BytesPerPixel(c.format) != c.bytesPerPixel) return;
    VisitFormat(c.format, fn);
}

int32_t ScaleByGlobal(const qvPlotContext& c, int32_t coverage) {
    return c.globalAlpha != 255 ? coverage * c.globalAlpha / 255 : coverage;
}

}  // namespace
}  // namespace qv::gfx

void PlotClippedPixel(const qvPlotContext& context, int32_t x, int32_t y) {
    qv::gfx::WithFormat(context,
                        [&](auto f) { qv::gfx::Plot<decltype(f)>(context, x, y, context.alpha); });
}

void PlotCoverageMap(const uint8_t* coverage, int32_t x, int32_t y, const qvPlotContext& context,
                     int32_t width, int32_t height, int32_t bytesPerRow, bool allOrNothing) {
    if (coverage == nullptr) return;
    qv::gfx::WithFormat(context, [&](auto f) {
        for (int32_t j = 0; j < height; ++j) {
            const uint8_t* row = qv::PlaneRow(coverage, bytesPerRow, j);
            for (int32_t i = 0; i < width; ++i) {
                if (row[i] == 0) continue;
                const int32_t alpha =
                    allOrNothing ? context.alpha : qv::gfx::ScaleByGlobal(context, row[i]);
                qv::gfx::Plot<decltype(f)>(context, int64_t(x) + i, int64_t(y) + j, alpha);
            }
        }
    });
}

void PlotThickLine(const qvPlotContext& context, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    const int64_t thickness = std::max(context.thickness, 1);
    if (thickness == 1 && !context.clip && context.texture == nullptr &&
        (context.alpha >= 255 || context.noBlend)) {
        // One pixel per step in one colour: each is stored as it is (the lines of a brush).
        qv::gfx::WithFormat(context, [&](auto f) {
            using F = decltype(f);
            const uint32_t value =
                F::Pack(uint32_t(context.red) << 16 | uint32_t(context.green) << 8 | context.blue);
            qv::WalkLine(x1, y1, x2, y2, context.width, context.height, [&](int64_t x, int64_t y) {
                qv::StorePixel(
                    qv::PixelAt(context.base, context.rowLength, F::bytes, int32_t(x), int32_t(y)),
                    F::bytes, value);
            });
        });
        return;
    }
    const int64_t first = -((thickness - 1) / 2);
    const bool xMajor = std::abs(int64_t(x2) - x1) >= std::abs(int64_t(y2) - y1);
    qv::gfx::WithFormat(context, [&](auto f) {
        // The line is walked shifted by the thickness, so that steps just outside the
        // destination still plot the part of their run that lies inside.
        qv::WalkLine(x1 + thickness, y1 + thickness, x2 + thickness, y2 + thickness,
                     context.width + 2 * thickness, context.height + 2 * thickness,
                     [&](int64_t x, int64_t y) {
                         for (int64_t k = first; k < first + thickness; ++k) {
                             const int64_t px = x - thickness + (xMajor ? 0 : k);
                             const int64_t py = y - thickness + (xMajor ? k : 0);
                             qv::gfx::Plot<decltype(f)>(context, px, py, context.alpha);
                         }
                     });
    });
}

void PlotAALine(const qvPlotContext& context, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    qv::gfx::WithFormat(context, [&](auto f) {
        qv::WalkAALine(x1, y1, x2, y2, context.width, context.height,
                       [&](int64_t x, int64_t y, int32_t coverage) {
                           qv::gfx::Plot<decltype(f)>(context, x, y,
                                                      qv::gfx::ScaleByGlobal(context, coverage));
                       });
    });
}

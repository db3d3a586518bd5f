// The pixel stage of the distortion engine: the reverse mappings at output pixel centres,
// point sampling and the elliptical weighted average with its bilinear fallbacks.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "gfx/distort.h"
#include "gfx/kernels/rows.h"

namespace qv::gfx {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr int32_t kWeights = 1024;

// A Gaussian falling from 1 to 1/16 at the ellipse's edge (Q = 1024).
const std::array<double, kWeights>& WeightTable() {
    static const auto table = [] {
        std::array<double, kWeights> t{};
        for (int32_t q = 0; q < kWeights; ++q) t[q] = std::exp(-q * std::log(16.0) / kWeights);
        return t;
    }();
    return table;
}

// A mapped point and the partial derivatives du/dx, du/dy, dv/dx, dv/dy of the mapping.
struct Mapped {
    double sx, sy;
    double d[4];
};

double Turns(double angle) {
    const double t = angle / kTwoPi;
    return t - std::round(t);
}

bool MapPerspective(const double* c, double x, double y, Mapped& m) {
    const double d = c[6] * x + c[7] * y + 1;
    if (std::fabs(d) < 1e-12) return false;  // on the horizon the mapping has no value
    bool valid = d * c[8] >= 0;
    if (2 * std::fabs(d) < std::max(std::fabs(c[6]), std::fabs(c[7]))) {
        const double larger = std::fabs(c[6]) >= std::fabs(c[7]) ? c[6] : c[7];
        valid = 0.5 - d * c[8] / larger > 0;
    }
    if (!valid) return false;
    const double u = c[0] * x + c[1] * y + c[2], v = c[3] * x + c[4] * y + c[5];
    m.sx = u / d, m.sy = v / d;
    const double square = d * d;
    m.d[0] = (c[0] * d - u * c[6]) / square, m.d[1] = (c[1] * d - u * c[7]) / square;
    m.d[2] = (c[3] * d - v * c[6]) / square, m.d[3] = (c[4] * d - v * c[7]) / square;
    return true;
}

void MapArc(const qvDistortRequest& r, double x, double y, Mapped& m) {
    const double* c = r.coefficients;
    const double t = Turns(std::atan2(y, x) - c[0]), radius = std::hypot(x, y);
    m.sx = t * c[1] + c[4] + r.sourceX + 0.5;
    m.sy = (c[2] - radius) * c[3] + r.sourceY;
    m.d[0] = radius > 1e-6 ? c[1] / (kTwoPi * radius) : 2.0 * r.sourceWidth;
    m.d[1] = m.d[2] = 0, m.d[3] = c[3];
}

void MapPolar(const qvDistortRequest& r, double x, double y, Mapped& m) {
    const double* c = r.coefficients;
    const double dx = x - c[2], dy = y - c[3];
    // Angles run from the positive y axis (downwards) toward positive x.
    const double t = Turns(std::atan2(dx, dy) - (c[4] + c[5]) / 2), radius = std::hypot(dx, dy);
    m.sx = t * kTwoPi * c[6] + r.sourceWidth / 2.0 + r.sourceX;
    m.sy = (radius - c[1]) * c[7] + r.sourceY;
    m.d[0] = radius > 1e-6 ? c[6] / (kTwoPi * radius) : 2.0 * r.sourceWidth;
    m.d[1] = m.d[2] = 0, m.d[3] = c[7];
}

void MapBarrel(const double* c, double x, double y, Mapped& m) {
    const double dx = x - c[8], dy = y - c[9], radius = std::hypot(dx, dy);
    if (radius <= 1e-6) {
        m.sx = c[8], m.sy = c[9];
        m.d[0] = c[3], m.d[1] = m.d[2] = 0, m.d[3] = c[7];
        return;
    }
    const double fx = ((c[0] * radius + c[1]) * radius + c[2]) * radius + c[3];
    const double fy = ((c[4] * radius + c[5]) * radius + c[6]) * radius + c[7];
    const double gx = ((3 * c[0] * radius + 2 * c[1]) * radius + c[2]) / radius;
    const double gy = ((3 * c[4] * radius + 2 * c[5]) * radius + c[6]) / radius;
    m.sx = dx * fx + c[8], m.sy = dy * fy + c[9];
    m.d[0] = gx * dx * dx + fx, m.d[1] = gx * dx * dy;
    m.d[2] = gy * dx * dy, m.d[3] = gy * dy * dy + fy;
}

// False for a point that has no source (beyond a perspective's horizon).
bool Map(const qvDistortRequest& r, double x, double y, Mapped& m) {
    switch (r.method) {
        case QV_DISTORT_PERSPECTIVE:
            return MapPerspective(r.coefficients, x, y, m);
        case QV_DISTORT_ARC:
            MapArc(r, x, y, m);
            return true;
        case QV_DISTORT_POLAR:
            MapPolar(r, x, y, m);
            return true;
        case QV_DISTORT_BARREL:
            MapBarrel(r.coefficients, x, y, m);
            return true;
        default:
            return false;
    }
}

// An output pixel value (a source pixel as stored, or packed channels) and its alpha.
struct Sample {
    uint32_t value = 0;
    uint32_t alpha = 0;
};

// A source pixel as channels and alpha: hidden mask pixels are transparent black.
struct Texel {
    double red, green, blue, alpha;
};

template <typename F>
class Sampler {
public:
    Sampler(const qvDistortRequest& r, const qvDistortPlanes& p)
        : p_(p),
          width_(r.sourceWidth),
          height_(r.sourceHeight),
          area_(double(r.sourceWidth) * r.sourceHeight) {}

    Sample Point(double sx, double sy) const {
        const double x = SnapToWhole(sx - 0.5), y = SnapToWhole(sy - 0.5);
        // Truncation toward zero: the column -1 < x < 0 is column 0.
        if (!(x > -1 && x < width_ && y > -1 && y < height_)) return {};
        const auto ix = int32_t(x), iy = int32_t(y);
        if (ix >= width_ || iy >= height_) return {};  // an empty source
        return {LoadPixel(PixelAt(p_.source, p_.sourceRowLength, F::bytes, ix, iy), F::bytes),
                AlphaAt(ix, iy)};
    }

    Sample Bilinear(double x, double y) const {
        if (!(x > -1 && x < width_ && y > -1 && y < height_)) return {};
        const double fx = std::floor(x), fy = std::floor(y);
        const double wx = x - fx, wy = y - fy;
        const auto ix = int64_t(fx), iy = int64_t(fy);
        Texel sum{};
        const double weights[4] = {(1 - wx) * (1 - wy), wx * (1 - wy), (1 - wx) * wy, wx * wy};
        for (int k = 0; k < 4; ++k) Add(sum, Fetch(ix + (k & 1), iy + (k >> 1)), weights[k]);
        return Average(sum, 1);
    }

    Sample Ewa(double sx, double sy, const double* d) const {
        const double x0 = SnapToWhole(sx - 0.5), y0 = SnapToWhole(sy - 0.5);
        double a = d[2] * d[2] + d[3] * d[3] + 1, b = -2 * (d[0] * d[2] + d[1] * d[3]);
        double c = d[0] * d[0] + d[1] * d[1] + 1;
        const double f = a * c - b * b / 4;
        if (!(SnapToWhole(f) > 4)) return Bilinear(x0, y0);  // the ellipse lies within a pixel
        const double vLimit = std::sqrt(a) + 1, uLimit = std::sqrt(c) + 1;
        const double uWidth = std::sqrt(f / a) + 1, slope = -b / (2 * a);
        if (f > 1e6 || vLimit * 4 * uWidth > 20 * area_) return Bilinear(x0, y0);
        const double scale = kWeights / f;
        a *= scale, b *= scale, c *= scale;
        if (x0 + uLimit < 0 || x0 - uLimit > width_ || y0 + vLimit < 0 || y0 - vLimit > height_) {
            return Point(sx, sy);
        }
        const auto& weight = WeightTable();
        Texel sum{};
        double total = 0;
        int64_t count = 0;
        const auto columns = int64_t(2 * uWidth) + 1;
        for (auto v = int64_t(y0 - vLimit); v <= int64_t(y0 + vLimit + 1); ++v) {
            const double vv = double(v) - y0;
            auto u = int64_t(x0 + vv * slope - uWidth);
            const double uu = double(u) - x0;
            double q = (a * uu + b * vv) * uu + c * vv * vv;
            double dq = a * (2 * uu + 1) + b * vv;
            for (int64_t i = 0; i < columns; ++i, ++u) {
                if (q < kWeights) {
                    const double w = weight[std::max(int32_t(q), 0)];
                    Add(sum, Fetch(u, v), w);
                    total += w, ++count;
                }
                q += dq;
                dq += 2 * a;
            }
        }
        if (count > 3 && total >= 1) return Average(sum, total);
        return Bilinear(x0, y0);
    }

private:
    uint32_t AlphaAt(int64_t x, int64_t y) const {
        if (p_.sourceMask != nullptr) {
            return MaskBit(PlaneRow(p_.sourceMask, p_.sourceMaskBytesPerRow, int32_t(y)),
                           int32_t(x))
                       ? 255
                       : 0;
        }
        if (p_.sourceAlpha != nullptr) {
            return PlaneRow(p_.sourceAlpha, p_.sourceAlphaBytesPerRow, int32_t(y))[x];
        }
        return 255;
    }

    Texel Fetch(int64_t x, int64_t y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
        const uint32_t alpha = AlphaAt(x, y);
        if (p_.sourceMask != nullptr && alpha == 0) return {};
        const uint32_t rgb = F::Unpack(LoadPixel(
            PixelAt(p_.source, p_.sourceRowLength, F::bytes, int32_t(x), int32_t(y)), F::bytes));
        return {double(rgb >> 16 & 255), double(rgb >> 8 & 255), double(rgb & 255), double(alpha)};
    }

    static void Add(Texel& sum, const Texel& t, double w) {
        sum.red += w * t.red, sum.green += w * t.green, sum.blue += w * t.blue;
        sum.alpha += w * t.alpha;
    }

    static uint32_t Channel(double v) { return uint32_t(std::clamp(v + 0.5, 0.0, 255.0)); }

    static Sample Average(const Texel& sum, double total) {
        const uint32_t rgb = Channel(sum.red / total) << 16 | Channel(sum.green / total) << 8 |
                             Channel(sum.blue / total);
        return {F::Pack(rgb), Channel(sum.alpha / total)};
    }

    const qvDistortPlanes& p_;
    int32_t width_, height_;
    double area_;
};

template <typename F>
void Distort(const qvDistortRequest& r, const qvDistortPlanes& p) {
    const Sampler<F> sampler(r, p);
    for (int32_t j = 0; j < r.outHeight; ++j) {
        uint8_t* out = PixelAt(p.dest, p.destRowLength, F::bytes, 0, j);
        uint8_t* maskRow =
            p.destMask != nullptr ? p.destMask + ptrdiff_t(j) * p.destMaskBytesPerRow : nullptr;
        uint8_t* alphaRow =
            p.destAlpha != nullptr ? p.destAlpha + ptrdiff_t(j) * p.destAlphaBytesPerRow : nullptr;
        const double y = j + r.outY + 0.5;
        for (int32_t i = 0; i < r.outWidth; ++i) {
            Mapped m;
            Sample s;
            if (Map(r, i + r.outX + 0.5, y, m)) {
                s = r.smooth != 0 ? sampler.Ewa(m.sx, m.sy, m.d) : sampler.Point(m.sx, m.sy);
            }
            StorePixel(out + ptrdiff_t(i) * F::bytes, F::bytes, s.value);
            // A smoothed pixel shows in a mask when it is at least half opaque.
            if (maskRow != nullptr) SetMaskBit(maskRow, i, s.alpha >= 128);
            if (alphaRow != nullptr) alphaRow[i] = uint8_t(s.alpha);
        }
    }
}

}  // namespace
}  // namespace qv::gfx

void DistortPixels(const qvDistortRequest& request, const qvDistortPlanes& planes) {
    qv::VisitFormat(planes.format, [&](auto f) { qv::gfx::Distort<decltype(f)>(request, planes); });
}

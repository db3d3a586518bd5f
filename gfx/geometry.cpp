#include "gfx/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "gfx/clip.h"
#include "gfx/clip_region.h"
#include "gfx/graphics_state.h"

namespace qv::gfx {
namespace {

// Where a band places the object: centred, at the near or far edge of the target, or just
// outside the near or far edge.
enum class Place { kCentre, kNear, kFar, kNearOut, kFarOut };

struct Band {
    int32_t constant;
    Place place;
};

constexpr Band kBandsX[] = {{CENTER, Place::kCentre},
                            {LEFT, Place::kNear},
                            {RIGHT, Place::kFar},
                            {LEFTOUT, Place::kNearOut},
                            {RIGHTOUT, Place::kFarOut}};
constexpr Band kBandsY[] = {{CENTER, Place::kCentre},
                            {TOP, Place::kNear},
                            {BOTTOM, Place::kFar},
                            {TOPOUT, Place::kNearOut},
                            {BOTTOMOUT, Place::kFarOut}};

struct TargetAxis {
    int64_t size;
    int64_t offset;  // the active clip region's position
};

TargetAxis OutputAxis(bool horizontal) {
    const OutputPicture picture = Graphics().Host().CurrentOutputPicture();
    if (const qvClipRegion* region = picture.clipRegion) {
        return horizontal ? TargetAxis{region->width, region->x}
                          : TargetAxis{region->height, region->y};
    }
    return {horizontal ? picture.width : picture.height, 0};
}

int32_t ResolvePos(int32_t c, int32_t objectSize, int32_t targetSize, double anchor,
                   const Band (&bands)[5], bool horizontal) {
    const Band* band = std::find_if(std::begin(bands), std::end(bands), [c](const Band& b) {
        return c >= b.constant - kPositionBand && c <= b.constant + kPositionBand;
    });
    if (band == std::end(bands)) return c;
    const TargetAxis target = targetSize != 0 ? TargetAxis{targetSize, 0} : OutputAxis(horizontal);
    const int64_t size = objectSize;
    int64_t pos = int64_t(c) - band->constant + target.offset + TruncSaturate(size * anchor);
    switch (band->place) {
        case Place::kCentre:
            pos += (target.size - size) / 2;
            break;
        case Place::kNear:
            break;
        case Place::kFar:
            pos += target.size - size;
            break;
        case Place::kNearOut:
            pos -= size;
            break;
        case Place::kFarOut:
            pos += target.size;
            break;
    }
    return Saturate32(pos);
}

// The sines of 0.001-radian steps that the ripple reads.
const std::array<float, 6300>& RippleSines() {
    static const auto table = [] {
        std::array<float, 6300> sines{};
        for (size_t i = 0; i < sines.size(); ++i) sines[i] = float(std::sin(double(i) * 0.001));
        return sines;
    }();
    return table;
}

}  // namespace

const std::array<int32_t, 720>& TrigTable() {
    static const auto table = [] {
        std::array<int32_t, 720> values{};
        for (int d = 0; d < 360; ++d) {
            const double radians = d * std::numbers::pi / 180;
            values[size_t(d)] = int32_t(TruncExact(std::cos(radians) * 1024));
            values[size_t(360 + d)] = int32_t(TruncExact(std::sin(radians) * 1024));
        }
        return values;
    }();
    return table;
}

double TruncExact(double value) {
    const double nearest = std::nearbyint(value);
    return std::fabs(value - nearest) < 1e-9 ? nearest : std::trunc(value);
}

int32_t TruncSaturate(double value) {
    if (std::isnan(value)) return 0;
    if (value >= double(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value <= double(std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    return int32_t(value);
}

}  // namespace qv::gfx

int32_t ResolvePosX(int32_t x, int32_t objectWidth, int32_t targetWidth, double anchor) {
    return qv::gfx::ResolvePos(x, objectWidth, targetWidth, anchor, qv::gfx::kBandsX, true);
}

int32_t ResolvePosY(int32_t y, int32_t objectHeight, int32_t targetHeight, double anchor) {
    return qv::gfx::ResolvePos(y, objectHeight, targetHeight, anchor, qv::gfx::kBandsY, false);
}

void GetTransformedBounds(int32_t x, int32_t y, int32_t width, int32_t height,
                          const double matrix[4], int32_t* outX, int32_t* outY, int32_t* outWidth,
                          int32_t* outHeight, double anchorX, double anchorY) {
    const double pivotX = anchorX * width, pivotY = anchorY * height;
    const double corners[4][2] = {
        {0, 0}, {width - 1.0, 0}, {width - 1.0, height - 1.0}, {0, height - 1.0}};
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (int k = 0; k < 4; ++k) {
        const double px = corners[k][0] - pivotX, py = corners[k][1] - pivotY;
        double mx = matrix[0] * px + matrix[2] * py + pivotX;
        double my = matrix[1] * px + matrix[3] * py + pivotY;
        if (k == 0) {
            minX = maxX = std::clamp(mx, -100000.0, 100000.0);
            minY = maxY = std::clamp(my, -100000.0, 100000.0);
            continue;
        }
        minX = std::min(minX, mx), maxX = std::max(maxX, mx);
        minY = std::min(minY, my), maxY = std::max(maxY, my);
    }
    using qv::gfx::TruncSaturate;
    if (outX != nullptr) *outX = qv::Saturate32(int64_t(x) + TruncSaturate(minX));
    if (outY != nullptr) *outY = qv::Saturate32(int64_t(y) + TruncSaturate(minY));
    if (outWidth != nullptr) *outWidth = TruncSaturate(maxX - minX + 1);
    if (outHeight != nullptr) *outHeight = TruncSaturate(maxY - minY + 1);
}

int32_t ClipPolygonEdge(std::span<const qvVertex> vertices, std::span<qvVertex> out,
                        int32_t boundary, int mode) {
    if (mode < QV_CLIP_KEEP_RIGHT || mode > QV_CLIP_KEEP_ABOVE) return 0;
    const bool vertical = mode == QV_CLIP_KEEP_RIGHT || mode == QV_CLIP_KEEP_LEFT;
    auto inside = [&](const qvVertex& v) {
        const int32_t c = vertical ? v.x : v.y;
        return mode < QV_CLIP_KEEP_LEFT ? c >= boundary : c <= boundary;
    };
    // The crossing of the edge with the boundary; an edge along the clipped axis has none,
    // so only the other kind can be vertical (dx = 0) and then keeps its x.
    auto crossing = [&](const qvVertex& a, const qvVertex& b) {
        const int64_t dx = int64_t(b.x) - a.x, dy = int64_t(b.y) - a.y;
        if (vertical) {
            return qvVertex{boundary, qv::Saturate32(a.y + (int64_t(boundary) - a.x) * dy / dx)};
        }
        if (dx == 0) return qvVertex{a.x, boundary};
        const double slope = double(dy) / double(dx);
        return qvVertex{
            qv::Saturate32(a.x + int64_t(qv::gfx::TruncSaturate((double(boundary) - a.y) / slope))),
            boundary};
    };
    size_t count = 0;
    auto emit = [&](const qvVertex& v) {
        if (count < out.size()) out[count++] = v;
    };
    for (size_t i = 0; i < vertices.size(); ++i) {
        const qvVertex& v = vertices[i];
        const qvVertex& next = vertices[(i + 1) % vertices.size()];
        if (inside(v)) emit(v);
        if (inside(v) != inside(next)) emit(crossing(v, next));
    }
    return int32_t(count);
}

int32_t MakeArcVertices(std::span<qvVertex> out, int32_t radiusX, int32_t radiusY,
                        int32_t startAngle, int32_t endAngle) {
    if (endAngle < startAngle) return 0;
    const bool fullCircle = startAngle == 0 && endAngle == 360;
    const int64_t steps = int64_t(endAngle) - startAngle + 1;
    const int64_t count = steps + (fullCircle ? 0 : 2);
    if (count > int64_t(out.size())) return 0;
    const auto& trig = qv::gfx::TrigTable();
    const int64_t spanX = 2 * int64_t(radiusX) + 1, spanY = 2 * int64_t(radiusY) + 1;
    for (int64_t i = 0; i < steps; ++i) {
        const int64_t degree = ((startAngle + i) % 360 + 360) % 360;
        out[size_t(i)] = {qv::Saturate32(radiusX + spanX * trig[size_t(degree)] / 2048),
                          qv::Saturate32(radiusY + spanY * trig[size_t(360 + degree)] / 2048)};
    }
    if (!fullCircle) {
        out[size_t(steps)] = {radiusX, radiusY};
        out[size_t(steps + 1)] = out[0];
    }
    return int32_t(count);
}

uint32_t BlendRGB(uint32_t colour1, uint32_t colour2, int32_t factor) {
    uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int32_t c1 = int32_t((colour1 >> shift) & 255),
                      c2 = int32_t((colour2 >> shift) & 255);
        const int32_t c = c1 + (((c2 - c1) * factor) >> 8);
        result |= (uint32_t(c) & 255) << shift;
    }
    return result;
}

qvVertex RippleSourcePoint(int32_t x, int32_t y, const float* distances,
                           const qvRippleBlock& ripple) {
    if (ripple.width < 1 || ripple.height < 1) return {0, 0};
    auto clamped = [&](double sx, double sy) {
        return qvVertex{std::clamp(qv::gfx::TruncSaturate(sx), 0, ripple.width - 1),
                        std::clamp(qv::gfx::TruncSaturate(sy), 0, ripple.height - 1)};
    };
    if (x < 0 || y < 0 || x >= ripple.width || y >= ripple.height) return clamped(x, y);
    const double distance = distances[ptrdiff_t(y) * ripple.width + x];
    if (!(distance < ripple.radius) || !(ripple.wavelength > 0)) return clamped(x, y);
    constexpr double kTwoPi = 2 * std::numbers::pi;
    double phase = std::fmod(distance / ripple.wavelength * kTwoPi - ripple.phase, kTwoPi);
    if (phase < 0) phase += kTwoPi;
    const auto& sines = qv::gfx::RippleSines();
    const int32_t index =
        std::clamp(qv::gfx::TruncSaturate(phase / 0.001), 0, int32_t(sines.size()) - 1);
    double amplitude =
        (ripple.radius - distance) / ripple.radius * ripple.amplitude * sines[size_t(index)];
    if (ripple.damping) amplitude *= ripple.dampingRatio;
    const double dx = double(x) - ripple.centreX, dy = double(y) - ripple.centreY;
    const double length = std::hypot(dx, dy);
    if (length == 0) return clamped(x, y);
    return clamped(x + dx / length * amplitude, y + dy / length * amplitude);
}

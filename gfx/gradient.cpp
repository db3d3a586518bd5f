#include "gfx/gradient.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "gfx/geometry.h"
#include "gfx/kernels/rows.h"
#include "gfx/pixel_format.h"
#include "gfx/scale.h"
#include "platform/linux/blocks.h"
#include "platform/linux/debug_output.h"

namespace qv::gfx {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int32_t kOne = 65536;  // 1.0 in 16.16

uint8_t* RowAt(const qvGradientRequest& r, int32_t j) {
    return PixelAt(r.base, r.rowLength, r.bytesPerPixel, r.x, r.y + j);
}

// The two-colour linear gradient on integers: per row and column a value V that grows by
// fixed steps, one division per pixel giving t in 0..H, and a table of the H + 1 colours
// c1 + t (c2 - c1) / H.
template <typename F>
void LinearTwoColour(const qvGradientRequest& r, const qvGradient& g) {
    const int64_t w = r.width, h = r.height;
    const double radians = g.angle * kPi / 180;
    const auto kc = int64_t(std::trunc(std::cos(radians) * -255));
    const auto ks = int64_t(std::trunc(std::sin(radians) * 255));
    const int32_t a = (g.angle % 360 + 360) % 360;
    int64_t p = 0, q = h;
    if (!(a <= 90 || (a >= 181 && a <= 270))) p = h, q = -h;
    int64_t s = 1, rows = 0;
    if (a >= 91 && a <= 270) p = h - p, s = -1, rows = h;
    // 64 bits: Ks W H alone reaches 2^37 at 32768 x 32768.
    const int64_t d = ks * w, e = q * kc, divisor = d - e;
    if (divisor == 0) return;
    BlockPtr<uint32_t> table(static_cast<uint32_t*>(AllocMemBlock(size_t(h + 1) * 4, 0)));
    if (!table) return;
    for (int64_t t = 0; t <= h; ++t) {
        uint32_t rgb = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int64_t c1 = (g.startColour >> shift) & 255, c2 = (g.endColour >> shift) & 255;
            rgb |= uint32_t(c1 + t * (c2 - c1) / h) << shift;
        }
        table.get()[t] = F::Pack(rgb);
    }
    // |value| < 2^40 and |divisor| < 2^25: the double quotient truncates to exactly the
    // integer one, and divides several times faster.
    auto colourAt = [&](int64_t value) {
        const auto t = int64_t(double(value) / double(divisor));
        return table.get()[std::clamp<int64_t>(t, 0, h)];
    };
    const int64_t stepX = q * ks * s, stepY = -s * e;
    int64_t v = d * p - rows * e;
    for (int32_t j = 0; j < r.height; ++j, v += stepY) {
        uint8_t* row = RowAt(r, j);
        if (stepX == 0) {
            // A vertical gradient has one colour per row.
            const uint32_t pixel = colourAt(v);
            for (int32_t i = 0; i < r.width; ++i) StorePixel(row + i * F::bytes, F::bytes, pixel);
            continue;
        }
        int64_t value = v;
        for (int32_t i = 0; i < r.width; ++i, value += stepX) {
            StorePixel(row + i * F::bytes, F::bytes, colourAt(value));
        }
    }
}

struct Stop {
    int32_t position;  // 16.16
    uint32_t rgb;
};

// The colour at t between the stops, keeping the current pair until t leaves it.
class StopWalker {
public:
    StopWalker(const Stop* stops, int32_t count, bool reflect)
        : stops_(stops), count_(count), reflect_(reflect) {}

    uint32_t At(int64_t t) {
        if (reflect_) {
            // Every second unit interval runs backwards.
            t = ((t % (2 * kOne)) + 2 * kOne) % (2 * kOne);
            if (t > kOne) t = 2 * kOne - t;
        }
        if (t < stops_[0].position) return stops_[0].rgb;
        if (t >= stops_[count_ - 1].position) return stops_[count_ - 1].rgb;
        if (left_ < 0 || t < stops_[left_].position || t >= stops_[left_ + 1].position) Find(t);
        const Stop& l = stops_[left_];
        const Stop& r = stops_[left_ + 1];
        const int64_t w = std::clamp<int64_t>(((t - l.position) * k_) >> 16, 0, 256);
        uint32_t rgb = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int64_t a = (l.rgb >> shift) & 255, b = (r.rgb >> shift) & 255;
            rgb |= uint32_t(((256 - w) * a + w * b) >> 8) << shift;
        }
        return rgb;
    }

private:
    // The pair around t: the right stop is the first whose position exceeds t.
    void Find(int64_t t) {
        int32_t right = 1;
        while (right < count_ - 1 && stops_[right].position <= t) ++right;
        left_ = right - 1;
        const int64_t span = int64_t(stops_[right].position) - stops_[left_].position;
        k_ = span > 0 && stops_[left_].rgb != stops_[right].rgb ? (0x1000000 + span / 2) / span : 0;
    }

    const Stop* stops_;
    int32_t count_;
    bool reflect_;
    int32_t left_ = -1;
    int64_t k_ = 0;
};

int32_t Fixed(double position) {
    return TruncSaturate(position * kOne);
}

// The record's stops (at most 64), or the two colours as stops: start to end, and for a
// conical gradient end, start at the balance, end.
int32_t MakeStops(const qvGradient& g, Stop* stops) {
    const int32_t count = std::clamp(g.stopCount, 0, kMaxGradientStops);
    for (int32_t i = 0; i < count; ++i) {
        stops[i] = {Fixed(g.stops[i].position), g.stops[i].colour & 0xFFFFFF};
    }
    if (count > 0) return count;
    const uint32_t start = g.startColour & 0xFFFFFF, end = g.endColour & 0xFFFFFF;
    if (g.style == CONICAL) {
        stops[0] = {0, end}, stops[1] = {Fixed(g.balance), start}, stops[2] = {kOne, end};
        return 3;
    }
    stops[0] = {0, start}, stops[1] = {kOne, end};
    return 2;
}

// t in 16.16, far values held where they cannot overflow.
int64_t FixedT(double t) {
    return TruncSaturate(std::clamp(t, -1e9, 1e9));
}

// Per pixel centre (x, y) of the rectangle: the gradient parameter t in 16.16.
class Parameter {
public:
    Parameter(const qvGradient& g, int32_t width, int32_t height) : style_(g.style) {
        if (style_ == RADIAL || style_ == CONICAL) {
            cx_ = width * g.centreX, cy_ = height * g.centreY;
            const double share = g.border == 1 ? 0.01 : 1 - g.border;
            const double reach =
                0.5 + std::max(std::fabs(0.5 - g.centreX), std::fabs(0.5 - g.centreY));
            scale_ =
                kOne / (std::sqrt(double(width) * width + double(height) * height) * reach * share);
            turn_ = g.angle * kPi / 180;
            return;
        }
        // The vertical line (0, 0)-(0, H - 1) turned about the centre by 360 - (angle rem
        // 360) degrees, its ends on whole pixels.
        const double cx = width / 2, cy = height / 2;
        const double radians = (360 - g.angle % 360) * kPi / 180;
        const double c = std::cos(radians), s = std::sin(radians);
        auto turn = [&](double x, double y, double& outX, double& outY) {
            outX = TruncExact(cx + (x - cx) * c - (y - cy) * s);
            outY = TruncExact(cy + (x - cx) * s + (y - cy) * c);
        };
        double x2, y2;
        turn(0, 0, x1_, y1_);
        turn(0, height - 1, x2, y2);
        const double dx = x2 - x1_, dy = y2 - y1_, length = dx * dx + dy * dy;
        if (length > 0) ax_ = dx / length * kOne, ay_ = dy / length * kOne;
    }

    int64_t At(double x, double y) const {
        switch (style_) {
            case RADIAL:
                return FixedT(std::sqrt((x - cx_) * (x - cx_) + (y - cy_) * (y - cy_)) * scale_);
            case CONICAL: {
                double u = std::fmod(turn_ + std::atan2(y - cy_, x - cx_) + 2 * kPi, 2 * kPi);
                if (u < 0) u += 2 * kPi;
                return FixedT((1 - u / (2 * kPi)) * kOne);
            }
            default:
                return FixedT((x - x1_) * ax_ + (y - y1_) * ay_);
        }
    }

private:
    int32_t style_;
    double cx_ = 0, cy_ = 0, scale_ = 0, turn_ = 0;
    double x1_ = 0, y1_ = 0, ax_ = 0, ay_ = 0;
};

template <typename F>
void General(const qvGradientRequest& r, const qvGradient& g) {
    Stop stops[kMaxGradientStops];
    StopWalker colours(stops, MakeStops(g, stops), g.style == CONICAL);
    const Parameter parameter(g, r.width, r.height);
    for (int32_t j = 0; j < r.height; ++j) {
        uint8_t* row = RowAt(r, j);
        for (int32_t i = 0; i < r.width; ++i) {
            const uint32_t rgb = colours.At(parameter.At(i + 0.5, j + 0.5));
            StorePixel(row + i * F::bytes, F::bytes, F::Pack(rgb));
        }
    }
}

}  // namespace
}  // namespace qv::gfx

void DrawGradient(qvDisplayBitMap* dest, int32_t x, int32_t y, int32_t width, int32_t height,
                  const qvGradient* gradient) {
    if (dest == nullptr) {
        qv::WriteDebugPlain("ERROR! DRAWGRADIENT() CALLED WITH DST=NULL!\n");
        return;
    }
    if (gradient == nullptr || width < 1 || height < 1 ||
        !qv::gfx::RectInPicture(dest, nullptr, nullptr, x, y, width, height)) {
        return;
    }
    qv::ScopedBitMapLock lock(dest);
    if (!lock) return;
    RenderGradient({lock->base, lock->bytesPerPixel, lock->format, x, y, width, height,
                    lock->rowLength, gradient});
}

void RenderGradient(const qvGradientRequest& request) {
    if (request.base == nullptr || request.gradient == nullptr || request.width < 1 ||
        request.height < 1 || qv::BytesPerPixel(request.format) != request.bytesPerPixel) {
        return;
    }
    const qvGradient& g = *request.gradient;
    qv::VisitFormat(request.format, [&](auto f) {
        if (g.style == qv::gfx::LINEAR && g.stopCount <= 0) {
            qv::gfx::LinearTwoColour<decltype(f)>(request, g);
        } else {
            qv::gfx::General<decltype(f)>(request, g);
        }
    });
}

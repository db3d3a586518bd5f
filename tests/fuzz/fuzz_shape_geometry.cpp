// Shapes and lines drawn from the fuzzer's bytes: any type, box, corner levels, angles, up to
// 999 polygon points, border, shadow, anti-aliasing and matrix go through the outline, the
// geometry and the coverage compositor, and line ends and thicknesses through the image
// road. Every call must stay inside its buffers (AddressSanitizer watches the exact-size
// planes), end, and return a code of its own.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "engine/error_codes.h"
#include "objects/draw/coverage.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/lines.h"
#include "objects/draw/shape_geometry.h"
#include "tests/fuzz/gfx_fuzz_input.h"

namespace {

using Input = qv::fuzz::GfxInput;
using namespace qv::draw;

// Images beyond this many pixels are prepared but not painted, to keep runs short.
constexpr int64_t kMaxPaintedPixels = 1 << 20;

bool Known(int code) {
    return code == 0 || code == ERR_MEM || code == ERR_WRONGUSAGE;
}

// Small sizes mostly, now and then one at or beyond the largest bitmap.
int32_t Size(Input& in) {
    static constexpr int32_t kOdd[] = {0,     -1,    1,     2,
                                       32767, 32768, 40000, std::numeric_limits<int32_t>::max()};
    if (in.Pick(8) == 0) return kOdd[in.Pick(8)];
    return in.Between(1, 400);
}

int32_t Angle(Input& in) {
    static constexpr int32_t kOdd[] = {std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max(), -360, 360, 720};
    if (in.Pick(6) == 0) return kOdd[in.Pick(5)];
    return in.Between(-400, 800);
}

void Shape(Input& in, const qvShapeWork& work) {
    static constexpr int32_t kTypes[] = {BOX, CIRCLE, ELLIPSE, POLYGON, ARC, LINE};
    qvDrawState state{};
    ResetDrawState(&state);
    state.fillStyle = in.Between(-1, 4);
    state.formStyle = in.Pick(128);
    state.borderSize = in.Between(-2, 70), state.borderColour = in.Pick(1u << 31) << 1;
    state.shadowSize = in.Between(-2, 70), state.shadowDirection = in.Pick(10);
    state.shadowColour = in.Pick(1u << 31) << 1;
    qvShapeDesc desc{};
    desc.drawState = &state;
    desc.type = kTypes[in.Pick(6)];
    desc.width = Size(in), desc.height = Size(in);
    for (int32_t& level : desc.cornerLevels) level = in.Between(-5, 120);
    desc.startAngle = Angle(in), desc.endAngle = Angle(in), desc.clockwise = int32_t(in.Pick(2));
    std::vector<qvOutlinePoint> points(in.Pick(1000));
    for (qvOutlinePoint& p : points) p = {in.Real(200) + 200, in.Real(200) + 200};
    desc.points = points.data(), desc.pointCount = int32_t(points.size());
    desc.colour = in.Pick(1u << 31) << 1 | in.Pick(2);
    ShapeTransform transform;
    if (in.Pick(2) == 0) {
        for (double& m : transform.matrix) m = in.Real(2);
    }
    transform.anchorX = in.Real(1), transform.anchorY = in.Real(1);
    int code = PrepareShapeGeometry(work, &desc, transform);
    if (!Known(code)) std::abort();
    if (code != 0 || int64_t(desc.imageWidth + 5) * (desc.imageHeight + 5) > kMaxPaintedPixels) {
        return;
    }
    const bool alpha = desc.antialias != 0 || in.Pick(2) == 0;
    qv::OwnedBitMap bitmap(AllocDisplayBitMap(desc.imageWidth + 5, desc.imageHeight + 5));
    qv::OwnedPlane mask(
        alpha ? nullptr
              : AllocMaskBitMap(bitmap.get(), desc.imageWidth + 5, desc.imageHeight + 5, 1));
    qv::OwnedPlane plane(alpha ? AllocAlphaBitMap(desc.imageWidth + 5, desc.imageHeight + 5, 1)
                               : nullptr);
    const qvShapeTarget target{bitmap.get(),         mask.get(), plane.get(), desc.imageWidth + 5,
                               desc.imageHeight + 5, nullptr,    0,           0};
    if (desc.fillStyle == FILLNONE) {
        const qvShapeOutline outline{desc.fillPoints, desc.fillCount,    desc.fillX + 2,
                                     desc.fillY + 2,  desc.fillWidth,    desc.fillHeight,
                                     false,           in.Between(-3, 70)};
        code = RenderShapeImage(target, outline,
                                {desc.colour, int32_t(desc.colour >> 24), desc.antialias != 0});
    } else {
        code = CompositeShapeCoverage(target, desc, 2, 2);
    }
    if (!Known(code)) std::abort();
}

int32_t End(Input& in) {
    static constexpr int32_t kOdd[] = {std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max(), -2000000000, 2000000000,
                                       32767};
    if (in.Pick(5) == 0) return kOdd[in.Pick(5)];
    return in.Between(-50, 300);
}

void Line(Input& in) {
    const int32_t x1 = End(in), y1 = End(in), x2 = End(in), y2 = End(in);
    const int64_t boxWidth = std::abs(int64_t(x2) - x1) + 1,
                  boxHeight = std::abs(int64_t(y2) - y1) + 1;
    // Long lines are only tried where they fail before painting (beyond the largest bitmap).
    if (boxWidth <= qv::kMaxBitMapSide && boxHeight <= qv::kMaxBitMapSide &&
        (boxWidth + 80) * (boxHeight + 80) > kMaxPaintedPixels) {
        return;
    }
    ShapeImage image;
    const int code = MakeLineImage(x1, y1, x2, y2, in.Between(-2, 100), in.Pick(1u << 31) << 1,
                                   in.Pick(2) == 0, &image);
    if (!Known(code)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qvShapeWork work;
    if (work.outline == nullptr && AllocShapeWork(&work) != 0) return 0;
    Input in(data, size);
    if (in.Pick(4) == 0) {
        Line(in);
    } else {
        Shape(in, work);
    }
    return 0;
}

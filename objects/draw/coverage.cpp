#include "objects/draw/coverage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/line_walk.h"
#include "gfx/plot.h"
#include "objects/draw/coverage_paint.h"
#include "objects/draw/lines.h"

namespace qv::draw {
namespace {

// Outline coordinates handed to OpenCV stay far inside its fixed-point range, and outline
// widths within its largest thickness.
constexpr int64_t kCoordinateLimit = int64_t(1) << 30;
constexpr int32_t kMaxStroke = 32767;

int32_t StrokeWidth(const qvShapeOutline& outline) {
    return std::clamp(outline.lineWidth, 1, kMaxStroke);
}

// Runs OpenCV drawing, turning its exceptions into error codes.
template <typename Draw>
int RunOpenCv(Draw&& draw) {
    try {
        draw();
        return 0;
    } catch (const cv::Exception& e) {
        return CoverageError(e.code);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
}

// An 8-bit coverage image lying at (x, y) of the target: over a cleared plane of ours, or,
// when a paint is given that allows it, straight over the target's fresh alpha plane, which
// saves clearing a plane and copying it.
class CoverageImage {
public:
    int Create(const Rect& rect, const qvShapeTarget& t, const qvShapePaint* direct = nullptr) {
        rect_ = rect;
        if (direct != nullptr && CoverageGoesIntoAlpha(t, rect, *direct)) {
            ownAlpha_ = t.alpha;
            return 0;
        }
        plane_.reset(AllocAlphaBitMap(int32_t(rect.width), int32_t(rect.height), 1));
        return plane_ != nullptr ? 0 : ERR_MEM;
    }
    cv::Mat Mat() const {
        if (ownAlpha_ != nullptr) {
            return cv::Mat(int(rect_.height), int(rect_.width), CV_8UC1,
                           ownAlpha_->plane + ptrdiff_t(rect_.y) * ownAlpha_->bytesPerRow + rect_.x,
                           size_t(ownAlpha_->bytesPerRow));
        }
        return cv::Mat(int(rect_.height), int(rect_.width), CV_8UC1, plane_->plane,
                       size_t(plane_->bytesPerRow));
    }
    // Paints it into the target, moved by (dx, dy); nothing when it was never made. Coverage
    // drawn into the target's alpha plane is painted where it lies.
    int Paint(const qvShapeTarget& t, const qvShapePaint& paint, int64_t dx = 0,
              int64_t dy = 0) const {
        if (ownAlpha_ != nullptr) return PaintOverOwnAlpha(t, rect_, paint, reach_);
        if (plane_ == nullptr) return 0;
        return PaintCoverage(t, *plane_, {rect_.x + dx, rect_.y + dy, rect_.width, rect_.height},
                             paint);
    }

    // Coverage lies within the reach alone (in the image's coordinates).
    void Bound(const RowReach& reach) { reach_ = reach; }

    // The plane made by Create and where it lies; none when nothing was made.
    OwnedPlane TakePlane(Rect* rect) {
        *rect = rect_;
        return std::move(plane_);
    }

private:
    OwnedPlane plane_;
    const qvPlaneBitMap* ownAlpha_ = nullptr;
    Rect rect_{};
    RowReach reach_{};
};

// How far coverage reaches beyond an outline's box.
int32_t CoverageMargin(const qvShapeOutline& outline, bool antialias) {
    const int32_t stroke =
        outline.filled || outline.lineWidth <= 1 ? 0 : (StrokeWidth(outline) + 1) / 2 + 1;
    return (antialias ? 2 : 0) + stroke;
}

int LineType(bool antialias) {
    return antialias ? cv::LINE_AA : cv::LINE_8;
}

cv::Point Shifted(const qvVertex& p, int64_t dx, int64_t dy) {
    return {int(std::clamp(p.x + dx, -kCoordinateLimit, kCoordinateLimit)),
            int(std::clamp(p.y + dy, -kCoordinateLimit, kCoordinateLimit))};
}

// A stretch of a filled polygon's raster along one axis whose lines (columns or rows) are all
// alike: [first, first + count] of the full raster, of which the shrunk raster keeps first.
struct AlikeStretch {
    int first = 0, count = 0;  // none when count is 0
    // Where line i of the full raster lies in the shrunk one.
    int Source(int i) const { return i <= first ? i : std::max(first, i - count); }
};

// Polygon lines shorter than this are rastered whole.
constexpr int kMinStretch = 16;
// How far the rim of a polygon's edge, and of a level edge's ends, reaches into the lines
// beside it, with room to spare.
constexpr int kEdgeReach = 8;

// Along the axis (x: columns), the widest gap between the polygon's points that only level
// edges (both ends at the same other coordinate) cross. Every line of the gap, but the reach
// of the edges at either side, meets the same level edges and the same fill: it is alike.
AlikeStretch FindAlikeStretch(const cv::Point* points, int count, int cv::Point::*axis,
                              int cv::Point::*other, int extent) {
    // Edges crossing a stretch are at least as long as it and its reach at both sides: most
    // polygons (any round shape) have no level edge so long, and are passed at once.
    bool longLevelEdge = false;
    for (int i = 0, j = count - 1; i < count && !longLevelEdge; j = i++) {
        longLevelEdge =
            points[i].*other == points[j].*other &&
            std::abs(int64_t(points[i].*axis) - points[j].*axis) >= kMinStretch + 2 * kEdgeReach;
    }
    if (!longLevelEdge) return {};
    // The lines holding a point, those beyond the image gathered on the line beside it.
    std::vector<uint8_t> held(size_t(extent) + 2);
    for (int i = 0; i < count; ++i) held[size_t(std::clamp(points[i].*axis, -1, extent) + 1)] = 1;
    int low = 0, high = 0;
    for (int line = 0, previous = -1; line <= extent + 1; ++line) {
        if (held[size_t(line)] == 0) continue;
        if (previous >= 0 && line - previous > high - low) low = previous - 1, high = line - 1;
        previous = line;
    }
    // The image's sides cut edges short, which gives them ends there: kept as far off.
    const int first = std::max(low, 0) + kEdgeReach;
    const int last = std::min(high, extent - 1) - kEdgeReach;
    if (int64_t(last) - first < kMinStretch) return {};
    for (int i = 0, j = count - 1; i < count; j = i++) {
        const bool crosses = (points[i].*axis <= low) != (points[j].*axis <= low);
        if (crosses && points[i].*other != points[j].*other) return {};
    }
    return {first, last - first};
}

// Moves the points beyond the stretch by its length towards it.
void CloseStretch(cv::Point* points, int count, const AlikeStretch& stretch, int cv::Point::*axis) {
    for (int i = 0; i < count; ++i) {
        if (points[i].*axis > stretch.first) points[i].*axis -= stretch.count;
    }
}

// Spreads the raster filled in the image's top left corner (cols x rows) over the image: each
// row from its source row, the alike columns repeated. Rows are spread bottom-up, and within a
// row the columns right of the stretch move first, so that each is read before it is written.
void SpreadRaster(cv::Mat& image, int cols, const AlikeStretch& columns, const AlikeStretch& rows) {
    const int left = columns.count != 0 ? columns.first + 1 : cols;
    for (int y = image.rows - 1; y >= 0; --y) {
        const uint8_t* from = image.ptr<uint8_t>(rows.Source(y));
        uint8_t* to = image.ptr<uint8_t>(y);
        if (columns.count != 0) {
            std::memmove(to + left + columns.count, from + left, size_t(cols - left));
            std::memset(to + left, from[columns.first], size_t(columns.count));
        }
        if (to != from) std::memcpy(to, from, size_t(left));
    }
}

// cv::fillPoly over the zeroed image and the points (which it may move). A box's long sides
// (or any polygon's level ones) would cost the filler a pixel walk for each of their pixels,
// each alike in its line: the polygon is filled with its alike stretches closed up, and
// spread back.
void FillPolygon(cv::Mat& image, cv::Point* points, int count, int lineType) {
    const AlikeStretch columns =
        FindAlikeStretch(points, count, &cv::Point::x, &cv::Point::y, image.cols);
    const AlikeStretch rows =
        FindAlikeStretch(points, count, &cv::Point::y, &cv::Point::x, image.rows);
    CloseStretch(points, count, columns, &cv::Point::x);
    CloseStretch(points, count, rows, &cv::Point::y);
    const cv::Point* polygon = points;
    cv::Mat shrunk = image(cv::Rect(0, 0, image.cols - columns.count, image.rows - rows.count));
    cv::fillPoly(shrunk, &polygon, &count, 1, cv::Scalar(255), lineType, 0);
    if (columns.count != 0 || rows.count != 0) SpreadRaster(image, shrunk.cols, columns, rows);
}

// The coverage of an outline, cut to the target's paint area.
int MakeOutlineCoverage(const qvShapeTarget& t, const qvShapeOutline& outline, bool antialias,
                        CoverageImage* out, const qvShapePaint* direct = nullptr) {
    if (outline.count < 1 || outline.points == nullptr) return 0;
    if (outline.count > kOutlineCapacity) return ERR_WRONGUSAGE;
    const int64_t m = CoverageMargin(outline, antialias);
    const Rect reach{int64_t(outline.x) - m, int64_t(outline.y) - m,
                     int64_t(outline.width) + 2 * m + 1, int64_t(outline.height) + 2 * m + 1};
    const Rect rect = Intersect(reach, PaintArea(t));
    if (rect.Empty()) return 0;
    if (const int code = out->Create(rect, t, direct)) return code;
    cv::Point points[kOutlineCapacity];
    for (int32_t i = 0; i < outline.count; ++i) {
        points[i] = Shifted(outline.points[i], outline.x - rect.x, outline.y - rect.y);
    }
    const cv::Point* polygon = points;
    const int count = outline.count;
    return RunOpenCv([&] {
        cv::Mat image = out->Mat();
        if (outline.filled) {
            FillPolygon(image, points, count, LineType(antialias));
        } else {
            cv::polylines(image, &polygon, &count, 1, true, cv::Scalar(255), StrokeWidth(outline),
                          LineType(antialias), 0);
        }
    });
}

// A one-pixel line: the plotters draw the colour where the pixels need no per-pixel
// strength; the walkers give every pixel to the planes.
void PaintThinLine(const qvShapeTarget& t, const qvLineSegment& line, const qvShapePaint& paint) {
    const Rect area = PaintArea(t);
    PlanePainter painter(t, paint);
    const bool plotted = t.bitmap != nullptr && !PlaneUsable(t.alpha);
    ScopedBitMapLock lock(t.bitmap);
    if (t.bitmap != nullptr && !lock) return;
    qvPlotContext context =
        t.bitmap != nullptr ? PlotContext(*lock, area, paint.colour) : qvPlotContext{};
    auto visit = [&](int64_t x, int64_t y, int32_t c) {
        const uint8_t strength = painter.Paint(int32_t(x), int32_t(y), uint32_t(c));
        if (t.bitmap == nullptr || plotted) return;
        context.alpha = strength;
        PlotClippedPixel(context, int32_t(x), int32_t(y));
    };
    if (plotted) {
        const int32_t opacity = 255 - std::clamp(paint.transparency, 0, 255);
        if (paint.antialias) {
            context.globalAlpha = opacity;
            PlotAALine(context, line.x1, line.y1, line.x2, line.y2);
        } else {
            context.alpha = opacity;
            PlotThickLine(context, line.x1, line.y1, line.x2, line.y2);
        }
        if (!painter.HasPlanes()) return;
    }
    if (paint.antialias) {
        WalkAALine(line.x1, line.y1, line.x2, line.y2, area.width, area.height, visit);
    } else {
        WalkLine(line.x1, line.y1, line.x2, line.y2, area.width, area.height,
                 [&](int64_t x, int64_t y) { visit(x, y, 255); });
    }
}

// A thick line through OpenCV into a coverage image around the visible part of the line.
int MakeThickLineCoverage(const qvShapeTarget& t, const qvLineSegment& line, int32_t thickness,
                          const qvShapePaint& paint, CoverageImage* out) {
    const int64_t m = thickness + 3;
    const Rect box{std::min<int64_t>(line.x1, line.x2) - m, std::min<int64_t>(line.y1, line.y2) - m,
                   std::abs(int64_t(line.x2) - line.x1) + 2 * m + 1,
                   std::abs(int64_t(line.y2) - line.y1) + 2 * m + 1};
    const Rect rect = Intersect(box, PaintArea(t));
    if (rect.Empty()) return 0;
    // Far ends are cut short of the image, where no pixel of the line's width can reach it.
    int64_t x1 = line.x1, y1 = line.y1, x2 = line.x2, y2 = line.y2;
    if (!ClipLineAxis(&x1, &y1, &x2, &y2, rect.x - m, rect.x + rect.width + m) ||
        !ClipLineAxis(&y1, &x1, &y2, &x2, rect.y - m, rect.y + rect.height + m)) {
        return 0;
    }
    if (const int code = out->Create(rect, t, &paint)) return code;
    const cv::Point from(int(x1 - rect.x), int(y1 - rect.y)),
        to(int(x2 - rect.x), int(y2 - rect.y));
    // The width and the anti-aliased rim stay within the box's margin of the segment.
    out->Bound(RowReach(from.x, from.y, to.x, to.y, double(m)));
    return RunOpenCv([&] {
        cv::Mat image = out->Mat();
        cv::line(image, from, to, cv::Scalar(255), thickness, LineType(paint.antialias), 0);
    });
}

}  // namespace

int CoverageError(int openCvCode) {
    return openCvCode == cv::Error::StsNoMem ? ERR_MEM : ERR_WRONGUSAGE;
}

}  // namespace qv::draw

using namespace qv::draw;

int RenderShapeImage(const qvShapeTarget& target, const qvShapeOutline& outline,
                     const qvShapePaint& paint) {
    CoverageImage coverage;
    if (const int code = MakeOutlineCoverage(target, outline, paint.antialias, &coverage, &paint)) {
        return code;
    }
    return coverage.Paint(target, paint);
}

int RenderShapeImage(const qvShapeTarget& target, const qvLineSegment& line,
                     const qvShapePaint& paint) {
    const int32_t thickness = ClampLineThickness(line.thickness);
    if (thickness > 1) {
        CoverageImage coverage;
        if (const int code = MakeThickLineCoverage(target, line, thickness, paint, &coverage)) {
            return code;
        }
        return coverage.Paint(target, paint);
    }
    if (line.x1 == line.x2 && line.y1 == line.y2) {
        // One fully covered pixel, anti-aliased or not.
        uint8_t full = 255;
        const qvPlaneBitMap dot{1, 1, 1, 8, kPlaneWrapped, &full};
        return PaintCoverage(target, dot, {line.x1, line.y1, 1, 1}, paint);
    }
    PaintThinLine(target, line, paint);
    return 0;
}

int OneColourStrength(int32_t width, int32_t height, const qvShapeOutline& outline,
                      const qvShapePaint& paint, qv::OwnedPlane* strength, int32_t* x, int32_t* y) {
    const qvShapeTarget image{nullptr, nullptr, nullptr, width, height, nullptr, 0, 0};
    CoverageImage coverage;
    if (const int code = MakeOutlineCoverage(image, outline, paint.antialias, &coverage)) {
        return code;
    }
    Rect rect{};
    *strength = coverage.TakePlane(&rect);
    *x = int32_t(rect.x), *y = int32_t(rect.y);
    if (*strength == nullptr) return 0;
    const uint32_t opacity = 255 - uint32_t(std::clamp(paint.transparency, 0, 255));
    for (int64_t j = 0; j < rect.height; ++j) {
        uint8_t* row = (*strength)->plane + ptrdiff_t(j) * (*strength)->bytesPerRow;
        FreshAlpha(row, row, rect.width, opacity, paint.antialias);
    }
    return 0;
}

namespace {

qvShapeOutline FillOutline(const qvShapeDesc& desc, int32_t originX, int32_t originY) {
    return {desc.fillPoints,
            desc.fillCount,
            originX + desc.fillX,
            originY + desc.fillY,
            desc.fillWidth,
            desc.fillHeight,
            true,
            1};
}

qvShapeOutline RingOutline(const qvShapeDesc& desc, int32_t originX, int32_t originY) {
    return {desc.borderPoints,
            desc.borderCount,
            originX + desc.borderX,
            originY + desc.borderY,
            desc.borderWidth,
            desc.borderHeight,
            true,
            1};
}

// The layer of a coverage image, whose plane goes to keep; false when it has none.
bool TakeLayer(CoverageImage* image, const qvShapePaint& paint, qv::OwnedPlane* keep,
               qvShapeLayers::Layer* layer) {
    Rect rect{};
    *keep = image->TakePlane(&rect);
    if (*keep == nullptr) return false;
    *layer = {keep->get(), int32_t(rect.x), int32_t(rect.y), paint};
    return true;
}

}  // namespace

int ShapeLayerCoverage(int32_t width, int32_t height, const qvShapeDesc& desc, int32_t originX,
                       int32_t originY, qvShapeLayers* out) {
    const bool antialias = desc.antialias != 0;
    const qvShapeTarget image{nullptr, nullptr, nullptr, width, height, nullptr, 0, 0};
    const bool hasRing = desc.borderOn != 0 && desc.borderCount > 0;
    CoverageImage fill, ring;
    if (const int code =
            MakeOutlineCoverage(image, FillOutline(desc, originX, originY), antialias, &fill)) {
        return code;
    }
    if (hasRing) {
        if (const int code =
                MakeOutlineCoverage(image, RingOutline(desc, originX, originY), antialias, &ring)) {
            return code;
        }
    }
    qvShapeLayers::Layer fillLayer{}, ringLayer{};
    const bool fills =
        TakeLayer(&fill, {desc.colour & 0xFFFFFF, int32_t(desc.colour >> 24), antialias},
                  &out->fill, &fillLayer);
    const bool rings = TakeLayer(&ring, {desc.borderColour, desc.borderTransparency, antialias},
                                 &out->ring, &ringLayer);
    out->count = 0;
    const bool shadows = desc.shadowOn != 0 && (hasRing ? rings : fills);
    if (shadows) {
        out->layers[out->count] = hasRing ? ringLayer : fillLayer;
        out->layers[out->count].x += desc.shadowX, out->layers[out->count].y += desc.shadowY;
        out->layers[out->count++].paint = {desc.shadowColour, desc.shadowTransparency, antialias};
    }
    if (rings) out->layers[out->count++] = ringLayer;
    if (fills) out->layers[out->count++] = fillLayer;
    return 0;
}

int CompositeShapeCoverage(const qvShapeTarget& target, const qvShapeDesc& desc, int32_t originX,
                           int32_t originY) {
    const bool antialias = desc.antialias != 0;
    const qvShapeOutline fillOutline = FillOutline(desc, originX, originY);
    const qvShapeOutline ringOutline = RingOutline(desc, originX, originY);
    qvShapeTarget plain = target;
    plain.fill = nullptr;
    plain.fresh = false;
    // The shadow is a moved copy of the ring's coverage (or the fill's), which the layout
    // keeps inside the image as well.
    const bool hasRing = desc.borderOn != 0 && desc.borderCount > 0;
    const qvShapePaint fillPaint{desc.colour & 0xFFFFFF, int32_t(desc.colour >> 24), antialias};
    // The fill alone may go straight into the image's alpha plane.
    const bool fillAlone = !hasRing && desc.shadowOn == 0;
    CoverageImage fill, ring;
    if (const int code = MakeOutlineCoverage(target, fillOutline, antialias, &fill,
                                             fillAlone ? &fillPaint : nullptr)) {
        return code;
    }
    if (hasRing) {
        if (const int code = MakeOutlineCoverage(plain, ringOutline, antialias, &ring)) return code;
    }
    if (desc.shadowOn != 0) {
        const CoverageImage& under = hasRing ? ring : fill;
        const qvShapePaint paint{desc.shadowColour, desc.shadowTransparency, antialias};
        if (const int code = under.Paint(plain, paint, desc.shadowX, desc.shadowY)) return code;
    }
    if (hasRing) {
        const qvShapePaint paint{desc.borderColour, desc.borderTransparency, antialias};
        if (const int code = ring.Paint(plain, paint)) return code;
    }
    return fill.Paint(target, fillPaint);
}

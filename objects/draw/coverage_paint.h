// Painting coverage into a shape's target (inside the drawing library): the plane rules of
// coverage.h per pixel, and the fast roads they take for the common targets.
#pragma once

#include <cstdint>

#include "gfx/plot.h"
#include "objects/draw/coverage.h"

namespace qv::draw {

struct Rect {
    int64_t x, y, width, height;
    bool Empty() const { return width <= 0 || height <= 0; }
};

// The size the target can be painted in: its usable size cut to every plane given.
Rect PaintArea(const qvShapeTarget& t);
Rect Intersect(const Rect& a, const Rect& b);

// Columns [first, end) of a row; empty when first == end.
struct Span {
    int64_t first, end;
};

// Where coverage may lie in the rows of a rectangle: anywhere, or within a radius of a
// segment.
class RowReach {
public:
    RowReach() = default;
    // The segment in the rectangle's coordinates (pixel centres on whole numbers).
    RowReach(double x1, double y1, double x2, double y2, double radius);

    // The columns of row j, out of width, that coverage may reach.
    Span Of(int64_t j, int64_t width) const;

private:
    bool bounded_ = false;
    double x1_ = 0, y1_ = 0, radius_ = 0;
    double top_ = 0, bottom_ = 0;            // the segment's rows
    double xPerY_ = 0;                       // its slope; 0 when level
    double levelLeft_ = 0, levelRight_ = 0;  // a level segment's columns
};

// A plot context over a locked bitmap for the colour, plotting inside the area.
qvPlotContext PlotContext(const qvBitMapLock& lock, const Rect& area, uint32_t colour);

// Draws into the planes of the target pixel by pixel and tells how strongly the colour goes
// over each pixel: written as it is where the target's alpha is still 0, blended by the
// coverage where it is 255, and by the shape's share of the combined alpha between.
class PlanePainter {
public:
    PlanePainter(const qvShapeTarget& t, const qvShapePaint& paint);

    bool HasPlanes() const { return mask_ != nullptr || alpha_ != nullptr; }
    bool HasAlpha() const { return alpha_ != nullptr; }
    uint32_t Opacity() const { return opacity_; }
    bool Antialiased() const { return antialias_; }
    // The shape's alpha for coverage c > 0.
    uint32_t AlphaOf(uint32_t c) const { return antialias_ ? c * opacity_ / 255 : opacity_; }

    // Coverage c > 0 at (x, y), inside the paint area; returns the colour's strength.
    uint8_t Paint(int32_t x, int32_t y, uint32_t c);
    // What Paint does over n pixels of an image's alpha row (the target has a bitmap and an
    // alpha plane but no mask): each covered pixel's strength into strength.
    void PaintOverAlpha(const uint8_t* coverage, uint8_t* alpha, uint8_t* strength,
                        int64_t n) const;

private:
    const qvShapeTarget& target_;
    qvPlaneBitMap* mask_;
    qvPlaneBitMap* alpha_;
    uint32_t opacity_;
    bool antialias_;
};

// The alpha n coverage bytes leave in a fresh image's plane, as the painter writes it: the
// coverage scaled by the opacity when anti-aliased, else the opacity wherever covered (hard
// coverage is 0 or 255, so an opaque shape's is the coverage itself). alpha may be coverage.
void FreshAlpha(const uint8_t* coverage, uint8_t* alpha, int64_t n, uint32_t opacity,
                bool antialias);

// Whether the coverage of the rectangle r may be drawn straight into the target's alpha
// plane: an opaque flat colour into a bitmap whose alpha plane is still 0 all over r (a
// fresh target, or one whose plane is read to be so), where painting would copy the
// coverage into the plane unchanged.
bool CoverageGoesIntoAlpha(const qvShapeTarget& t, const Rect& r, const qvShapePaint& paint);

// Paints for coverage that CoverageGoesIntoAlpha let into the alpha plane at r, lying within
// reach: the mask bits and the colour, as PaintCoverage would. 0.
int PaintOverOwnAlpha(const qvShapeTarget& t, const Rect& r, const qvShapePaint& paint,
                      const RowReach& reach = {});

// Paints coverage bytes (the plane, lying at where in the target) into the target. 0,
// ERR_MEM or ERR_WRONGUSAGE (a fill source that does not fit the bitmap).
int PaintCoverage(const qvShapeTarget& t, const qvPlaneBitMap& source, const Rect& where,
                  const qvShapePaint& paint);

}  // namespace qv::draw

// The 2x2 matrix {a, b, c, d} that a drawing or a layer applies to its object, built from a
// target size or scale factors and a rotation. It maps the point (x, y) to
// (a x + c y, b x + d y).
#pragma once

#include <cstdint>

// A new size of 0 takes the old one. When both sizes equal the old ones the diagonal is the
// scale factors, else the new size over the old per axis (1 for an axis whose old size is 0).
// A non-zero angle (degrees) then turns both rows by 360 - angle % 360 degrees.
void MakeTransformMatrix(double matrix[4], int32_t newWidth, int32_t newHeight, int32_t oldWidth,
                         int32_t oldHeight, int32_t angle, double scaleX, double scaleY);

namespace qv::scene {

// Cosine and sine of whole degrees, exact at the quarter turns so that a turn by 90 or 180
// degrees keeps a matrix free of rounding noise.
void WholeDegreeCosSin(int32_t degrees, double* c, double* s);

}  // namespace qv::scene

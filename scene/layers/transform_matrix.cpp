#include "scene/layers/transform_matrix.h"

#include <cmath>
#include <numbers>

namespace qv::scene {

void WholeDegreeCosSin(int32_t degrees, double* c, double* s) {
    switch (((degrees % 360) + 360) % 360) {
        case 0:
            *c = 1, *s = 0;
            return;
        case 90:
            *c = 0, *s = 1;
            return;
        case 180:
            *c = -1, *s = 0;
            return;
        case 270:
            *c = 0, *s = -1;
            return;
        default:
            break;
    }
    const double radians = degrees * std::numbers::pi / 180.0;
    *c = std::cos(radians);
    *s = std::sin(radians);
}

}  // namespace qv::scene

namespace {

double Factor(int32_t newSize, int32_t oldSize) {
    return oldSize != 0 ? double(newSize) / double(oldSize) : 1.0;
}

}  // namespace

void MakeTransformMatrix(double matrix[4], int32_t newWidth, int32_t newHeight, int32_t oldWidth,
                         int32_t oldHeight, int32_t angle, double scaleX, double scaleY) {
    if (newWidth == 0) newWidth = oldWidth;
    if (newHeight == 0) newHeight = oldHeight;
    const bool sameSize = newWidth == oldWidth && newHeight == oldHeight;
    matrix[0] = sameSize ? scaleX : Factor(newWidth, oldWidth);
    matrix[1] = 0;
    matrix[2] = 0;
    matrix[3] = sameSize ? scaleY : Factor(newHeight, oldHeight);
    if (angle == 0) return;
    double c, s;
    qv::scene::WholeDegreeCosSin(360 - angle % 360, &c, &s);
    for (int row = 0; row < 4; row += 2) {
        const double u = matrix[row], v = matrix[row + 1];
        matrix[row] = u * c - v * s;
        matrix[row + 1] = u * s + v * c;
    }
}

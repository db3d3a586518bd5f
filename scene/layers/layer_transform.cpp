#include "scene/layers/layer_transform.h"

#include <algorithm>
#include <cmath>

#include "gfx/geometry.h"
#include "gfx/transform.h"
#include "scene/layers/transform_matrix.h"

namespace {

constexpr double kRotationTolerance = 0.0001;
constexpr double kUniformTolerance = 0.01;

// A "transform" tag stores its four numbers, of which the diagonal is never 0.
bool GivenMatrix(const qvDrawTransform* transform) {
    return transform->transformInput[0] != 0;
}

// The positive factor f with (u, v) = f (c, s) within the tolerance, or 0 when there is none.
double RowFactor(double u, double v, double c, double s) {
    const bool useC = std::fabs(c) > 1e-12, useS = std::fabs(s) > 1e-12;
    const double fromC = useC ? u / c : 0, fromS = useS ? v / s : 0;
    if (!useC && std::fabs(u) > kRotationTolerance) return 0;
    if (!useS && std::fabs(v) > kRotationTolerance) return 0;
    const double factor = useC ? fromC : fromS;
    if (useC && useS && std::fabs(fromC - fromS) > kRotationTolerance) return 0;
    return factor > 0 ? factor : 0;
}

struct Box {
    double minX, minY, maxX, maxY;
};

// The box the rectangle's corners span under the matrix.
Box MappedBox(const double m[4], double x, double y, double width, double height) {
    Box box{INFINITY, INFINITY, -INFINITY, -INFINITY};
    for (double cx : {x, x + width}) {
        for (double cy : {y, y + height}) {
            const double mx = m[0] * cx + m[2] * cy, my = m[1] * cx + m[3] * cy;
            box = {std::min(box.minX, mx), std::min(box.minY, my), std::max(box.maxX, mx),
                   std::max(box.maxY, my)};
        }
    }
    return box;
}

}  // namespace

void ApplyLayerTransform(qvDrawTransform* transform, int32_t width, int32_t height) {
    if (GivenMatrix(transform)) return;
    MakeTransformMatrix(transform->matrix, transform->width, transform->height, width, height,
                        transform->rotate, transform->scalex, transform->scaley);
}

int MatrixIsRotation(const double matrix[4], double* sx, double* sy) {
    *sx = *sy = 0;
    for (int32_t degrees = 0; degrees <= 360; ++degrees) {
        double c, s;
        qv::scene::WholeDegreeCosSin(degrees, &c, &s);
        // The rows of a turned diagonal (a, d): a (c, s) and d (-s, c).
        const double first = RowFactor(matrix[0], matrix[1], c, s);
        const double second = RowFactor(matrix[2], matrix[3], -s, c);
        if (first > 0 && second > 0) {
            *sx = first, *sy = second;
            return 1;
        }
    }
    return 0;
}

bool CheckUniformTransform(const qvDrawTransform* transform) {
    const double* m = transform->matrix;
    if (m[1] == 0 && m[2] == 0) return false;
    double sx, sy;
    return !(MatrixIsRotation(m, &sx, &sy) != 0 && std::fabs(sx - sy) <= kUniformTolerance);
}

int32_t GetTransformedBorderWidth(const double matrix[4], int32_t width, int32_t height,
                                  int32_t size) {
    const Box outer =
        MappedBox(matrix, 0, 0, double(width) + 2.0 * size, double(height) + 2.0 * size);
    const Box inner = MappedBox(matrix, size, size, width, height);
    return qv::gfx::TruncSaturate(std::round(inner.minX - outer.minX));
}

void TransformedPivot(const double matrix[4], int32_t width, int32_t height, double pivotX,
                      double pivotY, double* x, double* y) {
    double offsetX = 0, offsetY = 0;
    TransformBounds(matrix, width, height, nullptr, nullptr, &offsetX, &offsetY);
    *x = matrix[0] * pivotX + matrix[2] * pivotY - offsetX;
    *y = matrix[1] * pivotX + matrix[3] * pivotY - offsetY;
}

namespace qv::scene {

bool IsIdentityMatrix(const double matrix[4]) {
    return matrix[0] == 1 && matrix[1] == 0 && matrix[2] == 0 && matrix[3] == 1;
}

void ScaleMatrix(double matrix[4], double scaleX, double scaleY) {
    matrix[0] *= scaleX, matrix[2] *= scaleX;
    matrix[1] *= scaleY, matrix[3] *= scaleY;
}

}  // namespace qv::scene

// How a layer's transform is applied: the matrix of a transform for an object's size, whether
// a matrix is a pure rotation with scale factors, whether a transform keeps shapes upright
// and even (so that content can be rendered at scale instead of being turned as a picture),
// and how thick a border is once the transform has scaled it.
#pragma once

#include <cstdint>

#include "objects/draw_tags.h"

// A copy of a layer's transform as the cache builders apply it (the layer's own is never
// changed), with whether it turns or scales unevenly.
struct qvWorkTransform {
    qvDrawTransform transform;
    int32_t rotated;
};

// The matrix of the transform for a width x height object, written into its matrix: the
// matrix a "transform" tag gave, else made from the target size, the angle and the factors.
void ApplyLayerTransform(qvDrawTransform* transform, int32_t width, int32_t height);
// 1 when the matrix is a turn by a whole degree of two scale factors (the first row gives
// *sx, the second *sy), each row matching the angle's cosine and sine with one positive factor
// within 0.0001; else 0.
int MatrixIsRotation(const double matrix[4], double* sx, double* sy);
// Whether the transform counts as rotated: an off-diagonal entry that is not 0, unless the
// matrix is a turn whose two factors lie within 0.01 of each other.
bool CheckUniformTransform(const qvDrawTransform* transform);
// The thickness a border of size pixels has around a width x height picture under the matrix:
// the left inset of the picture inside the transformed box of the picture grown by size on
// every side, rounded to nearest.
int32_t GetTransformedBorderWidth(const double matrix[4], int32_t width, int32_t height,
                                  int32_t size);
// Where the point (pivotX, pivotY) of a width x height picture lies in the picture the matrix
// makes of it, without making it: TransformLayerPicture's pivot before it is truncated. A
// turned or scaled picture's anchor point lands there, with layers on or off.
void TransformedPivot(const double matrix[4], int32_t width, int32_t height, double pivotX,
                      double pivotY, double* x, double* y);

namespace qv::scene {

bool IsIdentityMatrix(const double matrix[4]);
// The matrix as a display with the factors shows it: x results by scaleX, y results by
// scaleY.
void ScaleMatrix(double matrix[4], double scaleX, double scaleY);

}  // namespace qv::scene

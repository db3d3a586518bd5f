// The distortion engine: perspective, arc, polar and barrel mappings of a picture triple into
// a new one. GenerateDistortCoefficients checks a request and computes its coefficients and
// output geometry; DistortPixels walks the output pixels and samples the source through the
// reverse mapping at one point, or with an elliptical weighted average (EWA) when smoothing.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"
#include "platform/linux/blocks.h"

// Methods.
enum : int32_t {
    QV_DISTORT_PERSPECTIVE = 4,
    QV_DISTORT_ARC = 9,
    QV_DISTORT_POLAR = 10,
    QV_DISTORT_BARREL = 12,
};

struct qvDistortRequest {
    int32_t method;
    int32_t argumentCount;
    const double* arguments;
    int32_t sourceWidth, sourceHeight;
    double sourceX, sourceY;  // offsets; 0 for bitmaps
    int32_t smooth;
    // Written by GenerateDistortCoefficients.
    int32_t outWidth, outHeight;
    double outX, outY;  // the output coordinate of the top-left output pixel
    double coefficients[10];
    int32_t error;
};

// The planes of one distortion; base addresses of locked bitmaps. Absent planes are none.
struct qvDistortPlanes {
    const uint8_t* source;
    int32_t sourceRowLength;  // pixels
    const uint8_t* sourceMask;
    int32_t sourceMaskBytesPerRow;
    const uint8_t* sourceAlpha;
    int32_t sourceAlphaBytesPerRow;
    uint8_t* dest;
    int32_t destRowLength;
    uint8_t* destMask;  // exactly one of the two
    int32_t destMaskBytesPerRow;
    uint8_t* destAlpha;
    int32_t destAlphaBytesPerRow;
    uint32_t format;  // of source and destination alike
};

// Distorts the width x height top-left part of a triple (cut to the bitmap and its planes)
// with a method, its argument count and arguments into new bitmaps: colour in the source's
// format, and a mask when the source has one, an alpha plane when it has one, else a mask
// without smoothing and an alpha plane with it. Returns 0, ERR_WRONGUSAGE (a method,
// argument count or argument outside the limits, or a perspective without a solution),
// ERR_MEM (also for an output beyond any bitmap) or ERR_LOCKBMAP; on failure nothing is
// made.
int DistortBitmap(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                  int32_t width, int32_t height, int32_t method, int32_t count,
                  const double* arguments, int smooth, qvDisplayBitMap** outBitmap,
                  qvPlaneBitMap** outMask, qvPlaneBitMap** outAlpha, int32_t* outWidth,
                  int32_t* outHeight);

// Fills the coefficients and the output geometry; returns (and stores) 0, ERR_WRONGUSAGE or
// ERR_MEM.
int GenerateDistortCoefficients(qvDistortRequest* request);
// Every output pixel, from the source; invalid and outside points are transparent.
void DistortPixels(const qvDistortRequest& request, const qvDistortPlanes& planes);

// v, or the whole number within 1e-6 of it: the coefficients carry the round-off of the
// least-squares solution, which must not move a pixel across a truncation, a floor or a
// ceiling (whole-pixel moves, mirrors and half-turns are pixel copies).
double SnapToWhole(double v);

// A zeroed rows x columns matrix in one block (the row pointers, then the rows); none when
// memory is short.
qv::BlockPtr<double*> AllocMatrix(int32_t rows, int32_t columns);
// Solves matrix x = vector for each of the vectors (rows of rank entries) in place by
// Gauss-Jordan elimination; false for a singular matrix.
bool SolveLeastSquares(double** matrix, double** vectors, int32_t rank, int32_t vectorCount);
// The forward perspective from the eight reverse coefficients (the ninth being 1); false
// when the determinant c0 c4 - c1 c3 is about 0.
bool InvertProjectiveMatrix(const double reverse[8], double forward[8]);

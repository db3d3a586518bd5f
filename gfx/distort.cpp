// The coefficient stage of the distortion engine and its front-end.
#include "gfx/distort.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "engine/error_codes.h"
#include "gfx/scale.h"

namespace qv::gfx {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kLargestSide = 32768;  // the platform's largest bitmap side

double Radians(double degrees) {
    return degrees * kPi / 180;
}

// v minus its rounded value (halves away from zero) times the period.
double ReduceTurns(double v, double period) {
    return v - period * std::round(v / period);
}

struct Box {
    double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL;
    void Add(double x, double y) {
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
};

// The output geometry of a box; sizes are checked in doubles, and one beyond any bitmap is
// an output that cannot be allocated.
int FitOutput(const Box& box, qvDistortRequest* r) {
    const double x = std::floor(SnapToWhole(box.minX - 0.5));
    const double y = std::floor(SnapToWhole(box.minY - 0.5));
    const double width = std::ceil(SnapToWhole(box.maxX - x + 0.5));
    const double height = std::ceil(SnapToWhole(box.maxY - y + 0.5));
    if (std::isnan(width) || std::isnan(height)) return ERR_WRONGUSAGE;
    if (!(width <= kLargestSide && height <= kLargestSide && std::isfinite(x) &&
          std::isfinite(y))) {
        return ERR_MEM;
    }
    r->outX = x, r->outY = y;
    r->outWidth = int32_t(width), r->outHeight = int32_t(height);
    return 0;
}

// The normal equations of the four control points (source u, v; destination x, y).
int Perspective(qvDistortRequest* r) {
    if (r->argumentCount != 16) return ERR_WRONGUSAGE;
    auto matrix = AllocMatrix(8, 8);
    auto vectors = AllocMatrix(1, 8);
    if (!matrix || !vectors) return ERR_MEM;
    const double* a = r->arguments;
    for (int32_t p = 0; p < 4; ++p) {
        const double u = a[4 * p], v = a[4 * p + 1], x = a[4 * p + 2], y = a[4 * p + 3];
        const double terms[2][8] = {{x, y, 1, 0, 0, 0, -x * u, -y * u},
                                    {0, 0, 0, x, y, 1, -x * v, -y * v}};
        const double values[2] = {u, v};
        for (int e = 0; e < 2; ++e) {
            for (int32_t i = 0; i < 8; ++i) {
                for (int32_t j = 0; j < 8; ++j) matrix.get()[i][j] += terms[e][i] * terms[e][j];
                vectors.get()[0][i] += terms[e][i] * values[e];
            }
        }
    }
    if (!SolveLeastSquares(matrix.get(), vectors.get(), 8, 1)) return ERR_WRONGUSAGE;
    double* c = r->coefficients;
    std::memcpy(c, vectors.get()[0], 8 * sizeof(double));
    c[8] = c[6] * a[2] + c[7] * a[3] + 1 >= 0 ? 1 : -1;
    double forward[8];
    if (!InvertProjectiveMatrix(c, forward)) return ERR_WRONGUSAGE;
    Box box;
    const double ox = r->sourceX, oy = r->sourceY;
    const double corners[4][2] = {{ox, oy},
                                  {ox + r->sourceWidth, oy},
                                  {ox + r->sourceWidth, oy + r->sourceHeight},
                                  {ox, oy + r->sourceHeight}};
    for (const auto& corner : corners) {
        const double u = corner[0], v = corner[1];
        double d = forward[6] * u + forward[7] * v + 1;
        if (std::fabs(d) < 1e-6) d = 1;
        box.Add((forward[0] * u + forward[1] * v + forward[2]) / d,
                (forward[3] * u + forward[4] * v + forward[5]) / d);
    }
    return FitOutput(box, r);
}

int Arc(qvDistortRequest* r) {
    const int32_t n = r->argumentCount;
    if (n > 4) return ERR_WRONGUSAGE;
    const double* a = r->arguments;
    const double w = r->sourceWidth, h = r->sourceHeight;
    double* c = r->coefficients;
    const double angle = n >= 1 ? Radians(a[0]) : kPi / 2;
    if (!(angle >= 1e-6) || (n >= 3 && !(a[2] >= 1e-6))) return ERR_WRONGUSAGE;
    c[1] = angle;
    c[0] = ReduceTurns(-kPi / 2 + (n >= 2 ? Radians(a[1]) : 0), 2 * kPi);
    c[3] = h - 1;
    c[2] = w / c[1] + c[3] / 2;
    if (n == 3) {
        c[3] = c[3] * a[2] / c[2];
        c[2] = a[2];
    } else if (n == 4) {
        c[3] = a[2] - a[3];
        c[2] = a[2];
    }
    // A ring without thickness (equal radii, or a single row) has no reverse mapping.
    if (c[3] == 0 || !std::isfinite(c[3]) || !std::isfinite(c[2])) return ERR_WRONGUSAGE;
    c[4] = (w - 1) / 2;
    Box box;
    const double start = c[0] - c[1] / 2, end = c[0] + c[1] / 2;
    for (const double radius : {c[2], c[2] - c[3]}) {
        box.Add(radius * std::cos(start), radius * std::sin(start));
        box.Add(radius * std::cos(end), radius * std::sin(end));
    }
    // Beyond four quarter turns the axis points repeat.
    double quarter = std::ceil(start / (kPi / 2));
    for (int32_t i = 0; i < 4 && quarter * (kPi / 2) <= end; ++i, ++quarter) {
        box.Add(c[2] * std::cos(quarter * kPi / 2), c[2] * std::sin(quarter * kPi / 2));
    }
    if (const int error = FitOutput(box, r); error != 0) return error;
    c[1] = w * 2 * kPi / angle;
    c[3] = h / c[3];
    return 0;
}

int Polar(qvDistortRequest* r) {
    const int32_t n = r->argumentCount;
    if (n == 3 || n > 6) return ERR_WRONGUSAGE;
    const double* a = r->arguments;
    const double w = r->sourceWidth, h = r->sourceHeight;
    double* c = r->coefficients;
    c[0] = n >= 1 ? a[0] : 0;
    c[1] = n >= 2 ? a[1] : 0;
    c[2] = n >= 4 ? a[2] : w / 2 + r->sourceX;
    c[3] = n >= 4 ? a[3] : h / 2 + r->sourceY;
    c[4] = n >= 5 ? Radians(a[4]) : -kPi;
    c[5] = n >= 6 ? Radians(a[5]) : (n == 5 ? c[4] : -kPi);
    if (std::fabs(c[4] - c[5]) < 1e-6) c[5] = c[4] + 2 * kPi;
    const double left = c[2] - r->sourceX, right = r->sourceX + w - c[2];
    const double top = c[3] - r->sourceY, bottom = r->sourceY + h - c[3];
    if (std::fabs(c[0]) < 1e-6) {
        c[0] = std::min({left, right, top, bottom});
    } else if (std::fabs(c[0] + 1) < 1e-6) {
        c[0] = std::max({std::hypot(left, top), std::hypot(right, top), std::hypot(left, bottom),
                         std::hypot(right, bottom)});
    }
    if (!(c[0] >= 1e-6 && c[1] >= -1e-6 && c[1] <= c[0] - 1e-6)) return ERR_WRONGUSAGE;
    c[6] = w / (c[5] - c[4]);
    c[7] = h / (c[0] - c[1]);
    if (n < 2) c[2] = c[3] = 0;
    Box box;
    box.Add(c[2] - c[0], c[3] - c[0]);
    box.Add(c[2] + c[0], c[3] + c[0]);
    return FitOutput(box, r);
}

int Barrel(qvDistortRequest* r) {
    const int32_t n = r->argumentCount;
    if (n != 4 && n != 6 && n != 8 && n != 10) return ERR_WRONGUSAGE;
    const double w = r->sourceWidth, h = r->sourceHeight;
    if (!(std::min(w, h) >= 1)) return ERR_WRONGUSAGE;
    const double* a = r->arguments;
    double* c = r->coefficients;
    const double unit = 2 / std::min(w, h);
    const auto scaled = [&](const double* abcd, double* out) {
        out[0] = abcd[0] * unit * unit * unit, out[1] = abcd[1] * unit * unit;
        out[2] = abcd[2] * unit, out[3] = abcd[3];
    };
    scaled(a, c);
    scaled(n >= 8 ? a + 4 : a, c + 4);
    // Without a centre the lens sits at ((w - 1) / 2, (h - 1) / 2), as the design gives it
    // (half a pixel up and left of the middle, pixel m spanning [m, m + 1)).
    const bool centred = n == 6 || n == 10;
    c[8] = centred ? a[n - 2] : (w - 1) / 2 + r->sourceX;
    c[9] = centred ? a[n - 1] : (h - 1) / 2 + r->sourceY;
    r->outX = r->sourceX, r->outY = r->sourceY;
    r->outWidth = r->sourceWidth, r->outHeight = r->sourceHeight;
    return 0;
}

}  // namespace
}  // namespace qv::gfx

double SnapToWhole(double v) {
    const double whole = std::round(v);
    return std::fabs(v - whole) < 1e-6 ? whole : v;
}

using namespace qv;
using namespace qv::gfx;

BlockPtr<double*> AllocMatrix(int32_t rows, int32_t columns) {
    if (rows < 1 || columns < 1) return nullptr;
    const size_t pointers = size_t(rows) * sizeof(double*);
    const size_t cells = size_t(rows) * size_t(columns);
    BlockPtr<double*> block(
        static_cast<double**>(AllocMemBlock(pointers + cells * sizeof(double), 1)));
    if (!block) return nullptr;
    auto* data = reinterpret_cast<double*>(reinterpret_cast<uint8_t*>(block.get()) + pointers);
    for (int32_t i = 0; i < rows; ++i) block.get()[i] = data + ptrdiff_t(i) * columns;
    return block;
}

bool SolveLeastSquares(double** matrix, double** vectors, int32_t rank, int32_t vectorCount) {
    // Pivots are judged against their row's largest entry: the normal equations of pixel
    // coordinates span many orders of magnitude.
    double scale[16];
    if (rank < 1 || rank > 16) return false;
    for (int32_t i = 0; i < rank; ++i) {
        scale[i] = 0;
        for (int32_t j = 0; j < rank; ++j) scale[i] = std::max(scale[i], std::fabs(matrix[i][j]));
        if (!(scale[i] > 0) || !std::isfinite(scale[i])) return false;
    }
    for (int32_t col = 0; col < rank; ++col) {
        int32_t pivot = col;
        for (int32_t i = col + 1; i < rank; ++i) {
            if (std::fabs(matrix[i][col]) / scale[i] >
                std::fabs(matrix[pivot][col]) / scale[pivot]) {
                pivot = i;
            }
        }
        if (!(std::fabs(matrix[pivot][col]) / scale[pivot] > 1e-14)) return false;
        std::swap(matrix[pivot], matrix[col]);
        std::swap(scale[pivot], scale[col]);
        for (int32_t k = 0; k < vectorCount; ++k) std::swap(vectors[k][pivot], vectors[k][col]);
        const double inverse = 1 / matrix[col][col];
        for (int32_t j = 0; j < rank; ++j) matrix[col][j] *= inverse;
        for (int32_t k = 0; k < vectorCount; ++k) vectors[k][col] *= inverse;
        for (int32_t i = 0; i < rank; ++i) {
            if (i == col || matrix[i][col] == 0) continue;
            const double factor = matrix[i][col];
            for (int32_t j = 0; j < rank; ++j) matrix[i][j] -= factor * matrix[col][j];
            for (int32_t k = 0; k < vectorCount; ++k) vectors[k][i] -= factor * vectors[k][col];
        }
    }
    for (int32_t k = 0; k < vectorCount; ++k) {
        for (int32_t i = 0; i < rank; ++i) {
            if (!std::isfinite(vectors[k][i])) return false;
        }
    }
    return true;
}

bool InvertProjectiveMatrix(const double c[8], double forward[8]) {
    const double d = c[0] * c[4] - c[1] * c[3];
    if (!(std::fabs(d) >= 1e-12)) return false;
    const double adjugate[8] = {c[4] - c[7] * c[5],        c[7] * c[2] - c[1],
                                c[1] * c[5] - c[4] * c[2], c[6] * c[5] - c[3],
                                c[0] - c[6] * c[2],        c[3] * c[2] - c[0] * c[5],
                                c[3] * c[7] - c[6] * c[4], c[6] * c[1] - c[0] * c[7]};
    for (int i = 0; i < 8; ++i) forward[i] = adjugate[i] / d;
    return true;
}

int GenerateDistortCoefficients(qvDistortRequest* r) {
    int error = ERR_WRONGUSAGE;
    std::fill_n(r->coefficients, 10, 0.0);
    const bool finite =
        r->argumentCount == 0 || (r->argumentCount > 0 && r->arguments != nullptr &&
                                  std::all_of(r->arguments, r->arguments + r->argumentCount,
                                              [](double v) { return std::isfinite(v); }));
    if (finite) {
        switch (r->method) {
            case QV_DISTORT_PERSPECTIVE:
                error = Perspective(r);
                break;
            case QV_DISTORT_ARC:
                error = Arc(r);
                break;
            case QV_DISTORT_POLAR:
                error = Polar(r);
                break;
            case QV_DISTORT_BARREL:
                error = Barrel(r);
                break;
            default:
                break;
        }
    }
    r->error = error;
    return error;
}

int DistortBitmap(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                  int32_t width, int32_t height, int32_t method, int32_t count,
                  const double* arguments, int smooth, qvDisplayBitMap** outBitmap,
                  qvPlaneBitMap** outMask, qvPlaneBitMap** outAlpha, int32_t* outWidth,
                  int32_t* outHeight) {
    if (!PlaneUsable(mask)) mask = nullptr;
    if (!PlaneUsable(alpha)) alpha = nullptr;
    int64_t w = std::max(width, 0), h = std::max(height, 0);
    if (source != nullptr)
        w = std::min<int64_t>(w, source->width), h = std::min<int64_t>(h, source->height);
    for (const qvPlaneBitMap* p : {mask, alpha}) {
        if (p != nullptr) w = std::min(w, PlaneExtentX(p)), h = std::min<int64_t>(h, p->height);
    }
    qvDistortRequest r{};
    r.method = method, r.argumentCount = count, r.arguments = arguments;
    r.sourceWidth = int32_t(w), r.sourceHeight = int32_t(h);
    r.smooth = smooth;
    if (const int error = GenerateDistortCoefficients(&r); error != 0) return error;
    if (source == nullptr) return ERR_LOCKBMAP;
    NewPicture out;
    out.bitmap.reset(AllocBitMapInFormat(r.outWidth, r.outHeight, source->format, false));
    if (!out.bitmap) return ERR_MEM;
    if (mask != nullptr || (alpha == nullptr && smooth == 0)) {
        out.mask.reset(AllocMaskBitMap(out.bitmap.get(), r.outWidth, r.outHeight, 1));
    } else {
        out.alpha.reset(AllocAlphaBitMap(r.outWidth, r.outHeight, 1));
    }
    if (!out.mask && !out.alpha) return ERR_MEM;
    {
        ScopedBitMapLock sourceLock(source), destLock(out.bitmap.get());
        if (!sourceLock || !destLock) return ERR_LOCKBMAP;
        qvDistortPlanes planes{};
        planes.source = sourceLock->base, planes.sourceRowLength = sourceLock->rowLength;
        if (mask != nullptr) {
            planes.sourceMask = mask->plane, planes.sourceMaskBytesPerRow = mask->bytesPerRow;
        } else if (alpha != nullptr) {
            planes.sourceAlpha = alpha->plane, planes.sourceAlphaBytesPerRow = alpha->bytesPerRow;
        }
        planes.dest = destLock->base, planes.destRowLength = destLock->rowLength;
        if (out.mask) {
            planes.destMask = out.mask->plane, planes.destMaskBytesPerRow = out.mask->bytesPerRow;
        } else {
            planes.destAlpha = out.alpha->plane;
            planes.destAlphaBytesPerRow = out.alpha->bytesPerRow;
        }
        planes.format = sourceLock->format;
        DistortPixels(r, planes);
    }
    if (outWidth != nullptr) *outWidth = r.outWidth;
    if (outHeight != nullptr) *outHeight = r.outHeight;
    out.HandOut(outBitmap, outMask, outAlpha);
    return 0;
}

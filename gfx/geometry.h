// Position constants, and the small geometry of the drawing code: transformed bounds, one
// step of polygon clipping, arc vertices from the fixed-point trigonometry table, colour
// blending and the ripple displacement of the water effects.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qv::gfx {

// Position constants: a coordinate within kPositionBand of one of them is resolved against
// the object's and the target's size, the difference being an offset.
inline constexpr int32_t kPositionBand = 4999;
inline constexpr int32_t CENTER = -100000;
inline constexpr int32_t LEFT = -90000;
inline constexpr int32_t RIGHT = -80000;
inline constexpr int32_t TOP = -70000;
inline constexpr int32_t BOTTOM = -60000;
inline constexpr int32_t LEFTOUT = -50000;
inline constexpr int32_t RIGHTOUT = -40000;
inline constexpr int32_t TOPOUT = -30000;
inline constexpr int32_t BOTTOMOUT = -20000;

}  // namespace qv::gfx

// A target size of 0 means the current output picture: its active clip region (whose x or
// y becomes an extra offset) or else its size. The anchor factor moves the object by that
// share of its own size.
int32_t ResolvePosX(int32_t x, int32_t objectWidth, int32_t targetWidth, double anchor);
int32_t ResolvePosY(int32_t y, int32_t objectHeight, int32_t targetHeight, double anchor);

// The bounding box of a width x height rectangle at (x, y) mapped by the matrix about the
// pivot (anchorX x width, anchorY x height). Each out pointer may be null.
void GetTransformedBounds(int32_t x, int32_t y, int32_t width, int32_t height,
                          const double matrix[4], int32_t* outX, int32_t* outY, int32_t* outWidth,
                          int32_t* outHeight, double anchorX, double anchorY);

struct qvVertex {
    int32_t x, y;
    bool operator==(const qvVertex&) const = default;
};

// Clip modes of ClipPolygonEdge: the side of the boundary that is kept.
enum : int {
    QV_CLIP_KEEP_RIGHT = 0,  // x >= boundary
    QV_CLIP_KEEP_BELOW = 1,  // y >= boundary
    QV_CLIP_KEEP_LEFT = 2,   // x <= boundary
    QV_CLIP_KEEP_ABOVE = 3,  // y <= boundary
};

// One Sutherland-Hodgman step of the closed polygon against a boundary. Writes at most
// out.size() vertices (2 x the input count always suffices) and returns their number.
int32_t ClipPolygonEdge(std::span<const qvVertex> vertices, std::span<qvVertex> out,
                        int32_t boundary, int mode);

// One vertex per degree from start to end inclusive of the ellipse in the box from (0, 0)
// to twice the radii; all but the full circle 0..360 are closed as a pie slice through the
// centre. Returns the vertex count: 0 for an end below the start or when the arc needs
// more than out.size() vertices (end - start + 3 always suffices).
int32_t MakeArcVertices(std::span<qvVertex> out, int32_t radiusX, int32_t radiusY,
                        int32_t startAngle, int32_t endAngle);

// Per channel c1 + ((c2 - c1) x factor >> 8); alpha 0.
uint32_t BlendRGB(uint32_t colour1, uint32_t colour2, int32_t factor);

// The ripple of the water effects. Distances are per pixel of the width x height picture
// (row by row) from the centre; pixels at or beyond the radius do not move.
struct qvRippleBlock {
    int32_t width, height;
    int32_t centreX, centreY;
    double radius;
    double wavelength;
    double amplitude;  // the wave height in pixels
    double phase;      // the time phase, radians
    bool damping;
    double dampingRatio;  // applied when damping is on
};
// The source pixel that destination (x, y) shows, inside the picture.
qvVertex RippleSourcePoint(int32_t x, int32_t y, const float* distances,
                           const qvRippleBlock& ripple);

namespace qv::gfx {

// 360 cosines then 360 sines of whole degrees, each the exact value x 1024 truncated toward
// zero; products with them are divided by 2048.
const std::array<int32_t, 720>& TrigTable();

// Truncates toward zero, treating a value within 1e-9 of an integer as that integer, so that
// sin 30 x 1024 is 512 although the double sine of 30 degrees lies just below 0.5.
double TruncExact(double value);

// A double as int32, truncated toward zero and saturated; NaN gives 0.
int32_t TruncSaturate(double value);

}  // namespace qv::gfx

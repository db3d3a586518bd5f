// Rectangle clipping shared by the platform blits and the graphics front-ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace qv {

// A rectangle of a blit, 64-bit so that coordinates near the int32 limits cannot overflow.
struct BlitRect {
    int64_t sx, sy, dx, dy, width, height;
};

// Cuts the rectangle to the source and destination extents, moving both corners together;
// false when nothing is left.
inline bool ClipBlit(BlitRect& r, int64_t sourceWidth, int64_t sourceHeight, int64_t destWidth,
                     int64_t destHeight) {
    int64_t shiftX = std::max<int64_t>({0, -r.sx, -r.dx});
    int64_t shiftY = std::max<int64_t>({0, -r.sy, -r.dy});
    r.sx += shiftX, r.dx += shiftX, r.width -= shiftX;
    r.sy += shiftY, r.dy += shiftY, r.height -= shiftY;
    r.width = std::min({r.width, sourceWidth - r.sx, destWidth - r.dx});
    r.height = std::min({r.height, sourceHeight - r.sy, destHeight - r.dy});
    return r.width > 0 && r.height > 0;
}

// A 64-bit coordinate as the nearest 32-bit one.
inline int32_t Saturate32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

// The same for a rectangle within one plane (source and destination coordinates equal).
inline bool ClipRect(BlitRect& r, int64_t width, int64_t height) {
    return ClipBlit(r, width, height, width, height);
}

}  // namespace qv

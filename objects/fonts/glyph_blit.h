// Cutting a glyph's rectangle to a destination area (a clip rectangle, or the plane that the
// plane modes write into), shared by the bitmap and TrueType engines.
#pragma once

#include <cstdint>

#include "gfx/clip.h"
#include "platform/linux/bitmap.h"

namespace qv::fonts {

// Cuts the destination side of r to [x, x + width) x [y, y + height), moving the source
// along; false when nothing is left.
inline bool CutToArea(BlitRect& r, int64_t x, int64_t y, int64_t width, int64_t height) {
    constexpr int64_t kUnbounded = int64_t(1) << 40;
    BlitRect local{r.sx, r.sy, r.dx - x, r.dy - y, r.width, r.height};
    if (!ClipBlit(local, kUnbounded, kUnbounded, width, height)) return false;
    r = {local.sx, local.sy, local.dx + x, local.dy + y, local.width, local.height};
    return true;
}

inline bool CutToPlane(BlitRect& r, const qvPlaneBitMap* plane) {
    return PlaneUsable(plane) && CutToArea(r, 0, 0, plane->width, plane->height);
}

inline bool CutToBitMap(BlitRect& r, const qvDisplayBitMap* bitmap) {
    return bitmap != nullptr && CutToArea(r, 0, 0, bitmap->width, bitmap->height);
}

}  // namespace qv::fonts

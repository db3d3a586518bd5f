// Tiling, aspect ratios and the display refresh front-ends.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/graphics_state.h"
#include "platform/linux/window.h"

namespace qv::gfx {
namespace {

// An offset reduced into [0, size).
int64_t Reduce(int64_t offset, int64_t size) {
    return ((offset % size) + size) % size;
}

// Calls piece(x, y, tile x, tile y, width, height) for every piece that covers the
// width x height rectangle with copies of the tile: (height / tile height + 2) rows and
// (width / tile width + 2) columns, the first ones starting inside the tile at the
// offsets, every piece cut at the rectangle's right and bottom edges.
template <typename Piece>
void ForEachTilePiece(int64_t width, int64_t height, int64_t tileWidth, int64_t tileHeight,
                      int64_t tileX, int64_t tileY, Piece&& piece) {
    if (tileWidth < 1 || tileHeight < 1 || width < 1 || height < 1) return;
    tileX = Reduce(tileX, tileWidth), tileY = Reduce(tileY, tileHeight);
    int64_t y = 0;
    for (int64_t row = 0; row < height / tileHeight + 2; ++row) {
        const int64_t fromY = row == 0 ? tileY : 0;
        const int64_t h = std::min(tileHeight - fromY, height - y);
        if (h < 1) break;
        int64_t x = 0;
        for (int64_t column = 0; column < width / tileWidth + 2; ++column) {
            const int64_t fromX = column == 0 ? tileX : 0;
            const int64_t w = std::min(tileWidth - fromX, width - x);
            if (w < 1) break;
            piece(x, y, fromX, fromY, w, h);
            x += w;
        }
        y += h;
    }
}

// Rounds half up; false when the side does not fit a coordinate.
bool RoundSide(double side, int32_t* out) {
    double rounded = std::floor(side + 0.5);
    if (!(rounded < double(std::numeric_limits<int32_t>::max()))) return false;
    *out = std::max(int32_t(rounded), 1);
    return true;
}

// Whether the bitmap reaches over the whole shown picture.
bool HoldsPicture(const qvDisplayBitMap* bitmap, const DisplayView& view) {
    return bitmap != nullptr && bitmap->width >= view.pictureWidth &&
           bitmap->height >= view.pictureHeight;
}

// A plain picture is the first back buffer itself, so the copy into the second is left out
// unless an autoscaled window shows the second.
bool ComposedIsFirstBuffer(const DisplayView& view) {
    return view.plainPicture && !view.autoscale && HoldsPicture(view.backBuffers[0], view) &&
           HoldsPicture(view.backBuffers[1], view);
}

// A whole refresh copies the first back buffer into the window as it is.
bool RefreshShowsFirstBuffer(const DisplayView& view) {
    return !view.doubleBuffered && view.bufferWord == 0 && ComposedIsFirstBuffer(view) &&
           !VideoDumpState().deferredRefresh;
}

// The shown picture composed for the window.
qvDisplayBitMap* ComposedForWindow(qvVmState* L, qvDisplay* display, const DisplayView& view) {
    qvDisplayBitMap* second = view.backBuffers[1];
    if (ComposedIsFirstBuffer(view)) return view.backBuffers[0];
    Graphics().Host().Redraw(L, display, second, 0, 0, view.pictureWidth, view.pictureHeight,
                             kRedrawAll);
    return second;
}

}  // namespace
}  // namespace qv::gfx

void TileFill(qvDisplayBitMap* dest, int32_t x, int32_t y, int32_t width, int32_t height,
              const qvDisplayBitMap* tile, int32_t tileX, int32_t tileY, int32_t tileWidth,
              int32_t tileHeight) {
    if (dest == nullptr || tile == nullptr) return;
    // Only the part inside the destination is covered, so that the loop never walks pieces
    // that cannot show; the offsets move with the corner, so the pattern stays in place.
    qv::BlitRect r{x, y, x, y, width, height};
    if (!qv::ClipRect(r, dest->width, dest->height)) return;
    qv::gfx::ForEachTilePiece(
        r.width, r.height, tileWidth, tileHeight, tileX + (r.dx - x), tileY + (r.dy - y),
        [&](int64_t px, int64_t py, int64_t fromX, int64_t fromY, int64_t w, int64_t h) {
            BltBitMap(tile, int32_t(fromX), int32_t(fromY), dest, int32_t(r.dx + px),
                      int32_t(r.dy + py), int32_t(w), int32_t(h));
        });
}

void TileFill(qvARGB* dest, int32_t width, int32_t height, const qvARGB* tile, int32_t tileX,
              int32_t tileY, int32_t tileWidth, int32_t tileHeight, int32_t tileRowLength) {
    if (dest == nullptr || tile == nullptr) return;
    qv::gfx::ForEachTilePiece(
        width, height, std::min(tileWidth, tileRowLength), tileHeight, tileX, tileY,
        [&](int64_t px, int64_t py, int64_t fromX, int64_t fromY, int64_t w, int64_t h) {
            for (int64_t j = 0; j < h; ++j) {
                std::memcpy(dest + (py + j) * width + px,
                            tile + (fromY + j) * tileRowLength + fromX, size_t(w) * sizeof(qvARGB));
            }
        });
}

int ScaleKeepAspect(int32_t sourceWidth, int32_t sourceHeight, int32_t* width, int32_t* height) {
    if (*width < 1 || *height < 1) return ERR_BADDIMENSIONS;
    if (*width == KEEPASPRAT && *height == KEEPASPRAT) return ERR_WRONGUSAGE;
    if (*width != KEEPASPRAT && *height != KEEPASPRAT) return 0;
    if (sourceWidth < 1 || sourceHeight < 1) return ERR_BADDIMENSIONS;
    const double ratio = double(sourceWidth) / sourceHeight;
    const bool ok = *width == KEEPASPRAT ? qv::gfx::RoundSide(*height * ratio, width)
                                         : qv::gfx::RoundSide(*width / ratio, height);
    return ok ? 0 : ERR_BADDIMENSIONS;
}

void BltToDisplay(const qvDisplayBitMap* bitmap, int32_t sx, int32_t sy, qvDisplay* display,
                  int32_t dx, int32_t dy, int32_t width, int32_t height, int flags) {
    if (bitmap == nullptr || display == nullptr) return;
    qvVideoDumpState& dump = qv::VideoDumpState();
    if (dump.deferredRefresh && (flags & QV_REFRESH_UNDEFERRED) == 0) {
        dump.frameChanged = true;
        return;
    }
    const qv::gfx::DisplayView view = qv::gfx::Graphics().View(display);
    if ((flags & QV_REFRESH_AUTOSCALE) != 0 && view.AutoscaleActive() &&
        (bitmap->width != view.autoscaleWidth || bitmap->height != view.autoscaleHeight)) {
        // Not while a video dump records (the deferred flag is what tells it here).
        if (dump.deferredRefresh) return;
        WindowBlit(bitmap, 0, 0, view.window, view.outputX, view.outputY, bitmap->width,
                   bitmap->height, view.autoscaleWidth, view.autoscaleHeight);
        return;
    }
    WindowBlit(bitmap, sx, sy, view.window, qv::Saturate32(int64_t(dx) + view.outputX),
               qv::Saturate32(int64_t(dy) + view.outputY), width, height, 0, 0);
}

void RefreshDisplay(qvVmState* L, qvDisplay* display, int flags) {
    if (display == nullptr) return;
    qv::gfx::GraphicsState& state = qv::gfx::Graphics();
    qv::gfx::BlitHost& host = state.Host();
    const qv::gfx::DisplayView view = state.View(display);
    host.ClearDisplayBorders(display);
    if (!view.doubleBuffered && view.bufferWord == 0) {
        BltToDisplay(qv::gfx::ComposedForWindow(L, display, view), 0, 0, display, 0, 0,
                     view.pictureWidth, view.pictureHeight,
                     flags | QV_REFRESH_AUTOSCALE | QV_REFRESH_WHOLE);
    } else {
        host.FlipBuffers(display, 1, flags);
    }
    host.RefreshVideosOnDisplay(display);
}

bool RefreshDisplayFrom(qvDisplay* display, const qvDisplayBitMap* source) {
    if (display == nullptr) return false;
    qv::gfx::GraphicsState& state = qv::gfx::Graphics();
    const qv::gfx::DisplayView view = state.View(display);
    if (!qv::gfx::RefreshShowsFirstBuffer(view)) return false;
    qv::gfx::BlitHost& host = state.Host();
    host.ClearDisplayBorders(display);
    WindowBlitThrough(source, view.backBuffers[0], view.window, view.outputX, view.outputY,
                      view.pictureWidth, view.pictureHeight);
    host.RefreshVideosOnDisplay(display);
    return true;
}

void WaitVBlank(qvVmState* L) {
    qv::gfx::GraphicsState& state = qv::gfx::Graphics();
    PlatformWaitVBlank(L, state.View(state.Host().CurrentDisplay()).window);
}

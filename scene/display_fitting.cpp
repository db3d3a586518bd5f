// Fitting a background picture to a display: the work bitmaps, the picture at the display's
// size, what shows the picture, and DisplayBGPic.
#include <algorithm>

#include "gfx/blit_frontends.h"
#include "gfx/blit_host.h"
#include "gfx/library/neighbours.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "scene/display_engine.h"
#include "scene/layers/compositor.h"

namespace qv::scene {
namespace {

bool HasSize(const qvDisplayBitMap* bitmap, int32_t width, int32_t height) {
    return bitmap != nullptr && bitmap->width == width && bitmap->height == height;
}

// A copy of the display's picture as composed (layers and sprites included).
int CopyComposed(qvVmState* L, qvDisplay* display, OwnedBitMap* out) {
    qvBGPic* picture = display->settings.picture;
    qvDisplayBitMap* composed = GetDisplayBGPicBitmap(L, display, picture);
    qvDisplayBitMap* copy = nullptr;
    if (int code = CopyBitmapArea(composed, nullptr, nullptr, 0, 0, picture->shownWidth,
                                  picture->shownHeight, 0, &copy, nullptr, nullptr)) {
        return code;
    }
    out->reset(copy);
    return 0;
}

}  // namespace

int NewWorkBitmaps(const qvDisplay* display, int32_t width, int32_t height, WorkBitmaps* out) {
    if (HasSize(display->displayBitmap, width, height) &&
        HasSize(display->compositionBitmap, width, height)) {
        return 0;
    }
    out->display.reset(AllocDisplayBitMap(width, height));
    out->composition.reset(AllocDisplayBitMap(width, height));
    return out->display != nullptr && out->composition != nullptr ? 0 : ERR_MEM;
}

void PutWorkBitmaps(qvDisplay* display, WorkBitmaps* bitmaps) {
    if (bitmaps->display == nullptr) return;
    FreeDisplayBitMap(display->displayBitmap);
    FreeDisplayBitMap(display->compositionBitmap);
    display->displayBitmap = bitmaps->display.release();
    display->compositionBitmap = bitmaps->composition.release();
}

// The composition bitmap takes the picture too when an autoscaled window shows it whole.
void CopyShownPicture(qvDisplay* display, const qvBGPic* picture) {
    const int32_t width = picture->shownWidth, height = picture->shownHeight;
    BltBitMap(picture->shown.bitmap, 0, 0, display->displayBitmap, 0, 0, width, height);
    if (ScalingActive(display->settings) && display->settings.autoscale != 0) {
        BltBitMap(picture->shown.bitmap, 0, 0, display->compositionBitmap, 0, 0, width, height);
    }
}

void InstallWorkBitmaps(qvDisplay* display, const qvBGPic* picture, WorkBitmaps* bitmaps) {
    PutWorkBitmaps(display, bitmaps);
    CopyShownPicture(display, picture);
}

// The second copy of a picture switch (display bitmap to window) reads what the first wrote:
// made in one pass, the switch costs about what one copy and one clear do.
void ShowPictureAndRefresh(qvVmState* L, qvDisplay* display) {
    const qvBGPic* picture = display->settings.picture;
    if (RefreshDisplayFrom(display, picture->shown.bitmap)) return;
    CopyShownPicture(display, picture);
    RefreshDisplay(L, display, 0);
}

int AllocDisplayBuffers(qvDisplay* display, const qvBGPic* picture, int reallocate) {
    if (reallocate == 0) {
        CopyShownPicture(display, picture);
        return 0;
    }
    WorkBitmaps fresh;
    if (int code = NewWorkBitmaps(display, picture->shownWidth, picture->shownHeight, &fresh)) {
        return code;
    }
    InstallWorkBitmaps(display, picture, &fresh);
    return 0;
}

int ResizeBGPicForDisplay(qvVmState* L, qvBGPic* picture, int32_t width, int32_t height,
                          int smooth) {
    if (int code = ScaleKeepAspect(picture->width, picture->height, &width, &height)) return code;
    if (width == picture->width && height == picture->height) return 0;
    return RescaleBGPic(L, picture, width, height, smooth);
}

qvDisplayBitMap* GetDisplayBGPicBitmap(qvVmState* L, qvDisplay* display, qvBGPic* picture) {
    if (!HasLayersOrSprites(picture)) return display->displayBitmap;
    Redraw(L, display, picture, display->compositionBitmap, 0, 0, picture->shownWidth,
           picture->shownHeight, 0, 0);
    return display->compositionBitmap;
}

int RenderBGPicBitmap(qvVmState* L, qvBGPic* picture, int32_t x, int32_t y, int32_t width,
                      int32_t height, qvDisplayBitMap** bitmap, bool* owned) {
    qvDisplay* current = Displays().current;
    const bool layerScaled = current != nullptr && current->settings.layerScaling != 0 &&
                             current->settings.scaleWidth != 0 &&
                             current->settings.scaleHeight != 0;
    *owned = current == nullptr || current->settings.picture != picture || layerScaled;
    *bitmap =
        *owned ? AllocDisplayBitMap(picture->width, picture->height) : current->compositionBitmap;
    if (*bitmap == nullptr) return ERR_MEM;
    Redraw(L, current, picture, *bitmap, x, y, width, height, 0,
           layerScaled ? QV_REDRAW_PICTURESIZE : 0);
    return 0;
}

int DisplayBGPicEx(qvVmState* L, qvObjectId id, int32_t x, int32_t y, int grab,
                   qvDisplayBitMap** newImage, qvDisplayBitMap** oldImage) {
    qvDisplay* display = Displays().current;
    if (display == nullptr) {
        SetErrorNumber(0);
        return ERR_FINDDISPLAY;
    }
    qvBGPic* picture = nullptr;
    if (int code = GetBGPic(L, id, &picture, 0)) return code;
    if (gfx::Neighbour().VideoDumpRecording() && HasShape(picture)) return ERR_VIDRECTRANS;
    OwnedBitMap old;
    if (grab != 0) {
        if (int code = CopyComposed(L, display, &old)) return code;
    }
    VmNewTable(L);
    SetTableFieldId(L, "bgpic", &id);
    if (x != KEEPPOSITION) SetTableFieldInt(L, "x", x);
    if (y != KEEPPOSITION) SetTableFieldInt(L, "y", y);
    const int t = VmGetTop(L);
    const int code = ApplyDisplayAttributes(L, t, display, 0);
    VmSetTop(L, t - 1);
    if (code != 0 || grab == 0) return code;
    OwnedBitMap fresh;
    if (int copied = CopyComposed(L, display, &fresh)) return copied;
    // The old image at the size the new picture is shown at, unless the window scales both.
    const qvDisplaySettings& s = display->settings;
    const bool autoscaled = s.autoscale != 0 && ScalingActive(s);
    if (!autoscaled && (old->width != fresh->width || old->height != fresh->height)) {
        qvDisplayBitMap* scaled = nullptr;
        if (int scaling = ScaleBitmap(old.get(), nullptr, nullptr, 0, 0, nullptr, old->width,
                                      old->height, fresh->width, fresh->height, s.smoothScale,
                                      &scaled, nullptr, nullptr)) {
            return scaling;
        }
        old.reset(scaled);
    }
    // The transition starts from the old image in the window.
    BltToDisplay(old.get(), 0, 0, display, 0, 0, old->width, old->height, QV_REFRESH_AUTOSCALE);
    *newImage = fresh.release();
    *oldImage = old.release();
    return 0;
}

}  // namespace qv::scene

int DisplayBGPic(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    const qvObjectId id = GetObjectIdArg(L, 1);
    int32_t x = 0, y = 0;
    qv::scene::GetXYOptions(L, 2, &x, &y);
    return qv::scene::DisplayBGPicEx(L, id, x, y, 0, nullptr, nullptr);
}

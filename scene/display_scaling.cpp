// Scaled displays: resizing with the scaling engines, letterboxing, the scaled regions, the
// start-up fit, and the pictures fitted to a display that scales.
//
// Autoscale shows the picture (logical size, drawn pixel for pixel into the display and
// composition bitmaps) scaled whole into the window. Layer scaling shows a picture whose shown
// set is at the scale size, its layers painted from display items scaled by the factors. In
// both, the window is the display's size and the picture sits at the scale size between the
// letterbox strips.
#include <algorithm>
#include <cmath>

#include "gfx/blit_frontends.h"
#include "gfx/library/async_draw.h"
#include "gfx/scale.h"
#include "media/video_display.h"
#include "platform/linux/screen.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "runtime/errors.h"
#include "scene/bgpic.h"
#include "scene/display_engine.h"
#include "scene/layers/compositor.h"

namespace qv::scene {
namespace {

constexpr int32_t kDefaultDragHeight = 15;
constexpr int32_t kDefaultSizeBox = 10;

bool HasScaleSize(const qvDisplaySettings& s) {
    return s.scaleWidth != 0 && s.scaleHeight != 0;
}

bool ScalingMode(const qvDisplaySettings& s) {
    return s.autoscale != 0 || s.layerScaling != 0;
}

void SetFactors(qvDisplaySettings* s, int32_t width, int32_t height) {
    s->scaleX = double(s->scaleWidth) / width;
    s->scaleY = double(s->scaleHeight) / height;
}

// A part of a set that another set of the picture, or the set replacing it, still uses.
template <typename Part>
bool PartInUse(Part* part, Part* base, Part* other, Part* replacement) {
    return part == nullptr || part == base || part == other || part == replacement;
}

// One of the picture's sets replaced; its parts that neither the base set, the other set nor
// the replacement use are freed.
void ReplaceSet(qvBGPicSet* set, const qvBGPicSet& base, const qvBGPicSet& other,
                const qvBGPicSet& replacement) {
    if (!PartInUse(set->bitmap, base.bitmap, other.bitmap, replacement.bitmap)) {
        FreeDisplayBitMap(set->bitmap);
    }
    if (!PartInUse(set->mask, base.mask, other.mask, replacement.mask)) FreePlaneBitMap(set->mask);
    if (!PartInUse(set->alpha, base.alpha, other.alpha, replacement.alpha)) {
        FreePlaneBitMap2(set->alpha);
    }
    *set = replacement;
}

void ReplaceShownSet(qvBGPic* picture, const qvBGPicSet& set, int32_t width, int32_t height) {
    ReplaceSet(&picture->shown, picture->base, picture->scaled, set);
    picture->shownWidth = width, picture->shownHeight = height;
}

void ReplaceScaledSet(qvBGPic* picture, const qvBGPicSet& set, int32_t width, int32_t height) {
    ReplaceSet(&picture->scaled, picture->base, picture->shown, set);
    picture->width = width, picture->height = height;
}

int RebuildLayers(qvVmState* L, qvDisplay* display, qvBGPic* picture) {
    if (Hooks().rebuildLayersForDisplay == nullptr) return 0;
    return Hooks().rebuildLayersForDisplay(L, display, picture);
}

// The composition bitmap of an autoscaled display holds the whole picture: every refresh of
// the window copies all of it.
void ComposeForAutoscale(qvVmState* L, qvDisplay* display) {
    qvBGPic* picture = display->settings.picture;
    if (display->settings.autoscale == 0 || display->doubleBufferOutput != 0) return;
    Redraw(L, display, picture, display->compositionBitmap, 0, 0, picture->shownWidth,
           picture->shownHeight, 0, 0);
}

// Layer scaling, a script's resize: the picture's logical size changes, the window and the
// scale size stay.
int ResizeLayerScaledPicture(qvVmState* L, qvDisplay* display, int32_t width, int32_t height,
                             int smooth, int noRedraw) {
    qvDisplaySettings& s = display->settings;
    qvBGPic* picture = s.picture;
    if (width == picture->width && height == picture->height) return 0;
    if (int code = DetachBGPic(L, picture)) return code;
    qvBGPicSet set{};
    if (int code = ScaleBGPicBitmaps(L, picture, width, height, smooth, &set)) return code;
    ReplaceScaledSet(picture, set, width, height);
    SetFactors(&s, width, height);
    ResetDisplayCursor(display, width);
    if (int code = RebuildLayers(L, display, picture)) return code;
    if (noRedraw == 0) RefreshDisplay(L, display, 0);
    return 0;
}

// A script's resize without autoscale: the window's new box, which must fit the screen.
int PlaceScriptResize(qvDisplay* display, int32_t x, int32_t y, int32_t width, int32_t height,
                      qvDisplaySettings* next) {
    if (display->state == DISPSTATE_CLOSED) {
        display->frame = NewSysIImage(display->window, display->settings.flags);
    }
    const FrameSizes& frame = display->frame;
    const ScreenArea area = DisplayScreenArea(display);
    const int32_t outerWidth = width + frame.left + frame.right;
    const int32_t outerHeight = height + frame.top + frame.bottom;
    next->x = ResolveDisplayX(x, outerWidth, area);
    next->y = ResolveDisplayY(y, outerHeight, area);
    if (!HasShape(display->settings.picture) &&
        DisplayFitsScreen(next->x, next->y, outerWidth, outerHeight) == 0) {
        return DisplaySizeError(width, height);
    }
    next->width = width, next->height = height;
    return 0;
}

// The window is width x height: with a scaling mode the picture is shown at the scale size
// between the strips ("keepproportions" keeps its proportions unless it is shaped).
void SizeWindow(qvDisplaySettings* next, const qvBGPic* picture, int32_t width, int32_t height) {
    next->width = width, next->height = height;
    if (!ScalingMode(*next)) return;
    const bool keep = (next->flags & kFlagKeepProportions) != 0 && !HasShape(picture);
    const ScaledArea area = FitScaledArea(picture->width, picture->height, width, height, keep);
    next->scaleWidth = area.width, next->scaleHeight = area.height;
    std::copy_n(area.letterbox, 4, next->letterbox);
}

// The picture takes the size (no scaling, or a script's resize with autoscale); the work
// bitmaps are made before anything changes.
int ResizePicture(qvVmState* L, qvDisplay* display, const qvDisplaySettings& next, int32_t width,
                  int32_t height, int smooth) {
    qvBGPic* picture = display->settings.picture;
    WorkBitmaps fresh;
    if (int code = NewWorkBitmaps(display, width, height, &fresh)) return code;
    if (int code = ResizeBGPicForDisplay(L, picture, width, height, smooth)) return code;
    qvDisplaySettings& s = display->settings;
    s = next;
    InstallWorkBitmaps(display, picture, &fresh);
    if (s.autoscale != 0 && HasScaleSize(s)) SetFactors(&s, width, height);
    return 0;
}

// Layer scaling, the window resized: the display's buffers at the new scale size, for the
// picture and for the one a running transition draws into.
int RescaleLayersForWindow(qvVmState* L, qvDisplay* display) {
    qvBGPic* picture = display->settings.picture;
    if (int code = RebuildDisplayBuffers(L, display, picture, 1)) return code;
    auto* second = static_cast<qvBGPic*>(QueryAsyncDraws());
    if (second == nullptr || second == picture) return 0;
    return RebuildDisplayBuffers(L, display, second, 0);
}

int AutoscaleForWindow(qvVmState* L, qvDisplay* display) {
    FreeScaledShape(display);
    return AutoScaleBGPic(L, display, display->settings.picture, &display->scaledMask,
                          &display->scaledAlpha);
}

// The window shows the resized display: in place, or reopened when its shape changes.
int ShowResized(qvVmState* L, qvDisplay* display, int scriptResize) {
    qvPlatformDisplay* window = display->window;
    if (!WindowIsOpen(window)) return 0;
    qvDisplaySettings& s = display->settings;
    if (HasShape(s.picture)) return ReopenDisplayWindow(L, display);
    // The user's resize keeps the window where the user left it.
    const int32_t x = scriptResize != 0 ? s.x : window->x;
    const int32_t y = scriptResize != 0 ? s.y : window->y;
    const qvDisplayBitMap* framebuffer = window->framebuffer;
    if (x != window->x || y != window->y || framebuffer->width != s.width ||
        framebuffer->height != s.height) {
        if (int code = ChangeDisplayWindowBox(window, x, y, s.width, s.height)) return code;
    }
    MakeDisplayRegions(&s);
    RefreshTitleGadgets(window);
    RefreshDisplay(L, display, 0);
    return 0;
}

int32_t ScaledSide(int32_t side, double factor) {
    return int32_t(std::clamp(std::trunc(side * factor), 0.0, 2147483647.0));
}

// A region the script gave in the display's coordinates, in the window's.
qvDisplayRegion RegionInWindow(const qvDisplayRegion& r, const qvDisplaySettings& s) {
    if (!ScalingActive(s)) return r;
    return {r.type, s.letterbox[0] + ScaledSide(r.x, s.scaleX),
            s.letterbox[1] + ScaledSide(r.y, s.scaleY), ScaledSide(r.width, s.scaleX),
            ScaledSide(r.height, s.scaleY)};
}

// "fitscale": the display's box is the screen (borderless or "private1") or the usable area,
// less the frame.
void FitToScreen(qvDisplay* display) {
    qvDisplaySettings& s = display->settings;
    const bool wholeScreen = (s.flags & kFlagBorderless) != 0 || s.private1 != 0;
    const ScreenArea area =
        wholeScreen ? ScreenArea{0, 0, ScreenWidth(), ScreenHeight()} : UsableScreenArea();
    const FrameSizes frame = Video().frameSizes(s.flags);
    s.x = area.x, s.y = area.y;
    s.width = std::max(area.width - frame.left - frame.right, 1);
    s.height = std::max(area.height - frame.top - frame.bottom, 1);
}

}  // namespace

bool ScalingActive(const qvDisplaySettings& s) {
    return ScalingMode(s) && HasScaleSize(s);
}

ScaledArea FitScaledArea(int32_t pictureWidth, int32_t pictureHeight, int32_t width, int32_t height,
                         bool keepProportions) {
    ScaledArea area{width, height, {0, 0, 0, 0}};
    if (!keepProportions || pictureWidth < 1 || pictureHeight < 1) return area;
    // In integers: the truncation of the exact proportion. Each side is at least 1, so that
    // the factors never become 0.
    int64_t scaledWidth = width;
    int64_t scaledHeight = int64_t(pictureHeight) * width / pictureWidth;
    if (scaledHeight > height) {
        scaledHeight = height;
        scaledWidth = int64_t(pictureWidth) * height / pictureHeight;
    }
    area.width = int32_t(std::max<int64_t>(scaledWidth, 1));
    area.height = int32_t(std::max<int64_t>(scaledHeight, 1));
    area.letterbox[0] = (width - area.width) / 2;
    area.letterbox[2] = width - area.width - area.letterbox[0];
    area.letterbox[1] = (height - area.height) / 2;
    area.letterbox[3] = height - area.height - area.letterbox[1];
    return area;
}

LogicalPoint WindowToLogical(const qvDisplay* display, int32_t x, int32_t y) {
    const qvDisplaySettings& s = display->settings;
    if (!ScalingActive(s) || !(s.scaleX > 0) || !(s.scaleY > 0)) return {double(x), double(y)};
    return {(double(x) - s.letterbox[0]) / s.scaleX, (double(y) - s.letterbox[1]) / s.scaleY};
}

void MakeDisplayRegions(qvDisplaySettings* s) {
    const int32_t width = s->width, height = s->height;
    auto prepare = [&](qvDisplayRegions* regions, qvDisplayRegion fallback) {
        if (regions->given == 0) {
            regions->count = 1;
            regions->used[0] = fallback;
        } else {
            for (int i = 0; i < regions->count; ++i) {
                regions->used[i] = RegionInWindow(regions->supplied[i], *s);
            }
        }
        for (int i = 0; i < regions->count; ++i) {
            qvDisplayRegion& r = regions->used[i];
            r.x = std::clamp(r.x, 0, std::max(width - 1, 0));
            r.y = std::clamp(r.y, 0, std::max(height - 1, 0));
            r.width = int32_t(std::clamp<int64_t>(r.width, 1, int64_t(width) - r.x));
            r.height = int32_t(std::clamp<int64_t>(r.height, 1, int64_t(height) - r.y));
        }
    };
    prepare(&s->dragRegions, {kRegionBox, 0, 0, width, kDefaultDragHeight});
    prepare(&s->sizeRegions, {kRegionBox, width - kDefaultSizeBox, height - kDefaultSizeBox,
                              kDefaultSizeBox, kDefaultSizeBox});
}

int ResizeDisplay(qvVmState* L, qvDisplay* display, int32_t x, int32_t y, int32_t width,
                  int32_t height, int scriptResize, int smooth, int noRedraw) {
    qvDisplaySettings& s = display->settings;
    qvBGPic* picture = s.picture;
    if (int code = ScaleKeepAspect(picture->width, picture->height, &width, &height)) return code;
    if (s.layerScaling != 0 && scriptResize != 0 && HasScaleSize(s)) {
        return ResizeLayerScaledPicture(L, display, width, height, smooth, noRedraw);
    }
    qvDisplaySettings next = s;
    if (scriptResize == 0) {
        SizeWindow(&next, picture, width, height);
    } else if (s.autoscale == 0) {
        if (int code = PlaceScriptResize(display, x, y, width, height, &next)) return code;
    }
    if (int code = DetachBGPic(L, picture)) return code;
    int code = 0;
    if (scriptResize == 0 && next.layerScaling != 0) {
        s = next;
        code = RescaleLayersForWindow(L, display);
    } else if (scriptResize == 0 && next.autoscale != 0) {
        s = next;
        code = AutoscaleForWindow(L, display);
    } else {
        code = ResizePicture(L, display, next, width, height, smooth);
    }
    if (code != 0) return code;
    ComposeForAutoscale(L, display);
    if (s.autoscale != 0 && HasScaleSize(s) && display->doubleBufferOutput != 0 &&
        Hooks().allocBackBuffer != nullptr) {
        code = Hooks().allocBackBuffer(L, display);
    }
    if (code == 0 && noRedraw == 0) code = ShowResized(L, display, scriptResize);
    ResetDisplayCursor(display, picture->width);
    if (ScalingMode(s)) UpdateVideoPositions(L, display);
    return code;
}

int PrepareInitialDisplaySize(qvVmState* L, qvDisplay* display) {
    qvDisplaySettings& s = display->settings;
    qvBGPic* picture = s.picture;
    if (int code = AllocDisplayBuffers(display, picture, 1)) return code;
    if (!ScalingMode(s)) return 0;
    const bool fit = (s.flags & kFlagFitScale) != 0;
    if (fit) FitToScreen(display);
    if (!fit && !HasScaleSize(s)) return 0;
    const int32_t width = fit ? s.width : s.scaleWidth;
    const int32_t height = fit ? s.height : s.scaleHeight;
    return ResizeDisplay(L, display, 0, 0, width, height, 0, s.smoothScale, 1);
}

int RebuildDisplayBuffers(qvVmState* L, qvDisplay* display, qvBGPic* picture, int reallocate) {
    qvDisplaySettings& s = display->settings;
    const int32_t width = s.scaleWidth, height = s.scaleHeight;
    // At the picture's own size the shown set is its scaled set: the layers at scale 1.0.
    const bool unscaled = width == picture->width && height == picture->height;
    qvBGPicSet set = picture->scaled;
    if (!unscaled) {
        if (int code = ScaleBGPicBitmaps(L, picture, width, height, s.smoothScale, &set)) {
            return code;
        }
    }
    WorkBitmaps fresh;
    if (reallocate != 0) {
        if (int code = NewWorkBitmaps(display, width, height, &fresh)) {
            if (!unscaled) {
                FreeDisplayBitMap(set.bitmap);
                FreePlaneBitMap(set.mask);
                FreePlaneBitMap2(set.alpha);
            }
            return code;
        }
    }
    ReplaceShownSet(picture, set, width, height);
    SetFactors(&s, picture->width, picture->height);
    if (reallocate != 0) InstallWorkBitmaps(display, picture, &fresh);
    return RebuildLayers(L, display, picture);
}

int AutoScaleBGPic(qvVmState* L, qvDisplay* display, qvBGPic* picture, qvPlaneBitMap** mask,
                   qvPlaneBitMap** alpha) {
    qvDisplaySettings& s = display->settings;
    *mask = nullptr, *alpha = nullptr;
    if (s.layerScaling != 0 && HasScaleSize(s)) {
        if (picture->shownWidth == s.scaleWidth && picture->shownHeight == s.scaleHeight) {
            SetFactors(&s, picture->width, picture->height);
            return 0;
        }
        return RebuildDisplayBuffers(L, display, picture, 0);
    }
    if (s.autoscale == 0 || !HasScaleSize(s)) {
        s.scaleX = s.scaleY = 1.0;
        return 0;
    }
    SetFactors(&s, picture->width, picture->height);
    if ((s.scaleX == 1.0 && s.scaleY == 1.0) || !HasShape(picture)) return 0;
    const qvBGPicSet& shown = picture->shown;
    // Only the planes: the window's shape.
    return ScaleBitmap(nullptr, shown.mask, shown.alpha, 0, 0, nullptr, picture->shownWidth,
                       picture->shownHeight, s.scaleWidth, s.scaleHeight, s.smoothScale, nullptr,
                       shown.mask != nullptr ? mask : nullptr,
                       shown.alpha != nullptr ? alpha : nullptr);
}

void FreeScaledShape(qvDisplay* display) {
    FreePlaneBitMap(display->scaledMask);
    FreePlaneBitMap2(display->scaledAlpha);
    display->scaledMask = nullptr, display->scaledAlpha = nullptr;
}

void UnscaleShownSet(qvBGPic* picture) {
    ReplaceShownSet(picture, picture->scaled, picture->width, picture->height);
}

void ShowAtLogicalSize(qvVmState* L, qvBGPic* picture) {
    UnscaleShownSet(picture);
    // Without a display the layers go back to their picture items; nothing there can fail.
    RebuildLayers(L, nullptr, picture);
}

}  // namespace qv::scene

#include "scene/display_modes.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "gfx/geometry.h"
#include "gfx/library/neighbours.h"
#include "gfx/safe_blt.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/requester.h"
#include "platform/linux/screen.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/option_tables.h"
#include "runtime/runtime_state.h"
#include "scene/bgpic.h"
#include "scene/display_engine.h"
#include "scene/double_buffer.h"

namespace qv::scene {
namespace {

// Start-up display modes.
enum : int {
    kModeDefault = 0,
    kModeWindowed = 1,
    kModeBestFit = 2,
    kModeAsk = 3,
    kModeManual = 4,
    kModeDesktopFullScreen = 6,
};

// Backfill kinds.
enum : uint32_t {
    kBackfillNone = 0,
    kBackfillColour = 1,
    kBackfillGradient = 2,
    kBackfillTexture = 3,
    kBackfillPicture = 4,
};

constexpr int32_t kGradientLinear = 2;
// The flags a display shown on the desktop gets: borderless, fixed, no mode switch, no hide
// gadget, active.
constexpr uint32_t kDesktopDisplayFlags =
    kFlagBorderless | kFlagFixed | kFlagNoModeSwitch | kFlagNoHide | kFlagActive;
constexpr uint32_t kFullScreenFlags = kFlagBorderless | kFlagFixed;

// Black over the whole screen.
qvBackfill BlackBackfill() {
    qvBackfill backfill{};
    backfill.mode = kBackfillColour;
    backfill.startColour = 0;
    backfill.endColour = -1;
    backfill.coverTitleBar = 1;
    return backfill;
}

// The applet's declared backfill, else black in full screen and none in windows.
qvBackfill BackfillFor(const qvScriptHeader* header, bool fullScreen) {
    if (header != nullptr && header->display.backfill.mode != kBackfillNone) {
        return header->display.backfill;
    }
    if (fullScreen) return BlackBackfill();
    qvBackfill none{};
    none.coverTitleBar = 1;
    return none;
}

// A display closed for the switch: its input reset, its activation kept for the reopening.
void CloseForSwitch(qvVmState* L, qvDisplay* display) {
    EndDoubleBufferEx(display);
    CloseDisplayWindow(display->window);
    ResetDisplayInput(L, display);
    display->state = DISPSTATE_CLOSED;
}

int ReopenAfterSwitch(qvVmState* L, bool fullScreen) {
    for (qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
        qvDisplaySettings& s = d->settings;
        if (d->reopenAfterModeSwitch == 0 && s.private1 == 0) continue;
        d->reopenAfterModeSwitch = 0;
        if (s.private1 == 0) {
            s.x = s.y = gfx::CENTER;
            s.flags = fullScreen ? (s.flags | kFullScreenFlags) & ~kFlagSizeable
                                 : s.flags & ~kFullScreenFlags;
        }
        if (int code = OpenDisplayEx(L, d, d->activateOnOpen)) return code;
    }
    return 0;
}

// The handle that a maker called by name left on the stack, taken off it. While errors do not
// end the script, a failed maker leaves none and its error is the last error.
int TakeHandle(qvVmState* L, void** handle) {
    const bool made = VmType(L, -1) == VM_TLIGHTUSERDATA;
    *handle = made ? VmToUserdata(L, -1) : nullptr;
    VmSetTop(L, VmGetTop(L) - 1);
    if (made) return 0;
    const auto last = int(Runtime().error.lastError);
    return last != 0 ? last : ERR_BACKFILL;
}

void FreeByName(qvVmState* L, const char* command, void** handle) {
    if (*handle == nullptr) return;
    CallScriptFunction(L, command, 0, 1, QV_CALLARG_POINTER, *handle);
    *handle = nullptr;
}

// Mode 3: the user chooses.
int AskDisplayMode(const qvDisplay* first) {
    const int answer =
        ShowMessageRequester(first->settings.title, "Please select desired display mode!",
                             "Full screen (best fit)|Windowed|Full screen (manual select)", 0);
    switch (answer) {
        case 1:
            return kModeBestFit;
        case 0:
            return kModeManual;
        default:
            return kModeWindowed;
    }
}

// Display 1 shows the desktop: a borderless window over the whole screen, never scaled.
int PrepareDesktopDisplay(qvDisplay* first) {
    if (gfx::Neighbour().VideoDumpRecording()) return ERR_DDRECVIDEO;
    qvDisplaySettings& s = first->settings;
    if (s.autoscale != 0 || s.layerScaling != 0) return ERR_DDAUTOSCALE;
    s.flags = kDesktopDisplayFlags;
    s.x = s.y = 0;
    return 0;
}

ScreenCache CacheOf(const qvScriptHeader* header) {
    if (header == nullptr) return {-1, -1};
    return {header->display.screenWidth, header->display.screenHeight};
}

}  // namespace

int32_t ScreenDepth() {
    return int32_t(QueryBitMapAttr(nullptr, 21));
}

void FitDisplaySizeToScreen(ScreenCache* cache, qvDisplay* display, int32_t* width,
                            int32_t* height) {
    qvDisplaySettings& s = display->settings;
    const FrameSizes frame = Video().frameSizes(s.flags);
    const int32_t outerWidth = s.width + frame.left + frame.right;
    const int32_t outerHeight = s.height + frame.top + frame.bottom;
    if (cache->width == 0 || cache->height == 0) {
        cache->width = ScreenWidth(), cache->height = ScreenHeight();
    }
    *width = outerWidth, *height = outerHeight;
    // A screen that is not available is never a size.
    if (cache->width < 1 || cache->height < 1) return;
    const bool fits = outerWidth <= cache->width && outerHeight <= cache->height;
    const bool innerFits = s.width <= cache->width && s.height <= cache->height;
    if (!fits && (!innerFits || (s.flags & kFlagBorderless) != 0)) return;
    if (!fits) s.flags |= kFlagBorderless;
    *width = cache->width, *height = cache->height;
}

int ChangeDisplayModeEx(qvVmState* L, int fullScreen, int32_t width, int32_t height) {
    DisplayState& state = Displays();
    const int32_t depth = ScreenDepth();
    if (fullScreen == 0 && !state.ownScreen) return 0;
    if (fullScreen != 0 && state.ownScreen && width == ScreenWidth() && height == ScreenHeight()) {
        return 0;
    }
    for (qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
        d->reopenAfterModeSwitch = d->state != DISPSTATE_CLOSED ? 1 : 0;
        if (d->reopenAfterModeSwitch != 0) CloseForSwitch(L, d);
    }
    FreeBackfillObjects(L);
    ReleaseScreenPens();
    if (fullScreen != 0) {
        if (int code = OpenDisplayScreen(width, height, depth)) return code;
        state.ownScreen = true;
    } else {
        CloseDisplayScreen();
        state.ownScreen = false;
        if (ScreenDepth() != depth) return ERR_DIFFDEPTH;
    }
    const qvBackfill backfill = BackfillFor(GetAppletDescriptor(L), fullScreen != 0);
    if (backfill.mode != kBackfillNone) {
        if (int code = CreateBackfillDisplay(L, backfill)) return code;
    }
    return ReopenAfterSwitch(L, fullScreen != 0);
}

int ToggleDisplayMode(qvVmState* L, const qvDisplay* display) {
    // As ChangeDisplayMode, not while a video is recorded.
    if (gfx::Neighbour().VideoDumpRecording()) return ERR_WRONGCMDRECVIDEO;
    if (Displays().ownScreen) return ChangeDisplayModeEx(L, 0, 0, 0);
    const ScreenCache asked = CacheOf(GetAppletDescriptor(L));
    const bool given = asked.width > 0 && asked.height > 0;
    const qvDisplaySettings& s = display->settings;
    return ChangeDisplayModeEx(L, 1, given ? asked.width : s.width,
                               given ? asked.height : s.height);
}

// Kinds 3 and 4 start from a brush: the declared file, loaded without a progress line in
// the middle of start-up's, or a copy of the declared brush.
int MakeBackfillBrush(qvVmState* L, const qvBackfill& settings, void** brush) {
    const std::string file(settings.brushFile,
                           strnlen(settings.brushFile, sizeof settings.brushFile));
    int code = 0;
    if (!file.empty()) {
        uint32_t& quiet = Runtime().quiet;
        const uint32_t wasQuiet = std::exchange(quiet, 1);
        // The declared transparent colour keys the brush's mask.
        code = settings.transparentColour >= 0
                   ? CallScriptFunction(L, "LoadBrush", 1, 3, QV_CALLARG_NIL, QV_CALLARG_STRING,
                                        file.c_str(), QV_CALLARG_INT, settings.transparentColour)
                   : CallScriptFunction(L, "LoadBrush", 1, 2, QV_CALLARG_NIL, QV_CALLARG_STRING,
                                        file.c_str());
        quiet = wasQuiet;
    } else {
        code = CallScriptFunction(L, "CopyBrush", 1, 2, QV_CALLARG_UINT, settings.brushId,
                                  QV_CALLARG_NIL);
    }
    return code != 0 ? code : TakeHandle(L, brush);
}

// Kind 4: the brush on the new picture at the declared position, through its mask or alpha.
// The picture is not shown yet, so its sets are still one bitmap.
int DrawBackfillBrush(qvVmState* L, const qvBackfill& settings, void* brushHandle,
                      void* pictureHandle) {
    gfx::PictureView brush{};
    if (int code = gfx::Neighbour().GetBrush(L, {0, brushHandle}, &brush)) return code;
    qvBGPic* picture = nullptr;
    if (int code = GetBGPic(L, {0, pictureHandle}, &picture, 0)) return code;
    const int32_t x = ResolvePosX(settings.pictureX, brush.width, picture->width, 0);
    const int32_t y = ResolvePosY(settings.pictureY, brush.height, picture->height, 0);
    SafeBlt(L, brush.bitmap, 0, 0, picture->base.bitmap, x, y, brush.width, brush.height,
            brush.width, brush.height, picture->width, picture->height,
            QV_BLIT_NOREGION | QV_BLIT_NOSPRITES | QV_BLIT_OFFSCREEN, brush.mask, brush.alpha,
            nullptr);
    return 0;
}

int CreateBackfillBGPic(qvVmState* L, const qvBackfill& settings, void** picture, int32_t* y) {
    const int32_t width = ScreenWidth();
    *y = settings.coverTitleBar != 0 ? 0 : std::min(ScreenTitleBar(), ScreenHeight() - 1);
    const int32_t height = ScreenHeight() - *y;
    const int32_t first = std::max(settings.startColour, 0);
    void*& brush = Displays().backfillBrush;
    if (settings.mode == kBackfillTexture || settings.mode == kBackfillPicture) {
        if (int code = MakeBackfillBrush(L, settings, &brush)) return code;
    }
    int code = 0;
    if (settings.mode == kBackfillTexture) {
        code =
            CallScriptFunction(L, "CreateTexturedBGPic", 1, 4, QV_CALLARG_NIL, QV_CALLARG_POINTER,
                               brush, QV_CALLARG_INT, width, QV_CALLARG_INT, height);
        return code != 0 ? code : TakeHandle(L, picture);
    }
    if (settings.mode == kBackfillPicture && settings.scalePicture != 0) {
        code = CallScriptFunction(L, "ScaleBrush", 0, 3, QV_CALLARG_POINTER, brush, QV_CALLARG_INT,
                                  width, QV_CALLARG_INT, height);
        if (code != 0) return code;
    }
    // A picture backfill lies on a gradient when both colours are given.
    const bool gradient =
        settings.mode == kBackfillGradient ||
        (settings.mode == kBackfillPicture && settings.startColour >= 0 && settings.endColour >= 0);
    if (gradient) {
        code = CallScriptFunction(L, "CreateGradientBGPic", 1, 6, QV_CALLARG_NIL, QV_CALLARG_INT,
                                  kGradientLinear, QV_CALLARG_INT, first, QV_CALLARG_INT,
                                  std::max(settings.endColour, 0), QV_CALLARG_INT, width,
                                  QV_CALLARG_INT, height);
    } else if (settings.mode == kBackfillColour || settings.mode == kBackfillPicture) {
        code = CallScriptFunction(L, "CreateBGPic", 1, 4, QV_CALLARG_NIL, QV_CALLARG_INT, width,
                                  QV_CALLARG_INT, height, QV_CALLARG_INT, first);
    } else {
        return ERR_BACKFILL;
    }
    if (code == 0) code = TakeHandle(L, picture);
    if (code == 0 && settings.mode == kBackfillPicture) {
        code = DrawBackfillBrush(L, settings, brush, *picture);
    }
    return code;
}

int CreateBackfillDisplay(qvVmState* L, const qvBackfill& settings) {
    DisplayState& state = Displays();
    int32_t y = 0;
    if (int code = CreateBackfillBGPic(L, settings, &state.backfillPicture, &y)) {
        FreeBackfillObjects(L);
        return code;
    }
    VmNewTable(L);
    SetTableFieldInt(L, "y", y);
    SetTableFieldInt(L, "borderless", 1);
    SetTableFieldInt(L, "fixed", 1);
    const qvObjectId picture{0, state.backfillPicture};
    SetTableFieldId(L, "bgpic", &picture);
    SetTableFieldInt(L, "hidepointer", 1);
    SetTableFieldInt(L, "private1", 1);
    const int table = VmGetTop(L);
    int code =
        CallScriptFunction(L, "createdisplay", 1, 2, QV_CALLARG_NIL, QV_CALLARG_VALUE, table);
    if (code == 0) code = TakeHandle(L, &state.backfillDisplay);
    VmSetTop(L, table - 1);
    if (code != 0) FreeBackfillObjects(L);
    return code;
}

void FreeBackfillObjects(qvVmState* L) {
    DisplayState& state = Displays();
    FreeByName(L, "FreeDisplay", &state.backfillDisplay);
    FreeByName(L, "FreeBGPic", &state.backfillPicture);
    FreeByName(L, "FreeBrush", &state.backfillBrush);
}

int PrepareStartupScreen(const qvScriptHeader* header, qvDisplay* first, StartupScreen* out) {
    int mode = header != nullptr ? int(header->display.displayMode) : kModeDefault;
    if (mode == kModeAsk) mode = AskDisplayMode(first);
    out->desktop = header != nullptr && header->wholeScreenFirstDisplay != 0;
    const bool fullScreen =
        mode == kModeBestFit || mode == kModeManual || mode == kModeDesktopFullScreen;
    // Full screen at start-up covers the desktop in black, whatever backfill was declared.
    out->backfill = fullScreen ? BlackBackfill() : BackfillFor(header, false);
    qvDisplaySettings& s = first->settings;
    if (mode == kModeBestFit || mode == kModeManual) s.flags |= kFullScreenFlags;
    if (mode == kModeDesktopFullScreen) {
        s.flags |= kFullScreenFlags | kFlagDesktopFullScreen;
        mode = kModeWindowed;
    }
    if (out->desktop) {
        if (int code = PrepareDesktopDisplay(first)) return code;
        mode = kModeWindowed;
        out->backfill.mode = kBackfillNone;
    }
    if (mode == kModeDefault || mode == kModeWindowed) return 0;
    ScreenCache cache = CacheOf(header);
    int32_t fittedWidth = 0, fittedHeight = 0, width = 0, height = 0, depth = 0;
    FitDisplaySizeToScreen(&cache, first, &fittedWidth, &fittedHeight);
    SelectScreenModeForDisplay(mode, fittedWidth, fittedHeight, &width, &height, &depth);
    if (int code = OpenDisplayScreen(width, height, depth)) return code;
    Displays().ownScreen = true;
    return 0;
}

int ShowDesktopInDisplay(qvDisplay* first) {
    DisplayState& state = Displays();
    FreeDisplayBitMap(state.desktop);
    state.desktop = GrabScreenToBitMap(nullptr, 0, 0, ScreenWidth(), ScreenHeight());
    if (state.desktop == nullptr) return ERR_MEM;
    const qvBGPic* picture = first->settings.picture;
    const int32_t width = state.desktop->width, height = state.desktop->height;
    qvDisplayBitMap* const base = picture->base.bitmap;
    qvDisplayBitMap* const scaled = picture->scaled.bitmap;
    qvDisplayBitMap* const shown = picture->shown.bitmap;
    BltBitMap(state.desktop, 0, 0, base, 0, 0, width, height);
    if (scaled != base) BltBitMap(state.desktop, 0, 0, scaled, 0, 0, width, height);
    if (shown != base && shown != scaled)
        BltBitMap(state.desktop, 0, 0, shown, 0, 0, width, height);
    return 0;
}

}  // namespace qv::scene

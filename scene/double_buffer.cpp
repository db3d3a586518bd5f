#include "scene/double_buffer.h"

#include <algorithm>

#include "gfx/blit_frontends.h"
#include "gfx/blit_host.h"
#include "gfx/scale.h"
#include "media/video_display.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/memory.h"
#include "platform/linux/video/video.h"
#include "runtime/errors.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/layer.h"
#include "scene/output_redirect.h"

using namespace qv::gfx;

namespace qv::scene {
namespace {

// The two buffers in qvDisplay::backBuffers.
constexpr int kFront = 0, kBack = 1;
constexpr uint32_t kCompositingCapability = 8;

bool Autoscaled(const qvDisplay* display) {
    const qvDisplaySettings& s = display->settings;
    return s.autoscale != 0 && s.scaleWidth != 0 && s.scaleHeight != 0;
}

// A bitmap cleared to colour 0: screen-friend unless the back end vetoes those.
qvDisplayBitMap* NewBuffer(int32_t width, int32_t height, bool screenFriend) {
    qvDisplayBitMap* bitmap =
        screenFriend ? AllocDisplayBitMapAlt(width, height) : AllocDisplayBitMap(width, height);
    if (bitmap != nullptr) RectFill(bitmap, 0, 0, width, height, 0);
    return bitmap;
}

// Why the display cannot start double buffering; 0 when it can.
int BeginRefusal(const qvDisplay* display) {
    const qvBGPic* output = Displays().outputPicture;
    switch (display->outputType) {
        case kTargetBrush:
            if (output != display->doubleBufferPicture) {
                return output != nullptr && output->outputKind == kTargetAnim ? ERR_SELECTANIM
                                                                              : ERR_SELECTBRUSH;
            }
            break;
        case kTargetMask:
            return ERR_SELECTMASK;
        case kTargetAlphaChannel:
            return ERR_SELECTALPHACHANNEL;
        case kTargetBGPic:
            return ERR_SELECTBG;
        default:
            break;
    }
    const qvBGPic* picture = display->settings.picture;
    if (display->layersEnabled != 0 || CountLayers(picture) != 0) {
        return display->doubleBufferOutput != 0 ? ERR_ENDDOUBLEBUFFER : ERR_LAYERSOFF;
    }
    if (picture->sprites != nullptr) return ERR_NOSPRITES;
    if (HasShape(picture)) return ERR_DBTRANSWIN;
    if (VideoPlayingOnDisplay(display) != 0) return ERR_VIDATTACHED;
    return 0;
}

// The rectangle of a dirty entry cut to width x height; false when nothing is left.
bool EntryRect(const qvRect& r, int32_t width, int32_t height, int32_t* x, int32_t* y, int32_t* w,
               int32_t* h) {
    if (r.x1 == kMergedAway) return false;
    const int64_t rw = int64_t(r.x2) + 1 - r.x1, rh = int64_t(r.y2) + 1 - r.y1;
    if (rw < 1 || rh < 1) return false;
    *x = r.x1, *y = r.y1;
    *w = int32_t(std::min<int64_t>(rw, INT32_MAX)), *h = int32_t(std::min<int64_t>(rh, INT32_MAX));
    ClipRectToSize(width, height, x, y, w, h);
    return *w > 0 && *h > 0;
}

// Step 2 of Flip: the back buffer's changes into the front buffer.
void CopyChanges(qvDisplay* display, const qvBGPic* record) {
    qvDisplayBitMap* back = display->backBuffers[kBack];
    qvDisplayBitMap* front = display->backBuffers[kFront];
    qvRectList& dirty = display->dirtyRects;
    if (RectListWhole(&dirty)) {
        BltBitMap(back, 0, 0, front, 0, 0, record->width, record->height);
        return;
    }
    MergeDirtyRects(&dirty);
    for (int32_t i = 0; i < dirty.count; ++i) {
        int32_t x, y, w, h;
        if (EntryRect(dirty.rects[i], record->width, record->height, &x, &y, &w, &h)) {
            BltBitMap(back, x, y, front, x, y, w, h);
        }
    }
}

}  // namespace

int BeginDoubleBuffer(qvVmState*, int hardware) {
    qvDisplay* display = Displays().current;
    if (display == nullptr) {
        SetErrorNumber(0);
        return ERR_FINDDISPLAY;
    }
    if (int code = BeginRefusal(display)) return code;
    const qvBGPic* picture = display->settings.picture;
    const bool scaled = Autoscaled(display);
    const qvDisplaySettings& s = display->settings;
    const bool veto = ScreenFriendsVetoed();
    OwnedBitMap front(NewBuffer(scaled ? s.scaleWidth : picture->width,
                                scaled ? s.scaleHeight : picture->height, !veto));
    const bool compositing =
        hardware != 0 && CompositingSupported(kCompositingCapability) != 0 && !veto;
    OwnedBitMap back(NewBuffer(picture->width, picture->height, compositing));
    qvRectList dirty{};
    if (front == nullptr || back == nullptr || InitRectList(&dirty, kRectListGrowth) != 0) {
        return ERR_MEM;
    }
    if (display->doubleBufferPicture == nullptr) {
        display->doubleBufferPicture = static_cast<qvBGPic*>(AllocMemBlock(sizeof(qvBGPic), 1));
        if (display->doubleBufferPicture == nullptr) {
            FreeRectList(&dirty);
            return ERR_MEM;
        }
    }
    FreeRectList(&display->dirtyRects);
    display->dirtyRects = dirty;
    FreeDisplayBitMap(display->backBuffers[kFront]);
    FreeDisplayBitMap(display->backBuffers[kBack]);
    display->backBuffers[kFront] = front.release();
    display->backBuffers[kBack] = back.release();
    qvBGPic* record = display->doubleBufferPicture;
    const qvObjectId automatic{0, record};
    FillOutputRecord(record, kTargetBrush, nullptr, 0, &automatic, display->backBuffers[kBack],
                     nullptr, nullptr, picture->width, picture->height, 1);
    Displays().outputPicture = record;
    display->outputType = kTargetBrush;
    display->outputBitmap = display->backBuffers[kBack];
    display->outputMask = nullptr, display->outputAlpha = nullptr;
    display->hardwareDoubleBuffer = compositing ? 1 : 0;
    display->doubleBufferOutput = 1, display->doubleBufferPending = 0;
    return 0;
}

int Flip(qvVmState* L, int sync) {
    qvDisplay* display = Displays().current;
    if (display == nullptr || display->doubleBufferOutput == 0) return ERR_NODOUBLEBUFFER;
    const qvBGPic* record = display->doubleBufferPicture;
    if (Autoscaled(display)) {
        const qvDisplaySettings& s = display->settings;
        const int code =
            ScaleBitmap(display->backBuffers[kBack], nullptr, nullptr, 0, 0,
                        display->backBuffers[kFront], record->width, record->height, s.scaleWidth,
                        s.scaleHeight, s.smoothScale, nullptr, nullptr, nullptr);
        if (code != 0) return code;
    } else {
        CopyChanges(display, record);
    }
    if (sync != 0) WaitVBlank(L);
    FlipBuffers(display, 0, 0);
    display->dirtyRects.count = 0;
    // The window shows the new picture from this blank on, not a frame later.
    qv::PresentChanges();
    return 0;
}

void FlipBuffers(qvDisplay* display, int whole, int refreshFlags) {
    const qvBGPic* record = display->doubleBufferPicture;
    const qvBGPic* picture = display->settings.picture;
    qvDisplayBitMap* front = display->backBuffers[kFront];
    if (record == nullptr || picture == nullptr || front == nullptr) return;
    const bool scaled = Autoscaled(display);
    const qvDisplaySettings& s = display->settings;
    const int32_t width = scaled ? s.scaleWidth : std::min(record->width, picture->width);
    const int32_t height = scaled ? s.scaleHeight : std::min(record->height, picture->height);
    const qvRectList& dirty = display->dirtyRects;
    if (whole != 0 || RectListWhole(&dirty) || scaled) {
        BltToDisplay(front, 0, 0, display, 0, 0, width, height, refreshFlags);
    } else {
        for (int32_t i = 0; i < dirty.count; ++i) {
            int32_t x, y, w, h;
            if (EntryRect(dirty.rects[i], width, height, &x, &y, &w, &h)) {
                BltToDisplay(front, x, y, display, x, y, w, h, refreshFlags);
            }
        }
    }
    if (scaled || whole == 0 || display->displayBitmap == nullptr) return;
    // The picture outgrew the buffers: the strips they do not cover come from the display.
    if (picture->width > width) {
        BltToDisplay(display->displayBitmap, width, 0, display, width, 0, picture->width - width,
                     picture->height, refreshFlags);
    }
    if (picture->height > height) {
        BltToDisplay(display->displayBitmap, 0, height, display, 0, height, width,
                     picture->height - height, refreshFlags);
    }
}

int EndDoubleBufferEx(qvDisplay* display) {
    if (display == nullptr || display->doubleBufferOutput == 0) return ERR_NODOUBLEBUFFER;
    const qvBGPic* picture = display->settings.picture;
    qvDisplayBitMap* back = display->backBuffers[kBack];
    if (display->displayBitmap != nullptr) {
        BltBitMap(back, 0, 0, display->displayBitmap, 0, 0, picture->width, picture->height);
    }
    if (Autoscaled(display) && display->compositionBitmap != nullptr) {
        BltBitMap(back, 0, 0, display->compositionBitmap, 0, 0, picture->width, picture->height);
    }
    FreeDisplayBitMap(display->backBuffers[kFront]);
    FreeDisplayBitMap(back);
    display->backBuffers[kFront] = display->backBuffers[kBack] = nullptr;
    if (Displays().current == display) Displays().outputPicture = display->settings.picture;
    display->hardwareDoubleBuffer = 0;
    display->outputType = kTargetDisplay;
    display->outputBitmap = nullptr, display->outputMask = nullptr, display->outputAlpha = nullptr;
    display->doubleBufferOutput = 0;
    return 0;
}

int AllocBackBuffer(qvDisplay* display, int32_t width, int32_t height) {
    qvDisplayBitMap* front = NewBuffer(width, height, !ScreenFriendsVetoed());
    if (front == nullptr) return ERR_MEM;
    FreeDisplayBitMap(display->backBuffers[kFront]);
    display->backBuffers[kFront] = front;
    BltToDisplay(front, 0, 0, display, 0, 0, width, height, 0);
    return 0;
}

int AllocScaledBackBuffer(qvVmState*, qvDisplay* display) {
    const qvDisplaySettings& s = display->settings;
    return AllocBackBuffer(display, s.scaleWidth, s.scaleHeight);
}

}  // namespace qv::scene

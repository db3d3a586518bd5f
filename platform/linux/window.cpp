#include "platform/linux/window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/error_codes.h"
#include "gfx/kernels/rows.h"
#include "gfx/scale.h"
#include "platform/linux/blocks.h"
#include "platform/linux/lists.h"
#include "platform/linux/testing.h"
#include "platform/linux/video/video.h"

namespace qv {
namespace {

qvPlatformDisplay* windows = nullptr;  // open, bottom first
uint32_t openings = 0;
uint64_t titleGadgetRefreshes = 0;
bool appWindowsRefused = false;  // a test hook
qvVideoDumpState videoDump{};

void ClearBitMap(qvDisplayBitMap* bitmap) {
    std::memset(bitmap->pixels, 0,
                size_t(bitmap->rowLength) * bitmap->bytesPerPixel * size_t(bitmap->height));
}

// Nearest-neighbour scaling of the rectangle into width x height pixels at dest.
void ScaleInto(const qvDisplayBitMap* bitmap, int32_t sx, int32_t sy, int32_t width, int32_t height,
               uint8_t* dest, int32_t destRowLength, int32_t scaledWidth, int32_t scaledHeight) {
    qvScaleBlock block{};
    block.source = PixelAt(bitmap->pixels, bitmap->rowLength, bitmap->bytesPerPixel, sx, sy);
    block.dest = dest;
    block.sourceWidth = width, block.sourceHeight = height;
    block.destWidth = scaledWidth, block.destHeight = scaledHeight;
    block.sourceRowLength = bitmap->rowLength, block.destRowLength = destRowLength;
    block.format = bitmap->format, block.bytesPerPixel = bitmap->bytesPerPixel;
    ScalePixels(block);
}

// The rectangle scaled to the scaled size at (dx, dy): straight into the framebuffer when
// it fits there in the same format, else through a scaled copy that the blit cuts to the
// framebuffer and converts.
void ScaledWindowBlit(const qvDisplayBitMap* bitmap, int32_t sx, int32_t sy,
                      qvDisplayBitMap* framebuffer, int32_t dx, int32_t dy, int32_t width,
                      int32_t height, int32_t scaledWidth, int32_t scaledHeight) {
    if (width < 1 || height < 1 || scaledWidth < 1 || scaledHeight < 1 ||
        !gfx::RectInPicture(bitmap, nullptr, nullptr, sx, sy, width, height)) {
        return;
    }
    if (bitmap->format == framebuffer->format &&
        gfx::RectInPicture(framebuffer, nullptr, nullptr, dx, dy, scaledWidth, scaledHeight)) {
        ScaleInto(bitmap, sx, sy, width, height,
                  PixelAt(framebuffer->pixels, framebuffer->rowLength, framebuffer->bytesPerPixel,
                          dx, dy),
                  framebuffer->rowLength, scaledWidth, scaledHeight);
        return;
    }
    OwnedBitMap scaled(AllocBitMapInFormat(scaledWidth, scaledHeight, bitmap->format, false));
    if (!scaled) return;
    ScaleInto(bitmap, sx, sy, width, height, scaled->pixels, scaled->rowLength, scaledWidth,
              scaledHeight);
    BltBitMap(scaled.get(), 0, 0, framebuffer, dx, dy, scaledWidth, scaledHeight);
}

// Runs draw on the framebuffer of an open window under its lock and adds the damage.
template <typename Draw>
void DrawIntoWindow(qvPlatformDisplay* window, DamageRect area, Draw draw) {
    if (window == nullptr) return;
    std::lock_guard<std::recursive_mutex> hold(window->lock);
    if (window->framebuffer == nullptr) return;
    draw(window->framebuffer);
    AddDamage(window, area);
}

DamageRect Union(const DamageRect& a, const DamageRect& b) {
    int32_t left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    int32_t right = std::max(a.x + a.width, b.x + b.width);
    int32_t bottom = std::max(a.y + a.height, b.y + b.height);
    return {left, top, right - left, bottom - top};
}

bool Contains(const DamageRect& outer, const DamageRect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

// The shape as a 1-bit plane of the inner size: the mask's bits, or the alpha plane's
// non-zero bytes. Pixels beyond the given plane show. Null with *failed when memory is short.
qvPlaneBitMap* ShapeOf(const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha, int32_t width,
                       int32_t height, bool* failed) {
    const qvPlaneBitMap* given = PlaneUsable(mask) ? mask : PlaneUsable(alpha) ? alpha : nullptr;
    if (given == nullptr) return nullptr;
    qvPlaneBitMap* shape = AllocMaskBitMap(nullptr, width, height, 1);
    if (shape == nullptr) {
        *failed = true;
        return nullptr;
    }
    FillMaskRect(shape, 0, 0, width, height, 0);
    const int32_t coverWidth =
        int32_t(std::min<int64_t>({width, given->width, PlaneExtentX(given)}));
    const int32_t coverHeight = std::min(height, given->height);
    if (given->depth == 1) {
        CombineMaskRect(given, 0, 0, shape, 0, 0, coverWidth, coverHeight, 2);
        return shape;
    }
    for (int32_t y = 0; y < coverHeight; ++y) {
        const uint8_t* row = given->plane + size_t(y) * given->bytesPerRow;
        for (int32_t x = 0; x < coverWidth; ++x) {
            if (row[x] == 0) PlotPixel(shape, x, y, 1);
        }
    }
    return shape;
}

// The shape at a new size: what fits is kept, the rest shows.
qvPlaneBitMap* ResizedShape(const qvPlaneBitMap* shape, int32_t width, int32_t height,
                            bool* failed) {
    if (shape == nullptr) return nullptr;
    return ShapeOf(shape, nullptr, width, height, failed);
}

void SetTitle(qvPlatformDisplay* window, const char* title) {
    std::snprintf(window->title, sizeof window->title, "%s", title != nullptr ? title : "");
}

void ResetWindowState(qvPlatformDisplay* window) {
    window->pointer = {};
    window->damage = {};
    window->iconified = false;
    window->number = 0;
    window->backEnd = nullptr;
}

void Unlink(qvPlatformDisplay* window) {
    TakeFromList(&windows, [window](const qvPlatformDisplay* w) { return w == window; });
    window->next = nullptr;
}

}  // namespace

qvPlatformDisplay* OpenWindows() {
    return windows;
}

qvPlatformDisplay* FindOpenWindow(uint32_t number) {
    for (qvPlatformDisplay* w = windows; w != nullptr; w = w->next) {
        if (number != 0 && w->number == number) return w;
    }
    return nullptr;
}

void RestartWindowNumbers() {
    openings = 0;
}

void AddDamage(qvPlatformDisplay* window, DamageRect rect) {
    const qvDisplayBitMap* fb = window->framebuffer;
    if (fb == nullptr) return;
    int64_t left = std::max<int64_t>(rect.x, 0), top = std::max<int64_t>(rect.y, 0);
    int64_t right = std::min<int64_t>(int64_t(rect.x) + rect.width, fb->width);
    int64_t bottom = std::min<int64_t>(int64_t(rect.y) + rect.height, fb->height);
    if (right <= left || bottom <= top) return;
    const DamageRect cut{int32_t(left), int32_t(top), int32_t(right - left), int32_t(bottom - top)};
    DamageList& damage = window->damage;
    for (int i = 0; i < damage.count; ++i) {
        if (Contains(damage.rects[i], cut)) return;
    }
    if (damage.count < DamageList::kSlots) {
        damage.rects[damage.count++] = cut;
        return;
    }
    DamageRect all = cut;
    for (const DamageRect& r : damage.rects) all = Union(all, r);
    damage.rects[0] = all;
    damage.count = 1;
}

DamageList TakeDamage(qvPlatformDisplay* window) {
    DamageList taken = window->damage;
    window->damage.count = 0;
    return taken;
}

qvPlatformDisplay* OpenHeadlessWindow(int32_t x, int32_t y, int32_t width, int32_t height) {
    qvPlatformDisplay* window = AllocPlatformDisplay(nullptr);
    if (window == nullptr) return nullptr;
    const qvWindowSpec spec{x, y, width, height, QV_WINDOW_BORDERLESS, ""};
    if (OpenPlatformWindow(window, spec, 0, nullptr, nullptr) != 0) {
        FreePlatformDisplay(window);
        return nullptr;
    }
    return window;
}

void CloseHeadlessWindow(qvPlatformDisplay* display) {
    FreePlatformDisplay(display);
}

qvVideoDumpState& VideoDumpState() {
    return videoDump;
}

}  // namespace qv

qvPlatformDisplay* AllocPlatformDisplay(void* owner) {
    qvPlatformDisplay* window = qv::NewBlock<qvPlatformDisplay>();
    if (window != nullptr) window->owner = owner;
    return window;
}

void FreePlatformDisplay(qvPlatformDisplay* window) {
    if (window == nullptr) return;
    CloseDisplayWindow(window);
    qv::DeleteBlock(window);
}

qv::FrameSizes NewSysIImage(qvPlatformDisplay* window, uint32_t flags) {
    window->frame = qv::Video().frameSizes(flags);
    return window->frame;
}

void RefreshTitleGadgets(qvPlatformDisplay*) {
    ++qv::titleGadgetRefreshes;
}

int OpenPlatformWindow(qvPlatformDisplay* window, const qvWindowSpec& spec, int activate,
                       const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha) {
    CloseDisplayWindow(window);
    if (spec.width < 1 || spec.height < 1 || spec.width > qv::kMaxWindowSide ||
        spec.height > qv::kMaxWindowSide) {
        return ERR_WINDOW;
    }
    qv::OwnedBitMap framebuffer(AllocDisplayBitMap(spec.width, spec.height));
    if (!framebuffer) return ERR_MEM;
    qv::ClearBitMap(framebuffer.get());
    bool failed = false;
    qv::OwnedPlane shape(qv::ShapeOf(mask, alpha, spec.width, spec.height, &failed));
    if (failed) return ERR_MEM;

    std::lock_guard<std::recursive_mutex> hold(window->lock);
    window->x = spec.x, window->y = spec.y;
    window->flags = spec.flags;
    window->frame = qv::Video().frameSizes(spec.flags);
    qv::SetTitle(window, spec.title);
    qv::ResetWindowState(window);
    window->framebuffer = framebuffer.release();
    window->shape = shape.release();
    window->number = ++qv::openings;
    qv::AddDamage(window, {0, 0, spec.width, spec.height});
    *qv::ListEnd(&qv::windows) = window;
    if (int code = qv::Video().openWindow(window, activate != 0)) {
        qv::Unlink(window);
        FreeDisplayBitMap(window->framebuffer);
        FreePlaneBitMap(window->shape);
        window->framebuffer = nullptr, window->shape = nullptr;
        qv::ResetWindowState(window);
        return code;
    }
    return 0;
}

void CloseDisplayWindow(qvPlatformDisplay* window) {
    if (!qv::WindowIsOpen(window)) return;
    std::lock_guard<std::recursive_mutex> hold(window->lock);
    qv::Video().closeWindow(window);
    qv::Unlink(window);
    FreeDisplayBitMap(window->framebuffer);
    FreePlaneBitMap(window->shape);
    window->framebuffer = nullptr, window->shape = nullptr;
    qv::ResetWindowState(window);
}

void MoveDisplayWindow(qvPlatformDisplay* window, int32_t x, int32_t y) {
    if (!qv::WindowIsOpen(window)) return;
    std::lock_guard<std::recursive_mutex> hold(window->lock);
    window->x = x, window->y = y;
    qv::Video().placeWindow(window);
}

int ChangeDisplayWindowBox(qvPlatformDisplay* window, int32_t x, int32_t y, int32_t width,
                           int32_t height) {
    if (!qv::WindowIsOpen(window)) return 0;
    if (width < 1 || height < 1 || width > qv::kMaxWindowSide || height > qv::kMaxWindowSide) {
        return ERR_WINDOW;
    }
    std::lock_guard<std::recursive_mutex> hold(window->lock);
    qv::OwnedBitMap framebuffer(AllocDisplayBitMap(width, height));
    if (!framebuffer) return ERR_MEM;
    bool failed = false;
    qv::OwnedPlane shape(qv::ResizedShape(window->shape, width, height, &failed));
    if (failed) return ERR_MEM;
    qv::ClearBitMap(framebuffer.get());
    BltBitMap(window->framebuffer, 0, 0, framebuffer.get(), 0, 0, width, height);
    FreeDisplayBitMap(window->framebuffer);
    FreePlaneBitMap(window->shape);
    window->framebuffer = framebuffer.release();
    window->shape = shape.release();
    window->x = x, window->y = y;
    window->damage.count = 0;
    qv::AddDamage(window, {0, 0, width, height});
    qv::Video().placeWindow(window);
    return 0;
}

void SetDisplayWindowTitle(qvPlatformDisplay* window, const char* title) {
    qv::SetTitle(window, title);
    if (qv::WindowIsOpen(window)) qv::Video().setTitle(window);
}

void ActivateDisplayWindow(qvPlatformDisplay* window, int toFront) {
    if (!qv::WindowIsOpen(window)) return;
    if (toFront != 0 && window->next != nullptr) {
        qv::Unlink(window);
        *qv::ListEnd(&qv::windows) = window;
    }
    qv::Video().activate(window, toFront != 0);
}

int IconifyDisplay(qvPlatformDisplay* window, int hide) {
    if (!qv::WindowIsOpen(window)) return 0;
    window->iconified = hide != 0;
    return qv::Video().iconify(window, hide != 0);
}

int RestoreIconifiedDisplay() {
    for (qvPlatformDisplay* w = qv::windows; w != nullptr; w = w->next) {
        if (w->iconified) IconifyDisplay(w, 0);
    }
    return 0;
}

int UpdateDisplayAppWindow(qvPlatformDisplay* window, int on) {
    if (window->iconified) return 0;
    if (on != 0 && qv::appWindowsRefused) return ERR_ADDAPPWIN;
    window->dropTarget = on != 0;
    if (qv::WindowIsOpen(window)) qv::Video().setInputFlags(window);
    return 0;
}

int SetClipboardChangeHook(qvPlatformDisplay* window, int on) {
    window->clipboardReports = on != 0;
    if (qv::WindowIsOpen(window)) qv::Video().setInputFlags(window);
    return 0;
}

void WindowBlit(const qvDisplayBitMap* bitmap, int32_t sx, int32_t sy, qvPlatformDisplay* display,
                int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t scaledWidth,
                int32_t scaledHeight) {
    if (bitmap == nullptr) return;
    const bool scaled = scaledWidth != 0 || scaledHeight != 0;
    const qv::DamageRect area{dx, dy, scaled ? scaledWidth : width, scaled ? scaledHeight : height};
    qv::DrawIntoWindow(display, area, [&](qvDisplayBitMap* framebuffer) {
        if (scaled) {
            qv::ScaledWindowBlit(bitmap, sx, sy, framebuffer, dx, dy, width, height, scaledWidth,
                                 scaledHeight);
        } else {
            BltBitMap(bitmap, sx, sy, framebuffer, dx, dy, width, height);
        }
    });
}

void WindowBlitThrough(const qvDisplayBitMap* source, qvDisplayBitMap* through,
                       qvPlatformDisplay* display, int32_t dx, int32_t dy, int32_t width,
                       int32_t height) {
    bool drawn = false;
    qv::DrawIntoWindow(display, {dx, dy, width, height}, [&](qvDisplayBitMap* framebuffer) {
        BltBitMapTwice(source, through, framebuffer, dx, dy, width, height);
        drawn = true;
    });
    if (!drawn) BltBitMap(source, 0, 0, through, 0, 0, width, height);
}

void FillWindowRect(qvPlatformDisplay* window, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t rgb) {
    qv::DrawIntoWindow(window, {x, y, width, height}, [&](qvDisplayBitMap* framebuffer) {
        RectFill(framebuffer, x, y, width, height, rgb);
    });
}

void WriteWindowPixel(qvPlatformDisplay* window, int32_t x, int32_t y, uint32_t rgb) {
    qv::DrawIntoWindow(window, {x, y, 1, 1},
                       [&](qvDisplayBitMap* framebuffer) { PlotPixel(framebuffer, x, y, rgb); });
}

void DrawWindowLine(qvPlatformDisplay* window, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    uint32_t rgb) {
    const qv::DamageRect area{
        std::min(x1, x2), std::min(y1, y2),
        int32_t(std::min<int64_t>(std::abs(int64_t(x2) - x1) + 1, INT32_MAX)),
        int32_t(std::min<int64_t>(std::abs(int64_t(y2) - y1) + 1, INT32_MAX))};
    qv::DrawIntoWindow(window, area, [&](qvDisplayBitMap* framebuffer) {
        DrawBitMapLine(framebuffer, x1, y1, x2, y2, rgb);
    });
}

qvDisplayBitMap* GrabScreenToBitMap(const qvPlatformDisplay* display, int32_t x, int32_t y,
                                    int32_t width, int32_t height) {
    if (display != nullptr && display->framebuffer == nullptr) return nullptr;
    int64_t sourceWidth = display != nullptr ? display->framebuffer->width : qv::ScreenWidth();
    int64_t sourceHeight = display != nullptr ? display->framebuffer->height : qv::ScreenHeight();
    int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
    int64_t right = std::min<int64_t>(int64_t(x) + width, sourceWidth);
    int64_t bottom = std::min<int64_t>(int64_t(y) + height, sourceHeight);
    if (right <= left || bottom <= top) return nullptr;
    qvDisplayBitMap* grab = AllocDisplayBitMap(int32_t(right - left), int32_t(bottom - top));
    if (grab == nullptr) return nullptr;
    if (display != nullptr) {
        BltBitMap(display->framebuffer, int32_t(left), int32_t(top), grab, 0, 0, grab->width,
                  grab->height);
        return grab;
    }
    qv::ClearBitMap(grab);
    for (qvPlatformDisplay* w = qv::windows; w != nullptr; w = w->next) {
        if (w->iconified) continue;
        std::lock_guard<std::recursive_mutex> hold(w->lock);
        const auto dx = int32_t(int64_t(w->x) + w->frame.left - left);
        const auto dy = int32_t(int64_t(w->y) + w->frame.top - top);
        const qvDisplayBitMap* fb = w->framebuffer;
        if (w->shape != nullptr) {
            BltMask(fb, 0, 0, grab, dx, dy, fb->width, fb->height, w->shape);
        } else {
            BltBitMap(fb, 0, 0, grab, dx, dy, fb->width, fb->height);
        }
    }
    return grab;
}

void PlatformWaitVBlank(qvVmState*, qvPlatformDisplay*) {
    qv::WaitVerticalBlank();
}

namespace qv::platform::testing {

uint64_t TitleGadgetRefreshes() {
    return titleGadgetRefreshes;
}

void RefuseAppWindows(bool refused) {
    appWindowsRefused = refused;
}

}  // namespace qv::platform::testing

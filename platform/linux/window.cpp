#include "platform/linux/window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "gfx/kernels/rows.h"
#include "gfx/scale.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/testing.h"

namespace qv {
namespace {

constexpr uint32_t kDefaultScreenFormat = QV_FMT_A8R8G8B8;
constexpr int32_t kDefaultScreenWidth = 1920, kDefaultScreenHeight = 1080;
constexpr int64_t kNanosPerSecond = 1000000000, kVBlankRate = 60;

uint32_t screenFormatOverride = QV_FMT_COUNT;
bool instantVBlank = false;
qvPlatformDisplay* windows = nullptr;  // bottom first
qvVideoDumpState videoDump{};

uint32_t FormatFromEnvironment() {
    const char* text = std::getenv("QV_SCREEN_FORMAT");
    if (text == nullptr || *text == '\0') return kDefaultScreenFormat;
    char* end;
    long code = std::strtol(text, &end, 10);
    return *end == '\0' && code >= 0 && code < QV_FMT_COUNT ? uint32_t(code) : kDefaultScreenFormat;
}

struct ScreenSize {
    int32_t width, height;
};

ScreenSize SizeFromEnvironment() {
    const char* text = std::getenv("QV_SCREEN_SIZE");
    int width, height;
    char tail;
    if (text != nullptr && std::sscanf(text, "%dx%d%c", &width, &height, &tail) == 2 && width > 0 &&
        height > 0 && width <= 32768 && height <= 32768) {
        return {width, height};
    }
    return {kDefaultScreenWidth, kDefaultScreenHeight};
}

const ScreenSize& Screen() {
    static const ScreenSize size = SizeFromEnvironment();
    return size;
}

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

}  // namespace

uint32_t ScreenFormat() {
    static const uint32_t fromEnvironment = FormatFromEnvironment();
    return screenFormatOverride < QV_FMT_COUNT ? screenFormatOverride : fromEnvironment;
}

int32_t ScreenWidth() {
    return Screen().width;
}

int32_t ScreenHeight() {
    return Screen().height;
}

bool ScreenOpen() {
    return windows != nullptr;
}

qvPlatformDisplay* OpenHeadlessWindow(int32_t x, int32_t y, int32_t width, int32_t height) {
    auto* display = static_cast<qvPlatformDisplay*>(AllocMemBlock(sizeof(qvPlatformDisplay), 1));
    if (display == nullptr) return nullptr;
    display->framebuffer = AllocDisplayBitMap(width, height);
    if (display->framebuffer == nullptr) {
        FreeMemBlock(display);
        return nullptr;
    }
    ClearBitMap(display->framebuffer);
    display->x = x, display->y = y;
    *ListEnd(&windows) = display;
    return display;
}

void CloseHeadlessWindow(qvPlatformDisplay* display) {
    if (display == nullptr) return;
    TakeFromList(&windows, [display](const qvPlatformDisplay* d) { return d == display; });
    FreeDisplayBitMap(display->framebuffer);
    FreeMemBlock(display);
}

qvVideoDumpState& VideoDumpState() {
    return videoDump;
}

}  // namespace qv

void WindowBlit(const qvDisplayBitMap* bitmap, int32_t sx, int32_t sy, qvPlatformDisplay* display,
                int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t scaledWidth,
                int32_t scaledHeight) {
    if (bitmap == nullptr || display == nullptr) return;
    if (scaledWidth != 0 || scaledHeight != 0) {
        qv::ScaledWindowBlit(bitmap, sx, sy, display->framebuffer, dx, dy, width, height,
                             scaledWidth, scaledHeight);
        return;
    }
    BltBitMap(bitmap, sx, sy, display->framebuffer, dx, dy, width, height);
}

qvDisplayBitMap* GrabScreenToBitMap(const qvPlatformDisplay* display, int32_t x, int32_t y,
                                    int32_t width, int32_t height) {
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
    for (const qvPlatformDisplay* w = qv::windows; w != nullptr; w = w->next) {
        BltBitMap(w->framebuffer, 0, 0, grab, int32_t(w->x - left), int32_t(w->y - top),
                  w->framebuffer->width, w->framebuffer->height);
    }
    return grab;
}

void PlatformWaitVBlank(qvVmState*, qvPlatformDisplay*) {
    if (qv::instantVBlank) return;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t nanos = int64_t(now.tv_sec) * qv::kNanosPerSecond + now.tv_nsec;
    int64_t frame = nanos * qv::kVBlankRate / qv::kNanosPerSecond + 1;
    int64_t target = (frame * qv::kNanosPerSecond + qv::kVBlankRate - 1) / qv::kVBlankRate;
    timespec until{time_t(target / qv::kNanosPerSecond), long(target % qv::kNanosPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
    }
}

namespace qv::platform::testing {

void SetScreenFormat(uint32_t format) {
    screenFormatOverride = format;
}

void SetInstantVBlank(bool enabled) {
    instantVBlank = enabled;
}

}  // namespace qv::platform::testing

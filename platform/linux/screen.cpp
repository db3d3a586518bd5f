#include "platform/linux/screen.h"

#include <cstdlib>

#include "engine/error_codes.h"
#include "gfx/pixel_format.h"
#include "platform/linux/testing.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"

namespace qv {
namespace {

constexpr uint32_t kDefaultScreenFormat = QV_FMT_A8R8G8B8;
constexpr int32_t kMaxSide = 32768;

uint32_t screenFormatOverride = QV_FMT_COUNT;

struct OwnScreen {
    bool open;
    int32_t width, height;
};
OwnScreen own{};

ScreenInfo info{};
bool infoKnown = false;

uint32_t FormatFromEnvironment() {
    const char* text = std::getenv("QV_SCREEN_FORMAT");
    if (text == nullptr || *text == '\0') return kDefaultScreenFormat;
    char* end;
    long code = std::strtol(text, &end, 10);
    return *end == '\0' && code >= 0 && code < QV_FMT_COUNT ? uint32_t(code) : kDefaultScreenFormat;
}

const ScreenInfo& Info() {
    if (!infoKnown) RefreshScreenInfo();
    return info;
}

bool Holds(const ScreenMode& mode, int32_t width, int32_t height) {
    return mode.width >= width && mode.height >= height;
}

int64_t Area(const ScreenMode& mode) {
    return int64_t(mode.width) * mode.height;
}

// The smallest listed mode that holds the size, else the largest one.
ScreenMode BestListedMode(int32_t width, int32_t height) {
    ScreenMode modes[64];
    const int32_t count = EnumDisplayModes(modes, 64);
    ScreenMode best{ScreenWidth(), ScreenHeight()};
    bool holding = false;
    for (int32_t i = 0; i < count; ++i) {
        const ScreenMode& m = modes[i];
        if (Holds(m, width, height)) {
            if (!holding || Area(m) < Area(best)) best = m;
            holding = true;
        } else if (!holding && Area(m) > Area(best)) {
            best = m;
        }
    }
    return best;
}

}  // namespace

uint32_t ScreenFormat() {
    static const uint32_t fromEnvironment = FormatFromEnvironment();
    return screenFormatOverride < QV_FMT_COUNT ? screenFormatOverride : fromEnvironment;
}

int32_t ScreenWidth() {
    return own.open ? own.width : Info().width;
}

int32_t ScreenHeight() {
    return own.open ? own.height : Info().height;
}

ScreenArea UsableScreenArea() {
    return own.open ? ScreenArea{0, 0, own.width, own.height} : Info().usable;
}

int32_t ScreenRefresh() {
    return Info().refresh > 0 ? Info().refresh : 60;
}

int32_t ScreenTitleBar() {
    return own.open ? 0 : Info().titleBar;
}

bool ScreenOpen() {
    return OpenWindows() != nullptr;
}

bool OwnScreenOpen() {
    return own.open;
}

void RefreshScreenInfo() {
    info = Video().screen();
    infoKnown = true;
}

}  // namespace qv

int32_t EnumDisplayModes(qv::ScreenMode* modes, int32_t capacity) {
    if (modes != nullptr && capacity <= 0) return 0;
    return qv::Video().enumModes(modes, capacity);
}

int DisplayFitsScreen(int32_t, int32_t, int32_t outerWidth, int32_t outerHeight) {
    return outerWidth <= qv::ScreenWidth() && outerHeight <= qv::ScreenHeight() ? 1 : 0;
}

int OpenDisplayScreen(int32_t width, int32_t height, int32_t) {
    if (width < 1 || height < 1 || width > qv::kMaxSide || height > qv::kMaxSide) {
        return ERR_SCREENSIZE;
    }
    CloseDisplayScreen();
    if (int code = qv::Video().openScreen(width, height)) return code;
    qv::own = {true, width, height};
    return 0;
}

void CloseDisplayScreen() {
    if (!qv::own.open) return;
    qv::Video().closeScreen();
    qv::own = {};
}

int SelectScreenModeForDisplay(int mode, int32_t fittedWidth, int32_t fittedHeight, int32_t* width,
                               int32_t* height, int32_t* depth) {
    qv::ScreenMode chosen{qv::ScreenWidth(), qv::ScreenHeight()};
    const bool fitted = fittedWidth > 0 && fittedHeight > 0;
    if (mode == QV_SCREENMODE_BESTFIT && fitted) chosen = {fittedWidth, fittedHeight};
    if (mode == QV_SCREENMODE_MANUAL) {
        chosen = fitted ? qv::BestListedMode(fittedWidth, fittedHeight)
                        : qv::BestListedMode(chosen.width, chosen.height);
    }
    *width = chosen.width;
    *height = chosen.height;
    *depth = int32_t(QueryBitMapAttr(nullptr, 21));
    return 0;
}

void NotifyDisplayChange(const void*) {}

void ReleaseScreenPens() {}

void WaitBlitter() {}

int NoOpZero() {
    return 0;
}

namespace qv::platform::testing {

void SetScreenFormat(uint32_t format) {
    screenFormatOverride = format;
}

}  // namespace qv::platform::testing

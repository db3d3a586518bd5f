// The seam between the blits and the display subsystem: SafeBlt and the display front-ends
// read the current display, the current output picture and the display's callbacks through
// BlitHost, so that the graphics engine builds and tests before displays exist. The display
// subsystem implements it over its records; without one, there is no display.
#pragma once

#include <cstdint>
#include <span>

#include "gfx/pixel_format.h"

struct qvClipRegion;
struct qvDisplayBitMap;
struct qvPlaneBitMap;
struct qvPlatformDisplay;
struct qvVmState;
// The display subsystem's record; only its address travels through the graphics engine.
struct qvDisplay;

namespace qv::gfx {

// Object types that can be the output target of a display.
enum : int32_t {
    kTargetBGPic = 1,
    kTargetBrush = 3,
    kTargetAnim = 4,
    kTargetDisplay = 21,
    kTargetLayer = 22,
    kTargetMask = 28,
    kTargetAlphaChannel = 30,
};

// Flags of Redraw.
enum : int {
    kRedrawAll = 0,
    kRedrawNoSprites = 1,
    kRedrawSpritesOnly = 2,
};

// What the blits read of a display.
struct DisplayView {
    int32_t outputType;  // kTargetDisplay, or the type of the selected output object
    bool layersEnabled;
    qvPlaneBitMap* targetMask;  // the output target's planes; none when absent
    qvPlaneBitMap* targetAlpha;
    qvDisplayBitMap* backBuffers[2];
    bool doubleBuffered;  // the double-buffer flag
    int32_t bufferWord;   // set by BeginDoubleBuffer
    bool autoscale;
    int32_t autoscaleWidth, autoscaleHeight;
    int32_t pictureWidth, pictureHeight;  // of the background picture the display shows
    qvPlatformDisplay* window;
    // Where the picture starts in the window: the left and top letterbox strips.
    int32_t outputX, outputY;
    // Nothing is composed over the picture (no layers, no sprites): composed, it is the first
    // back buffer unchanged.
    bool plainPicture;

    // Autoscaling is active when the flag is set and both sizes are non-zero.
    bool AutoscaleActive() const {
        return autoscale && autoscaleWidth != 0 && autoscaleHeight != 0;
    }
};

struct SpriteInstance {
    int32_t x, y, width, height;
};

// The current output background picture.
struct OutputPicture {
    int32_t width, height;
    std::span<const SpriteInstance> sprites;
    const qvARGB* palette;           // 256 colours, or none
    const qvClipRegion* clipRegion;  // the active one, or none
};

class BlitHost {
public:
    virtual ~BlitHost() = default;

    // The run-time state word "current display"; none when no display is open.
    virtual qvDisplay* CurrentDisplay() = 0;
    virtual void SetCurrentDisplay(qvDisplay* display) = 0;
    virtual DisplayView ViewDisplay(const qvDisplay* display) = 0;
    virtual OutputPicture CurrentOutputPicture() = 0;

    // Recomposes a rectangle of the shown background picture into dest (kRedraw* flags).
    virtual void Redraw(qvVmState* L, qvDisplay* display, qvDisplayBitMap* dest, int32_t x,
                        int32_t y, int32_t width, int32_t height, int flags) = 0;
    virtual void ClearDisplayBorders(qvDisplay* display) = 0;
    virtual void FlipBuffers(qvDisplay* display, int mode, int flags) = 0;
    virtual void RefreshVideosOnDisplay(qvDisplay* display) = 0;
};

}  // namespace qv::gfx

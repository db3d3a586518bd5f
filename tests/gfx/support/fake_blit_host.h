// A display host for the blit tests: one display whose fields a test sets directly, an
// output picture with sprites, and Redraw, FlipBuffers and the other callbacks recorded.
// Redraw paints marker colours, so that a test sees in the pixels what was composed where.
// Header-only and free of GoogleTest, so that the fuzz targets use it too.
#pragma once

#include <cstdint>
#include <vector>

#include "gfx/graphics_state.h"
#include "platform/linux/bitmap.h"

namespace qv::test {

// Marker colours of the recorded Redraw.
inline constexpr uint32_t kRedrawPictureColour = 0x00FF00;  // picture and layers
inline constexpr uint32_t kRedrawSpriteColour = 0xFF00FF;   // a sprite

struct RedrawCall {
    qvDisplayBitMap* dest;
    int32_t x, y, width, height;
    int flags;
};

struct FlipCall {
    int mode, flags;
};

class FakeBlitHost final : public qv::gfx::BlitHost {
public:
    FakeBlitHost() {
        qv::gfx::Graphics().SetHost(this);
        view.outputType = qv::gfx::kTargetDisplay;
    }
    ~FakeBlitHost() override {
        qv::gfx::GraphicsState& state = qv::gfx::Graphics();
        state.SetHost(nullptr);
        state.maskMode = qv::gfx::kMaskVisible;
        state.alphaIntensity = 128;
        state.alphaCombine = false;
    }
    FakeBlitHost(const FakeBlitHost&) = delete;
    FakeBlitHost& operator=(const FakeBlitHost&) = delete;

    // The one display's identity; its fields are `view`.
    qvDisplay* Display() { return reinterpret_cast<qvDisplay*>(&view); }
    // Whether a display is current (the pseudo-display may stand in while none is).
    void SetDisplayOpen(bool open) { current_ = open ? Display() : nullptr; }

    qvDisplay* CurrentDisplay() override { return current_; }
    void SetCurrentDisplay(qvDisplay* display) override {
        current_ = display;
        switches.push_back(display);
    }
    qv::gfx::DisplayView ViewDisplay(const qvDisplay*) override { return view; }
    qv::gfx::OutputPicture CurrentOutputPicture() override {
        return {view.pictureWidth, view.pictureHeight, sprites, nullptr, clipRegion};
    }
    void Redraw(qvVmState*, qvDisplay*, qvDisplayBitMap* dest, int32_t x, int32_t y, int32_t width,
                int32_t height, int flags) override {
        redraws.push_back({dest, x, y, width, height, flags});
        if (flags != qv::gfx::kRedrawSpritesOnly) {
            RectFill(dest, x, y, width, height, kRedrawPictureColour);
        }
        if (flags == qv::gfx::kRedrawNoSprites) return;
        for (const auto& s : sprites) PaintSprite(dest, s, x, y, width, height);
    }
    void ClearDisplayBorders(qvDisplay*) override { ++borderClears; }
    void FlipBuffers(qvDisplay*, int mode, int flags) override { flips.push_back({mode, flags}); }
    void RefreshVideosOnDisplay(qvDisplay*) override { ++videoRefreshes; }

    qv::gfx::DisplayView view{};
    std::vector<qv::gfx::SpriteInstance> sprites;
    const qvClipRegion* clipRegion = nullptr;  // the output picture's active one
    std::vector<RedrawCall> redraws;
    std::vector<FlipCall> flips;
    std::vector<qvDisplay*> switches;
    int borderClears = 0;
    int videoRefreshes = 0;

private:
    // The part of the sprite inside the redrawn rectangle.
    static void PaintSprite(qvDisplayBitMap* dest, const qv::gfx::SpriteInstance& s, int32_t x,
                            int32_t y, int32_t width, int32_t height) {
        int32_t left = s.x > x ? s.x : x, top = s.y > y ? s.y : y;
        int32_t right = s.x + s.width < x + width ? s.x + s.width : x + width;
        int32_t bottom = s.y + s.height < y + height ? s.y + s.height : y + height;
        if (right > left && bottom > top) {
            RectFill(dest, left, top, right - left, bottom - top, kRedrawSpriteColour);
        }
    }

    qvDisplay* current_ = Display();
};

}  // namespace qv::test

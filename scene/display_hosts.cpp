#include "scene/display_hosts.h"

#include <algorithm>
#include <cmath>

#include "gfx/blit_frontends.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "gfx/transform.h"
#include "objects/text/text_display.h"
#include "platform/linux/memory.h"
#include "runtime/display_input.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/display_engine.h"
#include "scene/display_modes.h"
#include "scene/double_buffer.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer_cache.h"
#include "scene/output_redirect.h"

namespace qv::scene {
namespace {

bool SameId(const qvObjectHeader& header, qvObjectId id) {
    return header.id == id.number && header.handle == id.handle;
}

// A display record, not the graphics engine's pseudo-display standing in for none.
bool IsRecord(const qvDisplay* display) {
    return display != nullptr && display != gfx::Graphics().PseudoDisplay();
}

class Blits final : public gfx::BlitHost {
public:
    ~Blits() override { FreeMemBlock(sprites_); }

    qvDisplay* CurrentDisplay() override {
        return standIn_ != nullptr ? standIn_ : Displays().current;
    }
    // Only the graphics engine's pseudo-display stands in, while no display is current.
    void SetCurrentDisplay(qvDisplay* display) override { standIn_ = display; }

    gfx::DisplayView ViewDisplay(const qvDisplay* display) override {
        gfx::DisplayView view{};
        if (display == nullptr) return view;
        const qvDisplaySettings& s = display->settings;
        view.outputType = display->outputType;
        view.layersEnabled = display->layersEnabled != 0;
        view.targetMask = display->outputMask;
        view.targetAlpha = display->outputAlpha;
        // While double buffering, the back buffer stands as the display bitmap.
        view.backBuffers[0] =
            display->doubleBufferOutput != 0 ? display->backBuffers[1] : display->displayBitmap;
        view.backBuffers[1] = display->compositionBitmap;
        view.doubleBuffered = display->doubleBufferOutput != 0;
        view.bufferWord = display->doubleBufferPending;
        view.autoscale = s.autoscale != 0;
        view.autoscaleWidth = s.scaleWidth, view.autoscaleHeight = s.scaleHeight;
        view.outputX = s.letterbox[0], view.outputY = s.letterbox[1];
        if (s.picture != nullptr) {
            view.pictureWidth = s.picture->shownWidth;
            view.pictureHeight = s.picture->shownHeight;
            view.plainPicture = !HasLayersOrSprites(s.picture);
        }
        view.window = display->window;
        return view;
    }

    gfx::OutputPicture CurrentOutputPicture() override {
        const qvBGPic* picture = Displays().outputPicture;
        if (picture == nullptr) return {};
        return {picture->width, picture->height, Sprites(picture), picture->palette,
                picture->clipRegion};
    }

    void Redraw(qvVmState* L, qvDisplay* display, qvDisplayBitMap* dest, int32_t x, int32_t y,
                int32_t width, int32_t height, int flags) override {
        RedrawShownPicture(L, display, dest, x, y, width, height, flags);
    }
    void ClearDisplayBorders(qvDisplay* display) override { scene::ClearDisplayBorders(display); }
    void FlipBuffers(qvDisplay* display, int whole, int flags) override {
        if (IsRecord(display)) scene::FlipBuffers(display, whole, flags);
    }
    // Videos do not draw into displays yet.
    void RefreshVideosOnDisplay(qvDisplay*) override {}

private:
    // The picture's on-screen sprites as rectangles; none when memory is short.
    std::span<const gfx::SpriteInstance> Sprites(const qvBGPic* picture) {
        size_t count = 0;
        for (const qvSpriteInstance* s = picture->sprites; s != nullptr; s = s->next) ++count;
        if (count > capacity_) {
            FreeMemBlock(sprites_);
            sprites_ = static_cast<gfx::SpriteInstance*>(
                AllocMemBlock(count * sizeof(gfx::SpriteInstance), 0));
            capacity_ = sprites_ != nullptr ? count : 0;
            if (sprites_ == nullptr) return {};
        }
        size_t i = 0;
        for (const qvSpriteInstance* s = picture->sprites; s != nullptr; s = s->next) {
            sprites_[i++] = {s->x, s->y, s->width, s->height};
        }
        return {sprites_, count};
    }

    qvDisplay* standIn_ = nullptr;
    gfx::SpriteInstance* sprites_ = nullptr;
    size_t capacity_ = 0;
};

class Pictures final : public BGPicHost {
public:
    bool ShownByDisplay(const qvBGPic* picture) override {
        for (const qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
            if (d->settings.picture == picture) return true;
        }
        return false;
    }

    // Drawing goes into the output picture (selected with SelectBGPic) or into the pixels,
    // mask or alpha channel of a picture that the output pseudo-picture names.
    bool DrawingInto(qvObjectId id) override {
        const DisplayState& state = Displays();
        const qvDisplay* display = state.current;
        if (display == nullptr) return false;
        switch (display->outputType) {
            case gfx::kTypeBGPic:
                return state.outputPicture != nullptr && SameId(state.outputPicture->header, id);
            case gfx::kTypeBrush:
            case gfx::kTypeMask:
            case gfx::kTypeAlphaChannel: {
                const qvBGPic* pseudo = display->outputPseudoPicture;
                // The double buffer's output is a brush-type output too.
                if (pseudo == nullptr || state.outputPicture != pseudo ||
                    pseudo->outputKind != gfx::kTypeBGPic) {
                    return false;
                }
                const auto* target = static_cast<const qvBGPic*>(pseudo->outputObject);
                return target != nullptr && SameId(target->header, id);
            }
            default:
                return false;
        }
    }

    qvBGPic* CurrentDisplayPicture() override {
        const qvDisplay* display = Displays().current;
        return display != nullptr ? display->settings.picture : nullptr;
    }

    // The rectangle is the picture's; a layer-scaled display shows it at its scale.
    void RefreshRect(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height) override {
        const qvDisplay* display = Displays().current;
        if (display == nullptr) return;
        const qvDisplaySettings& s = display->settings;
        const bool scaled = s.layerScaling != 0 && ScalingActive(s);
        const double sx = scaled ? s.scaleX : 1.0, sy = scaled ? s.scaleY : 1.0;
        const auto left = int64_t(std::max(std::floor(x * sx), 0.0));
        const auto top = int64_t(std::max(std::floor(y * sy), 0.0));
        const auto right = int64_t(std::min(std::ceil((double(x) + width) * sx), 2147483647.0));
        const auto bottom = int64_t(std::min(std::ceil((double(y) + height) * sy), 2147483647.0));
        if (right <= left || bottom <= top) return;
        RefreshDisplayArea(L, int32_t(left), int32_t(top), int32_t(right - left),
                           int32_t(bottom - top));
    }
};

// What the layers read of the displays: the output picture, the picture a display shows, its
// dirty rectangles and its layer scaling.
class Layers final : public DisplaySeam {
public:
    qvBGPic* OutputPicture() override { return Displays().outputPicture; }
    qvBGPic* ShownPicture(const qvDisplay* display) override {
        return IsRecord(display) ? display->settings.picture : nullptr;
    }
    qvRectList* DirtyRects(qvDisplay* display) override {
        return IsRecord(display) ? &display->dirtyRects : nullptr;
    }
    // Autoscale leaves the layers at the logical size: only layer scaling scales them.
    DisplayScale Scale(const qvDisplay* display) override {
        if (!IsRecord(display)) return {};
        const qvDisplaySettings& s = display->settings;
        if (s.layerScaling == 0 || !ScalingActive(s)) return {};
        return {s.scaleX, s.scaleY, true, s.smoothScale != 0};
    }
    void SwapCurrent(qvDisplay** display, qvBGPic** picture) override {
        std::swap(Displays().current, *display);
        std::swap(Displays().outputPicture, *picture);
    }
    int ShowUnscaled(qvDisplay* display, qvBGPic* picture, int reallocate) override {
        UnscaleShownSet(picture);
        return reallocate != 0 && IsRecord(display) ? AllocDisplayBuffers(display, picture, 1) : 0;
    }
};

class Text final : public text::TextDisplayHost {
public:
    qvTextCursor* CurrentTextCursor() override {
        qvDisplay* display = Displays().current;
        return display != nullptr ? &display->text : nullptr;
    }
    int32_t OutputPictureWidth() override {
        const qvBGPic* picture = Displays().outputPicture;
        return picture != nullptr ? picture->width : 0;
    }
};

class Input final : public DisplayInput {
public:
    bool ReportsClose(const qvDisplay* display) override { return display->closeReporting != 0; }
    bool IsPrimary(const qvDisplay* display) override { return IsPrimaryDisplay(display); }
    uint32_t Flags(const qvDisplay* display) override { return display->settings.flags; }

    void SetKeyState(qvDisplay* display, uint32_t code, bool down) override {
        if (code < kKeyStateCount) display->keys[code] = down ? 1 : 0;
    }
    void SetButtonState(qvDisplay* display, MouseButton button, bool down) override {
        display->buttons[int(button)] = down ? 1 : 0;
    }
    void MouseMoved(qvDisplay* display, const qvTimeVal& when) override {
        display->mouseMoved = 1;
        display->mouseMoveTime = when;
    }

    // The user's size becomes the display's: its picture is fitted to the window. A failure
    // (memory) leaves the display as it was.
    void RequestResize(qvDisplay* display, int32_t width, int32_t height) override {
        const qvDisplaySettings& s = display->settings;
        ResizeDisplay(Displays().L, display, s.x, s.y, width, height, 0, s.smoothScale, 0);
    }
    void SetIconified(qvDisplay* display, bool iconified) override {
        if (display->state == DISPSTATE_CLOSED) return;
        display->state = iconified ? DISPSTATE_MINIMIZED : DISPSTATE_OPEN;
        display->activateOnOpen = iconified ? 0 : 1;
    }
    // Alt+Enter: between windows and the own screen. A failure leaves what the switch reached
    // (the script learns of the switch by the event that follows).
    void RequestModeSwitch(qvDisplay* display) override {
        ToggleDisplayMode(Displays().L, display);
    }
    void ForgetInput(qvVmState* L) override {
        if (qvDisplay* display = Displays().current) ResetDisplayInput(L, display);
    }
};

Blits blits;
Pictures pictures;
Layers layers;
Text text;
Input input;

}  // namespace

void InstallDisplayHosts() {
    Hooks().endRedirection = EndDisplayRedirection;
    Hooks().rebuildLayersForDisplay = RebuildLayersOnDisplay;
    Hooks().allocBackBuffer = AllocScaledBackBuffer;
    gfx::Graphics().SetHost(&blits);
    SetBGPicHost(&pictures);
    SetDisplaySeam(&layers);
    text::SetTextDisplayHost(&text);
    SetDisplayInput(&input);
}

void RemoveDisplayHosts() {
    if (CurrentDisplayInput() == &input) SetDisplayInput(nullptr);
    text::SetTextDisplayHost(nullptr);
    SetDisplaySeam(nullptr);
    SetBGPicHost(nullptr);
    gfx::Graphics().SetHost(nullptr);
    blits.SetCurrentDisplay(nullptr);
    Hooks().endRedirection = nullptr;
    Hooks().rebuildLayersForDisplay = nullptr;
    Hooks().allocBackBuffer = nullptr;
}

qvPointer* DisplayNeighbours::DisplayPointer(const qvDisplay* display) {
    return display != nullptr ? display->pointer : nullptr;
}

void DisplayNeighbours::SetDisplayPointer(qvDisplay* display, qvPointer* pointer) {
    if (display != nullptr) display->pointer = pointer;
}

void DisplayNeighbours::SetPointerHidden(qvDisplay* display, bool hidden) {
    if (display != nullptr) display->pointerHidden = hidden ? 1 : 0;
}

bool DisplayNeighbours::PointerShown(const qvPointer* pointer) {
    for (const qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
        if (d->pointer == pointer) return true;
    }
    return false;
}

void DisplayNeighbours::SetOutputSpan(int32_t left, int32_t right) {
    if (qvDisplay* display = Displays().current) {
        display->text.leftMargin = left;
        display->text.rightMargin = right;
    }
}

int DisplayNeighbours::RenderBGPicBitmap(qvVmState* L, qvDisplayBitMap** bitmap, int32_t* width,
                                         int32_t* height) {
    const qvDisplay* current = Displays().current;
    if (current == nullptr) return Neighbours::RenderBGPicBitmap(L, bitmap, width, height);
    qvBGPic* picture = current->settings.picture;
    qvDisplayBitMap* rendered = nullptr;
    bool owned = false;
    if (int code = scene::RenderBGPicBitmap(L, picture, 0, 0, picture->width, picture->height,
                                            &rendered, &owned)) {
        return code;
    }
    if (!owned) {
        qvDisplayBitMap* copy = nullptr;
        if (int code = CopyBitmapArea(rendered, nullptr, nullptr, 0, 0, picture->width,
                                      picture->height, 0, &copy, nullptr, nullptr)) {
            return code;
        }
        rendered = copy;
    }
    *bitmap = rendered;
    *width = picture->width, *height = picture->height;
    return 0;
}

}  // namespace qv::scene

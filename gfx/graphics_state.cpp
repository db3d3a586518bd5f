#include "gfx/graphics_state.h"

#include "engine/error_codes.h"
#include "platform/linux/memory.h"

namespace qv::gfx {
namespace {

// The host until the display subsystem installs one: no display, ever; only the switch to
// the pseudo-display is kept.
class NoDisplayHost final : public BlitHost {
public:
    qvDisplay* CurrentDisplay() override { return current_; }
    void SetCurrentDisplay(qvDisplay* display) override { current_ = display; }
    DisplayView ViewDisplay(const qvDisplay*) override { return {}; }
    OutputPicture CurrentOutputPicture() override { return {}; }
    void Redraw(qvVmState*, qvDisplay*, qvDisplayBitMap*, int32_t, int32_t, int32_t, int32_t,
                int) override {}
    void ClearDisplayBorders(qvDisplay*) override {}
    void FlipBuffers(qvDisplay*, int, int) override {}
    void RefreshVideosOnDisplay(qvDisplay*) override {}

private:
    qvDisplay* current_ = nullptr;
};

}  // namespace

BlitHost& GraphicsState::Host() {
    static NoDisplayHost none;
    return host_ != nullptr ? *host_ : none;
}

void GraphicsState::SetHost(BlitHost* host) {
    host_ = host;
}

uint8_t* GraphicsState::TempPlane(size_t bytes) {
    if (tempPlane_ != nullptr && tempSize_ >= bytes) return tempPlane_;
    FreeMemBlock(tempPlane_);
    tempPlane_ = static_cast<uint8_t*>(AllocMemBlock(bytes, 0));
    tempSize_ = tempPlane_ != nullptr ? bytes : 0;
    return tempPlane_;
}

int GraphicsState::CreatePseudoDisplay() {
    if (pseudo_ != nullptr) return 0;
    pseudo_ = static_cast<DisplayView*>(AllocMemBlock(sizeof(DisplayView), 1));
    if (pseudo_ == nullptr) return ERR_MEM;
    *pseudo_ = DisplayView{};
    pseudo_->outputType = kTargetBrush;
    return 0;
}

// The pseudo-display's address is its identity in the current-display word; only View
// reads what it points to.
qvDisplay* GraphicsState::PseudoDisplay() const {
    return reinterpret_cast<qvDisplay*>(pseudo_);
}

DisplayView GraphicsState::View(const qvDisplay* display) {
    if (display == nullptr) return {};
    if (display == PseudoDisplay()) return *pseudo_;
    return Host().ViewDisplay(display);
}

void GraphicsState::Free() {
    FreeMemBlock(tempPlane_);
    tempPlane_ = nullptr;
    tempSize_ = 0;
    FreeMemBlock(pseudo_);
    pseudo_ = nullptr;
}

GraphicsState& Graphics() {
    static GraphicsState state;
    return state;
}

}  // namespace qv::gfx

#include "gfx/library/platform_pointer.h"

#include <array>

#include "engine/error_codes.h"
#include "platform/linux/memory.h"

namespace qv {
namespace {

// The windows told something, a few at a time as windows are few; a window beyond the
// capacity is not recorded.
std::array<HeadlessPointerState, 16> states{};

HeadlessPointerState* StateOf(const qvPlatformDisplay* window) {
    HeadlessPointerState* free = nullptr;
    for (HeadlessPointerState& s : states) {
        if (s.window == window) return &s;
        if (s.window == nullptr && free == nullptr) free = &s;
    }
    if (free != nullptr) *free = {window, nullptr, 0, false, 0, 0};
    return free;
}

}  // namespace

const HeadlessPointerState* HeadlessPointerOf(const qvPlatformDisplay* window) {
    for (const HeadlessPointerState& s : states) {
        if (window != nullptr && s.window == window) return &s;
    }
    return nullptr;
}

void ForgetHeadlessPointer(const qvPlatformDisplay* window) {
    for (HeadlessPointerState& s : states) {
        if (s.window == window) s = {};
    }
}

}  // namespace qv

int CreatePointerObject(qvARGB* image, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                        qvPlatformPointer** out) {
    *out = static_cast<qvPlatformPointer*>(AllocMemBlock(sizeof(qvPlatformPointer), 1));
    if (*out == nullptr) {
        FreeMemBlock(image);
        return ERR_MEM;
    }
    **out = {image, width, height, hotX, hotY};
    return 0;
}

void FreePointerObject(qvPlatformPointer* pointer) {
    if (pointer == nullptr) return;
    for (qv::HeadlessPointerState& s : qv::states) {
        if (s.pointer == pointer) s.pointer = nullptr;
    }
    FreeMemBlock(pointer->image);
    FreeMemBlock(pointer);
}

void SetDisplayPointer(qvPlatformDisplay* window, const qvPlatformPointer* pointer, int32_t kind) {
    if (qv::HeadlessPointerState* s = qv::StateOf(window)) {
        s->pointer = pointer;
        s->kind = kind;
    }
}

void ShowDisplayPointer(qvPlatformDisplay* window) {
    if (qv::HeadlessPointerState* s = qv::StateOf(window)) s->hidden = false;
}

void HideDisplayPointer(qvPlatformDisplay* window) {
    if (qv::HeadlessPointerState* s = qv::StateOf(window)) s->hidden = true;
}

void SetMousePosition(qvPlatformDisplay* window, int32_t x, int32_t y) {
    if (qv::HeadlessPointerState* s = qv::StateOf(window)) {
        s->mouseX = x;
        s->mouseY = y;
    }
}

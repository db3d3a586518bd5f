#include "gfx/library/platform_pointer.h"

#include "engine/error_codes.h"
#include "platform/linux/memory.h"
#include "platform/linux/video/video.h"

namespace qv {
namespace {

// Hands the window's pointer state to the back end while the window is open.
void ShowPointerState(qvPlatformDisplay* window) {
    if (!WindowIsOpen(window)) return;
    const qvPlatformPointer* p = window->pointer.pointer;
    if (p == nullptr || p->image == nullptr) {
        Video().setPointer(window, nullptr);
        return;
    }
    const PointerImage image{p->image, p->width, p->height, p->hotX, p->hotY};
    Video().setPointer(window, &image);
}

}  // namespace

const WindowPointerState* HeadlessPointerOf(const qvPlatformDisplay* window) {
    return window != nullptr && window->pointer.told ? &window->pointer : nullptr;
}

void ForgetHeadlessPointer(qvPlatformDisplay* window) {
    if (window != nullptr) window->pointer = {};
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
    for (qvPlatformDisplay* w = qv::OpenWindows(); w != nullptr; w = w->next) {
        if (w->pointer.pointer != pointer) continue;
        w->pointer.pointer = nullptr;
        qv::ShowPointerState(w);
    }
    FreeMemBlock(pointer->image);
    FreeMemBlock(pointer);
}

void SetDisplayPointer(qvPlatformDisplay* window, const qvPlatformPointer* pointer, int32_t kind) {
    window->pointer.pointer = pointer;
    window->pointer.kind = kind;
    window->pointer.told = true;
    qv::ShowPointerState(window);
}

void ShowDisplayPointer(qvPlatformDisplay* window) {
    window->pointer.hidden = false;
    window->pointer.told = true;
    qv::ShowPointerState(window);
}

void HideDisplayPointer(qvPlatformDisplay* window) {
    window->pointer.hidden = true;
    window->pointer.told = true;
    qv::ShowPointerState(window);
}

void SetMousePosition(qvPlatformDisplay* window, int32_t x, int32_t y) {
    window->pointer.mouseX = x;
    window->pointer.mouseY = y;
    window->pointer.told = true;
    if (qv::WindowIsOpen(window)) qv::Video().warpPointer(window, x, y);
}

// The headless back end of the platform's mouse-pointer operations: pointer objects keep
// their ARGB image and hot spot, and what a window was told (its pointer, shown or hidden,
// the mouse position) is recorded per window for tests and for the window back end to come.
#pragma once

#include <cstdint>

#include "gfx/pixel_format.h"

struct qvPlatformDisplay;

struct qvPlatformPointer {
    qvARGB* image;  // width x height, rows packed; none for a system pointer
    int32_t width, height;
    int32_t hotX, hotY;
};

// Takes the image (a block of the platform allocator) into a new pointer object; 0 or
// ERR_MEM (the image is freed then).
int CreatePointerObject(qvARGB* image, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                        qvPlatformPointer** out);
void FreePointerObject(qvPlatformPointer* pointer);
// pointer none: the system pointer of kind (STDPTR_SYSTEM or STDPTR_BUSY).
void SetDisplayPointer(qvPlatformDisplay* window, const qvPlatformPointer* pointer, int32_t kind);
void ShowDisplayPointer(qvPlatformDisplay* window);
void HideDisplayPointer(qvPlatformDisplay* window);
// Moves the mouse pointer to (x, y) of the window.
void SetMousePosition(qvPlatformDisplay* window, int32_t x, int32_t y);

namespace qv {

struct HeadlessPointerState {
    const qvPlatformDisplay* window;
    const qvPlatformPointer* pointer;
    int32_t kind;
    bool hidden;
    int32_t mouseX, mouseY;
};

// What the window was told so far; none when it was told nothing.
const HeadlessPointerState* HeadlessPointerOf(const qvPlatformDisplay* window);
// Forgets a window (it closed).
void ForgetHeadlessPointer(const qvPlatformDisplay* window);

}  // namespace qv

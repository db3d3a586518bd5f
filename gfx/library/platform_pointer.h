// The platform's mouse-pointer operations: pointer objects keep their ARGB image and hot
// spot; what a window is told (its pointer, shown or hidden, the mouse position) is kept in
// its record (platform/linux/window.h) and handed to the video back end.
#pragma once

#include <cstdint>

#include "gfx/pixel_format.h"
#include "platform/linux/window.h"

struct qvPlatformPointer {
    qvARGB* image;  // width x height, rows packed; none for a system pointer
    int32_t width, height;
    int32_t hotX, hotY;
};

// Takes the image (a block of the platform allocator) into a new pointer object; 0 or
// ERR_MEM (the image is freed then).
int CreatePointerObject(qvARGB* image, int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                        qvPlatformPointer** out);
// Open windows that show the object go back to the system pointer.
void FreePointerObject(qvPlatformPointer* pointer);
// pointer none: the system pointer of kind (STDPTR_SYSTEM or STDPTR_BUSY).
void SetDisplayPointer(qvPlatformDisplay* window, const qvPlatformPointer* pointer, int32_t kind);
void ShowDisplayPointer(qvPlatformDisplay* window);
void HideDisplayPointer(qvPlatformDisplay* window);
// Moves the mouse pointer to (x, y) of the window.
void SetMousePosition(qvPlatformDisplay* window, int32_t x, int32_t y);

namespace qv {

// What the window was told since it opened; none when it was told nothing.
const WindowPointerState* HeadlessPointerOf(const qvPlatformDisplay* window);
// Forgets what the window was told.
void ForgetHeadlessPointer(qvPlatformDisplay* window);

}  // namespace qv

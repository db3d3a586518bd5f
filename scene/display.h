// Displays (object type DISPLAY 21): one output surface of an applet, a window that shows one
// background picture. The display list keeps "private1" displays (the run-time's own) at its
// head and the others in creation order; one display is current, and drawing goes to the
// current output picture (the current display's picture unless drawing is redirected).
//
// A display record owns its work bitmaps, its window (qvPlatformDisplay), its handler slots'
// registry references and, when it made it, its background picture. Everything a script or
// the options set (position, size, flags, fill, title, regions, scaling settings) is kept in
// one plain settings block that owns nothing, so that a change of attributes can be tried on a
// copy.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/gradient.h"
#include "gfx/library/neighbours.h"
#include "objects/text/text_display.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/time.h"
#include "platform/linux/video/driver.h"
#include "runtime/event_queue.h"
#include "runtime/key_table.h"
#include "scene/layers/dirty_rects.h"

struct qvBGPic;
struct qvPlatformDisplay;
struct qvPointer;
struct qvSemaphore;

// Display states (the DISPSTATE constants).
enum : int32_t {
    DISPSTATE_CLOSED = 0,
    DISPSTATE_OPEN = 1,
    DISPSTATE_MINIMIZED = 2,
};

// Position values of displays besides KEEPPOSITION (scene/layers/dirty_rects.h), which keeps a
// coordinate: an option-table coordinate that was not given.
inline constexpr int32_t kPositionNotGiven = 99999;

namespace qv::scene {

// The display flags.
enum DisplayFlag : uint32_t {
    kFlagBorderless = 0x1,
    kFlagSizeable = 0x2,
    kFlagFixed = 0x4,
    kFlagNoModeSwitch = 0x8,
    kFlagHidePointer = 0x10,
    kFlagNoHide = 0x20,
    kFlagAutoscale = 0x40,
    kFlagSmoothScale = 0x80,
    kFlagLayerScale = 0x100,
    kFlagActive = 0x400,
    kFlagHidden = 0x800,
    kFlagLayers = 0x1000,
    kFlagUseQuartz = 0x2000,
    kFlagNoClose = 0x4000,
    kFlagKeepProportions = 0x8000,
    kFlagFitScale = 0x10000,
    kFlagDesktopFullScreen = 0x20000,  // start-up only: full screen on the desktop's screen
};

inline constexpr int kMaxDisplayRegions = 64;
inline constexpr int kPointerButtons = 3;  // left, right, middle
// The object type that marks a region row as a box.
inline constexpr int32_t kRegionBox = 14;

}  // namespace qv::scene

// A drag or size region of the window.
struct qvDisplayRegion {
    int32_t type;
    int32_t x, y, width, height;
};

// The regions of one kind: as the window uses them and as the script supplied them.
struct qvDisplayRegions {
    qvDisplayRegion used[qv::scene::kMaxDisplayRegions];
    qvDisplayRegion supplied[qv::scene::kMaxDisplayRegions];
    int32_t count;
    int32_t given;  // the script supplied them; else defaults are made at opening
};

// What options set: plain values only (the picture is a reference, owned by the picture
// list), so a copy of it is a safe work copy.
struct qvDisplaySettings {
    int32_t x, y;  // outer position; may be a position constant
    int32_t width, height;
    uint32_t flags;
    int32_t fillStyle;    // how a picture the display makes is filled: 1 colour, 2, 3
    uint32_t fillColour;  // 0xRRGGBB
    qvGradient gradient;
    int32_t textureBrush, textureX, textureY;
    char title[256];
    qvDisplayRegions dragRegions;
    qvDisplayRegions sizeRegions;
    int32_t autoscale, layerScaling, smoothScale;  // mirrors of flags 0x40, 0x100, 0x80
    int32_t scaleWidth, scaleHeight;
    int32_t letterbox[4];  // left, top, right, bottom strips around a scaled picture
    double scaleX, scaleY;
    int32_t private1, private2, private3;
    qvBGPic* picture;  // the picture shown
};

// What a redirection of drawing saves of the display.
struct qvSavedRenderState {
    int32_t saved;
    int32_t layersEnabled;
    int32_t cursorX, cursorY, leftMargin, rightMargin;
};

struct qvDisplay {
    qvDisplayPrefix prefix;  // the object header (type DISPLAY) and the held-back size events
    qvDisplaySettings settings;
    int32_t state;  // DISPSTATE_*
    int32_t ownsPicture;
    int32_t layersEnabled;
    // Output: drawing goes to the display's picture (type DISPLAY), or to an object that a
    // Select command or the double buffer redirects it into.
    int32_t outputType;
    qvDisplayBitMap* outputBitmap;
    qvPlaneBitMap* outputMask;
    qvPlaneBitMap* outputAlpha;
    qvBGPic* outputPseudoPicture;
    qvBGPic* doubleBufferPicture;
    int32_t doubleBufferOutput, hardwareDoubleBuffer, doubleBufferPending;
    // The work bitmaps at the picture's shown size: the picture as shown, and where the
    // compositor paints; the back buffers of double buffering.
    qvDisplayBitMap* displayBitmap;
    qvDisplayBitMap* compositionBitmap;
    qvDisplayBitMap* backBuffers[2];
    // The picture's mask and alpha at the scaled size: the window's shape while it scales.
    qvPlaneBitMap* scaledMask;
    qvPlaneBitMap* scaledAlpha;
    // The rectangles waiting for a refresh while drawing goes into the shown picture; full
    // means the whole picture (made with its first rectangle).
    qvRectList dirtyRects;
    // The window and what the window frame adds around the inner area.
    qvPlatformDisplay* window;
    qv::FrameSizes frame;
    qvEventHandler handlers[qv::gfx::kDisplayEventCount];
    // Input, kept by the input pump and read by the event code.
    uint8_t keys[qv::kKeyStateCount];
    int32_t buttons[qv::scene::kPointerButtons];
    int32_t mouseMoved;
    qvTimeVal mouseMoveTime;
    int32_t closeReporting;  // a close request is queued as an event instead of ending
    // The pointer a script set (none: the system pointer) and whether it hid the pointer.
    qvPointer* pointer;
    int32_t pointerHidden;
    qvTextCursor text;
    qvSavedRenderState savedRenderState;
    int32_t activateOnOpen;
    int32_t reopenAfterModeSwitch;
};

namespace qv::scene {

// What other subsystems do for the displays. Each hook is empty until the subsystem that
// owns it installs it.
struct DisplayHooks {
    // The event dispatcher: display is being freed (out of the list, its queued events
    // dropped); a cursor on it moves on to next, and an event it holds forgets it.
    void (*displayFreed)(qvDisplay* display, qvDisplay* next) = nullptr;
    // Buttons: the picture's buttons forget that they are pressed or hovered.
    void (*resetButtonStates)(qvVmState* L, qvBGPic* picture) = nullptr;
    // Output redirection: drawing on the display goes back to its picture. 0 or an error.
    int (*endRedirection)(qvVmState* L, qvDisplay* display) = nullptr;
    // The layer caches: every layer of the picture gets its display item for the display's
    // scale factors again (scale 1.0: the picture item). 0 or the first error.
    int (*rebuildLayersForDisplay)(qvVmState* L, qvDisplay* display, qvBGPic* picture) = nullptr;
    // Double buffering: the back buffer of an autoscaled display made again for its new
    // scale size. 0 or an error.
    int (*allocBackBuffer)(qvVmState* L, qvDisplay* display) = nullptr;
};
DisplayHooks& Hooks();

// The display subsystem's state.
struct DisplayState {
    qvObjectHeader* list = nullptr;  // registered with the object registry
    qvDisplay* current = nullptr;
    qvBGPic* outputPicture = nullptr;  // the current output picture
    bool ownScreen = false;            // the run-time's own full screen is open
    qvSemaphore* semaphore = nullptr;  // guards linking into and out of the list
    // The backfill display, its picture and its brush (automatic ids); none when absent.
    void* backfillDisplay = nullptr;
    void* backfillPicture = nullptr;
    void* backfillBrush = nullptr;
    // The desktop grabbed for the first display, and a spare bitmap.
    qvDisplayBitMap* desktop = nullptr;
    qvDisplayBitMap* desktopSpare = nullptr;
    // The engine the displays belong to, for requests that come with input.
    qvVmState* L = nullptr;
};
DisplayState& Displays();

inline qvDisplay* FirstDisplay() {
    return reinterpret_cast<qvDisplay*>(Displays().list);
}
inline qvDisplay* NextDisplay(const qvDisplay* display) {
    return reinterpret_cast<qvDisplay*>(display->prefix.header.next);
}
inline qvObjectId IdOf(const qvDisplay* display) {
    return {display->prefix.header.id, display->prefix.header.handle};
}
// Whether the picture has a mask or an alpha channel (its window is shaped).
bool HasShape(const qvBGPic* picture);

// A new record with the defaults of a display that is not yet listed: closed, 640 x 480,
// centred, "Quorvella", every handler slot empty; none when memory is short.
qvDisplay* NewDisplayRecord();
// Links the record into the list under the display semaphore: "private1" displays at the
// head, the others at the tail.
void LinkDisplay(qvDisplay* display);

// The key and pointer states of a display closed or given back by another program.
void ClearDisplayInput(qvDisplay* display);

}  // namespace qv::scene

// The display with the id pair: 0 with *out set, else ERR_FINDARRAY for a handle or
// ERR_FINDDISPLAY with the number as message argument.
int FindDisplay(qvObjectId id, qvDisplay** out);
// Only the primary display takes the mode-switch hotkey: the only display, or the one after a
// "private1" head.
bool IsPrimaryDisplay(const qvDisplay* display);

// Bracket a redirection of drawing: the layers flag (cleared unless keepLayers) and the text
// cursor are saved and the cursor starts at (0, 0) with margins 0 and width - 1. Saves do not
// nest: a second save keeps the first state; a restore without a save does nothing.
void SaveDisplayRenderState(qvDisplay* display, int keepLayers, int32_t width);
void RestoreDisplayRenderState(qvDisplay* display);

// The key and pointer states cleared, the platform told, the picture's buttons reset.
void ResetDisplayInput(qvVmState* L, qvDisplay* display);
// Closes the window, resets the input, and leaves the display closed.
void ResetDisplayState(qvVmState* L, qvDisplay* display);
// Releases everything the display holds (not the record): its window and input, its picture
// when it made it, its bitmaps and window record, its handler slots, its pseudo-pictures and
// dirty rectangles, its script references. Unless keepPicture, a picture that it showed
// layer-scaled and no other display shows is back at its logical size; with keepPicture the
// picture stays as it is.
void FreeDisplayContents(qvVmState* L, qvDisplay* display, int keepPicture);
// Unlinks and frees the display with the id pair (FreeDisplayContents with keepPicture); the
// lookup errors of FindDisplay.
int FreeDisplayById(qvVmState* L, qvObjectId id, int keepPicture = 0);
// Shutdown: every display (their pictures stay for the picture list's own clean-up), the
// desktop bitmaps, the own screen and the semaphore.
void FreeAllDisplays(qvVmState* L);

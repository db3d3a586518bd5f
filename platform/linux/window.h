// The window model of the platform layer. A qvPlatformDisplay is the back end's part of a
// display: its framebuffer (in the screen format) is the truth of the window's inner area;
// beside it the record keeps what the desktop shows of the window (outer position, frame,
// title, flags, shape, pointer), the input flags, the damage drawn since the last present,
// the lock held while the window is drawn into, and an owner word for the display record.
// The video back end (video/driver.h) mirrors the record on the desktop.
//
// The operations take the record and the values they apply, not the display record, which
// belongs to the display side. They do nothing for a window that is not open (one without a
// framebuffer), except where said.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/linux/bitmap.h"
#include "platform/linux/screen.h"
#include "platform/linux/video/driver.h"

struct qvVmState;
struct qvPlatformPointer;

// Display flags that the window honours.
enum : uint32_t {
    QV_WINDOW_BORDERLESS = 0x1,
    QV_WINDOW_SIZEABLE = 0x2,
    QV_WINDOW_NOHIDE = 0x20,
    QV_WINDOW_NOCLOSE = 0x4000,
};

namespace qv {

struct WindowPointerState {
    const qvPlatformPointer* pointer;  // none: the system pointer of the kind
    int32_t kind;
    bool hidden;
    bool told;  // the window was told anything since it opened
    int32_t mouseX, mouseY;
};

struct DamageRect {
    int32_t x, y, width, height;
};

// Rectangles of the framebuffer drawn since the last present. When the slots are full they
// are merged into their bounding box.
struct DamageList {
    static constexpr int kSlots = 8;
    DamageRect rects[kSlots];
    int count;
};

}  // namespace qv

struct qvPlatformDisplay {
    int32_t x, y;                  // outer position on the desktop
    qvDisplayBitMap* framebuffer;  // the inner area; none while the window is closed
    qvPlatformDisplay* next;       // open windows, bottom first
    qv::FrameSizes frame;
    uint32_t flags;  // display flags; the window honours the QV_WINDOW_ ones
    char title[256];
    qvPlaneBitMap* shape;  // 1-bit, as large as the framebuffer; none: rectangular
    qv::WindowPointerState pointer;
    bool iconified;
    bool dropTarget;        // dropped files are reported
    bool clipboardReports;  // clipboard changes are reported
    qv::DamageList damage;
    std::recursive_mutex lock;  // held while the window is drawn into or shown
    void* owner;                // the display record
    uint32_t number;            // opening number: 1 for the first window the run opened
    uint32_t displayId;         // the owner display's numeric id (0: none), for input naming it
    void* backEnd;              // the video back end's record of the window
};

// What opening a window gives it.
struct qvWindowSpec {
    int32_t x, y;           // outer position
    int32_t width, height;  // inner size
    uint32_t flags;
    const char* title;
};

// The video-dump recorder's state; the recorder drives it.
struct qvVideoDumpState {
    bool deferredRefresh;
    bool frameChanged;
    bool pointerVisible;
    int32_t pointerKind;
    uint32_t elapsedSeconds;
    uint32_t elapsedMicroseconds;
};

// A closed window record owned by the display; none when memory is short.
qvPlatformDisplay* AllocPlatformDisplay(void* owner);
// Closes the window when it is open and frees the record.
void FreePlatformDisplay(qvPlatformDisplay* window);
// Fills the window's frame sizes for those flags (before it opens, for placing it) and
// returns them.
qv::FrameSizes NewSysIImage(qvPlatformDisplay* window, uint32_t flags);
// The extra title-bar gadgets are not drawn here; the calls are counted.
void RefreshTitleGadgets(qvPlatformDisplay* window);

// Opens the window with a black framebuffer of the spec's inner size on top of the others.
// The shape is the mask (1-bit) or the alpha plane (8-bit, cut at 1: any alpha shows);
// translucency is not shown. A window that is open is closed first. 0, ERR_WINDOW (a size
// outside 1 to 32768, or the desktop refuses), or ERR_MEM.
int OpenPlatformWindow(qvPlatformDisplay* window, const qvWindowSpec& spec, int activate,
                       const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha);
void CloseDisplayWindow(qvPlatformDisplay* window);
void MoveDisplayWindow(qvPlatformDisplay* window, int32_t x, int32_t y);
// Moves and sizes the window in one step. The framebuffer keeps what fits of its pixels at
// the top left, the rest is black, all of it damaged; a shape keeps what fits, the rest
// shows. 0 or ERR_MEM (the window stays as it was).
int ChangeDisplayWindowBox(qvPlatformDisplay* window, int32_t x, int32_t y, int32_t width,
                           int32_t height);
void SetDisplayWindowTitle(qvPlatformDisplay* window, const char* title);
void ActivateDisplayWindow(qvPlatformDisplay* window, int toFront);
// hide 1 minimises the window, hide 0 restores it; 0 or an error code.
int IconifyDisplay(qvPlatformDisplay* window, int hide);
// Restores a minimised own screen; 0.
int RestoreIconifiedDisplay();
// Dropped files are reported while on; a minimised window keeps its setting. 0.
int UpdateDisplayAppWindow(qvPlatformDisplay* window, int on);
// Clipboard changes are reported while on. 0.
int SetClipboardChangeHook(qvPlatformDisplay* window, int on);

// Writes into the window's framebuffer (inner coordinates), under its lock, adding damage.
// WindowBlit copies a rectangle, cut to both bitmaps; scaled sizes other than 0 scale it to
// them by nearest neighbour (the part that lands inside the framebuffer is drawn).
void WindowBlit(const qvDisplayBitMap* bitmap, int32_t sx, int32_t sy, qvPlatformDisplay* display,
                int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t scaledWidth,
                int32_t scaledHeight);
// BltBitMap of the source's rectangle at 0,0 into through, then WindowBlit of it from there,
// in one pass where the formats agree (BltBitMapTwice).
void WindowBlitThrough(const qvDisplayBitMap* source, qvDisplayBitMap* through,
                       qvPlatformDisplay* display, int32_t dx, int32_t dy, int32_t width,
                       int32_t height);
void FillWindowRect(qvPlatformDisplay* window, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t rgb);
void WriteWindowPixel(qvPlatformDisplay* window, int32_t x, int32_t y, uint32_t rgb);
void DrawWindowLine(qvPlatformDisplay* window, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    uint32_t rgb);

// A new bitmap holding the rectangle of the window's framebuffer, or of the desktop when
// display is none: this program's shown windows over black, later ones on top, each cut to
// its shape. The rectangle is cut to the source. None when it is empty or memory is short.
qvDisplayBitMap* GrabScreenToBitMap(const qvPlatformDisplay* display, int32_t x, int32_t y,
                                    int32_t width, int32_t height);
// Waits for the next vertical blank, presents and counts it (the display is not needed:
// every window shares the screen's).
void PlatformWaitVBlank(qvVmState* L, qvPlatformDisplay* display);

namespace qv {

inline constexpr int32_t kDefaultPointerSize = 16;
// The largest inner width or height of a window.
inline constexpr int32_t kMaxWindowSide = 32768;

inline bool WindowIsOpen(const qvPlatformDisplay* window) {
    return window != nullptr && window->framebuffer != nullptr;
}

// The open windows, bottom first.
qvPlatformDisplay* OpenWindows();
// The open window with that opening number; none when no open window has it.
qvPlatformDisplay* FindOpenWindow(uint32_t number);

// The next window to open is number 1 again: a new run of the video back end.
void RestartWindowNumbers();

// Adds a rectangle of the framebuffer (cut to it) to the damage; the caller holds the lock.
void AddDamage(qvPlatformDisplay* window, DamageRect rect);
// Hands the damage over and clears it; the caller holds the lock.
DamageList TakeDamage(qvPlatformDisplay* window);

// A record and its window at (x, y) with a black framebuffer of that size and no frame;
// none when memory is short. Closed and freed by CloseHeadlessWindow.
qvPlatformDisplay* OpenHeadlessWindow(int32_t x, int32_t y, int32_t width, int32_t height);
void CloseHeadlessWindow(qvPlatformDisplay* display);

qvVideoDumpState& VideoDumpState();

}  // namespace qv

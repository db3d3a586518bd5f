// The video driver table: everything the run-time asks of the desktop (screen, windows,
// pointer, presenting, host input, joysticks, the modal requester) as one record of function
// pointers with two back ends, chosen once at start-up (video.h). "headless" keeps windows in
// memory and takes input that tests inject; "sdl" shows SDL2 windows.
//
// A back end reads and writes the window records of window.h; the common code (window.cpp,
// video.cpp) keeps their fields, so a back end only mirrors them on the desktop. Everything
// here runs on the main thread.
#pragma once

#include <cstdint>

struct qvPlatformDisplay;

namespace qv {

struct ScreenArea {
    int32_t x, y, width, height;
};

struct ScreenInfo {
    int32_t width, height;
    int32_t titleBar;   // height of the screen's bar at its top
    ScreenArea usable;  // where windows may go (without panels and bars)
    int32_t refresh;    // vertical blanks per second
};

// What a window frame adds around the inner area.
struct FrameSizes {
    int32_t left, top, right, bottom;
};

struct ScreenMode {
    int32_t width, height;
};

// A pointer image: ARGB rows packed, the hot spot inside.
struct PointerImage {
    const uint32_t* argb;
    int32_t width, height;
    int32_t hotX, hotY;
};

enum class HostEventKind : uint8_t {
    kButton,     // x, y, button (0 left, 1 right, 2 middle), down
    kWheel,      // x, y, down: false up, true down
    kKey,        // down, key, capsLock
    kMotion,     // x, y: the mouse moved over the window
    kMoved,      // x, y: the window's new outer position
    kResized,    // x, y: the inner size the user gave the window
    kClose,      // the user asks to close the window
    kFocus,      // down: true active, false inactive
    kIconify,    // down: true hidden (minimised), false shown again
    kDrop,       // x, y, names
    kClipboard,  // the clipboard changed
};

// One event of the desktop, in the window's inner coordinates.
struct HostEvent {
    HostEventKind kind;
    uint32_t window;  // the window's opening number; one the run-time does not know is dropped
    int32_t x, y;
    int32_t button;
    bool down;
    // The run-time's key code: the character of the layout without Shift (Latin-1), a special
    // key's code or a qualifier key's code (the key table's); a key with no such code is 0.
    uint32_t key;
    bool capsLock;
    // File names, each NUL-terminated, ended by an empty name: a block of the run-time
    // allocator owned by the event.
    char* names;
};

struct VideoDriver {
    const char* name;  // "headless" or "sdl"
    void (*stop)();

    ScreenInfo (*screen)();
    // Writes at most capacity distinct modes into modes and returns how many it wrote; with
    // modes none it returns how many there are.
    int32_t (*enumModes)(ScreenMode* modes, int32_t capacity);
    // The run-time's own full screen; 0 or an error code.
    int (*openScreen)(int32_t width, int32_t height);
    void (*closeScreen)();

    FrameSizes (*frameSizes)(uint32_t flags);
    // Shows the window of a record whose geometry, flags, title and shape are set; 0 or an
    // error code.
    int (*openWindow)(qvPlatformDisplay* window, bool activate);
    void (*closeWindow)(qvPlatformDisplay* window);
    // Moves and sizes the window to its record (the framebuffer already has the new size).
    void (*placeWindow)(qvPlatformDisplay* window);
    void (*setTitle)(qvPlatformDisplay* window);
    void (*activate)(qvPlatformDisplay* window, bool toFront);
    int (*iconify)(qvPlatformDisplay* window, bool hide);
    // Shows the record's pointer state: hidden, or the image (none: the system pointer of the
    // kind).
    void (*setPointer)(qvPlatformDisplay* window, const PointerImage* image);
    void (*warpPointer)(qvPlatformDisplay* window, int32_t x, int32_t y);
    // Follows the record's drop-target and clipboard-report flags.
    void (*setInputFlags)(qvPlatformDisplay* window);

    // Shows the damage of every open window as that frame (video.h numbers them).
    void (*present)(uint64_t frame);
    // Takes the next pending host event; false when there is none.
    bool (*pollEvent)(HostEvent* out);
    // Waits until a host event is pending or the monotonic clock reaches deadline
    // (microseconds); true when one is pending.
    bool (*waitEvent)(int64_t deadline);

    // Port 0 to 3: direction 0 (up) clockwise to 7 (up left), 8 none, and the button mask
    // (bit 0 the first button); 0, ERR_NOJOYATPORT or ERR_JOYSTICK.
    int (*joystick)(int port, int32_t* direction, uint32_t* buttons);
    // A modal requester: the chosen button (1, 2, ..., the last 0), or -1 when the back end
    // shows none, so that the headless requester answers.
    int (*requester)(const char* title, const char* text, const char* buttons);
};

}  // namespace qv

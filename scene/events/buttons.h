// Buttons: invisible hot areas of a background picture, a rectangle or the shape of a layer,
// each with up to eight handlers (mouse over, mouse out, down and up of each mouse button).
// A picture keeps its buttons newest first, so the newest button is tested first.
// Buttons are made and found in the current output picture; the dispatcher's click and hover
// passes (passes.h) walk the picture of each display.
#pragma once

#include <cstdint>

#include "engine/vm.h"

struct qvBGPic;
struct qvLayer;

// Button types (the constants SIMPLEBUTTON and LAYERBUTTON).
enum : int32_t {
    QV_SIMPLEBUTTON = 0,
    QV_LAYERBUTTON = 1,
};

namespace qv::events {

// The handler fields of a button, in the order of its handler references.
enum ButtonHandler : int {
    kButtonOver,
    kButtonOut,
    kButtonDown,
    kButtonUp,
    kButtonRightDown,
    kButtonRightUp,
    kButtonMidDown,
    kButtonMidUp,
    kButtonHandlerCount,
};

// What DumpButtons reports as the record's size: the listing is read by people and tools
// that know the record as 100 bytes.
inline constexpr int kListedButtonSize = 100;

}  // namespace qv::events

struct qvBGPicButton {
    qvBGPicButton* next;
    uint32_t id;
    void* handle;  // the record itself for an automatic id, else none
    int32_t type;  // QV_SIMPLEBUTTON or QV_LAYERBUTTON
    // The rectangle, inclusive, in picture coordinates (0, 0, -1, -1 for a layer button).
    int32_t x1, y1, x2, y2;
    int32_t enabled;
    int32_t pressed[3];  // left, right, middle: pressed on this button and not yet released
    int32_t hover;       // the mouse is over the button, as last reported
    int32_t handlers[qv::events::kButtonHandlerCount];  // registry references, -1 for none
    qvLayer* layer;
    int32_t pixelExact;        // layer button: hit only where the layer's image is solid
    int32_t activeWhenHidden;  // layer button: still reacts while its layer is hidden
    int32_t userData;          // registry reference, -1 for none
};

// MakeButton(id or nil, SIMPLEBUTTON, x, y, width, height, handlers [, user data]) or
// MakeButton(id or nil, LAYERBUTTON, layer, pixel exact, active when hidden, handlers
// [, user data]): the automatic id when the id was nil.
int MakeButton(qvVmState* L);
int DeleteButton(qvVmState* L);
int EnableButton(qvVmState* L);
int DisableButton(qvVmState* L);
// Lists the current output picture's buttons on the debug output.
int DumpButtons(qvVmState* L);

// The layer is going: the first button of the picture attached to it goes with it.
void FreeButtonOfLayer(qvVmState* L, qvBGPic* picture, const qvLayer* layer);
// Another layer takes the place of one that is replaced: its buttons go with the place.
void MoveLayerButtons(qvBGPic* picture, const qvLayer* from, qvLayer* to);
// The display's picture or mode changed: the picture's buttons forget their presses.
void ResetButtonStates(qvVmState* L, qvBGPic* picture);

namespace qv::events {

// Frees every button of the picture with its references (L none: the references belong to an
// engine that is gone and are forgotten).
void FreeButtonList(qvVmState* L, qvBGPic* picture);
// Frees what the click pass keeps to find buttons fast: the end of a run.
void FreeButtonIndex();

}  // namespace qv::events

#include "scene/events/buttons.h"

#include <algorithm>
#include <array>
#include <limits>

#include "gfx/geometry.h"
#include "gfx/kernels/rows.h"
#include "platform/linux/blocks.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "scene/bgpic.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_displays.h"
#include "scene/events/owned_ref.h"
#include "scene/events/passes.h"
#include "scene/events/rect_scan.h"
#include "scene/layers/compositor.h"
#include "scene/layers/layer.h"

namespace qv::events {
namespace {

// The handler table's field names and the actions their calls report, in handler order.
constexpr const char* kFieldNames[kButtonHandlerCount] = {
    "onmouseover",      "onmouseout",     "onmousedown",    "onmouseup",
    "onrightmousedown", "onrightmouseup", "onmidmousedown", "onmidmouseup",
};
constexpr MessageName kActions[kButtonHandlerCount] = {
    MessageName::kOnMouseOver,    MessageName::kOnMouseOut,       MessageName::kOnMouseDown,
    MessageName::kOnMouseUp,      MessageName::kOnRightMouseDown, MessageName::kOnRightMouseUp,
    MessageName::kOnMidMouseDown, MessageName::kOnMidMouseUp,
};

// Enabled, and a layer button's layer shown unless the button reacts while it is hidden.
bool Testable(const qvBGPicButton* button) {
    if (button->enabled == 0) return false;
    return button->type != QV_LAYERBUTTON || button->layer->hidden == 0 ||
           button->activeWhenHidden != 0;
}

bool AnyPressed(const qvBGPicButton* button) {
    return std::any_of(std::begin(button->pressed), std::end(button->pressed),
                       [](int32_t p) { return p != 0; });
}

bool InHalfOpen(int32_t x, int32_t y, int32_t left, int32_t top, int32_t width, int32_t height) {
    return x >= left && y >= top && int64_t{x} < int64_t{left} + width &&
           int64_t{y} < int64_t{top} + height;
}

// Whether the bit of a 1-bit plane at (x, y) is set; outside the plane nothing is.
bool PlaneBitSet(const qvPlaneBitMap* plane, int32_t bytesPerRow, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || y >= plane->height || int64_t{x} >= int64_t{bytesPerRow} * 8) {
        return false;
    }
    return MaskBit(PlaneRow(plane->plane, bytesPerRow, y), x);
}

// The pixel collision test of the layer's image against a solid 1 x 1 rectangle at the image
// point: every plane the image has (mask bit, alpha value) must be set there.
bool ImageSolidAt(const qvLayerPicture& image, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return false;
    if (PlaneUsable(image.mask) && !PlaneBitSet(image.mask, image.mask->bytesPerRow, x, y)) {
        return false;
    }
    if (PlaneUsable(image.alpha)) {
        if (x >= PlaneExtentX(image.alpha) || y >= image.alpha->height) return false;
        return PlaneRow(image.alpha->plane, image.alpha->bytesPerRow, y)[x] != 0;
    }
    return true;
}

// Whether the point (in picture coordinates) lies on the layer's shape: inside its draw
// rectangle, inside its clip region and the region's mask, and, pixel-exact, on a solid pixel
// of its image as filters and transform leave it.
bool LayerHit(qvVmState* L, const qvBGPicButton* button, DisplayPoint at) {
    qvLayer* layer = button->layer;
    qvLayerItem* item = layer->pictureItem;
    if (item == nullptr ||
        !InHalfOpen(at.x, at.y, item->drawX, item->drawY, item->drawWidth, item->drawHeight)) {
        return false;
    }
    if (const qvClipRegion* region = item->clipRegion) {
        if (!InHalfOpen(at.x, at.y, region->x, region->y, region->width, region->height)) {
            return false;
        }
        if (PlaneUsable(region->mask) && !PlaneBitSet(region->mask, region->maskBytesPerRow,
                                                      at.x - region->x, at.y - region->y)) {
            return false;
        }
    }
    if (button->pixelExact == 0) return true;
    qvLayerPicture image;
    if (GetLayerImage(L, layer, item, 1, 1, -1, &image) != 0 || image.bitmap == nullptr) {
        return false;
    }
    return ImageSolidAt(image, at.x - item->drawX + image.offsetX,
                        at.y - item->drawY + image.offsetY);
}

// Whether the button is under the point, in picture coordinates. Window points are rounded
// down into the picture, so that a letterbox strip left of or above the picture misses
// column and row 0.
bool Hit(qvVmState* L, const qvBGPicButton* button, DisplayPoint at) {
    if (button->type == QV_LAYERBUTTON) return LayerHit(L, button, at);
    return button->x1 <= at.x && at.x <= button->x2 && button->y1 <= at.y && at.y <= button->y2;
}

// The rectangles of one picture's buttons in list order, a column per edge, so that the click
// pass tests many buttons a step (rect_scan.h) in contiguous memory instead of following the list
// (a walk of a long list waits on every link). Any button made or freed makes it stale; enabling
// and the flags are read from the records of the rectangles hit. A layer button's rectangle spans
// every point: its layer moves and changes shape, so it is tested through its record.
struct HitIndex {
    const qvBGPic* picture = nullptr;
    uint64_t generation = 0;
    BlockPtr<uint8_t> block;  // the columns below, in one allocation
    int32_t *x1 = nullptr, *y1 = nullptr, *x2 = nullptr, *y2 = nullptr;
    qvBGPicButton** buttons = nullptr;
    size_t count = 0, capacity = 0;
};
uint64_t listGeneration = 1;  // counts the changes of every button list
HitIndex hitIndex;

constexpr size_t kHitEntryBytes = 4 * sizeof(int32_t) + sizeof(qvBGPicButton*);

// Room for count entries in the index's columns; false when memory is short.
bool Reserve(HitIndex& index, size_t count) {
    if (count <= index.capacity) return true;
    index.block.reset(static_cast<uint8_t*>(AllocMemBlock(count * kHitEntryBytes, 0)));
    index.capacity = index.block ? count : 0;
    if (!index.block) return false;
    // The pointer column first keeps every column aligned.
    index.buttons = reinterpret_cast<qvBGPicButton**>(index.block.get());
    int32_t* edges = reinterpret_cast<int32_t*>(index.buttons + count);
    index.x1 = edges, index.y1 = edges + count, index.x2 = edges + 2 * count;
    index.y2 = edges + 3 * count;
    return true;
}

// The picture's index, made again when stale; none when memory is short.
const HitIndex* IndexOf(const qvBGPic* picture) {
    HitIndex& index = hitIndex;
    if (index.picture == picture && index.generation == listGeneration) return &index;
    size_t count = 0;
    for (const qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) ++count;
    if (!Reserve(index, count)) {
        index.picture = nullptr;
        return nullptr;
    }
    constexpr int32_t kLow = std::numeric_limits<int32_t>::min();
    constexpr int32_t kHigh = std::numeric_limits<int32_t>::max();
    size_t i = 0;
    for (qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next, ++i) {
        const bool layer = b->type == QV_LAYERBUTTON;
        index.x1[i] = layer ? kLow : b->x1, index.y1[i] = layer ? kLow : b->y1;
        index.x2[i] = layer ? kHigh : b->x2, index.y2[i] = layer ? kHigh : b->y2;
        index.buttons[i] = b;
    }
    index.count = count;
    index.picture = picture;
    index.generation = listGeneration;
    return &index;
}

// Calls visit with each button under the point, in list order, until it returns true.
template <typename Visit>
void ForEachHit(qvVmState* L, qvBGPic* picture, DisplayPoint at, Visit visit) {
    const HitIndex* index = IndexOf(picture);
    if (index == nullptr) {
        for (qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) {
            if (Hit(L, b, at) && visit(b)) return;
        }
        return;
    }
    const RectColumns rects{index->x1, index->y1, index->x2, index->y2, index->count};
    for (size_t i = FirstRectHolding(rects, 0, at.x, at.y); i < rects.count;
         i = FirstRectHolding(rects, i + 1, at.x, at.y)) {
        qvBGPicButton* b = index->buttons[i];
        if ((b->type != QV_LAYERBUTTON || LayerHit(L, b, at)) && visit(b)) return;
    }
}

qvBGPicButton* FindButton(const qvBGPic* picture, qvObjectId id) {
    for (qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) {
        if (b->id == id.number && b->handle == id.handle) return b;
    }
    return nullptr;
}

// Releases the button's references, moves the hover pass off it, unlinks and frees it.
void FreeButtonRecord(qvVmState* L, qvBGPic* picture, qvBGPicButton* button) {
    if (L != nullptr) {
        for (int32_t ref : button->handlers) FreeRef(L, VM_REGISTRYINDEX, ref);
        FreeRef(L, VM_REGISTRYINDEX, button->userData);
    }
    if (qvEventState* state = EventState()) {
        if (state->buttonCursor == button) state->buttonCursor = button->next;
        if (state->hitButton == button) state->hitButton = nullptr;
        if (state->pressedButton == button) state->pressedButton = nullptr;
    }
    for (qvBGPicButton** link = &picture->buttons; *link != nullptr; link = &(*link)->next) {
        if (*link == button) {
            *link = button->next;
            break;
        }
    }
    ++listGeneration;
    FreeMemBlock(button);
}

// The button that argument 1 names in the current output picture: 0, ERR_BGPICBUTTON without
// such a picture, or the lookup error.
int ButtonArg(qvVmState* L, qvBGPic** picture, qvBGPicButton** button) {
    CheckArgCount(L, 1, 1);
    const qvObjectId id = GetObjectIdArg(L, 1);
    *picture = Displays().ButtonPicture();
    if (*picture == nullptr) return ERR_BGPICBUTTON;
    *button = FindButton(*picture, id);
    return *button != nullptr ? 0 : ObjectNotFound(id, ERR_FINDBUTTON);
}

// The eight handler references of the table at idx, each released again unless the button
// takes them. A field that is neither nil nor a function raises the argument error.
class ButtonHandlers {
public:
    explicit ButtonHandlers(qvVmState* L) : L_(L) { refs_.fill(-1); }
    ~ButtonHandlers() {
        for (int32_t ref : refs_) FreeRef(L_, VM_REGISTRYINDEX, ref);
    }
    ButtonHandlers(const ButtonHandlers&) = delete;
    ButtonHandlers& operator=(const ButtonHandlers&) = delete;

    // false when the table has none of the fields.
    bool Read(int idx) {
        CheckArgTable(L_, idx);
        bool any = false;
        for (int i = 0; i < kButtonHandlerCount; ++i) {
            VmPushString(L_, kFieldNames[i]);
            VmGetTable(L_, idx);
            if (VmType(L_, -1) == VM_TNIL) {
                VmSetTop(L_, -2);
                continue;
            }
            CheckArgFunction(L_, VmGetTop(L_));
            refs_[i] = MakeRef(L_, VM_REGISTRYINDEX);
            any = true;
        }
        return any;
    }
    void HandOver(int32_t* out) {
        std::copy(refs_.begin(), refs_.end(), out);
        refs_.fill(-1);
    }

private:
    qvVmState* L_;
    std::array<int32_t, kButtonHandlerCount> refs_;
};

// x + size - 1 without overflow: a button beyond the coordinate range ends at its edge.
int32_t LastOf(int32_t first, int32_t size) {
    const int64_t last = int64_t{first} + size - 1;
    return static_cast<int32_t>(std::min<int64_t>(last, std::numeric_limits<int32_t>::max()));
}

// The message of a button's handler.
void PrepareButtonMessage(qvEventMessage* message, qvDisplay* display, qvBGPic* picture,
                          qvBGPicButton* button, int handler) {
    StartMessage(message);
    message->kind = QV_MSG_BUTTON;
    message->action = kActions[handler];
    message->display = display;
    message->bgpic = picture;
    message->button = button;
    message->function = button->handlers[handler];
    message->userData = button->userData;
}

int PressedIndex(uint32_t eventType) {
    switch (eventType) {
        case QV_EVENT_RIGHTMOUSE:
            return int(MouseButton::kRight);
        case QV_EVENT_MIDMOUSE:
            return int(MouseButton::kMiddle);
        default:
            return int(MouseButton::kLeft);
    }
}

}  // namespace

void FreeButtonList(qvVmState* L, qvBGPic* picture) {
    while (picture->buttons != nullptr) FreeButtonRecord(L, picture, picture->buttons);
}

void FreeButtonIndex() {
    hitIndex = {};
}

bool ButtonClickPass(qvVmState* L, qvDisplay* display, const qvInputEvent& event,
                     qvEventMessage* message) {
    qvBGPic* picture = Displays().Picture(display);
    if (picture == nullptr) return false;
    const DisplayPoint at = Displays().ToDisplay(display, static_cast<int32_t>(event.x),
                                                 static_cast<int32_t>(event.y), Rounding::kDown);
    const int which = PressedIndex(event.type);
    const bool down = event.down != 0;
    qvBGPicButton* taker = nullptr;
    ForEachHit(L, picture, at, [&](qvBGPicButton* b) {
        if (!Testable(b) || (!down && b->pressed[which] == 0)) return false;
        taker = b;
        return true;
    });
    if (taker != nullptr) {
        taker->pressed[which] = down ? 1 : 0;
        // Down and up handlers of the left, right and middle button, in handler order.
        const int handler = kButtonDown + 2 * which + (down ? 0 : 1);
        if (taker->handlers[handler] == -1) return false;  // this button takes the event
        PrepareButtonMessage(message, display, picture, taker, handler);
        return true;
    }
    if (!down) {
        for (qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) {
            if (b->enabled != 0) b->pressed[which] = 0;
        }
    }
    return false;
}

bool ButtonHoverPass(qvVmState* L, qvDisplay* display, int32_t mouseX, int32_t mouseY, bool resumed,
                     qvEventMessage* message) {
    qvEventState* state = EventState();
    qvBGPic* picture = Displays().Picture(display);
    if (state == nullptr || picture == nullptr) return false;
    if (!resumed) {
        const DisplayPoint at = Displays().ToDisplay(display, mouseX, mouseY, Rounding::kDown);
        state->pressedButton = state->hitButton = nullptr;
        for (qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) {
            if (!Testable(b)) continue;
            if (state->pressedButton == nullptr && AnyPressed(b)) state->pressedButton = b;
            if (state->hitButton == nullptr && Hit(L, b, at)) state->hitButton = b;
            if (state->pressedButton != nullptr && state->hitButton != nullptr) break;
        }
        state->buttonCursor = picture->buttons;
    }
    while (qvBGPicButton* candidate = state->buttonCursor) {
        state->buttonCursor = candidate->next;
        if (!Testable(candidate)) continue;
        if (state->pressedButton != nullptr && candidate != state->pressedButton) continue;
        if (candidate == state->hitButton && candidate->hover == 0) {
            if (state->pressedButton == nullptr) {
                // The button the mouse left goes out first; the scan then starts over.
                for (qvBGPicButton* other = picture->buttons; other != nullptr;
                     other = other->next) {
                    if (other == candidate || other->hover == 0) continue;
                    other->hover = 0;
                    if (!Testable(other) || other->handlers[kButtonOut] == -1) continue;
                    PrepareButtonMessage(message, display, picture, other, kButtonOut);
                    state->buttonCursor = picture->buttons;
                    return true;
                }
            }
            candidate->hover = 1;
            if (candidate->handlers[kButtonOver] == -1) continue;
            PrepareButtonMessage(message, display, picture, candidate, kButtonOver);
            return true;
        }
        if (candidate != state->hitButton && candidate->hover != 0) {
            candidate->hover = 0;
            if (candidate->handlers[kButtonOut] == -1) continue;
            PrepareButtonMessage(message, display, picture, candidate, kButtonOut);
            return true;
        }
    }
    return false;
}

void PushButtonFields(qvVmState* L, qvEventMessage* message) {
    const qvBGPicButton* b = message->button;
    message->id = {b->id, b->handle};
    message->hasId = true;
    SetMessageField(L, MessageName::kId, message->id);
    SetMessageField(L, MessageName::kX, b->x1);
    SetMessageField(L, MessageName::kY, b->y1);
    SetMessageField(L, MessageName::kWidth, static_cast<int32_t>(int64_t{b->x2} + 1 - b->x1));
    SetMessageField(L, MessageName::kHeight, static_cast<int32_t>(int64_t{b->y2} + 1 - b->y1));
    SetMessageField(L, MessageName::kMouseDown, b->pressed[int(MouseButton::kLeft)]);
    SetMessageField(L, MessageName::kRightMouseDown, b->pressed[int(MouseButton::kRight)]);
    SetMessageField(L, MessageName::kMidMouseDown, b->pressed[int(MouseButton::kMiddle)]);
    const qvObjectHeader& display = DisplayPrefixOf(message->display)->header;
    SetMessageField(L, MessageName::kDisplay, qvObjectId{display.id, display.handle});
    if (b->type == QV_LAYERBUTTON) {
        SetMessageField(L, MessageName::kLayer, IndexOfLayer(message->bgpic, b->layer));
        SetMessageField(L, MessageName::kLayerName,
                        b->layer->name != nullptr ? b->layer->name : "");
    }
}

}  // namespace qv::events

using namespace qv::events;

namespace {

// Where the handler table of a button of the type is; the rest of the type's arguments are
// read into the record. 0 or the first argument's error.
int ReadShape(qvVmState* L, qvBGPic* picture, int32_t type, qvBGPicButton* shape,
              const qvBGPicButton* replaced, int* tableArg) {
    if (type == QV_SIMPLEBUTTON) {
        int32_t x = GetOptIntArg(L, 3, nullptr), y = GetOptIntArg(L, 4, nullptr);
        const int32_t width = GetOptIntArg(L, 5, nullptr), height = GetOptIntArg(L, 6, nullptr);
        if (width < 1 || height < 1) return ERR_WRONGUSAGE;
        x = ResolvePosX(x, width, picture->width, 0.0);
        y = ResolvePosY(y, height, picture->height, 0.0);
        shape->x1 = x, shape->y1 = y;
        shape->x2 = LastOf(x, width), shape->y2 = LastOf(y, height);
        *tableArg = 7;
        return 0;
    }
    if (type != QV_LAYERBUTTON) return ERR_WRONGUSAGE;
    qvLayer* layer = GetLayerByIndex(picture, FindLayerArg(L, 3, picture));
    if (layer == nullptr) return ERR_LAYERRANGE;
    // One button per layer; the button this call replaces does not count.
    for (const qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) {
        if (b != replaced && b->type == QV_LAYERBUTTON && b->layer == layer) return ERR_WRONGUSAGE;
    }
    shape->x1 = shape->y1 = 0;
    shape->x2 = shape->y2 = -1;
    shape->layer = layer;
    shape->pixelExact = GetOptIntArg(L, 4, nullptr) != 0 ? 1 : 0;
    shape->activeWhenHidden = GetOptIntArg(L, 5, nullptr) != 0 ? 1 : 0;
    *tableArg = 6;
    return 0;
}

}  // namespace

int MakeButton(qvVmState* L) {
    CheckArgCount(L, 6, 8);
    int automatic = 0;
    const auto number = static_cast<uint32_t>(GetOptIntArg(L, 1, &automatic));
    const int32_t type = GetOptIntArg(L, 2, nullptr);
    qvBGPic* picture = Displays().ButtonPicture();
    if (picture == nullptr) return ERR_BGPICBUTTON;
    qvBGPicButton* const replaced =
        automatic == 0 ? FindButton(picture, {number, nullptr}) : nullptr;
    qvBGPicButton shape{};
    int tableArg = 0;
    if (const int code = ReadShape(L, picture, type, &shape, replaced, &tableArg)) return code;
    ButtonHandlers handlers(L);
    if (!handlers.Read(tableArg)) return ERR_WRONGUSAGE;
    OwnedRef userData(L, VmGetTop(L) > tableArg ? MakeRefTo(L, tableArg + 1) : -1);
    auto* button = static_cast<qvBGPicButton*>(AllocMemBlock(sizeof(qvBGPicButton), 1));
    if (button == nullptr) return ERR_MEM;
    // Only now, with nothing left to fail, does a button of the same id make way.
    if (replaced != nullptr) FreeButtonRecord(L, picture, replaced);
    *button = shape;
    button->id = automatic != 0 ? 0 : number;
    button->handle = automatic != 0 ? button : nullptr;
    button->type = type;
    button->enabled = 1;
    handlers.HandOver(button->handlers);
    button->userData = userData.release();
    button->next = picture->buttons;
    picture->buttons = button;
    ++listGeneration;
    if (automatic == 0) return 0;
    VmPushLightUserdata(L, button);
    return 1;
}

int DeleteButton(qvVmState* L) {
    qvBGPic* picture = nullptr;
    qvBGPicButton* button = nullptr;
    if (const int code = ButtonArg(L, &picture, &button)) return code;
    FreeButtonRecord(L, picture, button);
    return 0;
}

int EnableButton(qvVmState* L) {
    qvBGPic* picture = nullptr;
    qvBGPicButton* button = nullptr;
    if (const int code = ButtonArg(L, &picture, &button)) return code;
    button->enabled = 1;
    std::fill(std::begin(button->pressed), std::end(button->pressed), 0);
    return 0;
}

int DisableButton(qvVmState* L) {
    qvBGPic* picture = nullptr;
    qvBGPicButton* button = nullptr;
    if (const int code = ButtonArg(L, &picture, &button)) return code;
    button->enabled = 0;
    std::fill(std::begin(button->pressed), std::end(button->pressed), 0);
    return 0;
}

int DumpButtons(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    const qvBGPic* picture = Displays().ButtonPicture();
    if (picture == nullptr) return ERR_BGPICBUTTON;
    int count = 0;
    for (const qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) ++count;
    WriteDebugText("BUTTON SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qvBGPicButton): %d\nButtons: %d\n",
                   static_cast<int>(picture->header.id), static_cast<const void*>(picture),
                   kListedButtonSize, count);
    int number = 0;
    for (const qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) {
        WriteDebugText("(%d) Type: %d - X1: %d - Y1: %d - X2: %d - Y2: %d\n", ++number, b->type,
                       b->x1, b->y1, b->x2, b->y2);
    }
    return 0;
}

void FreeButtonOfLayer(qvVmState* L, qvBGPic* picture, const qvLayer* layer) {
    if (picture == nullptr) return;
    for (qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) {
        if (b->type == QV_LAYERBUTTON && b->layer == layer) {
            FreeButtonRecord(L, picture, b);
            return;
        }
    }
}

void MoveLayerButtons(qvBGPic* picture, const qvLayer* from, qvLayer* to) {
    if (picture == nullptr) return;
    for (qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) {
        if (b->type == QV_LAYERBUTTON && b->layer == from) b->layer = to;
    }
}

void ResetButtonStates(qvVmState*, qvBGPic* picture) {
    if (picture == nullptr) return;
    for (qvBGPicButton* b = picture->buttons; b != nullptr; b = b->next) {
        std::fill(std::begin(b->pressed), std::end(b->pressed), 0);
    }
}

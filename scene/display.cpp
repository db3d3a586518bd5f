#include "scene/display.h"

#include <cstring>

#include "gfx/geometry.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/object_types.h"
#include "platform/linux/blocks.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/lists.h"
#include "platform/linux/screen.h"
#include "platform/linux/semaphore.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "runtime/errors.h"
#include "runtime/runtime_state.h"
#include "scene/bgpic.h"
#include "scene/display_engine.h"
#include "scene/double_buffer.h"

namespace qv::scene {
namespace {

constexpr int32_t kDefaultWidth = 640, kDefaultHeight = 480;
constexpr char kDefaultTitle[] = "Quorvella";

qvDisplay* AsDisplay(qvObjectHeader* header) {
    return reinterpret_cast<qvDisplay*>(header);
}

void ReleaseHandlers(qvVmState* L, qvDisplay* display) {
    for (qvEventHandler& slot : display->handlers) {
        if (slot.function != -1) FreeRef(L, VM_REGISTRYINDEX, slot.function);
        if (slot.userData != -1) FreeRef(L, VM_REGISTRYINDEX, slot.userData);
        slot = {-1, -1};
    }
}

// The display semaphore for one scope; none after the library closed.
class ListLock {
public:
    ListLock() : semaphore_(Displays().semaphore) {
        if (semaphore_ != nullptr) ObtainSem(semaphore_);
    }
    ~ListLock() {
        if (semaphore_ != nullptr) ReleaseSem(semaphore_);
    }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    qvSemaphore* semaphore_;
};

void FreeWorkBitmaps(qvDisplay* display) {
    for (qvDisplayBitMap** bitmap : {&display->displayBitmap, &display->compositionBitmap,
                                     &display->backBuffers[0], &display->backBuffers[1]}) {
        FreeDisplayBitMap(*bitmap);
        *bitmap = nullptr;
    }
    FreePlaneBitMap(display->scaledMask);
    FreePlaneBitMap2(display->scaledAlpha);
    display->scaledMask = nullptr, display->scaledAlpha = nullptr;
}

bool ShownByOtherDisplay(const qvDisplay* display, const qvBGPic* picture) {
    for (const qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
        if (d != display && d->settings.picture == picture) return true;
    }
    return false;
}

}  // namespace

DisplayHooks& Hooks() {
    static DisplayHooks hooks;
    return hooks;
}

DisplayState& Displays() {
    static DisplayState state;
    return state;
}

bool HasShape(const qvBGPic* picture) {
    return picture != nullptr &&
           (picture->shown.mask != nullptr || picture->shown.alpha != nullptr);
}

qvDisplay* NewDisplayRecord() {
    auto* display = NewBlock<qvDisplay>();
    if (display == nullptr) return nullptr;
    display->prefix.header.type = gfx::kTypeDisplay;
    qvDisplaySettings& s = display->settings;
    s.x = s.y = gfx::CENTER;
    s.width = kDefaultWidth, s.height = kDefaultHeight;
    s.fillStyle = QV_FILL_COLOUR;
    std::strcpy(s.title, kDefaultTitle);
    s.scaleX = s.scaleY = 1.0;
    display->outputType = gfx::kTypeDisplay;
    for (qvEventHandler& slot : display->handlers) slot = {-1, -1};
    return display;
}

void LinkDisplay(qvDisplay* display) {
    DisplayState& state = Displays();
    ListLock hold;
    if (display->settings.private1 != 0) {
        display->prefix.header.next = state.list;
        state.list = &display->prefix.header;
    } else {
        AppendObject(&state.list, &display->prefix.header);
    }
}

void ClearDisplayInput(qvDisplay* display) {
    std::memset(display->keys, 0, sizeof display->keys);
    for (int32_t& button : display->buttons) button = 0;
}

}  // namespace qv::scene

using namespace qv::scene;

int FindDisplay(qvObjectId id, qvDisplay** out) {
    *out = AsDisplay(qv::FindObjectInList(Displays().list, id));
    return *out != nullptr ? 0 : qv::ObjectNotFound(id, ERR_FINDDISPLAY);
}

bool IsPrimaryDisplay(const qvDisplay* display) {
    const qvDisplay* head = FirstDisplay();
    if (head == nullptr) return false;
    const qvDisplay* second = NextDisplay(head);
    if (display == head) return second == nullptr;
    return display == second && head->settings.private1 != 0;
}

void SaveDisplayRenderState(qvDisplay* display, int keepLayers, int32_t width) {
    qvSavedRenderState& saved = display->savedRenderState;
    if (saved.saved != 0) return;
    const qvTextCursor& text = display->text;
    saved = {1, display->layersEnabled, text.x, text.y, text.leftMargin, text.rightMargin};
    if (keepLayers != 1) display->layersEnabled = 0;
    ResetTextCursor(&display->text, width);
}

void RestoreDisplayRenderState(qvDisplay* display) {
    qvSavedRenderState& saved = display->savedRenderState;
    // Nothing saved: nothing to restore (the zeroed record would turn the layers off).
    if (saved.saved == 0) return;
    saved.saved = 0;
    display->layersEnabled = saved.layersEnabled;
    qvTextCursor& text = display->text;
    text.x = saved.cursorX, text.y = saved.cursorY;
    text.leftMargin = saved.leftMargin, text.rightMargin = saved.rightMargin;
}

void ResetDisplayInput(qvVmState* L, qvDisplay* display) {
    ClearDisplayInput(display);
    NotifyDisplayChange(display);
    if (auto reset = Hooks().resetButtonStates; reset != nullptr && display->settings.picture) {
        reset(L, display->settings.picture);
    }
}

void ResetDisplayState(qvVmState* L, qvDisplay* display) {
    // A display that closes or changes mode keeps what was drawn into its back buffer.
    EndDoubleBufferEx(display);
    CloseDisplayWindow(display->window);
    ResetDisplayInput(L, display);
    display->activateOnOpen = 0;
    display->state = DISPSTATE_CLOSED;
}

void FreeDisplayContents(qvVmState* L, qvDisplay* display, int keepPicture) {
    if (display->state != DISPSTATE_CLOSED) ResetDisplayState(L, display);
    qvBGPic* shown = display->settings.picture;
    if (keepPicture == 0 && display->settings.layerScaling != 0 && shown != nullptr &&
        !ShownByOtherDisplay(display, shown)) {
        ShowAtLogicalSize(L, shown);
    }
    if (keepPicture == 0 && display->ownsPicture != 0 && display->settings.picture != nullptr) {
        const qvObjectHeader& picture = display->settings.picture->header;
        FreeBGPicById(L, {picture.id, picture.handle}, 0);
    }
    FreeWorkBitmaps(display);
    FreePlatformDisplay(display->window);
    display->window = nullptr;
    ReleaseHandlers(L, display);
    FreeMemBlock(display->doubleBufferPicture);
    FreeMemBlock(display->outputPseudoPicture);
    FreeRectList(&display->dirtyRects);
    display->doubleBufferPicture = display->outputPseudoPicture = nullptr;
    FreeRefList(L, display->prefix.header.data);
    display->prefix.header.data = nullptr;
    display->settings.picture = nullptr;
    display->ownsPicture = 0;
}

int FreeDisplayById(qvVmState* L, qvObjectId id, int keepPicture) {
    qvDisplay* display = nullptr;
    if (int code = FindDisplay(id, &display)) return code;
    DisplayState& state = Displays();
    qvDisplay* next = NextDisplay(display);
    {
        ListLock hold;
        UnlinkObject(&state.list, &display->prefix.header);
    }
    FreeDisplayContents(L, display, keepPicture);
    DropDisplayEvents(display);
    if (Hooks().displayFreed != nullptr) Hooks().displayFreed(display, next);
    qv::DeleteBlock(display);
    return 0;
}

void FreeAllDisplays(qvVmState* L) {
    DisplayState& state = Displays();
    // What the windows show is presented once more before they close.
    if (state.list != nullptr) qv::Present();
    FreeAsyncDraws(L);
    qv::DrainList(&state.list, [L, &state](qvObjectHeader* header) {
        qvDisplay* display = AsDisplay(header);
        FreeDisplayContents(L, display, 1);
        DropDisplayEvents(display);
        if (Hooks().displayFreed != nullptr) Hooks().displayFreed(display, AsDisplay(state.list));
        qv::DeleteBlock(display);
    });
    state.current = nullptr;
    state.outputPicture = nullptr;
    // The backfill's picture and brush go with their lists.
    state.backfillDisplay = state.backfillPicture = state.backfillBrush = nullptr;
    ReleaseScreenPens();
    if (state.ownScreen) {
        CloseDisplayScreen();
        state.ownScreen = false;
    }
    FreeDisplayBitMap(state.desktop);
    FreeDisplayBitMap(state.desktopSpare);
    state.desktop = state.desktopSpare = nullptr;
    FreeSemaphore(state.semaphore);
    state.semaphore = nullptr;
    qv::Runtime().displayOpen = 0;
}

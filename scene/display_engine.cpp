#include "scene/display_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gfx/blit_frontends.h"
#include "gfx/geometry.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/object_types.h"
#include "gfx/library/platform_pointer.h"
#include "gfx/library/pointers.h"
#include "media/video_display.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/screen.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/option_tables.h"
#include "runtime/runtime_state.h"
#include "scene/bgpic.h"
#include "scene/double_buffer.h"
#include "scene/gradient_options.h"

namespace qv::scene {
namespace {

constexpr int32_t kMaxScaleSide = 32768;
constexpr int32_t kMaxTitle = 255;
// The flags a window is opened with: a change of one of them opens it again.
constexpr uint32_t kReopenFlags = kFlagBorderless | kFlagSizeable | kFlagFixed | kFlagNoHide |
                                  kFlagUseQuartz | kFlagNoClose | kFlagKeepProportions |
                                  kFlagFitScale;

struct FlagKey {
    const char* key;
    uint32_t flag;
};
// The boolean options in the order they are read.
constexpr FlagKey kFlagKeys[] = {
    {"borderless", kFlagBorderless},
    {"sizeable", kFlagSizeable},
    {"fixed", kFlagFixed},
    {"nohide", kFlagNoHide},
    {"nomodeswitch", kFlagNoModeSwitch},
    {"smoothscale", kFlagSmoothScale},
    {"active", kFlagActive},
    {"hidepointer", kFlagHidePointer},
    {"usequartz", kFlagUseQuartz},
    {"noclose", kFlagNoClose},
    {"keepproportions", kFlagKeepProportions},
    {"fitscale", kFlagFitScale},
};
// Read only by CreateDisplay.
constexpr FlagKey kCreationFlagKeys[] = {{"hidden", kFlagHidden}, {"layers", kFlagLayers}};

int AbsoluteIndex(qvVmState* L, int idx) {
    return idx < 0 && idx > VM_REGISTRYINDEX ? VmGetTop(L) + idx + 1 : idx;
}

[[noreturn]] void RaiseTableExpected(qvVmState* L, int t) {
    SetErrorNumber(static_cast<uint32_t>(t));
    RaiseError(L, ERR_TABEXPECTED);
}

void ReadFlag(qvVmState* L, int t, const FlagKey& key, uint32_t* flags) {
    uint32_t value = 0;
    if (GetTableFieldBool(L, t, key.key, &value, nullptr) != 0) {
        *flags = value != 0 ? *flags | key.flag : *flags & ~key.flag;
    }
}

int32_t ReadSwitch(qvVmState* L, int t, const char* key, int32_t current) {
    uint32_t value = 0;
    return GetTableFieldBool(L, t, key, &value, nullptr) != 0 ? (value != 0 ? 1 : 0) : current;
}

// One region row at absolute index row.
int ReadRegionRow(qvVmState* L, int row, qvDisplayRegion* out) {
    int32_t type = kRegionBox;
    GetTableFieldInt(L, row, "type", &type, nullptr);
    static constexpr const char* kKeys[] = {"x", "y", "width", "height"};
    int32_t values[4] = {};
    for (int i = 0; i < 4; ++i) {
        int found = 0;
        GetTableFieldInt(L, row, kKeys[i], &values[i], &found);
        if (found == 0) return ERR_MISSINGPARAMTR;
    }
    const auto [x, y, width, height] = values;
    if (type != kRegionBox || x < 0 || y < 0 || width < 1 || height < 1) return ERR_WRONGUSAGE;
    *out = {type, x, y, width, height};
    return 0;
}

// A scale size given as a negative number is that percentage of the size.
int ScaleSide(int32_t given, int32_t size, int32_t* out) {
    if (given >= 0) {
        *out = given;
        return 0;
    }
    const int64_t side = int64_t(size) * -int64_t(given) / 100;
    if (side < 1 || side > kMaxScaleSide) return ERR_WRONGUSAGE;
    *out = int32_t(side);
    return 0;
}

bool ShownByOtherDisplay(const qvBGPic* picture, const qvDisplay* excluded) {
    for (const qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
        if (d != excluded && d->settings.picture == picture) return true;
    }
    return false;
}

// The title, at most 255 characters.
int ReadTitle(qvVmState* L, int t, char* title) {
    char* text = nullptr;
    size_t length = 0;
    if (GetTableFieldStringAlloc(L, t, "title", 0, nullptr, &text, &length, nullptr) == 0) {
        return 0;
    }
    const bool fits = length <= size_t(kMaxTitle);
    if (fits) std::memcpy(title, text, length + 1);
    FreeMemBlock(text);
    return fits ? 0 : ERR_WRONGUSAGE;
}

int ReadScaleOptions(qvVmState* L, int t, qvDisplaySettings* s, ParsedOptions* parsed) {
    for (auto [key, side] :
         {std::pair{"scalewidth", &s->scaleWidth}, std::pair{"scaleheight", &s->scaleHeight}}) {
        int found = 0;
        int32_t value = 0;
        GetTableFieldInt(L, t, key, &value, &found);
        if (found == 0) continue;
        if (value == 0) return ERR_WRONGUSAGE;
        *side = value;
        parsed->scaleGiven = true;
    }
    int32_t mode = 0;
    if (GetTableFieldInt(L, t, "scalemode", &mode, nullptr) == 0) return 0;
    switch (mode) {
        case 0:
            s->flags &= ~(kFlagAutoscale | kFlagLayerScale);
            std::fill(std::begin(s->letterbox), std::end(s->letterbox), 0);
            s->scaleWidth = s->scaleHeight = 0;
            return 0;
        case 1:
            s->flags = (s->flags | kFlagAutoscale) & ~kFlagLayerScale;
            return 0;
        case 2:
            s->flags = (s->flags | kFlagLayerScale) & ~kFlagAutoscale;
            return 0;
        default:
            return ERR_WRONGUSAGE;
    }
}

int ReadPicture(qvVmState* L, int t, qvDisplaySettings* s, bool creating, const qvDisplay* excluded,
                ParsedOptions* parsed) {
    qvObjectId id{};
    if (GetTableFieldId(L, t, "bgpic", &id, nullptr) == 0) return 0;
    qvBGPic* picture = nullptr;
    if (int code = GetBGPic(L, id, &picture, 0)) return code;
    // The display being replaced is freed first, and the picture it made goes with it.
    if (creating && excluded != nullptr && excluded->ownsPicture != 0 &&
        excluded->settings.picture == picture) {
        return ObjectNotFound(id, ERR_FINDBGPIC);
    }
    if (ShownByOtherDisplay(picture, excluded)) return ERR_MULTIBGPIC;
    s->width = picture->width, s->height = picture->height;
    parsed->picture = picture;
    return 0;
}

int ReadSizeAndFillStyle(qvVmState* L, int t, qvDisplaySettings* s) {
    for (auto [key, side] : {std::pair{"width", &s->width}, std::pair{"height", &s->height}}) {
        int32_t value = 0;
        if (GetTableFieldInt(L, t, key, &value, nullptr) == 0) continue;
        if (value < 1) return ERR_WRONGUSAGE;
        *side = value;
    }
    s->fillStyle = QV_FILL_COLOUR;
    GetTableFieldInt(L, t, "fillstyle", &s->fillStyle, nullptr);
    const bool known = s->fillStyle >= QV_FILL_COLOUR && s->fillStyle <= QV_FILL_TEXTURE;
    return known ? 0 : ERR_WRONGUSAGE;
}

int ReadFillAndTitle(qvVmState* L, int t, qvDisplaySettings* s) {
    GetTableFieldBool(L, t, "color", &s->fillColour, nullptr);
    if (s->fillStyle == QV_FILL_GRADIENT) {
        if (int code = ParseGradientTags(L, t, &s->gradient)) return code;
    }
    GetTableFieldInt(L, t, "texturebrush", &s->textureBrush, nullptr);
    GetTableFieldInt(L, t, "texturex", &s->textureX, nullptr);
    GetTableFieldInt(L, t, "texturey", &s->textureY, nullptr);
    return ReadTitle(L, t, s->title);
}

void ReadCreationOptions(qvVmState* L, int t, qvDisplaySettings* s) {
    for (const FlagKey& key : kCreationFlagKeys) ReadFlag(L, t, key, &s->flags);
    s->private1 = ReadSwitch(L, t, "private1", s->private1);
    s->private2 = ReadSwitch(L, t, "private2", s->private2);
    s->private3 = ReadSwitch(L, t, "private3", s->private3);
}

// The end of every reading: the flags mirrored, percentages of the size made sizes.
int FinishOptions(qvDisplaySettings* s) {
    s->smoothScale = (s->flags & kFlagSmoothScale) != 0 ? 1 : 0;
    s->autoscale = (s->flags & kFlagAutoscale) != 0 ? 1 : 0;
    s->layerScaling = (s->flags & kFlagLayerScale) != 0 ? 1 : 0;
    if (int code = ScaleSide(s->scaleWidth, s->width, &s->scaleWidth)) return code;
    return ScaleSide(s->scaleHeight, s->height, &s->scaleHeight);
}

int32_t OuterWidth(const qvDisplay* display, int32_t width) {
    return width + display->frame.left + display->frame.right;
}
int32_t OuterHeight(const qvDisplay* display, int32_t height) {
    return height + display->frame.top + display->frame.bottom;
}

bool SameRegions(const qvDisplayRegions& a, const qvDisplayRegions& b) {
    return a.count == b.count && a.given == b.given &&
           std::equal(a.supplied, a.supplied + a.count, b.supplied,
                      [](const auto& p, const auto& q) {
                          return p.type == q.type && p.x == q.x && p.y == q.y &&
                                 p.width == q.width && p.height == q.height;
                      });
}

// The pointer of a window that opens: hidden on a full screen with "hidepointer" or when the
// script hid it, the script's pointer when it set one, else the system pointer.
void ApplyPointer(const qvDisplay* display) {
    const uint32_t flags = display->settings.flags;
    const bool fullScreen = Displays().ownScreen || (flags & kFlagDesktopFullScreen) != 0;
    const bool hide = ((flags & kFlagHidePointer) != 0 && fullScreen) || display->pointerHidden;
    if (display->pointer != nullptr) {
        SetDisplayPointer(display->window, display->pointer->object, display->pointer->kind);
    }
    if (hide) {
        HideDisplayPointer(display->window);
    } else if (display->pointer == nullptr) {
        ShowDisplayPointer(display->window);
    }
}

// The display's picture made from its fill, listed under an automatic id (while preloading,
// display 1's under id 1, and without bitmaps: the first display's opening makes them).
int MakeOwnPicture(qvVmState* L, qvDisplay* display, qvObjectId displayId) {
    const qvDisplaySettings& s = display->settings;
    BGPicParts parts;
    parts.width = s.width, parts.height = s.height;
    parts.fill.style = s.fillStyle;
    parts.fill.colour = s.fillColour & 0xFFFFFF;
    parts.fill.gradient = s.gradient;
    parts.fill.textureBrush = {uint32_t(s.textureBrush), nullptr};
    parts.fill.textureX = s.textureX, parts.fill.textureY = s.textureY;
    parts.vector = s.fillStyle != QV_FILL_COLOUR ? 1 : 0;
    qvObjectId id = AutomaticId();
    if (Runtime().displayOpen == 0) {
        if (displayId.handle == nullptr && displayId.number == 1) {
            if (int code = FreeBGPicById(L, {1, nullptr}, 0)) return code;
            id = {1, nullptr};
        }
    } else {
        qvDisplayBitMap* bitmap = nullptr;
        qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
        if (int code = MakeBGPicImage(L, nullptr, &parts.fill, -1, s.width, s.height, &bitmap,
                                      &mask, &alpha)) {
            return code;
        }
        parts.bitmap.reset(bitmap);
    }
    qvBGPic* picture = nullptr;
    if (int code = AddBGPic(&id, &parts, &picture)) return code;
    display->settings.picture = picture;
    display->ownsPicture = 1;
    return 0;
}

// Display 1 made while preloading shows the desktop when start-up is told so.
bool ShowsDesktop(qvVmState* L, qvObjectId id) {
    if (Runtime().displayOpen != 0 || id.handle != nullptr || id.number != 1) return false;
    const qvScriptHeader* header = GetAppletDescriptor(L);
    return header != nullptr && header->wholeScreenFirstDisplay != 0;
}

bool PictureOneExists() {
    for (const qvObjectHeader* h = *BGPicList(); h != nullptr; h = h->next) {
        if (h->id == 1 && h->handle == nullptr) return true;
    }
    return false;
}

// A display record that is not listed yet: freed with what it holds unless released.
class PendingDisplay {
public:
    PendingDisplay(qvVmState* L, qvDisplay* display) : L_(L), display_(display) {}
    ~PendingDisplay() {
        if (display_ == nullptr) return;
        FreeDisplayContents(L_, display_, 0);
        DeleteBlock(display_);
    }
    PendingDisplay(const PendingDisplay&) = delete;
    PendingDisplay& operator=(const PendingDisplay&) = delete;

    qvDisplay* get() const { return display_; }
    qvDisplay* release() { return std::exchange(display_, nullptr); }

private:
    qvVmState* L_;
    qvDisplay* display_;
};

// A new picture for the display with its work bitmaps, made beforehand (the caller copies the
// picture in): the current output picture follows, and the old picture's on-screen state is
// dropped.
int SwitchPicture(qvVmState* L, qvDisplay* display, qvBGPic* picture, WorkBitmaps* fresh) {
    if (display->outputType != gfx::kTypeDisplay && display->doubleBufferOutput == 0 &&
        Hooks().endRedirection != nullptr) {
        if (int code = Hooks().endRedirection(L, display)) return code;
    }
    // Showing a picture, the one shown too, ends double buffering: drawing goes to the
    // display again, and another picture does not fit the back buffer.
    EndDoubleBufferEx(display);
    FreeAsyncDraws(L);
    qvBGPic* old = display->settings.picture;
    if (old != picture) {
        if (Hooks().resetButtonStates != nullptr) Hooks().resetButtonStates(L, old);
        DrainList(&old->sprites, FreeMemBlock);
        // The picture the display made stays listed for the script, no longer the display's.
        display->ownsPicture = 0;
        if (display->settings.layerScaling != 0) ShowAtLogicalSize(L, old);
        FreeScaledShape(display);
    }
    PutWorkBitmaps(display, fresh);
    display->settings.picture = picture;
    display->settings.scaleX = display->settings.scaleY = 1.0;
    if (display == Displays().current) Displays().outputPicture = picture;
    ResetDisplayCursor(display, picture->width);
    return 0;
}

// The window of an open display moved by the frame it loses or gains, so that its inner area
// stays where it was.
void KeepInnerArea(qvDisplay* display, uint32_t newFlags) {
    qvDisplaySettings& s = display->settings;
    const bool frameGoes = (newFlags & kFlagBorderless) != 0;
    const FrameSizes frame = frameGoes ? display->frame : Video().frameSizes(newFlags);
    const int32_t sign = frameGoes ? 1 : -1;
    s.x += sign * frame.left;
    s.y += sign * frame.top;
}

// The position of the settings resolved for their size and the display's current frame.
void ResolvePosition(const qvDisplay* display, qvDisplaySettings* s) {
    const ScreenArea area = DisplayScreenArea(display);
    s->x = ResolveDisplayX(s->x, OuterWidth(display, s->width), area);
    s->y = ResolveDisplayY(s->y, OuterHeight(display, s->height), area);
}

// Moves and sizes the open window to the settings, whose position it resolves.
int PlaceWindow(qvDisplay* display, qvDisplaySettings* s) {
    ResolvePosition(display, s);
    return ChangeDisplayWindowBox(display->window, s->x, s->y, s->width, s->height);
}

// What an option table asks of a display: a work copy of its settings with the picture's
// size as the size, and the picture given.
struct AttributeChange {
    qvDisplaySettings work;
    qvBGPic* picture = nullptr;
};

int ReadAttributes(qvVmState* L, int t, const qvDisplay* display, AttributeChange* change) {
    const qvDisplaySettings& live = display->settings;
    qvDisplaySettings& work = change->work;
    work = live;
    work.width = live.picture->width, work.height = live.picture->height;
    work.picture = nullptr;
    ParsedOptions parsed;
    if (int code = ParseDisplayOptions(L, t, &work, false, display, &parsed)) return code;
    change->picture = parsed.picture;
    work.picture = parsed.picture != nullptr ? parsed.picture : live.picture;
    return 0;
}

bool ScalingSwitchedOff(const qvDisplaySettings& live, const qvDisplaySettings& work) {
    return ScalingActive(live) && ((live.autoscale != 0 && work.autoscale == 0) ||
                                   (live.layerScaling != 0 && work.layerScaling == 0));
}

constexpr uint32_t kScalingFlags =
    kFlagAutoscale | kFlagLayerScale | kFlagSmoothScale | kFlagKeepProportions;

bool ScalingChanged(const qvDisplaySettings& old, const qvDisplaySettings& work) {
    return ((old.flags ^ work.flags) & kScalingFlags) != 0 || work.scaleWidth != old.scaleWidth ||
           work.scaleHeight != old.scaleHeight;
}

// The display takes the table's scaling and shows its picture at the window size of the work
// copy (the picture fitted, letterboxed, its layers rebuilt); the window is placed later.
int ScaleForWindow(qvVmState* L, qvDisplay* display, const qvDisplaySettings& work) {
    qvDisplaySettings& s = display->settings;
    s.flags = (s.flags & ~kScalingFlags) | (work.flags & kScalingFlags);
    s.autoscale = work.autoscale, s.layerScaling = work.layerScaling;
    s.smoothScale = work.smoothScale;
    s.scaleWidth = work.scaleWidth, s.scaleHeight = work.scaleHeight;
    // Layer scaling draws through layers only.
    if (s.layerScaling != 0) display->layersEnabled = 1;
    return ResizeDisplay(L, display, s.x, s.y, work.width, work.height, 0, s.smoothScale, 1);
}

// The scale size, strips and factors that fitting the picture decided.
void TakeScaledArea(const qvDisplaySettings& live, qvDisplaySettings* work) {
    work->scaleWidth = live.scaleWidth, work->scaleHeight = live.scaleHeight;
    std::copy_n(live.letterbox, 4, work->letterbox);
    work->scaleX = live.scaleX, work->scaleY = live.scaleY;
}

// The new display fitted to its picture, with its window record. A picture taken over from
// a layer-scaled display that the new one replaces starts from its logical size; should the
// new display fail, that display shows the picture again as it did.
int PrepareReplacement(qvVmState* L, qvDisplay* display, qvDisplay* handingOver) {
    qvBGPic* picture = display->settings.picture;
    const bool scaledBefore = handingOver != nullptr && handingOver->settings.layerScaling != 0;
    if (scaledBefore) ShowAtLogicalSize(L, picture);
    int code = Runtime().displayOpen != 0 ? PrepareInitialDisplaySize(L, display) : 0;
    if (code == 0) {
        display->window = AllocPlatformDisplay(display);
        if (display->window == nullptr) code = ERR_MEM;
    }
    if (code != 0 && handingOver != nullptr) {
        if (scaledBefore) {
            RebuildDisplayBuffers(L, handingOver, picture, 0);
        } else {
            ShowAtLogicalSize(L, picture);
        }
    }
    return code;
}

}  // namespace

int DisplaySizeError(int32_t width, int32_t height) {
    char text[32];
    std::snprintf(text, sizeof text, "%dx%d", width, height);
    SetErrorString(text);
    return ERR_DISPLAYSIZE;
}

void ResetDisplayCursor(qvDisplay* display, int32_t width) {
    qvSavedRenderState& saved = display->savedRenderState;
    if (saved.saved == 0) {
        ResetTextCursor(&display->text, width);
        return;
    }
    saved.cursorX = saved.cursorY = saved.leftMargin = 0;
    saved.rightMargin = width - 1;
}

int ReopenDisplayWindow(qvVmState* L, qvDisplay* display) {
    CloseDisplayWindow(display->window);
    display->state = DISPSTATE_CLOSED;
    if (int code = OpenDisplayEx(L, display, display->activateOnOpen)) {
        ResetDisplayState(L, display);
        return code;
    }
    return 0;
}

ScreenArea DisplayScreenArea(const qvDisplay* display) {
    if (display->settings.private1 != 0) return {0, 0, ScreenWidth(), ScreenHeight()};
    return UsableScreenArea();
}

int32_t ResolveDisplayX(int32_t x, int32_t outerWidth, const ScreenArea& area) {
    const int32_t resolved = ResolvePosX(x, outerWidth, std::max(area.width, 1), 0);
    return resolved != x ? resolved + area.x : x;
}

int32_t ResolveDisplayY(int32_t y, int32_t outerHeight, const ScreenArea& area) {
    const int32_t resolved = ResolvePosY(y, outerHeight, std::max(area.height, 1), 0);
    return resolved != y ? resolved + area.y : y;
}

int ParseRegionList(qvVmState* L, int t, const char* key, qvDisplayRegions* regions) {
    t = AbsoluteIndex(L, t);
    VmPushString(L, key);
    VmGetTable(L, t);
    const int list = VmGetTop(L);
    if (VmType(L, list) == VM_TNIL) {
        VmSetTop(L, list - 1);
        return 0;
    }
    if (VmType(L, list) != VM_TTABLE) RaiseTableExpected(L, t);
    qvDisplayRegion rows[kMaxDisplayRegions];
    int count = 0, code = 0;
    for (;; ++count) {
        VmRawGetI(L, list, count);
        if (VmType(L, -1) == VM_TNIL) break;
        // The arrays hold 64 rows; a longer list is refused whole.
        if (count == kMaxDisplayRegions) {
            code = ERR_INTERNAL;
            break;
        }
        if (VmType(L, -1) != VM_TTABLE) RaiseTableExpected(L, t);
        code = ReadRegionRow(L, VmGetTop(L), &rows[count]);
        if (code != 0) break;
        VmSetTop(L, list);
    }
    VmSetTop(L, list - 1);
    if (code != 0) return code;
    std::copy_n(rows, count, regions->supplied);
    std::copy_n(rows, count, regions->used);
    regions->count = count;
    regions->given = count > 0 ? 1 : 0;
    return 0;
}

int ParseDisplayOptions(qvVmState* L, int t, qvDisplaySettings* s, bool creating,
                        const qvDisplay* excluded, ParsedOptions* parsed) {
    t = AbsoluteIndex(L, t);
    // While a video is recorded, a change reads only the picture, the size and the fill style.
    const bool recording = !creating && gfx::Neighbour().VideoDumpRecording();
    if (!recording) {
        if (int code = ParseRegionList(L, t, "dragregion", &s->dragRegions)) return code;
        if (int code = ParseRegionList(L, t, "sizeregion", &s->sizeRegions)) return code;
        for (const FlagKey& key : kFlagKeys) ReadFlag(L, t, key, &s->flags);
        GetTableFieldInt(L, t, "x", &s->x, nullptr);
        GetTableFieldInt(L, t, "y", &s->y, nullptr);
        if (int code = ReadScaleOptions(L, t, s, parsed)) return code;
    }
    if (int code = ReadPicture(L, t, s, creating, excluded, parsed)) return code;
    // When creating, the picture decides the size.
    if (!creating || parsed->picture == nullptr) {
        if (int code = ReadSizeAndFillStyle(L, t, s)) return code;
    }
    if (!recording) {
        if (int code = ReadFillAndTitle(L, t, s)) return code;
        if (creating) ReadCreationOptions(L, t, s);
    }
    return FinishOptions(s);
}

int CreateDisplayEx(qvVmState* L, qvObjectId id, int t, qvDisplay** out) {
    *out = nullptr;
    if (gfx::Neighbour().VideoDumpRecording()) return ERR_VIDRECMULTI;
    const bool automatic = id.handle != nullptr;
    // A display with the number is replaced once the new one is complete, so that a failure
    // leaves it as it was.
    qvDisplay* old = nullptr;
    if (!automatic && FindDisplay(id, &old) == 0) {
        if (old == Displays().current) return ERR_FREEADISPLAY;
        if (DisplayHasAsyncDraws(old) != 0) return ERR_ADFFREEDISP;
    }
    PendingDisplay display(L, NewDisplayRecord());
    if (display.get() == nullptr) return ERR_MEM;
    qvDisplay* d = display.get();
    qvDisplaySettings& s = d->settings;
    if (t != 0) {
        ParsedOptions parsed;
        if (int code = ParseDisplayOptions(L, t, &s, true, old, &parsed)) return code;
        s.picture = parsed.picture;
    }
    d->layersEnabled = s.layerScaling != 0 || (s.flags & kFlagLayers) != 0 ? 1 : 0;
    if (s.autoscale == 0 && s.layerScaling == 0) {
        std::fill(std::begin(s.letterbox), std::end(s.letterbox), 0);
        s.scaleWidth = s.scaleHeight = 0;
    }
    if (ShowsDesktop(L, id) && (s.picture != nullptr || PictureOneExists())) {
        return ERR_DISPLAYDESKTOP;
    }
    if (s.picture == nullptr) {
        if (int code = MakeOwnPicture(L, d, id)) return code;
    }
    if (s.scaleWidth != 0 && s.scaleHeight != 0) s.width = s.scaleWidth, s.height = s.scaleHeight;
    ResetTextCursor(&d->text, s.picture->width);
    const bool takenOver = old != nullptr && old->settings.picture == s.picture;
    if (int code = PrepareReplacement(L, d, takenOver ? old : nullptr)) return code;
    if (old != nullptr) FreeDisplayById(L, id, takenOver ? 1 : 0);
    d->prefix.header = NewObjectHeader(gfx::kTypeDisplay, automatic ? 0 : id.number, automatic, d);
    d->window->displayId = d->prefix.header.id;  // headless input may name the display
    LinkDisplay(display.release());
    *out = d;
    return 0;
}

int OpenDisplayEx(qvVmState* L, qvDisplay* display, int activate) {
    qvDisplaySettings& s = display->settings;
    display->frame = NewSysIImage(display->window, s.flags);
    ResolvePosition(display, &s);
    MakeDisplayRegions(&s);
    const int32_t outerWidth = OuterWidth(display, s.width);
    const int32_t outerHeight = OuterHeight(display, s.height);
    if (DisplayFitsScreen(s.x, s.y, outerWidth, outerHeight) == 0) {
        return DisplaySizeError(s.width, s.height);
    }
    const qvBGPic* picture = s.picture;
    const bool scaledShape = display->scaledMask != nullptr || display->scaledAlpha != nullptr;
    const qvPlaneBitMap* mask = scaledShape ? display->scaledMask : picture->shown.mask;
    const qvPlaneBitMap* alpha = scaledShape ? display->scaledAlpha : picture->shown.alpha;
    const qvWindowSpec spec{s.x, s.y, s.width, s.height, s.flags, s.title};
    if (int code = OpenPlatformWindow(display->window, spec, activate, mask, alpha)) return code;
    display->state = DISPSTATE_OPEN;
    display->activateOnOpen = activate != 0 ? 1 : 0;
    const qvEventHandler& drop = display->handlers[17];       // "ondropfile"
    const qvEventHandler& clipboard = display->handlers[18];  // "clipboardchange"
    if (drop.function != -1 && UpdateDisplayAppWindow(display->window, 1) != 0) {
        return ERR_ADDAPPWIN;
    }
    if (clipboard.function != -1) {
        if (int code = SetClipboardChangeHook(display->window, 1)) return code;
    }
    ApplyPointer(display);
    RefreshDisplay(L, display, 0);
    return 0;
}

int MakeCurrentDisplay(qvVmState* L, qvDisplay* display) {
    DisplayState& state = Displays();
    qvDisplay* old = state.current;
    if (old != nullptr && old != display && old->outputType != gfx::kTypeDisplay &&
        old->doubleBufferOutput == 0 && Hooks().endRedirection != nullptr) {
        if (int code = Hooks().endRedirection(L, old)) return code;
    }
    state.current = display;
    const bool doubleBuffer =
        display->doubleBufferOutput != 0 && display->doubleBufferPicture != nullptr;
    state.outputPicture = doubleBuffer ? display->doubleBufferPicture : display->settings.picture;
    return 0;
}

int ApplyDisplayAttributes(qvVmState* L, int t, qvDisplay* display, int noRefresh) {
    qvDisplaySettings& live = display->settings;
    const qvDisplaySettings old = live;
    AttributeChange change;
    if (int code = ReadAttributes(L, t, display, &change)) return code;
    if (ScalingSwitchedOff(live, change.work)) {
        // Back at the picture's size while the mode is still on (layers at scale 1.0, no
        // scaled shape), then the table is read for the display as it is now.
        const qvBGPic* shown = live.picture;
        if (int code = ResizeDisplay(L, display, live.x, live.y, shown->width, shown->height, 0,
                                     live.smoothScale, 1)) {
            return code;
        }
        change = {};
        if (int code = ReadAttributes(L, t, display, &change)) return code;
    }
    qvDisplaySettings& work = change.work;
    qvBGPic* picture = change.picture;
    const bool scaled = ScalingActive(work);
    const bool rescale = scaled && ScalingChanged(old, work);
    const int32_t logicalWidth = work.width, logicalHeight = work.height;
    const bool logicalChanged = picture == nullptr && (logicalWidth != old.picture->width ||
                                                       logicalHeight != old.picture->height);
    // The window's size: a scaled display keeps its own unless the table changes the scale
    // size (a changed flag only fits the picture into the window again).
    const bool newScaleSize =
        work.scaleWidth != old.scaleWidth || work.scaleHeight != old.scaleHeight;
    work.width = !scaled ? logicalWidth : newScaleSize ? work.scaleWidth : old.width;
    work.height = !scaled ? logicalHeight : newScaleSize ? work.scaleHeight : old.height;
    const bool sizeChanged = work.width != old.width || work.height != old.height;
    if (work.x == kPositionNotGiven) work.x = sizeChanged ? gfx::CENTER : old.x;
    if (work.y == kPositionNotGiven) work.y = sizeChanged ? gfx::CENTER : old.y;
    const bool windowed = WindowIsOpen(display->window);
    // A window that a failed change left at another size follows too.
    const bool windowSizeDiffers =
        windowed && (display->window->framebuffer->width != work.width ||
                     display->window->framebuffer->height != work.height);
    const uint32_t changedFlags = old.flags ^ work.flags;
    const bool reshaped =
        (picture != nullptr || sizeChanged) && (HasShape(old.picture) || HasShape(work.picture));
    const bool reopen = windowed && ((changedFlags & kReopenFlags) != 0 || reshaped);
    const bool resizeWindow = windowed && !reopen && (sizeChanged || windowSizeDiffers);
    // An unscaled new picture that the window shows at once is copied at the refresh, into
    // the display bitmap and the window in one pass; nothing before then reads either.
    const bool showAtRefresh =
        picture != nullptr && !scaled && windowed && !reopen && noRefresh == 0;
    if (picture != nullptr) {
        // Everything that can fail comes before the picture changes.
        WorkBitmaps fresh;
        if (int code = NewWorkBitmaps(display, picture->shownWidth, picture->shownHeight, &fresh)) {
            return code;
        }
        if (resizeWindow) {
            if (int code = PlaceWindow(display, &work)) return code;
        }
        if (int code = SwitchPicture(L, display, picture, &fresh)) return code;
        if (!showAtRefresh) CopyShownPicture(display, picture);
        if (scaled) {
            if (int code = ScaleForWindow(L, display, work)) return code;
        }
    } else {
        if (rescale) {
            if (int code = ScaleForWindow(L, display, work)) return code;
        }
        if (logicalChanged) {
            const bool unscaled = !ScalingActive(live);
            if (int code = ResizeDisplay(L, display, work.x, work.y, logicalWidth, logicalHeight, 1,
                                         work.smoothScale, 1)) {
                return code;
            }
            // Without scaling the resize resolved the position and a size kept in proportion.
            if (unscaled) {
                work.x = live.x, work.y = live.y;
                work.width = live.width, work.height = live.height;
            }
        }
        if (resizeWindow) {
            if (int code = PlaceWindow(display, &work)) return code;
        }
    }
    if (scaled) TakeScaledArea(live, &work);
    live = work;
    // Only a display with a window goes on.
    if (!windowed) {
        FreeOrphanBGPics(L);
        return 0;
    }
    int code = 0;
    qvPlatformDisplay* window = display->window;
    if (reopen) {
        if ((changedFlags & kFlagBorderless) != 0 && live.x == old.x && live.y == old.y) {
            KeepInnerArea(display, live.flags);
        }
        code = ReopenDisplayWindow(L, display);
    } else {
        if (!resizeWindow && (live.x != old.x || live.y != old.y)) {
            ResolvePosition(display, &live);
            MoveDisplayWindow(window, live.x, live.y);
        }
        if (resizeWindow || !SameRegions(old.dragRegions, live.dragRegions) ||
            !SameRegions(old.sizeRegions, live.sizeRegions)) {
            MakeDisplayRegions(&live);
            RefreshTitleGadgets(window);
        }
        if (std::strcmp(old.title, live.title) != 0) SetDisplayWindowTitle(window, live.title);
        if (showAtRefresh) {
            ShowPictureAndRefresh(L, display);
        } else if (noRefresh == 0) {
            RefreshDisplay(L, display, 0);
        }
    }
    FreeOrphanBGPics(L);
    return code;
}

void ClearDisplayBorders(qvDisplay* display) {
    const qvDisplaySettings& s = display->settings;
    const auto [left, top, right, bottom] = s.letterbox;
    qvPlatformDisplay* window = display->window;
    if (left > 0) FillWindowRect(window, 0, 0, left, s.height, 0);
    if (right > 0) FillWindowRect(window, s.width - right, 0, right, s.height, 0);
    const int32_t middle = s.width - left - right;
    if (top > 0) FillWindowRect(window, left, 0, middle, top, 0);
    if (bottom > 0) FillWindowRect(window, left, s.height - bottom, middle, bottom, 0);
}

}  // namespace qv::scene

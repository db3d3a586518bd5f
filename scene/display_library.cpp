#include "scene/display_library.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/convert.h"
#include "gfx/blit_frontends.h"
#include "gfx/geometry.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/neighbours.h"
#include "media/video_display.h"
#include "objects/brush.h"
#include "objects/output.h"
#include "objects/scene_seam.h"
#include "objects/sprite/sprite.h"
#include "objects/text/font_cache.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/memory.h"
#include "platform/linux/requester.h"
#include "platform/linux/screen.h"
#include "platform/linux/semaphore.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/option_tables.h"
#include "runtime/report.h"
#include "scene/attribute_providers.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/display_engine.h"
#include "scene/display_events.h"
#include "scene/display_hosts.h"
#include "scene/display_modes.h"
#include "scene/layers/compositor.h"
#include "scene/layers/layer_transform.h"
#include "scene/object_layers.h"
#include "scene/output_redirect.h"

namespace qv::scene {
namespace {

constexpr int32_t kMaxTitle = 255;
// The modes of ChangeDisplayMode (DISPMODE_WINDOWED, DISPMODE_FULLSCREEN).
constexpr int32_t kModeWindowed = 1;
constexpr int32_t kModeFullScreen = 2;

bool Recording() {
    return gfx::Neighbour().VideoDumpRecording();
}

// The display that commands without a display argument act on.
int CurrentDisplayOf(qvDisplay** out) {
    *out = Displays().current;
    if (*out != nullptr) return 0;
    SetErrorNumber(0);
    return ERR_FINDDISPLAY;
}

int DisplayArg(qvVmState* L, int idx, qvDisplay** out) {
    return FindDisplay(GetObjectIdArg(L, idx), out);
}

// An optional flag argument: true, or a number other than 0.
bool FlagArg(qvVmState* L, int idx) {
    const int type = VmType(L, idx);
    if (type <= VM_TNIL) return false;
    if (type == VM_TBOOLEAN) return VmToBoolean(L, idx) != 0;
    return GetOptIntArg(L, idx, nullptr) != 0;
}

bool Ordinary(const qvDisplay* display) {
    return display->settings.private1 == 0 && display->settings.private3 == 0;
}

int32_t KeptOr(int32_t given, int32_t current) {
    return given == KEEPPOSITION ? current : given;
}

// The display's window is minimised; 0 or the platform's error.
int Minimise(qvDisplay* display) {
    if (int code = IconifyDisplay(display->window, 1)) return code;
    display->state = DISPSTATE_MINIMIZED;
    display->activateOnOpen = 0;
    return 0;
}

// --- Commands ---

int ChangeDisplaySize(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    qvDisplay* display = nullptr;
    if (int code = CurrentDisplayOf(&display)) return code;
    const qvBGPic* picture = display->settings.picture;
    int32_t width = Trunc32(GetNumberOrPercentArg(L, 1, picture->width, 1, nullptr));
    int32_t height = Trunc32(GetNumberOrPercentArg(L, 2, picture->height, 1, nullptr));
    int32_t x = gfx::CENTER, y = gfx::CENTER;
    int smooth = 0;
    if (VmType(L, 3) == VM_TTABLE) {
        GetTableFieldInt(L, 3, "x", &x, nullptr);
        GetTableFieldInt(L, 3, "y", &y, nullptr);
        uint32_t value = 0;
        GetTableFieldBool(L, 3, "smooth", &value, nullptr);
        smooth = value != 0 ? 1 : 0;
    } else {
        smooth = FlagArg(L, 3) ? 1 : 0;
    }
    x = KeptOr(x, display->settings.x);
    y = KeptOr(y, display->settings.y);
    if (int code = ScaleKeepAspect(picture->width, picture->height, &width, &height)) return code;
    // A minimised window follows too, so that it shows the display when it comes back.
    const int noRedraw = WindowIsOpen(display->window) ? 0 : 1;
    return ResizeDisplay(L, display, x, y, width, height, 1, smooth, noRedraw);
}

int SetTitle(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    size_t length = 0;
    const char* title = GetArgString(L, 1, &length);
    qvDisplay* display = nullptr;
    if (int code = CurrentDisplayOf(&display)) return code;
    if (length > size_t(kMaxTitle)) return ERR_WRONGUSAGE;
    char* stored = display->settings.title;
    std::memcpy(stored, title, length);
    stored[length] = '\0';
    if (display->state != DISPSTATE_CLOSED) SetDisplayWindowTitle(display->window, stored);
    return 0;
}

int MoveDisplay(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t x = GetOptIntArg(L, 1, nullptr), y = GetOptIntArg(L, 2, nullptr);
    qvDisplay* display = nullptr;
    if (int code = CurrentDisplayOf(&display)) return code;
    qvDisplaySettings& s = display->settings;
    if (display->state == DISPSTATE_CLOSED) display->frame = NewSysIImage(display->window, s.flags);
    const FrameSizes& frame = display->frame;
    const ScreenArea area = DisplayScreenArea(display);
    s.x = ResolveDisplayX(KeptOr(x, s.x), s.width + frame.left + frame.right, area);
    s.y = ResolveDisplayY(KeptOr(y, s.y), s.height + frame.top + frame.bottom, area);
    if (display->state == DISPSTATE_OPEN) MoveDisplayWindow(display->window, s.x, s.y);
    return 0;
}

int HideDisplay(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    if (Recording()) return ERR_WRONGCMDRECVIDEO;
    qvDisplay* display = nullptr;
    if (int code = CurrentDisplayOf(&display)) return code;
    if (display->state != DISPSTATE_OPEN) return ERR_WRONGUSAGE;
    if (VideoPlayingOnDisplay(display) != 0) return ERR_VIDATTACHED;
    if (int code = Minimise(display)) return code;
    PostEvent(display, QV_EVENT_HIDDEN, 0, 0, 0, nullptr);
    // With the last ordinary display hidden, the run-time's own displays go too.
    for (const qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
        if (d->state == DISPSTATE_OPEN && Ordinary(d)) return 0;
    }
    for (qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
        if (d->state == DISPSTATE_OPEN && !Ordinary(d)) Minimise(d);
    }
    return 0;
}

int ShowDisplay(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    if (Recording()) return ERR_WRONGCMDRECVIDEO;
    qvDisplay* display = nullptr;
    if (int code = CurrentDisplayOf(&display)) return code;
    if (display->state != DISPSTATE_MINIMIZED) return ERR_WRONGUSAGE;
    if (int code = IconifyDisplay(display->window, 0)) return code;
    display->state = DISPSTATE_OPEN;
    display->activateOnOpen = 1;
    PostEvent(display, QV_EVENT_SHOWN, 0, 0, 0, nullptr);
    return 0;
}

int SetDisplayAttributes(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    CheckArgTable(L, 1);
    qvDisplay* display = nullptr;
    if (int code = CurrentDisplayOf(&display)) return code;
    return ApplyDisplayAttributes(L, 1, display, 0);
}

int CreateDisplay(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    static char automaticMarker;
    int automatic = 0;
    const auto number = static_cast<uint32_t>(GetOptIntArg(L, 1, &automatic));
    int t = 0;
    if (VmType(L, 2) > VM_TNIL) {
        CheckArgTable(L, 2);
        t = 2;
    }
    const qvObjectId id =
        automatic != 0 ? qvObjectId{0, &automaticMarker} : qvObjectId{number, nullptr};
    qvDisplay* display = nullptr;
    if (int code = CreateDisplayEx(L, id, t, &display)) return code;
    return PushNewObjectHandle(L, display->prefix.header);
}

int FreeDisplay(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    if (Recording()) return ERR_WRONGCMDRECVIDEO;
    qvDisplay* display = nullptr;
    if (int code = DisplayArg(L, 1, &display)) return code;
    if (display == Displays().current) return ERR_FREEADISPLAY;
    if (DisplayHasAsyncDraws(display) != 0) return ERR_ADFFREEDISP;
    FreeDisplayById(L, IdOf(display));
    FreeOrphanBGPics(L);
    return 0;
}

int OpenDisplay(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    if (Recording()) return ERR_WRONGCMDRECVIDEO;
    qvDisplay* display = nullptr;
    if (int code = DisplayArg(L, 1, &display)) return code;
    if (display->state != DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
    if (OwnScreenOpen()) {
        if (int code = RestoreIconifiedDisplay()) return code;
    }
    const int activate = (display->settings.flags & kFlagActive) != 0 ? 1 : 0;
    if (int code = OpenDisplayEx(L, display, activate)) return code;
    if (FlagArg(L, 2) || display == Displays().current) return 0;
    return MakeCurrentDisplay(L, display);
}

int CloseDisplay(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    if (Recording()) return ERR_WRONGCMDRECVIDEO;
    qvDisplay* display = nullptr;
    if (int code = DisplayArg(L, 1, &display)) return code;
    if (display->state == DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
    if (VideoPlayingOnDisplay(display) != 0) return ERR_VIDATTACHED;
    ResetDisplayState(L, display);
    return 0;
}

int SelectDisplay(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    if (Recording()) return ERR_WRONGCMDRECVIDEO;
    qvDisplay* display = nullptr;
    if (int code = DisplayArg(L, 1, &display)) return code;
    if (display == Displays().current) return 0;
    if (int code = MakeCurrentDisplay(L, display)) return code;
    if (!FlagArg(L, 2) && display->state == DISPSTATE_OPEN) {
        ActivateDisplayWindow(display->window, 1);
    }
    return 0;
}

int ActivateDisplay(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    qvDisplay* display = nullptr;
    if (int code = DisplayArg(L, 1, &display)) return code;
    if (display->state != DISPSTATE_OPEN) return ERR_WRONGUSAGE;
    ActivateDisplayWindow(display->window, FlagArg(L, 2) ? 0 : 1);
    return 0;
}

int ChangeDisplayMode(qvVmState* L) {
    CheckArgCount(L, 1, 3);
    if (Recording()) return ERR_WRONGCMDRECVIDEO;
    const int32_t mode = GetOptIntArg(L, 1, nullptr);
    if (mode == kModeWindowed) return ChangeDisplayModeEx(L, 0, 0, 0);
    if (mode != kModeFullScreen) return ERR_WRONGUSAGE;
    const int32_t width = GetOptIntArg(L, 2, nullptr), height = GetOptIntArg(L, 3, nullptr);
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    return ChangeDisplayModeEx(L, 1, width, height);
}

struct BlockFree {
    void operator()(void* block) const { FreeMemBlock(block); }
};

int GetDisplayModes(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    const int32_t count = EnumDisplayModes(nullptr, 0);
    if (count < 1) return ERR_NODISPMODES;
    std::unique_ptr<ScreenMode, BlockFree> modes(
        static_cast<ScreenMode*>(AllocMemBlock(size_t(count) * sizeof(ScreenMode), 0)));
    if (modes == nullptr) return ERR_MEM;
    // The list may have changed since it was counted: what the second call gives is listed.
    const int32_t listed = EnumDisplayModes(modes.get(), count);
    std::sort(modes.get(), modes.get() + listed, [](const ScreenMode& a, const ScreenMode& b) {
        return a.width != b.width ? a.width < b.width : a.height < b.height;
    });
    VmNewTable(L);
    for (int32_t i = 0; i < listed; ++i) {
        VmNewTable(L);
        SetTableFieldInt(L, "width", modes.get()[i].width);
        SetTableFieldInt(L, "height", modes.get()[i].height);
        VmRawSetI(L, -2, i);
    }
    return 1;
}

// In the published order.
constexpr qvCommandEntry kDisplayCommands[] = {
    {"ChangeDisplaySize", ChangeDisplaySize},
    {"SetTitle", SetTitle},
    {"MoveDisplay", MoveDisplay},
    {"HideDisplay", HideDisplay},
    {"ShowDisplay", ShowDisplay},
    {"SetDisplayAttributes", SetDisplayAttributes},
    {"CreateDisplay", CreateDisplay},
    {"FreeDisplay", FreeDisplay},
    {"OpenDisplay", OpenDisplay},
    {"CloseDisplay", CloseDisplay},
    {"SelectDisplay", SelectDisplay},
    {"ActivateDisplay", ActivateDisplay},
    {"ChangeDisplayMode", ChangeDisplayMode},
    {"GetDisplayModes", GetDisplayModes},
    {nullptr, nullptr},
};

constexpr qvConstant kDisplayConstants[] = {
    {"DISPSTATE_OPEN", nullptr, DISPSTATE_OPEN},
    {"DISPSTATE_CLOSED", nullptr, DISPSTATE_CLOSED},
    {"DISPSTATE_MINIMIZED", nullptr, DISPSTATE_MINIMIZED},
    {"DISPMODE_FULLSCREEN", nullptr, kModeFullScreen},
    {"DISPMODE_WINDOWED", nullptr, kModeWindowed},
    {"SCALEMODE_NONE", nullptr, 0},
    {"SCALEMODE_AUTO", nullptr, 1},
    {"SCALEMODE_LAYER", nullptr, 2},
    {"KEEPPOSITION", nullptr, KEEPPOSITION},
    {"ORIENTATION_NONE", nullptr, 0},
    {"ORIENTATION_PORTRAIT", nullptr, 1},
    {"ORIENTATION_LANDSCAPE", nullptr, 3},
    {"ORIENTATION_PORTRAITREV", nullptr, 2},
    {"ORIENTATION_LANDSCAPEREV", nullptr, 4},
    {nullptr, nullptr, 0},
};

// The objects' view of the current display: whether it scales its layers or double-buffers
// into a compositing bitmap, and its dirty rectangles.
class ObjectScene final : public objects::SceneSeam {
public:
    bool RedirectedOutput(uint32_t* type, qvObjectId* id) override {
        return objects::SelectedOutputObject(type, id);
    }
    int EndRedirection(qvVmState* L) override {
        qvDisplay* display = Displays().current;
        if (display == nullptr || display->outputType == gfx::kTargetDisplay ||
            display->doubleBufferOutput != 0) {
            return 0;
        }
        return SetOutputBGPic(L, display, 0);
    }
    int FetchOutputBitmaps(qvVmState* L, qvDisplayBitMap** bitmap) override {
        return objects::GetOutputBitmaps(L, bitmap);
    }
    bool HardwareDoubleBuffering() override {
        const qvDisplay* display = Displays().current;
        return display != nullptr && display->doubleBufferOutput != 0 &&
               display->hardwareDoubleBuffer != 0;
    }
    void AddDirtyRect(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height) override {
        ::AddDirtyRect(L, x, y, width, height);
    }

    bool LayerScaling(objects::DisplayScaling* out) override {
        const qvDisplay* display = Displays().current;
        if (display == nullptr) return false;
        const qvDisplaySettings& s = display->settings;
        if (s.layerScaling == 0 || s.scaleWidth == 0 || s.scaleHeight == 0) return false;
        *out = {s.scaleX,      s.scaleY,         s.scaleWidth,
                s.scaleHeight, s.picture->width, s.picture->height};
        return true;
    }

    int AddObjectLayer(qvVmState* L, const objects::ObjectLayer& layer) override {
        return scene::AddObjectLayer(L, layer);
    }
    int RenderLayerAgain(qvVmState* L, void* layer, const qvDrawTransform* transform) override {
        return RenderObjectLayerAgain(L, static_cast<qvLayer*>(layer), transform);
    }
    int LayerPicture(qvVmState* L, int idx, int32_t frame, objects::PicturePart* out) override {
        return ObjectLayerPicture(L, idx, frame, out);
    }
    bool TopLayerShowsAlone(qvVmState* L, const qvDisplayBitMap* bitmap, int32_t srcX, int32_t srcY,
                            int32_t x, int32_t y, int32_t width, int32_t height) override {
        const qvDisplay* display = Displays().current;
        return display != nullptr && display->settings.picture != nullptr &&
               scene::TopLayerShowsAlone(L, display->settings.picture, {x, y, width, height},
                                         bitmap, srcX, srcY);
    }
    void ApplyLayerTransform(qvDrawTransform* transform, int32_t width, int32_t height) override {
        ::ApplyLayerTransform(transform, width, height);
    }
};

ObjectScene objectScene;

// --- Start-up ---

int ConvertPreloadedObjects(qvVmState* L) {
    if (int code = RebuildBrushes(L, false)) return code;
    if (int code = RebuildBGPics(L)) return code;
    if (int code = RebuildSprites(L)) return code;
    return RefreshFontObjects();
}

}  // namespace

}  // namespace qv::scene

using namespace qv::scene;

int RegisterDisplayLibrary(qvVmState* L) {
    DisplayState& state = Displays();
    if (state.semaphore == nullptr) state.semaphore = NewSemaphore();
    if (state.semaphore == nullptr) return ERR_SEMAPHORE;
    state.L = L;
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kDisplayCommands, 0);
    RegisterConstants(L, kDisplayConstants, 0);
    if (int code = RegisterCommandTable(kDisplayCommands, "display")) return code;
    if (int code = RegisterObjectList(&state.list)) return code;
    InstallDisplayHosts();
    InstallEventDisplays();
    qv::objects::SetSceneSeam(&objectScene);
    RegisterDisplayAttributes();
    return 0;
}

void CloseDisplayLibrary(qvVmState* L) {
    FreeAllDisplays(L);
    qv::objects::SetSceneSeam(nullptr);
    RemoveEventDisplays();
    RemoveDisplayHosts();
}

int OpenFirstDisplay(qvVmState* L, qvScriptHeader* header, qvStartupOptions*) {
    qvDisplay* first = nullptr;
    if (int code = FindDisplay({1, nullptr}, &first)) return code;
    StartupScreen screen{};
    if (int code = PrepareStartupScreen(header, first, &screen)) return code;
    PrintLoadingMessage("Preparing display", nullptr, 1);
    if (int code = ConvertPreloadedObjects(L)) return code;
    qv::Runtime().displayOpen = 1;
    if (screen.backfill.mode != 0) {
        if (int code = CreateBackfillDisplay(L, screen.backfill)) return code;
    }
    PrintLoadingDone();
    if (qv::Runtime().quiet == 0 && !Recording()) qv::WriteConsole("And Action!\n");
    CloseDebugConsole();
    const qvAttrSet quiet[] = {{QV_ATTR_QUIET, 1}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, quiet);
    if (screen.desktop) {
        if (int code = ShowDesktopInDisplay(first)) return code;
    }
    for (qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
        if (int code = PrepareInitialDisplaySize(L, d)) return code;
    }
    qvDisplay* chosen = nullptr;
    for (qvDisplay* d = FirstDisplay(); d != nullptr; d = NextDisplay(d)) {
        const uint32_t flags = d->settings.flags;
        if ((flags & kFlagHidden) != 0) continue;
        const int activate = (flags & kFlagActive) != 0 ? 1 : 0;
        if (int code = OpenDisplayEx(L, d, activate)) return code;
        if (chosen == nullptr && activate != 0) chosen = d;
    }
    if (chosen == nullptr) chosen = first;
    if (int code = MakeCurrentDisplay(L, chosen)) return code;
    if (chosen->state == DISPSTATE_OPEN) ActivateDisplayWindow(chosen->window, 1);
    return 0;
}

#include "platform/linux/video/sdl.h"

#include <SDL.h>
#include <SDL_shape.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"
#include "platform/linux/time.h"
#include "platform/linux/video/video.h"
#include "platform/linux/video/x11_errors.h"
#include "platform/linux/window.h"
#include "runtime/key_table.h"

namespace qv {
namespace {

constexpr int kPending = 256;
constexpr int32_t kBusyPointer = 1;  // the system pointer kinds: 0 the arrow, 1 busy
constexpr int16_t kStickThreshold = 16384;
constexpr auto kTick = std::chrono::milliseconds(10);

// The back end's part of a window: its SDL window (none on the own screen), the renderer and
// the texture that shows the framebuffer, and an ARGB copy for framebuffers in other formats.
struct SdlWindow {
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* texture;
    qvDisplayBitMap* staging;
    SDL_Cursor* cursor;
    bool shown;  // the renderer needs a present though nothing changed
};

struct KeyRow {
    SDL_Keycode sym;
    uint32_t code;
};

// SDL's keys that have a code of their own in the key table (or a character elsewhere).
constexpr KeyRow kKeys[] = {
    {SDLK_TAB, KeyCode("TAB")},
    {SDLK_RETURN, KeyCode("RETURN")},
    {SDLK_KP_ENTER, KeyCode("ENTER")},
    {SDLK_SPACE, KeyCode("SPACE")},
    {SDLK_ESCAPE, KeyCode("ESC")},
    {SDLK_UP, KeyCode("UP")},
    {SDLK_DOWN, KeyCode("DOWN")},
    {SDLK_RIGHT, KeyCode("RIGHT")},
    {SDLK_LEFT, KeyCode("LEFT")},
    {SDLK_HELP, KeyCode("HELP")},
    {SDLK_BACKSPACE, KeyCode("BACKSPACE")},
    {SDLK_DELETE, KeyCode("DEL")},
    {SDLK_F1, KeyCode("F1")},
    {SDLK_F2, KeyCode("F2")},
    {SDLK_F3, KeyCode("F3")},
    {SDLK_F4, KeyCode("F4")},
    {SDLK_F5, KeyCode("F5")},
    {SDLK_F6, KeyCode("F6")},
    {SDLK_F7, KeyCode("F7")},
    {SDLK_F8, KeyCode("F8")},
    {SDLK_F9, KeyCode("F9")},
    {SDLK_F10, KeyCode("F10")},
    {SDLK_F11, KeyCode("F11")},
    {SDLK_F12, KeyCode("F12")},
    {SDLK_F13, KeyCode("F13")},
    {SDLK_F14, KeyCode("F14")},
    {SDLK_F15, KeyCode("F15")},
    {SDLK_F16, KeyCode("F16")},
    {SDLK_INSERT, KeyCode("INSERT")},
    {SDLK_HOME, KeyCode("HOME")},
    {SDLK_END, KeyCode("END")},
    {SDLK_PAGEUP, KeyCode("PAGEUP")},
    {SDLK_PAGEDOWN, KeyCode("PAGEDOWN")},
    {SDLK_PRINTSCREEN, KeyCode("PRINT")},
    {SDLK_PAUSE, KeyCode("PAUSE")},
    {SDLK_LSHIFT, KeyCode("LSHIFT")},
    {SDLK_RSHIFT, KeyCode("RSHIFT")},
    {SDLK_LALT, KeyCode("LALT")},
    {SDLK_RALT, KeyCode("RALT")},
    {SDLK_LGUI, KeyCode("LCOMMAND")},
    {SDLK_RGUI, KeyCode("RCOMMAND")},
    {SDLK_LCTRL, KeyCode("LCONTROL")},
    {SDLK_RCTRL, KeyCode("RCONTROL")},
    {SDLK_KP_0, '0'},
    {SDLK_KP_1, '1'},
    {SDLK_KP_2, '2'},
    {SDLK_KP_3, '3'},
    {SDLK_KP_4, '4'},
    {SDLK_KP_5, '5'},
    {SDLK_KP_6, '6'},
    {SDLK_KP_7, '7'},
    {SDLK_KP_8, '8'},
    {SDLK_KP_9, '9'},
    {SDLK_KP_PERIOD, '.'},
    {SDLK_KP_DIVIDE, '/'},
    {SDLK_KP_MULTIPLY, '*'},
    {SDLK_KP_MINUS, '-'},
    {SDLK_KP_PLUS, '+'},
};

// The run-time's code of an SDL key: the table's, else the Latin-1 character the layout puts
// on the key; 0 for keys that have neither.
uint32_t CodeOf(SDL_Keycode sym) {
    for (const KeyRow& row : kKeys) {
        if (row.sym == sym) return row.code;
    }
    return sym >= 0x20 && sym < 0x100 && sym != SDLK_DELETE ? uint32_t(sym) : 0;
}

struct Sdl {
    FrameSizes frame;  // the last frame a framed window was measured with
    SDL_GameController* ports[4];
    HostEvent pending[kPending];
    int head, count;
    std::string dropped;  // names of the drop being collected, each NUL-terminated
    uint32_t dropWindow;
    bool collecting;  // between the beginning and the end of a drop
    SDL_Cursor* busy;
    bool screenOpen;
    SdlWindow screen;
    std::thread ticker;
    std::mutex tickerLock;
    std::condition_variable tickerWake;
    bool tickerStop;
};

Sdl* sdl = nullptr;

SdlWindow* BackEnd(const qvPlatformDisplay* window) {
    return static_cast<SdlWindow*>(window->backEnd);
}

void Push(const HostEvent& event) {
    if (sdl->count == kPending) {
        FreeMemBlock(event.names);
        return;
    }
    sdl->pending[(sdl->head + sdl->count++) % kPending] = event;
}

// Ticks at 100 Hz so that the input poll pumps while a script runs.
void Tick() {
    std::unique_lock<std::mutex> hold(sdl->tickerLock);
    while (!sdl->tickerWake.wait_for(hold, kTick, [] { return sdl->tickerStop; })) {
        InputDue().store(1, std::memory_order_relaxed);
    }
}

ScreenInfo Screen() {
    SDL_DisplayMode mode{};
    SDL_GetDesktopDisplayMode(0, &mode);
    SDL_Rect usable{0, 0, mode.w, mode.h};
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0) usable = {0, 0, mode.w, mode.h};
    return {mode.w,
            mode.h,
            usable.y,
            {usable.x, usable.y, usable.w, usable.h},
            mode.refresh_rate > 0 ? mode.refresh_rate : 60};
}

int32_t EnumModes(ScreenMode* modes, int32_t capacity) {
    std::vector<ScreenMode> all;
    const int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode m{};
        if (SDL_GetDisplayMode(0, i, &m) != 0 || m.w < 1 || m.h < 1) continue;
        const bool seen = std::any_of(all.begin(), all.end(), [&](const ScreenMode& s) {
            return s.width == m.w && s.height == m.h;
        });
        if (!seen) all.push_back({m.w, m.h});
    }
    if (all.empty()) {
        const ScreenInfo screen = Screen();
        all.push_back({screen.width, screen.height});
    }
    const auto total = int32_t(all.size());
    if (modes == nullptr) return total;
    const int32_t written = std::min(total, capacity);
    std::copy_n(all.begin(), written, modes);
    return written;
}

FrameSizes Frame(uint32_t flags) {
    return (flags & QV_WINDOW_BORDERLESS) != 0 ? FrameSizes{} : sdl->frame;
}

void FreeTextures(SdlWindow* b) {
    if (b->texture != nullptr) SDL_DestroyTexture(b->texture);
    FreeDisplayBitMap(b->staging);
    b->texture = nullptr;
    b->staging = nullptr;
}

// The texture (and the ARGB copy) at the framebuffer's size; false when SDL refuses.
bool MakeTexture(SdlWindow* b, const qvDisplayBitMap* fb) {
    FreeTextures(b);
    b->texture = SDL_CreateTexture(b->renderer, SDL_PIXELFORMAT_ARGB8888,
                                   SDL_TEXTUREACCESS_STREAMING, fb->width, fb->height);
    if (b->texture == nullptr) return false;
    SDL_SetTextureBlendMode(b->texture, SDL_BLENDMODE_NONE);
    if (fb->format == QV_FMT_A8R8G8B8) return true;
    b->staging = AllocBitMapInFormat(fb->width, fb->height, QV_FMT_A8R8G8B8, false);
    return b->staging != nullptr;
}

// The shape as SDL wants it: opaque where a bit is set, clear elsewhere, alpha cut at 1.
bool ApplyShape(const qvPlatformDisplay* window) {
    const qvDisplayBitMap* fb = window->framebuffer;
    SDL_Surface* surface =
        SDL_CreateRGBSurfaceWithFormat(0, fb->width, fb->height, 32, SDL_PIXELFORMAT_ARGB8888);
    if (surface == nullptr) return false;
    for (int32_t y = 0; y < fb->height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface->pixels) +
                                                size_t(y) * surface->pitch);
        for (int32_t x = 0; x < fb->width; ++x) {
            row[x] = ReadBitMapPixel(window->shape, x, y) != 0 ? 0xFFFFFFFFu : 0;
        }
    }
    SDL_WindowShapeMode mode{};
    mode.mode = ShapeModeBinarizeAlpha;
    mode.parameters.binarizationCutoff = 1;
    const bool ok = SDL_SetWindowShape(BackEnd(window)->window, surface, &mode) == 0;
    SDL_FreeSurface(surface);
    return ok;
}

void DestroyBackEnd(qvPlatformDisplay* window) {
    SdlWindow* b = BackEnd(window);
    if (b == nullptr) return;
    FreeTextures(b);
    if (b->cursor != nullptr) SDL_FreeCursor(b->cursor);
    if (b->window != nullptr) {
        if (b->renderer != nullptr) SDL_DestroyRenderer(b->renderer);
        SDL_DestroyWindow(b->window);
    }
    DeleteBlock(b);
    window->backEnd = nullptr;
}

// Measures the frame of a framed window and places its inner area inside it.
void MeasureFrame(qvPlatformDisplay* window) {
    if ((window->flags & QV_WINDOW_BORDERLESS) != 0 || window->shape != nullptr) return;
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(BackEnd(window)->window, &top, &left, &bottom, &right) != 0) {
        return;
    }
    sdl->frame = {left, top, right, bottom};
    if (std::memcmp(&window->frame, &sdl->frame, sizeof sdl->frame) == 0) return;
    window->frame = sdl->frame;
    SDL_SetWindowPosition(BackEnd(window)->window, window->x + left, window->y + top);
}

// A window of its own on the desktop.
int OpenDesktopWindow(qvPlatformDisplay* window, SdlWindow* b, bool activate) {
    const qvDisplayBitMap* fb = window->framebuffer;
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if ((window->flags & QV_WINDOW_BORDERLESS) != 0) flags |= SDL_WINDOW_BORDERLESS;
    if ((window->flags & QV_WINDOW_SIZEABLE) != 0) flags |= SDL_WINDOW_RESIZABLE;
    if (window->shape != nullptr) window->frame = {};  // SDL shapes only borderless windows
    const int x = window->x + window->frame.left, y = window->y + window->frame.top;
    b->window = window->shape != nullptr
                    ? SDL_CreateShapedWindow(window->title, x, y, fb->width, fb->height, flags)
                    : SDL_CreateWindow(window->title, x, y, fb->width, fb->height, flags);
    if (b->window == nullptr) return ERR_WINDOW;
    b->renderer = SDL_CreateRenderer(b->window, -1, SDL_RENDERER_SOFTWARE);
    if (b->renderer == nullptr || !MakeTexture(b, fb)) return ERR_WINDOW;
    if (window->shape != nullptr && !ApplyShape(window)) return ERR_WINDOW;
    SDL_ShowWindow(b->window);
    MeasureFrame(window);
    if (activate) SDL_RaiseWindow(b->window);
    return 0;
}

int CreateBackEnd(qvPlatformDisplay* window, bool activate) {
    auto* b = NewBlock<SdlWindow>();
    if (b == nullptr) return ERR_MEM;
    *b = {};
    window->backEnd = b;
    b->shown = true;
    int code = 0;
    if (sdl->screenOpen) {
        b->renderer = sdl->screen.renderer;
        code = MakeTexture(b, window->framebuffer) ? 0 : ERR_WINDOW;
    } else {
        code = OpenDesktopWindow(window, b, activate);
    }
    if (code != 0) DestroyBackEnd(window);
    AddDamage(window, {0, 0, window->framebuffer->width, window->framebuffer->height});
    return code;
}

int OpenWindow(qvPlatformDisplay* window, bool activate) {
    return CreateBackEnd(window, activate);
}

void CloseWindow(qvPlatformDisplay* window) {
    DestroyBackEnd(window);
}

// Every open window moves between the desktop and the own screen.
void Rehost() {
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        std::lock_guard<std::recursive_mutex> hold(w->lock);
        DestroyBackEnd(w);
        CreateBackEnd(w, false);
    }
}

// The own screen covers the desktop, whose size the window is made with at its corner: a
// window manager makes it full screen, and without one (a kiosk's bare X server) nobody
// would, and a window of the mode's size would show only part of the screen's picture.
int OpenScreen(int32_t width, int32_t height) {
    SdlWindow& s = sdl->screen;
    SDL_Rect desktop{0, 0, width, height};
    SDL_GetDisplayBounds(0, &desktop);
    s.window = SDL_CreateWindow("Quorvella", desktop.x, desktop.y, desktop.w, desktop.h,
                                SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS);
    if (s.window != nullptr) s.renderer = SDL_CreateRenderer(s.window, -1, SDL_RENDERER_SOFTWARE);
    if (s.renderer == nullptr || SDL_RenderSetLogicalSize(s.renderer, width, height) != 0) {
        if (s.window != nullptr) SDL_DestroyWindow(s.window);
        s = {};
        return ERR_SCREEN;
    }
    sdl->screenOpen = true;
    s.shown = true;
    Rehost();
    return 0;
}

void CloseScreen() {
    sdl->screenOpen = false;
    Rehost();
    SDL_DestroyRenderer(sdl->screen.renderer);
    SDL_DestroyWindow(sdl->screen.window);
    sdl->screen = {};
}

void PlaceWindow(qvPlatformDisplay* window) {
    SdlWindow* b = BackEnd(window);
    if (b == nullptr) return;
    const qvDisplayBitMap* fb = window->framebuffer;
    int width = 0, height = 0;
    if (b->texture != nullptr) SDL_QueryTexture(b->texture, nullptr, nullptr, &width, &height);
    if (width != fb->width || height != fb->height) MakeTexture(b, fb);
    b->shown = true;
    if (b->window == nullptr) return;
    SDL_SetWindowSize(b->window, fb->width, fb->height);
    if (window->shape != nullptr) ApplyShape(window);
    SDL_SetWindowPosition(b->window, window->x + window->frame.left, window->y + window->frame.top);
}

void SetTitle(qvPlatformDisplay* window) {
    if (SdlWindow* b = BackEnd(window); b != nullptr && b->window != nullptr) {
        SDL_SetWindowTitle(b->window, window->title);
    }
}

void Activate(qvPlatformDisplay* window, bool) {
    if (SdlWindow* b = BackEnd(window); b != nullptr && b->window != nullptr) {
        SDL_RaiseWindow(b->window);
    }
    if (sdl->screenOpen) sdl->screen.shown = true;
}

int Iconify(qvPlatformDisplay* window, bool hide) {
    SDL_Window* w = sdl->screenOpen ? sdl->screen.window : BackEnd(window)->window;
    hide ? SDL_MinimizeWindow(w) : SDL_RestoreWindow(w);
    return 0;
}

// Shows the window's pointer state; SDL has one pointer, so this is done when the mouse
// enters a window and when the window under the mouse is told something.
void ShowPointerOf(const qvPlatformDisplay* window) {
    const SdlWindow* b = BackEnd(window);
    if (window->pointer.hidden) {
        SDL_ShowCursor(SDL_DISABLE);
        return;
    }
    SDL_ShowCursor(SDL_ENABLE);
    if (b->cursor != nullptr) {
        SDL_SetCursor(b->cursor);
        return;
    }
    const bool busy = window->pointer.kind == kBusyPointer;
    if (busy && sdl->busy == nullptr) sdl->busy = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAIT);
    SDL_SetCursor(busy && sdl->busy != nullptr ? sdl->busy : SDL_GetDefaultCursor());
}

bool UnderMouse(const qvPlatformDisplay* window) {
    const SdlWindow* b = BackEnd(window);
    return sdl->screenOpen || (b->window != nullptr && SDL_GetMouseFocus() == b->window);
}

void SetPointer(qvPlatformDisplay* window, const PointerImage* image) {
    SdlWindow* b = BackEnd(window);
    if (b == nullptr) return;
    if (b->cursor != nullptr) SDL_FreeCursor(b->cursor);
    b->cursor = nullptr;
    if (image != nullptr) {
        SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
            const_cast<uint32_t*>(image->argb), image->width, image->height, 32, image->width * 4,
            SDL_PIXELFORMAT_ARGB8888);
        if (surface != nullptr) {
            b->cursor = SDL_CreateColorCursor(surface, image->hotX, image->hotY);
            SDL_FreeSurface(surface);
        }
    }
    if (UnderMouse(window)) ShowPointerOf(window);
}

void WarpPointer(qvPlatformDisplay* window, int32_t x, int32_t y) {
    SdlWindow* b = BackEnd(window);
    if (b == nullptr) return;
    if (sdl->screenOpen) {
        SDL_WarpMouseInWindow(sdl->screen.window, window->x + window->frame.left + x,
                              window->y + window->frame.top + y);
    } else {
        SDL_WarpMouseInWindow(b->window, x, y);
    }
}

void SetInputFlags(qvPlatformDisplay*) {
    bool drops = false;
    for (const qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        drops = drops || w->dropTarget;
    }
    const int state = drops ? SDL_ENABLE : SDL_DISABLE;
    SDL_EventState(SDL_DROPBEGIN, state);
    SDL_EventState(SDL_DROPFILE, state);
    SDL_EventState(SDL_DROPCOMPLETE, state);
}

// Copies the damage of the framebuffer into the texture; false when nothing changed.
bool Upload(qvPlatformDisplay* window) {
    SdlWindow* b = BackEnd(window);
    const DamageList damage = TakeDamage(window);
    if (b->texture == nullptr) return false;
    const qvDisplayBitMap* fb = window->framebuffer;
    for (int i = 0; i < damage.count; ++i) {
        const DamageRect& r = damage.rects[i];
        const qvDisplayBitMap* source = fb;
        if (b->staging != nullptr) {
            BltBitMap(fb, r.x, r.y, b->staging, r.x, r.y, r.width, r.height);
            source = b->staging;
        }
        const SDL_Rect rect{r.x, r.y, r.width, r.height};
        SDL_UpdateTexture(b->texture, &rect,
                          source->pixels + (size_t(r.y) * source->rowLength + r.x) * 4,
                          source->rowLength * 4);
    }
    return damage.count != 0;
}

// The own screen shows the open windows over black, bottom first.
void PresentScreen() {
    bool changed = std::exchange(sdl->screen.shown, false);
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        std::lock_guard<std::recursive_mutex> hold(w->lock);
        changed = Upload(w) || std::exchange(BackEnd(w)->shown, false) || changed;
    }
    if (!changed) return;
    SDL_Renderer* renderer = sdl->screen.renderer;
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        if (w->iconified) continue;
        const SDL_Rect at{w->x + w->frame.left, w->y + w->frame.top, w->framebuffer->width,
                          w->framebuffer->height};
        SDL_RenderCopy(renderer, BackEnd(w)->texture, nullptr, &at);
    }
    SDL_RenderPresent(renderer);
}

void Present(uint64_t) {
    if (sdl->screenOpen) {
        PresentScreen();
        return;
    }
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        std::lock_guard<std::recursive_mutex> hold(w->lock);
        SdlWindow* b = BackEnd(w);
        if (b == nullptr || !(Upload(w) || std::exchange(b->shown, false))) continue;
        SDL_RenderCopy(b->renderer, b->texture, nullptr, nullptr);
        SDL_RenderPresent(b->renderer);
    }
}

// The open window of an SDL window, and on the own screen the topmost window at a point of
// the screen (or the topmost of all without a point), with the point made inner.
qvPlatformDisplay* WindowOf(Uint32 id) {
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        const SdlWindow* b = BackEnd(w);
        if (b != nullptr && b->window != nullptr && SDL_GetWindowID(b->window) == id) return w;
    }
    return nullptr;
}

qvPlatformDisplay* ScreenWindowAt(int32_t* x, int32_t* y) {
    qvPlatformDisplay* found = nullptr;
    for (qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        if (w->iconified) continue;
        const int32_t left = w->x + w->frame.left, top = w->y + w->frame.top;
        if (x == nullptr || (*x >= left && *y >= top && *x < left + w->framebuffer->width &&
                             *y < top + w->framebuffer->height)) {
            found = w;
        }
    }
    if (found != nullptr && x != nullptr) {
        *x -= found->x + found->frame.left;
        *y -= found->y + found->frame.top;
    }
    return found;
}

qvPlatformDisplay* Target(Uint32 id, int32_t* x, int32_t* y) {
    if (sdl->screenOpen) return ScreenWindowAt(x, y);
    return WindowOf(id);
}

void PushFor(const qvPlatformDisplay* window, HostEvent event) {
    if (window == nullptr) return;
    event.window = window->number;
    Push(event);
}

HostEvent Make(HostEventKind kind, int32_t x = 0, int32_t y = 0, bool down = false) {
    HostEvent e{};
    e.kind = kind, e.x = x, e.y = y, e.down = down;
    return e;
}

void TranslateWindowEvent(const SDL_WindowEvent& ev) {
    qvPlatformDisplay* window = Target(ev.windowID, nullptr, nullptr);
    if (window == nullptr) return;
    switch (ev.event) {
        case SDL_WINDOWEVENT_MOVED:
            if (!sdl->screenOpen) {
                PushFor(window, Make(HostEventKind::kMoved, ev.data1 - window->frame.left,
                                     ev.data2 - window->frame.top));
            }
            break;
        case SDL_WINDOWEVENT_RESIZED:
            if (!sdl->screenOpen && (ev.data1 != window->framebuffer->width ||
                                     ev.data2 != window->framebuffer->height)) {
                PushFor(window, Make(HostEventKind::kResized, ev.data1, ev.data2));
            }
            break;
        case SDL_WINDOWEVENT_CLOSE:
            PushFor(window, Make(HostEventKind::kClose));
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
        case SDL_WINDOWEVENT_FOCUS_LOST:
            PushFor(window,
                    Make(HostEventKind::kFocus, 0, 0, ev.event == SDL_WINDOWEVENT_FOCUS_GAINED));
            break;
        case SDL_WINDOWEVENT_MINIMIZED:
            PushFor(window, Make(HostEventKind::kIconify, 0, 0, true));
            break;
        case SDL_WINDOWEVENT_RESTORED:
            if (window->iconified) PushFor(window, Make(HostEventKind::kIconify));
            [[fallthrough]];
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            (sdl->screenOpen ? sdl->screen : *BackEnd(window)).shown = true;
            break;
        case SDL_WINDOWEVENT_ENTER:
            ShowPointerOf(window);
            break;
        default:
            break;
    }
}

// Dropped names are collected until the drop is complete, at the mouse position.
void FinishDrop() {
    if (sdl->dropWindow == 0) return;
    const uint32_t number = std::exchange(sdl->dropWindow, 0);
    qvPlatformDisplay* window = FindOpenWindow(number);
    auto* names = static_cast<char*>(AllocMemBlock(sdl->dropped.size() + 1, 1));
    if (window == nullptr || names == nullptr) {
        FreeMemBlock(names);
        return;
    }
    std::memcpy(names, sdl->dropped.data(), sdl->dropped.size());
    int x = 0, y = 0, wx = 0, wy = 0;
    SDL_GetGlobalMouseState(&x, &y);
    if (const SdlWindow* b = BackEnd(window); b->window != nullptr) {
        SDL_GetWindowPosition(b->window, &wx, &wy);
    }
    HostEvent e = Make(HostEventKind::kDrop, x - wx, y - wy);
    e.names = names;
    PushFor(window, e);
}

// A drop of files: one beginning, a file event per name, one end (a lone file event when
// the desktop sends no beginning). Dropped text is not a file.
void TranslateDrop(const SDL_DropEvent& ev) {
    const bool starts = ev.type == SDL_DROPBEGIN || (ev.type == SDL_DROPFILE && !sdl->collecting);
    if (starts) {
        const qvPlatformDisplay* window = Target(ev.windowID, nullptr, nullptr);
        sdl->dropWindow = window != nullptr ? window->number : 0;
        sdl->dropped.clear();
    }
    if (ev.type == SDL_DROPFILE && ev.file != nullptr) {
        CatchAllocFailure(false,
                          [&] { return sdl->dropped.append(ev.file).push_back('\0'), true; });
    }
    if (ev.file != nullptr) SDL_free(ev.file);
    if (ev.type == SDL_DROPBEGIN) sdl->collecting = true;
    if (ev.type == SDL_DROPCOMPLETE || (ev.type == SDL_DROPFILE && !sdl->collecting)) {
        sdl->collecting = false;
        FinishDrop();
    }
}

void OpenControllers() {
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
        if (!SDL_IsGameController(i)) continue;
        const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(i);
        SDL_GameController** free = nullptr;
        bool open = false;
        for (SDL_GameController*& port : sdl->ports) {
            if (port == nullptr && free == nullptr) free = &port;
            open = open || (port != nullptr &&
                            SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(port)) == id);
        }
        if (!open && free != nullptr) *free = SDL_GameControllerOpen(i);
    }
}

void CloseController(SDL_JoystickID id) {
    for (SDL_GameController*& port : sdl->ports) {
        if (port != nullptr && SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(port)) == id) {
            SDL_GameControllerClose(port);
            port = nullptr;
        }
    }
}

void Translate(const SDL_Event& ev) {
    int32_t x, y;
    switch (ev.type) {
        case SDL_MOUSEMOTION:
            x = ev.motion.x, y = ev.motion.y;
            PushFor(Target(ev.motion.windowID, &x, &y), Make(HostEventKind::kMotion, x, y));
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            static constexpr int kButtons[] = {-1, 0, 2, 1};  // SDL's left, middle, right
            if (ev.button.button >= std::size(kButtons)) break;
            x = ev.button.x, y = ev.button.y;
            HostEvent e = Make(HostEventKind::kButton, 0, 0, ev.type == SDL_MOUSEBUTTONDOWN);
            e.button = kButtons[ev.button.button];
            qvPlatformDisplay* window = Target(ev.button.windowID, &x, &y);
            e.x = x, e.y = y;
            if (e.button >= 0) PushFor(window, e);
            break;
        }
        case SDL_MOUSEWHEEL:
            x = ev.wheel.mouseX, y = ev.wheel.mouseY;
            if (ev.wheel.y != 0) {
                PushFor(Target(ev.wheel.windowID, &x, &y),
                        Make(HostEventKind::kWheel, x, y, ev.wheel.y < 0));
            }
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            HostEvent e = Make(HostEventKind::kKey, 0, 0, ev.type == SDL_KEYDOWN);
            e.key = CodeOf(ev.key.keysym.sym);
            e.capsLock = (ev.key.keysym.mod & KMOD_CAPS) != 0;
            PushFor(Target(ev.key.windowID, nullptr, nullptr), e);
            break;
        }
        case SDL_WINDOWEVENT:
            TranslateWindowEvent(ev.window);
            break;
        case SDL_DROPBEGIN:
        case SDL_DROPFILE:
        case SDL_DROPTEXT:
        case SDL_DROPCOMPLETE:
            TranslateDrop(ev.drop);
            break;
        case SDL_CLIPBOARDUPDATE:
            for (const qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
                if (w->clipboardReports) PushFor(w, Make(HostEventKind::kClipboard));
            }
            break;
        case SDL_CONTROLLERDEVICEADDED:
            OpenControllers();
            break;
        case SDL_CONTROLLERDEVICEREMOVED:
            CloseController(ev.cdevice.which);
            break;
        default:
            break;
    }
}

bool PollEvent(HostEvent* out) {
    SDL_Event ev;
    while (sdl->count == 0 && SDL_PollEvent(&ev) != 0) Translate(ev);
    if (sdl->count == 0) return false;
    *out = sdl->pending[sdl->head];
    sdl->head = (sdl->head + 1) % kPending;
    --sdl->count;
    return true;
}

bool WaitEvent(int64_t deadline) {
    if (sdl->count != 0) return true;
    const int64_t left = deadline - Clock().monotonicMicros();
    const int timeout = left > 0 ? int(std::min<int64_t>((left + 999) / 1000, INT32_MAX)) : 0;
    return SDL_WaitEventTimeout(nullptr, timeout) != 0;
}

// Up, right, down and left pressed make a direction: 0 up, clockwise to 7 up left, 8 none.
int32_t Direction(bool up, bool right, bool down, bool left) {
    static constexpr int32_t kDirections[3][3] = {{7, 0, 1}, {6, 8, 2}, {5, 4, 3}};
    const int row = up == down ? 1 : up ? 0 : 2;
    const int column = left == right ? 1 : left ? 0 : 2;
    return kDirections[row][column];
}

int ReadJoystick(int port, int32_t* direction, uint32_t* buttons) {
    if (port < 0 || port > 3) return ERR_NOJOYATPORT;
    SDL_GameController* c = sdl->ports[port];
    if (c == nullptr) return ERR_JOYSTICK;
    SDL_GameControllerUpdate();
    auto pressed = [c](SDL_GameControllerButton b) { return SDL_GameControllerGetButton(c, b); };
    const Sint16 stickX = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX);
    const Sint16 stickY = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY);
    *direction = Direction(pressed(SDL_CONTROLLER_BUTTON_DPAD_UP) || stickY < -kStickThreshold,
                           pressed(SDL_CONTROLLER_BUTTON_DPAD_RIGHT) || stickX > kStickThreshold,
                           pressed(SDL_CONTROLLER_BUTTON_DPAD_DOWN) || stickY > kStickThreshold,
                           pressed(SDL_CONTROLLER_BUTTON_DPAD_LEFT) || stickX < -kStickThreshold);
    // The buttons in SDL's order, without the pad's four directions.
    *buttons = 0;
    int bit = 0;
    for (int b = 0; b < SDL_CONTROLLER_BUTTON_MAX; ++b) {
        if (b >= SDL_CONTROLLER_BUTTON_DPAD_UP && b <= SDL_CONTROLLER_BUTTON_DPAD_RIGHT) continue;
        if (pressed(SDL_GameControllerButton(b))) *buttons |= 1u << bit;
        ++bit;
    }
    return 0;
}

// Button labels "A|B|C" answer 1, 2, ..., the last one 0; closing the box is the last one.
int Requester(const char* title, const char* text, const char* buttons) {
    std::vector<std::string> labels;
    for (const char* at = buttons;; ++at) {
        const char* end = std::strchr(at, '|');
        labels.emplace_back(at, end != nullptr ? size_t(end - at) : std::strlen(at));
        if (end == nullptr) break;
        at = end;
    }
    std::vector<SDL_MessageBoxButtonData> data;
    for (size_t i = 0; i < labels.size(); ++i) {
        const bool last = i + 1 == labels.size();
        Uint32 flags = i == 0 ? SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT : 0;
        if (last) flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
        data.push_back({flags, last ? 0 : int(i + 1), labels[i].c_str()});
    }
    SDL_Window* parent = nullptr;
    for (const qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        if (BackEnd(w) != nullptr && BackEnd(w)->window != nullptr) parent = BackEnd(w)->window;
    }
    const SDL_MessageBoxData box{SDL_MESSAGEBOX_INFORMATION | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT,
                                 parent,
                                 title,
                                 text,
                                 int(data.size()),
                                 data.data(),
                                 nullptr};
    int chosen = -1;
    if (SDL_ShowMessageBox(&box, &chosen) != 0) return -1;
    return chosen < 0 ? 0 : chosen;
}

void Stop() {
    {
        std::lock_guard<std::mutex> hold(sdl->tickerLock);
        sdl->tickerStop = true;
    }
    sdl->tickerWake.notify_all();
    if (sdl->ticker.joinable()) sdl->ticker.join();
    for (SDL_GameController*& port : sdl->ports) {
        if (port != nullptr) SDL_GameControllerClose(port);
    }
    if (sdl->busy != nullptr) SDL_FreeCursor(sdl->busy);
    HostEvent event;
    while (PollEvent(&event)) FreeMemBlock(event.names);
    DeleteBlock(sdl);
    sdl = nullptr;
    SDL_Quit();
}

constexpr VideoDriver kSdl = {
    "sdl",       Stop,          Screen,      EnumModes, OpenScreen, CloseScreen,  Frame,
    OpenWindow,  CloseWindow,   PlaceWindow, SetTitle,  Activate,   Iconify,      SetPointer,
    WarpPointer, SetInputFlags, Present,     PollEvent, WaitEvent,  ReadJoystick, Requester,
};

// SDL's drivers of the desktops that DISPLAY and WAYLAND_DISPLAY name, x11 first as SDL
// prefers it.
std::string NamedDesktops() {
    static constexpr std::pair<const char*, const char*> kDesktops[] = {
        {"DISPLAY", "x11"}, {"WAYLAND_DISPLAY", "wayland"}};
    std::string names;
    for (const auto& [variable, driver] : kDesktops) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        names += (names.empty() ? "" : ",") + std::string(driver);
    }
    return names;
}

// Whether SDL's video shows windows on a desktop.
bool OnDesktop() {
    const char* name = SDL_GetCurrentVideoDriver();
    return name != nullptr && (std::strcmp(name, "x11") == 0 || std::strcmp(name, "wayland") == 0);
}

}  // namespace

const VideoDriver* StartSdlDriver(std::string* why, bool desktopOnly) {
    const std::string desktops = NamedDesktops();
    if (desktopOnly && desktops.empty()) {
        *why = "neither DISPLAY nor WAYLAND_DISPLAY names a desktop";
        return nullptr;
    }
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // Software all the way: the window's own framebuffer, no OpenGL behind it.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Before SDL's own handler, which passes errors on to it and restores it when SDL quits,
    // so that it also sees the errors that closing SDL's connections delivers.
    IgnoreLateX11Wakeups();
    // Only the desktops the environment names are tried (a user's SDL_VIDEODRIVER still
    // rules): SDL would otherwise go on to drivers that show nothing.
    if (desktopOnly) SDL_SetHint(SDL_HINT_VIDEODRIVER, desktops.c_str());
    const bool started = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER) == 0;
    SDL_ResetHint(SDL_HINT_VIDEODRIVER);
    if (!started) {
        *why = SDL_GetError();
        SDL_Quit();
        return nullptr;
    }
    if (desktopOnly && !OnDesktop()) {
        *why = std::string("SDL2 found no desktop and took its ") + SDL_GetCurrentVideoDriver() +
               " driver";
        SDL_Quit();
        return nullptr;
    }
    sdl = NewBlock<Sdl>();
    if (sdl == nullptr) {
        *why = "out of memory";
        SDL_Quit();
        return nullptr;
    }
    SDL_EventState(SDL_DROPBEGIN, SDL_DISABLE);
    SDL_EventState(SDL_DROPFILE, SDL_DISABLE);
    SDL_EventState(SDL_DROPCOMPLETE, SDL_DISABLE);
    OpenControllers();
    sdl->ticker = std::thread(Tick);
    return &kSdl;
}

}  // namespace qv

namespace qv::platform::testing {

bool ReadPresentedPixels(const qvPlatformDisplay* window, std::vector<uint32_t>* argb) {
    const SdlWindow* b = window->backEnd != nullptr && sdl != nullptr ? BackEnd(window) : nullptr;
    if (b == nullptr || b->renderer == nullptr) return false;
    int width = 0, height = 0;
    if (SDL_GetRendererOutputSize(b->renderer, &width, &height) != 0) return false;
    argb->assign(size_t(width) * height, 0);
    return SDL_RenderReadPixels(b->renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, argb->data(),
                                width * 4) == 0;
}

}  // namespace qv::platform::testing

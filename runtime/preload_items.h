// The applet's declarations of resources and displays: the preload items that the loader
// reads from the applet and that start-up turns into script commands, with their picture,
// fill, gradient and display-settings records.
#pragma once

#include <cstdint>

#include "runtime/runtime_state.h"

enum : uint32_t {
    QV_PRELOAD_BGPIC = 0,
    QV_PRELOAD_BRUSH = 1,
    QV_PRELOAD_ANIM = 2,
    QV_PRELOAD_MUSIC = 3,
    QV_PRELOAD_SAMPLE = 4,
    QV_PRELOAD_BUTTON = 5,
    QV_PRELOAD_KEY = 6,
    QV_PRELOAD_SPRITE = 7,
    QV_PRELOAD_FILE = 8,
    QV_PRELOAD_FONT = 9,
    QV_PRELOAD_DISPLAY = 10,
    QV_PRELOAD_VIDEO = 11,
    QV_PRELOAD_PLUGIN = 12,
};

// Display style flags.
enum : uint32_t {
    QV_DISPFLAG_BORDERLESS = 0x1,
    QV_DISPFLAG_SIZEABLE = 0x2,
    QV_DISPFLAG_FIXED = 0x4,
    QV_DISPFLAG_NOMODESWITCH = 0x8,
    QV_DISPFLAG_HIDEPOINTER = 0x10,
    QV_DISPFLAG_NOHIDE = 0x20,
    QV_DISPFLAG_AUTOSCALE = 0x40,
    QV_DISPFLAG_SMOOTHSCALE = 0x80,
    QV_DISPFLAG_LAYERSCALE = 0x100,
    QV_DISPFLAG_BGPIC = 0x200,
    QV_DISPFLAG_ACTIVE = 0x400,
    QV_DISPFLAG_HIDDEN = 0x800,
    QV_DISPFLAG_LAYERS = 0x1000,
    QV_DISPFLAG_USEQUARTZ = 0x2000,
    QV_DISPFLAG_NOCLOSE = 0x4000,
    QV_DISPFLAG_KEEPPROPORTIONS = 0x8000,
    QV_DISPFLAG_FITSCALE = 0x10000,
};

inline constexpr int kMaxGradientStops = 64;
inline constexpr int kMaxRegions = 64;
// The position constant that centres.
inline constexpr int32_t kCentred = -100000;

struct qvGradientStop {
    uint32_t colour;
    double position;
};

// The 1080-byte gradient block.
struct qvGradient {
    uint32_t style;
    uint32_t startColour;
    uint32_t endColour;
    uint32_t stopCount;
    uint32_t angle;
    qvGradientStop stops[kMaxGradientStops];
    double centerX;
    double centerY;
    double balance;
    double border;
};
static_assert(sizeof(qvGradient) == 1080);

// Brushes (1), animations (2) and sprites (7).
struct qvPictureRecord {
    int32_t width, height, x, y, frames, framesPerRow, globalAlpha;
    uint32_t cache, cacheAlpha, cachedLoad, fromDisk, hardware;
};

// Background pictures (0). Fill styles: 0 none, 1 colour, 2 gradient, 3 texture.
struct qvFillRecord {
    uint32_t fillStyle;
    uint32_t fillColour;
    qvGradient gradient;
    uint32_t textureBrush;
    int32_t textureX, textureY;
};

struct qvDisplayRegion {
    uint32_t type;
    int32_t x, y, width, height;
};

// Displays (10).
struct qvDisplaySettings {
    char title[256];
    uint32_t styleFlags;
    uint32_t givenFlags;  // flags the applet decided, kept from the command line's
    uint32_t bgpic;
    int32_t x, y, width, height;
    uint32_t colour;
    int32_t scaleWidth, scaleHeight;
    qvDisplayRegion dragRegions[kMaxRegions];
    qvDisplayRegion sizeRegions[kMaxRegions];
    uint32_t dragRegionCount;
    uint32_t sizeRegionCount;
    uint32_t fillStyle;
    qvGradient gradient;
    uint32_t textureBrush;
    int32_t textureX, textureY;
};

// Buttons (5).
struct qvButtonRecord {
    int32_t left, top, right, bottom;
};

struct qvPreloadItem {
    qvPreloadItem* next;
    uint32_t type;
    uint32_t id;
    uint32_t flags;  // 1 when read from the applet
    char* name;      // the file, font or plugin name (a block owned by the item), or none
    uint32_t nameOffset, nameSize;
    uint32_t linkedOffset, linkedSize;  // size 0: not linked
    uint32_t arg1, arg2;
    int32_t line;
    void* data;  // the type's record (a block owned by the item), or none
    char containerPath[1024];
    char directory[1024];  // where a relative name is taken from; empty: none
    uint32_t quiet;
};

// Style 2, centre and balance 0.5, border 0; everything else 0.
void InitGradientDefaults(qvGradient* gradient);
// Appends an item with copies of name and of the type's record (a qvFillRecord for type 0,
// a qvPictureRecord for 1, 2 and 7, a qvButtonRecord for 5, a qvDisplaySettings for 10).
// Returns 0 or ERR_MEM.
int AddPreloadItem(qvScriptHeader* header, uint32_t type, uint32_t id, const char* name,
                   uint32_t arg1, uint32_t arg2, int32_t line, uint32_t flags, const void* data);
// Adds display item 1 with the defaults: title (when none, the pending default title, else
// "Quorvella"), 640 x 480, centred, fill style 1, gradient defaults, active. Returns 0 or
// ERR_MEM.
int AddDefaultDisplayItem(qvScriptHeader* header, const char* title);
// Frees every item (names, records, nodes) and empties the list.
void FreePreloadItems(qvScriptHeader* header);

namespace qv {

// AddPreloadItem returning the new item (none when memory is short).
qvPreloadItem* AppendPreloadItem(qvScriptHeader* header, uint32_t type, uint32_t id,
                                 const char* name, uint32_t arg1, uint32_t arg2, int32_t line,
                                 uint32_t flags, const void* data);
// A display settings record with the defaults of AddDefaultDisplayItem.
void InitDisplayDefaults(qvDisplaySettings* settings, const char* title);
// The display item of id 1, or none.
qvPreloadItem* FindDisplayItem(qvScriptHeader* header, uint32_t id);

}  // namespace qv

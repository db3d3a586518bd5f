#include "runtime/preload.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/linux/bitmap.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/option_tables.h"
#include "runtime/plugins/plugin_host.h"
#include "runtime/preload_items.h"
#include "runtime/strings.h"

namespace qv {
namespace {

constexpr uint32_t kNoValue = 0xFFFFFFFF;  // -1 in an unsigned field: not given
constexpr uint32_t kFontNoCache = 0x10000;
constexpr uint32_t kOpenFileMode = 1005;
constexpr const char* kNoCommand = "----";

const char* CommandOf(uint32_t type) {
    static constexpr const char* kCommands[] = {
        "LoadBGPic",     "LoadBrush",  "LoadAnim", "OpenMusic", "LoadSample",    "CreateButton",
        "CreateKeyDown", "LoadSprite", "OpenFile", "OpenFont",  "CreateDisplay", "OpenVideo"};
    return kCommands[type];
}

bool IsPicture(uint32_t type) {
    return type == QV_PRELOAD_BRUSH || type == QV_PRELOAD_ANIM || type == QV_PRELOAD_SPRITE;
}

// Items without a name (name size 0 in the applet) have no file to share or to compare.
bool HasName(const qvPreloadItem* item) {
    return item->name != nullptr && item->name[0] != '\0';
}

void SetCommandName(const char* name) {
    CopyText(Runtime().error.command, sizeof Runtime().error.command, name);
}

// --- Steps 1 to 3: checks, the default display, the command line's style ---

struct Declared {
    bool bgpic1 = false;
    bool display1 = false;
};

int ScanItems(const qvScriptHeader* header, Declared* declared) {
    for (const qvPreloadItem* item = header->preloadItems; item != nullptr; item = item->next) {
        if (item->id == 1 && item->type == QV_PRELOAD_BGPIC) declared->bgpic1 = true;
        if (item->id == 1 && item->type == QV_PRELOAD_DISPLAY) declared->display1 = true;
        if (item->type != QV_PRELOAD_PLUGIN) continue;
        int result =
            CheckRequiredPlugin(HasName(item) ? item->name : "", static_cast<int>(item->arg1),
                                static_cast<int>(item->arg2));
        if (result != 0) return result;
    }
    return 0;
}

// A style bit the applet decided itself (its given-flags mask) keeps the applet's value.
void MergeCommandLineStyle(qvScriptHeader* header) {
    const qvDisplayDefaults& line = header->display;
    for (qvPreloadItem* item = header->preloadItems; item != nullptr; item = item->next) {
        if (item->type != QV_PRELOAD_DISPLAY || item->data == nullptr) continue;
        auto* settings = static_cast<qvDisplaySettings*>(item->data);
        settings->styleFlags |= line.styleFlags & ~settings->givenFlags;
        if (settings->scaleWidth == 0) settings->scaleWidth = line.scaleWidth;
        if (settings->scaleHeight == 0) settings->scaleHeight = line.scaleHeight;
    }
}

// --- Option tables (built on top of the stack) ---

void SetUnsigned(qvVmState* L, const char* key, uint32_t value) {
    SetTableFieldNumber(L, key, static_cast<double>(value));
}

void SetGradientFields(qvVmState* L, const qvGradient& g) {
    SetUnsigned(L, "gradientstyle", g.style);
    SetUnsigned(L, "gradientstartcolor", g.startColour);
    SetUnsigned(L, "gradientendcolor", g.endColour);
    SetUnsigned(L, "gradientangle", g.angle);
    SetTableFieldNumber(L, "gradientcenterx", g.centerX);
    SetTableFieldNumber(L, "gradientcentery", g.centerY);
    SetTableFieldNumber(L, "gradientbalance", g.balance);
    SetTableFieldNumber(L, "gradientborder", g.border);
    uint32_t stops = std::min<uint32_t>(g.stopCount, kMaxGradientStops);
    if (stops == 0) return;
    VmPushString(L, "gradientcolors");
    VmNewTable(L);
    for (uint32_t i = 0; i < stops; ++i) {
        VmPushNumber(L, g.stops[i].colour);
        VmRawSetI(L, -2, static_cast<int>(2 * i));
        VmPushNumber(L, g.stops[i].position);
        VmRawSetI(L, -2, static_cast<int>(2 * i + 1));
    }
    VmRawSet(L, -3);
}

struct Fill {
    uint32_t style;
    uint32_t colour;
    const qvGradient* gradient;
    uint32_t textureBrush;
    int32_t textureX, textureY;
};

// The fill colour is "fillcolor" in LoadBGPic's table and "color" in CreateDisplay's.
void SetFillFields(qvVmState* L, const Fill& fill, const char* colourKey) {
    SetUnsigned(L, "fillstyle", fill.style);
    switch (fill.style) {
        case 2:
            SetGradientFields(L, *fill.gradient);
            return;
        case 3:
            SetUnsigned(L, "texturebrush", fill.textureBrush);
            SetTableFieldInt(L, "texturex", fill.textureX);
            SetTableFieldInt(L, "texturey", fill.textureY);
            return;
        default:
            SetUnsigned(L, colourKey, fill.colour);
    }
}

void SetLoadFields(qvVmState* L, const qvPreloadItem& item) {
    if (item.arg1 != kNoValue) SetUnsigned(L, "transparency", item.arg1);
    SetUnsigned(L, "loadalpha", item.arg2);
}

void PushBGPicTable(qvVmState* L, const qvPreloadItem& item) {
    qvFillRecord none{};
    const auto& f = item.data != nullptr ? *static_cast<const qvFillRecord*>(item.data) : none;
    VmNewTable(L);
    SetLoadFields(L, item);
    SetFillFields(L,
                  {f.fillStyle, f.fillColour, &f.gradient, f.textureBrush, f.textureX, f.textureY},
                  "fillcolor");
}

// A sprite's cut takes the fields it is given as asked for; an item declares 0 for a size or
// count it leaves to the default.
void SetSizeField(qvVmState* L, const qvPreloadItem& item, const char* key, int32_t value) {
    if (item.type != QV_PRELOAD_SPRITE || value != 0) SetTableFieldInt(L, key, value);
}

void PushPictureTable(qvVmState* L, const qvPreloadItem& item) {
    qvPictureRecord none{};
    const auto& p = item.data != nullptr ? *static_cast<const qvPictureRecord*>(item.data) : none;
    VmNewTable(L);
    SetLoadFields(L, item);
    SetSizeField(L, item, "width", p.width);
    SetSizeField(L, item, "height", p.height);
    SetTableFieldInt(L, "x", p.x);
    SetTableFieldInt(L, "y", p.y);
    if (item.type == QV_PRELOAD_BRUSH) {
        if (p.globalAlpha != -1) SetTableFieldInt(L, "globalalpha", p.globalAlpha);
        SetUnsigned(L, "hardware", p.hardware);
    } else {
        SetSizeField(L, item, "frames", p.frames);
        SetSizeField(L, item, "fpr", p.framesPerRow);
        if (item.type == QV_PRELOAD_ANIM) SetUnsigned(L, "fromdisk", p.fromDisk);
    }
    if (p.cache != 0) SetTableFieldInt(L, "cache", 1);
    if (p.cacheAlpha != 0) SetTableFieldInt(L, "cachealpha", 1);
    if (p.cachedLoad != 0) SetTableFieldInt(L, "cachedload", 1);
}

void PushFontTable(qvVmState* L, const qvPreloadItem& item) {
    VmNewTable(L);
    if ((item.arg2 & 0xFFFF) != 0) SetUnsigned(L, "engine", item.arg2 & 0xFFFF);
    if ((item.arg2 & kFontNoCache) != 0) SetTableFieldInt(L, "cache", 0);
}

// Regions go in as a list of tables from index 0.
void SetRegionList(qvVmState* L, const char* key, const qvDisplayRegion* regions, uint32_t count) {
    count = std::min<uint32_t>(count, kMaxRegions);
    if (count == 0) return;
    VmPushString(L, key);
    VmNewTable(L);
    for (uint32_t i = 0; i < count; ++i) {
        VmNewTable(L);
        SetUnsigned(L, "type", regions[i].type);
        SetTableFieldInt(L, "x", regions[i].x);
        SetTableFieldInt(L, "y", regions[i].y);
        SetTableFieldInt(L, "width", regions[i].width);
        SetTableFieldInt(L, "height", regions[i].height);
        VmRawSetI(L, -2, static_cast<int>(i));
    }
    VmRawSet(L, -3);
}

void SetStyleFields(qvVmState* L, uint32_t flags) {
    static constexpr struct {
        uint32_t flag;
        const char* key;
    } kStyleFields[] = {
        {QV_DISPFLAG_HIDDEN, "hidden"},           {QV_DISPFLAG_BORDERLESS, "borderless"},
        {QV_DISPFLAG_SIZEABLE, "sizeable"},       {QV_DISPFLAG_FIXED, "fixed"},
        {QV_DISPFLAG_NOHIDE, "nohide"},           {QV_DISPFLAG_NOMODESWITCH, "nomodeswitch"},
        {QV_DISPFLAG_SMOOTHSCALE, "smoothscale"}, {QV_DISPFLAG_HIDEPOINTER, "hidepointer"},
        {QV_DISPFLAG_LAYERS, "layers"},           {QV_DISPFLAG_USEQUARTZ, "usequartz"},
        {QV_DISPFLAG_NOCLOSE, "noclose"},         {QV_DISPFLAG_KEEPPROPORTIONS, "keepproportions"},
        {QV_DISPFLAG_FITSCALE, "fitscale"},
    };
    for (const auto& field : kStyleFields) {
        if ((flags & field.flag) != 0) SetTableFieldInt(L, field.key, 1);
    }
    if ((flags & (QV_DISPFLAG_AUTOSCALE | QV_DISPFLAG_LAYERSCALE)) != 0) {
        SetTableFieldInt(L, "scalemode", (flags & QV_DISPFLAG_AUTOSCALE) != 0 ? 1 : 2);
    }
}

struct DisplayCall {
    const qvScriptHeader* header;
    bool bgpic1;
};

void SetDisplaySize(qvVmState* L, const qvPreloadItem& item, const DisplayCall& call) {
    const auto& d = *static_cast<const qvDisplaySettings*>(item.data);
    bool wholeScreen = item.id == 1 && call.header->wholeScreenFirstDisplay != 0;
    SetTableFieldInt(L, "width", wholeScreen ? int32_t(QueryBitMapAttr(nullptr, 14)) : d.width);
    SetTableFieldInt(L, "height", wholeScreen ? int32_t(QueryBitMapAttr(nullptr, 15)) : d.height);
    SetFillFields(L, {d.fillStyle, d.colour, &d.gradient, d.textureBrush, d.textureX, d.textureY},
                  "color");
}

void PushDisplayTable(qvVmState* L, const qvPreloadItem& item, const DisplayCall& call) {
    const auto& d = *static_cast<const qvDisplaySettings*>(item.data);
    VmNewTable(L);
    SetTableFieldString(L, "title", d.title);
    SetTableFieldInt(L, "x", d.x);
    SetTableFieldInt(L, "y", d.y);
    if (d.scaleWidth != 0) SetTableFieldInt(L, "scalewidth", d.scaleWidth);
    if (d.scaleHeight != 0) SetTableFieldInt(L, "scaleheight", d.scaleHeight);
    if ((d.styleFlags & QV_DISPFLAG_ACTIVE) != 0) SetTableFieldInt(L, "active", 1);
    if ((d.styleFlags & QV_DISPFLAG_BGPIC) != 0) {
        SetUnsigned(L, "bgpic", d.bgpic);
    } else if (item.id == 1 && call.bgpic1) {
        SetTableFieldInt(L, "bgpic", 1);
    } else {
        SetDisplaySize(L, item, call);
    }
    SetStyleFields(L, d.styleFlags);
    if (item.id == 1 && call.header->wholeScreenFirstDisplay != 0) {
        SetTableFieldInt(L, "private2", 1);
    }
    SetRegionList(L, "dragregion", d.dragRegions, d.dragRegionCount);
    SetRegionList(L, "sizeregion", d.sizeRegions, d.sizeRegionCount);
}

// --- Step 4, sharing, and steps 6 and 7, the calls ---

// A linked item reads its stretch of the applet; a relative name is taken from the directory
// that was current when it was declared. Names with a volume and POSIX absolute names are
// complete as they are.
std::string FileArgument(const qvPreloadItem& item, const qvStartupOptions& options) {
    const char* name = HasName(&item) ? item.name : "";
    if (item.linkedSize != 0) {
        const char* container =
            item.containerPath[0] != '\0' ? item.containerPath : options.appletPath;
        return MakeChunkPath(name, item.linkedOffset, item.linkedSize, Runtime().linkOffset,
                             container);
    }
    if (item.directory[0] == '\0' || std::strchr(name, ':') != nullptr || name[0] == '/') {
        return name;
    }
    char path[kPathBufferSize];
    CopyText(path, sizeof path, item.directory);
    if (AddPart(path, name, sizeof path) == 0) return name;
    return path;
}

bool MayShare(const qvPreloadItem* item) {
    if (!IsPicture(item->type) || !HasName(item) || item->data == nullptr) return false;
    const auto* picture = static_cast<const qvPictureRecord*>(item->data);
    return picture->cachedLoad == 0 && (item->type == QV_PRELOAD_BRUSH || picture->frames != 0);
}

// The first declaration of a file loads it into the gfx cache; later ones of the same file
// take it from there. The cache keeps pictures by the file argument the commands get (a
// linked item's names its own stretch of the applet), and a name too long for it is not kept,
// so only items of one file argument that the cache can hold are paired.
void SharePictures(qvScriptHeader* header, const qvStartupOptions& options) {
    for (qvPreloadItem* first = header->preloadItems; first != nullptr; first = first->next) {
        if (!MayShare(first)) continue;
        const std::string file = FileArgument(*first, options);
        if (file.size() >= kPathBufferSize) continue;
        auto* loader = static_cast<qvPictureRecord*>(first->data);
        for (qvPreloadItem* later = first->next; later != nullptr; later = later->next) {
            if (!IsPicture(later->type) || !HasName(later) || later->data == nullptr ||
                StrICmp(file.c_str(), FileArgument(*later, options).c_str()) != 0) {
                continue;
            }
            loader->cache = 1;
            static_cast<qvPictureRecord*>(later->data)->cachedLoad = 1;
            if (later->arg2 == 1 && first->arg2 == 0) loader->cacheAlpha = 1;
        }
    }
}

struct ItemCall {
    const qvPreloadItem* item;
    const qvStartupOptions* options;
    DisplayCall display;
    const std::string* source;  // the program chunk's source, which the line maps name
};

// The command's global; a missing one is reported under the command's own name.
void PushCommand(qvVmState* L, const char* command) {
    std::string name = command;
    ToLowerStr(name.data());
    VmPushString(L, name.c_str());
    VmGetTable(L, VM_GLOBALSINDEX);
    if (VmType(L, -1) == VM_TFUNCTION) return;
    SetErrorString((std::string(command) + "()").c_str());
    RaiseError(L, ERR_FUNCDECLA);
}

// Pushes the arguments after the id; returns their number.
int PushItemArguments(qvVmState* L, const ItemCall& call) {
    const qvPreloadItem& item = *call.item;
    if (item.type == QV_PRELOAD_DISPLAY) {
        PushDisplayTable(L, item, call.display);
        return 1;
    }
    if (item.type == QV_PRELOAD_BUTTON) {
        qvButtonRecord none{};
        const auto& b =
            item.data != nullptr ? *static_cast<const qvButtonRecord*>(item.data) : none;
        for (int32_t v : {b.left, b.top, b.right, b.bottom}) VmPushNumber(L, v);
        return 4;
    }
    VmPushString(L, FileArgument(item, *call.options).c_str());
    switch (item.type) {
        case QV_PRELOAD_BGPIC:
            PushBGPicTable(L, item);
            return 2;
        case QV_PRELOAD_BRUSH:
        case QV_PRELOAD_ANIM:
        case QV_PRELOAD_SPRITE:
            PushPictureTable(L, item);
            return 2;
        case QV_PRELOAD_FILE:
            VmPushNumber(L, kOpenFileMode);
            return 2;
        case QV_PRELOAD_FONT:
            VmPushNumber(L, item.arg1);
            PushFontTable(L, item);
            return 3;
        default:
            return 1;
    }
}

// Everything that may fail runs under the engine's protection: preload has no other.
int ItemCallBody(qvVmState* L) {
    const auto& call = *static_cast<const ItemCall*>(VmToUserdata(L, 1));
    PushCommand(L, CommandOf(call.item->type));
    VmPushNumber(L, call.item->id);
    int nargs = 1 + PushItemArguments(L, call);
    VmCall(L, nargs, 0);
    return 0;
}

// The source name of the loaded program chunk, which waits on top of the stack to run.
std::string ProgramSource(qvVmState* L) {
    if (VmType(L, -1) != VM_TFUNCTION) return "?";
    VmPushValue(L, -1);
    qvDebugRecord ar{};
    if (VmGetInfo(L, ">S", &ar) == 0 || ar.source == nullptr) return "?";
    return ar.source;
}

int CallItem(qvVmState* L, const ItemCall& call) {
    const qvPreloadItem& item = *call.item;
    SetAttr(L, QV_ATTR_QUIET, 1);
    Runtime().error.line = item.line;
    SetCommandName(CommandOf(item.type));
    int status = VmCPCall(L, ItemCallBody, const_cast<ItemCall*>(&call));
    if (status != 0) {
        // The error's own location is a native frame with no line: report the item's, in
        // the program's source, whose line map names the listing.
        qvErrorState& e = Runtime().error;
        e.line = item.line;
        CopyText(e.sourceName, sizeof e.sourceName, call.source->c_str());
        SetCommandName(CommandOf(item.type));
        return status;
    }
    SetCommandName(kNoCommand);
    return 0;
}

int CallItems(qvVmState* L, const qvScriptHeader* header, const qvStartupOptions* options,
              const Declared& declared, bool displays) {
    const std::string source = ProgramSource(L);
    for (const qvPreloadItem* item = header->preloadItems; item != nullptr; item = item->next) {
        if (item->type >= QV_PRELOAD_PLUGIN) continue;
        if ((item->type == QV_PRELOAD_DISPLAY) != displays) continue;
        if (displays && item->data == nullptr) continue;
        if (int status = CallItem(L, {item, options, {header, declared.bgpic1}, &source})) {
            return status;
        }
    }
    return 0;
}

}  // namespace
}  // namespace qv

int PreloadApplet(qvVmState* L, qvScriptHeader* header, qvStartupOptions* options) {
    qv::Declared declared;
    if (int result = qv::ScanItems(header, &declared)) return result;
    if (!declared.display1) {
        if (int result = AddDefaultDisplayItem(header, nullptr)) return result;
    }
    if (header->settingsLocked == 0) qv::MergeCommandLineStyle(header);
    qv::SharePictures(header, *options);
    qv::SetAttr(L, QV_ATTR_PRELOADING, 1);
    qv::SetAttr(L, QV_ATTR_REPORTLOCATIONS, 1);
    if (int status = qv::CallItems(L, header, options, declared, false)) return status;
    return qv::CallItems(L, header, options, declared, true);
}

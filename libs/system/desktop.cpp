#include "libs/system/desktop.h"

#include <optional>
#include <string_view>
#include <vector>

#include "engine/convert.h"
#include "gfx/masks.h"
#include "gfx/save_picture.h"
#include "libs/system/commands.h"
#include "libs/system/tool_types.h"
#include "media/ilbm_reader.h"
#include "media/picture_writers.h"
#include "objects/brush.h"
#include "platform/linux/blocks.h"
#include "platform/linux/catalog.h"
#include "platform/linux/clipboard.h"
#include "platform/linux/icons.h"
#include "platform/linux/locale.h"
#include "platform/linux/requester.h"
#include "platform/linux/url_launcher.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/image_handles.h"
#include "runtime/input_pump.h"
#include "runtime/objects.h"

namespace qv {
namespace {

struct DesktopState {
    qvCatalog* catalog = nullptr;
    std::string lastFile;
    std::string lastPath;
    std::string icon;
};

DesktopState state;

enum : int32_t { kTypeAll = 0, kTypeNumerical = 3, kMaxStringLength = 1024 };
constexpr size_t kPathSize = 4096;
constexpr size_t kToolTypeBuffer = 65536;
constexpr int kMaxToolTypes = 255;
constexpr int32_t kProjectIcon = 4;

std::string ArgText(qvVmState* L, int idx) {
    size_t length = 0;
    const char* text = GetArgString(L, idx, &length);
    return std::string(text, length);
}

int32_t OptInt(qvVmState* L, int idx, int32_t fallback) {
    return Trunc32(GetOptArgNumber(L, idx, fallback));
}

void Pop(qvVmState* L, int n) {
    VmSetTop(L, -n - 1);
}

// Whether argument idx is given and not nil.
bool Given(qvVmState* L, int idx) {
    return VmType(L, idx) != VM_TNONE && VmType(L, idx) != VM_TNIL;
}

// An optional text argument: absent or nil gives none.
std::optional<std::string> OptText(qvVmState* L, int idx) {
    if (!Given(L, idx)) return std::nullopt;
    return ArgText(L, idx);
}

void PushText(qvVmState* L, std::string_view text) {
    VmPushLString(L, text.data(), text.size());
}

// Sets t[key] = the value on the top of the stack, for the table below it.
void SetField(qvVmState* L, const char* key) {
    VmPushString(L, key);
    VmPushValue(L, -2);
    VmRawSet(L, -4);
    Pop(L, 1);
}

void SetNumberField(qvVmState* L, const char* key, double value) {
    VmPushNumber(L, value);
    SetField(L, key);
}

void SetTextField(qvVmState* L, const char* key, std::string_view value) {
    PushText(L, value);
    SetField(L, key);
}

// A directory joined with a name as the file layer reads it.
std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir.back() == '/' || dir.back() == ':') return dir + name;
    return dir + "/" + name;
}

// "/dir/name" as a drawer and a name; a volume's ":" stays with the drawer.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    size_t cut = path.find_last_of("/:");
    if (cut == std::string::npos) return {"", path};
    size_t dirEnd = path[cut] == ':' || cut == 0 ? cut + 1 : cut;
    return {path.substr(0, dirEnd), path.substr(cut + 1)};
}

bool IsWholeNumber(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

int FileNotReadable(const std::string& name) {
    return ErrorWithText(ERR_READFILE, name.c_str());
}

void PushFileResult(qvVmState* L, const qvFileRequestResult& result, bool multiSelect) {
    if (!multiSelect) {
        PushText(L, result.names.empty() ? "" : JoinPath(result.directory, result.names[0]));
        return;
    }
    VmNewTable(L);
    int n = 0;
    for (const std::string& name : result.names) {
        PushText(L, JoinPath(result.directory, name));
        VmRawSetI(L, -2, n++);
    }
    VmPushString(L, "");
    VmRawSetI(L, -2, n);
}

// The items of the list t (keys 0, 1, ... up to the first nil) as texts; 0, or
// ERR_WRONGUSAGE for an item that is no text.
int ChoicesArg(qvVmState* L, int idx, std::vector<std::string>* choices) {
    CheckArgTable(L, idx);
    for (int i = 0;; ++i) {
        VmRawGetI(L, idx, i);
        if (VmType(L, -1) == VM_TNIL) break;
        if (!VmIsString(L, -1)) return ERR_WRONGUSAGE;
        choices->emplace_back(VmToString(L, -1), VmStrLen(L, -1));
        Pop(L, 1);
    }
    Pop(L, 1);
    return 0;
}

// Field key of the table at idx, pushed.
int GetField(qvVmState* L, int idx, const char* key) {
    VmPushString(L, key);
    VmRawGet(L, idx < 0 ? idx - 1 : idx);
    return VmType(L, -1);
}

// The tool type of the table at idx; 0, or ERR_WRONGUSAGE for a key or value that is no text.
int ToolTypeOf(qvVmState* L, int idx, ToolType* toolType) {
    if (GetField(L, idx, "enabled") != VM_TNIL) toolType->enabled = Trunc32(VmToNumber(L, -1)) != 0;
    Pop(L, 1);
    if (GetField(L, idx, "key") != VM_TSTRING) return ERR_WRONGUSAGE;
    toolType->key.assign(VmToString(L, -1), VmStrLen(L, -1));
    Pop(L, 1);
    if (GetField(L, idx, "value") != VM_TNIL) {
        if (!VmIsString(L, -1)) return ERR_WRONGUSAGE;
        toolType->value.assign(VmToString(L, -1), VmStrLen(L, -1));
    }
    Pop(L, 1);
    return 0;
}

// The tool types of the list at idx; 0, or ERR_INTERNAL when they are more than 255 or do not
// fit the 64 KiB that icons hold for them.
int ToolTypesArg(qvVmState* L, int idx, std::vector<std::string>* out) {
    size_t bytes = 0;
    for (int i = 0;; ++i) {
        VmRawGetI(L, idx, i);
        bool isTable = VmType(L, -1) == VM_TTABLE;
        if (isTable && i == kMaxToolTypes) return ERR_INTERNAL;
        if (!isTable) break;
        ToolType toolType;
        if (int code = ToolTypeOf(L, -1, &toolType)) return code;
        out->push_back(FormatToolType(toolType));
        Pop(L, 1);
        bytes += out->back().size() + 1;
        if (bytes > kToolTypeBuffer) return ERR_INTERNAL;
    }
    Pop(L, 1);
    return 0;
}

void PushToolTypes(qvVmState* L, const std::vector<std::string>& texts) {
    VmNewTable(L);
    int n = 0;
    ToolType toolType;
    for (const std::string& text : texts) {
        if (!ParseToolType(text, &toolType)) continue;
        VmNewTable(L);
        SetTextField(L, "key", toolType.key);
        SetTextField(L, "value", toolType.value);
        SetNumberField(L, "enabled", toolType.enabled ? 1 : 0);
        VmRawSetI(L, -2, n++);
    }
}

}  // namespace

// --- Requesters ---

int SystemRequest(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    std::string title = ArgText(L, 1), body = ArgText(L, 2), buttons = ArgText(L, 3);
    int icon = OptInt(L, 4, 0);
    int button = 0;
    int code = ReqSystem(title.c_str(), body.c_str(), buttons.c_str(), icon, &button);
    ResetDisplayInput(L);
    if (code != 0) return code;
    if (button < 0) return ERR_MEM;  // the requester could not be shown
    VmPushNumber(L, button);
    return 1;
}

int StringRequest(qvVmState* L) {
    CheckArgCount(L, 2, 6);
    std::string title = ArgText(L, 1), body = ArgText(L, 2);
    std::string text = OptText(L, 3).value_or("");
    int32_t type = OptInt(L, 4, kTypeAll);
    int32_t maxLength = OptInt(L, 5, 0);
    bool password = Given(L, 6) && ArgFlag(L, 6);
    if (type != kTypeAll && type != kTypeNumerical) return ERR_WRONGUSAGE;
    if (type == kTypeNumerical && !text.empty() && !IsWholeNumber(text)) return ERR_WRONGUSAGE;
    if (maxLength > kMaxStringLength || maxLength < 0) return ERR_WRONGUSAGE;
    if (maxLength == 0) maxLength = kMaxStringLength;
    if (text.size() > static_cast<size_t>(maxLength)) text.resize(maxLength);
    int code = ReqString(title.c_str(), body.c_str(), password, maxLength, &text);
    if (code != 0 && code != ERR_USERABORT) return code;
    PushText(L, text);
    VmPushNumber(L, code == 0 ? 1 : 0);
    return 2;
}

int FileRequest(qvVmState* L) {
    CheckArgCount(L, 2, 5);
    std::string title = ArgText(L, 1), pattern = ArgText(L, 2);
    int32_t mode = OptInt(L, 3, QV_REQ_NORMAL);
    std::optional<std::string> path = OptText(L, 4), file = OptText(L, 5);
    if (mode > QV_REQ_SAVEMODE) return ERR_WRONGUSAGE;
    if (!path && !file && !state.lastFile.empty()) {
        auto [dir, name] = SplitPath(state.lastFile);
        path = dir;
        file = name;
    }
    qvFileRequest request{title.c_str(), pattern.c_str(), mode, path ? path->c_str() : nullptr,
                          file ? file->c_str() : nullptr};
    qvFileRequestResult result;
    int code = ReqFile(request, &result);
    ResetDisplayInput(L);
    if (code != 0) return code;
    if (!result.names.empty()) state.lastFile = JoinPath(result.directory, result.names[0]);
    PushFileResult(L, result, mode == QV_REQ_MULTISELECT);
    return 1;
}

int PathRequest(qvVmState* L) {
    CheckArgCount(L, 1, 3);
    std::string title = ArgText(L, 1);
    int32_t mode = OptInt(L, 2, QV_REQ_NORMAL);
    std::optional<std::string> path = OptText(L, 3);
    if (mode != QV_REQ_NORMAL && mode != QV_REQ_SAVEMODE) return ERR_WRONGUSAGE;
    if (!path && !state.lastPath.empty()) path = state.lastPath;
    std::vector<char> chosen(kPathSize);
    int code =
        ReqPath(title.c_str(), mode, path ? path->c_str() : nullptr, chosen.data(), chosen.size());
    ResetDisplayInput(L);
    if (code != 0) return code;
    if (chosen[0] != '\0') state.lastPath = chosen.data();
    VmPushString(L, chosen.data());
    return 1;
}

int FontRequest(qvVmState* L) {
    CheckArgCount(L, 1, 3);
    std::string title = ArgText(L, 1);
    qvFontRequestResult font;
    font.name = OptText(L, 2).value_or("");
    font.size = OptInt(L, 3, 0);
    font.weight = 80;
    if (int code = ReqFont(title.c_str(), &font)) return code;
    VmNewTable(L);
    SetTextField(L, "name", font.name);
    SetTextField(L, "family", font.name);
    const std::pair<const char*, int32_t> numbers[] = {
        {"size", font.size},           {"weight", font.weight},       {"slant", font.slant},
        {"underline", font.underline}, {"strikeout", font.strikeout}, {"bold", font.bold},
        {"italic", font.italic},       {"color", font.color}};
    for (auto [key, value] : numbers) SetNumberField(L, key, value);
    return 1;
}

int ListRequest(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    std::string title = ArgText(L, 1), body = ArgText(L, 2);
    std::vector<std::string> choices;
    if (int code = ChoicesArg(L, 3, &choices)) return code;
    int32_t active = OptInt(L, 4, -1);
    if (choices.empty()) return ERR_WRONGUSAGE;
    if (active < -1 || active >= static_cast<int32_t>(choices.size())) active = -1;
    int chosen = -1;
    if (int code = ReqList(title.c_str(), body.c_str(), choices, active, &chosen)) return code;
    VmPushNumber(L, chosen);
    return 1;
}

int ColorRequest(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    std::string title = ArgText(L, 1);
    int32_t start = OptInt(L, 2, -1);
    int32_t colour = -1;
    if (int code = ReqColor(title.c_str(), start, &colour)) return code;
    VmPushNumber(L, colour);
    return 1;
}

// --- Clipboard ---

namespace {

// The brush as a 24-plane ILBM with its mask plane, or with a mask plane of the pixels of alpha
// above 0 and its alpha bytes.
int BrushToIlbm(const qvBrush* brush, uint8_t** bytes, size_t* size) {
    const int32_t width = brush->width, height = brush->height;
    BlockPtr<qvARGB> pixels(
        BitmapToPixelArray(brush->bitmap, width, height, brush->mask, brush->alpha, 0, 1));
    if (!pixels) return ERR_MEM;
    const IlbmTransparency keep = brush->alpha != nullptr  ? IlbmTransparency::kMaskAndAlpha
                                  : brush->mask != nullptr ? IlbmTransparency::kMask
                                                           : IlbmTransparency::kNone;
    return EncodeIlbm(pixels.get(), width, height, keep, bytes, size);
}

// The plane a brush made of an ILBM takes: its alpha bytes, or its mask plane, or none.
int IlbmPlanes(const qvIlbmPicture& picture, const qvDisplayBitMap* bitmap, OwnedPlane* mask,
               OwnedPlane* alpha) {
    const int32_t width = picture.width, height = picture.height;
    if (picture.alpha) {
        alpha->reset(AlphaPlaneFromPixels(picture.pixels, width, height));
        return *alpha ? 0 : ERR_MEM;
    }
    if (!picture.masked) return 0;
    mask->reset(AllocMaskBitMap(bitmap, width, height, 1));
    if (!*mask) return ERR_MEM;
    // The pixels the mask plane hid have alpha 0.
    ColorKeyToMaskPixels32(picture.pixels, (*mask)->plane, width, height, (*mask)->bytesPerRow, 0,
                           width, 0xFF000000);
    return 0;
}

// A new brush under an automatic id from an ILBM; ERR_WRONGUSAGE when the bytes are not a
// picture the reader takes.
int IlbmToBrush(std::span<const uint8_t> bytes, qvBrush** brush) {
    qvIlbmPicture picture;
    if (const int code = DecodeIlbm(bytes, &picture)) return code;
    const BlockPtr<uint32_t> pixels(picture.pixels);
    const int32_t width = picture.width, height = picture.height;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* keyed = nullptr;
    if (const int code = PixelArrayToBitMap(pixels.get(), kNoTransparency, width, height, width, 0,
                                            &bitmap, &keyed)) {
        return code;
    }
    OwnedBitMap owned(bitmap);
    OwnedPlane mask, alpha;
    if (const int code = IlbmPlanes(picture, bitmap, &mask, &alpha)) return code;
    const uint32_t transparent = mask ? kMaskWithoutKey : kNoTransparency;
    if (const int code = AddBrush(AutomaticBrushId(), kBitmapBrush, width, height, width, 0,
                                  nullptr, bitmap, transparent, mask.get(), alpha.get(), brush)) {
        return code;
    }
    owned.release();
    mask.release();
    alpha.release();
    return 0;
}

std::span<const uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

int SetClipboard(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    switch (Trunc32(GetArgNumber(L, 1))) {
        case QV_CLIPBOARD_TEXT:
            return WriteClipboardData(ArgText(L, 2));
        case QV_CLIPBOARD_IMAGE: {
            qvBrush* brush = nullptr;
            if (const int code = GetBrush(L, GetObjectIdArg(L, 2), &brush, 0)) return code;
            uint8_t* bytes = nullptr;
            size_t size = 0;
            if (const int code = BrushToIlbm(brush, &bytes, &size)) return code;
            const BlockPtr<uint8_t> form(bytes);
            return WriteClipboardStore({reinterpret_cast<const char*>(bytes), size});
        }
        default:
            return ERR_WRONGUSAGE;
    }
}

// A picture that the reader refuses is the clipboard's "other" kind.
int GetClipboard(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    const std::string store = ReadClipboardStore();
    int kind = ClipboardKindOf(AsBytes(store));
    std::string text;
    qvBrush* brush = nullptr;
    if (kind == QV_CLIPBOARD_TEXT) ReadFtxt(AsBytes(store), &text);
    if (kind == QV_CLIPBOARD_IMAGE) {
        const int code = IlbmToBrush(AsBytes(store), &brush);
        if (code == ERR_WRONGUSAGE)
            kind = QV_CLIPBOARD_UNKNOWN;
        else if (code != 0)
            return code;
    }
    VmPushNumber(L, kind);
    if (kind == QV_CLIPBOARD_TEXT) {
        PushText(L, text);
        return 2;
    }
    if (brush != nullptr) return 1 + PushNewObjectHandle(L, brush->header);
    return 1;
}

int PeekClipboard(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushNumber(L, PeekClipboardType());
    return 1;
}

int ClearClipboard(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    return ClearClipboardData();
}

// --- Icons and URLs ---

int SetWBIcon(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    state.icon.assign(IconBaseName(ArgText(L, 1)));
    return 0;
}

int GetIconProperties(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    std::string name = ArgText(L, 1);
    qvIconInfo icon;
    if (LoadIconObject(name.c_str(), &icon) != 0) return FileNotReadable(name);
    VmPushNumber(L, icon.type);
    PushToolTypes(L, icon.toolTypes);
    PushText(L, icon.type == kProjectIcon ? icon.defaultTool : "");
    return 3;
}

int SetIconProperties(qvVmState* L) {
    CheckArgCount(L, 2, 4);
    std::string name = ArgText(L, 1);
    qvIconInfo icon;
    icon.type = Trunc32(GetArgNumber(L, 2));
    if (Given(L, 3)) {
        CheckArgTable(L, 3);
        if (int code = ToolTypesArg(L, 3, &icon.toolTypes)) return code;
    }
    std::optional<std::string> tool = OptText(L, 4);
    qvIconInfo old;
    if (LoadIconObject(name.c_str(), &old) != 0) return FileNotReadable(name);
    // Only a project icon takes a default tool; any other keeps the one it has.
    icon.defaultTool = icon.type == kProjectIcon ? tool.value_or(old.defaultTool) : old.defaultTool;
    int code = WriteIconProperties(name.c_str(), icon);
    return code == ERR_READFILE ? FileNotReadable(name) : code;
}

int OpenURL(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    std::string url = ArgText(L, 1);
    std::string opener;
    int code = LaunchURL(url.c_str(), &opener);
    if (code != 0) SetErrorString(opener.c_str());
    return code;
}

// --- Language and catalogs ---

int GetSystemLanguage(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushNumber(L, GetLanguageCode());
    return 1;
}

int GetSystemCountry(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushNumber(L, GetCountryCode());
    return 1;
}

int OpenCatalog(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    std::string name = ArgText(L, 1);
    int32_t version = OptInt(L, 2, 0);
    FreeCatalog(state.catalog);
    state.catalog = OpenAppCatalog(name.c_str(), version > 0 ? static_cast<uint32_t>(version) : 0);
    return 0;
}

int CloseCatalog(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    FreeCatalog(state.catalog);
    state.catalog = nullptr;
    return 0;
}

int GetCatalogString(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    auto id = static_cast<uint32_t>(Trunc32(GetArgNumber(L, 1)));
    std::string fallback = ArgText(L, 2);
    VmPushString(L, GetCatalogText(state.catalog, id, fallback.c_str()));
    return 1;
}

const std::string& DesktopIconName() {
    return state.icon;
}

void FreeDesktopState() {
    FreeCatalog(state.catalog);
    state = {};
}

}  // namespace qv

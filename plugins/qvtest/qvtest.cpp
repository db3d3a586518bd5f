// The test plugin: a script library of test commands (globals, no library name), the
// constant QVTEST_MAGIC, a picture saver "PNG2" with format id 10 and, in the picture build,
// a picture reader that decodes through the run-time's own loader and renders again at any
// size. It reaches the run-time only through the service table.
//
// QVTEST_NAME is the plugin's file name; QVTEST_VARIANT_* builds fail the host's checks one
// at a time. With QVTEST_RECORD=1 at "InitPlugin" the library also carries the commands that
// an applet's preload calls, each printing one "CALL" line per call.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/plugin_api/qv_plugin_api.h"

namespace {

// The file name labels the plugin's own lines; the name it declares may differ.
constexpr const char* kLabel = QVTEST_NAME;

#if defined(QVTEST_VARIANT_MISNAMED)
constexpr const char* kName = "other";
#elif defined(QVTEST_VARIANT_NONAME)
constexpr const char* kName = nullptr;
#else
constexpr const char* kName = QVTEST_NAME;
#endif

#ifdef QVTEST_VARIANT_BADARCH
constexpr uint32_t kArchitecture = 7;
#else
constexpr uint32_t kArchitecture = kQvPluginArchNative;
#endif

#ifdef QVTEST_VARIANT_NEWER
constexpr uint32_t kRequiredRevision = 1;
#else
constexpr uint32_t kRequiredRevision = 0;
#endif

#if defined(QVTEST_VARIANT_NOTYPE)
constexpr uint32_t kCapabilities = 0;
#elif defined(QVTEST_VARIANT_PICTURE)
constexpr uint32_t kCapabilities =
    QV_PLUGIN_LIBRARY | QV_PLUGIN_PICTUREREADER | QV_PLUGIN_PICTURESAVER;
#else
constexpr uint32_t kCapabilities = QV_PLUGIN_LIBRARY | QV_PLUGIN_PICTURESAVER;
#endif

const qvPluginAPI* api = nullptr;
bool recording = false;

const qvPluginVm& Vm() {
    return *api->vm;
}

// Output goes through the run-time's printf slot and is flushed at once, so that it keeps
// its place among the run-time's own lines.
void Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    api->clib->vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// --- Commands ---

int AbsoluteIndex(qvVmState* L, int idx) {
    return idx < 0 ? Vm().VmGetTop(L) + idx + 1 : idx;
}

std::string FormatValue(qvVmState* L, int idx);

// A table's fields as "{key=value ...}", number keys first in order, then the others by name.
std::string FormatTable(qvVmState* L, int idx) {
    struct Field {
        bool numeric;
        double number;
        std::string key;
        std::string value;
    };
    std::vector<Field> fields;
    Vm().VmPushNil(L);
    while (Vm().VmNext(L, idx) != 0) {
        bool numeric = Vm().VmType(L, -2) == QV_TNUMBER;
        fields.push_back({numeric, numeric ? Vm().VmToNumber(L, -2) : 0, FormatValue(L, -2),
                          FormatValue(L, -1)});
        Vm().VmSetTop(L, -2);
    }
    std::sort(fields.begin(), fields.end(), [](const Field& a, const Field& b) {
        if (a.numeric != b.numeric) return a.numeric;
        return a.numeric ? a.number < b.number : a.key < b.key;
    });
    std::string text = "{";
    for (const Field& f : fields) {
        if (text.size() > 1) text += ' ';
        text += f.key + "=" + f.value;
    }
    return text + "}";
}

// Strings and numbers as the engine converts them (on a copy, so that a table key being
// walked stays as it is); other values by their type.
std::string FormatValue(qvVmState* L, int idx) {
    idx = AbsoluteIndex(L, idx);
    switch (Vm().VmType(L, idx)) {
        case QV_TNUMBER:
        case QV_TSTRING: {
            Vm().VmPushValue(L, idx);
            std::string text = Vm().VmToString(L, -1);
            Vm().VmSetTop(L, -2);
            return text;
        }
        case QV_TNIL:
            return "nil";
        case QV_TBOOLEAN:
            return "boolean";
        case QV_TTABLE:
            return FormatTable(L, idx);
        case QV_TFUNCTION:
            return "function";
        default:
            return "userdata";
    }
}

std::string FormatArguments(qvVmState* L) {
    std::string text;
    for (int i = 1; i <= Vm().VmGetTop(L); ++i) {
        if (i > 1) text += ' ';
        text += FormatValue(L, i);
    }
    return text;
}

// TestPrint(...): the arguments as strings, joined by one blank.
int TestPrint(qvVmState* L) {
    Print("%s\n", FormatArguments(L).c_str());
    return 0;
}

// TestFail(code [, number [, text]]): sets the message arguments and fails with code.
int TestFail(qvVmState* L) {
    int code = static_cast<int>(Vm().GetArgNumber(L, 1));
    if (Vm().VmGetTop(L) >= 2) api->sys->SetErrorNumber(Vm().GetArgUInt32(L, 2));
    if (Vm().VmGetTop(L) >= 3) api->sys->SetErrorString(Vm().GetArgString(L, 3, nullptr));
    return code;
}

// TestRaise(code): raises from inside the plugin. The string owns heap memory, so a leak
// report would show an unwind that skipped this frame.
int TestRaise(qvVmState* L) {
    std::string pending(64, 'x');
    Vm().RaiseErrorForPlugin(L, static_cast<int>(Vm().GetArgNumber(L, 1)));
    return static_cast<int>(pending.size());
}

// A slot called by its position, as a compiled plugin indexes the table.
template <typename Fn, typename Table>
Fn SlotAt(const Table* table, size_t index) {
    return reinterpret_cast<Fn>(reinterpret_cast<void* const*>(table)[index]);
}

// TestApi(): calls slots by position and prints what they gave.
int TestApi(qvVmState* L) {
    auto registerText = SlotAt<int (*)(const char*)>(api->sys, 1);
    auto filePart = SlotAt<const char* (*)(const char*)>(api->dos, 22);
    auto getTop = SlotAt<int (*)(qvVmState*)>(api->vm, 0);
    const qvPluginFontData& fonts = *api->fontData;
    Print("TestApi %u.%u %d %s %d %zu %zu %zu\n", api->version, api->revision,
          registerText("qvtest error"), filePart("dir/file.txt"), getTop(L), fonts.sansSize,
          fonts.serifSize, fonts.monoSize);
    return 0;
}

// The commands of an applet's preload: "CALL", the name and the arguments.
template <const char* Name>
int Record(qvVmState* L) {
    Print("CALL %s %s\n", Name, FormatArguments(L).c_str());
    return 0;
}

constexpr char kLoadBGPic[] = "LoadBGPic", kLoadBrush[] = "LoadBrush", kLoadAnim[] = "LoadAnim",
               kOpenMusic[] = "OpenMusic", kLoadSample[] = "LoadSample",
               kCreateButton[] = "CreateButton", kCreateKeyDown[] = "CreateKeyDown",
               kLoadSprite[] = "LoadSprite", kOpenFile[] = "OpenFile", kOpenFont[] = "OpenFont",
               kCreateDisplay[] = "CreateDisplay", kOpenVideo[] = "OpenVideo";

constexpr qvPluginCommand kCommands[] = {
    {"TestPrint", TestPrint}, {"TestFail", TestFail}, {"TestRaise", TestRaise},
    {"TestApi", TestApi},     {nullptr, nullptr},
};

constexpr qvPluginCommand kRecordingCommands[] = {
    {"TestPrint", TestPrint},
    {"TestFail", TestFail},
    {"TestRaise", TestRaise},
    {"TestApi", TestApi},
    {kLoadBGPic, Record<kLoadBGPic>},
    {kLoadBrush, Record<kLoadBrush>},
    {kLoadAnim, Record<kLoadAnim>},
    {kOpenMusic, Record<kOpenMusic>},
    {kLoadSample, Record<kLoadSample>},
    {kCreateButton, Record<kCreateButton>},
    {kCreateKeyDown, Record<kCreateKeyDown>},
    {kLoadSprite, Record<kLoadSprite>},
    {kOpenFile, Record<kOpenFile>},
    {kOpenFont, Record<kOpenFont>},
    {kCreateDisplay, Record<kCreateDisplay>},
    {kOpenVideo, Record<kOpenVideo>},
    {nullptr, nullptr},
};

constexpr qvPluginConstant kConstants[] = {
    {"QVTEST_MAGIC", nullptr, 42},
    {nullptr, nullptr, 0},
};

// --- Entry points ---

[[maybe_unused]] int InitPlugin(qvPluginInfo* info, const qvPluginAPI* services, const char*) {
#ifdef QVTEST_VARIANT_INITFAIL
    return 0;
#endif
    api = services;
    const char* record = std::getenv("QVTEST_RECORD");
    recording = record != nullptr && std::strcmp(record, "1") == 0;
    info->capabilities = kCapabilities;
    info->version = 5;
    info->revision = kRequiredRevision;
    info->text0 = "Quorvella test team";
    info->name = kName;
    const char* texts[7] = {"Test commands for the run-time's own tests",
                            "Copyright the Quorvella authors",
                            "qvtest",
                            "",
                            nullptr,
                            "test",
                            "1.2"};
    std::copy(std::begin(texts), std::end(texts), info->texts);
    info->pluginVersion = 1;
    info->pluginRevision = 2;
    return 1;
}

void ClosePlugin() {
    Print("%s: closeplugin\n", kLabel);
}

const char* GetBaseTable() {
    return nullptr;
}

const qvPluginCommand* GetCommands() {
    return recording ? kRecordingCommands : kCommands;
}

const qvPluginConstant* GetConstants() {
    return kConstants;
}

int InitLibrary(qvVmState*) {
#ifdef QVTEST_VARIANT_LIBFAIL
    return 1000;
#else
    return 0;
#endif
}

void FreeLibrary(qvVmState*) {
    Print("%s: freelibrary\n", kLabel);
}

void RegisterImageSaver(qvSaverRecord* saver) {
    saver->formatId = 10;
    saver->flags = QV_SAVER_ARGB | QV_SAVER_ALPHA;
    saver->name = "PNG2";
}

// The saver writes nothing: a negative result reports the failure.
int SaveImage(const char*, const void*) {
    return -1;
}

#ifdef QVTEST_VARIANT_PICTURE
// Pictures come from the run-time's own loader (pixels 0xRRGGBBAA there) and are kept as
// 0xAARRGGBB; they count as vector pictures, so that the host asks for renderings at other
// sizes.
struct Picture {
    int32_t width;
    int32_t height;
    uint32_t* pixels;
};

int IsImage(const char* file, qvPictureInfo* info) {
    int32_t width, height, depth;
    if (api->gfx->QueryPictureForPlugin(file, &width, &height, &depth) == 0) return 0;
    *info = {width, height, depth, -1, 0, QV_PICTURE_VECTOR, 0};
    return 1;
}

void* LoadImage(const char* file, qvPictureInfo* info) {
    int32_t width, height, hasAlpha;
    void* loaded = api->gfx->LoadPictureForPlugin(file, &width, &height, &hasAlpha);
    if (loaded == nullptr) return nullptr;
    auto* rgba =
        static_cast<const uint32_t*>(api->gfx->GetBitMapAttrForPlugin(loaded, kQvBitMapAttrPixels));
    size_t count = size_t(width) * size_t(height);
    auto* picture = static_cast<Picture*>(api->sys->AllocMemForPlugin(sizeof(Picture), 0));
    auto* pixels = static_cast<uint32_t*>(api->sys->AllocMemForPlugin(count * 4, 0));
    if (picture != nullptr && pixels != nullptr) {
        for (size_t i = 0; i < count; ++i) pixels[i] = (rgba[i] >> 8) | (rgba[i] << 24);
        *picture = {width, height, pixels};
        *info = {width, height, 32, -1, hasAlpha, QV_PICTURE_VECTOR, 0};
    } else {
        api->sys->FreeMemForPlugin(pixels);
        api->sys->FreeMemForPlugin(picture);
        picture = nullptr;
    }
    api->gfx->FreePictureForPlugin(loaded);
    return picture;
}

uint32_t* GetImage(void* picture) {
    return static_cast<Picture*>(picture)->pixels;
}

void FreeImage(void* picture) {
    api->sys->FreeMemForPlugin(static_cast<Picture*>(picture)->pixels);
    api->sys->FreeMemForPlugin(picture);
}

// Nearest-neighbour rendering through the inverse of the matrix, the transformed box shifted
// to the origin; what falls outside the picture stays transparent.
int TransformImage(void* data, const double m[4], double offsetX, double offsetY, int32_t, int32_t,
                   int32_t width, int32_t height, uint32_t* out) {
    const auto* picture = static_cast<const Picture*>(data);
    double det = m[0] * m[3] - m[1] * m[2];
    if (det == 0) return 0;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            double u = x + 0.5 + offsetX, v = y + 0.5 + offsetY;
            double sx = std::floor((m[3] * u - m[2] * v) / det);
            double sy = std::floor((m[0] * v - m[1] * u) / det);
            bool inside = sx >= 0 && sy >= 0 && sx < picture->width && sy < picture->height;
            out[size_t(y) * width + x] =
                inside ? picture->pixels[size_t(sy) * picture->width + size_t(sx)] : 0;
        }
    }
    return 1;
}
#endif

struct Entry {
    const char* name;
    void* address;
};

template <typename Fn>
void* Address(Fn* function) {
    return reinterpret_cast<void*>(function);
}

const Entry kEntries[] = {
#ifndef QVTEST_VARIANT_NOINIT
    {"InitPlugin", Address(InitPlugin)},
#endif
    {"ClosePlugin", Address(ClosePlugin)},
    {"GetBaseTable", Address(GetBaseTable)},
    {"GetCommands", Address(GetCommands)},
    {"GetConstants", Address(GetConstants)},
    {"InitLibrary", Address(InitLibrary)},
    {"FreeLibrary", Address(FreeLibrary)},
    {"RegisterImageSaver", Address(RegisterImageSaver)},
    {"SaveImage", Address(SaveImage)},
#ifdef QVTEST_VARIANT_PICTURE
    {"IsImage", Address(IsImage)},
    {"LoadImage", Address(LoadImage)},
    {"GetImage", Address(GetImage)},
    {"FreeImage", Address(FreeImage)},
    {"TransformImage", Address(TransformImage)},
#endif
};

[[maybe_unused]] void* Lookup(const char* name) {
    for (const Entry& e : kEntries) {
        if (std::strcmp(e.name, name) == 0) return e.address;
    }
    return nullptr;
}

}  // namespace

#ifndef QVTEST_VARIANT_NOMARKER
QV_PLUGIN_DESCRIPTOR(kArchitecture, Lookup);
#endif

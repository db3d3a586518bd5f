#include "runtime/plugins/plugin_host.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "platform/linux/blocks.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/lists.h"
#include "platform/linux/plugin_loader.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/plugin_api/service_table.h"
#include "runtime/report.h"
#include "runtime/strings.h"

// The plugins' records are handed to the engine as they are.
static_assert(sizeof(qvPluginCommand) == sizeof(qvCommandEntry) &&
              offsetof(qvPluginCommand, func) == offsetof(qvCommandEntry, func));
static_assert(sizeof(qvPluginConstant) == sizeof(qvConstant) &&
              offsetof(qvPluginConstant, string) == offsetof(qvConstant, string) &&
              offsetof(qvPluginConstant, value) == offsetof(qvConstant, value));

namespace qv {
namespace {

constexpr char kMarker[kQvPluginMarkerSize] = {'Q', 'U', 'O', 'R', 'V', 'E', 'L', 'A'};
// The platform that the architecture error names.
constexpr char kPlatformName[] = "Linux";
constexpr char kPluginExtension[] = ".qvp";
constexpr size_t kExtensionLength = sizeof kPluginExtension - 1;

constexpr const char* kEntryNames[kPluginEntryCount] = {
    "InitPlugin",       "ClosePlugin",         "IsImage",          "LoadImage",
    "GetImage",         "FreeImage",           "TransformImage",   "OpenAnim",
    "LoadFrame",        "FreeFrame",           "GetFrameDelay",    "CloseAnim",
    "OpenStream",       "CloseStream",         "SeekStream",       "StreamSamples",
    "GetFormatName",    "GetPathExtents",      "DrawPath",         "TranslatePath",
    "GetCurrentPoint",  "CreateVectorFont",    "FreeVectorFont",   "OpenFont",
    "CloseFont",        "OpenVideo",           "CloseVideo",       "NextPacket",
    "FreePacket",       "DecodeVideoFrame",    "DecodeAudioFrame", "SeekVideo",
    "FlushAudio",       "FlushVideo",          "GetVideoFrames",   "GetVideoFormat",
    "GetBaseTable",     "GetCommands",         "GetConstants",     "InitLibrary",
    "FreeLibrary",      "GetScript",           "FreeScript",       "RegisterImageSaver",
    "SaveImage",        "RegisterAnimSaver",   "BeginAnimStream",  "WriteAnimFrame",
    "FinishAnimStream", "RegisterSampleSaver", "SaveSample"};

// Each capability and the run of entry points it needs.
struct Capability {
    uint32_t flag;
    PluginEntry first;
    PluginEntry end;
};
constexpr Capability kCapabilities[] = {
    {QV_PLUGIN_PICTUREREADER, kIsImage, kOpenAnim},
    {QV_PLUGIN_ANIMREADER, kOpenAnim, kOpenStream},
    {QV_PLUGIN_SOUNDREADER, kOpenStream, kGetPathExtents},
    {QV_PLUGIN_VECTORGRAPHICS, kGetPathExtents, kOpenVideo},
    {QV_PLUGIN_VIDEOREADER, kOpenVideo, kGetBaseTable},
    {QV_PLUGIN_LIBRARY, kGetBaseTable, kGetScript},
    {QV_PLUGIN_SCRIPTPROVIDER, kGetScript, kRegisterImageSaver},
    {QV_PLUGIN_PICTURESAVER, kRegisterImageSaver, kRegisterAnimSaver},
    {QV_PLUGIN_ANIMSAVER, kRegisterAnimSaver, kRegisterSampleSaver},
    {QV_PLUGIN_SAMPLESAVER, kRegisterSampleSaver, kPluginEntryCount},
};

struct SegmentsDeleter {
    void operator()(qvSegmentList* segments) const { UnloadSegments(segments); }
};
using SegmentsPtr = std::unique_ptr<qvSegmentList, SegmentsDeleter>;

// The message names the plugin by the file part of its path.
int LoadFailure(const char* path) {
    return ErrorWithText(ERR_LOADPLUGIN, FilePartEx(path));
}

// The file part of path without its extension, in any letter case.
bool NameMatchesFile(const char* name, const char* path) {
    const char* file = FilePartEx(path);
    size_t length = std::strlen(file);
    if (length >= kExtensionLength) length -= kExtensionLength;
    return std::strlen(name) == length && StrNICmp(name, file, length) == 0;
}

bool RequiresNewerRuntime(const qvPluginInfo& info) {
    return info.version > kQvRuntimeVersion ||
           (info.version == kQvRuntimeVersion && info.revision > kQvRuntimeRevision);
}

// Resolves the entry points of every declared capability; one that lacks any of them does
// not count and keeps none. Returns the capabilities that resolved.
uint32_t ResolveCapabilities(qvPluginLookup lookup, qvPluginFunctions* f) {
    uint32_t resolved = 0;
    for (const Capability& c : kCapabilities) {
        if ((f->info.capabilities & c.flag) == 0) continue;
        bool complete = true;
        for (int e = c.first; e < c.end; ++e) {
            f->entries[e] = lookup(kEntryNames[e]);
            complete = complete && f->entries[e] != nullptr;
        }
        if (complete) {
            resolved |= c.flag;
        } else {
            std::fill(f->entries + c.first, f->entries + c.end, nullptr);
        }
    }
    return resolved;
}

// Steps 5 to 7 of a load, after "InitPlugin" succeeded.
int CheckInitialisedPlugin(const char* path, qvPluginLookup lookup, qvPluginRecord* record) {
    const qvPluginInfo& info = record->functions.info;
    if (info.name == nullptr || !NameMatchesFile(info.name, path)) return LoadFailure(path);
    if (RequiresNewerRuntime(info)) {
        char version[32];
        std::snprintf(version, sizeof version, "%u.%u", info.version, info.revision);
        return ErrorWithText(ERR_NEWQVPLUGIN, version);
    }
    record->capabilities = ResolveCapabilities(lookup, &record->functions);
    if (record->capabilities == 0) {
        char flags[32];
        std::snprintf(flags, sizeof flags, "%lx", static_cast<unsigned long>(info.capabilities));
        return ErrorWithText(ERR_PLUGINTYPE, flags);
    }
    return 0;
}

// Steps 1 to 3: the descriptor and the two entry points every plugin has.
int OpenPlugin(const char* path, qvSegmentList* segments, qvPluginDescriptor* descriptor,
               qvPluginFunctions* f) {
    if (!FindInSegments(segments, kMarker, sizeof kMarker, descriptor, sizeof *descriptor) ||
        descriptor->lookup == nullptr) {
        return LoadFailure(path);
    }
    if (descriptor->architecture != kQvPluginArchNative)
        return ErrorWithText(ERR_PLUGINARCH, kPlatformName);
    f->architecture = descriptor->architecture;
    f->entries[kInitPlugin] = descriptor->lookup(kEntryNames[kInitPlugin]);
    f->entries[kClosePlugin] = descriptor->lookup(kEntryNames[kClosePlugin]);
    if (f->entries[kInitPlugin] == nullptr || f->entries[kClosePlugin] == nullptr) {
        return LoadFailure(path);
    }
    return 0;
}

void ClosePluginOf(const qvPluginRecord* record) {
    PluginEntryOf<qvClosePluginFn>(&record->functions, kClosePlugin)();
}

// --- The plugin list ---

bool IsListed(const char* fileName) {
    for (qvPluginNode* node = Runtime().plugins; node != nullptr; node = node->next) {
        if (StrICmp(node->fileName, fileName) == 0) return true;
    }
    return false;
}

bool HasPluginExtension(const char* name) {
    size_t length = std::strlen(name);
    return length >= kExtensionLength &&
           StrICmp(name + length - kExtensionLength, kPluginExtension) == 0;
}

void AppendNode(qvPluginNode* node) {
    *ListEnd(&Runtime().plugins) = node;
}

// "(Reason: %s)" with the error's text, as a progress line of its own.
void PrintFailureReason(int code) {
    char text[1024];
    const char* file;
    int line;
    ShowErrorLocation(nullptr, code, text, &file, &line);
    char reason[1200];
    FillMessage(GetMessageText(kMsgReason), text, 0, reason, sizeof reason);
    if (Runtime().quiet == 0) WriteConsole(reason);
}

// Loads path and appends it under fileName; false when memory ran out for the node, which
// ends the scan.
bool LoadListedPlugin(const char* path, const char* fileName) {
    PrintLoadingMessage(GetMessageText(kMsgLoadingPlugin), path, 1);
    qvPluginRecord* record;
    uint32_t capabilities;
    if (int result = LoadPlugin(path, &record, &capabilities); result != 0) {
        PrintLoadingFailed();
        PrintFailureReason(result);
        return true;
    }
    auto* node = NewBlock<qvPluginNode>();
    if (node == nullptr) {
        UnloadPlugin(record);
        PrintLoadingFailed();
        return false;
    }
    node->capabilities = capabilities;
    node->record = record;
    CopyText(node->fileName, sizeof node->fileName, fileName);
    AppendNode(node);
    PrintLoadingDone();
    return true;
}

struct FileHandleCloser {
    void operator()(qvFileHandle* handle) const { CloseFileEx(handle); }
};
struct DirScanDeleter {
    void operator()(qvDirScan* scan) const { FreeDirContext(scan); }
};

// --- Registration ---

// Registers a library's commands as globals (no library name) or as the fields of the
// global table of its name, and for the command list.
int RegisterPluginLibrary(qvVmState* L, qvPluginRecord* record) {
    const qvPluginFunctions* f = &record->functions;
    record->libraryName = PluginEntryOf<qvGetBaseTableFn>(f, kGetBaseTable)();
    record->commands = PluginEntryOf<qvGetCommandsFn>(f, kGetCommands)();
    record->constants = PluginEntryOf<qvGetConstantsFn>(f, kGetConstants)();
    if (record->commands != nullptr) {
        auto* rows = reinterpret_cast<const qvCommandEntry*>(record->commands);
        if (record->libraryName == nullptr) VmPushValue(L, VM_GLOBALSINDEX);
        RegisterLibrary(L, record->libraryName, rows, 0);
        VmSetTop(L, -2);
        const char* listed = record->libraryName != nullptr ? record->libraryName : "plugin";
        if (int result = RegisterCommandTable(rows, listed); result != 0) return result;
    }
    if (record->constants != nullptr) {
        RegisterConstants(L, reinterpret_cast<const qvConstant*>(record->constants), 1);
    }
    record->freeLibraryDue = 1;
    return PluginEntryOf<qvInitLibraryFn>(f, kInitLibrary)(L);
}

// "RegisterImageSaver" (and its kin) fills the saver record; its name makes the constant
// prefix_name with the format id as value.
void RegisterSaver(qvVmState* L, qvPluginFunctions* f, PluginEntry registrar, qvSaverRecord* saver,
                   const char* prefix) {
    PluginEntryOf<qvRegisterSaverFn>(f, registrar)(saver);
    if (saver->name == nullptr) return;
    char name[128];
    std::snprintf(name, sizeof name, "%s_%s", prefix, saver->name);
    const qvConstant rows[] = {{name, nullptr, static_cast<double>(saver->formatId)},
                               {nullptr, nullptr, 0}};
    RegisterConstants(L, rows, 1);
}

int RegisterCapabilities(qvVmState* L, qvPluginRecord* record) {
    qvPluginFunctions* f = &record->functions;
    if ((record->capabilities & QV_PLUGIN_LIBRARY) != 0) {
        if (int result = RegisterPluginLibrary(L, record); result != 0) return result;
    }
    if ((record->capabilities & QV_PLUGIN_PICTURESAVER) != 0) {
        RegisterSaver(L, f, kRegisterImageSaver, &f->imageSaver, "imgfmt");
    }
    if ((record->capabilities & QV_PLUGIN_ANIMSAVER) != 0) {
        RegisterSaver(L, f, kRegisterAnimSaver, &f->animSaver, "anmfmt");
    }
    if ((record->capabilities & QV_PLUGIN_SAMPLESAVER) != 0) {
        RegisterSaver(L, f, kRegisterSampleSaver, &f->sampleSaver, "smpfmt");
    }
    return 0;
}

// Plugin code runs under the engine's protection, so that an error it raises (or an
// allocation failure while registering) comes back as a code.
struct PluginCall {
    qvPluginRecord* record;
    int result;
};

int RegisterBody(qvVmState* L) {
    auto* call = static_cast<PluginCall*>(VmToUserdata(L, 1));
    call->result = RegisterCapabilities(L, call->record);
    return 0;
}

int FreeLibraryBody(qvVmState* L) {
    auto* call = static_cast<PluginCall*>(VmToUserdata(L, 1));
    PluginEntryOf<qvFreeLibraryFn>(&call->record->functions, kFreeLibrary)(L);
    return 0;
}

const qvPluginNode* NodeAt(size_t index) {
    const qvPluginNode* node = Runtime().plugins;
    for (; node != nullptr && index > 0; --index) node = node->next;
    return node;
}

}  // namespace

const qvPluginRecord* VectorGraphicsPlugin() {
    for (const qvPluginNode* node = Runtime().plugins; node != nullptr; node = node->next) {
        if ((node->capabilities & QV_PLUGIN_VECTORGRAPHICS) != 0) return node->record;
    }
    return nullptr;
}

void FreePluginLibraries(qvVmState* L) {
    for (qvPluginNode* node = Runtime().plugins; node != nullptr; node = node->next) {
        if (node->record->freeLibraryDue == 0) continue;
        node->record->freeLibraryDue = 0;
        PluginCall call{node->record, 0};
        VmCPCall(L, FreeLibraryBody, &call);
    }
}

size_t LoadedPlugins::Count() const {
    size_t n = 0;
    for (const qvPluginNode* node = Runtime().plugins; node != nullptr; node = node->next) ++n;
    return n;
}

PluginExportInfo LoadedPlugins::At(size_t index) const {
    const qvPluginRecord* record = NodeAt(index)->record;
    const qvPluginInfo& info = record->functions.info;
    PluginExportInfo out{static_cast<int>(info.pluginVersion),
                         static_cast<int>(info.pluginRevision),
                         record->capabilities,
                         {info.text0},
                         record->libraryName,
                         reinterpret_cast<const qvCommandEntry*>(record->commands),
                         reinterpret_cast<const qvConstant*>(record->constants)};
    std::copy(std::begin(info.texts), std::end(info.texts), out.texts + 1);
    return out;
}

}  // namespace qv

int RegisterPlugins(qvVmState* L, qvStartupOptions* options) {
    LoadPlugins(options->programPath);
    for (qvPluginNode* node = qv::Runtime().plugins; node != nullptr; node = node->next) {
        qv::PluginCall call{node->record, 0};
        int status = VmCPCall(L, qv::RegisterBody, &call);
        if (status != 0) return status;
        if (call.result != 0) return call.result;
    }
    return 0;
}

void LoadPlugins(const char* programPath) {
    char directory[kPathBufferSize];
    qv::CopyText(directory, sizeof directory, programPath);
    directory[PathFilePart(directory) - directory] = '\0';
    ScanPluginDir(directory);
    ScanPluginDir("LIBS:Quorvella");
}

void ScanPluginDir(const char* directory) {
    std::unique_ptr<qvFileHandle, qv::FileHandleCloser> dir(OpenFileEx(directory, QV_LOCK_SHARED));
    qvDirScan* scan = nullptr;
    if (dir == nullptr || ExamineDirEx(dir.get(), &scan) != 0) return;
    std::unique_ptr<qvDirScan, qv::DirScanDeleter> scanGuard(scan);
    qvFileAttributes entry;
    while (ExamineNextEx(dir.get(), scan, &entry) != 0) {
        if (entry.type != QV_DOSTYPE_FILE || !qv::HasPluginExtension(entry.name) ||
            qv::IsListed(entry.name)) {
            continue;
        }
        char path[kPathBufferSize];
        qv::CopyText(path, sizeof path, directory);
        if (AddPart(path, entry.name, sizeof path) == 0) continue;
        if (!qv::LoadListedPlugin(path, entry.name)) return;
    }
}

int LoadPlugin(const char* path, qvPluginRecord** out, uint32_t* capabilities) {
    *out = nullptr;
    *capabilities = 0;
    qv::BlockPtr<qvPluginRecord> record(qv::NewBlock<qvPluginRecord>());
    if (record == nullptr) return ERR_MEM;
    qvSegmentList* loaded;
    if (int result = LoadSegments(path, &loaded); result != 0) {
        return result == ERR_MEM ? result : qv::LoadFailure(path);
    }
    qv::SegmentsPtr segments(loaded);
    qvPluginDescriptor descriptor;
    qvPluginFunctions* f = &record->functions;
    if (int result = qv::OpenPlugin(path, segments.get(), &descriptor, f); result != 0) {
        return result;
    }
    char absolute[kPathBufferSize];
    if (MakeAbsolutePath(path, absolute) != 0) qv::CopyText(absolute, sizeof absolute, path);
    qvPluginInfo info{};
    info.version = kQvRuntimeVersion;
    info.revision = kQvRuntimeRevision;
    if (qv::PluginEntryOf<qvInitPluginFn>(f, qv::kInitPlugin)(&info, qv::PluginAPI(), absolute) ==
        0) {
        return qv::LoadFailure(path);
    }
    f->info = info;
    if (int result = qv::CheckInitialisedPlugin(path, descriptor.lookup, record.get());
        result != 0) {
        qv::ClosePluginOf(record.get());
        return result;
    }
    record->segments = segments.release();
    *capabilities = record->capabilities;
    *out = record.release();
    return 0;
}

void UnloadPlugin(qvPluginRecord* record) {
    if (record == nullptr) return;
    qv::ClosePluginOf(record);
    UnloadSegments(record->segments);
    qv::DeleteBlock(record);
}

void UnloadPlugins() {
    qvPluginNode* list = qv::Runtime().plugins;
    qv::Runtime().plugins = nullptr;
    qv::DrainList(&list, [](qvPluginNode* node) {
        UnloadPlugin(node->record);
        qv::DeleteBlock(node);
    });
}

const qvPluginFunctions* GetPluginFunctions(const qvPluginRecord* record) {
    return &record->functions;
}

int CheckRequiredPlugin(const char* name, int version, int revision) {
    size_t length = std::strlen(name);
    if (qv::HasPluginExtension(name)) length -= qv::kExtensionLength;
    for (const qvPluginNode* node = qv::Runtime().plugins; node != nullptr; node = node->next) {
        const qvPluginInfo& info = node->record->functions.info;
        if (std::strlen(info.name) != length || StrNICmp(info.name, name, length) != 0) continue;
        int have = static_cast<int>(info.pluginVersion);
        if (have > version ||
            (have == version && static_cast<int>(info.pluginRevision) >= revision)) {
            return 0;
        }
    }
    char text[512];
    int n = static_cast<int>(length);
    if (version == 0 && revision == 0) {
        std::snprintf(text, sizeof text, "%.*s.qvp", n, name);
    } else {
        std::snprintf(text, sizeof text, "%.*s.qvp %d.%d", n, name, version, revision);
    }
    return ErrorWithText(ERR_REQUIREPLUGIN, text);
}

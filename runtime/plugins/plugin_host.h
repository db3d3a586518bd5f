// The plugin host: finds the ".qvp" plugins in the program's directory and in
// "LIBS:Quorvella", checks each one (descriptor, architecture, name, required version,
// capabilities), hands it the service table, resolves its entry points and registers its
// script libraries, constants and saver formats. A plugin that fails is reported and
// skipped. Clean-up touches only what was set up: "FreeLibrary" runs only where
// "InitLibrary" succeeded, "ClosePlugin" only after a successful "InitPlugin".
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vm.h"
#include "runtime/exports.h"
#include "runtime/plugin_api/qv_plugin_api.h"
#include "runtime/runtime_state.h"

struct qvSegmentList;

namespace qv {

// The entry points of a plugin's function table: "InitPlugin", "ClosePlugin", then the
// groups of the capabilities in table order.
enum PluginEntry : int {
    kInitPlugin,
    kClosePlugin,
    // Picture reader (0x04).
    kIsImage,
    kLoadImage,
    kGetImage,
    kFreeImage,
    kTransformImage,
    // Animation reader (0x08).
    kOpenAnim,
    kLoadFrame,
    kFreeFrame,
    kGetFrameDelay,
    kCloseAnim,
    // Sound reader (0x10).
    kOpenStream,
    kCloseStream,
    kSeekStream,
    kStreamSamples,
    kGetFormatName,
    // Vector graphics (0x20).
    kGetPathExtents,
    kDrawPath,
    kTranslatePath,
    kGetCurrentPoint,
    kCreateVectorFont,
    kFreeVectorFont,
    kOpenFont,
    kCloseFont,
    // Video reader (0x40).
    kOpenVideo,
    kCloseVideo,
    kNextPacket,
    kFreePacket,
    kDecodeVideoFrame,
    kDecodeAudioFrame,
    kSeekVideo,
    kFlushAudio,
    kFlushVideo,
    kGetVideoFrames,
    kGetVideoFormat,
    // Script library (0x02).
    kGetBaseTable,
    kGetCommands,
    kGetConstants,
    kInitLibrary,
    kFreeLibrary,
    // Script provider (0x01).
    kGetScript,
    kFreeScript,
    // Picture saver (0x80), animation saver (0x100), sample saver (0x200).
    kRegisterImageSaver,
    kSaveImage,
    kRegisterAnimSaver,
    kBeginAnimStream,
    kWriteAnimFrame,
    kFinishAnimStream,
    kRegisterSampleSaver,
    kSaveSample,
    kPluginEntryCount
};

}  // namespace qv

// A plugin's function table, as the readers, savers and the vector-graphics code use it.
struct qvPluginFunctions {
    uint32_t architecture;
    qvPluginInfo info;  // a copy of what "InitPlugin" filled
    // Resolved through the plugin's lookup function; nullptr for a capability that did not
    // resolve completely.
    void* entries[qv::kPluginEntryCount];
    qvSaverRecord imageSaver;
    qvSaverRecord animSaver;
    qvSaverRecord sampleSaver;
};

struct qvPluginRecord {
    uint32_t capabilities;  // the capabilities whose entry points all resolved
    qvPluginFunctions functions;
    qvSegmentList* segments;
    // "InitLibrary" was called, whatever it gave back: "FreeLibrary" is due, so that a library
    // whose set-up failed half-way can still let go of what it took.
    uint32_t freeLibraryDue;
    // The script library as registered (capability 0x02).
    const char* libraryName;
    const qvPluginCommand* commands;
    const qvPluginConstant* constants;
};

struct qvPluginNode {
    qvPluginNode* next;
    uint32_t capabilities;
    qvPluginRecord* record;
    char fileName[256];
};

namespace qv {

// The entry point e of a function table, as the type the caller knows it by.
template <typename Fn>
Fn PluginEntryOf(const qvPluginFunctions* functions, PluginEntry e) {
    return reinterpret_cast<Fn>(functions->entries[e]);
}

// The vector-graphics plugin: the first loaded plugin with capability 0x20, or nullptr.
const qvPluginRecord* VectorGraphicsPlugin();

// "FreeLibrary" of every plugin whose "InitLibrary" succeeded, with the engine (shutdown,
// before the engine closes).
void FreePluginLibraries(qvVmState* L);

// The loaded plugins as the plugin list export sees them.
class LoadedPlugins : public PluginListView {
public:
    size_t Count() const override;
    PluginExportInfo At(size_t index) const override;
};

}  // namespace qv

// Loads the plugins (LoadPlugins with the options' program path) and registers each one's
// library, constants and savers in load order. Returns 0, or the first error of a library's
// registration or "InitLibrary", which ends start-up.
int RegisterPlugins(qvVmState* L, qvStartupOptions* options);
// Scans the directory of programPath, then "LIBS:Quorvella".
void LoadPlugins(const char* programPath);
// Loads every ".qvp" file of directory whose name is not in the plugin list yet, printing
// a progress line for each; a failing plugin is reported with its reason and skipped. A
// missing directory is skipped.
void ScanPluginDir(const char* directory);
// Loads and checks one plugin file. Returns 0 with the record and its capabilities, or
// ERR_MEM, ERR_LOADPLUGIN (the file part as message argument), ERR_PLUGINARCH, ERR_NEWQVPLUGIN or
// ERR_PLUGINTYPE.
int LoadPlugin(const char* path, qvPluginRecord** record, uint32_t* capabilities);
// "ClosePlugin", unloads the object and frees the record.
void UnloadPlugin(qvPluginRecord* record);
// Unloads every plugin of the list and empties it.
void UnloadPlugins();
const qvPluginFunctions* GetPluginFunctions(const qvPluginRecord* record);

// 0 when a plugin of that name (a ".qvp" ending ignored, any letter case) is loaded with at
// least the version and revision given; else ERR_REQUIREPLUGIN with "name.qvp version.revision"
// (or the name alone when both numbers are 0) as message argument.
int CheckRequiredPlugin(const char* name, int version, int revision);

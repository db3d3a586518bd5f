#include "runtime/player.h"

#include <cstdio>

#include "platform/linux/catalog.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/memory.h"
#include "platform/linux/program.h"
#include "runtime/applet_loader.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/plugins/plugin_host.h"
#include "runtime/preload.h"
#include "runtime/preload_items.h"
#include "runtime/report.h"
#include "runtime/runtime_host.h"
#include "runtime/shutdown.h"
#include "runtime/startup.h"

namespace qv {
namespace {

constexpr int kErrorExitStatus = 20;

int exitStatus = 0;

void NotEnoughMemory() {
    std::fputs("Not enough memory.\n", stdout);
    std::fflush(stdout);
    exitStatus = kErrorExitStatus;
}

struct ConstantsExport {
    const char* fileName;
    int result;
};

int ExportConstantsBody(qvVmState* L) {
    auto* call = static_cast<ConstantsExport*>(VmToUserdata(L, 1));
    call->result = ExportConstants(L, call->fileName);
    return 0;
}

// A list that cannot be written is reported on standard error ("Cannot write to file ... !")
// and the next ones are still written; the run then ends with the error status. Other codes
// end the export.
int ExportResult(int result, bool* failed) {
    if (result != ERR_WRITEFILE) return result;
    char text[1024];
    FormatErrorMessage(result, text, sizeof text);
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    *failed = true;
    return 0;
}

// The lists hold the built-in libraries only: no plugin is loaded before the commands and
// constants are written. *failed tells whether a list could not be written.
int RunExports(const PlayerRun& run, bool* failed) {
    RuntimeState& rt = Runtime();
    if (rt.exportCommands != nullptr) {
        if (int result = ExportResult(ExportCommands(rt.exportCommands), failed)) return result;
    }
    if (rt.exportConstants != nullptr) {
        ConstantsExport call{rt.exportConstants, 0};
        if (int status = VmCPCall(run.L, ExportConstantsBody, &call)) return status;
        if (int result = ExportResult(call.result, failed)) return result;
    }
    if (rt.exportPlugins == nullptr) return 0;
    if (int result = run.services->registerPlugins(run.L, run.options)) return result;
    return ExportResult(ExportPluginInfo(rt.exportPlugins, LoadedPlugins()), failed);
}

// Steps of the chunk: loaded with script locations on, then the input poll as line hook.
int LoadProgram(const PlayerRun& run) {
    const qvScriptHeader& header = *run.header;
    PrintLoadingMessage(GetMessageText(kMsgCompilingScript), nullptr, 1);
    SetAttr(run.L, QV_ATTR_REPORTLOCATIONS, 1);
    int result = LoadChunk(run.L, {header.programChunk, header.programChunkSize}, nullptr);
    if (result != 0) return result;
    SetAttr(run.L, QV_ATTR_REPORTLOCATIONS, 0);
    VmSetHook(run.L, run.services->libraries->pollEvents, VM_MASKLINE, 0);
    PrintLoadingDone();
    return 0;
}

// The loading line names the applet as it was given, not the temporary file that a
// compressed applet is unpacked into.
int Preload(const PlayerRun& run, const char* appletName) {
    RuntimeState& rt = Runtime();
    int line = rt.error.line;
    PrintLoadingMessage(GetMessageText(kMsgLoadingApplet), appletName, 1);
    if (int result = PreloadApplet(run.L, run.header, run.options)) return result;
    rt.error.line = line;
    const qvAttrSet tags[] = {{QV_ATTR_PRELOADING, 0},
                              {QV_ATTR_QUIET, static_cast<int32_t>(run.options->quiet)},
                              {QV_ATTR_REPORTLOCATIONS, 0},
                              {QV_ATTR_END, 0}};
    SetGlobalAttrs(run.L, tags);
    FreePreloadItems(run.header);
    return 0;
}

int RunApplet(const PlayerRun& run) {
    const PlayerServices& services = *run.services;
    const qvLibraryTable& libraries = *services.libraries;
    if (int result = services.registerPlugins(run.L, run.options)) return result;
    char appletName[kPathBufferSize];
    CopyText(appletName, sizeof appletName, run.options->appletPath);
    if (int result = services.loadApplet(run.L, run.options, run.header)) return result;
    if (int result = LoadProgram(run)) return result;
    if (run.options->compileRequested != 0) return ERR_PLAYERCOMP;
    if (int result = Preload(run, appletName)) return result;
    libraries.flushGfxCache();
    if (run.options->appletFlag != 0) PrintLoadingDone();
    if (int result = libraries.openFirstDisplay(run.L, run.header, run.options)) return result;
    SetAttr(run.L, QV_ATTR_REPORTLOCATIONS, 1);
    return services.runMainChunk(run.L);
}

bool ExportMode() {
    const RuntimeState& rt = Runtime();
    return rt.exportCommands != nullptr || rt.exportConstants != nullptr ||
           rt.exportPlugins != nullptr;
}

}  // namespace

PlayerServices DefaultPlayerServices() {
    return {&BuiltinLibraries(), PlatformStartup,     PlatformShutdown, GetProgramPath,
            OpenAppCatalog,      FreeCatalog,         OpenDebugConsole, CloseDebugConsole,
            RegisterPlugins,     FreePluginLibraries, UnloadPlugins,    LoadApplet,
            RunMainChunk};
}

int RunPlayer(int argc, const char* const* argv, const PlayerServices& services) {
    exitStatus = 0;
    qvAppletLink link = ReadAppletLink();
    auto* options = static_cast<qvStartupOptions*>(AllocMemBlock(sizeof(qvStartupOptions), 1));
    auto* header = static_cast<qvScriptHeader*>(AllocMemBlock(sizeof(qvScriptHeader), 1));
    qvVmState* L = options != nullptr && header != nullptr ? VmOpen() : nullptr;
    if (L == nullptr) {
        FreeMemBlock(options);
        FreeMemBlock(header);
        NotEnoughMemory();
        return 0;
    }
    L->g->panic = PlatformPanic;
    InstallRuntimeHost(L);
    PlayerRun run{L, options, header, &services};
    int code = InitAndParseArgs(run, link, argc, argv);
    bool exportFailed = false;
    if (code == 0) code = ExportMode() ? RunExports(run, &exportFailed) : RunApplet(run);
    ShutdownAndReport(code, run);
    if ((code > 0 && code != ERR_USERABORT) || exportFailed) exitStatus = kErrorExitStatus;
    return 0;
}

int PlayerExitStatus() {
    return exitStatus;
}

}  // namespace qv

int PlayerMain(int argc, char** argv) {
    return qv::RunPlayer(argc, argv, qv::DefaultPlayerServices());
}

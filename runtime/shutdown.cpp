#include "runtime/shutdown.h"

#include "platform/linux/bitmap.h"
#include "platform/linux/memory.h"
#include "runtime/applet_loader.h"
#include "runtime/attributes.h"
#include "runtime/command_line.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "runtime/report.h"
#include "runtime/support.h"

namespace qv {
namespace {

void FreeOptionTexts(qvStartupOptions* options) {
    FreeUnknownOptions(options);
    FreeExportNames();
}

}  // namespace
}  // namespace qv

void ShutdownAndReport(int code, const qv::PlayerRun& run) {
    using enum qv::CleanupSlot;
    const qv::PlayerServices& services = *run.services;
    const qvLibraryTable& libraries = *services.libraries;
    // The screen counts as open from the first display on; freeing the displays below
    // closes the headless one.
    bool screenOpen = QueryBitMapAttr(nullptr, 20) != 0;

    qv::FreeIconPaths();
    const qvAttrSet quiet[] = {{QV_ATTR_PRELOADING, 0},
                               {QV_ATTR_QUIET, static_cast<int32_t>(run.options->quiet)},
                               {QV_ATTR_END, 0}};
    SetGlobalAttrs(run.L, quiet);
    services.closeDebugConsole();
    qv::RunLibraryCleanups(libraries, run.L, kFreeScaleTables, kStopAllVideos);
    qv::RunLibraryCleanups(libraries, run.L, kFreeAllDisplays, kFreeAllSounds);
    qv::FreeOptionTexts(run.options);
    qv::ReportFinalError(run.L, code, run.options, screenOpen);
    FreeSupport();
    qv::FreeAppletData(run.header);
    FreeMemBlock(run.header);
    services.freePluginLibraries(run.L);
    VmClose(run.L);
    services.unloadPlugins();
    qv::FreeTempFiles(true);
    FreeMemBlock(run.options);
    services.freeCatalog(qv::Runtime().catalog);
    qv::Runtime().catalog = nullptr;
    qv::UnregisterBuiltInFonts();
    services.platformShutdown();
}

#include "runtime/startup.h"

#include <cstdio>

#include "platform/linux/debug_output.h"
#include "platform/linux/program.h"
#include "runtime/attributes.h"
#include "runtime/command_line.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "runtime/preload.h"
#include "runtime/support.h"

namespace {

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

}  // namespace

// Built by the compiler: the same table a start-up loop would build, without the work.
constexpr std::array<uint32_t, 256> qvCrc32Table = MakeCrc32Table();

namespace qv {
namespace {

constexpr int kVersion = 5, kRevision = 0;
constexpr char kPlatformTag[] = "Linux";

// The name is bold on a terminal; a file, a pipe or a console that wants no styles gets plain
// text.
void WriteBanner() {
    const bool terminal = ConsoleTakesStyles();
    char line[128];
    std::snprintf(line, sizeof line, "%sQuorvellaPlayer %d.%d%s [%s]\n", terminal ? "\x1b[1m" : "",
                  kVersion, kRevision, terminal ? "\x1b[0m" : "", kPlatformTag);
    WriteConsole(line);
    WriteConsole("Runs compiled multimedia applets in its own script engine.\n\n");
}

// The per-run records and the include levels in the registry; the globals as "_g".
int RegistryBody(qvVmState* L) {
    const auto& run = *static_cast<const PlayerRun*>(VmToUserdata(L, 1));
    SetRegistryPointer(L, "applet", run.header);
    SetRegistryPointer(L, "clargs", run.options);
    VmPushString(L, "inclevels");
    VmNewTable(L);
    SetTableFieldNumber(L, "count", 0);
    VmRawSet(L, VM_REGISTRYINDEX);
    VmPushString(L, "_g");
    VmPushValue(L, VM_GLOBALSINDEX);
    VmRawSet(L, VM_GLOBALSINDEX);
    return 0;
}

int RegisterLibraries(qvVmState* L, const qvLibraryTable& table) {
    for (const qvLibraryRow& row : table.rows) {
        if (const int result = RegisterLibrary(L, row.initialise)) return result;
    }
    return 0;
}

int InstallAttrHandlers(const qvLibraryTable& table) {
    for (qvSetAttrHandler handler : table.setAttrHandlers) {
        if (int result = AddSetAttrHandler(handler)) return result;
    }
    for (qvGetAttrHandler handler : table.getAttrHandlers) {
        if (int result = AddGetAttrHandler(handler)) return result;
    }
    return 0;
}

// The options' quiet field (forced on for an applet linked to the program) as attribute 2;
// unless quiet, the console and the banner.
int OpenConsole(const PlayerRun& run) {
    if (Runtime().appletLinked != 0) run.options->quiet = 1;
    SetAttr(run.L, QV_ATTR_QUIET, static_cast<int32_t>(run.options->quiet));
    if (run.options->quiet != 0) return 0;
    if (int result = run.services->openDebugConsole()) return result;
    WriteBanner();
    return 0;
}

}  // namespace
}  // namespace qv

namespace {

struct InitCall {
    int (*initialise)(qvVmState* L);
    int result;
};

int InitBody(qvVmState* L) {
    auto* call = static_cast<InitCall*>(VmToUserdata(L, 1));
    VmPushValue(L, VM_GLOBALSINDEX);
    call->result = call->initialise(L);
    return 0;
}

}  // namespace

// An initialiser that raises (out of memory while registering) ends start-up with that code
// like one that returns it.
int RegisterLibrary(qvVmState* L, int (*initialise)(qvVmState* L)) {
    InitCall call{initialise, 0};
    const int status = VmCPCall(L, InitBody, &call);
    VmSetTop(L, 0);
    return status != 0 ? status : call.result;
}

int InitAndParseArgs(const qv::PlayerRun& run, const qvAppletLink& link, int argc,
                     const char* const* argv) {
    qv::RuntimeState& rt = qv::Runtime();
    const qv::PlayerServices& services = *run.services;
    qv::SetInterruptTarget(&rt.abortFlag);
    if (int result = services.platformStartup()) {
        return ErrorWithText(result, qv::PlatformStartupDetail());
    }
    rt.catalog = services.openAppCatalog("Quorvella/Quorvella.catalog", 0);
    SetDisplayDefaults(run.header, run.options);
    uint32_t offset = qv::LinkOffsetOf(link);
    if (offset != qv::kNoLinkedApplet) {
        rt.linkOffset = offset;
        rt.appletLinked = 1;
    }
    services.getProgramPath(run.options->programPath, sizeof run.options->programPath);
    if (int result = qv::ParseCommandLine(argc, argv, run.options, run.header)) return result;
    if (int result = qv::OpenConsole(run)) return result;
    if (int result = InitSupport()) return result;
    if (int result = qv::RegisterBuiltInFonts()) return result;
    if (int status = VmCPCall(run.L, qv::RegistryBody, const_cast<qv::PlayerRun*>(&run))) {
        return status;
    }
    if (int result = qv::RegisterLibraries(run.L, *services.libraries)) return result;
    if (int result = qv::InstallAttrHandlers(*services.libraries)) return result;
    const qvAttrSet sound[] = {{3, static_cast<int32_t>(run.options->noSound)},
                               {4, run.options->masterVolume},
                               {QV_ATTR_END, 0}};
    SetGlobalAttrs(run.L, sound);
    return 0;
}

int RunMainChunk(qvVmState* L) {
    return VmPCall(L, 0, 0, 0);
}

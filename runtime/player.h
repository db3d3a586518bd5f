// The program body: start-up, the export lists or the applet's run, and shutdown. Every road
// out of a run, successful or failed, goes through ShutdownAndReport, which frees everything
// in a fixed order and reports the error that ended the run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vm.h"
#include "runtime/library_table.h"
#include "runtime/runtime_state.h"

struct qvCatalog;

// Runs the program once with the process's arguments. Returns 0; the exit status of the
// process is qv::PlayerExitStatus().
int PlayerMain(int argc, char** argv);

namespace qv {

// What a run calls beyond the run-time core: the libraries, the platform, the plugin host
// and the applet loader. The real ones, or logging doubles under test.
struct PlayerServices {
    const qvLibraryTable* libraries;
    int (*platformStartup)();
    void (*platformShutdown)();
    int (*getProgramPath)(char* out, size_t size);
    qvCatalog* (*openAppCatalog)(const char* name, uint32_t minVersion);
    void (*freeCatalog)(qvCatalog* catalog);
    int (*openDebugConsole)();
    void (*closeDebugConsole)();
    int (*registerPlugins)(qvVmState* L, qvStartupOptions* options);
    void (*freePluginLibraries)(qvVmState* L);
    void (*unloadPlugins)();
    int (*loadApplet)(qvVmState* L, qvStartupOptions* options, qvScriptHeader* header);
    int (*runMainChunk)(qvVmState* L);
};

PlayerServices DefaultPlayerServices();

// PlayerMain with the services given.
int RunPlayer(int argc, const char* const* argv, const PlayerServices& services);

// 20 when the last run showed the exit report (its final code was above 0 and not
// ERR_USERABORT) or ran out of memory before the engine existed; else 0 (a normal end,
// End, a close request, Ctrl-C, a silent ERR_USERABORT).
int PlayerExitStatus();

// The records of one run.
struct PlayerRun {
    qvVmState* L;
    qvStartupOptions* options;
    qvScriptHeader* header;
    const PlayerServices* services;
};

}  // namespace qv

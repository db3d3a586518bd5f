// Shutdown of a run, in its fixed order: the icon paths, the console, the libraries' sounds,
// videos and objects, the run's option texts, the exit report, the support services, the
// applet's data, the library plugins, the engine, the plugins, the temporary files, the
// options record, the catalog and the platform.
#pragma once

#include "runtime/player.h"

// Frees everything of the run and reports code when it is above 0 and not ERR_USERABORT.
// Safe after start-up ended at any step.
void ShutdownAndReport(int code, const qv::PlayerRun& run);

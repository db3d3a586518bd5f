// The vector back end: the entry points of the first loaded plugin with capability 0x20.
// It is looked up through the plugin host by every command that needs it until one finds it;
// the finding is kept for the rest of the run.
#pragma once

#include <cstdint>

#include "runtime/plugin_api/qv_plugin_api.h"

struct qvPluginFunctions;

namespace qv {

struct VectorBackend {
    qvGetPathExtentsFn getPathExtents;
    qvDrawPathFn drawPath;
    qvTranslatePathFn translatePath;
    qvGetCurrentPointFn getCurrentPoint;
    qvCreateVectorFontFn createVectorFont;
    qvFreeVectorFontFn freeVectorFont;
};

// The entry points of a plugin's function table.
VectorBackend VectorBackendOf(const qvPluginFunctions* functions);

// The back end, or nullptr when no plugin offers one.
const VectorBackend* FindVectorBackend();
// Whether a command found the back end in this run.
bool VectorBackendFound();
// Hands the library a back end directly (tests); nullptr forgets it, and so does shutdown.
void UseVectorBackend(const VectorBackend* backend);

}  // namespace qv

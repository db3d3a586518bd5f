#include "objects/vector/vector_backend.h"

#include "runtime/plugins/plugin_host.h"

namespace qv {
namespace {

VectorBackend found{};
const VectorBackend* current = nullptr;

}  // namespace

VectorBackend VectorBackendOf(const qvPluginFunctions* f) {
    return {PluginEntryOf<qvGetPathExtentsFn>(f, kGetPathExtents),
            PluginEntryOf<qvDrawPathFn>(f, kDrawPath),
            PluginEntryOf<qvTranslatePathFn>(f, kTranslatePath),
            PluginEntryOf<qvGetCurrentPointFn>(f, kGetCurrentPoint),
            PluginEntryOf<qvCreateVectorFontFn>(f, kCreateVectorFont),
            PluginEntryOf<qvFreeVectorFontFn>(f, kFreeVectorFont)};
}

const VectorBackend* FindVectorBackend() {
    if (current != nullptr) return current;
    const qvPluginRecord* plugin = VectorGraphicsPlugin();
    if (plugin == nullptr) return nullptr;
    found = VectorBackendOf(GetPluginFunctions(plugin));
    current = &found;
    return current;
}

bool VectorBackendFound() {
    return current != nullptr;
}

void UseVectorBackend(const VectorBackend* backend) {
    current = backend;
}

}  // namespace qv

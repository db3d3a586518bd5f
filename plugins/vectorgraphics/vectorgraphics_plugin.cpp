// "vectorgraphics.qvp": the vector back end (capability 0x20) over cairo. It reaches the
// run-time only through the service table, of which it uses the FreeType slots.
#include <cstring>
#include <iterator>

#include "plugins/vectorgraphics/cairo_backend.h"

namespace {

namespace vg = qv::vectorgraphics;

int InitPlugin(qvPluginInfo* info, const qvPluginAPI* api, const char*) {
    if (api == nullptr || api->freetype == nullptr) return 0;
    vg::UseFreeType(api->freetype);
    info->capabilities = QV_PLUGIN_VECTORGRAPHICS;
    info->version = kQvRuntimeVersion;
    info->revision = kQvRuntimeRevision;
    info->text0 = "Quorvella authors";
    info->name = "vectorgraphics";
    const char* texts[7] = {"Vector graphics back end over cairo",
                            "Copyright the Quorvella authors",
                            "vectorgraphics",
                            "",
                            nullptr,
                            "vector",
                            "1.0"};
    std::copy(std::begin(texts), std::end(texts), info->texts);
    info->pluginVersion = 1;
    info->pluginRevision = 0;
    return 1;
}

void ClosePlugin() {
    vg::FreeAllVectorFonts();
    vg::UseFreeType(nullptr);
}

// No caller opens fonts through the back end; the entries exist so that the capability
// resolves.
void OpenFont() {}
void CloseFont() {}

struct Entry {
    const char* name;
    void* address;
};

template <typename Fn>
void* Address(Fn* function) {
    return reinterpret_cast<void*>(function);
}

const Entry kEntries[] = {
    {"InitPlugin", Address(InitPlugin)},
    {"ClosePlugin", Address(ClosePlugin)},
    {"GetPathExtents", Address(vg::GetPathExtents)},
    {"DrawPath", Address(vg::DrawPath)},
    {"TranslatePath", Address(vg::TranslatePath)},
    {"GetCurrentPoint", Address(vg::GetCurrentPoint)},
    {"CreateVectorFont", Address(vg::CreateVectorFont)},
    {"FreeVectorFont", Address(vg::FreeVectorFont)},
    {"OpenFont", Address(OpenFont)},
    {"CloseFont", Address(CloseFont)},
};

void* Lookup(const char* name) {
    for (const Entry& e : kEntries) {
        if (std::strcmp(e.name, name) == 0) return e.address;
    }
    return nullptr;
}

}  // namespace

QV_PLUGIN_DESCRIPTOR(kQvPluginArchNative, Lookup);

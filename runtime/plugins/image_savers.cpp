// Saver plugins for the picture formats the graphics engine does not write itself.
#include "engine/error_codes.h"
#include "gfx/save_picture.h"
#include "runtime/plugins/plugin_host.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

const qvPluginFunctions* FindImageSaver(int32_t format) {
    for (const qvPluginNode* node = Runtime().plugins; node != nullptr; node = node->next) {
        if ((node->capabilities & QV_PLUGIN_PICTURESAVER) == 0 || node->record == nullptr) continue;
        const qvPluginFunctions* functions = GetPluginFunctions(node->record);
        if (functions->imageSaver.formatId == format) return functions;
    }
    return nullptr;
}

}  // namespace

// ARGB savers get the pixels unchanged (with the alpha flag when they take alpha, else the
// transparent colour); the others get them quantised as for GIF, where only an entry reserved
// for transparent pixels is ever declared transparent.
int SaveWithPlugin(const PictureSave& save) {
    const qvPluginFunctions* saver = FindImageSaver(save.format);
    if (saver == nullptr) return ERR_UNKNOWNIMGOUT;
    const auto entry = PluginEntryOf<qvSaveImageFn>(saver, kSaveImage);
    const uint32_t flags = saver->imageSaver.flags;
    qvSaveImageInfo info{save.pixels, save.width, save.height, 0,           nullptr,
                         0,           -1,         QV_NOCOLOR,  save.quality};
    QuantisedPicture indexed;
    if ((flags & QV_SAVER_ARGB) != 0) {
        if (save.alpha != 0 && (flags & QV_SAVER_ALPHA) != 0) info.flags = QV_SAVEIMAGE_ALPHA;
        if (save.transparent != QV_NOCOLOR) info.transparentColour = save.transparent & 0xFFFFFF;
    } else {
        if (save.width < 1 || save.height < 1) return ERR_SAVEIMAGE;
        if (const int error = indexed.Make(save)) return error;
        info.pixels = indexed.indices;
        info.flags = QV_SAVEIMAGE_INDEXED;
        info.palette = indexed.palette;
        info.colourCount = indexed.count;
        info.transparentIndex = indexed.transparentIndex;
    }
    return entry(save.file, &info) < 0 ? ERR_SAVEIMAGE : 0;
}

}  // namespace qv

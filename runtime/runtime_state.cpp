#include "runtime/runtime_state.h"

#include <new>

#include "platform/linux/catalog.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/paths.h"
#include "platform/linux/requester.h"
#include "runtime/command_line.h"
#include "runtime/support.h"

namespace qv {
namespace {

RuntimeState state;

}  // namespace

RuntimeState& Runtime() {
    return state;
}

void FreeTempFiles(bool deleteFiles) {
    DrainList(&state.tempFiles, [deleteFiles](qvTempFile* file) {
        if (deleteFiles) DeleteFilePath(file->path);
        FreeMemBlock(file->path);
        FreeMemBlock(file);
    });
}

void FreeExportNames() {
    for (char** name : {&state.exportCommands, &state.exportConstants, &state.exportPlugins}) {
        FreeMemBlock(*name);
        *name = nullptr;
    }
}

void ResetRuntimeState() {
    FreeSupport();
    FreeIconPaths();
    FreeCatalog(state.catalog);
    FreeTempFiles(false);
    FreeExportNames();
    ResetRequesterAnswers();
    state.~RuntimeState();
    new (&state) RuntimeState();
}

}  // namespace qv

void SetDisplayDefaults(qvScriptHeader* header, qvStartupOptions* options) {
    qvDisplayDefaults& d = header->display;
    d = {};
    d.screenWidth = -1;
    d.screenHeight = -1;
    d.depth = -1;
    d.hideTitleBar = -1;
    d.backfill.transparentColour = -1;
    d.backfill.startColour = -1;
    d.backfill.endColour = -1;
    d.backfill.pictureX = -100000;  // centred
    d.backfill.pictureY = -100000;
    options->masterVolume = 30;
    options->executableTypeBits = 8;
    options->recorderFrameRate = 50;
    options->recorderQuality = 90;
}

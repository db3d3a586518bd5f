// The command libraries of the run-time: 22 rows in registration order, each with its
// initialiser and its shutdown clean-ups, and the few services of particular libraries that
// start-up calls by name. Libraries that are not built yet have registration stubs
// (runtime/stubs/); a library's own code replaces its stub's row.
#pragma once

#include <cstddef>
#include <span>

#include "engine/vm.h"
#include "runtime/attributes.h"
#include "runtime/runtime_state.h"

namespace qv {

// The shutdown clean-ups in the order shutdown runs them: first the scale maps, sounds and
// videos are stopped, then the objects are freed library by library.
enum class CleanupSlot : int {
    kFreeScaleTables,
    kStopAllSounds,
    kStopAllVideos,
    kFreeAllDisplays,
    kShutdownNetwork,
    kFreeGraphicsObjects,
    kFreeDrawBuffers,
    kFreeAllBrushes,
    kFreeAllBGPics,
    kFreeAllVideos,
    kFreeAllPaths,
    kFreeAllSprites,
    kFreeCatalogs,
    kFreeAllTextObjects,
    kFreeAllAnims,
    kFreeLayerLists,
    kFreeDosObjects,
    kFreeAllMemBlocks,
    kCloseRexxPort,
    kFreeEventObjects,
    kFreeAllSounds,
    kCount
};

inline constexpr int kLibraryCount = 22;

}  // namespace qv

// A clean-up runs while the engine is still open; it must be safe when the library's
// initialiser never ran (start-up can end before it).
struct qvLibraryCleanup {
    qv::CleanupSlot slot;
    void (*run)(qvVmState* L);
};

struct qvLibraryRow {
    const char* name;
    // Called with the globals table pushed; 0 or an error code, which ends start-up.
    int (*initialise)(qvVmState* L);
    std::span<const qvLibraryCleanup> cleanups;
};

struct qvLibraryTable {
    std::span<const qvLibraryRow> rows;
    // Installed after registration: the graphics engine's handlers (attributes 5 and 7),
    // then the sound library's (3 and 4).
    qvSetAttrHandler setAttrHandlers[2];
    qvGetAttrHandler getAttrHandlers[2];
    // The gfx cache is emptied once the preloaded pictures have their own copies.
    void (*flushGfxCache)();
    // Converts the preloaded objects, prints "And Action!" and opens the first display.
    int (*openFirstDisplay)(qvVmState* L, qvScriptHeader* header, qvStartupOptions* options);
    // The input poll, installed as the engine's line hook.
    qvHook pollEvents;
};

namespace qv {

// The libraries this build links, in registration order.
const qvLibraryTable& BuiltinLibraries();

// Runs the clean-ups of the slots from first to last (both included), slot by slot, each
// slot's in table order.
void RunLibraryCleanups(const qvLibraryTable& table, qvVmState* L, CleanupSlot first,
                        CleanupSlot last);

}  // namespace qv

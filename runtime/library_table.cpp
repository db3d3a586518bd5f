#include "runtime/library_table.h"

#include "gfx/gfx_cache.h"
#include "gfx/library/graphics_library.h"
#include "gfx/scale.h"
#include "libs/arexx/arexx_library.h"
#include "libs/dos/dos_library.h"
#include "libs/math/math_library.h"
#include "libs/memblock/memblock_library.h"
#include "libs/network/network_library.h"
#include "libs/string/string_library.h"
#include "libs/system/system_library.h"
#include "objects/draw/draw_library.h"
#include "runtime/stubs/display_stub.h"
#include "runtime/stubs/sound_stub.h"
#include "runtime/stubs/stub_library.h"

namespace qv {
namespace {

using enum CleanupSlot;

// A library whose commands do not exist yet: its name and nothing else.
template <const char* Name>
int RegisterStub(qvVmState* L) {
    return RegisterStubLibrary(L, Name);
}

constexpr char kDraw[] = "draw", kMoveObject[] = "moveobject", kDos[] = "dos", kEvent[] = "event",
               kLayers[] = "layers", kText[] = "text", kAnim[] = "anim", kBrush[] = "brush",
               kBGPic[] = "bgpic", kTransitionFX[] = "transitionfx", kSprite[] = "sprite",
               kMemBlock[] = "memblock", kVectorGraphics[] = "vectorgraphics", kVideo[] = "video",
               kArexx[] = "arexx";

// The slots each library will fill; until its code exists, they clean up nothing.
constexpr qvLibraryCleanup kGraphicsCleanups[] = {
    {kFreeScaleTables, [](qvVmState*) { FreeScaleTables(); }},
    {kFreeGraphicsObjects, FreeGraphicsObjects}};
constexpr qvLibraryCleanup kDrawCleanups[] = {{kFreeDrawBuffers, FreeDrawBuffers}};
constexpr qvLibraryCleanup kDosCleanups[] = {{kFreeDosObjects, FreeDosObjects}};
constexpr qvLibraryCleanup kEventCleanups[] = {{kFreeEventObjects, NoCleanup}};
constexpr qvLibraryCleanup kSystemCleanups[] = {{kFreeCatalogs, FreeSystemObjects}};
constexpr qvLibraryCleanup kLayersCleanups[] = {{kFreeLayerLists, NoCleanup}};
constexpr qvLibraryCleanup kTextCleanups[] = {{kFreeAllTextObjects, NoCleanup}};
constexpr qvLibraryCleanup kAnimCleanups[] = {{kFreeAllAnims, NoCleanup}};
constexpr qvLibraryCleanup kDisplayCleanups[] = {{kFreeAllDisplays, FreeAllDisplays}};
constexpr qvLibraryCleanup kSoundCleanups[] = {{kStopAllSounds, NoCleanup},
                                               {kFreeAllSounds, NoCleanup}};
constexpr qvLibraryCleanup kBrushCleanups[] = {{kFreeAllBrushes, NoCleanup}};
constexpr qvLibraryCleanup kBGPicCleanups[] = {{kFreeAllBGPics, NoCleanup}};
constexpr qvLibraryCleanup kSpriteCleanups[] = {{kFreeAllSprites, NoCleanup}};
constexpr qvLibraryCleanup kMemBlockCleanups[] = {{kFreeAllMemBlocks, FreeAllMemBlocks}};
constexpr qvLibraryCleanup kVectorCleanups[] = {{kFreeAllPaths, NoCleanup}};
constexpr qvLibraryCleanup kNetworkCleanups[] = {{kShutdownNetwork, ShutdownNetwork}};
constexpr qvLibraryCleanup kVideoCleanups[] = {{kStopAllVideos, NoCleanup},
                                               {kFreeAllVideos, NoCleanup}};
constexpr qvLibraryCleanup kArexxCleanups[] = {{kCloseRexxPort, CloseRexxPort}};

constexpr qvLibraryRow kRows[kLibraryCount] = {
    {"string", RegisterStringLibrary, {}},
    {"math", RegisterMathLibrary, {}},
    {"graphics", RegisterGraphicsLibrary, kGraphicsCleanups},
    {kDraw, RegisterDrawLibrary, kDrawCleanups},
    {kMoveObject, RegisterStub<kMoveObject>, {}},
    {kDos, RegisterDosLibrary, kDosCleanups},
    {kEvent, RegisterStub<kEvent>, kEventCleanups},
    {"system", RegisterSystemLibrary, kSystemCleanups},
    {kLayers, RegisterStub<kLayers>, kLayersCleanups},
    {kText, RegisterStub<kText>, kTextCleanups},
    {kAnim, RegisterStub<kAnim>, kAnimCleanups},
    {"display", RegisterDisplayLibrary, kDisplayCleanups},
    {"sound", RegisterSoundLibrary, kSoundCleanups},
    {kBrush, RegisterStub<kBrush>, kBrushCleanups},
    {kBGPic, RegisterStub<kBGPic>, kBGPicCleanups},
    {kTransitionFX, RegisterStub<kTransitionFX>, {}},
    {kSprite, RegisterStub<kSprite>, kSpriteCleanups},
    {kMemBlock, RegisterMemBlockLibrary, kMemBlockCleanups},
    {kVectorGraphics, RegisterStub<kVectorGraphics>, kVectorCleanups},
    {"network", RegisterNetworkLibrary, kNetworkCleanups},
    {kVideo, RegisterStub<kVideo>, kVideoCleanups},
    {kArexx, RegisterARexxLibrary, kArexxCleanups},
};

constexpr qvLibraryTable kBuiltin = {
    kRows,
    {GraphicsSetAttr, SoundSetAttr},
    {GraphicsGetAttr, SoundGetAttr},
    FlushGfxCache,
    OpenFirstDisplay,
    PollEventsHook,
};

}  // namespace

const qvLibraryTable& BuiltinLibraries() {
    return kBuiltin;
}

void RunLibraryCleanups(const qvLibraryTable& table, qvVmState* L, CleanupSlot first,
                        CleanupSlot last) {
    for (int slot = static_cast<int>(first); slot <= static_cast<int>(last); ++slot) {
        for (const qvLibraryRow& row : table.rows) {
            for (const qvLibraryCleanup& cleanup : row.cleanups) {
                if (static_cast<int>(cleanup.slot) == slot) cleanup.run(L);
            }
        }
    }
}

}  // namespace qv

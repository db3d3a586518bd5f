#include "runtime/library_table.h"

#include <algorithm>

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
#include "media/anim_store.h"
#include "objects/brush.h"
#include "objects/brush_library/brush_library.h"
#include "objects/draw/draw_library.h"
#include "objects/object_neighbours.h"
#include "objects/scene_hooks.h"
#include "objects/sprite/sprite.h"
#include "objects/sprite/sprite_library.h"
#include "objects/text/text_library.h"
#include "objects/vector/vector_library.h"
#include "runtime/stubs/sound_stub.h"
#include "runtime/stubs/stub_library.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "scene/display_hosts.h"
#include "scene/display_library.h"
#include "scene/events/buttons.h"
#include "scene/events/event_library.h"
#include "scene/events/event_neighbours.h"
#include "scene/events/poll_events.h"
#include "scene/layers/layer.h"
#include "scene/layers/layers_library.h"
#include "scene/scene_neighbours.h"

namespace qv {
namespace {

using enum CleanupSlot;

// A library's name as a template argument.
template <size_t N>
struct LibraryName {
    char text[N];
    constexpr LibraryName(const char (&name)[N]) { std::copy_n(name, N, text); }
};

// A library whose commands do not exist yet: its name and nothing else.
template <LibraryName Name>
int RegisterStub(qvVmState* L) {
    return RegisterStubLibrary(L, Name.text);
}

// The graphics library's questions about the later subsystems, each answered by the
// subsystem that owns the answer.
class PlayerNeighbours final : public scene::SceneNeighbours,
                               public scene::DisplayNeighbours,
                               public objects::ObjectNeighbours,
                               public events::EventNeighbours,
                               public sprites::SpriteNeighbours {};

// The objects' answers to the scene, with the buttons that go and move with their layers.
class PlayerObjectHooks final : public objects::SceneHooks {
public:
    void FreeButtonOfLayer(qvVmState* L, qvBGPic* picture, const qvLayer* layer) override {
        ::FreeButtonOfLayer(L, picture, layer);
    }
    void MoveButtons(qvBGPic* picture, const qvLayer* from, qvLayer* to) override {
        MoveLayerButtons(picture, from, to);
    }
    bool SpriteFrame(const qvSpriteInstance& instance, int32_t frame,
                     gfx::PictureView* out) override {
        return sprites::InstanceFrame(instance, frame, out);
    }
};

// The graphics library asks for brushes and its default draw tags as it registers, so the
// answers are installed first.
int RegisterGraphics(qvVmState* L) {
    static PlayerNeighbours neighbours;
    gfx::SetNeighbours(&neighbours);
    static PlayerObjectHooks objects;
    scene::SetObjectHooks(&objects);
    return RegisterGraphicsLibrary(L);
}

// The anim store that layers show anims from; its commands come with the anim library.
int RegisterAnims(qvVmState* L) {
    if (const int code = RegisterObjectList(AnimList())) return code;
    return RegisterStubLibrary(L, "anim");
}

// The slots each library will fill; until its code exists, they clean up nothing.
constexpr qvLibraryCleanup kGraphicsCleanups[] = {
    {kFreeScaleTables, [](qvVmState*) { FreeScaleTables(); }},
    {kFreeGraphicsObjects, FreeGraphicsObjects}};
constexpr qvLibraryCleanup kDrawCleanups[] = {{kFreeDrawBuffers, FreeDrawBuffers}};
constexpr qvLibraryCleanup kDosCleanups[] = {{kFreeDosObjects, FreeDosObjects}};
constexpr qvLibraryCleanup kEventCleanups[] = {{kFreeEventObjects, FreeEventObjects}};
constexpr qvLibraryCleanup kSystemCleanups[] = {{kFreeCatalogs, FreeSystemObjects}};
constexpr qvLibraryCleanup kLayersCleanups[] = {{kFreeLayerLists, FreeLayersLibrary}};
constexpr qvLibraryCleanup kTextCleanups[] = {{kFreeAllTextObjects, FreeAllTextObjects}};
constexpr qvLibraryCleanup kAnimCleanups[] = {{kFreeAllAnims, FreeAllAnims}};
constexpr qvLibraryCleanup kDisplayCleanups[] = {{kFreeAllDisplays, CloseDisplayLibrary}};
constexpr qvLibraryCleanup kSoundCleanups[] = {{kStopAllSounds, NoCleanup},
                                               {kFreeAllSounds, NoCleanup}};
constexpr qvLibraryCleanup kBrushCleanups[] = {{kFreeAllBrushes, FreeAllBrushes}};
constexpr qvLibraryCleanup kBGPicCleanups[] = {{kFreeAllBGPics, FreeAllBGPics}};
constexpr qvLibraryCleanup kSpriteCleanups[] = {{kFreeAllSprites, FreeAllSprites}};
constexpr qvLibraryCleanup kMemBlockCleanups[] = {{kFreeAllMemBlocks, FreeAllMemBlocks}};
constexpr qvLibraryCleanup kVectorCleanups[] = {{kFreeAllPaths, FreeAllPaths}};
constexpr qvLibraryCleanup kNetworkCleanups[] = {{kShutdownNetwork, ShutdownNetwork}};
constexpr qvLibraryCleanup kVideoCleanups[] = {{kStopAllVideos, NoCleanup},
                                               {kFreeAllVideos, NoCleanup}};
constexpr qvLibraryCleanup kArexxCleanups[] = {{kCloseRexxPort, CloseRexxPort}};

constexpr qvLibraryRow kRows[kLibraryCount] = {
    {"string", RegisterStringLibrary, {}},
    {"math", RegisterMathLibrary, {}},
    {"graphics", RegisterGraphics, kGraphicsCleanups},
    {"draw", RegisterDrawLibrary, kDrawCleanups},
    {"moveobject", RegisterStub<"moveobject">, {}},
    {"dos", RegisterDosLibrary, kDosCleanups},
    {"event", RegisterEventLibrary, kEventCleanups},
    {"system", RegisterSystemLibrary, kSystemCleanups},
    {"layers", RegisterLayersLibrary, kLayersCleanups},
    {"text", RegisterTextLibrary, kTextCleanups},
    {"anim", RegisterAnims, kAnimCleanups},
    {"display", RegisterDisplayLibrary, kDisplayCleanups},
    {"sound", RegisterSoundLibrary, kSoundCleanups},
    {"brush", RegisterBrushLibrary, kBrushCleanups},
    {"bgpic", RegisterBGPicLibrary, kBGPicCleanups},
    {"transitionfx", RegisterStub<"transitionfx">, {}},
    {"sprite", RegisterSpriteLibrary, kSpriteCleanups},
    {"memblock", RegisterMemBlockLibrary, kMemBlockCleanups},
    {"vectorgraphics", RegisterVectorGraphicsLibrary, kVectorCleanups},
    {"network", RegisterNetworkLibrary, kNetworkCleanups},
    {"video", RegisterStub<"video">, kVideoCleanups},
    {"arexx", RegisterARexxLibrary, kArexxCleanups},
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

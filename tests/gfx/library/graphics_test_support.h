// The library fixture with the graphics library registered over a fake scene: one display
// whose fields a test sets, its output picture, and the neighbouring subsystems (layers,
// brushes, sprites, event slots, the video recorder, draw tags) as plain fields.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "gfx/clip_region.h"
#include "gfx/graphics_state.h"
#include "gfx/library/graphics_library.h"
#include "gfx/library/neighbours.h"
#include "libs/dos/dos_library.h"
#include "libs/memblock/memblock_library.h"
#include "libs/string/string_library.h"
#include "libs/system/system_library.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/window.h"
#include "runtime/option_tables.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

inline constexpr LibraryOpener OpenGraphicsLibrary = OpenLibraries<RegisterGraphicsLibrary>;

// The string and system libraries too, for listings that print and make timers.
inline constexpr LibraryOpener OpenGraphicsWithSystem =
    OpenLibraries<RegisterStringLibrary, RegisterSystemLibrary, RegisterGraphicsLibrary>;

// And the dos and memblock libraries, whose objects GetAttribute answers for.
inline constexpr LibraryOpener OpenGraphicsWithObjectLibraries =
    OpenLibraries<RegisterStringLibrary, RegisterSystemLibrary, RegisterGraphicsLibrary,
                  RegisterDosLibrary, RegisterMemBlockLibrary>;

// A draw-style record of the fake drawing code: ParseDrawTags takes the field "colour", and
// refuses a table whose "colour" is negative.
struct FakeDrawStyle {
    int32_t colour;
};

class FakeScene : public gfx::BlitHost, public gfx::Neighbours {
public:
    FakeScene() {
        view.outputType = gfx::kTargetDisplay;
        view.pictureWidth = 640;
        view.pictureHeight = 480;
        gfx::Graphics().SetHost(this);
        gfx::SetNeighbours(this);
    }
    ~FakeScene() override {
        gfx::Graphics().SetHost(nullptr);
        gfx::SetNeighbours(nullptr);
        for (auto& [id, brush] : brushes) FreeBrush(brush);
        if (window != nullptr) CloseHeadlessWindow(window);
    }
    FakeScene(const FakeScene&) = delete;
    FakeScene& operator=(const FakeScene&) = delete;

    qvDisplay* Display() { return reinterpret_cast<qvDisplay*>(&view); }
    qvDisplay* OtherDisplay() { return reinterpret_cast<qvDisplay*>(&other); }

    // --- BlitHost ---
    qvDisplay* CurrentDisplay() override { return current; }
    void SetCurrentDisplay(qvDisplay* display) override { current = display; }
    gfx::DisplayView ViewDisplay(const qvDisplay* display) override {
        return display == Display() ? view : other;
    }
    gfx::OutputPicture CurrentOutputPicture() override {
        return {view.pictureWidth, view.pictureHeight, {}, palette, active};
    }
    void Redraw(qvVmState*, qvDisplay*, qvDisplayBitMap*, int32_t, int32_t, int32_t, int32_t,
                int) override {}
    void ClearDisplayBorders(qvDisplay*) override {}
    void FlipBuffers(qvDisplay*, int, int) override {}
    void RefreshVideosOnDisplay(qvDisplay*) override {}

    // --- Neighbours ---
    qvPointer* DisplayPointer(const qvDisplay*) override { return shownPointer; }
    void SetDisplayPointer(qvDisplay*, qvPointer* p) override { shownPointer = p; }
    void SetPointerHidden(qvDisplay*, bool hide) override { pointerHidden = hide; }
    bool PointerShown(const qvPointer* p) override { return p != nullptr && p == shownPointer; }
    const qvEventHandler* DisplayEventHandlers(const qvDisplay*) override {
        return displaySlots.empty() ? nullptr : displaySlots.data();
    }
    const qvEventHandler* GlobalEventHandlers() override {
        return globalSlots.empty() ? nullptr : globalSlots.data();
    }
    void AddLayerBoundsToRectList(qvVmState*, qvDisplay*, void* object) override {
        refreshed.push_back(object);
    }
    void SetActiveClipRegion(const qvClipRegion* region) override { active = region; }
    void SetOutputSpan(int32_t left, int32_t right) override { span = {left, right}; }
    bool ObjectInUseByLayers(uint32_t, const void* object) override {
        return layerUsers.contains(object);
    }
    void ClearLayerClipRegionRefs(const qvClipRegion* region) override {
        clearedFromLayers.push_back(region);
    }
    int DetachObjectFromLayers(qvVmState*, qvObjectId, void*) override {
        ++detaches;
        return 0;
    }
    int32_t CountLayers() override { return layerCount; }
    int CountLayersOnScreen() override { return layerCount; }
    int CountAllLayers() override { return allLayers; }
    int CountSpritesOnScreen() override { return spritesOnScreen; }
    int GetBrush(qvVmState* L, qvObjectId id, gfx::PictureView* out) override {
        auto found = brushes.find(id.number);
        if (id.handle != nullptr || found == brushes.end()) return Neighbours::GetBrush(L, id, out);
        *out = found->second;
        return 0;
    }
    int GetSprite(qvVmState* L, qvObjectId id, int32_t* frames, gfx::PictureView* out) override {
        auto found = brushes.find(id.number);
        if (id.handle != nullptr || found == brushes.end()) {
            return Neighbours::GetSprite(L, id, frames, out);
        }
        *frames = spriteFrames;
        *out = found->second;
        return 0;
    }
    void GetSpriteFrame(qvObjectId, int32_t frame, gfx::PictureView*) override {
        spriteFrameAsked = frame;
    }
    bool VideoDumpRecording() override { return recording; }
    size_t DrawStyleSize() override { return sizeof(FakeDrawStyle); }
    void InitDrawTags(void* style, void*) override {
        static_cast<FakeDrawStyle*>(style)->colour = 0xFFFFFF;
    }
    int ParseDrawTags(qvVmState* L, int idx, void* style, void*, int flags) override {
        parseFlags = flags;
        int32_t colour = 0;
        if (!GetTableFieldInt(L, idx, "colour", &colour, nullptr)) return 0;
        if (colour < 0) return ERR_WRONGUSAGE;
        static_cast<FakeDrawStyle*>(style)->colour = colour;
        return 0;
    }

    // A brush of the fake object code: a bitmap filled with colour, with a mask whose left
    // half is visible when masked.
    void AddBrush(uint32_t id, int32_t width, int32_t height, uint32_t colour, bool masked) {
        gfx::PictureView brush{AllocDisplayBitMap(width, height), nullptr, nullptr, width, height};
        RectFill(brush.bitmap, 0, 0, width, height, colour);
        if (masked) {
            brush.mask = AllocMaskBitMap(nullptr, width, height, 1);
            FillMaskRect(brush.mask, 0, 0, width / 2, height, 0);
        }
        brushes[id] = brush;
    }
    // Opens a headless window as the display's.
    qvPlatformDisplay* OpenWindow(int32_t width, int32_t height) {
        window = OpenHeadlessWindow(0, 0, width, height);
        view.window = window;
        return window;
    }

    gfx::DisplayView view{};
    gfx::DisplayView other{};
    qvDisplay* current = Display();
    const qvARGB* palette = nullptr;
    const qvClipRegion* active = nullptr;
    std::pair<int32_t, int32_t> span{-1, -1};
    qvPointer* shownPointer = nullptr;
    bool pointerHidden = false;
    std::vector<qvEventHandler> displaySlots;  // empty: the display has none
    std::vector<qvEventHandler> globalSlots;
    std::vector<void*> refreshed;
    std::set<const void*> layerUsers;
    std::vector<const qvClipRegion*> clearedFromLayers;
    int detaches = 0;
    int32_t layerCount = 0;
    int allLayers = 0;
    int spritesOnScreen = 0;
    std::map<uint32_t, gfx::PictureView> brushes;  // also the sprites, by id
    int32_t spriteFrames = 1;
    int32_t spriteFrameAsked = -1;
    bool recording = false;
    int parseFlags = -1;
    qvPlatformDisplay* window = nullptr;

private:
    static void FreeBrush(gfx::PictureView& brush) {
        FreeDisplayBitMap(brush.bitmap);
        if (brush.mask != nullptr) FreePlaneBitMap(brush.mask);
    }
};

// Constructed before the library registers, so that registration sees the fake scene.
struct SceneFirst {
    FakeScene scene;
};

class GraphicsLib : protected SceneFirst, public LibFixture {
protected:
    explicit GraphicsLib(LibraryOpener opener = OpenGraphicsLibrary) : LibFixture(opener) {}
    ~GraphicsLib() override { FreeGraphicsObjects(L); }
};

}  // namespace qv::testing

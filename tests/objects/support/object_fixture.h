// The object tests' fixture: the graphics, system and brush libraries registered over a fake
// scene, whose "layers" show brushes by id pair and follow the real layers' rules (a changed
// brush gives them a private copy, a freed one becomes their orphan), and whose current
// output can name a brush.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "gfx/library/graphics_library.h"
#include "gfx/library/object_types.h"
#include "libs/string/string_library.h"
#include "libs/system/system_library.h"
#include "objects/brush.h"
#include "objects/brush_library/brush_library.h"
#include "objects/object_neighbours.h"
#include "objects/scene_seam.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

inline bool SamePair(const qvObjectId& a, const qvObjectId& b) {
    return a.number == b.number && a.handle == b.handle;
}

// The colour 0xRRGGBB as a bitmap in the screen's format keeps it.
inline uint32_t Stored(uint32_t rgb) {
    const OwnedBitMap pixel(AllocDisplayBitMap(1, 1));
    PlotPixel(pixel.get(), 0, 0, rgb);
    return ReadBitMapPixel(pixel.get(), 0, 0);
}

inline qvObjectId PairOf(const qvBrush* brush) {
    return {brush->header.id, brush->header.handle};
}

class FakeLayers : public objects::ObjectNeighbours, public objects::SceneSeam {
public:
    FakeLayers() {
        gfx::SetNeighbours(this);
        objects::SetSceneSeam(this);
    }
    ~FakeLayers() override {
        gfx::SetNeighbours(nullptr);
        objects::SetSceneSeam(nullptr);
    }
    FakeLayers(const FakeLayers&) = delete;
    FakeLayers& operator=(const FakeLayers&) = delete;

    // A new layer showing the brush; its index.
    size_t Show(qvObjectId brush) {
        layers.push_back(brush);
        return layers.size() - 1;
    }
    // What layer i shows now (orphans and copies included); none when it is gone.
    qvBrush* Shown(qvVmState* L, size_t i) const {
        qvBrush* brush = nullptr;
        ::GetBrush(L, layers[i], &brush, QV_BRUSH_ORPHANS | QV_BRUSH_HARDWARE);
        return brush;
    }

    // --- The layer side of the graphics library's neighbours ---
    bool ObjectInUseByLayers(uint32_t type, const void* object) override {
        if (type != uint32_t(gfx::kTypeBrush)) return false;
        auto* brush = static_cast<qvBrush*>(const_cast<void*>(object));
        bool used = false;
        for (qvObjectId& shown : layers) {
            if (!SamePair(shown, PairOf(brush))) continue;
            shown = {0, brush};  // the real layers rebind to the orphan it becomes
            used = true;
        }
        return used;
    }
    int DetachObjectFromLayers(qvVmState* L, qvObjectId id, void* object) override {
        ++detaches;
        auto* header = static_cast<qvObjectHeader*>(object);
        if (header->type != uint32_t(gfx::kTypeBrush)) return 0;
        if (std::none_of(layers.begin(), layers.end(),
                         [&](const qvObjectId& shown) { return SamePair(shown, id); })) {
            return 0;
        }
        qvObjectId copy{};
        if (const int code = CloneBrushForLayers(L, reinterpret_cast<qvBrush*>(header), &copy))
            return code;
        for (qvObjectId& shown : layers) {
            if (SamePair(shown, id)) shown = copy;
        }
        return 0;
    }
    int32_t CountLayers() override { return layerCount; }

    // --- The scene seam ---
    bool RedirectedOutput(uint32_t* type, qvObjectId* id) override {
        if (!output) return false;
        *type = uint32_t(gfx::kTypeBrush);
        *id = *output;
        return true;
    }
    bool LayerScaling(objects::DisplayScaling* out) override {
        if (!scaling) return false;
        *out = *scaling;
        return true;
    }

    std::vector<qvObjectId> layers;
    int detaches = 0;
    int32_t layerCount = 0;            // what CountLayers answers (insert positions)
    std::optional<qvObjectId> output;  // the brush drawing is redirected into
    std::optional<objects::DisplayScaling> scaling;
};

// Installed before the libraries register, so that the graphics library's default draw tags
// are the object code's.
struct LayersFirst {
    FakeLayers scene;
};

inline constexpr LibraryOpener OpenObjectLibraries =
    OpenLibraries<RegisterStringLibrary, RegisterSystemLibrary, RegisterGraphicsLibrary,
                  RegisterBrushLibrary>;

class ObjectFixture : protected LayersFirst, public LibFixture {
protected:
    ObjectFixture() : LibFixture(OpenObjectLibraries) {}
    ~ObjectFixture() override {
        FreeAllBrushes(L);
        FreeGraphicsObjects(L);
    }

    // A new brush filled with colour; nullptr when it could not be made.
    qvBrush* NewBrush(qvObjectId id, int32_t width, int32_t height, uint32_t colour,
                      bool mask = false, bool alpha = false) {
        qvBrush* brush = nullptr;
        EXPECT_EQ(CreateBrushBitmaps(id, width, height, colour, mask, alpha, false, false, &brush),
                  0);
        return brush;
    }

    // The brushes of the list in order, as (record, id pair).
    static std::vector<std::pair<qvBrush*, qvObjectId>> Listed() {
        std::vector<std::pair<qvBrush*, qvObjectId>> out;
        for (qvObjectHeader* h = *BrushList(); h != nullptr; h = h->next) {
            out.emplace_back(reinterpret_cast<qvBrush*>(h), qvObjectId{h->id, h->handle});
        }
        return out;
    }

    // Defines a global command of the engine that runs f.
    void Define(const char* name, NativeFunction f) {
        VmPushString(L, name);
        PushArg(Native(std::move(f)));
        VmSetTable(L, VM_GLOBALSINDEX);
    }
};

}  // namespace qv::testing

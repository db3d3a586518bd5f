// The fixture of the restyling and move-queue tests: the layer scene with the "layers"
// library, solid layers, and anims with their layers.
#pragma once

#include "media/anim_store.h"
#include "scene/layers/layers_commands.h"
#include "scene/layers/layers_library.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {

class LayerCommandsFixture : public LayerFixture {
protected:
    LayerCommandsFixture()
        : LayerFixture(OpenLibraries<RegisterBGPicLibrary, RegisterLayersLibrary>) {}
    ~LayerCommandsFixture() override {
        FreeLayerList(L, scene.picture);
        FreeAllAnims(L);
        scene::FreeMoveLists();
    }

    // n solid layers of 8 x 8, the i-th (from 1) at (8 i, 4).
    std::vector<qvLayer*> Stack(int n) {
        std::vector<qvLayer*> layers;
        for (int i = 1; i <= n; ++i) {
            layers.push_back(scene.AddLayer(L, Solid(8, 8, 0x102030u * uint32_t(i)), 8 * i, 4));
        }
        Shown();
        return layers;
    }
    qvLayer* At(int32_t position) { return GetLayerByIndex(scene.picture, position); }

    // An anim with the number of frames of 8 x 8, frame i (from 0) in its own colour.
    qvObjectId MakeAnim(uint32_t number, int frames) {
        qvAnimFrames planes;
        for (int i = 0; i < frames; ++i) {
            planes.bitmaps.push_back(
                MakePlanes(Solid(8, 8, 0x200000u * uint32_t(i + 1) + number)).bitmap.release());
        }
        qvObjectId id{number, nullptr};
        qvAnim* anim = nullptr;
        EXPECT_EQ(AddAnim(&id, 8, 8, &planes, -1, &anim), 0);
        return id;
    }
    // A layer of the anim on top at (x, y) showing frame (from 0).
    qvLayer* AnimLayer(qvObjectId id, int32_t x, int32_t y, int32_t frame = 0) {
        qvAnim* anim = nullptr;
        EXPECT_EQ(FindAnimById(L, id, &anim, 0), 0);
        EXPECT_EQ(scene::AddAnimLayer(L, id, x, y, 8, 8, frame, anim->frameCount, -1,
                                      QV_ADDLAYER_DISPLAYITEM),
                  0);
        Shown();
        return At(CountLayers(scene.picture));
    }
    int32_t FrameOf(int32_t position) {
        return static_cast<qvAnimItem*>(At(position)->sourceItem)->frame;
    }

    // The window equals the picture recomposed from scratch.
    void ExpectWindowRecomposed() { EXPECT_EQ(scene.Window(), scene.Recomposed(L)); }
};

}  // namespace qv::testing

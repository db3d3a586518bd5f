// The layer tests' fixture: an engine with the "bgpic" library, one display over a headless
// window showing a 64 x 48 picture, and the objects its layers and sprites show.
#pragma once

#include <gtest/gtest.h>

#include "scene/bgpic_library.h"
#include "tests/scene/support/layer_scene.h"
#include "tests/scene/support/reference_compositor.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

using namespace qv::test;

// A background whose every pixel differs from its neighbours.
inline Planes Background(int32_t width = 64, int32_t height = 48) {
    Planes p = Solid(width, height, 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            p.rgb[size_t(y) * width + x] =
                uint32_t(x * 4) << 16 | uint32_t(y * 5) << 8 | uint32_t((x + y) * 2);
        }
    }
    return p;
}

// A planes description whose mask is set where keep(x, y) holds.
template <typename Keep>
Planes Masked(Planes p, Keep keep) {
    p.mask.assign(size_t(p.width) * p.height, 0);
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) p.mask[size_t(y) * p.width + x] = keep(x, y) ? 1 : 0;
    }
    return p;
}

// The screen format of the run.
inline uint32_t ScreenFormat() {
    OwnedBitMap one(AllocDisplayBitMap(1, 1));
    return one->format;
}

class LayerFixture : public LibFixture {
protected:
    LayerFixture() : LibFixture(OpenLibraries<RegisterBGPicLibrary>) {}
    explicit LayerFixture(LibraryOpener opener) : LibFixture(opener) {}

    // Defines a global command of the engine that runs f.
    void Define(const char* name, NativeFunction f) {
        VmPushString(L, name);
        PushArg(Native(std::move(f)));
        VmSetTable(L, VM_GLOBALSINDEX);
    }

    // A style with everything off, as drawing tags without keys give it.
    static qvDrawStyle Style(uint32_t transparency = 0) {
        qvDrawStyle style = kInitialDrawStyle;
        style.transparency = int32_t(transparency);
        return style;
    }

    // Positions from the bottom of the layers, by the colour of their first pixel.
    std::vector<uint32_t> Order() {
        std::vector<uint32_t> colours;
        scene::ForEachLayer(&scene.picture->layers, [&](qvLayer* layer) {
            colours.push_back(ReadBitMapPixel(layer->sourceItem->image.bitmap, 0, 0));
        });
        return colours;
    }

    // Refreshes the whole picture and returns the window's pixels.
    std::vector<uint32_t> Shown() {
        RefreshDisplayArea(L, 0, 0, scene.width, scene.height);
        return scene.Window();
    }

    SceneObjects objects;
    SceneDisplay scene{Background()};
};

}  // namespace qv::testing

// The draw library's commands on a scene display of a given size: made again with the layers
// on or off and the draw state reset, its pixels and its layers read back.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "scene/layers/layer.h"
#include "tests/scene/support/layer_scene.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

class DrawDisplayFixture : public LibFixture {
protected:
    DrawDisplayFixture(int32_t width, int32_t height)
        : LibFixture(OpenLibraries<RegisterDrawLibrary>), width_(width), height_(height) {
        Fresh(false);
    }
    ~DrawDisplayFixture() override { FreeDrawBuffers(L); }

    // A black display of the fixture's size.
    qv::test::SceneDisplay& Fresh(bool layers) {
        display_.reset();
        display_.emplace(qv::test::Solid(width_, height_, 0));
        display_->view.layersEnabled = layers;
        ResetDrawState(GetDrawState());
        return *display_;
    }
    uint32_t At(int32_t x, int32_t y) const {
        return ReadBitMapPixel(display_->displayBitmap.get(), x, y);
    }
    size_t LayerCount() const {
        size_t n = 0;
        scene::ForEachLayer(&display_->picture->layers, [&](qvLayer*) { ++n; });
        return n;
    }
    qvLayer* TopLayer() const {
        return reinterpret_cast<qvLayer*>(display_->picture->layers.tailPred);
    }
    int Run(const char* name, std::vector<Arg> args) { return Call(name, std::move(args)).code; }

    qv::test::SceneObjects objects;
    std::optional<qv::test::SceneDisplay> display_;

private:
    int32_t width_, height_;
};

}  // namespace qv::testing

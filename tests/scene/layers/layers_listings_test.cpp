// Every listing in listings/ runs through the listing harness with the "layers" and drawing
// libraries on the layer scene's display, once plainly and once with a collection at every
// check point.
#include "objects/brush.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/scene_hooks.h"
#include "objects/scene_seam.h"
#include "scene/layers/layers_library.h"
#include "scene/object_layers.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

qvBGPic* listingPicture = nullptr;

// Each run starts from a picture without layers and without brushes or move queues.
void OpenForListing(qvVmState* L) {
    if (listingPicture != nullptr) FreeLayerList(L, listingPicture);
    FreeAllBrushes(L);
    scene::FreeMoveLists();
    ResetDrawState(GetDrawState());
    OpenLibraries<RegisterBGPicLibrary, RegisterLayersLibrary, RegisterDrawLibrary>(L);
}

// The display engine hands the layers of shown objects (CreateLayer's brush) to the list.
class LayerSeam final : public objects::SceneSeam {
public:
    int AddObjectLayer(qvVmState* L, const objects::ObjectLayer& layer) override {
        return scene::AddObjectLayer(L, layer);
    }
};

class LayersListing : public LayerFixture, public ::testing::WithParamInterface<std::string> {
protected:
    // The object libraries' hooks, so that transformed and rebuilt layers find their brushes.
    LayersListing() : LayerFixture(OpenForListing) {
        listingPicture = scene.picture;
        scene::SetObjectHooks(&hooks);
        objects::SetSceneSeam(&seam);
    }
    ~LayersListing() override {
        objects::SetSceneSeam(nullptr);
        FreeLayerList(L, scene.picture);
        FreeAllBrushes(L);
        scene::FreeMoveLists();
        FreeDrawBuffers(L);
        listingPicture = nullptr;
    }

    objects::SceneHooks hooks;
    LayerSeam seam;
};

TEST_P(LayersListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(LayersListing, "tests/scene/layers/listings");

}  // namespace
}  // namespace qv::testing

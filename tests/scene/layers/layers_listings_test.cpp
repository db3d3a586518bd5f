// Every listing in listings/ runs through the listing harness with the "layers" library on the
// layer scene's display, once plainly and once with a collection at every check point.
#include "objects/brush.h"
#include "scene/layers/layers_library.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

qvBGPic* listingPicture = nullptr;

// Each run starts from a picture without layers and without brushes or move queues.
void OpenForListing(qvVmState* L) {
    if (listingPicture != nullptr) FreeLayerList(L, listingPicture);
    FreeAllBrushes(L);
    scene::FreeMoveLists();
    OpenLibraries<RegisterBGPicLibrary, RegisterLayersLibrary>(L);
}

class LayersListing : public LayerFixture, public ::testing::WithParamInterface<std::string> {
protected:
    LayersListing() : LayerFixture(OpenForListing) { listingPicture = scene.picture; }
    ~LayersListing() override {
        FreeLayerList(L, scene.picture);
        FreeAllBrushes(L);
        scene::FreeMoveLists();
        listingPicture = nullptr;
    }
};

TEST_P(LayersListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(LayersListing, "tests/scene/layers/listings");

}  // namespace
}  // namespace qv::testing

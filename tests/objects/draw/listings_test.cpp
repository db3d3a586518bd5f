// Every listing in listings/ runs through the listing harness with the draw library over a
// black 64 x 48 display of a headless window with layers off, once plainly and once with a collection at
// every check point.
#include <optional>
#include <string>

#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "tests/scene/support/layer_scene.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

std::optional<test::SceneDisplay> listingDisplay;

// Each run starts from a fresh display and draw state.
void OpenForListing(qvVmState* L) {
    listingDisplay.reset();
    listingDisplay.emplace(test::Solid(64, 48, 0));
    listingDisplay->view.layersEnabled = false;
    ResetDrawState(GetDrawState());
    OpenLibraries<RegisterDrawLibrary>(L);
}

class DrawListing : public LibFixture, public ::testing::WithParamInterface<std::string> {
protected:
    DrawListing() : LibFixture(OpenForListing) {}
    ~DrawListing() override {
        FreeDrawBuffers(L);
        listingDisplay.reset();
    }

    test::SceneObjects objects;
};

TEST_P(DrawListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(DrawListing, "tests/objects/draw/listings");

}  // namespace
}  // namespace qv::testing

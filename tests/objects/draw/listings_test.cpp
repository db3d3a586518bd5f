// Every listing in listings/ runs through the listing harness with the draw library over a
// black 64 x 48 display of a headless window with layers off, once plainly and once with a
// collection at every check point.
#include <optional>
#include <string>

#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "tests/scene/support/layer_scene.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

constexpr int32_t kWidth = 64, kHeight = 48;
std::optional<test::SceneDisplay> listingDisplay;

// Each run starts from a black display and a fresh draw state. The display is made once
// outside the run, so that a sweep of failing allocations never meets it half made.
void OpenForListing(qvVmState* L) {
    RectFill(listingDisplay->displayBitmap.get(), 0, 0, kWidth, kHeight, 0);
    ResetDrawState(GetDrawState());
    OpenLibraries<RegisterDrawLibrary>(L);
}

class DrawListing : public LibFixture, public ::testing::WithParamInterface<std::string> {
protected:
    DrawListing() : LibFixture(OpenForListing) {
        listingDisplay.emplace(test::Solid(kWidth, kHeight, 0));
        listingDisplay->view.layersEnabled = false;
    }
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

// Every listing in brush_library/listings/ runs through the listing harness with the brush library,
// once plainly and once with a collection at every check point.
#include "tests/objects/support/object_fixture.h"

namespace qv::testing {
namespace {

// Each run starts from an empty brush list; what an earlier run's engine left is freed first.
void OpenForListing(qvVmState* L) {
    FreeAllBrushes(L);
    OpenObjectLibraries(L);
}

class BrushListing : public LayersFirst,
                     public LibFixture,
                     public ::testing::WithParamInterface<std::string> {
protected:
    BrushListing() : LibFixture(OpenForListing) {}
    ~BrushListing() override {
        FreeAllBrushes(L);
        FreeGraphicsObjects(L);
    }
};

TEST_P(BrushListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(BrushListing, "tests/objects/brush_library/listings");

}  // namespace
}  // namespace qv::testing

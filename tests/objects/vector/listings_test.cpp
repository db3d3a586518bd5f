// Every listing in listings/ runs through the listing harness with the vectorgraphics
// library, once plainly and once with a collection at every check point.
#include <filesystem>
#include <string>

#include "objects/vector/vector_library.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

class VectorListing : public LibFixture, public ::testing::WithParamInterface<std::string> {
protected:
    VectorListing() : LibFixture(OpenLibraries<RegisterVectorGraphicsLibrary>) {}
    ~VectorListing() override { FreeAllPaths(L); }
};

TEST_P(VectorListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(VectorListing, "tests/objects/vector/listings");

}  // namespace
}  // namespace qv::testing

// Every listing in listings/ runs through the listing harness with the graphics library (and
// the string and system libraries) on a 16-bit screen, once plainly and once with a
// collection at every check point.
#include <filesystem>
#include <string>

#include "platform/linux/testing.h"

#include "tests/gfx/library/graphics_test_support.h"

namespace qv::testing {
namespace {

class GraphicsListing : public GraphicsLib, public ::testing::WithParamInterface<std::string> {
protected:
    GraphicsListing() : GraphicsLib(OpenGraphicsWithSystem) {}
    ~GraphicsListing() override { FreeSystemObjects(L); }
};

TEST_P(GraphicsListing, MeetsItsExpectations) {
    platform::testing::ScopedScreenFormat format(4);
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(GraphicsListing, "tests/gfx/library/listings");

}  // namespace
}  // namespace qv::testing

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
    EXPECT_EQ(CheckListing(GetParam()), "");
    EXPECT_EQ(CheckListing(GetParam(), true), "") << "with a collection at every check point";
}

INSTANTIATE_TEST_SUITE_P(Listings, GraphicsListing,
                         ::testing::ValuesIn(ListingsIn(SourceDir() /
                                                        "tests/gfx/library/listings")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return std::filesystem::path(info.param).stem().string();
                         });

}  // namespace
}  // namespace qv::testing

// Every listing in listings/ runs through the listing harness with the dos library, once
// plainly and once with a collection at every check point.
#include <filesystem>
#include <string>

#include "tests/libs/dos/dos_test_support.h"

namespace qv::testing {
namespace {

class DosListing : public DosLib, public ::testing::WithParamInterface<std::string> {};

TEST_P(DosListing, MeetsItsExpectations) {
    EXPECT_EQ(CheckListing(GetParam()), "");
    EXPECT_EQ(CheckListing(GetParam(), true), "") << "with a collection at every check point";
}

INSTANTIATE_TEST_SUITE_P(Listings, DosListing,
                         ::testing::ValuesIn(ListingsIn(SourceDir() / "tests/libs/dos/listings")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return std::filesystem::path(info.param).stem().string();
                         });

}  // namespace
}  // namespace qv::testing

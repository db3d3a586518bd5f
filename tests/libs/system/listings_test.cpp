// Every listing in listings/ runs through the listing harness with the system library, once
// plainly and once with a collection at every check point.
#include <filesystem>
#include <string>

#include "runtime/runtime_state.h"
#include "tests/libs/system/system_test_support.h"

namespace qv::testing {
namespace {

class SystemListing : public SystemLib, public ::testing::WithParamInterface<std::string> {};

TEST_P(SystemListing, MeetsItsExpectations) {
    EXPECT_EQ(CheckListing(GetParam()), "");
    Runtime().abortFlag.store(0);  // End leaves it set, as it does for the player
    EXPECT_EQ(CheckListing(GetParam(), true), "") << "with a collection at every check point";
}

INSTANTIATE_TEST_SUITE_P(Listings, SystemListing,
                         ::testing::ValuesIn(ListingsIn(SourceDir() /
                                                        "tests/libs/system/listings")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return std::filesystem::path(info.param).stem().string();
                         });

}  // namespace
}  // namespace qv::testing

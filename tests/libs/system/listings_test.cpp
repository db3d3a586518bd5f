// Every listing in listings/ runs through the listing harness with the system library, once
// plainly and once with a collection at every check point.
#include <filesystem>
#include <string>

#include "tests/libs/system/system_test_support.h"

namespace qv::testing {
namespace {

class SystemListing : public SystemLib, public ::testing::WithParamInterface<std::string> {};

TEST_P(SystemListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(SystemListing, "tests/libs/system/listings");

}  // namespace
}  // namespace qv::testing

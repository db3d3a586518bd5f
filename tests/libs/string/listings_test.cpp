// Every listing in listings/ runs through the listing harness with the string library, once
// plainly and once with a collection at every check point.
#include <filesystem>
#include <string>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

class StringListing : public StringLib, public ::testing::WithParamInterface<std::string> {};

TEST_P(StringListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(StringListing, "tests/libs/string/listings");

}  // namespace
}  // namespace qv::testing

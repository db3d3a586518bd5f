// Every listing in listings/ runs through the listing harness with the math library, once
// plainly and once with a collection at every check point.
#include <filesystem>
#include <string>

#include "tests/libs/math/math_test_support.h"

namespace qv::testing {
namespace {

class MathListing : public MathLib, public ::testing::WithParamInterface<std::string> {};

TEST_P(MathListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(MathListing, "tests/libs/math/listings");

}  // namespace
}  // namespace qv::testing

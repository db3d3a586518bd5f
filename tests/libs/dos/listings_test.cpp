// Every listing in listings/ runs through the listing harness with the dos library, once
// plainly and once with a collection at every check point.
#include <filesystem>
#include <string>

#include "tests/libs/dos/dos_test_support.h"

namespace qv::testing {
namespace {

class DosListing : public DosLib, public ::testing::WithParamInterface<std::string> {};

TEST_P(DosListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(DosListing, "tests/libs/dos/listings");

}  // namespace
}  // namespace qv::testing

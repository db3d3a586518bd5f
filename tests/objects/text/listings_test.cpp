// Every listing in listings/ runs through the listing harness with the text library and a
// display of the fixture's own (320 pixels wide), once plainly and once with a collection at
// every check point.
#include <filesystem>
#include <string>

#include "tests/objects/text/text_test_support.h"

namespace qv::testing {
namespace {

FixtureDisplay listingDisplay;

// Each run starts from a fresh library and display; what an earlier run's engine left is
// freed first.
void OpenForListing(qvVmState* L) {
    FreeAllTextObjects(L);
    listingDisplay.Reset();
    text::SetTextDisplayHost(&listingDisplay);
    OpenTextLibrary(L);
}

class TextListing : public TextLibTest, public ::testing::WithParamInterface<std::string> {
protected:
    TextListing() : TextLibTest(OpenForListing) {}
};

TEST_P(TextListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(TextListing, "tests/objects/text/listings");

}  // namespace
}  // namespace qv::testing

// Every listing in listings/ runs through the listing harness with the event library over the
// fixture's display and virtual clock, once plainly and once with a collection at every check
// point.
#include <string>

#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

class EventListing : public EventFixture, public ::testing::WithParamInterface<std::string> {};

TEST_P(EventListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(EventListing, "tests/scene/events/listings");

}  // namespace
}  // namespace qv::testing

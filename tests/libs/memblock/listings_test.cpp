// Every listing in listings/ runs through the listing harness with the memblock library, once
// plainly and once with a collection at every check point.
#include <filesystem>
#include <string>

#include "libs/memblock/memblock_library.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

class MemBlockListing : public LibFixture, public ::testing::WithParamInterface<std::string> {
protected:
    MemBlockListing() : LibFixture(OpenLibraries<RegisterMemBlockLibrary>) {}
    ~MemBlockListing() override { FreeAllMemBlocks(L); }
};

TEST_P(MemBlockListing, MeetsItsExpectations) {
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(MemBlockListing, "tests/libs/memblock/listings");

}  // namespace
}  // namespace qv::testing

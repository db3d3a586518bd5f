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
    EXPECT_EQ(CheckListing(GetParam()), "");
    EXPECT_EQ(CheckListing(GetParam(), true), "") << "with a collection at every check point";
}

INSTANTIATE_TEST_SUITE_P(Listings, MemBlockListing,
                         ::testing::ValuesIn(ListingsIn(SourceDir() /
                                                        "tests/libs/memblock/listings")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return std::filesystem::path(info.param).stem().string();
                         });

}  // namespace
}  // namespace qv::testing

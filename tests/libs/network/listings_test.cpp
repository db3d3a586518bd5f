// Every listing in listings/ runs through the listing harness with the network library and a
// socat echo peer, whose port the listings read from the global "echoport"; once plainly and
// once with a collection at every check point.
#include <filesystem>
#include <string>

#include "tests/libs/network/network_test_support.h"

namespace qv::testing {
namespace {

int echoPort = 0;

void OpenWithEchoPort(qvVmState* L) {
    OpenNetworkLibrary(L);
    VmPushString(L, "echoport");
    VmPushNumber(L, echoPort);
    VmRawSet(L, VM_GLOBALSINDEX);
}

class NetworkListing : public NetworkLib, public ::testing::WithParamInterface<std::string> {
protected:
    NetworkListing() : NetworkLib(OpenWithEchoPort) {}
};

TEST_P(NetworkListing, MeetsItsExpectations) {
    QV_REQUIRE_TOOL("socat");
    PeerProcess echo(SocatTcpEcho());
    ASSERT_TRUE(echo.running());
    echoPort = echo.port();
    EXPECT_EQ(CheckListing(GetParam()), "");
    EXPECT_EQ(CheckListing(GetParam(), true), "") << "with a collection at every check point";
}

INSTANTIATE_TEST_SUITE_P(Listings, NetworkListing,
                         ::testing::ValuesIn(ListingsIn(SourceDir() /
                                                        "tests/libs/network/listings")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return std::filesystem::path(info.param).stem().string();
                         });

}  // namespace
}  // namespace qv::testing

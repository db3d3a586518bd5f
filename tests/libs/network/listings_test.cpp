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
    ExpectListingMet(GetParam());
}

QV_INSTANTIATE_LISTINGS(NetworkListing, "tests/libs/network/listings");

}  // namespace
}  // namespace qv::testing

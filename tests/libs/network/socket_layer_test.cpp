#include "libs/network/socket_layer.h"

#include <poll.h>

#include <vector>

#include "tests/libs/network/network_test_support.h"

namespace qv::testing {
namespace {

TEST(SocketLayer, EveryWrapperRefusesAClosedHandle) {
    int32_t h = -1;
    qvSocketTimeouts t{1, 1, MonotonicSeconds()};
    char buffer[4];
    size_t count = 7;
    sockaddr_in a = Loopback(1);
    int32_t out = 0;
    int pump = 0;
    EXPECT_EQ(ReceiveFromConnection(&h, buffer, 4, &count, &t), kStatusClosed);
    EXPECT_EQ(SendToConnection(&h, buffer, 4, &count, &t), kStatusClosed);
    EXPECT_EQ(ReceiveFromSocket(&h, buffer, 4, &count, &a, &t), kStatusClosed);
    EXPECT_EQ(SendToSocket(&h, buffer, 4, &count, &a, &t), kStatusClosed);
    EXPECT_EQ(PollSocketReadable(&h, &t, false), kStatusClosed);
    EXPECT_EQ(AcceptClient(&h, &out, nullptr, &t), kStatusClosed);
    EXPECT_EQ(WaitSocketReady(&h, kWaitBoth, &t), kStatusClosed);
    EXPECT_EQ(ConnectWithTimeout(nullptr, &h, &a, 10, &pump), kStatusClosed);
    EXPECT_EQ(ConnectBlockingWithTimeout(&h, &a, &t), kStatusClosed);
    EXPECT_EQ(BindSocket(&h, &a), kStatusClosed);
    CloseSocketHandle(&h);
    EXPECT_EQ(h, -1);
}

TEST(SocketLayer, Texts) {
    const std::vector<std::pair<int, std::string>> cases = {
        {-1, "timeout"},
        {-2, "closed"},
        {0, ""},
        {13, "permission denied"},
        {48, "address already in use"},
        {53, "closed"},
        {54, "closed"},
        {56, "already connected"},
        {60, "timeout"},
        {61, "connection refused"},
        {32, strerror(EPIPE)},
    };
    for (const auto& [status, text] : cases) {
        EXPECT_EQ(SocketErrnoText(status), text) << status;
        EXPECT_EQ(ConnectionErrorText(status), text) << status;
    }
    EXPECT_STREQ(SocketErrorText(61), "unknown error");
    EXPECT_STREQ(ResolverErrorText(1), "host not found");
    EXPECT_STREQ(ResolverErrorText(-1), "timeout");
}

TEST(SocketLayer, LinuxErrorsTakeTheirBsdNumbers) {
    const std::vector<std::pair<int, int>> cases = {
        {EINTR, 4},        {EACCES, 13},       {EPIPE, 32},        {EAGAIN, 35},
        {EINPROGRESS, 36}, {EALREADY, 37},     {EADDRINUSE, 48},   {EADDRNOTAVAIL, 49},
        {ENETUNREACH, 51}, {ECONNABORTED, 53}, {ECONNRESET, 54},   {EISCONN, 56},
        {ETIMEDOUT, 60},   {ECONNREFUSED, 61}, {EHOSTUNREACH, 65},
    };
    for (auto [linux, bsd] : cases) EXPECT_EQ(BsdSocketError(linux), bsd) << linux;
}

TEST(SocketLayer, RemainingTimeout) {
    const double now = MonotonicSeconds();
    struct Case {
        double operation, overall, elapsed, expected;
    };
    const Case cases[] = {
        {-1, -1, 5, -1.0},  // no limit
        {-1, 10, 4, 6.0},   // overall only
        {-1, 3, 4, 0.0},    // overall spent
        {10, -1, 4, 6.0},   // operation only
        {2, 10, 4, 2.0},    // both: the operation time-out is not reduced
        {8, 10, 4, 6.0},    // both: the overall rest is smaller
    };
    for (const Case& c : cases) {
        const qvSocketTimeouts t{c.operation, c.overall, now - c.elapsed};
        EXPECT_NEAR(GetRemainingTimeout(&t), c.expected, 0.05)
            << c.operation << " " << c.overall << " " << c.elapsed;
    }
}

TEST(SocketLayer, ZeroOperationTimeoutAnswersAtOnce) {
    Fd listener = BoundSocket(SOCK_STREAM);
    int32_t h = -1;
    ASSERT_EQ(NewSocket(&h, AF_INET, SOCK_STREAM, 0), 0);
    ASSERT_EQ(SetSocketNonBlocking(&h), 0);
    const sockaddr_in a = Loopback(PortOf(listener.get()));
    int pump = 0;
    ASSERT_EQ(ConnectWithTimeout(nullptr, &h, &a, 1000, &pump), 0);
    const qvSocketTimeouts t{0, 0, MonotonicSeconds()};
    Fd peer(accept(listener.get(), nullptr, nullptr));
    char buffer[8];
    size_t count = 1;
    EXPECT_EQ(ReceiveFromConnection(&h, buffer, sizeof buffer, &count, &t), kStatusTimeout);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(PollSocketReadable(&h, &t, false), kStatusTimeout);
    peer.Reset();
    qvSocketTimeouts wait{1, -1, MonotonicSeconds()};
    EXPECT_EQ(PollSocketReadable(&h, &wait, false), kStatusClosed);
    CloseSocketHandle(&h);
}

TEST(SocketLayer, ConnectToAClosedPortIsRefused) {
    int port;
    {
        Fd probe = BoundSocket(SOCK_STREAM);
        port = PortOf(probe.get());
    }
    int32_t h = -1;
    ASSERT_EQ(NewSocket(&h, AF_INET, SOCK_STREAM, 0), 0);
    SetSocketNonBlocking(&h);
    const sockaddr_in a = Loopback(port);
    int pump = 0;
    const int status = ConnectWithTimeout(nullptr, &h, &a, 1000, &pump);
    EXPECT_EQ(status, 61);
    EXPECT_STREQ(SocketErrnoText(status), "connection refused");
    CloseSocketHandle(&h);
}

// Sockets numbered far above 256 are waited on like any other.
TEST(SocketLayer, HighDescriptorsBecomeReady) {
    std::vector<Fd> filler;
    for (int i = 0; i < 300; ++i) filler.emplace_back(dup(0));
    Fd listener = BoundSocket(SOCK_STREAM);
    ASSERT_GT(listener.get(), 256);
    int32_t h = -1;
    ASSERT_EQ(NewSocket(&h, AF_INET, SOCK_STREAM, 0), 0);
    SetSocketNonBlocking(&h);
    const sockaddr_in a = Loopback(PortOf(listener.get()));
    int pump = 0;
    ASSERT_EQ(ConnectWithTimeout(nullptr, &h, &a, 2000, &pump), 0);
    int32_t l = listener.get(), accepted = -1;
    const qvSocketTimeouts t{2, -1, MonotonicSeconds()};
    ASSERT_EQ(AcceptClient(&l, &accepted, nullptr, &t), 0);
    size_t count = 0;
    ASSERT_EQ(SendToConnection(&accepted, "hi", 2, &count, &t), 0);
    char buffer[4];
    ASSERT_EQ(ReceiveFromConnection(&h, buffer, sizeof buffer, &count, &t), 0);
    EXPECT_EQ(std::string(buffer, count), "hi");
    CloseSocketHandle(&accepted);
    CloseSocketHandle(&h);
}

}  // namespace
}  // namespace qv::testing

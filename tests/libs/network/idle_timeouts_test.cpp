// The network time-out bounds the idle waits of receiving, sending and connecting on the
// run-time's clock, a test's clock included: each idle wait moves it by the time it waited.
// The peers give up after a few seconds of real time, so that a wait that does not time out
// ends (otherwise) instead of hanging the test.
#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "runtime/errors.h"
#include "tests/libs/network/network_test_support.h"

namespace qv::testing {
namespace {

constexpr int kPeerPatienceMs = 5000;
constexpr int kTimeoutMs = 300;

// A clock that moves only when a wait sleeps, by what it slept.
class TestClock {
public:
    TestClock() { SetSystemClock(&kClock); }
    ~TestClock() { SetSystemClock(nullptr); }
    static int64_t ElapsedMs() { return (now_ - kStart) / 1000; }

private:
    static constexpr int64_t kStart = 1000000000;
    static int64_t Read() { return now_; }
    static void SleepUntil(int64_t deadline) {
        if (deadline > now_) now_ = deadline;
    }
    static inline int64_t now_ = kStart;
    static constexpr SystemClock kClock = {Read, Read, SleepUntil};
};

class IdleTimeouts : public NetworkLib {
protected:
    IdleTimeouts() {
        now_.emplace();
        Call("SetNetworkTimeout", {Num(kTimeoutMs)});
    }
    ~IdleTimeouts() override { now_.reset(); }

    // A peer that holds the client's connection without a word and without reading, until
    // the test releases it or for its patience.
    auto Silent() {
        return
            [held = released_](int) { held.wait_for(std::chrono::milliseconds(kPeerPatienceMs)); };
    }
    void Release() { release_.set_value(); }

    // The time-out must have ended the wait on the test's clock, not the peer's leaving.
    static void ExpectTimedOut() {
        EXPECT_GE(TestClock::ElapsedMs(), kTimeoutMs);
        EXPECT_LT(TestClock::ElapsedMs(), kPeerPatienceMs);
    }

private:
    std::optional<TestClock> now_;
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
};

TEST_F(IdleTimeouts, ReceivingFromASilentPeer) {
    TcpPeer peer(Silent());
    ASSERT_EQ(Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(peer.port())}).code, 0);
    const int64_t before = TestClock::ElapsedMs();
    const CallResult r = Call("ReceiveData", {Num(1), Num(RECEIVELINE)});
    Release();
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.Number(1), 0);
    EXPECT_GE(TestClock::ElapsedMs() - before, kTimeoutMs);
    ExpectTimedOut();
    Call("CloseConnection", {Num(1)});
}

TEST_F(IdleTimeouts, SendingToAPeerThatNeverReads) {
    TcpPeer peer(Silent());
    ASSERT_EQ(Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(peer.port())}).code, 0);
    const std::string data(64 << 20, 'x');  // more than the loopback buffers hold
    const CallResult sent = Call("SendData", {Num(1), Str(data)});
    Release();
    EXPECT_EQ(sent.code, 0);
    EXPECT_GT(sent.Number(0), 0);
    EXPECT_LT(sent.Number(0), double(data.size()));
    ExpectTimedOut();
    Call("CloseConnection", {Num(1)});
}

// A listener that accepts nobody, with its backlog taken by earlier clients: a new client's
// connection request is dropped and its connect stays pending.
TEST_F(IdleTimeouts, ConnectingToAFullBacklog) {
    Fd listener = BoundSocket(SOCK_STREAM, 0);
    const int port = PortOf(listener.get());
    std::vector<Fd> fillers;
    for (int i = 0; i < 8; ++i) {
        Fd client(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        const sockaddr_in a = Loopback(port);
        connect(client.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a);
        pollfd entry{client.get(), POLLOUT, 0};
        const bool connected = poll(&entry, 1, 200) > 0;
        fillers.push_back(std::move(client));
        if (!connected) break;
    }
    ASSERT_LT(fillers.size(), 8u) << "the backlog never filled";
    // The listener goes after the peer's patience: a connect still pending is then refused.
    std::thread closer([&listener, silent = Silent()] {
        silent(listener.get());
        listener.Reset();
    });
    const CallResult open = Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(port)});
    Release();
    EXPECT_EQ(open.code, ERR_SOCKET);
    EXPECT_NE(open.errorText.find("timeout"), std::string::npos) << open.errorText;
    ExpectTimedOut();
    closer.join();
}

}  // namespace
}  // namespace qv::testing

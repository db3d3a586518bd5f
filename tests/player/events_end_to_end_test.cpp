// End to end through the player on the headless back end: a script's intervals and timeout
// served by WaitEvent on the system's clock, handlers served while Wait and WaitTimer wait,
// input that comes while a transfer waits, and a message from one player to another's user
// port.
#include <netinet/in.h>
#include <sys/socket.h>

#include <thread>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

// A peer on a free loopback port that accepts one client and holds it without a word until
// the client leaves, or for 20 s.
class SilentPeer {
public:
    SilentPeer() : listener_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        bind(listener_, reinterpret_cast<sockaddr*>(&a), length);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            const int client = accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            pollfd entry{client, POLLRDHUP, 0};
            poll(&entry, 1, 20000);
            close(client);
        });
    }
    ~SilentPeer() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    int port() const { return port_; }

private:
    int listener_;
    int port_ = 0;
    std::thread thread_;
};

class Events : public EndToEndTest {
protected:
    std::string Input(const std::string& text) {
        std::ofstream(scratch / "input.txt") << text;
        return "QV_HEADLESS_INPUT=" + (scratch / "input.txt");
    }
    // The applet of a fixture whose words are replaced by values first.
    void AppletWith(const std::string& name, const std::string& fixture,
                    const std::vector<std::pair<std::string, std::string>>& words) {
        std::ifstream in(std::filesystem::path(QV_SOURCE_DIR) / "tests/player/fixtures" /
                         (fixture + ".qvs"));
        std::stringstream text;
        text << in.rdbuf();
        std::string source = text.str();
        for (const auto& [word, value] : words) {
            for (size_t at; (at = source.find(word)) != std::string::npos;)
                source.replace(at, word.size(), value);
        }
        const AssembleResult chunk = Assemble(source);
        ASSERT_TRUE(chunk.ok()) << fixture;
        std::string error;
        ASSERT_EQ(RunMakeApplet(
                      {"-o", scratch / name, "--chunk", scratch.Write(name + ".qvb", chunk.bytes),
                       "--display", "1:64:48:Transfer"},
                      &error),
                  0)
            << error;
    }
};

TEST_F(Events, IntervalsAndATimeoutRunInOrderAndEndTheLoop) {
    Applet("timed.qva", "timed_calls");
    Expect(Player({"timed.qva", "-QUIET"}),
           "Interval 1\nInterval 1\nInterval 1\nInterval 2\nInterval 3\nTimeout 4\ndone\n", "", 0);
}

// Wait and WaitTimer keep the handlers running, on both clocks; a handler's own wait runs
// none, a handler may stop the timer being waited on, and a handler's error or End ends the
// wait (the error is the wait's, End the program's).
TEST_F(Events, HandlersRunWhileWaitAndWaitTimerWait) {
    Applet("waits.qva", "wait_handlers", {"--display", "1:64:48:Waits"});
    const std::string expected =
        "OnKeyDown a\nwaited 0\ninterval 4\nloop 3\nsleeper\nslept\nInterval 3\nwaited\n"
        "stopped\nWaitTimer 0\nGetTimer 1181\nWait 1159 early\n";
    for (const char* clock : {"QV_HEADLESS_CLOCK=virtual", "QV_HEADLESS_CLOCK="}) {
        SCOPED_TRACE(clock);
        Expect(Player({"waits.qva", "-QUIET"}, "", {Input("30 key 97\n"), clock}), expected, "", 0);
    }
}

// A transfer that waits on a silent peer presents while it waits, so a close request of the
// window (scheduled by frame) comes and ends the run, on both clocks.
TEST_F(Events, ACloseRequestEndsATransferThatWaitsOnAPeer) {
    for (const char* way : {"receive", "download"}) {
        for (const char* clock : {"QV_HEADLESS_CLOCK=virtual", "QV_HEADLESS_CLOCK="}) {
            SCOPED_TRACE(std::string(way) + " " + clock);
            SilentPeer peer;
            AppletWith("transfer.qva", "transfer_waits",
                       {{"PORT", std::to_string(peer.port())}, {"WAY", way}, {"TIMEOUT", "0"}});
            Expect(Player({"transfer.qva", "-QUIET"}, "", {Input("30 close\n"), clock}),
                   "waiting\n", "", 0);
        }
    }
}

// The network time-out bounds a wait on a silent peer on the run-time's clock: on the
// virtual clock, which moves only by waits, the receive ends too once the time-out has
// passed (with what came, no error: a script reads that from the results).
TEST_F(Events, ATransferOnASilentPeerTimesOutOnTheVirtualClock) {
    SilentPeer peer;
    AppletWith("transfer.qva", "transfer_waits",
               {{"PORT", std::to_string(peer.port())}, {"WAY", "receive"}, {"TIMEOUT", "500"}});
    Expect(Player({"transfer.qva", "-QUIET"}, "", {"QV_HEADLESS_CLOCK=virtual"}),
           "waiting\nended 0\n", "", 0);
}

TEST_F(Events, OnePlayersMessageReachesAnotherPlayersUserPort) {
    Applet("a.qva", "port_receiver");
    Applet("b.qva", "port_sender");
    scratch.MakeDir("ports");
    const std::vector<std::string> env = {"QV_REXX_DIR=" + (scratch / "ports")};
    Outcome sender;
    bool sent = false;
    const Outcome receiver =
        Player({"a.qva", "-QUIET"}, "", env, [&](pid_t, const std::string& out) {
            if (sent || out.find("ready\n") == std::string::npos) return;
            sent = true;
            sender = Player({"b.qva", "-QUIET"}, "", env);
        });
    ASSERT_TRUE(sent);
    Expect(receiver, "ready\nhello 2 a b|c\n", "", 0);
    EXPECT_EQ(sender.out, "1260\n");
    EXPECT_EQ(sender.err.rfind("[QuorvellaPlayer] Port \"NOPE\" could not be found!\n", 0), 0u)
        << sender.err;
    EXPECT_EQ(sender.status, 20);
}

}  // namespace
}  // namespace qv::testing

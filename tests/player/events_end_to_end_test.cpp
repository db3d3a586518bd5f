// End to end through the player on the headless back end: a script's intervals and timeout
// served by WaitEvent on the system's clock, handlers served while Wait and WaitTimer wait,
// and a message from one player to another's user port.
#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class Events : public EndToEndTest {
protected:
    std::string Input(const std::string& text) {
        std::ofstream(scratch / "input.txt") << text;
        return "QV_HEADLESS_INPUT=" + (scratch / "input.txt");
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

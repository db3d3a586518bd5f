// End to end through the player on the headless back end: a script's intervals and timeout
// served by WaitEvent on the system's clock, and the stand-in display's input reaching its
// handlers.
#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class Events : public EndToEndTest {};

TEST_F(Events, IntervalsAndATimeoutRunInOrderAndEndTheLoop) {
    Applet("timed.qva", "timed_calls");
    Expect(Player({"timed.qva", "-QUIET"}),
           "Interval 1\nInterval 1\nInterval 1\nInterval 2\nInterval 3\nTimeout 4\ndone\n", "", 0);
}

}  // namespace
}  // namespace qv::testing

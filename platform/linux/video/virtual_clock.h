// The clock of reproducible headless runs (QV_HEADLESS_CLOCK=virtual): time moves only when
// the run waits, and then at once to the wait's end, so that two runs of one applet see the
// same times, draw the same frames and take no real time to wait. The wall clock starts at
// 2026-01-01 00:00:00 UTC. A wait on host input ends at the frame of the next scheduled input
// (video.h's frames follow this clock); a wait that nothing can end ends the run as Ctrl-C
// does, with a line on standard error, where the system's clock would wait forever.
#pragma once

namespace qv {

// Reads QV_HEADLESS_CLOCK: unset or empty keeps the system's clock, "virtual" installs the
// virtual one; false for any other value.
bool StartHeadlessClock();
// Goes back to the system's clock.
void StopHeadlessClock();

}  // namespace qv

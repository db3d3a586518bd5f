// Run and Execute: other programs started from a command line, a program linked into the
// applet first extracted to a temporary file of the run (once, then reused).
#pragma once

#include "engine/vm.h"

namespace qv {

// line: the program (in double quotes when it holds blanks), then its arguments.
// asynchronous: Run (the program runs on detached) or Execute (waits for it).
int RunCommandLine(qvVmState* L, const char* line, int asynchronous);

int Run(qvVmState* L);
int Execute(qvVmState* L);

}  // namespace qv

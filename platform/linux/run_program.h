// Starting other programs: through /bin/sh, so that the argument text keeps its shell
// meaning, with the program name quoted so that names with blanks stay one word.
#pragma once

// Runs program (a host path or a name found on PATH) with the argument text appended
// unchanged (none: no arguments). Asynchronous runs detach (a session of their own, standard
// streams on /dev/null, never a zombie); synchronous runs return when the program has ended.
// Returns 0, or ERR_MEM when no process could be made (memory or process limits).
int RunProgram(const char* program, const char* arguments, int asynchronous);

// Start-up and shutdown of the platform layer and the running program's own path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/abort_flag.h"

struct qvVmState;

// Opens what the platform needs; 0 or an error code (PlatformStartupDetail names what
// failed). Installs the Ctrl-C (SIGINT) handler, which sets the abort flag given to
// SetInterruptTarget while run-time option 8 ("Ctrl-C quits") is on, and the SIGTERM and
// SIGHUP handlers, which always set it (a SIGHUP that the starter ignores stays ignored), and
// starts the video back end (platform/linux/video/video.h).
int PlatformStartup();
// Closes what the platform opened: the last call of a run. Presents and closes the windows,
// stops the video back end, restores the previous signal handling, flushes the standard
// streams and deletes the run's temporary directory (or, when "T:" is overridden, the run's
// files in it). The layer can be started again afterwards, as tests do.
void PlatformShutdown();
// The engine's panic function: an error raised outside every protected call ends the process
// (status 20) after this has deleted the run's temporary files.
int PlatformPanic(qvVmState* L);

// The running program's full path into out (kPathBufferSize bytes); non-zero on success.
int GetProgramPath(char* out, size_t size);

namespace qv {

// The flag that Ctrl-C sets; nullptr: none.
void SetInterruptTarget(AbortFlag* flag);
// Run-time option 8: whether Ctrl-C ends the program (on at start-up).
void SetCtrlCQuits(bool on);
// Run-time options 9 and 10: whether a held left mouse button or the Escape key ends the
// program (off at start-up); the input pump reads them.
void SetLeftMouseQuits(bool on);
void SetEscapeQuits(bool on);
bool LeftMouseQuits();
bool EscapeQuits();
// The text argument of PlatformStartup's error (the file or back end that failed), or "".
const char* PlatformStartupDetail();

}  // namespace qv

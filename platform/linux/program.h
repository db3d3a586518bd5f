// Start-up and shutdown of the platform layer and the running program's own path.
#pragma once

#include <cstddef>

// Opens what the platform needs; 0 or an error code.
int PlatformStartup();
// Closes what the platform opened: the last call of a run. Deletes the run's temporary
// directory (or, when "T:" is overridden, the run's files in it). The layer can be started
// again afterwards, as tests do.
void PlatformShutdown();

// The running program's full path into out (kPathBufferSize bytes); non-zero on success.
int GetProgramPath(char* out, size_t size);

// The core's support services as a whole: made once at start-up, before the command libraries
// register, and freed at shutdown after every library freed its objects.
#pragma once

// Makes the event queue and its semaphore and the shared text buffer, and sets the script
// source name to "?". Returns 0, ERR_MEM or ERR_SEMAPHORE; what was made before a failure is
// freed by FreeSupport.
int InitSupport();
// Frees the attribute-handler chains, the command-table registry, the script-registered error
// texts, the object registry, the event queue with every entry's extra block, and the text
// buffer. Safe without InitSupport and twice.
void FreeSupport();

namespace qv {

inline constexpr int kSupportTextSize = 1024;

// The shared text buffer of kSupportTextSize bytes; nullptr outside InitSupport and
// FreeSupport.
char* SupportTextBuffer();

}  // namespace qv

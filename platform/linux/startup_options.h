// Settings that the command line hands to the platform. There are no public screens on this
// platform and it always renders in software, so both calls only record their value for the
// display code (and for tests).
#pragma once

#include <cstddef>

// Records the name of the public screen to open windows on; 0, or ERR_PUBSCREEN for a name
// longer than kPubScreenNameSize - 1 (the caller stores the name as the message argument).
int LockDefaultPubScreen(const char* name);
// Records the software-rendering mode: 1, or the "WPAMODE" number.
void SetSoftwareRendering(int value);

namespace qv {

inline constexpr size_t kPubScreenNameSize = 256;

// "" until a screen was locked.
const char* DefaultPubScreenName();
// 0 until software rendering was chosen.
int SoftwareRenderingMode();

// Forgets both (the next run starts without them).
void ResetStartupOptionSeams();

}  // namespace qv

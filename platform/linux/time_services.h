// Time services beside the system time of time.h that the plugins' service table offers:
// comparing times, sleeping, and the full date text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/time.h"

// -1, 0 or 1 as a is earlier than, equal to or later than b.
int TimerCmpTime(const qvTimeVal* a, const qvTimeVal* b);
// Sleeps for that many milliseconds (signals do not cut it short).
void DelayMillis(uint32_t milliseconds);
// The current local time as "DD-Mon-YY HH:MM:SS" (English month names) into buffer, cut to
// size - 1 characters.
void FormatFullDate(char* buffer, size_t size);

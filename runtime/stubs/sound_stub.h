// The least of the sound library until it is built: it registers its name and keeps the two
// run-time attributes it owns, 3 (no sound) and 4 (master volume).
#pragma once

#include <cstdint>

#include "engine/vm.h"

int RegisterSoundLibrary(qvVmState* L);
// The attribute handlers; non-zero when they took the tag.
int SoundSetAttr(qvVmState* L, uint32_t tag, int32_t value);
int SoundGetAttr(qvVmState* L, uint32_t tag, int32_t* value);

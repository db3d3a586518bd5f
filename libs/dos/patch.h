// ApplyPatch: a destination rebuilt from a source and an XOR patch, byte by byte.
#pragma once

#include "engine/vm.h"

namespace qv {

int ApplyPatch(qvVmState* L);

}  // namespace qv

// Stands in for the interpreter until it lands: script frames cannot run yet.
#include "engine/internal.h"

qvValue* VmExecute(qvVmState* L) {
    RaiseError(L, ERR_INTERNAL);
}

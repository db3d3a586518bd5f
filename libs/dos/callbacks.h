// Script callbacks of the long dos operations (copy, delete, patch): one table argument,
// called as a protected call with the run-time's nested-callback counter raised.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/vm.h"

namespace qv {

struct CallbackResult {
    int code = 0;           // the callback's error code, or 0
    bool isNumber = false;  // whether it returned a number
    int32_t value = 0;      // that number as an integer (0 when it is none)
};

// Calls the function at funcIdx with a new table that fill completes (the table is on top of
// the stack while fill runs). The stack is left as it was.
CallbackResult CallDosCallback(qvVmState* L, int funcIdx, const std::function<void()>& fill);

// Whether the run-time's abort flag is set (Ctrl-C, a close request, End).
bool AbortRequested();

// Adds key = value to the table on top of the stack.
void SetField(qvVmState* L, const char* key, double value);
void SetField(qvVmState* L, const char* key, const char* value);

}  // namespace qv

// Helpers for tests that drive the engine through its stack interface, as commands do.
#pragma once

#include <functional>
#include <string>

#include "engine/api_internal.h"
#include "engine/host.h"
#include "tests/engine/engine_test_support.h"

namespace qv::testing {

inline MinimalHost& Minimal(qvVmState* L) {
    return static_cast<MinimalHost&>(Host(L));
}

// A handler body; RunAsCommand calls it as a command with the values already pushed.
using Body = std::function<int(qvVmState*)>;

inline const Body*& CurrentBody() {
    static const Body* body = nullptr;
    return body;
}

inline int BodyTrampoline(qvVmState* L) {
    return (*CurrentBody())(L);
}

// Calls body as a command with the nargs values on top of the stack as its arguments, under
// VmPCall; returns the status.
inline int RunAsCommand(qvVmState* L, const Body& body, int nargs = 0, int nresults = 0) {
    const Body* previous = CurrentBody();
    CurrentBody() = &body;
    VmPushCClosure(L, BodyTrampoline, 0);
    VmInsert(L, -(nargs + 1));
    int status = VmPCall(L, nargs, nresults, 0);
    CurrentBody() = previous;
    return status;
}

inline std::string StringAt(qvVmState* L, int idx) {
    size_t len = 0;
    const char* s = VmToString(L, idx);
    if (s == nullptr) return "<not a string>";
    len = VmStrLen(L, idx);
    return std::string(s, len);
}

// Makes f the global name (lower-cased as registration does it).
inline void RegisterGlobal(qvVmState* L, const char* name, qvCFunction f) {
    const qvCommandEntry rows[] = {{name, f}, {nullptr, nullptr}};
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, rows, 0);
    VmSetTop(L, -2);
}

// Pushes the global name and calls it under protection.
inline int CallGlobal(qvVmState* L, const char* name, int nargs, int nresults) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    VmInsert(L, -(nargs + 1));
    return VmPCall(L, nargs, nresults, 0);
}

}  // namespace qv::testing

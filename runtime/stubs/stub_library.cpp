#include "runtime/stubs/stub_library.h"

#include "runtime/exports.h"

namespace qv {
namespace {

constexpr qvCommandEntry kNoCommands[] = {{nullptr, nullptr}};

}  // namespace

int RegisterStubLibrary(qvVmState* L, const char* name) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kNoCommands, 0);
    return RegisterCommandTable(kNoCommands, name);
}

void NoCleanup(qvVmState*) {}

}  // namespace qv

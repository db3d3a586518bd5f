// Serialised records come from files anywhere: any bytes must read as a table or function
// or fail with an error code, allocating no more than the record can hold. Input: a flag byte
// (bit 0: ReadFunction, else ReadTable; bit 1: unbuffered I/O), then the file's bytes, served
// from memory.
#include <cstddef>
#include <cstdint>

#include "libs/dos/dos_library.h"
#include "platform/linux/files.h"
#include "runtime/exports.h"
#include "runtime/objects.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"

namespace {

int Call(qvVmState* L, const char* name, int nargs, const double* args) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    for (int i = 0; i < nargs; ++i) VmPushNumber(L, args[i]);
    return VmPCall(L, nargs, 0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // A fresh engine per input, closed at its end, so that whatever a record leaves behind is
    // a leak of its own.
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    qv::Runtime().quiet = 1;
    VmCPCall(L, RegisterDosLibrary, nullptr);
    qv::ScopedMemoryWindow window(data + 1, size - 1, ":::fuzzrecord");
    const double mode[] = {static_cast<double>((data[0] >> 1) & 1)};
    Call(L, "setiomode", 1, mode);
    VmSetTop(L, 0);
    VmPushString(L, "openfile");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushNumber(L, 1);
    VmPushString(L, ":::fuzzrecord");
    if (VmPCall(L, 2, 0, 0) == 0) {
        const double file[] = {1};
        Call(L, (data[0] & 1) ? "readfunction" : "readtable", 1, file);
        Call(L, "closefile", 1, file);
    }
    FreeDosObjects(L);
    VmClose(L);
    qv::FreeObjectRegistry();
    qv::FreeCommandTables();
    return 0;
}

// Compiled chunks come from applet files and the network: any bytes must load or be refused
// with a status, and a chunk that loads must dump to bytes that load and dump the same again.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "engine/vm.h"

namespace {

bool LoadAndDump(qvVmState* L, std::span<const uint8_t> bytes, std::vector<uint8_t>* dump) {
    if (qv::LoadChunk(L, bytes, "=fuzz") != 0) return false;
    bool dumped = qv::DumpFunction(L, -1, dump) == 0;
    VmSetTop(L, 0);
    return dumped;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvVmState* L = VmOpen();
    if (L == nullptr) return 0;
    std::vector<uint8_t> first, second;
    if (LoadAndDump(L, {data, size}, &first)) {
        if (!LoadAndDump(L, first, &second) || first != second) std::abort();
    }
    VmClose(L);
    return 0;
}

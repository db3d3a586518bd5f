// Packed files come from anywhere: any bytes must unpack or fail with an error code.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "libs/dos/pack.h"
#include "runtime/runtime_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/qv-fuzz-unpack-" + std::to_string(getpid());
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    uint32_t unpacked;
    UnpackFile("QVPK", path.c_str(), "/dev/null", 0, &unpacked);
    qv::ResetRuntimeState();
    std::remove(path.c_str());
    return 0;
}

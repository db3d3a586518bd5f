// Applet files come from anywhere: any bytes must load or fail with an error code, reading
// and allocating nothing beyond the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/linux/program.h"
#include "runtime/applet_loader.h"
#include "tests/runtime/loader_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/qv-fuzz-applet-" + std::to_string(getpid()) + ".qva";
    // The loader moves into the applet's directory; the fuzzer's relative corpus paths and
    // the next input need the directory it started in.
    static const std::filesystem::path home = std::filesystem::current_path();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    qvVmState* L = VmOpen();
    {
        qv::testing::LoaderRecords records(L);
        qv::Runtime().quiet = 1;
        path.copy(records.options->appletPath, sizeof records.options->appletPath - 1);
        LoadApplet(L, records.options, records.header);
    }
    VmClose(L);
    qv::ResetRuntimeState();
    PlatformShutdown();  // the temporary files of compressed applets
    std::remove(path.c_str());
    std::filesystem::current_path(home);
    return 0;
}

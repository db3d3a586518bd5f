// Times the dos library's whole-file and line commands: qvdosbench BIGFILE TEXTFILE OUTDIR.
//
// filetostring reads BIGFILE with FileToString, stringtofile writes that string to
// OUTDIR/copy.bin with StringToFile, filelines runs the FileLines iterator over TEXTFILE and
// writeline calls WriteLine 10^6 times. Every workload runs once to warm up and then five
// times; the median is printed with a checksum that the peer must reproduce:
// "ID SECONDS CHECKSUM".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "libs/dos/dos_library.h"
#include "runtime/runtime_host.h"

namespace {

constexpr int kLines = 1000000;

void PushGlobal(qvVmState* L, const char* name) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
}

// Median seconds of the last five of six runs of work, which returns its checksum or "".
bool Time(const char* id, const std::function<std::string()>& work) {
    std::vector<double> seconds;
    std::string checksum;
    for (int run = 0; run < 6; ++run) {
        const auto start = std::chrono::steady_clock::now();
        checksum = work();
        const auto stop = std::chrono::steady_clock::now();
        if (checksum.empty()) {
            std::fprintf(stderr, "qvdosbench: %s failed\n", id);
            return false;
        }
        if (run > 0) seconds.push_back(std::chrono::duration<double>(stop - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%s %.9f %s\n", id, seconds[2], checksum.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: qvdosbench BIGFILE TEXTFILE OUTDIR\n");
        return 1;
    }
    const std::string big = argv[1], text = argv[2], copy = std::string(argv[3]) + "/copy.bin",
                      lines = std::string(argv[3]) + "/lines.txt";
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    if (VmCPCall(L, RegisterDosLibrary, nullptr) != 0) return 1;
    // The string read last stays at index 1 for the write.
    auto readAll = [&]() -> std::string {
        VmSetTop(L, 0);
        PushGlobal(L, "filetostring");
        VmPushString(L, big.c_str());
        if (VmPCall(L, 1, 1, 0) != 0) return "";
        return std::to_string(VmStrLen(L, 1));
    };
    auto writeAll = [&]() -> std::string {
        VmSetTop(L, 1);
        PushGlobal(L, "stringtofile");
        VmPushValue(L, 1);
        VmPushString(L, copy.c_str());
        return VmPCall(L, 2, 0, 0) == 0 ? std::to_string(VmStrLen(L, 1)) : "";
    };
    auto fileLines = [&]() -> std::string {
        VmSetTop(L, 0);
        PushGlobal(L, "filelines");
        VmPushString(L, text.c_str());
        if (VmPCall(L, 1, 1, 0) != 0) return "";
        size_t count = 0, bytes = 0;
        for (;;) {
            VmPushValue(L, 1);
            if (VmPCall(L, 0, 1, 0) != 0) return "";
            if (VmType(L, -1) != VM_TSTRING) break;
            ++count;
            bytes += VmStrLen(L, -1);
            VmSetTop(L, 1);
        }
        return std::to_string(count) + "," + std::to_string(bytes);
    };
    auto writeLines = [&]() -> std::string {
        VmSetTop(L, 0);
        PushGlobal(L, "openfile");
        VmPushNumber(L, 1);
        VmPushString(L, lines.c_str());
        VmPushNumber(L, QV_MODE_WRITE);
        if (VmPCall(L, 3, 0, 0) != 0) return "";
        VmPushString(L, "a line of text of moderate length");
        for (int i = 0; i < kLines; ++i) {
            PushGlobal(L, "writeline");
            VmPushNumber(L, 1);
            VmPushValue(L, 1);
            if (VmPCall(L, 2, 0, 0) != 0) return "";
        }
        PushGlobal(L, "filepos");
        VmPushNumber(L, 1);
        if (VmPCall(L, 1, 1, 0) != 0) return "";
        std::string size = std::to_string(static_cast<long long>(VmToNumber(L, -1)));
        PushGlobal(L, "closefile");
        VmPushNumber(L, 1);
        return VmPCall(L, 1, 0, 0) == 0 ? size : "";
    };
    bool ok = Time("filetostring", readAll) && Time("stringtofile", writeAll) &&
              Time("filelines", fileLines) && Time("writeline", writeLines);
    VmSetTop(L, 0);
    FreeDosObjects(L);
    VmClose(L);
    return ok ? 0 : 1;
}

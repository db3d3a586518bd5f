// Times the dos and memblock commands: qvdosbench BIGFILE TEXTFILE GIANTFILE OUTDIR.
//
// filetostring reads BIGFILE with FileToString, stringtofile writes that string to
// OUTDIR/copy.bin with StringToFile, filelines runs the FileLines iterator over TEXTFILE and
// writeline calls WriteLine 10^6 times. copyfile copies GIANTFILE into OUTDIR/copies (and
// copyfilecb with a status callback), copymem and fillmem copy and fill 256 MiB blocks,
// serialize writes and reads back a table of 10^6 numbers, applypatch patches
// OUTDIR/patch-source.bin with OUTDIR/patch.bin. Every workload runs once to warm up and then
// five times; the median is printed with a checksum that the peer must reproduce:
// "ID SECONDS CHECKSUM".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "libs/dos/dos_library.h"
#include "libs/memblock/memblock_library.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"

namespace {

constexpr int kLines = 1000000;
constexpr double kBlockSize = 256 << 20;
constexpr int kTableItems = 1000000;

void PushGlobal(qvVmState* L, const char* name) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
}

// Calls the global name with number and string arguments; 0 or the error code, with
// nresults results left on the stack.
int CallGlobal(qvVmState* L, const char* name, std::initializer_list<std::string> args,
               int nresults = 0) {
    PushGlobal(L, name);
    for (const std::string& a : args) {
        char* end = nullptr;
        double n = std::strtod(a.c_str(), &end);
        if (!a.empty() && *end == '\0') {
            VmPushNumber(L, n);
        } else {
            VmPushString(L, a.c_str());
        }
    }
    return VmPCall(L, static_cast<int>(args.size()), nresults, 0);
}

std::string NumberResult(qvVmState* L) {
    std::string text = std::to_string(static_cast<long long>(VmToNumber(L, -1)));
    VmSetTop(L, 0);
    return text;
}

// Median seconds of the last five of six runs of work, which returns its checksum or "";
// prepare runs untimed before each.
bool Time(const char* id, const std::function<std::string()>& work,
          const std::function<void()>& prepare = {}) {
    std::vector<double> seconds;
    std::string checksum;
    for (int run = 0; run < 6; ++run) {
        if (prepare) prepare();
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

bool TimeWholeFiles(qvVmState* L, const std::string& big, const std::string& text,
                    const std::string& dir) {
    const std::string copy = dir + "/copy.bin", lines = dir + "/lines.txt";
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
    return Time("filetostring", readAll) && Time("stringtofile", writeAll) &&
           Time("filelines", fileLines) && Time("writeline", writeLines);
}

int ContinueCopy(qvVmState* L) {
    VmPushNumber(L, 0);
    return 1;
}

// WriteTable and ReadTable of {0 = 0, 1 = 0.5, ...}; the checksum is twice the last value.
bool TimeSerialiser(qvVmState* L, const std::string& dir) {
    const std::string file = dir + "/table.bin";
    VmSetTop(L, 0);
    VmPushString(L, "bigtable");
    VmNewTable(L);
    for (int i = 0; i < kTableItems; ++i) {
        VmPushNumber(L, i * 0.5);
        VmRawSetI(L, -2, i);
    }
    VmSetTable(L, VM_GLOBALSINDEX);
    auto roundTrip = [&]() -> std::string {
        VmSetTop(L, 0);
        if (CallGlobal(L, "openfile", {"3", file, std::to_string(QV_MODE_WRITE)}) != 0) return "";
        PushGlobal(L, "writetable");
        VmPushNumber(L, 3);
        PushGlobal(L, "bigtable");
        if (VmPCall(L, 2, 0, 0) != 0 || CallGlobal(L, "closefile", {"3"}) != 0 ||
            CallGlobal(L, "openfile", {"3", file}) != 0 ||
            CallGlobal(L, "readtable", {"3"}, 1) != 0) {
            return "";
        }
        VmRawGetI(L, -1, kTableItems - 1);
        std::string sum = std::to_string(static_cast<long long>(VmToNumber(L, -1) * 2));
        VmSetTop(L, 0);
        return CallGlobal(L, "closefile", {"3"}) == 0 ? sum : "";
    };
    return Time("serialize", roundTrip);
}

// ApplyPatch of the runner's 16 MiB files; the checksum is the patched file's size.
bool TimePatch(qvVmState* L, const std::string& dir) {
    const std::string out = dir + "/patched.bin";
    auto patch = [&]() -> std::string {
        VmSetTop(L, 0);
        bool ok = CallGlobal(L, "openfile", {"4", dir + "/patch-source.bin"}) == 0 &&
                  CallGlobal(L, "openfile", {"5", dir + "/patch.bin"}) == 0 &&
                  CallGlobal(L, "openfile", {"6", out, std::to_string(QV_MODE_WRITE)}) == 0 &&
                  CallGlobal(L, "applypatch", {"4", "5", "6"}) == 0 &&
                  CallGlobal(L, "closefile", {"6"}) == 0 &&
                  CallGlobal(L, "closefile", {"5"}) == 0 && CallGlobal(L, "closefile", {"4"}) == 0;
        return ok && CallGlobal(L, "filesize", {out}, 1) == 0 ? NumberResult(L) : "";
    };
    return Time("applypatch", patch);
}

bool TimeEngines(qvVmState* L, const std::string& giant, const std::string& dir) {
    const std::string copies = dir + "/copies", copied = copies + "/giant.bin";
    auto removeCopy = [&] {
        VmSetTop(L, 0);
        CallGlobal(L, "deletefile", {copied});
    };
    auto copy = [&](bool callback) {
        return [&, callback]() -> std::string {
            VmSetTop(L, 0);
            PushGlobal(L, "copyfile");
            VmPushString(L, giant.c_str());
            VmPushString(L, copies.c_str());
            VmPushNil(L);
            if (callback) VmPushCClosure(L, ContinueCopy, 0);
            if (VmPCall(L, callback ? 4 : 3, 0, 0) != 0) return "";
            return CallGlobal(L, "filesize", {copied}, 1) == 0 ? NumberResult(L) : "";
        };
    };
    const std::string size = std::to_string(static_cast<long long>(kBlockSize));
    bool blocks = CallGlobal(L, "allocmem", {"1", size}) == 0 &&
                  CallGlobal(L, "allocmem", {"2", size}) == 0 &&
                  CallGlobal(L, "fillmem", {"1", "7", size}) == 0;
    auto copyMem = [&]() -> std::string {
        if (CallGlobal(L, "copymem", {"1", "2", size}) != 0) return "";
        return CallGlobal(L, "peek", {"2", std::to_string(kBlockSize - 4)}, 1) == 0
                   ? NumberResult(L)
                   : "";
    };
    auto fillMem = [&]() -> std::string {
        if (CallGlobal(L, "fillmem", {"1", "171", size}) != 0) return "";
        return CallGlobal(L, "peek", {"1", "0"}, 1) == 0 ? NumberResult(L) : "";
    };
    return blocks && Time("copyfile", copy(false), removeCopy) &&
           Time("copyfilecb", copy(true), removeCopy) && Time("copymem", copyMem) &&
           Time("fillmem", fillMem) && TimeSerialiser(L, dir) && TimePatch(L, dir);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: qvdosbench BIGFILE TEXTFILE GIANTFILE OUTDIR\n");
        return 1;
    }
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    qv::Runtime().quiet = 1;  // no "Opening file" progress lines among the figures
    if (VmCPCall(L, RegisterDosLibrary, nullptr) != 0 ||
        VmCPCall(L, RegisterMemBlockLibrary, nullptr) != 0) {
        return 1;
    }
    bool ok = TimeWholeFiles(L, argv[1], argv[2], argv[4]) && TimeEngines(L, argv[3], argv[4]);
    VmSetTop(L, 0);
    FreeDosObjects(L);
    FreeAllMemBlocks(L);
    VmClose(L);
    return ok ? 0 : 1;
}

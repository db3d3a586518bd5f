// Times the string library's commands on large inputs: qvstrbench DATADIR LISTING.
//
// DATADIR holds the inputs that bench/string/run_string_bench.py writes (random64.bin,
// text16.txt, digits16.txt, big256.bin); LISTING is the FormatStr loop. Each workload is
// called as a script calls a command, once to warm up and then five times; the median time
// is printed with a checksum of the result that the peers must reproduce:
// "ID SECONDS CHECKSUM".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/convert.h"
#include "libs/string/checksum.h"
#include "libs/string/string_library.h"
#include "runtime/runtime_host.h"
#include "tools/qvasm/qvasm.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An argument: a global holding a data file, or a literal string.
struct BenchArg {
    bool global;
    std::string text;
};

struct Workload {
    std::string id;
    std::string command;
    std::vector<BenchArg> args;
};

// Strings by length and CRC-32, numbers by "%.14g".
std::string Checksum(qvVmState* L, int idx) {
    if (VmType(L, idx) == VM_TSTRING) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(VmToString(L, idx));
        const size_t length = VmStrLen(L, idx);
        return std::to_string(length) + ":" + std::to_string(qv::Crc32Update(0, bytes, length));
    }
    char text[qv::kNumberTextSize];
    return std::string(text, qv::FormatNumber(VmToNumber(L, idx), text));
}

// Runs the call that push prepares five times after a warm-up; the median and the checksum
// of the last result.
template <typename Push>
bool Time(qvVmState* L, const char* id, Push push) {
    std::vector<double> seconds;
    std::string checksum;
    for (int run = 0; run < 6; ++run) {
        VmSetTop(L, 0);
        const int nargs = push();
        const auto start = std::chrono::steady_clock::now();
        const int status = VmPCall(L, nargs, 1, 0);
        const auto stop = std::chrono::steady_clock::now();
        if (status != 0) {
            std::fprintf(stderr, "qvstrbench: %s failed with %d\n", id, status);
            return false;
        }
        if (run > 0) seconds.push_back(std::chrono::duration<double>(stop - start).count());
        checksum = Checksum(L, -1);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%s %.9f %s\n", id, seconds[2], checksum.c_str());
    return true;
}

// MD5 and CRC32 of files belong to the dos library's table; here they are globals of their
// own.
int RegisterCommands(qvVmState* L) {
    static constexpr qvCommandEntry kFileChecksums[] = {
        {"MD5", MD5},
        {"CRC32", CRC32},
        {nullptr, nullptr},
    };
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kFileChecksums, 0);
    VmSetTop(L, -2);
    return RegisterStringLibrary(L);
}

void SetGlobalString(qvVmState* L, const char* name, const std::string& bytes) {
    VmPushString(L, name);
    VmPushLString(L, bytes.data(), bytes.size());
    VmSetTable(L, VM_GLOBALSINDEX);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qvstrbench DATADIR LISTING\n");
        return 1;
    }
    const std::string dir = argv[1];
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    VmCPCall(L, RegisterCommands, nullptr);
    SetGlobalString(L, "random64", ReadFile(dir + "/random64.bin"));
    SetGlobalString(L, "text16", ReadFile(dir + "/text16.txt"));
    SetGlobalString(L, "digits16", ReadFile(dir + "/digits16.txt"));
    static const char* const kNeedles[] = {" ", "th", "the", "data"};
    static const char* const kAbsent[] = {"~", "~~", "~~~", "~~~~"};
    std::vector<Workload> workloads = {
        {"md5str", "md5str", {{true, "random64"}}},
        {"crc32str", "crc32str", {{true, "random64"}}},
        {"md5file", "md5", {{false, dir + "/big256.bin"}}},
        {"crc32file", "crc32", {{false, dir + "/big256.bin"}}},
    };
    for (int n = 0; n < 4; ++n) {
        const std::string suffix = std::to_string(n + 1);
        workloads.push_back({"replace" + suffix,
                             "replacestr",
                             {{true, "text16"}, {false, kNeedles[n]}, {false, "X"}}});
        workloads.push_back(
            {"count" + suffix, "countstr", {{true, "text16"}, {false, kNeedles[n]}}});
        workloads.push_back({"find" + suffix, "findstr", {{true, "text16"}, {false, kAbsent[n]}}});
    }
    workloads.push_back({"patternreplace",
                         "patternreplacestr",
                         {{true, "digits16"}, {false, "%d+"}, {false, "#"}}});

    for (const Workload& w : workloads) {
        const bool ok = Time(L, w.id.c_str(), [&] {
            VmPushString(L, w.command.c_str());
            VmGetTable(L, VM_GLOBALSINDEX);
            for (const BenchArg& a : w.args) {
                if (a.global) {
                    VmPushString(L, a.text.c_str());
                    VmGetTable(L, VM_GLOBALSINDEX);
                } else {
                    VmPushLString(L, a.text.data(), a.text.size());
                }
            }
            return static_cast<int>(w.args.size());
        });
        if (!ok) return 1;
    }

    VmClose(L);
    // The loop runs in an engine of its own, without the large inputs above, whose size
    // would only stretch the collector's cycles.
    L = VmOpen();
    qv::InstallRuntimeHost(L);
    VmCPCall(L, RegisterCommands, nullptr);
    const qv::AssembleResult loop = qv::Assemble(ReadFile(argv[2]));
    if (!loop.ok() || qv::LoadChunk(L, loop.bytes, "=format_loop") != 0) {
        std::fprintf(stderr, "qvstrbench: the FormatStr loop does not load\n");
        return 1;
    }
    VmPushString(L, "format loop");
    VmInsert(L, -2);
    VmSetTable(L, VM_REGISTRYINDEX);
    const bool ok = Time(L, "formatloop", [&] {
        VmPushString(L, "format loop");
        VmGetTable(L, VM_REGISTRYINDEX);
        return 0;
    });
    VmClose(L);
    return ok ? 0 : 1;
}

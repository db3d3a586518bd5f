// Times Sort and a loop of bit commands: qvsysbench LISTINGDIR.
//
// Sort gets 10^6 numbers ((i * 2654435761) mod 2^32 / 2^32, the same in the Python peer),
// without a comparator and with the assembled a < b of less_than.qvs; bit_loop.qvs runs
// BitXor, Rol and Shl 10^6 times each. Every workload runs once to warm up and then five
// times; the median is printed with a checksum that the peer must reproduce:
// "ID SECONDS CHECKSUM".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/convert.h"
#include "libs/math/math_library.h"
#include "libs/system/system_library.h"
#include "runtime/runtime_host.h"
#include "tools/qvasm/qvasm.h"

namespace {

constexpr int kItems = 1000000;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Number(double x) {
    char text[qv::kNumberTextSize];
    return std::string(text, qv::FormatNumber(x, text));
}

// Pushes the main function of a listing; false when it does not assemble or load.
bool PushListing(qvVmState* L, const std::string& path) {
    const qv::AssembleResult chunk = qv::Assemble(ReadFile(path));
    return chunk.ok() && qv::LoadChunk(L, chunk.bytes, "=bench") == 0;
}

void PushNumbers(qvVmState* L) {
    VmNewTable(L);
    for (int i = 0; i < kItems; ++i) {
        VmPushNumber(L,
                     static_cast<double>((uint64_t{2654435761} * i) % 4294967296) / 4294967296.0);
        VmRawSetI(L, -2, i);
    }
}

// Runs the call that prepare pushes (function and arguments, nargs returned) six times; the
// median of the last five and the checksum of what check reads afterwards.
bool Time(qvVmState* L, const char* id, const std::function<int()>& prepare,
          const std::function<std::string()>& check) {
    std::vector<double> seconds;
    std::string checksum;
    for (int run = 0; run < 6; ++run) {
        VmSetTop(L, 0);
        const int nargs = prepare();
        const auto start = std::chrono::steady_clock::now();
        const int status = VmPCall(L, nargs, 1, 0);
        const auto stop = std::chrono::steady_clock::now();
        if (status != 0) {
            std::fprintf(stderr, "qvsysbench: %s failed with %d\n", id, status);
            return false;
        }
        if (run > 0) seconds.push_back(std::chrono::duration<double>(stop - start).count());
        checksum = check();
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%s %.9f %s\n", id, seconds[2], checksum.c_str());
    return true;
}

int RegisterLibraries(qvVmState* L) {
    return RegisterMathLibrary(L) != 0 || RegisterSystemLibrary(L) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qvsysbench LISTINGDIR\n");
        return 1;
    }
    const std::string dir = argv[1];
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    if (VmCPCall(L, RegisterLibraries, nullptr) != 0) return 1;
    // The comparator and the loop live in the registry between runs; the table sorted last
    // in a global, so that the check can read it.
    if (!PushListing(L, dir + "/less_than.qvs") || VmPCall(L, 0, 1, 0) != 0) return 1;
    const int less = MakeRef(L, VM_REGISTRYINDEX);
    if (!PushListing(L, dir + "/bit_loop.qvs")) return 1;
    const int loop = MakeRef(L, VM_REGISTRYINDEX);

    auto prepareSort = [&](bool withComparator) {
        return [&, withComparator] {
            VmPushString(L, "sort");
            VmGetTable(L, VM_GLOBALSINDEX);
            PushNumbers(L);
            VmPushString(L, "sorted");
            VmPushValue(L, -2);
            VmSetTable(L, VM_GLOBALSINDEX);
            if (!withComparator) return 1;
            VmRawGetI(L, VM_REGISTRYINDEX, less);
            return 2;
        };
    };
    auto checkSorted = [&] {
        VmPushString(L, "sorted");
        VmGetTable(L, VM_GLOBALSINDEX);
        std::string sum;
        for (int i : {0, kItems / 2, kItems - 1}) {
            VmRawGetI(L, -1, i);
            sum += (sum.empty() ? "" : ",") + Number(VmToNumber(L, -1));
            VmSetTop(L, -2);
        }
        return sum;
    };
    bool ok = Time(L, "sort", prepareSort(false), checkSorted) &&
              Time(L, "sortcompare", prepareSort(true), checkSorted) &&
              Time(
                  L, "bitloop",
                  [&] {
                      VmRawGetI(L, VM_REGISTRYINDEX, loop);
                      return 0;
                  },
                  [&] { return Number(VmToNumber(L, -1)); });
    VmClose(L);
    return ok ? 0 : 1;
}

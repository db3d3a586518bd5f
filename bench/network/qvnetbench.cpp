// Times the network commands as a script calls them:
//   qvnetbench echo PORT TOTAL PIECE ROUNDS
//     against an echo peer: "transfer" sends TOTAL bytes with SendData in PIECE-byte pieces,
//     each read back with ReceiveData(RECEIVEBYTES) before the next goes out; "roundtrip"
//     runs ROUNDS one-byte SendData and RECEIVEBYTES pairs;
//   qvnetbench download ID URL [FILE]
//     DownloadFile of URL into memory, or into FILE.
// Each workload runs once to warm up and then three times; the median is printed with the
// number of bytes that came back: "ID SECONDS BYTES".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "libs/network/network_library.h"
#include "runtime/runtime_host.h"

namespace {

constexpr int kRuns = 4;

// Calls the global command name with the arguments that push pushes; the second result
// (ReceiveData's count) or the first (SendData's), or -1 when the call failed.
double CallCommand(qvVmState* L, const char* name, const std::function<int()>& push, int result) {
    VmSetTop(L, 0);
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    if (VmPCall(L, push(), 2, 0) != 0) return -1;
    return VmToNumber(L, result);
}

double Send(qvVmState* L, const std::string& data) {
    return CallCommand(
        L, "senddata",
        [&] {
            VmPushNumber(L, 1);
            VmPushLString(L, data.data(), data.size());
            return 2;
        },
        1);
}

double Receive(qvVmState* L, size_t count) {
    return CallCommand(
        L, "receivedata",
        [&] {
            VmPushNumber(L, 1);
            VmPushNumber(L, RECEIVEBYTES);
            VmPushNumber(L, double(count));
            return 3;
        },
        2);
}

// Runs work kRuns times; prints the median of all but the first run and the bytes of the last.
bool Time(const char* id, const std::function<double()>& work) {
    std::vector<double> seconds;
    double bytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        bytes = work();
        const auto stop = std::chrono::steady_clock::now();
        if (bytes < 0) {
            std::fprintf(stderr, "qvnetbench: %s failed\n", id);
            return false;
        }
        if (run > 0) seconds.push_back(std::chrono::duration<double>(stop - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%s %.9f %.0f\n", id, seconds[seconds.size() / 2], bytes);
    return true;
}

// The first result of DownloadFile's count, or -1.
double Download(qvVmState* L, const char* url, const char* file) {
    return CallCommand(
        L, "downloadfile",
        [&] {
            VmPushString(L, url);
            VmNewTable(L);
            if (file != nullptr) {
                VmPushString(L, "file");
                VmPushString(L, file);
                VmRawSet(L, -3);
            }
            return 2;
        },
        2);
}

bool Echo(qvVmState* L, int port, size_t total, size_t pieceSize, int rounds) {
    VmSetTop(L, 0);
    VmPushString(L, "openconnection");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushNumber(L, 1);
    VmPushString(L, "127.0.0.1");
    VmPushNumber(L, port);
    if (VmPCall(L, 3, 0, 0) != 0) return false;
    const std::string piece(pieceSize, 'x');
    return Time("transfer",
                [&] {
                    double back = 0;
                    for (size_t sent = 0; sent < total; sent += pieceSize) {
                        if (Send(L, piece) != double(pieceSize)) return -1.0;
                        const double got = Receive(L, pieceSize);
                        if (got < 0) return -1.0;
                        back += got;
                    }
                    return back;
                }) &&
           Time("roundtrip", [&] {
               double back = 0;
               for (int i = 0; i < rounds; ++i) {
                   if (Send(L, "x") != 1) return -1.0;
                   back += Receive(L, 1);
               }
               return back;
           });
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!(mode == "echo" && argc == 6) && !(mode == "download" && (argc == 4 || argc == 5))) {
        std::fprintf(stderr,
                     "usage: qvnetbench echo PORT TOTAL PIECE ROUNDS\n"
                     "       qvnetbench download ID URL [FILE]\n");
        return 1;
    }
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    if (VmCPCall(L, RegisterNetworkLibrary, nullptr) != 0) return 1;
    bool ok = false;
    if (mode == "echo") {
        ok = Echo(L, std::atoi(argv[2]), std::strtoull(argv[3], nullptr, 10),
                  std::strtoull(argv[4], nullptr, 10), std::atoi(argv[5]));
    } else {
        const char* file = argc == 5 ? argv[4] : nullptr;
        ok = Time(argv[2], [&] { return Download(L, argv[3], file); });
    }
    ShutdownNetwork(L);
    VmClose(L);
    return ok ? 0 : 1;
}

// Times a script workload: qvbench [--hook | --poll] FILE.qvs
//
// The listing is assembled and loaded once and its main function run once to warm up (and
// to define its globals). A listing that defines the globals "workload" (and optionally
// "setup") has workload timed five times, each after an untimed setup; otherwise main itself
// is timed five times. Prints the last line that report() wrote as "checksum TEXT" and the
// median time as "seconds S". --hook installs a line hook shaped like the run-time's idle
// input poll: one relaxed load of an atomic flag. --poll installs the player's own input poll
// (idle: no input is due on the headless back end).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/testsupport/commands.h"
#include "engine/testsupport/listing.h"
#include "scene/events/poll_events.h"
#include "tools/qvasm/qvasm.h"

namespace {

std::atomic<uint32_t> inputPending{0};

void IdlePollHook(qvVmState*, qvDebugRecord*, int* status) {
    if (inputPending.load(std::memory_order_relaxed) != 0) *status = 0;
}

int NoOp(qvVmState*) {
    return 0;
}

bool HasGlobalFunction(qvVmState* L, const char* name) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    bool found = VmType(L, -1) == VM_TFUNCTION;
    VmSetTop(L, -2);
    return found;
}

int CallGlobal(qvVmState* L, const char* name) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    return VmPCall(L, 0, 0, 0);
}

int Fail(const char* message, const std::string& detail) {
    std::fprintf(stderr, "qvbench: %s%s\n", message, detail.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool hook = argc == 3 && std::strcmp(argv[1], "--hook") == 0;
    const bool poll = argc == 3 && std::strcmp(argv[1], "--poll") == 0;
    if (argc != 2 && !hook && !poll) return Fail("usage: qvbench [--hook | --poll] FILE.qvs", "");
    const char* path = argv[argc - 1];
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    qv::AssembleResult assembled = qv::Assemble(text, {});
    if (!assembled.diagnostics.empty()) return Fail("assembly failed: ", path);

    std::vector<std::string> log;
    qv::MinimalListingHost host;
    qv::HarnessContext context{&host, &log};
    qvVmState* L = VmOpen();
    qv::SetEngineHost(L, &host.Engine());
    qv::RegisterHarnessCommands(L, &context);
    VmPushString(L, "noop");
    VmPushCClosure(L, NoOp, 0);
    VmSetTable(L, VM_GLOBALSINDEX);
    if (qv::LoadChunk(L, assembled.bytes, "=bench") != 0) return Fail("load failed: ", path);
    VmPushString(L, "bench main");
    VmPushValue(L, -2);
    VmSetTable(L, VM_REGISTRYINDEX);
    if (hook) VmSetHook(L, IdlePollHook, VM_MASKLINE, 0);
    if (poll) VmSetHook(L, qv::PollEventsHook, VM_MASKLINE, 0);
    if (VmPCall(L, 0, 0, 0) != 0) return Fail("warm-up run failed: ", path);

    bool split = HasGlobalFunction(L, "workload");
    bool setup = split && HasGlobalFunction(L, "setup");
    std::vector<double> seconds;
    for (int run = 0; run < 5; ++run) {
        if (setup && CallGlobal(L, "setup") != 0) return Fail("setup failed: ", path);
        if (!split) {
            VmPushString(L, "bench main");
            VmGetTable(L, VM_REGISTRYINDEX);
        } else {
            VmPushString(L, "workload");
            VmGetTable(L, VM_GLOBALSINDEX);
        }
        auto start = std::chrono::steady_clock::now();
        int status = VmPCall(L, 0, 0, 0);
        auto stop = std::chrono::steady_clock::now();
        if (status != 0) return Fail("timed run failed: ", path);
        seconds.push_back(std::chrono::duration<double>(stop - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("checksum %s\n", log.empty() ? "" : log.back().c_str());
    std::printf("seconds %.9f\n", seconds[2]);
    VmClose(L);
    return 0;
}

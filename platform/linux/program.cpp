#include "platform/linux/program.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "platform/linux/paths.h"

namespace qv {
namespace {

std::atomic<AbortFlag*> interruptTarget{nullptr};
std::atomic<bool> ctrlCQuits{true};
struct sigaction previousInterrupt;
bool interruptInstalled = false;

void OnInterrupt(int) {
    AbortFlag* flag = interruptTarget.load();
    if (flag != nullptr && ctrlCQuits.load()) flag->store(1);
}

}  // namespace

void SetInterruptTarget(AbortFlag* flag) {
    interruptTarget.store(flag);
}

void SetCtrlCQuits(bool on) {
    ctrlCQuits.store(on);
}

}  // namespace qv

int PlatformStartup() {
    qv::ctrlCQuits.store(true);
    struct sigaction action {};
    action.sa_handler = qv::OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Interrupted waits come back; the script sees the abort flag at its next instruction.
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, &qv::previousInterrupt) == 0) qv::interruptInstalled = true;
    return 0;
}

void PlatformShutdown() {
    if (qv::interruptInstalled) {
        sigaction(SIGINT, &qv::previousInterrupt, nullptr);
        qv::interruptInstalled = false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    qv::ShutdownPaths();
}

int PlatformPanic(qvVmState*) {
    PlatformShutdown();
    return 0;
}

int GetProgramPath(char* out, size_t size) {
    if (size == 0) return 0;
    ssize_t n = readlink("/proc/self/exe", out, size);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return 0;
    }
    out[n] = '\0';
    return 1;
}

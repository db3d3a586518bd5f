#include "platform/linux/program.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/linux/paths.h"
#include "platform/linux/video/video.h"

namespace qv {
namespace {

static_assert(std::atomic<uint32_t>::is_always_lock_free, "set from a signal handler");

std::atomic<std::atomic<uint32_t>*> interruptTarget{nullptr};
std::atomic<bool> ctrlCQuits{true};
std::atomic<bool> leftMouseQuits{false};
std::atomic<bool> escapeQuits{false};
struct sigaction previousInterrupt;
bool interruptInstalled = false;
std::string startupDetail;

void OnInterrupt(int) {
    std::atomic<uint32_t>* flag = interruptTarget.load();
    if (flag != nullptr && ctrlCQuits.load()) flag->store(1);
}

}  // namespace

void SetInterruptTarget(std::atomic<uint32_t>* flag) {
    interruptTarget.store(flag);
}

void SetCtrlCQuits(bool on) {
    ctrlCQuits.store(on);
}

void SetLeftMouseQuits(bool on) {
    leftMouseQuits.store(on);
}

void SetEscapeQuits(bool on) {
    escapeQuits.store(on);
}

bool LeftMouseQuits() {
    return leftMouseQuits.load(std::memory_order_relaxed);
}

const char* PlatformStartupDetail() {
    return startupDetail.c_str();
}

bool EscapeQuits() {
    return escapeQuits.load(std::memory_order_relaxed);
}

}  // namespace qv

int PlatformStartup() {
    qv::ctrlCQuits.store(true);
    qv::leftMouseQuits.store(false);
    qv::escapeQuits.store(false);
    struct sigaction action {};
    action.sa_handler = qv::OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Interrupted waits come back; the script sees the abort flag at its next instruction.
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, &qv::previousInterrupt) == 0) qv::interruptInstalled = true;
    qv::startupDetail.clear();
    return qv::StartVideo(&qv::startupDetail);
}

void PlatformShutdown() {
    qv::StopVideo();
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

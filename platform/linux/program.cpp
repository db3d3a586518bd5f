#include "platform/linux/program.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/linux/paths.h"
#include "platform/linux/video/video.h"

namespace qv {
namespace {

std::atomic<AbortFlag*> interruptTarget{nullptr};
std::atomic<bool> ctrlCQuits{true};
std::atomic<bool> leftMouseQuits{false};
std::atomic<bool> escapeQuits{false};
std::string startupDetail;

void OnInterrupt(int) {
    AbortFlag* flag = interruptTarget.load();
    if (flag != nullptr && ctrlCQuits.load()) flag->store(1);
}

// A request to end the program (kill, a closed terminal) ends the run as Ctrl-C does, through
// the shutdown that deletes what the run made, whatever option 8 says.
void OnTerminate(int) {
    if (AbortFlag* flag = interruptTarget.load()) flag->store(1);
}

// The signals that end a run, their handlers and what was there before.
struct StopSignal {
    int number;
    void (*handler)(int);
    bool keepIgnored;  // a signal the starter ignores (nohup) stays ignored
    struct sigaction previous;
    bool installed;
};
StopSignal stopSignals[] = {
    {SIGINT, OnInterrupt, false, {}, false},
    {SIGTERM, OnTerminate, false, {}, false},
    {SIGHUP, OnTerminate, true, {}, false},
};

void Install(StopSignal& s) {
    struct sigaction action {};
    action.sa_handler = s.handler;
    sigemptyset(&action.sa_mask);
    // Interrupted waits come back; the script sees the abort flag at its next instruction.
    action.sa_flags = SA_RESTART;
    if (sigaction(s.number, nullptr, &s.previous) != 0) return;
    if (s.keepIgnored && s.previous.sa_handler == SIG_IGN) return;
    s.installed = sigaction(s.number, &action, nullptr) == 0;
}

}  // namespace

void SetInterruptTarget(AbortFlag* flag) {
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
    for (qv::StopSignal& s : qv::stopSignals) qv::Install(s);
    qv::startupDetail.clear();
    return qv::StartVideo(&qv::startupDetail);
}

void PlatformShutdown() {
    qv::StopVideo();
    for (qv::StopSignal& s : qv::stopSignals) {
        if (s.installed) sigaction(s.number, &s.previous, nullptr);
        s.installed = false;
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

// A chunk that passes the verifier may do anything its instructions allow, and the engine
// must stay inside its frames, code and memory whatever that is. The input is a flag byte
// and the body of a chunk (its main function record); the header comes from the flag, so
// that every input reaches the function reader:
//   bit 0  collect at every check point
//   bit 1  the chunk is little-endian (else big-endian)
//   bit 2  move the stack and call records at every check point and call
//   bit 3  a line hook too, as production installs one (it does nothing)
//   bit 4  a line hook alone, the interpreter's own fast path (bit 3 is then ignored)
// A chunk that loads runs with the listing harness's commands (reports go nowhere), ended
// after 10^5 instructions by a count hook, or alone after 10^5 line events (every loop and
// call makes one), with the engine's memory capped at 256 MB.
#include <sys/time.h>

#include <atomic>
#include <bit>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "engine/chunk_format.h"
#include "engine/testsupport/commands.h"
#include "platform/linux/memory.h"

namespace {

constexpr uint8_t kGcTorture = 1;
constexpr uint8_t kLittleEndian = 2;
constexpr uint8_t kStackTorture = 4;
constexpr uint8_t kLineHook = 8;
constexpr uint8_t kLineHookAlone = 16;
constexpr int kInstructionBudget = 100000;
constexpr size_t kMemoryCap = 256u << 20;

// Finalizers run with hooks off (during the run and at the close), so the count hook cannot
// end a loop inside one, and the tortures make deep recursion slow; 200 ms of processor time
// then set the abort flag, as Ctrl-C would.
constexpr suseconds_t kWatchdogMicroseconds = 200000;
std::atomic<qv::AbortFlag*> watchedAbortFlag{nullptr};

void OnWatchdog(int) {
    qv::AbortFlag* flag = watchedAbortFlag.load();
    if (flag != nullptr) flag->store(1);
}

class Watchdog {
public:
    explicit Watchdog(qv::AbortFlag& abortFlag) {
        watchedAbortFlag = &abortFlag;
        std::signal(SIGVTALRM, OnWatchdog);
        Arm(kWatchdogMicroseconds);
    }
    ~Watchdog() {
        Arm(0);
        watchedAbortFlag = nullptr;
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static void Arm(suseconds_t microseconds) {
        itimerval timer{};
        timer.it_value.tv_usec = microseconds;
        setitimer(ITIMER_VIRTUAL, &timer, nullptr);
    }
};

void AppendNumber(std::vector<uint8_t>* out, double value, bool little) {
    const auto bits = std::bit_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        out->push_back(static_cast<uint8_t>(bits >> (little ? 8 * i : 56 - 8 * i)));
}

std::vector<uint8_t> MakeChunk(bool little, std::span<const uint8_t> body) {
    using namespace qv::chunk;
    std::vector<uint8_t> chunk(kSignature.begin(), kSignature.end());
    chunk.push_back(little ? kOrderLittle : kOrderBig);
    chunk.insert(chunk.end(), kSizes.begin(), kSizes.end());
    AppendNumber(&chunk, kTestNumber, little);
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

// Line events a line hook alone may see before it ends the run; 0 while a count hook ends it.
int lineEventsLeft = 0;

// Ends the run once the budget is spent: every script level stops at its next instruction,
// and the status unwinds to the innermost protected call.
void SpendBudget(qvVmState* L, qvDebugRecord* ar, int* status) {
    if (ar->event == VM_HOOKLINE && (lineEventsLeft == 0 || --lineEventsLeft > 0)) return;
    qv::Host(L).AbortFlag().store(1);
    *status = ERR_USERABORT;
}

// Labels "a" to "h" name the main function's first instructions, so that jumplabel() and
// rejumplabel() reach the label jumps.
constexpr int kLabels = 8;

int Register(qvVmState* L) {
    qv::RegisterHarnessCommands(L, static_cast<qv::HarnessContext*>(VmToUserdata(L, 1)));
    for (int pc = 0; pc < kLabels; ++pc) {
        const char name[] = {static_cast<char>('a' + pc), '\0'};
        DefineLabel(L, name, pc);
    }
    return 0;
}

void Run(qvVmState* L, uint8_t flags, std::span<const uint8_t> body, qv::HarnessContext* context) {
    L->g->gcTorture = (flags & kGcTorture) != 0;
    L->g->stackTorture = (flags & kStackTorture) != 0;
    if (VmCPCall(L, Register, context) != 0) return;
    const std::vector<uint8_t> chunk = MakeChunk((flags & kLittleEndian) != 0, body);
    if (qv::LoadChunk(L, chunk, "=fuzz") != 0) return;
    const bool lineHookAlone = (flags & kLineHookAlone) != 0;
    lineEventsLeft = lineHookAlone ? kInstructionBudget : 0;
    const int mask = lineHookAlone              ? VM_MASKLINE
                     : (flags & kLineHook) != 0 ? VM_MASKCOUNT | VM_MASKLINE
                                                : VM_MASKCOUNT;
    VmSetHook(L, SpendBudget, mask, lineHookAlone ? 0 : kInstructionBudget);
    VmPCall(L, 0, 0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    qv::SetMemoryCap(kMemoryCap);
    qv::MinimalListingHost host;
    qv::HarnessContext context{&host, nullptr};
    qvVmState* L = VmOpen();
    if (L == nullptr) return 0;
    qv::SetEngineHost(L, &host.Engine());
    const Watchdog watchdog(host.Engine().AbortFlag());
    Run(L, data[0], {data + 1, size - 1}, &context);
    VmClose(L);
    return 0;
}

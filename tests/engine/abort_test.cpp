// The abort flag stops a script before its next instruction, whoever sets it and whenever:
// another thread, a signal handler, a command; a loop with no call in it and a deep recursion
// (in one interpreter run, and through native levels) stop as surely as straight-line code,
// with or without hooks, on the engine's main thread and on another thread of the engine.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/engine/api_test_support.h"
#include "tools/qvasm/qvasm.h"

namespace {

using qv::testing::EngineTest;
using qv::testing::Minimal;
using qv::testing::RegisterGlobal;

// The flag that the signal handler sets: a handler takes no argument of its own.
std::atomic<qv::AbortFlag*> signalTarget{nullptr};

void OnAbortSignal(int) {
    if (qv::AbortFlag* flag = signalTarget.load()) flag->store(1);
}

// SIGUSR1 sets the flag while this lives.
class AbortSignal {
public:
    explicit AbortSignal(qv::AbortFlag& flag) {
        signalTarget = &flag;
        struct sigaction action {};
        action.sa_handler = OnAbortSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &previous_);
    }
    ~AbortSignal() {
        sigaction(SIGUSR1, &previous_, nullptr);
        signalTarget = nullptr;
    }
    AbortSignal(const AbortSignal&) = delete;
    AbortSignal& operator=(const AbortSignal&) = delete;

private:
    struct sigaction previous_ {};
};

enum class Setter { kThread, kSignal };

std::atomic<bool> started{false};
Setter syncSetter = Setter::kThread;
pthread_t engineThread;

int Started(qvVmState*) {
    started = true;
    return 0;
}

// Sets the flag from outside the script and returns once it is set: another thread sets it,
// or a signal delivered to this thread does.
int AbortNow(qvVmState* L) {
    if (syncSetter == Setter::kSignal) {
        raise(SIGUSR1);
    } else {
        std::thread([L] { Minimal(L).abortFlag.store(1); }).join();
    }
    return 0;
}

// f(n) through a native level of its own: the command calls its first argument with the
// second.
int Through(qvVmState* L) {
    VmCall(L, 1, 0);
    return 0;
}

// Every listing calls started() once it is deep in its work and then never ends by itself;
// any instruction that runs after the abort sets the global "after".
constexpr char kTightLoop[] = R"(.function main
    GETGLOBAL r0 "started"
    CALL r0 1 1
    LOADK r0 0
    LOADK r1 0
    LOADK r2 0                 ; step 0: the loop never ends
    LOADK r3 0
    JMP test
body:
    ADD r3 r3 1
test:
    FORLOOP r0 body
    LOADK r0 1
    SETGLOBAL r0 "after"
    RETURN r0 1
.end
)";

// down(n) calls itself n levels deep in the interpreter's own frames, then spins.
constexpr char kDeepRecursion[] = R"(.function main
.function down params=1
    LT 1 r0 1
    JMP bottom
    GETGLOBAL r1 "down"
    SUB r2 r0 1
    CALL r1 2 1
    LOADK r1 1
    SETGLOBAL r1 "after"
    RETURN r0 1
bottom:
    GETGLOBAL r1 "started"
    CALL r1 1 1
spin:
    JMP spin
    RETURN r0 1
.end
    CLOSURE r0 down
    SETGLOBAL r0 "down"
    GETGLOBAL r0 "down"
    LOADK r1 3000
    CALL r0 2 1
    LOADK r1 1
    SETGLOBAL r1 "after"
    RETURN r0 1
.end
)";

// The same through a native level per call (a loop of interpreter runs inside commands).
constexpr char kNativeRecursion[] = R"(.function main
.function down params=1
    LT 1 r0 1
    JMP bottom
    GETGLOBAL r1 "through"
    GETGLOBAL r2 "down"
    SUB r3 r0 1
    CALL r1 3 1
    LOADK r1 1
    SETGLOBAL r1 "after"
    RETURN r0 1
bottom:
    GETGLOBAL r1 "started"
    CALL r1 1 1
spin:
    JMP spin
    RETURN r0 1
.end
    CLOSURE r0 down
    SETGLOBAL r0 "down"
    GETGLOBAL r0 "down"
    LOADK r1 150
    CALL r0 2 1
    LOADK r1 1
    SETGLOBAL r1 "after"
    RETURN r0 1
.end
)";

void CountHook(qvVmState*, qvDebugRecord*, int*) {}

class Abort : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        RegisterGlobal(L, "started", Started);
        RegisterGlobal(L, "abortnow", AbortNow);
        RegisterGlobal(L, "through", Through);
        started = false;
        engineThread = pthread_self();
    }

    // Loads listing on thread T (L itself or a thread of its engine) for a protected call.
    void Load(qvVmState* T, const char* listing) {
        const qv::AssembleResult assembled = qv::Assemble(listing);
        ASSERT_TRUE(assembled.ok());
        ASSERT_EQ(qv::LoadChunk(T, assembled.bytes, "=abort"), 0);
    }

    // Runs the loaded main function of T while another thread sets the flag as setter says,
    // once the script has called started(); returns the status of the run.
    int RunAndAbort(qvVmState* T, Setter setter) {
        AbortSignal signal(Minimal(L).abortFlag);
        std::thread outside([this, setter] {
            while (!started.load()) {
            }
            if (setter == Setter::kSignal)
                pthread_kill(engineThread, SIGUSR1);
            else
                Minimal(L).abortFlag.store(1);
        });
        int status = VmPCall(T, 0, 0, 0);
        outside.join();
        return status;
    }

    bool Ran(const char* global) {
        VmPushString(L, global);
        VmGetTable(L, VM_GLOBALSINDEX);
        bool set = VmType(L, -1) != VM_TNIL;
        VmSetTop(L, -2);
        return set;
    }
};

TEST_F(Abort, FromAnotherThreadOrASignalItStopsLoopsAndRecursionsAtTheNextInstruction) {
    struct Case {
        const char* name;
        const char* listing;
        Setter setter;
        int hookMask;
    };
    const Case cases[] = {
        {"loop, thread", kTightLoop, Setter::kThread, 0},
        {"loop, signal", kTightLoop, Setter::kSignal, 0},
        {"loop, thread, line hook", kTightLoop, Setter::kThread, VM_MASKLINE},
        {"loop, signal, count hook", kTightLoop, Setter::kSignal, VM_MASKCOUNT},
        {"recursion, thread", kDeepRecursion, Setter::kThread, 0},
        {"recursion, signal", kDeepRecursion, Setter::kSignal, 0},
        {"recursion, signal, line hook", kDeepRecursion, Setter::kSignal, VM_MASKLINE},
        {"native levels, thread", kNativeRecursion, Setter::kThread, 0},
        {"native levels, signal", kNativeRecursion, Setter::kSignal, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        started = false;
        Minimal(L).abortFlag = 0;
        VmSetHook(L, c.hookMask != 0 ? CountHook : nullptr, c.hookMask, 1000);
        Load(L, c.listing);
        EXPECT_EQ(RunAndAbort(L, c.setter), 0);
        EXPECT_FALSE(Ran("after"));
        EXPECT_EQ(L->ci, L->baseCi);
        EXPECT_EQ(L->nCcalls, 0);
    }
}

// A thread other than the main one is not raised by the flag: it reads the flag itself.
TEST_F(Abort, AnotherThreadOfTheEngineStopsToo) {
    for (Setter setter : {Setter::kThread, Setter::kSignal}) {
        started = false;
        Minimal(L).abortFlag = 0;
        qvVmState* thread = VmNewThread(L);
        Load(thread, kTightLoop);
        EXPECT_EQ(RunAndAbort(thread, setter), 0);
        EXPECT_FALSE(Ran("after"));
        VmSetTop(L, 0);
    }
}

// Set by a command's own call, the flag stops the instruction right after that call.
TEST_F(Abort, TheInstructionAfterTheSettingCallDoesNotRun) {
    AbortSignal signal(Minimal(L).abortFlag);
    for (Setter setter : {Setter::kThread, Setter::kSignal}) {
        syncSetter = setter;
        Minimal(L).abortFlag = 0;
        Load(L, R"(.function main
    GETGLOBAL r0 "abortnow"
    CALL r0 1 1
    LOADK r0 1
    SETGLOBAL r0 "after"
    RETURN r0 1
.end
)");
        EXPECT_EQ(VmPCall(L, 0, 0, 0), 0);
        EXPECT_FALSE(Ran("after"));
    }
}

// A flag set before the run stops it before its first instruction; once the flag is clear
// again, scripts run, and the attention raised for the abort is lowered on the way.
TEST_F(Abort, ASetFlagStopsTheFirstInstructionAndAClearedOneLetsScriptsRun) {
    const char* listing = R"(.function main
    LOADK r0 1
    SETGLOBAL r0 "after"
    RETURN r0 1
.end
)";
    Minimal(L).abortFlag = 1;
    Load(L, listing);
    EXPECT_EQ(VmPCall(L, 0, 0, 0), 0);
    EXPECT_FALSE(Ran("after"));
    EXPECT_NE(L->attention.load(), 0);

    Minimal(L).abortFlag = 0;
    Load(L, listing);
    EXPECT_EQ(VmPCall(L, 0, 0, 0), 0);
    EXPECT_TRUE(Ran("after"));
    EXPECT_EQ(L->attention.load(), 0);
}

// With every watcher slot of the flag taken, the main thread reads the flag itself and still
// stops; once the engine has a host with room, it is raised again.
TEST_F(Abort, AFlagWithoutRoomForTheEngineIsReadByTheEngine) {
    qv::MinimalHost host;
    std::atomic<uint8_t> others[8] = {};
    for (auto& other : others) ASSERT_TRUE(host.abortFlag.Watch(&other));
    qv::SetEngineHost(L, &host);
    EXPECT_NE(L->attention.load() & qv::kAttentionPoll, 0);
    Load(L, kTightLoop);
    std::thread outside([&host] {
        while (!started.load()) {
        }
        host.abortFlag.store(1);
    });
    EXPECT_EQ(VmPCall(L, 0, 0, 0), 0);
    outside.join();
    EXPECT_FALSE(Ran("after"));
    for (auto& other : others) host.abortFlag.Unwatch(&other);

    qv::SetEngineHost(L, nullptr);
    qv::Host(L);
    EXPECT_EQ(L->attention.load() & qv::kAttentionPoll, 0);
}

}  // namespace

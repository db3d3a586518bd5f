// The interpreter where listings cannot reach: native code around script calls that end
// without a position, label jumps at the edges of the code, long key texts, suspension by a
// hook and the call trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/linux/debug_output.h"
#include "tests/engine/api_test_support.h"
#include "tools/qvasm/qvasm.h"

namespace {

using qv::testing::EngineTest;
using qv::testing::Minimal;
using qv::testing::RegisterGlobal;

class Execute : public EngineTest {
protected:
    // Loads a listing and calls its main function with nargs arguments already pushed.
    int Run(const std::string& listing, int nargs = 0) {
        const qv::AssembleResult assembled = qv::Assemble(listing);
        EXPECT_TRUE(assembled.ok());
        int status = qv::LoadChunk(L, assembled.bytes, "=test");
        if (status != 0) return status;
        VmInsert(L, -(nargs + 1));
        return VmPCall(L, nargs, 0, 0);
    }
    double Global(const char* name) {
        VmPushString(L, name);
        VmGetTable(L, VM_GLOBALSINDEX);
        double n = VmToNumber(L, -1);
        VmSetTop(L, -2);
        return n;
    }
};

struct CallbackSeen {
    bool ownFrame = false;
    bool ownNativeLevels = false;
    int results = -1;
    int subroutineDepth = -1;
};
CallbackSeen seen;

// Calls its argument with two results wanted; the script inside aborts. The command then
// clears the flag and goes on with its own frame.
int RunCallback(qvVmState* L) {
    // Indices and offsets: the call may move the records and the stack.
    ptrdiff_t own = L->ci - L->baseCi;
    ptrdiff_t base = L->base - L->stack;
    uint16_t levels = L->nCcalls;
    VmCall(L, 0, 2);
    seen.ownFrame = L->ci - L->baseCi == own && L->base - L->stack == base;
    seen.ownNativeLevels = L->nCcalls == levels;
    seen.results = VmGetTop(L);
    seen.subroutineDepth = L->g->subroutineDepth;
    Minimal(L).abortFlag = 0;
    VmPushNumber(L, 5);
    return 1;
}

int SetAbort(qvVmState* L) {
    Minimal(L).abortFlag = 1;
    return 0;
}

TEST_F(Execute, AnAbortedCallbackLeavesTheCommandOnItsOwnFrame) {
    RegisterGlobal(L, "runcallback", RunCallback);
    RegisterGlobal(L, "abort", SetAbort);
    ASSERT_EQ(Run(R"(.function main
.function callback
.function inner
    JSR sub
    RETURN r0 1
sub:
    GETGLOBAL r0 "abort"
    CALL r0 1 1
    RETURN r0 1
.end
    CLOSURE r0 inner
    CALL r0 1 1
    RETURN r0 1
.end
    GETGLOBAL r0 "runcallback"
    CLOSURE r1 callback
    CALL r0 2 2
    SETGLOBAL r0 "result"
    RETURN r0 1
.end
)"),
              0);
    EXPECT_TRUE(seen.ownFrame);
    EXPECT_EQ(seen.results, 2);  // nil, nil
    EXPECT_EQ(seen.subroutineDepth, 0);
    EXPECT_EQ(Global("result"), 5);
    EXPECT_EQ(L->ci, L->baseCi);
}

// The interpreter runs a script "__add" itself, as a native level: an abort inside it drops
// that level with its frames.
int SetMetatableOf(qvVmState* L) {
    VmSetMetatable(L, 1);
    return 0;
}

TEST_F(Execute, AnAbortInsideAMetamethodDropsItsNativeLevel) {
    RegisterGlobal(L, "runcallback", RunCallback);
    RegisterGlobal(L, "abort", SetAbort);
    RegisterGlobal(L, "setmetatable", SetMetatableOf);
    ASSERT_EQ(Run(R"(.function main
.function callback
    GETGLOBAL r0 "t"
    ADD r1 r0 1
    RETURN r1 2
.end
.function add params=2
    GETGLOBAL r2 "abort"
    CALL r2 1 1
    RETURN r0 2
.end
    NEWTABLE r0 0 0
    SETGLOBAL r0 "t"
    NEWTABLE r1 0 1
    CLOSURE r2 add
    SETTABLE r1 "__add" r2
    GETGLOBAL r2 "setmetatable"
    MOVE r3 r0
    MOVE r4 r1
    CALL r2 3 1
    GETGLOBAL r0 "runcallback"
    CLOSURE r1 callback
    CALL r0 2 2
    SETGLOBAL r0 "result"
    RETURN r0 1
.end
)"),
              0);
    EXPECT_TRUE(seen.ownFrame);
    EXPECT_TRUE(seen.ownNativeLevels);
    EXPECT_EQ(Global("result"), 5);
    EXPECT_EQ(L->nCcalls, 0);
}

int labelPc = 0;
int request = 0;

int JumpTo(qvVmState* L) {
    qv::SetLabelJump(L, labelPc);
    return request;
}

// The main chunk gets the command as its argument, so that the CALL can be its very first
// instruction.
TEST_F(Execute, LabelJumpsStayInsideTheMainChunk) {
    const char* listing = R"(.function main params=1
    CALL r0 1 1
    LOADK r1 1
    SETGLOBAL r1 "reached"
    RETURN r0 1
    RETSUB
.end
)";
    struct Row {
        int request;
        int label;
        int status;
    } rows[] = {
        {-1, 4, 0},             // the label's RETSUB comes back after the CALL
        {-2, 4, ERR_FUNCJMP},   // no instruction before the CALL to come back to
        {-1, 5, ERR_FUNCJMP},   // past the code
        {-1, -1, ERR_FUNCJMP},  // no such label
    };
    for (const Row& row : rows) {
        request = row.request;
        labelPc = row.label;
        VmPushCClosure(L, JumpTo, 0);
        EXPECT_EQ(Run(listing, 1), row.status) << row.request << " to " << row.label;
    }
    EXPECT_EQ(Global("reached"), 1);
}

TEST_F(Execute, MissingFieldTextKeepsItsClosingQuotationMark) {
    const std::string key(600, 'k');
    ASSERT_EQ(Run(".function main\n    NEWTABLE r0 0 0\n    GETTABLE r1 r0 \"" + key +
                  "\"\n    RETURN r0 1\n.end\n"),
              ERR_FIELDINIT);
    const std::string text = Minimal(L).ErrorText();
    EXPECT_EQ(text.size(), qv::kErrorTextMax);
    EXPECT_EQ(text, "\"" + std::string(qv::kErrorTextMax - 2, 'k') + "\"");
}

void SuspendAtLineTwo(qvVmState* L, qvDebugRecord* ar, int*) {
    if (ar->currentline == 2) L->ci->state |= VM_CI_SUSPENDED;
}

TEST_F(Execute, AHookThatSuspendsEndsTheCallWithoutResults) {
    VmSetHook(L, SuspendAtLineTwo, VM_MASKLINE, 0);
    ASSERT_EQ(Run(R"(.function main
.function f line=1
.line 1
    LOADK r0 1
    SETGLOBAL r0 "a"
.line 2
    SETGLOBAL r0 "b"
    RETURN r0 2
.end
    CLOSURE r0 f
    CALL r0 1 2
    SETGLOBAL r0 "c"
    RETURN r0 1
.end
)"),
              0);
    EXPECT_EQ(Global("a"), 1);
    EXPECT_EQ(Global("b"), 0);  // suspended before the line-2 instruction
    EXPECT_EQ(Global("c"), 0);  // the main chunk ended there too
    EXPECT_EQ(L->ci, L->baseCi);
}

std::vector<std::string> hookEvents;

// Records line events, and at a call event reads the called frame's line through the debug
// interface (which refreshes the frame's saved position).
void RecordEvents(qvVmState* L, qvDebugRecord* ar, int*) {
    if (ar->event != VM_HOOKCALL) {
        hookEvents.push_back("line " + std::to_string(ar->currentline));
        return;
    }
    qvDebugRecord level{};
    VmGetStack(L, 0, &level);
    VmGetInfo(L, "l", &level);
    hookEvents.push_back("call " + std::to_string(level.currentline));
}

// f has no line information, so only its entry is a line event there.
constexpr const char* kCallerAndCallee = R"(.function main
.function f
    LOADK r0 1
    RETURN r0 2
.end
.line 1
    CLOSURE r0 f
    CALL r0 1 2
.line 2
    RETURN r0 1
.end
)";

// The first instruction of a called function is a line event even when the call hook read
// the frame's position before it ran.
TEST_F(Execute, ACallHookReadingTheLineKeepsTheCalleesFirstLineEvent) {
    hookEvents.clear();
    VmSetHook(L, RecordEvents, VM_MASKCALL | VM_MASKLINE, 0);
    ASSERT_EQ(Run(kCallerAndCallee), 0);
    // The main chunk's first step only initialises the hooks.
    const std::vector<std::string> expected = {"call 0", "call 0", "line 0", "line 2"};
    EXPECT_EQ(hookEvents, expected);
}

// A thread made while the hooks are on inherits them uninitialised: its first step only
// initialises them too.
TEST_F(Execute, ANewThreadInitialisesItsInheritedLineHookFirst) {
    hookEvents.clear();
    VmSetHook(L, RecordEvents, VM_MASKLINE, 0);
    ASSERT_EQ(Run(".function main\n    RETURN r0 1\n.end\n"), 0);  // initialises L's hooks
    qvVmState* thread = VmNewThread(L);
    const qv::AssembleResult assembled = qv::Assemble(kCallerAndCallee);
    ASSERT_EQ(qv::LoadChunk(thread, assembled.bytes, "=thread"), 0);
    ASSERT_EQ(VmPCall(thread, 0, 0, 0), 0);
    const std::vector<std::string> expected = {"line 0", "line 2"};
    EXPECT_EQ(hookEvents, expected);
}

// A line hook at every turn of a tight loop that pushes more each time, so that the stack
// grows (and moves) under the running loop several times, scribbles over the record it was
// given, and, when asked, ends the script at a given turn.
struct GreedyHook {
    int calls = 0;
    int failAt = 0;
    bool recordFresh = true;
};
GreedyHook greedy;

void PushAndScribble(qvVmState* L, qvDebugRecord* ar, int* status) {
    ++greedy.calls;
    greedy.recordFresh = greedy.recordFresh && ar->event == VM_HOOKLINE && ar->currentline == 0 &&
                         ar->callRecord == L->ci - L->baseCi;
    const int n = std::min(greedy.calls * 4, 2000);
    ASSERT_NE(VmCheckStack(L, n), 0);
    for (int j = 0; j < n; ++j) VmPushNumber(L, j);
    ar->event = -1;
    ar->currentline = -7;
    ar->callRecord = 9999;
    if (greedy.calls == greedy.failAt) *status = ERR_USERABORT;
}

constexpr const char* kSumLoop = R"(.function main
    LOADK r0 1
    LOADK r1 1000
    LOADK r2 1
    LOADK r3 0
    SUB r0 r0 r2
    JMP test
body:
    ADD r3 r3 r0
test:
    FORLOOP r0 body
    SETGLOBAL r3 "sum"
    RETURN r0 1
.end
)";

TEST_F(Execute, ALineHookThatGrowsTheStackInATightLoopLeavesTheLoopIntact) {
    greedy = {};
    VmSetHook(L, PushAndScribble, VM_MASKLINE, 0);
    ASSERT_EQ(Run(kSumLoop), 0);
    EXPECT_EQ(Global("sum"), 500500);
    EXPECT_EQ(greedy.calls, 1000);  // one at each jump back
    EXPECT_TRUE(greedy.recordFresh);
    EXPECT_EQ(VmGetTop(L), 0);

    greedy = {};
    greedy.failAt = 500;
    VmPushString(L, "sum");
    VmPushNumber(L, 0);
    VmSetTable(L, VM_GLOBALSINDEX);
    EXPECT_EQ(Run(kSumLoop), ERR_USERABORT);
    EXPECT_EQ(greedy.calls, 500);
    EXPECT_EQ(Global("sum"), 0);
    EXPECT_EQ(L->allowhook, 1);
}

// Calls its argument, a script function that makes calls of its own, then continues the main
// chunk at labelPc: the jump is placed from this command's own CALL.
int CallThenJump(qvVmState* L) {
    VmPushValue(L, 1);
    VmCall(L, 0, 0);
    qv::SetLabelJump(L, labelPc);
    return -1;
}

TEST_F(Execute, ALabelJumpAfterACallbackIsPlacedFromTheCommandsCall) {
    RegisterGlobal(L, "callthenjump", CallThenJump);
    RegisterGlobal(L, "nothing", [](qvVmState*) { return 0; });
    labelPc = 4;
    ASSERT_EQ(Run(R"(.function main
.function outer
.function inner
    RETURN r0 1
.end
    LOADNIL r1 r3
    CLOSURE r0 inner
    CALL r0 1 1
    GETGLOBAL r0 "nothing"
    CALL r0 1 1
    RETURN r0 1
.end
    GETGLOBAL r0 "callthenjump"
    CLOSURE r1 outer
    CALL r0 2 1
    RETURN r0 1
    LOADK r2 1
    SETGLOBAL r2 "reached"
    RETSUB
.end
)"),
              0);
    EXPECT_EQ(Global("reached"), 1);
}

int Quiet(qvVmState*) {
    return 0;
}

TEST_F(Execute, TraceNamesACommandAsTheScriptCalledIt) {
    RegisterGlobal(L, "quiet", Quiet);
    Minimal(L).trace = true;
    qv::DebugCapture capture;
    ASSERT_EQ(Run(R"(.function main
.local command 1 4
.local alias 2 4
    GETGLOBAL r0 "quiet"
    MOVE r1 r0
    CALL r1 1 1
    RETURN r0 1
.end
)"),
              0);
    EXPECT_EQ(capture.Text(), "Now calling alias()\n");
}

}  // namespace

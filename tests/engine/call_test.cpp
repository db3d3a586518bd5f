// Calls, protected execution, hooks, the call trace and error raising.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/linux/debug_output.h"
#include "tests/engine/api_test_support.h"

namespace {

using qv::testing::CallGlobal;
using qv::testing::EngineTest;
using qv::testing::Minimal;
using qv::testing::Protected;
using qv::testing::RegisterGlobal;
using qv::testing::RunAsCommand;
using qv::testing::StringAt;

class Calls : public EngineTest {};

int PushThreeReturnTwo(qvVmState* L) {
    VmPushNumber(L, 1);
    VmPushNumber(L, 2);
    VmPushNumber(L, 3);
    return 2;
}

int ClaimMoreThanPushed(qvVmState* L) {
    VmPushNumber(L, 1);
    return 50;
}

TEST_F(Calls, ResultsAreTheTopValuesAndNeverComeFromBelowTheFrame) {
    VmPushCClosure(L, PushThreeReturnTwo, 0);
    VmCall(L, 0, -1);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(VmToNumber(L, 1), 2);
    EXPECT_EQ(VmToNumber(L, 2), 3);
    VmSetTop(L, 0);
    VmPushNumber(L, 99);  // a value below the called function
    VmPushCClosure(L, ClaimMoreThanPushed, 0);
    VmPushString(L, "arg");
    VmCall(L, 1, -1);
    ASSERT_EQ(VmGetTop(L), 3);  // the argument and the pushed value, nothing more
    EXPECT_EQ(VmToNumber(L, 1), 99);
    EXPECT_EQ(StringAt(L, 2), "arg");
    EXPECT_EQ(VmToNumber(L, 3), 1);
}

int CountArguments(qvVmState* L) {
    VmPushNumber(L, VmGetTop(L));
    VmPushValue(L, 1);
    return 2;
}

TEST_F(Calls, CallMetamethodReceivesTheCalledValueFirst) {
    VmNewTable(L);
    VmNewTable(L);
    VmPushString(L, "__call");
    VmPushCClosure(L, CountArguments, 0);
    VmRawSet(L, -3);
    VmSetMetatable(L, 1);
    VmPushValue(L, 1);
    VmPushNumber(L, 5);
    VmCall(L, 1, 2);
    EXPECT_EQ(VmToNumber(L, 2), 2);
    EXPECT_EQ(VmRawEqual(L, 1, 3), 1);
    VmPushNumber(L, 4);  // a number has no "__call"
    EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_FUNCDECLA);
    EXPECT_STREQ(Minimal(L).ErrorText(), "?\?()");
}

// A script function prototype built by hand, anchored on the stack as a closure.
qvLClosure* PushScriptFunction(qvVmState* L, int numparams, bool vararg, int maxstack) {
    qvProto* p = VmNewProto(L);
    p->numparams = static_cast<uint8_t>(numparams);
    p->isVararg = vararg ? 1 : 0;
    p->maxstacksize = static_cast<uint8_t>(maxstack);
    qvLClosure* c = VmNewScriptClosure(L, 0, &L->globals);
    c->proto = p;
    qvValue v;
    qv::SetFunction(&v, c);
    VmPushObject(L, &v);
    return c;
}

// Drops the frame VmPreCall opened, as a return without results would.
void CloseFrame(qvVmState* L) {
    VmPostCall(L, 0, nullptr);
}

TEST_F(Calls, VarargFrameHoldsTheExtraArgumentsInATable) {
    struct Case {
        int args;
        int extra;
    } const cases[] = {{2, 1}, {1, 0}, {0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        qvLClosure* f = PushScriptFunction(L, 1, true, 6);
        for (int i = 0; i < c.args; ++i) VmPushNumber(L, 10 + i);
        int code = -5;
        qvValue* func = L->top - (c.args + 1);
        ASSERT_EQ(VmPreCall(L, func, &code), nullptr);
        EXPECT_EQ(code, 0);
        qvCallRecord* ci = L->ci;
        EXPECT_EQ(ci->state, uint32_t{VM_CI_SAVEDPC});
        EXPECT_EQ(ci->savedpc, f->proto->code);
        EXPECT_EQ(ci->top, ci->base + 6);
        EXPECT_EQ(L->top, ci->top);
        if (c.args >= 1) {
            EXPECT_EQ(ci->base[0].value.n, 10);
        } else {
            EXPECT_EQ(ci->base[0].tag, VM_TNIL);  // padded parameter
        }
        ASSERT_EQ(ci->base[1].tag, VM_TTABLE);
        qvTable* extra = qv::TableOf(&ci->base[1]);
        qvValue n = qv::testing::StringValue(L, "n");
        EXPECT_EQ(VmTableGet(extra, &n)->value.n, c.extra);
        const qvValue* first = VmTableGetNum(extra, 0);
        if (c.extra == 1) {
            EXPECT_EQ(first->value.n, 11);
        } else {
            EXPECT_EQ(first->tag, VM_TNIL);
        }
        for (qvValue* r = ci->base + 2; r < ci->top; ++r) EXPECT_EQ(r->tag, VM_TNIL);
        CloseFrame(L);
        VmSetTop(L, 0);
    }
}

int recursionDepth = 0;

int RecurseThroughVmCall(qvVmState* L) {
    ++recursionDepth;
    VmPushCClosure(L, RecurseThroughVmCall, 0);
    VmCall(L, 0, 0);
    return 0;
}

TEST_F(Calls, NativeRecursionStopsAt200NestedCalls) {
    recursionDepth = 0;
    VmPushNumber(L, 1);  // lies below the call: must survive it
    VmPushCClosure(L, RecurseThroughVmCall, 0);
    VmPushString(L, "argument");
    EXPECT_EQ(VmPCall(L, 1, 0, 0), ERR_STACK);
    EXPECT_EQ(recursionDepth, 199);
    EXPECT_EQ(L->nCcalls, 0);
    EXPECT_EQ(L->ci, L->baseCi);
    ASSERT_EQ(VmGetTop(L), 1);  // the function and its argument are gone, nothing pushed
    EXPECT_EQ(VmToNumber(L, 1), 1);
    for (int i = 0; i < 200; ++i) VmPushNumber(L, i);  // the frame is usable again
    EXPECT_EQ(VmToNumber(L, -1), 199);
}

// A host that makes nested calls from inside the location capture of an error, as a
// run-time's error path may.
class CallingHost : public qv::EngineHost {
public:
    qv::AbortFlag abort;
    bool armed = false;
    int calls = 0;

    qv::AbortFlag& AbortFlag() override { return abort; }
    uint32_t LastError() const override { return 0; }
    void SetLastError(uint32_t) override {}
    void SetErrorLine(int32_t) override {}
    void SetErrorNumber(uint32_t) override {}
    bool DebugTrace() const override { return false; }
    bool IsGetLastError(qvCFunction) const override { return false; }
    int HandleCommandError(qvVmState* L, int code) override { VmThrow(L, code); }
    void CaptureErrorLocation(qvVmState* L) override {
        if (!armed) return;
        armed = false;
        VmPushCClosure(L, CountAndRecurse, 0);
        VmCall(L, 0, 0);
    }
    static int CountAndRecurse(qvVmState* L);

protected:
    void StoreErrorText(std::string_view) override {}
};

CallingHost* callingHost = nullptr;

int CallingHost::CountAndRecurse(qvVmState* L) {
    ++callingHost->calls;
    VmPushCClosure(L, CountAndRecurse, 0);
    VmCall(L, 0, 0);
    return 0;
}

TEST_F(Calls, ErrorHandlingMayStillCallUpTo224Levels) {
    CallingHost host;
    callingHost = &host;
    qv::SetEngineHost(L, &host);
    recursionDepth = 0;
    VmPushCClosure(L, RecurseThroughVmCall, 0);
    host.armed = true;
    EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_STACK);
    EXPECT_EQ(host.calls, 24);  // levels 201 to 224; the 225th throws at once
    EXPECT_EQ(L->nCcalls, 0);
    qv::SetEngineHost(L, nullptr);
}

int FailWithZeroDivision(qvVmState* L) {
    VmPushNumber(L, 1);  // pushed before failing: not a result
    return ERR_ZERODIVISION;
}

int ReportLastError(qvVmState* L) {
    VmPushNumber(L, qv::Host(L).LastError());
    return 1;
}

TEST_F(Calls, ProtectedCallRestoresTheThreadAndLeavesNoErrorValue) {
    VmPushString(L, "below");
    VmPushCClosure(L, FailWithZeroDivision, 0);
    VmPushNumber(L, 1);
    VmPushNumber(L, 2);
    ptrdiff_t record = L->ci - L->baseCi;  // an index: the call may move the records
    EXPECT_EQ(VmPCall(L, 2, 1, 0), ERR_ZERODIVISION);
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(StringAt(L, 1), "below");
    EXPECT_EQ(L->ci - L->baseCi, record);
    EXPECT_EQ(L->nCcalls, 0);
    EXPECT_EQ(L->allowhook, 1);
    EXPECT_EQ(Minimal(L).lastError, uint32_t{ERR_ZERODIVISION});
}

int CheckPointerArgument(qvVmState* L) {
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(VmType(L, 1), VM_TLIGHTUSERDATA);
    return *static_cast<int*>(VmToUserdata(L, 1));
}

TEST_F(Calls, NativeProtectedCallPassesThePointerAndReturnsTheStatus) {
    int code = 0;
    EXPECT_EQ(VmCPCall(L, CheckPointerArgument, &code), 0);
    code = ERR_READFILE;
    EXPECT_EQ(VmCPCall(L, CheckPointerArgument, &code), ERR_READFILE);
    EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(Calls, CommandErrorsReachTheHostOutsideScriptCalls) {
    qv::MinimalHost& host = Minimal(L);
    // Error ending on (the default): the code ends the protected call and stops the script.
    VmPushCClosure(L, FailWithZeroDivision, 0);
    EXPECT_EQ(VmPCall(L, 0, 2, 0), ERR_ZERODIVISION);
    EXPECT_EQ(host.lastError, uint32_t{ERR_ZERODIVISION});
    EXPECT_EQ(host.abortFlag.load(), 1u);
    host.abortFlag = 0;
    // Inside nested protected calls of the run-time the script is not stopped.
    host.nestedCalls = 1;
    VmPushCClosure(L, FailWithZeroDivision, 0);
    EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_ZERODIVISION);
    EXPECT_EQ(host.abortFlag.load(), 0u);
    host.nestedCalls = 0;
    // Error ending off: the call returns nils and the code stays readable.
    host.exitOnError = 0;
    VmPushCClosure(L, FailWithZeroDivision, 0);
    EXPECT_EQ(VmPCall(L, 0, 2, 0), 0);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(VmType(L, 1), VM_TNIL);
    EXPECT_EQ(VmType(L, 2), VM_TNIL);
    EXPECT_STREQ(host.CommandName(), "----");
    EXPECT_EQ(host.line, -1);
    host.getLastError = ReportLastError;
    VmPushCClosure(L, ReportLastError, 0);
    VmCall(L, 0, 1);
    EXPECT_EQ(VmToNumber(L, -1), ERR_ZERODIVISION);
    // VmDoCall itself returns the code and leaves it to its caller.
    host.lastError = 0;
    int code = 0;
    EXPECT_EQ(Protected(L,
                        [&] {
                            VmPushCClosure(L, FailWithZeroDivision, 0);
                            code = VmDoCall(L, L->top - 1, 0);
                        }),
              0);
    EXPECT_EQ(code, ERR_ZERODIVISION);
    EXPECT_EQ(host.lastError, 0u);
}

TEST_F(Calls, EveryCommandButGetLastErrorClearsTheLastError) {
    qv::MinimalHost& host = Minimal(L);
    host.getLastError = ReportLastError;
    host.lastError = 1234;
    VmPushCClosure(L, ReportLastError, 0);
    VmCall(L, 0, 1);
    EXPECT_EQ(VmToNumber(L, -1), 1234);
    VmPushCClosure(L, PushThreeReturnTwo, 0);
    VmCall(L, 0, 0);
    EXPECT_EQ(host.lastError, 0u);
}

int Quiet(qvVmState*) {
    return 0;
}

TEST_F(Calls, TraceWritesOneLinePerCommandWithScriptTextAsData) {
    Minimal(L).trace = true;
    RegisterGlobal(L, "Foo", Quiet);
    qv::DebugCapture capture;
    VmPushNil(L);
    VmPushNumber(L, 2);
    VmPushString(L, "a");
    ASSERT_EQ(CallGlobal(L, "foo", 3, 0), 0);
    EXPECT_EQ(capture.Text(),
              "Now calling foo() with arguments #1=(NIL) #2=(NUMBER)2 #3=(STRING)\"a\" \n");
    capture.Clear();
    VmPushString(L, "100%s");
    VmPushNumber(L, 0.5);
    VmPushBoolean(L, 1);
    ASSERT_EQ(CallGlobal(L, "foo", 3, 0), 0);
    EXPECT_EQ(capture.Text(),
              "Now calling foo() with arguments #1=(STRING)\"100%s\" #2=(NUMBER)0.5 "
              "#3=(INTERNAL)1 \n");
    capture.Clear();
    ASSERT_EQ(CallGlobal(L, "foo", 0, 0), 0);
    EXPECT_EQ(capture.Text(), "Now calling foo()\n");
    capture.Clear();
    VmPushCClosure(L, Quiet, 0);  // not a global: no name to give
    VmCall(L, 0, 0);
    EXPECT_EQ(capture.Text(), "Now calling ?()\n");
    capture.Clear();
    Minimal(L).abortFlag = 1;
    ASSERT_EQ(CallGlobal(L, "foo", 0, 0), 0);
    EXPECT_EQ(capture.Text(), "");
}

struct HookLog {
    std::string events;
    int failWith = 0;
};
HookLog hookLog;

void RecordHook(qvVmState* L, qvDebugRecord* ar, int* status) {
    hookLog.events += std::to_string(ar->event);
    EXPECT_EQ(L->allowhook, 0);
    EXPECT_EQ(ar->callRecord, L->ci - L->baseCi);
    *status = hookLog.failWith;
}

TEST_F(Calls, HooksSeeCallsAndReturnsAndMayEndTheScript) {
    hookLog = {};
    EXPECT_EQ(VmSetHook(L, RecordHook, VM_MASKCALL | VM_MASKRET, 0), 1);
    VmPushCClosure(L, Quiet, 0);
    VmCall(L, 0, 0);
    EXPECT_EQ(hookLog.events, "01");
    hookLog.failWith = ERR_USERABORT;
    VmPushCClosure(L, Quiet, 0);
    EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_USERABORT);
    EXPECT_EQ(L->allowhook, 1);
    VmSetHook(L, nullptr, VM_MASKCALL, 5);
    EXPECT_EQ(L->hookmask, 0);
    EXPECT_EQ(L->hook, nullptr);
}

TEST_F(Calls, GetStackCountsLostTailCallsAsLevels) {
    qvDebugRecord ar{};
    EXPECT_EQ(VmGetStack(L, 0, &ar), 0);  // the base level is no activation
    PushScriptFunction(L, 0, false, 2);
    int code = 0;
    VmPreCall(L, L->top - 1, &code);
    L->ci->tailcalls = 2;
    const int record = static_cast<int>(L->ci - L->baseCi);
    const struct {
        int level;
        int result;
        int callRecord;
    } cases[] = {{0, 1, record}, {1, 1, 0}, {2, 1, 0}, {3, 0, -1}};
    for (const auto& c : cases) {
        ar.callRecord = -1;
        EXPECT_EQ(VmGetStack(L, c.level, &ar), c.result) << c.level;
        EXPECT_EQ(ar.callRecord, c.callRecord) << c.level;
    }
    CloseFrame(L);
}

// A protected run that puts the thread back as VmPCall does.
int Repaired(qvVmState* L, const std::function<void()>& fn) {
    return VmDoPCall(
        L, [](qvVmState*, void* ud) { (*static_cast<const std::function<void()>*>(ud))(); },
        const_cast<std::function<void()>*>(&fn), qv::SaveStack(L, L->top), 0);
}

TEST_F(Calls, RaiseErrorStoresTheLineOfTheCurrentLevel) {
    qv::MinimalHost& host = Minimal(L);
    qvLClosure* f = PushScriptFunction(L, 0, false, 2);
    qvInstruction code[4] = {};
    int32_t lines[4] = {10, 11, 12, 13};
    f->proto->code = code;
    f->proto->sizecode = 4;
    int status = Repaired(L, [&] {
        int c = 0;
        VmPreCall(L, L->top - 1, &c);
        L->ci->savedpc = code + 3;  // executing instruction 2
        f->proto->lineinfo = lines;
        f->proto->sizelineinfo = 4;
        RaiseError(L, ERR_WRONGOP);
    });
    EXPECT_EQ(status, ERR_WRONGOP);
    EXPECT_EQ(host.line, 12);
    // While the interpreter runs the record, the live position counts.
    const qvInstruction* live = code + 2;
    status = Repaired(L, [&] {
        int c = 0;
        VmPreCall(L, L->top - 1, &c);
        L->ci->pc = &live;
        L->ci->state |= VM_CI_RUNNING;
        RaiseError(L, ERR_WRONGOP);
    });
    EXPECT_EQ(host.line, 11);
    // A command's error takes the line of the script level that called it.
    status = Repaired(L, [&] {
        int c = 0;
        VmPreCall(L, L->top - 1, &c);
        L->ci->savedpc = code + 4;
        host.line = 0;
        VmPushCClosure(
            L, [](qvVmState* L) -> int { RaiseError(L, ERR_NUMEXPECTED); }, 0);
        VmCall(L, 0, 0);
    });
    EXPECT_EQ(status, ERR_NUMEXPECTED);
    EXPECT_EQ(host.line, 13);
    // Without line information the line is 0.
    f->proto->lineinfo = nullptr;
    f->proto->sizelineinfo = 0;
    Repaired(L, [&] {
        int c = 0;
        VmPreCall(L, L->top - 1, &c);
        L->ci->savedpc = code + 2;
        RaiseError(L, ERR_WRONGOP);
    });
    EXPECT_EQ(host.line, 0);
    f->proto->code = nullptr;
    f->proto->sizecode = 0;
}

int RaiseWrongOp(qvVmState* L) {
    RaiseError(L, ERR_WRONGOP);
}

TEST_F(Calls, CallRecordsStopAt4096AndShrinkAfterTheError) {
    PushScriptFunction(L, 0, false, 1);
    const qvValue function = L->top[-1];
    int status = Protected(L, [&] {
        for (;;) {
            VmPushObject(L, &function);
            int code = 0;
            VmPreCall(L, L->top - 1, &code);
        }
    });
    EXPECT_EQ(status, ERR_STACK);
    EXPECT_EQ(L->sizeCi, 8192);  // the error path got room to call
    EXPECT_EQ(L->ci - L->baseCi, 4095);
    // A plain protected run repairs nothing: put the thread back by hand.
    L->ci = L->baseCi;
    L->base = L->ci->base;
    VmSetTop(L, 1);
    VmPushCClosure(L, RaiseWrongOp, 0);
    EXPECT_EQ(VmPCall(L, 0, 0, 0), ERR_WRONGOP);
    EXPECT_EQ(L->sizeCi, 4096);
}

TEST(ThrowWithoutCatcher, EndsTheProcessWithStatus20) {
    EXPECT_EXIT(
        {
            qvVmState* L = VmOpen();
            VmThrow(L, ERR_MEM);
        },
        ::testing::ExitedWithCode(20), "");
}

}  // namespace

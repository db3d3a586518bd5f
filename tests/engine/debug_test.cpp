// The debug interface: activation queries, locals, short source names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/api_test_support.h"
#include "tools/qvasm/qvasm.h"

namespace {

using qv::testing::EngineTest;
using qv::testing::Protected;
using qv::testing::RegisterGlobal;

// A copy of an activation record that outlives the run.
struct Info {
    std::string name, namewhat, what, source, shortSource;
    int currentline = 0, nups = 0, linedefined = 0;
};

std::string Text(const char* s) {
    return s != nullptr ? s : "<null>";
}

Info Copy(const qvDebugRecord& ar) {
    return {Text(ar.name),  Text(ar.namewhat), Text(ar.what), Text(ar.source),
            ar.shortSource, ar.currentline,    ar.nups,       ar.linedefined};
}

std::vector<Info> probed;

// Records "Slnu" of every level, innermost first.
int Probe(qvVmState* L) {
    probed.clear();
    qvDebugRecord ar{};
    for (int level = 0; VmGetStack(L, level, &ar) != 0; ++level) {
        EXPECT_EQ(VmGetInfo(L, "Slnu", &ar), 1);
        probed.push_back(Copy(ar));
    }
    return 0;
}

class Debug : public EngineTest {
protected:
    // Loads and runs a listing with the probe registered; returns the status.
    int Run(const std::string& listing) {
        RegisterGlobal(L, "probe", Probe);
        const qv::AssembleResult assembled = qv::Assemble(listing);
        EXPECT_TRUE(assembled.ok());
        int status = qv::LoadChunk(L, assembled.bytes, "@probe.qvs");
        return status != 0 ? status : VmPCall(L, 0, 0, 0);
    }
};

TEST_F(Debug, GetInfoDescribesEveryLevel) {
    ASSERT_EQ(Run(R"(.function main
.source "@dir/probe.qvs"
.local v 0 6
.local fn 3 6
.function f line=10
.upval u
.line 11
    GETGLOBAL r0 "probe"
.line 12
    CALL r0 1 1
    RETURN r0 1
.end
.line 3
    LOADK r0 1
    CLOSURE r1 f r0
.line 4
    MOVE r2 r1
    CALL r2 1 1
    RETURN r0 1
.end
)"),
              0);
    ASSERT_EQ(probed.size(), 3u);
    const Info& command = probed[0];
    EXPECT_EQ(command.what, "C");
    EXPECT_EQ(command.source, "=[C]");
    EXPECT_EQ(command.shortSource, "[C]");
    EXPECT_EQ(command.linedefined, -1);
    EXPECT_EQ(command.currentline, -1);
    EXPECT_EQ(command.name, "probe");
    EXPECT_EQ(command.namewhat, "global");
    const Info& f = probed[1];
    EXPECT_EQ(f.what, "Quorvella");
    EXPECT_EQ(f.source, "@dir/probe.qvs");
    EXPECT_EQ(f.shortSource, "dir/probe.qvs");
    EXPECT_EQ(f.linedefined, 10);
    EXPECT_EQ(f.currentline, 12);
    EXPECT_EQ(f.nups, 1);
    EXPECT_EQ(f.name, "fn");  // the caller's register, through a MOVE from a local
    EXPECT_EQ(f.namewhat, "local");
    const Info& main = probed[2];
    EXPECT_EQ(main.what, "main");
    EXPECT_EQ(main.currentline, 4);
    EXPECT_EQ(main.name, "<null>");  // called from native code and not a global
    EXPECT_EQ(main.namewhat, "");
}

TEST_F(Debug, LostTailCallsAreLevelsWithoutInformation) {
    ASSERT_EQ(Run(R"(.function main
.function g
    GETGLOBAL r0 "h"
    TAILCALL r0 1 0
    RETURN r0 0
.end
.function h
    GETGLOBAL r0 "probe"
    CALL r0 1 1
    RETURN r0 1
.end
    CLOSURE r0 h
    SETGLOBAL r0 "h"
    CLOSURE r0 g
    CALL r0 1 1
    RETURN r0 1
.end
)"),
              0);
    ASSERT_EQ(probed.size(), 4u);
    // h absorbed g's record: its name comes from the globals, not from a caller.
    EXPECT_EQ(probed[1].name, "h");
    EXPECT_EQ(probed[1].namewhat, "global");
    const Info& lost = probed[2];
    EXPECT_EQ(lost.what, "tail");
    EXPECT_EQ(lost.source, "=(tail call)");
    EXPECT_EQ(lost.currentline, -1);
    EXPECT_EQ(lost.name, "");
    EXPECT_EQ(probed[3].what, "main");
}

int NativeNothing(qvVmState*) {
    return 0;
}

TEST_F(Debug, GetInfoOnAFunctionValue) {
    qvDebugRecord ar{};
    VmPushCClosure(L, NativeNothing, 0);
    VmPushValue(L, -1);
    EXPECT_EQ(VmGetInfo(L, ">Sf", &ar), 1);
    EXPECT_STREQ(ar.what, "C");
    EXPECT_EQ(VmGetTop(L), 2);  // popped, then pushed again by "f"
    EXPECT_EQ(VmRawEqual(L, 1, 2), 1);
    EXPECT_EQ(VmGetInfo(L, ">Sx", &ar), 0);  // unknown letter; "S" still answered
    EXPECT_STREQ(ar.source, "=[C]");
    VmPushNumber(L, 5);
    EXPECT_EQ(Protected(L, [&] { VmGetInfo(L, ">S", &ar); }), ERR_FUNCEXPECTED);
}

std::vector<std::string> localLog;

// Reads and writes the locals of its caller (level 1).
int TouchLocals(qvVmState* L) {
    qvDebugRecord caller{}, self{};
    VmGetStack(L, 1, &caller);
    VmGetStack(L, 0, &self);
    int top = VmGetTop(L);
    std::string name = Text(VmGetLocal(L, &caller, 1));
    localLog.push_back(name + "=" + std::to_string(VmToNumber(L, -1)));
    VmPushNumber(L, 42);
    localLog.push_back(Text(VmSetLocal(L, &caller, 1)));
    VmPushNumber(L, 43);
    localLog.push_back(Text(VmSetLocal(L, &caller, 2)));  // "(for index)"
    localLog.push_back(Text(VmGetLocal(L, &caller, 4)));  // declared past the frame
    VmPushNumber(L, 44);
    localLog.push_back(Text(VmSetLocal(L, &self, 1)));  // a command has no locals
    VmSetTop(L, top);
    return 0;
}

TEST_F(Debug, LocalsAreReadAndWrittenButInternalOnesKeepTheirValues) {
    RegisterGlobal(L, "touch", TouchLocals);
    ASSERT_EQ(Run(R"qvs(.function main maxstack=3
.local a 0 6
.local "(for index)" 0 6
.local c 0 6
.local beyond 0 6
    LOADK r0 7
    LOADK r1 8
    GETGLOBAL r2 "touch"
    CALL r2 1 1
    SETGLOBAL r0 "a"
    SETGLOBAL r1 "b"
    RETURN r0 1
.end
)qvs"),
              0);
    EXPECT_EQ(localLog,
              (std::vector<std::string>{"a=7.000000", "a", "<null>", "<null>", "<null>"}));
    VmPushString(L, "a");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushString(L, "b");
    VmGetTable(L, VM_GLOBALSINDEX);
    EXPECT_EQ(VmToNumber(L, -2), 42);
    EXPECT_EQ(VmToNumber(L, -1), 8);
}

// What a hook is told and what it reads of the running instruction through the debug
// interface: event, the line it is given, the line VmGetInfo reports for level 0.
struct HookSeen {
    int event, given, read;
};
std::vector<HookSeen> hookSeen;

void RecordHookLines(qvVmState* L, qvDebugRecord* ar, int*) {
    qvDebugRecord level{};
    int read = -2;
    if (VmGetStack(L, 0, &level) != 0 && VmGetInfo(L, "l", &level) != 0) read = level.currentline;
    hookSeen.push_back({ar->event, ar->currentline, read});
}

// Line and count hooks read the instruction about to run: the position is published for
// them, also inside a function entered without leaving the interpreter.
TEST_F(Debug, HooksReadTheLineOfTheInstructionAboutToRun) {
    const char* listing = R"(.function main
.function f line=20
.line 21
    LOADK r0 1
.line 22
    RETURN r0 2
.end
.line 1
    LOADK r0 0
.line 2
    LOADK r1 1
    ADD r0 r0 r1
.line 3
    CLOSURE r1 f
.line 4
    CALL r1 1 2
.line 5
    RETURN r0 1
.end
)";
    hookSeen.clear();
    VmSetHook(L, RecordHookLines, VM_MASKCOUNT, 1);
    ASSERT_EQ(Run(listing), 0);
    std::vector<int> lines;
    for (const HookSeen& seen : hookSeen) {
        EXPECT_EQ(seen.event, VM_HOOKCOUNT);
        lines.push_back(seen.read);
    }
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 2, 3, 4, 21, 22, 5}));

    hookSeen.clear();
    VmSetHook(L, RecordHookLines, VM_MASKLINE, 0);
    ASSERT_EQ(Run(listing), 0);
    lines.clear();
    for (const HookSeen& seen : hookSeen) {
        EXPECT_EQ(seen.event, VM_HOOKLINE);
        EXPECT_EQ(seen.read, seen.given);
        lines.push_back(seen.given);
    }
    EXPECT_EQ(lines, (std::vector<int>{2, 3, 4, 21, 22, 5}));
}

// A line hook that describes its own record at every line, in a loop that calls a function
// at each turn: the record it is handed names the running level each time, whatever the
// previous query filled in.
std::vector<std::string> describedLines;

void DescribeGivenRecord(qvVmState* L, qvDebugRecord* ar, int*) {
    const int given = ar->currentline;
    ASSERT_NE(VmGetInfo(L, "Sl", ar), 0);
    describedLines.push_back(std::string(ar->what) + " " + std::to_string(given) + "/" +
                             std::to_string(ar->currentline));
}

TEST_F(Debug, ALineHookDescribesItsOwnRecordAtEveryLine) {
    describedLines.clear();
    VmSetHook(L, DescribeGivenRecord, VM_MASKLINE, 0);
    ASSERT_EQ(Run(R"(.function main
.function f line=20
.line 21
    LOADK r0 1
.line 22
    RETURN r0 2
.end
.line 1
    CLOSURE r4 f
    LOADK r0 1
    LOADK r1 2
    LOADK r2 1
    SUB r0 r0 r2
    JMP test
.line 2
body:
    MOVE r5 r4
    CALL r5 1 1
.line 3
test:
    FORLOOP r0 body
.line 4
    RETURN r0 1
.end
)"),
              0);
    const std::vector<std::string> expected = {
        "main 3/3", "main 2/2",        "Quorvella 21/21", "Quorvella 22/22", "main 3/3",
        "main 2/2", "Quorvella 21/21", "Quorvella 22/22", "main 3/3",        "main 4/4"};
    EXPECT_EQ(describedLines, expected);
}

TEST(ChunkId, ShortSourceNames) {
    const std::string hundred(100, 'x');
    struct Row {
        std::string source;
        size_t size;
        std::string expected;
    } rows[] = {
        {"=name", 60, "name"},
        {"=" + hundred, 60, std::string(59, 'x')},
        {"@short.qvs", 60, "short.qvs"},
        {"@" + std::string(48, 'a') + "tail", 60, std::string(48, 'a') + "tail"},
        {"@" + std::string(48, 'a') + std::string(52, 'b'), 60, "..." + std::string(52, 'b')},
        {"@abcdefghijkl", 10, "...kl"},
        {"print(1)", 60, "[string \"print(1)\"]"},
        {"one\ntwo", 60, "[string \"one...\"]"},
        {std::string(43, 's'), 60, "[string \"" + std::string(43, 's') + "\"]"},
        {std::string(44, 's'), 60, "[string \"" + std::string(43, 's') + "...\"]"},
    };
    for (const Row& row : rows) {
        char out[128];
        VmChunkId(out, row.source.c_str(), row.size);
        EXPECT_EQ(std::string(out), row.expected) << row.source;
        EXPECT_LT(std::string(out).size(), row.size);
    }
}

}  // namespace

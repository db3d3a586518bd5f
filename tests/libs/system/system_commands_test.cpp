// Information, errors, table and object-data commands on the cases that decide their rules.
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/messages.h"
#include "runtime/runtime_state.h"
#include "tests/libs/system/system_test_support.h"

namespace qv::testing {
namespace {

struct Case {
    std::string command;
    std::vector<Arg> args;
    int code;
    std::string expected;  // the first result as printed; unchecked when code is not 0
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.command;
}

class SystemCases : public SystemLib, public ::testing::WithParamInterface<Case> {};

TEST_P(SystemCases, GiveTheirResult) {
    const Case& c = GetParam();
    CallResult r = Call(c.command, c.args);
    ASSERT_EQ(r.code, c.code);
    if (c.code != 0) return;
    std::ostringstream shown;
    if (!r.results.empty()) shown << r.results[0];
    EXPECT_EQ(shown.str(), c.expected);
}

Arg Abc() {
    return List({Str("a"), Str("b"), Str("c")});
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SystemCases,
    ::testing::Values(
        Case{"ListItems", {Table({{Num(1), Num(1)}})}, 0, "0"}, Case{"ListItems", {Abc()}, 0, "3"},
        Case{"ListItems", {Num(1)}, 1140, ""}, Case{"RemoveItem", {List({})}, 0, ""},
        Case{"RemoveItem", {Abc(), Num(99)}, 0, "\"c\""},
        Case{"Concat", {Abc(), Str(", "), Num(1)}, 0, "\"b, c\""},
        Case{"Concat", {Abc(), Str("-"), Num(2), Num(1)}, 0, "\"\""},
        Case{"Concat", {List({Str("a"), Table({})})}, 1197, ""},
        Case{"IIf", {Num(0), Str("y"), Str("n")}, 0, "\"n\""},
        Case{"IIf", {Str(""), Str("y"), Str("n")}, 0, "\"n\""},
        Case{"IIf", {Nil(), Str("y"), Str("n")}, 0, "\"n\""},
        Case{"IIf", {Str("x"), Str("y"), Str("n")}, 0, "\"y\""},
        Case{"IIf", {Table({}), Str("y"), Str("n")}, 1019, ""}, Case{"Assert", {Num(0)}, 1493, ""},
        Case{"Assert", {Nil()}, 1493, ""}, Case{"Assert", {Str("")}, 0, "\"\""},
        Case{"GetType", {Bool(true)}, 0, "-1"}, Case{"GetType", {Nil()}, 0, "0"},
        Case{"GetType", {Num(1)}, 0, "2"}, Case{"GetType", {Str("")}, 0, "3"},
        Case{"GetType", {Table({})}, 0, "4"}, Case{"GetType", {LightUserdata(nullptr)}, 0, "9"},
        Case{"GetObjectType", {LightUserdata(reinterpret_cast<void*>(0x1234))}, 0, "-1"},
        Case{"GetObjectType", {Num(1)}, 1492, ""},
        Case{"GetConstant", {Str("#ERR_MEM")}, 0, "1000"},
        Case{"GetConstant", {Str("#COUNTRY_UNKNOWN")}, 0, "38"},
        Case{"GetConstant", {Str("ERR_MEM")}, 1055, ""},
        Case{"GetConstant", {Str("#NO_SUCH_ONE")}, 1042, ""},
        Case{"GetMemoryInfo", {Num(2)}, 1055, ""},
        Case{"SetMetaTable", {Table({}), Num(1)}, 1237, ""},
        Case{"RawEqual", {Num(1), Num(1)}, 0, "1"}, Case{"NextItem", {Table({})}, 0, "nil"},
        Case{"SetObjectData", {Num(22), Num(1), Str("a"), Num(1)}, 1078, ""},
        Case{"GetObjectData", {Num(53), Num(1), Str("a")}, 1041, ""}, Case{"Unpack", {}, 1014, ""},
        Case{"GetVersion", {Num(1), Num(2)}, 1193, ""},
        Case{"CompareDates", {Str("01-Jan-2012 10:00:00"), Str("01-jan-2012 09:59:59")}, 0, "1"},
        Case{"CompareDates", {Str("01-Jan-2012"), Str("01-JAN-2012"), Num(1)}, 0, "0"},
        Case{"CompareDates", {Str("01-Jan-2012 10:00:0"), Str("01-Jan-2012 10:00:00")}, 1285, ""},
        Case{"CompareDates", {Str("01-Jan-2012 10:00:000"), Str("01-Jan-2012 10:00:00")}, 1285, ""},
        Case{"CompareDates", {Str("01-Foo-2012 10:00:00"), Str("01-Jan-2012 10:00:00")}, 1285, ""}),
    kCommandCaseName);

// A table kept at stack index 1 across calls, so that tests see what commands did to it.
class Tables : public SystemLib {
protected:
    void Hold(const Arg& table) {
        VmSetTop(L, 0);
        PushArg(table);
    }
    // name(held table, args...) under protection; the results stay above index 1.
    int CallOn(const char* name, const std::vector<Arg>& args) {
        VmSetTop(L, 1);
        std::string lower(name);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        VmPushString(L, lower.c_str());
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushValue(L, 1);
        for (const Arg& a : args) PushArg(a);
        return VmPCall(L, static_cast<int>(args.size()) + 1, -1, 0);
    }
    // The items from key 0 as text, "a b c".
    std::string Items() {
        std::string out;
        for (int i = 0;; ++i) {
            VmRawGetI(L, 1, i);
            if (VmType(L, -1) == VM_TNIL) {
                VmSetTop(L, -2);
                return out;
            }
            out += (i ? " " : "") + std::string(VmToString(L, -1));
            VmSetTop(L, -2);
        }
    }
};

TEST_F(Tables, InsertAndRemoveKeepTheListWithoutHoles) {
    Hold(List({Str("a"), Str("b"), Str("c")}));
    ASSERT_EQ(CallOn("InsertItem", {Str("d"), Num(99)}), 0);
    EXPECT_EQ(Items(), "a b c d");
    ASSERT_EQ(CallOn("InsertItem", {Str("x"), Num(1)}), 0);
    EXPECT_EQ(Items(), "a x b c d");
    ASSERT_EQ(CallOn("InsertItem", {Str("y")}), 0);
    EXPECT_EQ(Items(), "a x b c d y");
    ASSERT_EQ(CallOn("RemoveItem", {Num(0)}), 0);
    EXPECT_STREQ(VmToString(L, -1), "a");
    EXPECT_EQ(Items(), "x b c d y");
    ASSERT_EQ(CallOn("RemoveItem", {}), 0);
    EXPECT_EQ(Items(), "x b c d");
}

TEST_F(Tables, CopyKeepsCyclesAndCopiesSharedTablesEachTime) {
    // t = {self = t, a = s, b = s} with s = {1, up = t}
    Hold(Table({}));
    PushArg(List({Num(1)}));
    for (const char* key : {"a", "b"}) {
        VmPushString(L, key);
        VmPushValue(L, 2);
        VmRawSet(L, 1);
    }
    VmPushString(L, "self");
    VmPushValue(L, 1);
    VmRawSet(L, 1);
    VmPushString(L, "up");
    VmPushValue(L, 1);
    VmRawSet(L, 2);
    VmSetTop(L, 1);
    ASSERT_EQ(CallOn("CopyTable", {}), 0);
    ASSERT_EQ(VmType(L, 2), VM_TTABLE);
    EXPECT_FALSE(VmRawEqual(L, 1, 2));
    auto field = [&](int t, const char* key) {
        VmPushString(L, key);
        VmRawGet(L, t);
        return VmGetTop(L);
    };
    int self = field(2, "self"), a = field(2, "a"), b = field(2, "b"), origA = field(1, "a");
    EXPECT_TRUE(VmRawEqual(L, self, 2)) << "the cycle points at the copy";
    EXPECT_FALSE(VmRawEqual(L, a, b)) << "a table held twice is copied each time";
    EXPECT_FALSE(VmRawEqual(L, a, origA));
    for (int copy : {a, b}) {
        EXPECT_TRUE(VmRawEqual(L, field(copy, "up"), 2)) << "the cycle through it, too";
        VmRawGetI(L, copy, 0);
        EXPECT_EQ(VmToNumber(L, -1), 1);
    }
}

TEST_F(Tables, DeepNestingGivesStackError) {
    Arg nested = Table({});
    for (int i = 0; i < 250; ++i) nested = Table({{Num(0), nested}});
    EXPECT_EQ(Call("CopyTable", {nested}).code, 1135);
    Arg shallow = Table({});
    for (int i = 0; i < 150; ++i) shallow = Table({{Num(0), shallow}});
    EXPECT_EQ(Call("CopyTable", {shallow}).code, 0);
}

TEST_F(Tables, UnpackOfAMillionItemsFails) {
    std::vector<Arg> items(1000000, Num(1));
    EXPECT_EQ(Call("Unpack", {List(items)}).code, 1135);
    CallResult three = Call("Unpack", {List({Num(1), Num(2), Num(3)})});
    EXPECT_EQ(three.results.size(), 3u);
}

// Results beyond 999 would read as an error code.
TEST_F(Tables, UnpackGivesAtMost999Results) {
    for (size_t n : {size_t{999}, size_t{1000}, size_t{1499}, size_t{2047}, size_t{2048}}) {
        CallResult r = Call("Unpack", {List(std::vector<Arg>(n, Num(7)))});
        if (n <= 999) {
            ASSERT_EQ(r.code, 0);
            EXPECT_EQ(r.results.size(), n);
            EXPECT_EQ(r.Number(n - 1), 7);
        } else {
            EXPECT_EQ(r.code, 1135) << n;
        }
    }
}

TEST_F(Tables, ForEachStopsAtAResultAndRestoresTheCallbackCounter) {
    static int calls;
    calls = 0;
    Arg stopAtTwo = Native([](qvVmState* S) {
        ++calls;
        if (VmToNumber(S, 2) != 2) return 0;
        VmPushString(S, "stopped");
        return 1;
    });
    CallResult r = Call("ForEachI", {List({Num(1), Num(2), Num(3)}), stopAtTwo});
    EXPECT_EQ(r.Text(), "stopped");
    EXPECT_EQ(calls, 2);
    const int32_t before = Runtime().error.nestedCalls;
    Arg failing = Native([](qvVmState* S) -> int { RaiseError(S, ERR_WRONGUSAGE); });
    EXPECT_EQ(Call("ForEach", {Table({{Str("k"), Num(1)}}), failing}).code, 1055);
    EXPECT_EQ(Runtime().error.nestedCalls, before);
}

TEST_F(Tables, ProtectedMetatables) {
    Arg locked = Table({{Str("__metatable"), Str("locked")}});
    Hold(Table({}));
    ASSERT_EQ(CallOn("SetMetaTable", {locked}), 0);
    ASSERT_EQ(CallOn("GetMetaTable", {}), 0);
    EXPECT_STREQ(VmToString(L, -1), "locked");
    EXPECT_EQ(CallOn("SetMetaTable", {Table({})}), 1238);
}

TEST_F(SystemLib, ErrorTextsAndNames) {
    CallResult raised = Call("Error", {Str("100%s")});
    EXPECT_EQ(raised.code, 1239);
    EXPECT_EQ(raised.errorText, "100%s");
    for (int code = kFirstErrorCode; code < kFirstRegisteredCode; ++code) {
        char expected[1024];
        FormatErrorMessage(code, expected, sizeof expected);
        ASSERT_EQ(Call("GetErrorName", {Num(code)}).Text(), expected) << code;
    }
}

// Numbers that name no code, also beyond any integer, give the text of an unknown code.
TEST_F(SystemLib, ErrorNamesOfNoCode) {
    for (double number : {0.0, 999.0, 1499.0, -1.0, 1e12, -1e12, 2147483648.0, std::nan("")}) {
        EXPECT_EQ(Call("GetErrorName", {Num(number)}).Text(), "Unknown error code!") << number;
    }
}

TEST_F(SystemLib, EveryErrorCodeIsAConstant) {
    for (const qvConstant* row = qvErrorConstants; row->name != nullptr; ++row) {
        ASSERT_EQ(Call("GetConstant", {Str(std::string("#") + row->name)}).Number(), row->value)
            << row->name;
    }
}

TEST_F(SystemLib, VersionFields) {
    CallResult r = Call("GetVersion");
    ASSERT_EQ(r.code, 0);
    const Value& t = r.results[0];
    EXPECT_EQ(t.Field("application")->text, "QuorvellaPlayer");
    EXPECT_EQ(t.Field("version")->text, "5.0");
    EXPECT_EQ(t.Field("version_date")->text, "19.02.12");
    EXPECT_EQ(t.Field("kernel")->text, "5.0");
    EXPECT_EQ(t.Field("kernel_date")->text, "19.02.12");
    EXPECT_EQ(t.Field("beta")->number, 0);
    EXPECT_EQ(t.Field("platform")->text, "Linux");
}

TEST_F(SystemLib, CommandLineAndProgramInfoFromTheRecords) {
    qvUnknownOption second{nullptr, const_cast<char*>("-b"), nullptr};
    qvUnknownOption first{&second, const_cast<char*>("-a"), const_cast<char*>("1")};
    static qvStartupOptions options{};
    options.unknownOptions = &first;
    options.appletFlag = 1;
    std::snprintf(options.appletPath, sizeof options.appletPath, "/x/demo.qva");
    std::snprintf(options.programPath, sizeof options.programPath, "/bin/quorvella");
    std::snprintf(options.scriptArgument, sizeof options.scriptArgument, "demo.qva");
    SetRegistryPointer(L, "clargs", &options);
    CallResult line = Call("GetCommandLine");
    ASSERT_EQ(line.results.size(), 3u);
    EXPECT_EQ(line.results[0].At(0)->Field("arg")->text, "-a");
    EXPECT_EQ(line.results[0].At(0)->Field("param")->text, "1");
    EXPECT_EQ(line.results[0].At(1)->Field("param")->text, "");
    EXPECT_EQ(line.Number(1), 2);
    EXPECT_EQ(line.Number(2), 1);
    CallResult info = Call("GetProgramInfo");
    ASSERT_EQ(info.results.size(), 3u);
    EXPECT_EQ(info.Number(0), 1);
    EXPECT_EQ(info.Text(1), "/x/demo.qva");
    EXPECT_EQ(info.Text(2), "/bin/quorvella");
    EXPECT_EQ(Call("GetFileArgument").Text(), "demo.qva");
    Runtime().appletLinked = 1;
    CallResult linked = Call("GetProgramInfo");
    ASSERT_EQ(linked.results.size(), 2u);
    EXPECT_EQ(linked.Number(0), 2);
    SetRegistryPointer(L, "clargs", nullptr);
}

TEST_F(SystemLib, DebugPrintWritesPercentLiterallyAndEndAborts) {
    ASSERT_EQ(Call("DebugPrint", {Str("50%")}).code, 0);
    EXPECT_EQ(DebugText(), "50%\n");
    EXPECT_TRUE(Call("End").aborted);
}

TEST_F(SystemLib, ObjectDataOnTimers) {
    Call("StartTimer", {Num(1)});
    Call("StartTimer", {Num(2)});
    EXPECT_EQ(Call("SetObjectData", {Num(53), Num(1), Str(""), Num(1)}).code, 1055);
    ASSERT_EQ(Call("SetObjectData", {Num(53), Num(1), Str("Name"), Str("one")}).code, 0);
    ASSERT_EQ(Call("SetObjectData", {Num(53), Num(1), Str("n"), Num(5)}).code, 0);
    EXPECT_EQ(Call("GetObjectData", {Num(53), Num(1), Str("NAME")}).Text(), "one");
    ASSERT_EQ(Call("SetObjectData", {Num(53), Num(2), Str("n"), Num(9)}).code, 0);
    ASSERT_EQ(Call("CopyObjectData", {Num(53), Num(1), Num(53), Num(2), Num(0)}).code, 0);
    EXPECT_EQ(Call("GetObjectData", {Num(53), Num(2), Str("n")}).Number(), 9);
    EXPECT_EQ(Call("GetObjectData", {Num(53), Num(2), Str("name")}).Text(), "one");
    ASSERT_EQ(Call("CopyObjectData", {Num(53), Num(1), Num(53), Num(2)}).code, 0);
    EXPECT_EQ(Call("GetObjectData", {Num(53), Num(2), Str("n")}).Number(), 5);
    ASSERT_EQ(Call("ClearObjectData", {Num(53), Num(2), Str("n")}).code, 0);
    CallResult missing = Call("GetObjectData", {Num(53), Num(2), Str("n")});
    EXPECT_EQ(missing.code, 1496);
    EXPECT_EQ(missing.errorText, "n");
    EXPECT_EQ(Call("ClearObjectData", {Num(53), Num(2), Str("n")}).code, 1496);
    ASSERT_EQ(Call("ClearObjectData", {Num(53), Num(1)}).code, 0);
    EXPECT_EQ(Call("GetObjectData", {Num(53), Num(1), Str("name")}).code, 1496);
}

TEST_F(SystemLib, DebugPromptReadsLinesAndEmptyAtTheEnd) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const int savedStdin = ::dup(0);
    ::dup2(pipeFds[0], 0);
    ::close(pipeFds[0]);
    const char input[] = "first line\r\n";
    ASSERT_EQ(::write(pipeFds[1], input, sizeof input - 1), static_cast<ssize_t>(sizeof input - 1));
    ::close(pipeFds[1]);
    EXPECT_EQ(Call("DebugPrompt", {Str("? ")}).Text(), "first line");
    CallResult end = Call("DebugPrompt", {Str("")});
    EXPECT_EQ(end.code, 0);
    EXPECT_EQ(end.Text(), "");
    EXPECT_EQ(DebugText(), "? ");
    ::dup2(savedStdin, 0);
    ::close(savedStdin);
    std::clearerr(stdin);
}

TEST_F(Tables, PairsAndIPairsStepThroughTheTable) {
    CallResult pairs = Call("Pairs", {Table({})});
    ASSERT_EQ(pairs.results.size(), 3u);
    EXPECT_EQ(pairs.results[0].type, VM_TFUNCTION);
    EXPECT_EQ(pairs.results[2].type, VM_TNIL);
    CallResult start = Call("IPairs", {List({Str("a")})});
    ASSERT_EQ(start.results.size(), 3u);
    EXPECT_EQ(start.Number(2), -1);
    CallResult step = Call("IPairs", {List({Str("a"), Str("b")}), Num(0)});
    ASSERT_EQ(step.results.size(), 2u);
    EXPECT_EQ(step.Number(0), 1);
    EXPECT_EQ(step.Text(1), "b");
    EXPECT_TRUE(Call("IPairs", {List({Str("a")}), Num(0)}).results.empty());
    CallResult next = Call("NextItem", {Table({{Str("k"), Num(4)}})});
    ASSERT_EQ(next.results.size(), 2u);
    EXPECT_EQ(next.Text(0), "k");
    EXPECT_EQ(next.Number(1), 4);
}

TEST_F(SystemLib, MemoryCommands) {
    CallResult gc = Call("GCInfo");
    ASSERT_EQ(gc.results.size(), 2u);
    EXPECT_GT(gc.Number(0), 0);
    EXPECT_EQ(Call("CollectGarbage").code, 0);
    EXPECT_GT(Call("GetMemoryInfo", {Num(1)}).Number(), 0);
    EXPECT_EQ(Call("GetMemoryInfo", {Num(0)}).code, 0);
}

}  // namespace
}  // namespace qv::testing

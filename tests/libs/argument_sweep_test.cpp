// Every command of every library that the player registers, called the way a careless or
// hostile script would: with no arguments, with nil, tables, functions, numbers that no
// integer holds, empty, huge and forged strings, alone and in place of each argument of a
// call that is otherwise right. Errors are off, as under ExitOnError(False). Each call must
// return or end with an error code, leave the engine and the error state balanced, and let
// the sanitizers stay quiet; shutting the libraries down must leave no block behind.
//
// The second pass holds the commands to the error rule: a failure a command returns goes
// through the error hook, so with errors off the script goes on. Only the checks of the
// argument interface (and the few errors listed below) may end a call.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/memory.h"
#include "platform/linux/video/headless.h"
#include "runtime/attributes.h"
#include "runtime/exports.h"
#include "runtime/library_table.h"
#include "runtime/messages.h"
#include "runtime/runtime_state.h"
#include "runtime/strings.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

// Commands the sweep does not call, and why.
struct Skipped {
    const char* command;
    const char* reason;
};
constexpr Skipped kSkipped[] = {
    {"Execute", "starts a process"},
    {"Run", "starts a process"},
    {"OpenURL", "starts a process"},
    {"Wait", "waits for time"},
    {"WaitTimer", "waits for time"},
    {"DebugPrompt", "waits for input on the console"},
    {"ChangeDirectory", "moves the process out of the scratch directory that holds its files"},
    {"SystemRequest", "opens a requester"},
    {"StringRequest", "opens a requester"},
    {"FileRequest", "opens a requester"},
    {"PathRequest", "opens a requester"},
    {"FontRequest", "opens a requester"},
    {"ListRequest", "opens a requester"},
    {"ColorRequest", "opens a requester"},
    {"OpenConnection", "resolves host names"},
    {"CreateServer", "resolves host names (the interface address)"},
    {"CreateUDPObject", "resolves host names (the interface address)"},
    {"ToIP", "resolves host names"},
    {"ToHostName", "resolves host names"},
    {"IsOnline", "resolves and connects to a public host"},
    {"DownloadFile", "resolves host names"},
    {"UploadFile", "resolves host names"},
    {"TransformBrush",
     "each call with ones (a singular matrix) grows brush 1 by the sides of its bounds, until "
     "the effects after it run over pictures thousands of pixels a side"},
};

// Codes that the argument interface raises: argument counts and types, option-table fields,
// percentages, constants and names (layer names too, looked up as the argument is read). They
// end a call whatever the exit-on-error switch says.
const std::set<int> kArgumentCheckCodes = {
    ERR_MISSINGPARAMTR, ERR_TOOMANYARGS,  ERR_NUMEXPECTED,   ERR_STREXPECTED,
    ERR_TABEXPECTED,    ERR_FUNCEXPECTED, ERR_UDEXPECTED,    ERR_NUMTABLEARG,
    ERR_STRTABLEARG,    ERR_STRORNUM,     ERR_PERCENTFORMAT, ERR_TABEXPECTED2,
    ERR_SYNTAXERROR,    ERR_FINDCST,      ERR_NAMETOOLONG,   ERR_MEM,
    ERR_FINDLAYER,
};

// Further errors that particular commands raise, and why.
struct Raised {
    const char* command;
    std::set<int> codes;
    const char* reason;
};
const Raised kRaisedByCommand[] = {
    {"NextItem", {ERR_INVNEXTKEY}, "the engine's table walk raises a key the table lacks"},
    {"PatternFindStr",
     {ERR_MALFORMPAT1, ERR_MALFORMPAT2, ERR_UNBALANCEDPAT, ERR_TOOMANYCAPTURES, ERR_MISSINGOPBRACK,
      ERR_UNFINISHEDCAPTURE, ERR_INVCAPIDX, ERR_STACK, ERR_USERABORT},
     "the pattern matcher raises the faults of a pattern"},
    {"PatternReplaceStr",
     {ERR_MALFORMPAT1, ERR_MALFORMPAT2, ERR_UNBALANCEDPAT, ERR_TOOMANYCAPTURES, ERR_MISSINGOPBRACK,
      ERR_UNFINISHEDCAPTURE, ERR_INVCAPIDX, ERR_STACK, ERR_USERABORT},
     "the pattern matcher raises the faults of a pattern"},
};

// Codes of the argument interface that particular commands return as their own failures.
const Raised kReturnedByCommand[] = {
    {"Eval", {ERR_TABEXPECTED}, "options that are no table are one of its returned codes"},
};

constexpr int kMaxProbedArguments = 10;  // PerspectiveDistortBrush takes nine
// The sweep's allocations are capped, so that a size the script asks for fails as a
// request beyond the memory the run may have rather than taking the machine's.
constexpr size_t kMemoryCap = size_t(512) << 20;

std::string HugeString() {
    std::string s(64 * 1024, '\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i & 0xFF);
    return s;
}

// The values that replace arguments, each with the name a finding shows.
struct Hostile {
    std::string name;
    Arg value;
};

std::vector<Hostile> HostileValues() {
    const double inf = INFINITY;
    return {
        {"nil", Nil()},
        {"{}", Table({})},
        {"function", Native([](qvVmState*) { return 0; })},
        {"NaN", Num(std::nan(""))},
        {"inf", Num(inf)},
        {"-inf", Num(-inf)},
        {"1e12", Num(1e12)},
        {"-1e12", Num(-1e12)},
        {"2^31", Num(2147483648.0)},
        {"2^32", Num(4294967296.0)},
        {"-1", Num(-1)},
        {"0", Num(0)},
        {"\"\"", Str("")},
        {"64 KB string", Str(HugeString())},
        {"forged path", Str(":::chunk999:999*x/y")},
    };
}

// One call: the arguments and how a finding names them.
struct Case {
    std::vector<Arg> args;
    std::string shown;
};

std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : ", ") + p;
    return text;
}

const char* SkipReason(std::string_view command) {
    for (const Skipped& s : kSkipped) {
        if (StrICmp(s.command, std::string(command).c_str()) == 0) return s.reason;
    }
    return nullptr;
}

bool IsErrorCode(int code) {
    return code >= kFirstErrorCode;
}

// The libraries of the player, registered as start-up registers them.
void OpenPlayerLibraries(qvVmState* L) {
    const int top = VmGetTop(L);
    for (const qvLibraryRow& row : BuiltinLibraries().rows) {
        VmPushValue(L, VM_GLOBALSINDEX);
        if (const int code = row.initialise(L)) RaiseError(L, code);
        VmSetTop(L, top);
    }
}

std::vector<std::string> LibraryNames() {
    std::vector<std::string> names;
    for (const qvLibraryRow& row : BuiltinLibraries().rows) names.emplace_back(row.name);
    return names;
}

// The live blocks before any engine opened.
size_t baselineBlocks = 0;

class Baseline : public ::testing::Environment {
public:
    void SetUp() override { baselineBlocks = GetMemoryStats().liveBlocks; }
};
const auto* const kBaseline = ::testing::AddGlobalTestEnvironment(new Baseline);

class ArgumentSweep : public LibFixture, public ::testing::WithParamInterface<std::string> {
protected:
    ArgumentSweep()
        : LibFixture(OpenPlayerLibraries),
          clipboard_("QV_CLIPBOARD", TempDir() + "/clipboard"),
          rexxDir_("QV_REXX_DIR", TempDir()) {}

    void SetUp() override {
        const qvLibraryTable& table = BuiltinLibraries();
        for (qvSetAttrHandler h : table.setAttrHandlers) ASSERT_EQ(AddSetAttrHandler(h), 0);
        for (qvGetAttrHandler h : table.getAttrHandlers) ASSERT_EQ(AddGetAttrHandler(h), 0);
        // Relative names land in the scratch directory.
        ASSERT_EQ(getcwd(cwd_, sizeof cwd_), cwd_);
        ASSERT_EQ(chdir(TempDir().c_str()), 0);
        SetMemoryCap(kMemoryCap);
        // A small desktop, so that a brush grabbed from it keeps the effects after it quick.
        platform::testing::SetScreenSize({64, 48});
    }

    void TearDown() override {
        SetMemoryCap(0);
        platform::testing::ResetHeadless();
        if (L != nullptr) {
            RunLibraryCleanups(BuiltinLibraries(), L, CleanupSlot::kFreeScaleTables,
                               CleanupSlot::kFreeAllSounds);
        }
        EXPECT_EQ(chdir(cwd_), 0);
    }

    // Shuts down as the player does: the libraries' clean-ups, the engine, the run-time.
    void Shutdown() {
        TearDown();
        VmClose(L);
        L = nullptr;
        ResetRuntimeState();
    }

    // Calls command with the case's arguments, errors off; a finding when the call broke a
    // rule of the first pass. Returns the call's result.
    CallResult Sweep(const std::string& command, const Case& c) {
        SetExitOnError(false);
        CallResult r = Call(command, c.args);
        ++calls_;
        const std::string call = command + "(" + c.shown + ")";
        if (r.code != 0 && !IsErrorCode(r.code)) {
            findings_.push_back(call + " ended with " + std::to_string(r.code));
        }
        if (Runtime().error.nestedCalls != 0) {
            findings_.push_back(call + " left the callback count at " +
                                std::to_string(Runtime().error.nestedCalls));
            Runtime().error.nestedCalls = 0;
        }
        if (VmGetTop(L) != 0) {
            findings_.push_back(call + " left " + std::to_string(VmGetTop(L)) + " values");
            VmSetTop(L, 0);
        }
        if (r.ended && !MayEndTheScript(command, r.code)) {
            Ended& e = ended_[command];
            if (e.codes.empty()) e.example = call;
            e.codes.insert(r.code);
            ++e.calls;
        }
        return r;
    }

    static bool Lists(std::span<const Raised> list, const std::string& command, int code) {
        return std::any_of(list.begin(), list.end(), [&](const Raised& r) {
            return command == r.command && r.codes.contains(code);
        });
    }

    static bool MayEndTheScript(const std::string& command, int code) {
        if (Lists(kReturnedByCommand, command, code)) return false;
        return kArgumentCheckCodes.contains(code) || Lists(kRaisedByCommand, command, code);
    }

    // A command the sweep calls, with the numbers of arguments it takes.
    struct Command {
        std::string name;
        int least = 0;  // the fewest it does not refuse as too few
        int count = 0;  // the most it does not refuse as too many, or (no limit) least or four
    };

    // Finds the argument counts by calling the command with ones.
    void CountArguments(Command* c) {
        c->least = -1;
        for (int n = 0; n <= kMaxProbedArguments; ++n) {
            const CallResult r = Sweep(c->name, Ones(n));
            if (r.code == ERR_TOOMANYARGS) {
                c->count = n - 1;
                return;
            }
            if (c->least < 0 && r.code != ERR_MISSINGPARAMTR) c->least = n;
        }
        c->count = std::max(c->least, 4);
    }

    static Case Ones(int n) {
        return {std::vector<Arg>(n, Num(1)), Join(std::vector<std::string>(n, "1"))};
    }

    // Every case of one command: none, each hostile value alone, and each argument of the
    // right count (ones) replaced by each hostile value in turn.
    void SweepCommand(const std::string& command, int count) {
        for (const Hostile& h : hostile_) Sweep(command, {{h.value}, h.name});
        for (int i = 0; i < count; ++i) {
            for (const Hostile& h : hostile_) {
                Case c = Ones(count);
                c.args[i] = h.value;
                std::vector<std::string> shown(count, "1");
                shown[i] = h.name;
                c.shown = Join(shown);
                Sweep(command, c);
            }
        }
    }

    // Calls every other command with ones (its fewest and its most), in table order and
    // back, so that the objects the library's first commands make under id 1 (files, blocks,
    // timers) exist when the cases of command run, and the checks behind the lookups are
    // reached.
    void Prime(const std::string& command) {
        auto call = [&](const Command& c) {
            if (c.name == command) return;
            Sweep(c.name, Ones(c.least));
            if (c.count != c.least) Sweep(c.name, Ones(c.count));
        };
        std::for_each(commands_.begin(), commands_.end(), call);
        std::for_each(commands_.rbegin(), commands_.rend(), call);
    }

    // The library's commands that the sweep calls, in table order.
    void ListCommands() {
        for (const CommandTable& table : RegisteredCommandTables()) {
            if (GetParam() != table.libraryName) continue;
            for (const qvCommandEntry* row = table.rows; row->name != nullptr; ++row) {
                if (SkipReason(row->name) == nullptr) commands_.push_back({row->name});
            }
        }
    }

    // Sweeps the library's commands: once as they come, then once more, each after priming.
    void SweepLibrary() {
        ListCommands();
        for (Command& c : commands_) {
            CountArguments(&c);
            SweepCommand(c.name, c.count);
        }
        for (const Command& c : commands_) {
            Prime(c.name);
            SweepCommand(c.name, c.count);
        }
        std::printf("swept %zu commands of \"%s\" with %d calls\n", commands_.size(),
                    GetParam().c_str(), calls_);
    }

    static std::string Listed(const std::vector<std::string>& lines) {
        std::ostringstream out;
        for (size_t i = 0; i < lines.size() && i < 100; ++i) out << "\n  " << lines[i];
        if (lines.size() > 100) out << "\n  ... " << lines.size() - 100 << " more";
        return out.str();
    }

    // The calls of one command that ended with codes no argument check raises.
    struct Ended {
        std::set<int> codes;
        std::string example;
        int calls = 0;
    };

    std::string ListEnded() const {
        std::ostringstream out;
        for (const auto& [command, e] : ended_) {
            out << "\n  " << command << ": " << e.calls << " calls, codes";
            for (int code : e.codes) out << ' ' << code;
            out << " (first: " << e.example << ")";
        }
        return out.str();
    }

    const std::vector<Hostile> hostile_ = HostileValues();
    std::vector<std::string> findings_;
    std::map<std::string, Ended> ended_;
    std::vector<Command> commands_;
    int calls_ = 0;

private:
    ScopedEnv clipboard_;
    ScopedEnv rexxDir_;
    char cwd_[4096] = {};
};

TEST_P(ArgumentSweep, EveryCallEndsWithACode) {
    SweepLibrary();
    EXPECT_TRUE(findings_.empty())
        << findings_.size() << " calls broke a rule:" << Listed(findings_);
}

TEST_P(ArgumentSweep, ReturnedFailuresLeaveTheScriptRunning) {
    SweepLibrary();
    EXPECT_TRUE(ended_.empty()) << ended_.size()
                                << " commands ended the script with errors that are no argument "
                                   "check:"
                                << ListEnded();
}

// Shutting the libraries down after a sweep leaves no block of the run-time behind.
TEST_P(ArgumentSweep, LeavesNothingAllocated) {
    SweepLibrary();
    Shutdown();
    EXPECT_EQ(GetMemoryStats().liveBlocks, baselineBlocks);
}

INSTANTIATE_TEST_SUITE_P(Libraries, ArgumentSweep, ::testing::ValuesIn(LibraryNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

}  // namespace
}  // namespace qv::testing

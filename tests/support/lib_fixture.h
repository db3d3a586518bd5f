// The test fixture of the command libraries: an engine with the run-time's host (error
// state, registry, abort flag) and one library registered, whose commands tests call the way
// a script does. Also: a fake input pump, the debug output recorded, the exit-on-error
// switch, a temporary directory as "T:", oracle tools, and the library's listings run
// through the listing harness.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/testsupport/listing.h"
#include "engine/vm.h"
#include "platform/linux/debug_output.h"
#include "tests/platform/file_test_support.h"
#include "tests/support/tool_check.h"

namespace qv::testing {

using NativeFunction = std::function<int(qvVmState*)>;

// The opener of the libraries these functions register, in this order; a registration that
// fails raises its code.
template <int (*... Register)(qvVmState*)>
void OpenLibraries(qvVmState* L) {
    for (int (*registerLibrary)(qvVmState*) : {Register...}) {
        if (const int code = registerLibrary(L)) RaiseError(L, code);
    }
}

// An argument as a script passes it.
struct Arg {
    enum class Kind { Number, String, Nil, Boolean, Table, LightUserdata, Native, Script };
    Kind kind = Kind::Nil;
    double number = 0;
    std::string text;  // bytes of a string; the listing of a script function
    bool boolean = false;
    void* pointer = nullptr;
    std::vector<std::pair<Arg, Arg>> entries;
    std::shared_ptr<NativeFunction> native;
};

Arg Num(double n);
Arg Str(std::string_view bytes);
Arg Nil();
Arg Bool(bool b);
// A table of {key, value} pairs, nested as deep as wanted.
Arg Table(std::vector<std::pair<Arg, Arg>> entries);
// A table with the items at indices 0, 1, 2 ... (the run-time's arrays start at 0).
Arg List(std::vector<Arg> items);
Arg LightUserdata(void* p);
// A native function; the fixture keeps it alive as long as the engine.
Arg Native(NativeFunction f);
// A script function: the main function of a qvasm listing (".function main params=N ...").
Arg Script(std::string listing);

// A result, copied out of the engine.
struct Value {
    int type = VM_TNIL;
    double number = 0;
    bool boolean = false;
    std::string text;                              // strings
    const void* pointer = nullptr;                 // tables, functions, user data, threads
    std::vector<std::pair<Value, Value>> entries;  // tables, in traversal order

    // The entry under a number or string key; nullptr when there is none.
    const Value* At(double key) const;
    const Value* Field(std::string_view key) const;
};
std::ostream& operator<<(std::ostream& out, const Value& v);

struct CallResult {
    int code = 0;  // 0, or the error code the call ended with (raised or returned)
    // The error ended the call, as it ends a script: raised, or returned while errors end
    // the script.
    bool ended = false;
    std::vector<Value> results;
    std::string errorText;     // the error state's text argument
    uint32_t errorNumber = 0;  // and its numeric argument
    bool aborted = false;      // the abort flag after the call (the fixture clears it)

    // Result i as text or number; "" and 0 when it is missing or of another type.
    std::string Text(size_t i = 0) const;
    double Number(size_t i = 0) const;
};

class LibFixture : public ::testing::Test {
protected:
    // Opens the engine and registers the library with opener, under protection.
    explicit LibFixture(LibraryOpener opener);
    ~LibFixture() override;

public:
    qvVmState* L = nullptr;

    // Calls the global command name (any letter case) with args inside a protected call.
    CallResult Call(std::string_view name, const std::vector<Arg>& args = {});
    // Calls name(args), which returns an iterator, then the iterator (without arguments)
    // until it returns nothing or nil, at most maxCalls times: each call's results, or one
    // entry with the code when something failed.
    std::vector<CallResult> Iterate(std::string_view name, const std::vector<Arg>& args,
                                    int maxCalls = 1000);

    void SetExitOnError(bool on);
    // Sets the abort flag, as Ctrl-C does.
    void Abort();

    // A line hook in place of the run-time's input poll: counts its calls and, with stopAfter
    // above 0, sets the abort flag at that call.
    void InstallFakePump(int stopAfter = 0);
    int PumpCalls() const { return pumpCalls_; }

    // Everything written to the debug output since the fixture opened.
    std::string DebugText() const { return debug_.Text(); }

    // A fresh directory that "T:" names (through QV_ASSIGN) until the fixture ends.
    const std::string& TempDir();

    // Runs a listing through the listing harness with this fixture's library and the
    // run-time's host; returns "" when it met its expectations, else what differed.
    std::string CheckListing(const std::filesystem::path& path, bool gcTorture = false);
    // Expects the listing to meet its expectations run plainly and again with a collection
    // at every check point.
    void ExpectListingMet(const std::filesystem::path& path);

    // Pushes an argument onto the engine's stack.
    void PushArg(const Arg& arg);

private:
    static void PumpHook(qvVmState* L, qvDebugRecord* ar, int* status);

    LibraryOpener opener_;
    DebugCapture debug_;
    int pumpCalls_ = 0;
    int pumpStopAfter_ = 0;
    std::vector<std::shared_ptr<NativeFunction>> natives_;
    std::optional<ScratchDir> tempDir_;
    std::optional<ScopedAssigns> assigns_;
};

// The source tree, for test data and listings.
std::filesystem::path SourceDir();
// The *.qvs files of a directory, sorted, for parameterised listing tests.
std::vector<std::string> ListingsIn(const std::filesystem::path& dir);
// A listing test's name: the listing's file name without its extension.
std::string ListingTestName(const ::testing::TestParamInfo<std::string>& info);
// A parameterised case's name: its index and a text, each character that a test name cannot
// hold turned into "_" ("3_Round", "12_de_DE_UTF_8").
std::string CaseName(size_t index, std::string_view text);
// The name generator of cases that have a field command: CaseName of it.
inline constexpr auto kCommandCaseName = [](const auto& info) {
    return CaseName(info.index, info.param.command);
};

// One test of Fixture, parameterised by a listing's path, per listing in dir (below the
// source tree).
#define QV_INSTANTIATE_LISTINGS(Fixture, dir) \
    INSTANTIATE_TEST_SUITE_P(                 \
        Listings, Fixture, ::testing::ValuesIn(ListingsIn(SourceDir() / (dir))), ListingTestName)

// Runs a shell command; its exit status and standard output.
struct ToolRun {
    int status = -1;
    std::string output;
};
ToolRun RunTool(const std::string& command);
// Runs a Python 3 script with input on its standard input.
ToolRun RunPython(const std::string& script, const std::string& input);
// The lines of a text, without their line breaks.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace qv::testing

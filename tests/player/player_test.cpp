// PlayerMain in-process, with logging doubles for the library table, the platform, the plugin
// host and the applet loader: the order of start-up and shutdown, the registry and the
// attributes at each step, the banner, export mode, and runs that end early.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "platform/linux/debug_output.h"
#include "platform/linux/memory.h"
#include "platform/linux/program.h"
#include "runtime/applet_loader.h"
#include "runtime/attributes.h"
#include "runtime/library_table.h"
#include "runtime/player.h"
#include "runtime/startup.h"
#include "tests/runtime/runtime_test_support.h"
#include "tools/qvasm/qvasm.h"
#include "tools/qvmkapplet/applet_builder.h"

extern qvAppletLink qvAppletLinkRecord;

namespace qv::testing {
namespace {

std::vector<std::string> events;
std::vector<uint8_t> chunk;         // what the applet-loader double loads
const char* initFailure = nullptr;  // the library whose initialiser raises ERR_MEM

void Log(const std::string& event) {
    events.push_back(event);
}

std::string Locations() {
    return " locations=" + std::to_string(Runtime().error.reportLocations);
}

// --- Library doubles ---

constexpr const char* kSlotNames[] = {
    "FreeScaleTables", "StopAllSounds",       "StopAllVideos",   "FreeAllDisplays",
    "ShutdownNetwork", "FreeGraphicsObjects", "FreeDrawBuffers", "FreeAllBrushes",
    "FreeAllBGPics",   "FreeAllVideos",       "FreeAllPaths",    "FreeAllSprites",
    "FreeCatalogs",    "FreeAllTextObjects",  "FreeAllAnims",    "FreeLayerLists",
    "FreeDosObjects",  "FreeAllMemBlocks",    "CloseRexxPort",   "FreeEventObjects",
    "FreeAllSounds"};
static_assert(std::size(kSlotNames) == static_cast<size_t>(CleanupSlot::kCount));

int LoggedCreateDisplay(qvVmState* L) {
    Log("CreateDisplay " + std::to_string(static_cast<int>(VmToNumber(L, 1))) + Locations());
    return 0;
}

template <int I>
int LoggedInit(qvVmState* L) {
    const char* name = BuiltinLibraries().rows[I].name;
    std::string event = std::string("init ") + name;
    // The globals table is pushed for every initialiser, onto an empty stack; a whole run's
    // events show the mark where it was not.
    if (VmGetTop(L) != 2 || VmType(L, 2) != VM_TTABLE) event += " (stack?)";
    Log(event);
    if (initFailure != nullptr && std::string(name) == initFailure) RaiseError(L, ERR_MEM);
    if (std::string(name) == "display") {
        const qvCommandEntry rows[] = {{"CreateDisplay", LoggedCreateDisplay}, {nullptr, nullptr}};
        RegisterLibrary(L, nullptr, rows, 0);
    }
    return 0;
}

template <int S>
void LoggedCleanup(qvVmState*) {
    Log(kSlotNames[S]);
}

template <int... I>
constexpr std::array<int (*)(qvVmState*), sizeof...(I)> Inits(std::integer_sequence<int, I...>) {
    return {LoggedInit<I>...};
}
template <int... S>
constexpr std::array<void (*)(qvVmState*), sizeof...(S)> Cleanups(
    std::integer_sequence<int, S...>) {
    return {LoggedCleanup<S>...};
}

int LoggedSetAttr(const char* library, uint32_t tag, bool takes) {
    Log(std::string(library) + " set " + std::to_string(tag));
    return takes ? 1 : 0;
}

int LoggedGetAttr(uint32_t, int32_t*) {
    return 0;
}

void LoggedFlush() {
    Log("FlushGfxCache" + Locations());
}

int LoggedOpenFirstDisplay(qvVmState*, qvScriptHeader*, qvStartupOptions*) {
    Log("OpenFirstDisplay" + Locations());
    return 0;
}

// The real table's rows, with logging initialisers and a logging clean-up in each slot that
// the real row fills.
class LoggingLibraries {
public:
    LoggingLibraries() {
        auto inits = Inits(std::make_integer_sequence<int, kLibraryCount>());
        auto cleanups = Cleanups(std::make_integer_sequence<int, std::size(kSlotNames)>());
        const qvLibraryTable& real = BuiltinLibraries();
        for (size_t i = 0; i < real.rows.size(); ++i) {
            for (const qvLibraryCleanup& c : real.rows[i].cleanups) {
                cleanups_[i].push_back({c.slot, cleanups[static_cast<int>(c.slot)]});
            }
            rows_[i] = {real.rows[i].name, inits[i], cleanups_[i]};
        }
        table_ = {rows_,
                  {[](qvVmState*, uint32_t tag, int32_t) {
                       return LoggedSetAttr("graphics", tag, tag == 5 || tag == 7);
                   },
                   [](qvVmState*, uint32_t tag, int32_t) {
                       return LoggedSetAttr("sound", tag, tag == 3 || tag == 4);
                   }},
                  {[](qvVmState*, uint32_t tag, int32_t* v) { return LoggedGetAttr(tag, v); },
                   [](qvVmState*, uint32_t tag, int32_t* v) { return LoggedGetAttr(tag, v); }},
                  LoggedFlush,
                  LoggedOpenFirstDisplay,
                  real.pollEvents};
    }
    const qvLibraryTable* table() const { return &table_; }

private:
    std::array<std::vector<qvLibraryCleanup>, kLibraryCount> cleanups_;
    std::array<qvLibraryRow, kLibraryCount> rows_;
    qvLibraryTable table_;
};

// --- Platform, plugin host and loader doubles ---

PlayerServices LoggingServices(const qvLibraryTable* libraries) {
    return {
        libraries,
        [] {
            Log("PlatformStartup");
            return PlatformStartup();
        },
        [] {
            Log("PlatformShutdown");
            PlatformShutdown();
        },
        [](char* out, size_t size) {
            Log("GetProgramPath");
            return GetProgramPath(out, size);
        },
        [](const char* name, uint32_t) -> qvCatalog* {
            Log(std::string("OpenAppCatalog ") + name);
            return nullptr;
        },
        [](qvCatalog*) { Log("FreeCatalog"); },
        [] {
            Log("OpenDebugConsole");
            return 0;
        },
        [] { Log("CloseDebugConsole"); },
        [](qvVmState*, qvStartupOptions*) {
            Log("RegisterPlugins");
            return 0;
        },
        [](qvVmState*) { Log("FreePluginLibraries"); },
        [] { Log("UnloadPlugins"); },
        [](qvVmState* L, qvStartupOptions* options, qvScriptHeader* header) {
            Log("LoadApplet" + Locations());
            header->programChunk = static_cast<uint8_t*>(AllocMemBlock(chunk.size(), 0));
            std::copy(chunk.begin(), chunk.end(), header->programChunk);
            header->programChunkSize = static_cast<uint32_t>(chunk.size());
            options->appletFlag = 1;
            SetRegistryString(L, "script", ":none:");
            return 0;
        },
        [](qvVmState* L) {
            Log("RunMainChunk" + Locations());
            return RunMainChunk(L);
        },
    };
}

std::vector<uint8_t> Assembled(const std::string& listing) {
    AssembleResult r = Assemble(listing);
    EXPECT_TRUE(r.ok());
    return r.bytes;
}

constexpr char kEmptyMain[] = ".function main\n    RETURN r0 1\n.end\n";

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntimeState();
        events.clear();
        initFailure = nullptr;
        chunk = Assembled(kEmptyMain);
        services = LoggingServices(libraries.table());
    }
    void TearDown() override { ResetRuntimeState(); }

    // One run in the scratch directory; returns the console and debug text and what went to
    // standard output directly, and keeps what went to standard error (the requesters).
    std::string Run(std::vector<const char*> args, const PlayerServices* with = nullptr) {
        args.insert(args.begin(), "quorvella");
        FdCapture output(1);
        FdCapture errors(2);
        DebugCapture capture;
        char cwd[4096];
        EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
        EXPECT_EQ(chdir(scratch.path().c_str()), 0);
        EXPECT_EQ(RunPlayer(static_cast<int>(args.size()), args.data(),
                            with != nullptr ? *with : services),
                  0);
        EXPECT_EQ(chdir(cwd), 0);
        requesters = errors.Text();
        // Only "Not enough memory." bypasses the debug output.
        return capture.Text() + output.Text();
    }
    std::vector<std::string> EventsFrom(const std::string& first) const {
        auto it = std::find(events.begin(), events.end(), first);
        return std::vector<std::string>(it, events.end());
    }

    ScratchDir scratch;
    ScopedAssigns assigns{"T:=" + scratch.MakeDir("t")};
    LoggingLibraries libraries;
    PlayerServices services;
    std::string requesters;
};

std::vector<std::string> Inits() {
    std::vector<std::string> out;
    for (const char* name :
         {"string",         "math",    "graphics", "draw",         "moveobject", "dos",
          "event",          "system",  "layers",   "text",         "anim",       "display",
          "sound",          "brush",   "bgpic",    "transitionfx", "sprite",     "memblock",
          "vectorgraphics", "network", "video",    "arexx"}) {
        out.push_back(std::string("init ") + name);
    }
    return out;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// Shutdown: the console, the libraries' clean-up slots in their order, then the plugins,
// the catalog and the platform.
const std::vector<std::string> kShutdown =
    Concat({{"CloseDebugConsole"},
            {std::begin(kSlotNames), std::end(kSlotNames)},
            {"FreePluginLibraries", "UnloadPlugins", "FreeCatalog", "PlatformShutdown"}});

TEST_F(PlayerTest, AWholeRunKeepsTheOrderOfStartUpAndShutdown) {
    std::string text = Run({"app.qva"});
    EXPECT_EQ(events, Concat({{"PlatformStartup", "OpenAppCatalog Quorvella/Quorvella.catalog",
                               "GetProgramPath", "OpenDebugConsole"},
                              Inits(),
                              {"graphics set 3", "sound set 3", "graphics set 4", "sound set 4",
                               "RegisterPlugins", "LoadApplet locations=0",
                               "CreateDisplay 1 locations=1", "FlushGfxCache locations=0",
                               "OpenFirstDisplay locations=0", "RunMainChunk locations=1"},
                              kShutdown}));
    EXPECT_EQ(text,
              "QuorvellaPlayer 5.0 [Linux]\n"
              "Runs compiled multimedia applets in its own script engine.\n\n"
              "Compiling script... done\nLoading applet app.qva... done\n");
    EXPECT_EQ(PlayerExitStatus(), 0);
}

TEST_F(PlayerTest, TheBannerNeedsNeitherQuietNorALinkedApplet) {
    const uint8_t offset[4] = {0, 0, 0x10, 0};
    struct Case {
        const char* name;
        std::vector<const char*> args;
        bool linked;
        bool banner;
    };
    const Case cases[] = {{"plain", {"app.qva"}, false, true},
                          {"quiet", {"app.qva", "-QUIET"}, false, false},
                          {"linked", {}, true, false},
                          {"linked in a window", {"-WINDOW"}, true, false}};
    qvAppletLink saved = qvAppletLinkRecord;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetRuntimeState();
        events.clear();
        if (c.linked) std::copy(offset, offset + 4, qvAppletLinkRecord.offset);
        std::string text = Run(c.args);
        qvAppletLinkRecord = saved;
        EXPECT_EQ(text.find("QuorvellaPlayer") != std::string::npos, c.banner) << text;
        EXPECT_EQ(std::count(events.begin(), events.end(), "OpenDebugConsole"), c.banner ? 1 : 0);
        EXPECT_EQ(std::count(events.begin(), events.end(), "RunMainChunk locations=1"), 1);
        EXPECT_EQ(PlayerExitStatus(), 0);
    }
}

TEST_F(PlayerTest, ExportModeWritesItsListsAndRunsNoApplet) {
    PlayerServices real = services;
    real.libraries = &BuiltinLibraries();
    Run({"-EXPORTCOMMANDS", "commands.txt", "-EXPORTPLUGINS", "plugins.txt", "-QUIET"}, &real);
    EXPECT_EQ(std::count(events.begin(), events.end(), "RegisterPlugins"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "LoadApplet locations=0"), 0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "RunMainChunk locations=1"), 0);
    Bytes commands = ReadBytes(scratch / "commands.txt");
    std::string listed(commands.begin(), commands.end());
    EXPECT_EQ(listed.rfind("::string\n", 0), 0u) << listed;
    EXPECT_TRUE(listed.ends_with(
        "::video\n0\n::arexx\n3\nCreateRexxPort\nSendRexxCommand\nRunRexxScript\n::end\n"))
        << listed;
    Bytes plugins = ReadBytes(scratch / "plugins.txt");
    EXPECT_EQ(std::string(plugins.begin(), plugins.end()), "::end\n");
    EXPECT_EQ(PlayerExitStatus(), 0);
}

// Each list that cannot be written is named on standard error, the others are written, and
// the run ends with the error status.
TEST_F(PlayerTest, ExportsThatCannotBeWrittenAreReportedAndTheOthersWritten) {
    PlayerServices real = services;
    real.libraries = &BuiltinLibraries();
    std::string text =
        Run({"-EXPORTCOMMANDS", "missing/commands.txt", "-EXPORTCONSTANTS", "constants.txt",
             "-EXPORTPLUGINS", "missing/plugins.txt", "-QUIET", "-DEBUGDEVICE", "@stdout"},
            &real);
    EXPECT_EQ(text, "");
    EXPECT_EQ(requesters,
              "Cannot write to file missing/commands.txt !\n"
              "Cannot write to file missing/plugins.txt !\n");
    Bytes constants = ReadBytes(scratch / "constants.txt");
    EXPECT_NE(std::string(constants.begin(), constants.end()).find("\nerr_mem\n"),
              std::string::npos);
    EXPECT_EQ(PlayerExitStatus(), 20);
}

TEST_F(PlayerTest, RunsThatEndEarlyStillShutDownCompletely) {
    struct Case {
        const char* name;
        std::vector<const char*> args;
        const char* failingLibrary;
        std::string report;
        std::string requester;
        int status;
        std::vector<std::string> before;  // the last start-up events before shutdown
    };
    const Case cases[] = {
        {"nothing to run", {}, nullptr, "", "", 0, {"GetProgramPath"}},
        {"bad arguments",
         {"a", "b"},
         nullptr,
         "",
         "[QuorvellaPlayer] Wrong arguments specified!\n",
         20,
         {"GetProgramPath"}},
        {"a library out of memory",
         {"-QUIET", "-DEBUGDEVICE", "@stdout", "app.qva"},
         "event",
         "Error: Out of memory!\n",
         "",
         20,
         {"init dos", "init event"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetRuntimeState();
        events.clear();
        initFailure = c.failingLibrary;
        std::string text = Run(c.args);
        EXPECT_EQ(text, c.report);
        EXPECT_EQ(requesters, c.requester);
        EXPECT_EQ(PlayerExitStatus(), c.status);
        std::vector<std::string> expected = Concat({c.before, kShutdown});
        ASSERT_GE(events.size(), expected.size());
        EXPECT_EQ(std::vector<std::string>(events.end() - expected.size(), events.end()), expected);
    }
}

TEST_F(PlayerTest, AChunkThatFailsToLoadIsReportedWithScriptLocations) {
    chunk = {'t', 'e', 'x', 't'};
    std::string text = Run({"app.qva", "-QUIET", "-DEBUGDEVICE", "@stdout"});
    EXPECT_EQ(text, "---:-1: Bad bytecode signature!\n");
    EXPECT_EQ(PlayerExitStatus(), 20);
}

TEST_F(PlayerTest, CompileIsRefusedOnceTheChunkHasLoaded) {
    std::string text = Run({"app.qva", "-COMPILE", "out.x", "-QUIET", "-DEBUGDEVICE", "@stdout"});
    EXPECT_EQ(text, "Error: Compilation is not possible with QuorvellaPlayer!\n");
    EXPECT_EQ(std::count(events.begin(), events.end(), "LoadApplet locations=0"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "CreateDisplay 1 locations=1"), 0);
}

// Memory that runs out anywhere in a real run (libraries, loader, preload, the script) ends
// it through the exit report, never with a crash, and leaves nothing allocated.
TEST_F(PlayerTest, MemoryRunningOutAnywhereEndsTheRunWithAReport) {
    ScopedAssigns libs{"T:=" + scratch.MakeDir("t2") + ";LIBS:=" + scratch.MakeDir("libs")};
    AppletBuilder applet;
    applet.SetChunk(
        Assembled(".function main\n    GETGLOBAL r0 \"debugprint\"\n    LOADK r1 \"hello\"\n"
                  "    CALL r0 2 1\n    RETURN r0 1\n.end\n"));
    applet.AddLineMap(1, 10, 0, "main.qvs", "");
    scratch.Write("app.qva", applet.Build());
    PlayerServices real = DefaultPlayerServices();
    std::vector<const char*> args = {"app.qva", "-QUIET", "-DEBUGDEVICE", "@stdout"};

    ResetRuntimeState();
    size_t liveBefore = GetMemoryStats().liveBlocks;
    uint64_t first = GetMemoryStats().requests;
    ASSERT_EQ(Run(args, &real), "hello\n");
    uint64_t requests = GetMemoryStats().requests - first;
    ResetRuntimeState();
    ASSERT_EQ(GetMemoryStats().liveBlocks, liveBefore);
    ASSERT_GT(requests, 100u);

    // Every one of the first requests, then a spread over the rest.
    std::vector<uint64_t> failures;
    for (uint64_t n = 1; n <= requests; n += n < 200 ? 1 : requests / 200) failures.push_back(n);
    for (uint64_t n : failures) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        std::string text;
        {
            AllocationFault fault(n, false);
            text = Run(args, &real);
        }
        // Out of memory, or what the step that met it makes of it ("Cannot read file"), on
        // the debug device or, before the command line chose it, in a requester.
        std::string report = text + requesters;
        bool reported = PlayerExitStatus() == 20 && report.find("hello") == std::string::npos &&
                        (report.ends_with("!\n") || report == "Not enough memory.\n");
        EXPECT_TRUE(report == "hello\n" || reported) << report;
        ResetRuntimeState();
        EXPECT_EQ(GetMemoryStats().liveBlocks, liveBefore);
    }
}

TEST(Crc32Table, FollowsTheReflectedRule) {
    EXPECT_EQ(qvCrc32Table[0], 0u);
    EXPECT_EQ(qvCrc32Table[1], 0x77073096u);
    EXPECT_EQ(qvCrc32Table[128], 0xEDB88320u);
    EXPECT_EQ(qvCrc32Table[255], 0x2D02EF8Du);
}

}  // namespace
}  // namespace qv::testing

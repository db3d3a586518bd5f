// The plugin host with the real test plugin: loading and its checks (one variant per
// failure), the scan's progress lines, registration of commands, constants and savers,
// errors that unwind through plugin code, clean-up of only what was set up, the plugin list
// export and the required-plugin check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/debug_output.h"
#include "platform/linux/memory.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/plugins/plugin_host.h"
#include "tests/plugins/plugin_test_support.h"

namespace {

using qv::testing::CopyInto;
using qv::testing::ErrorText;
using qv::testing::FdCapture;
using qv::testing::ReadBytes;
using qv::testing::ScopedAssigns;
using qv::testing::ScopedEnv;
using qv::testing::ScratchDir;
using qv::testing::TestPluginPath;
using qv::testing::VariantPath;

std::string FileText(const std::string& path) {
    qv::testing::Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class PluginHost : public qv::testing::PluginTest {
protected:
    // Registers the plugins of programDir (as the program's directory) and of
    // LIBS:Quorvella (libsDir/Quorvella); returns RegisterPlugins' result.
    int Register(const std::string& programDir, const std::string& libsDir) {
        ScopedAssigns assigns("LIBS:=" + libsDir);
        qvStartupOptions options{};
        qv::CopyText(options.programPath, sizeof options.programPath,
                     (programDir + "/quorvella").c_str());
        return RegisterPlugins(L, &options);
    }

    // Registers qvtest.qvp alone.
    int RegisterTestPlugin() {
        CopyInto(TestPluginPath(), programDir_.path(), "qvtest.qvp");
        return Register(programDir_.path(), libsDir_.path());
    }

    // Calls the global command name (lower case, as stored) with string arguments under
    // protection; the status.
    int Call(const char* name, const std::vector<std::string>& args) {
        VmPushString(L, name);
        VmGetTable(L, VM_GLOBALSINDEX);
        for (const std::string& arg : args) VmPushString(L, arg.c_str());
        return VmPCall(L, static_cast<int>(args.size()), 0, 0);
    }

    ScratchDir programDir_;
    ScratchDir libsDir_;
};

TEST_F(PluginHost, TestPluginLoadsAndItsCommandsPrintThroughTheServiceTable) {
    qv::DebugCapture console;
    ASSERT_EQ(RegisterTestPlugin(), 0);
    EXPECT_EQ(console.Text(), "Loading plugin qvtest.qvp... done\n");
    ASSERT_EQ(CountPlugins(), 1);
    EXPECT_EQ(qv::Runtime().plugins->capabilities, QV_PLUGIN_LIBRARY | QV_PLUGIN_PICTURESAVER);
    EXPECT_EQ(qv::VectorGraphicsPlugin(), nullptr);

    FdCapture out(1);
    EXPECT_EQ(Call("testprint", {"one", "2", "three four"}), 0);
    EXPECT_EQ(Call("testapi", {}), 0);
    EXPECT_EQ(out.Text(), "one 2 three four\nTestApi 5.0 1499 file.txt 0 65932 60280 49224\n");
    EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(PluginHost, LibraryConstantsAndSaverFormatsAreRegistered) {
    ASSERT_EQ(RegisterTestPlugin(), 0);
    double number = 0;
    const char* text = nullptr;
    ASSERT_EQ(LookupConstant(L, "QVTEST_MAGIC", &text, &number), 1);
    EXPECT_EQ(number, 42);
    ASSERT_EQ(LookupConstant(L, "imgfmt_png2", &text, &number), 1);
    EXPECT_EQ(number, 10);
    const qvPluginFunctions* f = GetPluginFunctions(qv::Runtime().plugins->record);
    EXPECT_EQ(f->imageSaver.formatId, 10);
    EXPECT_STREQ(f->imageSaver.name, "PNG2");
    EXPECT_STREQ(qv::FindCommandSpelling("testraise"), "TestRaise");
}

TEST_F(PluginHost, PluginErrorsReachTheProtectedCall) {
    ASSERT_EQ(RegisterTestPlugin(), 0);
    // A returned code goes through the error hook with the arguments the plugin set.
    EXPECT_EQ(Call("testfail", {"1044", "0", "dir/picture.png"}), ERR_LOADPICTURE);
    EXPECT_EQ(ErrorText(ERR_LOADPICTURE), "Cannot load picture picture.png!");
    EXPECT_EQ(qv::Runtime().error.lastError, uint32_t{ERR_LOADPICTURE});
    // A raised one unwinds through the plugin's frame (whose heap string must be freed).
    qv::Runtime().abortFlag = 0;
    EXPECT_EQ(Call("testraise", {"1041"}), 1041);
    EXPECT_EQ(VmGetTop(L), 0);
    qv::Runtime().abortFlag = 0;
    EXPECT_EQ(Call("testprint", {"after"}), 0);
}

TEST_F(PluginHost, RecordModeAddsThePreloadCommands) {
    ScopedEnv record("QVTEST_RECORD", "1");
    ASSERT_EQ(RegisterTestPlugin(), 0);
    VmPushString(L, "loadbrush");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushNumber(L, 3);
    VmPushString(L, "brush.png");
    VmNewTable(L);
    VmPushString(L, "width");
    VmPushNumber(L, 64);
    VmSetTable(L, -3);
    VmPushString(L, "loadalpha");
    VmPushNumber(L, 1);
    VmSetTable(L, -3);
    VmPushString(L, "regions");
    VmNewTable(L);
    for (int i = 0; i < 2; ++i) {
        VmPushNumber(L, 10 + i);
        VmRawSetI(L, -2, i);
    }
    VmSetTable(L, -3);
    FdCapture out(1);
    ASSERT_EQ(VmPCall(L, 3, 0, 0), 0);
    EXPECT_EQ(out.Text(),
              "CALL LoadBrush 3 brush.png {loadalpha=1 regions={0=10 1=11} width=64}\n");
}

// Each variant fails with its own code and message; the scan reports it and goes on.
TEST_F(PluginHost, EveryVariantFailsWithItsReason) {
    struct Case {
        const char* file;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"badarch", ERR_PLUGINARCH, "Plugin is incompatible with current platform! (Linux)"},
        {"nomarker", ERR_LOADPLUGIN, "Cannot load plugin nomarker.qvp!"},
        {"misnamed", ERR_LOADPLUGIN, "Cannot load plugin misnamed.qvp!"},
        {"noname", ERR_LOADPLUGIN, "Cannot load plugin noname.qvp!"},
        {"initfail", ERR_LOADPLUGIN, "Cannot load plugin initfail.qvp!"},
        {"noinit", ERR_LOADPLUGIN, "Cannot load plugin noinit.qvp!"},
        {"notelf", ERR_LOADPLUGIN, "Cannot load plugin notelf.qvp!"},
        {"newer", ERR_NEWQVPLUGIN, "This plugin requires at least Quorvella 5.1!"},
        {"notype", ERR_PLUGINTYPE, "Plugin type not recognized! (0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        qvPluginRecord* record = nullptr;
        uint32_t capabilities = 1;
        EXPECT_EQ(LoadPlugin(VariantPath(c.file).c_str(), &record, &capabilities), c.code);
        EXPECT_EQ(record, nullptr);
        EXPECT_EQ(capabilities, 0u);
        EXPECT_EQ(ErrorText(c.code), c.text);
    }

    qv::DebugCapture console;
    FdCapture out(1);
    ScanPluginDir(QV_PLUGIN_VARIANT_DIR);
    std::string text = console.Text();
    for (const Case& c : cases) {
        std::string lines =
            std::string("Loading plugin ") + c.file + ".qvp... failed\n(Reason: " + c.text + ")\n";
        EXPECT_NE(text.find(lines), std::string::npos) << lines << "in\n" << text;
    }
    for (const char* loaded : {"libfail", "picture", "spare"}) {
        std::string line = std::string("Loading plugin ") + loaded + ".qvp... done\n";
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(CountPlugins(), 3);
    // "ClosePlugin" ran where "InitPlugin" had succeeded, and only there.
    EXPECT_EQ(
        out.Text(),
        "misnamed: closeplugin\nnewer: closeplugin\nnoname: closeplugin\nnotype: closeplugin\n");
}

TEST_F(PluginHost, QuietRunsPrintNoProgressLines) {
    qv::Runtime().quiet = 1;
    qv::DebugCapture console;
    FdCapture out(1);
    ScanPluginDir(QV_PLUGIN_VARIANT_DIR);
    EXPECT_EQ(console.Text(), "");
    EXPECT_EQ(CountPlugins(), 3);
}

TEST_F(PluginHost, ProgramDirectoryWinsOverLibsForTheSameName) {
    std::string libs = libsDir_.MakeDir("Quorvella");
    CopyInto(TestPluginPath(), programDir_.path(), "qvtest.qvp");
    // Loaded from LIBS:Quorvella this file would fail: its plugin is named "spare".
    CopyInto(VariantPath("spare"), libs, "QVTest.qvp");
    CopyInto(VariantPath("spare"), libs, "spare.qvp");
    qv::DebugCapture console;
    ASSERT_EQ(Register(programDir_.path(), libsDir_.path()), 0);
    EXPECT_EQ(console.Text(),
              "Loading plugin qvtest.qvp... done\nLoading plugin spare.qvp... done\n");
    ASSERT_EQ(CountPlugins(), 2);
    EXPECT_STREQ(qv::Runtime().plugins->fileName, "qvtest.qvp");
}

// A failing "InitLibrary" ends registration; clean-up frees every library whose "InitLibrary"
// ran, the failed one too (it may have set up part of itself), and closes every plugin that
// was initialised.
TEST_F(PluginHost, CleanUpTouchesOnlyWhatWasSetUp) {
    std::string libs = libsDir_.MakeDir("Quorvella");
    CopyInto(TestPluginPath(), programDir_.path(), "qvtest.qvp");
    CopyInto(VariantPath("libfail"), libs, "libfail.qvp");
    CopyInto(VariantPath("spare"), libs, "spare.qvp");
    {
        qv::DebugCapture console;
        EXPECT_EQ(Register(programDir_.path(), libsDir_.path()), ERR_MEM);
    }
    ASSERT_EQ(CountPlugins(), 3);
    FdCapture out(1);
    qv::FreePluginLibraries(L);
    qv::FreePluginLibraries(L);
    UnloadPlugins();
    EXPECT_EQ(out.Text(),
              "qvtest: freelibrary\nlibfail: freelibrary\nqvtest: closeplugin\n"
              "libfail: closeplugin\nspare: closeplugin\n");
    EXPECT_EQ(CountPlugins(), 0);
}

TEST_F(PluginHost, PluginListExportShowsTheLoadedPlugin) {
    ASSERT_EQ(RegisterTestPlugin(), 0);
    std::string path = programDir_ / "plugins.txt";
    ASSERT_EQ(ExportPluginInfo(path.c_str(), qv::LoadedPlugins()), 0);
    EXPECT_EQ(FileText(path),
              "::plugin\n1.2\n0x00000082\nQuorvella test team\n"
              "Test commands for the run-time's own tests\nCopyright the Quorvella authors\n"
              "qvtest\n\n\ntest\n1.2\n"
              "::commands\nTestPrint\nTestFail\nTestRaise\nTestApi\n"
              "::constants\nQVTEST_MAGIC\n::end\n");
}

TEST_F(PluginHost, RequiredPluginsAreCheckedByNameAndVersion) {
    ASSERT_EQ(RegisterTestPlugin(), 0);
    struct Case {
        const char* name;
        int version;
        int revision;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"qvtest", 1, 2, 0, nullptr},
        {"QVTest.QVP", 1, 1, 0, nullptr},
        {"qvtest", 0, 9, 0, nullptr},
        {"qvtest", 1, 3, ERR_REQUIREPLUGIN, "This program requires qvtest.qvp 1.3!"},
        {"qvtest.qvp", 2, 0, ERR_REQUIREPLUGIN, "This program requires qvtest.qvp 2.0!"},
        {"missing", 0, 0, ERR_REQUIREPLUGIN, "This program requires missing.qvp!"},
        {"qvtes", 0, 0, ERR_REQUIREPLUGIN, "This program requires qvtes.qvp!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckRequiredPlugin(c.name, c.version, c.revision), c.code);
        if (c.text != nullptr) {
            EXPECT_EQ(ErrorText(c.code), c.text);
        }
    }
}

TEST_F(PluginHost, MissingDirectoriesAreSkipped) {
    qv::DebugCapture console;
    EXPECT_EQ(Register(programDir_ / "nowhere", libsDir_.path()), 0);
    EXPECT_EQ(console.Text(), "");
    EXPECT_EQ(CountPlugins(), 0);
}

TEST_F(PluginHost, OutOfMemoryWhileLoadingLeavesNothingLoaded) {
    std::string path = TestPluginPath();
    size_t before = qv::GetMemoryStats().liveBlocks;
    for (uint64_t n = 1; n <= 2; ++n) {
        qvPluginRecord* record = nullptr;
        uint32_t capabilities = 0;
        qv::AllocationFault fault(n, true);
        EXPECT_EQ(LoadPlugin(path.c_str(), &record, &capabilities), ERR_MEM);
        EXPECT_EQ(record, nullptr);
    }
    EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before);
}

// Wherever memory runs out in a scan, what was loaded stays listed and nothing leaks.
TEST_F(PluginHost, OutOfMemoryWhileScanningLeaksNothing) {
    CopyInto(TestPluginPath(), programDir_.path(), "qvtest.qvp");
    size_t before = qv::GetMemoryStats().liveBlocks;
    qv::testing::FdCapture out(1);
    for (uint64_t n = 1; n <= 12; ++n) {
        {
            qv::DebugCapture console;
            qv::AllocationFault fault(n, false);
            ScanPluginDir(programDir_.path().c_str());
        }
        EXPECT_LE(CountPlugins(), 1);
        UnloadPlugins();
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before) << n;
    }
}

}  // namespace

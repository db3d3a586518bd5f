// The command line: tables of whole command lines parsed in-process, the number literals
// of option values, and random argument vectors that must never overrun a field.
#include "runtime/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/debug_output.h"
#include "platform/linux/memory.h"
#include "platform/linux/paths.h"
#include "platform/linux/program.h"
#include "platform/linux/startup_options.h"
#include "runtime/number_literal.h"
#include "runtime/runtime_state.h"
#include "tests/platform/file_test_support.h"

namespace {

using Words = std::vector<std::string>;
constexpr char kProgram[] = "/opt/quorvella/player";

// One parse over fresh records, as start-up makes them.
class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        qv::ResetRuntimeState();
        qv::ResetStartupOptionSeams();
        options_ = std::make_unique<qvStartupOptions>();
        header_ = std::make_unique<qvScriptHeader>();
        SetDisplayDefaults(header_.get(), options_.get());
        std::strcpy(options_->programPath, kProgram);
    }
    void TearDown() override {
        qv::FreeUnknownOptions(options_.get());
        qv::ResetRuntimeState();
        qv::ResetStartupOptionSeams();
        SelectDebugOutput("");
    }

    int Parse(const Words& words, bool linked = false) {
        qv::Runtime().appletLinked = linked ? 1 : 0;
        std::vector<const char*> argv{"quorvella"};
        for (const std::string& w : words) argv.push_back(w.c_str());
        return qv::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options_.get(),
                                    header_.get());
    }

    const qvStartupOptions& o() const { return *options_; }
    const qvDisplayDefaults& d() const { return header_->display; }

    std::vector<std::pair<std::string, std::string>> Unknown() const {
        std::vector<std::pair<std::string, std::string>> list;
        for (qvUnknownOption* u = options_->unknownOptions; u != nullptr; u = u->next) {
            list.emplace_back(u->name, u->value != nullptr ? u->value : "<none>");
        }
        return list;
    }

    std::unique_ptr<qvStartupOptions> options_;
    std::unique_ptr<qvScriptHeader> header_;
};

std::string Repeat(char c, size_t n) {
    return std::string(n, c);
}

TEST_F(CommandLine, ResultCodesOfWholeLines) {
    struct Case {
        Words words;
        bool linked;
        int code;
    };
    const Case cases[] = {
        {{}, false, ERR_USERABORT},
        {{}, true, 0},
        {{"-QUIET"}, false, ERR_USERABORT},
        {{"a.qva"}, false, 0},
        {{"a.qva", "b.qva"}, false, ERR_ARGS},
        {{"a.qva", "b.qva"}, true, ERR_ARGS},
        // An unknown option takes the next plain word, so no applet is left.
        {{"-foo", "a.qva"}, false, ERR_USERABORT},
        {{"-foo", "-bar", "a.qva"}, false, ERR_USERABORT},
        {{"-foo", "x", "a.qva"}, false, 0},
        // Export modes need no applet.
        {{"-EXPORTCOMMANDS", "c.txt"}, false, 0},
        {{"-exportconstants", "k.txt"}, false, 0},
        {{"-EXPORTPLUGINS", "p.txt"}, false, 0},
        {{"-PRIVATE1", "c.txt"}, false, 0},
        {{"-PRIVATE2", "k.txt"}, false, 0},
        // A name while an option waits, and an option waiting at the end.
        {{"a", "-PICXPOS", "-20"}, false, ERR_ARGS},
        {{"a", "-SCRWIDTH"}, false, ERR_ARGS},
        {{"a", "-SCRWIDTH", "-QUIET", "5"}, false, ERR_ARGS},
        {{"-x \"unterminated"}, false, ERR_ARGS},
        {{"a", "-x \"closed\""}, false, 0},
        {{"a", "-OWNSCREEN", "-FULLSCREEN"}, false, ERR_ARGS},
        {{"a", "-OWNSCREEN", "-FAKEFULLSCREEN"}, false, ERR_ARGS},
        {{"a", "-FAKEFULLSCREEN", "-FULLSCREEN"}, false, ERR_ARGS},
        {{"a", "-AUTOSCALE", "-LAYERSCALE"}, false, ERR_ARGS},
        // Backfill: modes and the options each one needs.
        {{"a", "-BACKFILL", "GRADIENT", "-STARTCOLOR", "$FF0000"}, false, ERR_BACKFILL},
        {{"a", "-BACKFILL", "gradient", "-ENDCOLOR", "$FF0000"}, false, ERR_BACKFILL},
        {{"a", "-BACKFILL", "color"}, false, ERR_BACKFILL},
        {{"a", "-BACKFILL", "texture"}, false, ERR_BACKFILL},
        {{"a", "-BACKFILL", "picture", "-STARTCOLOR", "1"}, false, ERR_BACKFILL},
        {{"a", "-BACKFILL", "plaid", "-STARTCOLOR", "1"}, false, ERR_BACKFILL},
        {{"a", "-BRUSH", "1", "-BRUSHFILE", "b.png"}, false, ERR_BACKFILL},
        {{"a", "-BACKFILL", "Color", "-STARTCOLOR", "1"}, false, 0},
        {{"a", "-BACKFILL", "rainbow", "-STARTCOLOR", "1", "-ENDCOLOR", "2"}, false, 0},
        {{"a", "-BACKFILL", "TEXTURE", "-BRUSH", "3"}, false, 0},
        {{"a", "-BACKFILL", "picture", "-BRUSHFILE", "b.png"}, false, 0},
        {{"a", "-EXETYPE", "amigaos4+bogus"}, false, ERR_EXETYPE},
        {{"a", "-EXETYPE", "amigaos4+"}, false, ERR_EXETYPE},
        {{"a", "-EXETYPE", ""}, false, ERR_EXETYPE},
        {{"a", "-EXETYPE", "classic88"}, false, ERR_EXETYPE},
        // Numbers.
        {{"a", "-SCRWIDTH", "abc"}, false, ERR_VALUEEXPECTED},
        {{"a", "-DEPTH", "$"}, false, ERR_SYNTAXERROR},
        {{"a", "-AUTOSCALE", "-SCALEWIDTH", "%"}, false, ERR_SYNTAXERROR},
        {{"a", "-SCALEWIDTH", "junk"}, false, 0},  // no scaling engine: not read
        {{"a", "-USEWPA", "-WPAMODE", "x"}, false, ERR_VALUEEXPECTED},
        {{"a", "-BACKFILL", "color", "-STARTCOLOR", "red"}, false, ERR_VALUEEXPECTED},
        // Values that do not fit their fields, and lines that do not fit the buffer.
        {{Repeat('a', 1023)}, false, 0},
        {{Repeat('a', 1024)}, false, ERR_ARGS},
        {{"a", "-SCRIPTALIAS", Repeat('s', 255)}, false, 0},
        {{"a", "-SCRIPTALIAS", Repeat('s', 256)}, false, ERR_ARGS},
        {{"a", "-PRIVATE3", Repeat('p', 1024)}, false, ERR_ARGS},
        {{"a", "-BRUSHFILE", "/" + Repeat('b', 1023)}, false, ERR_ARGS},
        {{"a", "-COMPILE", "/" + Repeat('c', 1023)}, false, ERR_ARGS},
        {{"a", "-COMPILE", Repeat('c', 1022)}, false, ERR_ARGS},  // joined to the directory
        {{"a", "-ICON32X32", Repeat('i', 1024)}, false, ERR_ARGS},
        {{"a", "-DEBUGDEVICE", Repeat('d', 1000)}, false, 0},
        {{"a", "-PUBSCREEN", Repeat('n', 300)}, false, ERR_PUBSCREEN},
        // The line holds 4095 characters: two quotes around a word count, and the blanks.
        {{"-" + Repeat('u', 4094)}, false, ERR_USERABORT},
        {{"-" + Repeat('u', 4095)}, false, ERR_ARGS},
        {{Repeat('w', 4094)}, false, ERR_ARGS},
        {{"-" + Repeat('u', 2046), "-" + Repeat('v', 2046)}, false, ERR_USERABORT},
        {{"-" + Repeat('u', 2046), "-" + Repeat('v', 2047)}, false, ERR_ARGS},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& w : c.words) line += w.substr(0, 40) + " ";
        SCOPED_TRACE(line + (c.linked ? "(linked)" : ""));
        TearDown();
        SetUp();
        EXPECT_EQ(Parse(c.words, c.linked), c.code);
    }
}

TEST_F(CommandLine, OptionsMatchInAnyLetterCase) {
    ASSERT_EQ(Parse({"a.qva", "-quiet", "-WiNdOw", "-NoSound", "-masterVolume", "12"}), 0);
    EXPECT_EQ(o().quiet, 1u);
    EXPECT_EQ(o().noSound, 1u);
    EXPECT_EQ(o().masterVolume, 12);
    EXPECT_EQ(d().displayMode, 1u);
    EXPECT_STREQ(o().appletPath, "a.qva");
    EXPECT_STREQ(o().scriptArgument, "a.qva");
}

TEST_F(CommandLine, UnknownOptionsKeepTheWordAfterThem) {
    ASSERT_EQ(Parse({"-Foo", "bar", "app.qva", "-Baz", "-QUIET", "-x_1", "two words"}), 0);
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(Unknown(), (std::vector<P>{{"Foo", "bar"}, {"Baz", "<none>"}, {"x_1", "two words"}}));
    EXPECT_STREQ(o().appletPath, "app.qva");
}

TEST_F(CommandLine, WordsKeepTheirBlanksAndDashWordsSplit) {
    ASSERT_EQ(Parse({"my applet.qva", "-QUIET -HIDETITLEBAR"}), 0);
    EXPECT_STREQ(o().appletPath, "my applet.qva");
    EXPECT_EQ(o().quiet, 1u);
    EXPECT_EQ(d().hideTitleBar, 1);
}

TEST_F(CommandLine, LinkedAppletIsTheProgramItself) {
    ASSERT_EQ(Parse({"-WINDOW"}, true), 0);
    EXPECT_STREQ(o().appletPath, kProgram);
    EXPECT_STREQ(o().scriptArgument, "");
    EXPECT_EQ(d().displayMode, 1u);
    TearDown();
    SetUp();
    ASSERT_EQ(Parse({"data.txt"}, true), 0);
    EXPECT_STREQ(o().appletPath, kProgram);
    EXPECT_STREQ(o().scriptArgument, "data.txt");
}

TEST_F(CommandLine, ScalingValuesAndPercentages) {
    ASSERT_EQ(
        Parse({"a", "-AUTOSCALE", "-SCALEWIDTH", "50%", "-SCALEHEIGHT", "$-14", "-SMOOTHSCALE"}),
        0);
    EXPECT_EQ(d().scaleWidth, -50);
    EXPECT_EQ(d().scaleHeight, -20);
    EXPECT_EQ(d().styleFlags, 0x40u | 0x80u);
    TearDown();
    SetUp();
    // Without a scaling engine the scale options are not read.
    ASSERT_EQ(Parse({"a", "-SCALEWIDTH", "640", "-SMOOTHSCALE"}), 0);
    EXPECT_EQ(d().scaleWidth, 0);
    EXPECT_EQ(d().styleFlags, 0u);
    TearDown();
    SetUp();
    ASSERT_EQ(Parse({"a", "-LAYERSCALE", "-SCALEHEIGHT", "480"}), 0);
    EXPECT_EQ(d().scaleHeight, 480);
    EXPECT_EQ(d().styleFlags, 0x100u);
}

TEST_F(CommandLine, StyleFlagsAndSwitches) {
    ASSERT_EQ(Parse({"a", "-BORDERLESS", "-SIZEABLE", "-FIXED", "-NOHIDE", "-HIDEPOINTER",
                     "-NOMODESWITCH", "-KEEPPROPORTIONS", "-FITSCALE", "-HIDETITLEBAR", "-COMPRESS",
                     "-OVERWRITE", "-LOCKSETTINGS"}),
              0);
    EXPECT_EQ(d().styleFlags, 0x1u | 0x2u | 0x4u | 0x20u | 0x10u | 0x8u | 0x8000u | 0x10000u);
    EXPECT_EQ(d().hideTitleBar, 1);
    EXPECT_EQ(o().compress, 1u);
    EXPECT_EQ(o().overwrite, 1u);
    EXPECT_EQ(o().lockSettings, 1u);
}

TEST_F(CommandLine, DisplayModesInApplyOrder) {
    struct Case {
        Words words;
        uint32_t mode;
    };
    const Case cases[] = {
        {{"a"}, 0},
        {{"a", "-WINDOW"}, 1},
        {{"a", "-OWNSCREEN"}, 5},
        {{"a", "-FULLSCREEN", "-WINDOW"}, 2},
        {{"a", "-FAKEFULLSCREEN"}, 6},
        {{"a", "-PUBSCREEN", "Workbench", "-OWNSCREEN"}, 1},
        {{"a", "-PUBSCREEN", "Workbench", "-FULLSCREEN"}, 2},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        ASSERT_EQ(Parse(c.words), 0);
        EXPECT_EQ(d().displayMode, c.mode) << c.words.back();
    }
    EXPECT_STREQ(qv::DefaultPubScreenName(), "Workbench");
}

TEST_F(CommandLine, ScreenAndBackfillValues) {
    ASSERT_EQ(Parse({"a",          "-DEPTH",    "24",        "-SCRWIDTH", "0x280",
                     "-SCRHEIGHT", "480",       "-BACKFILL", "gradient",  "-STARTCOLOR",
                     "$FF0000",    "-ENDCOLOR", "0x00ff00",  "-PICXPOS",  "$-14",
                     "-PICYPOS",   "7",         "-PICTRANS", "%101",      "-SCALEPICTURE",
                     "-BRUSH",     "9"}),
              0);
    EXPECT_EQ(d().depth, 24);
    EXPECT_EQ(d().screenWidth, 640);
    EXPECT_EQ(d().screenHeight, 480);
    const qvBackfill& b = d().backfill;
    EXPECT_EQ(b.mode, 2u);
    EXPECT_EQ(b.startColour, 0xFF0000);
    EXPECT_EQ(b.endColour, 0x00FF00);
    EXPECT_EQ(b.pictureX, -20);
    EXPECT_EQ(b.pictureY, 7);
    EXPECT_EQ(b.transparentColour, 5);
    EXPECT_EQ(b.scalePicture, 1u);
    EXPECT_EQ(b.brushId, 9u);
    TearDown();
    SetUp();
    ASSERT_EQ(Parse({"a"}), 0);  // the defaults stay
    EXPECT_EQ(d().backfill.pictureX, -100000);
    EXPECT_EQ(d().backfill.transparentColour, -1);
    EXPECT_EQ(d().depth, -1);
}

TEST_F(CommandLine, ExecutableTypes) {
    struct Case {
        const char* words;
        uint32_t bits;
    };
    const Case cases[] = {
        {"amigaos4+applet", 0x48},     {"Linux", 0x200},
        {"classic881", 0x2},           {"classic", 0x1},
        {"WIN32+win32console", 0x180}, {"ios+linuxppc", 0x6000},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        ASSERT_EQ(Parse({"a", "-EXETYPE", c.words}), 0) << c.words;
        EXPECT_EQ(o().executableTypeBits, c.bits) << c.words;
    }
    TearDown();
    SetUp();
    ASSERT_EQ(Parse({"a"}), 0);
    EXPECT_EQ(o().executableTypeBits, 8u);
}

TEST_F(CommandLine, NamesForTheRunTime) {
    ASSERT_EQ(
        Parse({"-PRIVATE1", "cmds.txt", "-EXPORTCONSTANTS", "k.txt", "-EXPORTPLUGINS", "p.txt",
               "-PRIVATE3", "secret", "-SCRIPTALIAS", "Demo", "-DEBUGDEVICE", "@serial"}),
        0);
    qv::RuntimeState& rt = qv::Runtime();
    ASSERT_NE(rt.exportCommands, nullptr);
    EXPECT_STREQ(rt.exportCommands, "cmds.txt");  // "PRIVATE1" shares the slot
    EXPECT_STREQ(rt.exportConstants, "k.txt");
    EXPECT_STREQ(rt.exportPlugins, "p.txt");
    EXPECT_STREQ(rt.private3, "secret");
    EXPECT_STREQ(o().scriptAlias, "Demo");
    EXPECT_EQ(rt.debugDevice, 1u);
    EXPECT_STREQ(o().appletPath, "");
}

TEST_F(CommandLine, SoftwareRendering) {
    ASSERT_EQ(Parse({"a", "-WPAMODE", "3"}), 0);
    EXPECT_EQ(qv::SoftwareRenderingMode(), 0);  // only "USEWPA" switches it on
    ASSERT_EQ(Parse({"a", "-USEWPA"}), 0);
    EXPECT_EQ(qv::SoftwareRenderingMode(), 1);
    ASSERT_EQ(Parse({"a", "-USEWPA", "-WPAMODE", "3"}), 0);
    EXPECT_EQ(qv::SoftwareRenderingMode(), 3);
}

TEST_F(CommandLine, CompilerOutputIsMadeAbsolute) {
    char cwd[1024];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    struct Case {
        const char* value;
        std::string path;
    };
    const Case cases[] = {
        {"out.qva", std::string(cwd) + "/out.qva"},
        {"/tmp/out.qva", "/tmp/out.qva"},
        {"Work:out.qva", "Work:out.qva"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        ASSERT_EQ(Parse({"a", "-COMPILE", c.value, "-LINKFILES", "db", "-LINKFONTS", "f"}), 0);
        EXPECT_EQ(std::string(o().compilerOutputPath), c.path);
        EXPECT_EQ(o().compileRequested, 1u);
    }
}

TEST_F(CommandLine, IconFilesResolveWhenTheyOpen) {
    std::string temp = qv::AssignTarget("T:");
    ASSERT_FALSE(temp.empty());
    qv::testing::WriteBytes(temp + "/icon.png", qv::testing::ToBytes("png"));
    ASSERT_EQ(Parse({"a", "-ICON16X16", "T:icon.png", "-ICON512X512", "T:missing.png"}), 0);
    qv::RuntimeState& rt = qv::Runtime();
    ASSERT_NE(rt.iconPaths[0], nullptr);
    EXPECT_EQ(std::string(rt.iconPaths[0]), temp + "/icon.png");
    EXPECT_STREQ(rt.iconPaths[6], "T:missing.png");
    for (int i = 1; i < 6; ++i) EXPECT_EQ(rt.iconPaths[i], nullptr);
    EXPECT_STREQ(qvIconOptions[6].shortName, "ic512x512");
    PlatformShutdown();
}

TEST_F(CommandLine, AllocationFailuresAreReportedAndLeakNothing) {
    const Words words{"a", "-Foo", "bar", "-EXPORTCOMMANDS", "c.txt", "-ICON16X16", "i.png"};
    for (uint64_t n = 1;; ++n) {
        TearDown();
        SetUp();
        qv::MemoryStats before = qv::GetMemoryStats();
        int code;
        {
            qv::AllocationFault fault(n, false);
            code = Parse(words);
        }
        if (code == 0) break;
        EXPECT_EQ(code, ERR_MEM) << n;
        qv::FreeUnknownOptions(options_.get());
        qv::ResetRuntimeState();
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before.liveBlocks) << n;
    }
}

// Random argument vectors of options (in random letter case), values and plain words: any
// of them parses to a code, and whatever it stored fits its field.
TEST_F(CommandLine, RandomArgumentVectors) {
    std::vector<std::string> names;
    for (const qvOptionTemplateEntry* row = qvOptionTemplate; row->name != nullptr; ++row) {
        names.push_back(row->name);
    }
    const std::vector<std::string> values{"50%",
                                          "$-14",
                                          "%101",
                                          "0x1F",
                                          "-2.5e3",
                                          "$",
                                          "%",
                                          "abc",
                                          "",
                                          "\"",
                                          "a b",
                                          "-",
                                          "amigaos4+applet",
                                          "gradient",
                                          "color",
                                          "@stdout",
                                          "/tmp",
                                          Repeat('x', 300),
                                          Repeat('y', 1100),
                                          "-QUIET \"x",
                                          "1e999",
                                          "99999999999"};
    const int known[] = {0,        ERR_MEM,       ERR_USERABORT, ERR_SYNTAXERROR, ERR_VALUEEXPECTED,
                         ERR_ARGS, ERR_PUBSCREEN, ERR_BACKFILL,  ERR_EXETYPE};
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        Words words;
        int count = static_cast<int>(random() % 8);
        for (int i = 0; i < count; ++i) {
            switch (random() % 3) {
                case 0: {
                    std::string name = names[random() % names.size()];
                    for (char& c : name) {
                        if (random() % 2) c = static_cast<char>(std::tolower(c));
                    }
                    words.push_back("-" + name);
                    break;
                }
                case 1:
                    words.push_back(values[random() % values.size()]);
                    break;
                default:
                    words.push_back("-unknown" + std::to_string(random() % 3));
            }
        }
        TearDown();
        SetUp();
        int code = Parse(words, random() % 4 == 0);
        EXPECT_NE(std::find(std::begin(known), std::end(known), code), std::end(known)) << code;
        EXPECT_LT(strnlen(o().appletPath, sizeof o().appletPath), sizeof o().appletPath);
        EXPECT_LT(strnlen(o().scriptAlias, sizeof o().scriptAlias), sizeof o().scriptAlias);
        EXPECT_LT(strnlen(o().compilerOutputPath, 1024), 1024u);
        EXPECT_LT(strnlen(d().backfill.brushFile, 1024), 1024u);
    }
}

TEST(ParseNumberLiteral, ValuesAndCountsUsed) {
    struct Case {
        const char* text;
        double value;
        int used;
        int error;
    };
    const Case cases[] = {
        {"$-14", -20, 4, 0},
        {"%101", 5, 4, 0},
        {"0x1F", 31, 4, 0},
        {"0X1f", 31, 4, 0},
        {"-2.5e3", -2500, 6, 0},
        {"$", 0, 0, ERR_SYNTAXERROR},
        {"%", 0, 0, ERR_SYNTAXERROR},
        {"0x", 0, 0, ERR_SYNTAXERROR},
        {"-$", 0, 0, ERR_SYNTAXERROR},
        {"abc", 0, 0, ERR_VALUEEXPECTED},
        {"", 0, 0, ERR_VALUEEXPECTED},
        {"-", 0, 0, ERR_VALUEEXPECTED},
        {".5", 0, 0, ERR_VALUEEXPECTED},
        {"-$14", -20, 4, 0},
        {"$ff00", 0xFF00, 5, 0},
        {"%1021", 2, 3, 0},
        {"50%", 50, 2, 0},
        {"12abc", 12, 2, 0},
        {"1e", 1, 1, 0},
        {"5.", 5, 2, 0},
        {"007", 7, 3, 0},
        {"1e400", HUGE_VAL, 5, 0},
    };
    for (const Case& c : cases) {
        int used = -1;
        int error = -1;
        double value = ParseNumberLiteral(c.text, &used, &error);
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(used, c.used) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

}  // namespace

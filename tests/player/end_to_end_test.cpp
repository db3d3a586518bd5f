// End to end without plugins: arguments, plain, compressed and appended applets, malformed
// ones, the compiler option, returned failures, the export lists, Ctrl-C and the other stop
// signals, the banner on a terminal and the bundled demo.
#include <pty.h>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

constexpr char kQuiet[] = "-QUIET";

TEST_F(EndToEndTest, WithoutArgumentsNothingRuns) {
    Expect(Player({}), "", "", 0);
}

TEST_F(EndToEndTest, TwoFileNamesAreWrongArguments) {
    Expect(Player({"a.qva", "b.qva"}), "", "[QuorvellaPlayer] Wrong arguments specified!\n", 20);
}

TEST_F(EndToEndTest, APlainAndACompressedAppletPrintTheSameLines) {
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        Applet("app.qva", "three_lines",
               compressed ? std::vector<std::string>{"--qvz"} : std::vector<std::string>{});
        Expect(Player({"app.qva", kQuiet}), kThreeLines, "", 0);
        Expect(Player({"app.qva"}), Banner() + Progress("app.qva") + kThreeLines, "", 0);
        EXPECT_TRUE(FilesIn(scratch / "t").empty());
    }
}

TEST_F(EndToEndTest, AnAppletAppendedToThePlayerRunsQuietly) {
    std::string applet = Applet("app.qva", "three_lines");
    std::string error;
    ASSERT_EQ(RunMakeApplet({"-o", scratch / "app", "--chunk", scratch / "three_lines.qvb",
                             "--append-to", QUORVELLA_PATH},
                            &error),
              0)
        << error;
    for (std::vector<std::string> args :
         {std::vector<std::string>{}, std::vector<std::string>{"-WINDOW"}}) {
        SCOPED_TRACE(args.size());
        Expect(Player(args, "", {}, {}, scratch / "app"), kThreeLines, "", 0);
    }
}

TEST_F(EndToEndTest, MalformedAppletsEndWithOneLine) {
    struct Case {
        const char* name;
        std::vector<std::string> recipe;
        const char* report;
    };
    const Case cases[] = {
        {"four.qva", {}, "Error: four.qva is no Quorvella applet!\n"},
        {"section.qva", {"--section", "32:00"}, "Error: Unknown section in applet!\n"},
        {"newer.qva",
         {"--version", "5.1"},
         "Error: This applet requires at least Quorvella 5.1!\n"},
        {"cut.qva", {"--truncate", "9"}, "Error: Unexpected end of file!\n"},
        {"nothere.qva", {}, "Error: File nothere.qva does not exist!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string name = c.name;
        if (name == "four.qva") {
            scratch.Write(name, {'Q', 'V', 'A', 0});
        } else if (name != "nothere.qva") {
            Applet(name, "three_lines", c.recipe);
        }
        Expect(Player({c.name, kQuiet, "-DEBUGDEVICE", "@stdout"}), c.report, "", 20);
    }
}

TEST_F(EndToEndTest, CompilingIsRefused) {
    Applet("app.qva", "three_lines");
    Expect(Player({"app.qva", "-COMPILE", "out.x", kQuiet, "-DEBUGDEVICE", "@stdout"}),
           "Error: Compilation is not possible with QuorvellaPlayer!\n", "", 20);
}

// A command's returned failure passes the error hook: with errors off the script goes on and
// reads the code; with errors on it ends the run with the exit report.
TEST_F(EndToEndTest, ReturnedFailuresEndTheRunOnlyWhileErrorsAreOn) {
    Applet("app.qva", "unknown_file", {"--linemap", "1:100:0:main.qvs:"});
    Expect(Player({"app.qva", kQuiet, "-DEBUGDEVICE", "@stdout"}),
           "went on with 1179\nmain.qvs:14: Could not find file handle 77!\n", "", 20);
    Expect(Player({"app.qva", kQuiet}), "went on with 1179\n",
           "[QuorvellaPlayer] Could not find file handle 77!\n"
           "File: main.qvs (current line: 14 - In function: CloseFile)\n",
           20);
}

TEST_F(EndToEndTest, ExportsWriteTheirListsWithoutAnApplet) {
    Expect(Player({"-EXPORTCOMMANDS", "commands.txt", kQuiet}), "", "", 0);
    Bytes bytes = ReadBytes(scratch / "commands.txt");
    std::string commands(bytes.begin(), bytes.end());
    EXPECT_EQ(commands.rfind("::string\n", 0), 0u);
    EXPECT_TRUE(commands.ends_with("\n::end\n"));
    int headers = 0;
    std::istringstream lines(commands);
    for (std::string line; std::getline(lines, line);) headers += line.rfind("::", 0) == 0;
    EXPECT_EQ(headers, 23);
    // The text library's commands in their order.
    const size_t text = commands.find("\n::text\n");
    ASSERT_NE(text, std::string::npos);
    EXPECT_EQ(commands.substr(text + 8, commands.find("\n::", text + 1) - text - 7),
              "28\nSetFont\nSetFontColor\nTextHeight\nTextWidth\nResetTabs\nAddTab\nLocate\n"
              "SetMargins\nSetFontStyle\nPrint\nNPrint\nTextOut\nCreateTextObject\n"
              "DisplayTextObject\nFreeTextObject\nInKeyStr\nTextExtent\nScaleTextObject\n"
              "CopyTextObject\nRotateTextObject\nOpenFont\nCloseFont\nUseFont\n"
              "GetAvailableFonts\nFreeGlyphCache\nSetDefaultEncoding\nAddFontPath\n"
              "GetKerningPair\n");

    Expect(Player({"-EXPORTCONSTANTS", "constants.txt", kQuiet}), "", "", 0);
    bytes = ReadBytes(scratch / "constants.txt");
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("\nerr_mem\n"), std::string::npos);

    // A list that cannot be written is named on standard error; the others are still written.
    Expect(Player({"-EXPORTCOMMANDS", "missing/commands.txt", "-EXPORTCONSTANTS", "again.txt",
                   kQuiet, "-DEBUGDEVICE", "@stdout"}),
           "", "Cannot write to file missing/commands.txt !\n", 20);
    EXPECT_EQ(ReadBytes(scratch / "again.txt"), ReadBytes(scratch / "constants.txt"));
}

TEST_F(EndToEndTest, CtrlCEndsAnEndlessScriptSilently) {
    Applet("loop.qva", "endless", {"--qvz"});
    bool interrupted = false;
    Outcome o = Player({"loop.qva", kQuiet}, "", {}, [&](pid_t pid, const std::string& out) {
        if (!interrupted && out == "ready\n") {
            interrupted = true;
            kill(pid, SIGINT);
        }
    });
    EXPECT_TRUE(interrupted);
    Expect(o, "ready\n", "", 0);
    EXPECT_TRUE(FilesIn(scratch / "t").empty());
}

// Ctrl-C, kill and a closed terminal end the run through its shutdown, which deletes the
// run's private T: directory (the compressed applet is unpacked into it first).
TEST_F(EndToEndTest, StopSignalsEndTheRunAndRemoveItsTemporaryDirectory) {
    Applet("loop.qva", "endless", {"--qvz"});
    for (const int stop : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string tmp = scratch.MakeDir("tmp" + std::to_string(stop));
        bool sent = false;
        Outcome o = Spawn({QUORVELLA_PATH, "loop.qva", kQuiet}, scratch.path(),
                          {"TMPDIR=" + tmp, "QV_ASSIGN=LIBS:=" + (scratch / "libs")},
                          [&](pid_t pid, const std::string& out) {
                              if (sent || out != "ready\n") return;
                              EXPECT_EQ(FilesIn(tmp).size(), 1u) << "the run's T:";
                              sent = true;
                              kill(pid, stop);
                          });
        EXPECT_TRUE(sent) << strsignal(stop);
        Expect(o, "ready\n", "", 0);
        EXPECT_TRUE(FilesIn(tmp).empty()) << strsignal(stop);
    }
}

// The player's standard output when it is a terminal: what the master side of a
// pseudo-terminal reads (line ends become "\r\n"), until the run ends or the hang bound.
std::string TerminalOutput(std::vector<std::string> argv, const std::string& cwd,
                           const std::vector<std::string>& extraEnv) {
    std::vector<std::string> env = ChildEnvironment(extraEnv);
    std::vector<char*> args = Pointers(argv), envp = Pointers(env);
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return "no terminal";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(slave, 1);
        close(master);
        close(slave);
        if (chdir(cwd.c_str()) == 0) execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(slave);
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + kHangBound;
    pollfd fd = {master, POLLIN, 0};
    while (std::chrono::steady_clock::now() < deadline) {
        if (poll(&fd, 1, 100) > 0 && !Drain(master, &out)) break;  // EIO once the run ended
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(master);
    return out;
}

// The banner's console sequences (bold on and off) go only to a terminal; a pipe gets the
// plain text.
TEST_F(EndToEndTest, TheBannerIsBoldOnlyOnATerminal) {
    Applet("app.qva", "three_lines");
    Outcome piped = Player({"app.qva"});
    EXPECT_EQ(piped.out.rfind(Banner(), 0), 0u) << piped.out;
    const std::string shown =
        TerminalOutput({QUORVELLA_PATH, "app.qva"}, scratch.path(),
                       {"QV_ASSIGN=T:=" + (scratch / "t") + ";LIBS:=" + (scratch / "libs"),
                        "TERM=xterm", "NO_COLOR="});
    EXPECT_EQ(shown.rfind("\x1b[1mQuorvellaPlayer 5.0\x1b[0m [Linux]\r\n", 0), 0u) << shown;
}

// A terminal whose user asked for plain text (NO_COLOR) or that cannot show styles (TERM=dumb)
// gets the banner plain.
TEST_F(EndToEndTest, TheBannerIsPlainWhenTheTerminalWantsNoStyles) {
    Applet("app.qva", "three_lines");
    const std::vector<std::vector<std::string>> plain = {
        {"TERM=xterm", "NO_COLOR=1"},
        {"TERM=dumb", "NO_COLOR="},
    };
    for (std::vector<std::string> env : plain) {
        env.push_back("QV_ASSIGN=T:=" + (scratch / "t") + ";LIBS:=" + (scratch / "libs"));
        const std::string shown = TerminalOutput({QUORVELLA_PATH, "app.qva"}, scratch.path(), env);
        EXPECT_EQ(shown.rfind("QuorvellaPlayer 5.0 [Linux]\r\n", 0), 0u) << env[0] << " " << shown;
    }
}

TEST_F(EndToEndTest, TheBundledDemoRuns) {
    Expect(Player({QV_DEMO_APPLET, kQuiet}),
           "Demo: scene 1 shown\nDemo: scene 2 shown\nDemo: scene 3 shown\n"
           "Demo: scene 4 shown\nDemo: scene 5 shown\nDemo: scene 6 shown\n"
           "Demo: no vector back end, the path is not drawn\nDemo: scene 7 shown\nDemo: ended\n",
           "", 0);
}

}  // namespace
}  // namespace qv::testing

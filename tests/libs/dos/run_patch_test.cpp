// ApplyPatch against Python's XOR, its progress reports and record keeping; Run and Execute
// with quoted program names, detached runs, the environment and linked programs.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "runtime/runtime_state.h"
#include "tests/libs/dos/dos_test_support.h"
#include "tests/runtime/linked_applet.h"

namespace qv::testing {
namespace {

class Patching : public DosLib {
protected:
    // ApplyPatch of source and patch bytes into out.bin; the code.
    int Patch(const std::string& source, const std::string& patch, std::vector<Arg> extra = {}) {
        Open(1, MakeFile("source.bin", source));
        Open(2, MakeFile("patch.bin", patch));
        Open(3, scratch / "out.bin", QV_MODE_WRITE);
        std::vector<Arg> args = {Num(1), Num(2), Num(3)};
        args.insert(args.end(), extra.begin(), extra.end());
        return Call("ApplyPatch", args).code;
    }
};

TEST_F(Patching, XorAgreesWithPython) {
    QV_REQUIRE_TOOL("python3");
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> byte(0, 255);
    auto random = [&](size_t n) {
        std::string s(n, '\0');
        for (char& c : s) c = static_cast<char>(byte(rng));
        return s;
    };
    std::string source = random(5000);
    for (size_t patchSize : {size_t{0}, size_t{1200}, size_t{5000}, size_t{7000}}) {
        std::string patch = random(patchSize);
        ASSERT_EQ(Patch(source, patch), 0) << patchSize;
        EXPECT_EQ(Call("FilePos", {Num(1)}).Number(), 5000);
        EXPECT_EQ(Call("Eof", {Num(1)}).Number(), 1);
        EXPECT_EQ(Call("FilePos", {Num(2)}).Number(), std::min<size_t>(patchSize, 5000));
        EXPECT_EQ(Call("FileLength", {Num(3)}).Number(), 5000);
        EXPECT_EQ(Call("FilePos", {Num(3)}).Number(), 5000);
        ASSERT_EQ(Call("CloseFile", {Num(3)}).code, 0);
        ToolRun py = RunPython(
            "import sys\nd = sys.stdin.buffer.read()\na, b = d[:5000], d[5000:]\n"
            "b = b[:5000] + bytes([255]) * max(0, 5000 - len(b))\n"
            "sys.stdout.write(bytes(x ^ y for x, y in zip(a, b)).hex())\n",
            source + patch);
        ASSERT_EQ(py.status, 0);
        std::string ours = FileText(scratch / "out.bin"), hex;
        for (unsigned char c : ours) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", c);
            hex += two;
        }
        EXPECT_EQ(hex, py.output) << patchSize;
    }
}

TEST_F(Patching, ProgressRunsFromOneToHundred) {
    for (size_t size : {size_t{3}, size_t{100}, size_t{1001}}) {
        std::vector<double> reports;
        Arg callback = Native([&](qvVmState* S) {
            VmPushString(S, "progress");
            VmGetTable(S, 1);
            reports.push_back(VmToNumber(S, -1));
            return 0;
        });
        ASSERT_EQ(Patch(std::string(size, 'x'), "", {callback}), 0);
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back(), 100) << size;
        EXPECT_GE(reports.front(), 1) << size;
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
        EXPECT_EQ(std::adjacent_find(reports.begin(), reports.end()), reports.end());
        if (size >= 100) {
            EXPECT_EQ(reports.size(), 100u);
        }
    }
    EXPECT_EQ(Patch("abc", "", {Num(5)}), ERR_FUNCEXPECTED);
}

TEST_F(Patching, FailuresAndStops) {
    // A source read past its end (its position is not at the start) is an error.
    Open(1, MakeFile("s.bin", "abcdef"));
    ASSERT_EQ(Call("Seek", {Num(1), Num(3)}).code, 0);
    Open(2, MakeFile("p.bin", ""));
    Open(3, scratch / "o.bin", QV_MODE_WRITE);
    EXPECT_EQ(Call("ApplyPatch", {Num(1), Num(2), Num(3)}).code, ERR_READ);
    EXPECT_EQ(Call("ApplyPatch", {Num(1), Num(2), Num(1)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("ApplyPatch", {Num(1), Num(3), Num(3)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("ApplyPatch", {Num(1), Num(2), Num(9)}).code, ERR_FINDFILE);
    Open(4, "/dev/full", QV_MODE_WRITE);
    Open(1, MakeFile("big.bin", std::string(20000, 'z')));
    EXPECT_EQ(Call("ApplyPatch", {Num(1), Num(2), Num(4)}).code, ERR_WRITE);
    // A stop from the input pump ends the command at once, without an error.
    InstallFakePump(5);
    EXPECT_EQ(Patch(std::string(1000, 'y'), ""), 0);
    EXPECT_EQ(Call("FilePos", {Num(3)}).Number(), 5);
    Runtime().abortFlag.store(0);
    // An empty source writes nothing.
    EXPECT_EQ(Patch("", "patch"), 0);
    EXPECT_EQ(Call("FileLength", {Num(3)}).Number(), 0);
}

// A progress callback may close the files the patch works on, or open others under their
// ids: they are looked up again after every report, and one that is gone ends the patch with
// the lookup's error.
TEST_F(Patching, CallbacksMayCloseOrReopenTheFiles) {
    auto command = [](qvVmState* S, const char* name, std::vector<Arg> args) {
        VmPushString(S, name);
        VmGetTable(S, VM_GLOBALSINDEX);
        for (const Arg& a : args) {
            if (a.kind == Arg::Kind::Number) VmPushNumber(S, a.number);
            if (a.kind == Arg::Kind::String) VmPushLString(S, a.text.data(), a.text.size());
        }
        VmCall(S, static_cast<int>(args.size()), 0);
    };
    for (int closed : {1, 2, 3}) {
        Arg closer = Native([&](qvVmState* S) {
            command(S, "closefile", {Num(closed)});
            return 0;
        });
        EXPECT_EQ(Patch(std::string(300, 's'), "pp", {closer}), ERR_FINDFILE) << closed;
    }
    constexpr char kFlipped = static_cast<char>('s' ^ 255);  // the byte against no patch
    bool reopened = false;
    const std::string other = scratch / "other.bin";
    Arg reopener = Native([&](qvVmState* S) {
        if (!reopened) command(S, "openfile", {Num(3), Str(other), Num(QV_MODE_WRITE)});
        reopened = true;
        return 0;
    });
    ASSERT_EQ(Patch(std::string(200, 's'), "", {reopener}), 0);
    ASSERT_EQ(Call("CloseFile", {Num(3)}).code, 0);
    EXPECT_EQ(FileText(scratch / "out.bin"), std::string(2, kFlipped));
    EXPECT_EQ(FileText(other), std::string(198, kFlipped));
}

using Running = DosLib;

// A script that records its arguments, one a line, into out.
std::string Recorder(const ScratchDir& dir, const std::string& name, const std::string& out) {
    std::string path = dir / name;
    WriteBytes(path, ToBytes("#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" + out + "'\n"));
    chmod(path.c_str(), 0755);
    return path;
}

TEST_F(Running, ExecuteWaitsAndRunReturnsAtOnce) {
    std::string flag = scratch / "f";
    ASSERT_EQ(Call("Execute", {Str("sh -c 'sleep 0.3; touch " + flag + "'")}).code, 0);
    EXPECT_TRUE(PathExists(flag));
    std::string later = scratch / "later";
    ASSERT_EQ(Call("Run", {Str("sh -c 'sleep 0.5; touch " + later + "'")}).code, 0);
    EXPECT_FALSE(PathExists(later));
    // The detached program finishes on its own; no zombie of ours is left.
    for (int i = 0; i < 300 && !PathExists(later); ++i) usleep(10000);
    EXPECT_TRUE(PathExists(later));
    DIR* proc = opendir("/proc");
    ASSERT_NE(proc, nullptr);
    while (dirent* e = readdir(proc)) {
        if (std::strspn(e->d_name, "0123456789") != std::strlen(e->d_name)) continue;
        Bytes bytes = ReadBytes(std::string("/proc/") + e->d_name + "/stat");
        std::string text(bytes.begin(), bytes.end());
        size_t close = text.rfind(')');
        if (close == std::string::npos || close + 2 >= text.size()) continue;
        char state = text[close + 2];
        long parent = std::strtol(text.c_str() + close + 4, nullptr, 10);
        EXPECT_FALSE(state == 'Z' && parent == getpid()) << text;
    }
    closedir(proc);
}

TEST_F(Running, QuotedProgramNamesAndArguments) {
    scratch.MakeDir("with space");
    std::string out = scratch / "args.txt";
    std::string program = Recorder(scratch, "with space/prog name", out);
    ASSERT_EQ(Call("Execute", {Str("\"" + program + "\"   -x 'a b' \"$HOME\"")}).code, 0);
    std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    EXPECT_EQ(FileText(out), "-x\na b\n" + home + "\n");
    ASSERT_EQ(Call("Execute", {Str("\"" + program + "\"")}).code, 0);
    EXPECT_EQ(FileText(out), "");
    EXPECT_EQ(Call("Run", {Str("\"prog")}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("Execute", {Str("")}).code, ERR_WRONGUSAGE);
}

TEST_F(Running, ChildrenSeeTheEnvironment) {
    ScopedEnv clean("QV_RUN_TEST", std::nullopt);
    ASSERT_EQ(Call("SetEnv", {Str("QV_RUN_TEST"), Str("seen")}).code, 0);
    std::string out = scratch / "env.txt";
    ASSERT_EQ(Call("Execute", {Str("sh -c 'printenv QV_RUN_TEST > " + out + "'")}).code, 0);
    EXPECT_EQ(FileText(out), "seen\n");
}

// A program linked into the applet runs from a private temporary copy, made once.
TEST_F(Running, LinkedProgramsAreExtractedOnceAndReused) {
    std::string out = scratch / "linked.txt";
    std::string script = "#!/bin/sh\necho \"$@\" >> '" + out + "'\n";
    std::string container = MakeFile("container.bin", "padding" + script + "tail");
    LinkedApplet applet(L);
    applet.Link("tools/Helper.sh", container.c_str(), 7, static_cast<uint32_t>(script.size()));
    ASSERT_EQ(Call("Execute", {Str("tools/helper.sh one")}).code, 0);
    ASSERT_EQ(Call("Execute", {Str("TOOLS/HELPER.SH two")}).code, 0);
    EXPECT_EQ(FileText(out), "one\ntwo\n");
    std::vector<std::string> extracted;
    DIR* t = opendir(TempDir().c_str());
    ASSERT_NE(t, nullptr);
    while (dirent* e = readdir(t)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") extracted.push_back(name);
    }
    closedir(t);
    ASSERT_EQ(extracted.size(), 1u);
    EXPECT_TRUE(extracted[0].ends_with(".sh")) << extracted[0];
    struct stat st;
    ASSERT_EQ(stat((TempDir() + "/" + extracted[0]).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    FreeDosObjects(L);
    EXPECT_FALSE(PathExists(TempDir() + "/" + extracted[0]));
}

}  // namespace
}  // namespace qv::testing

// The qvasm command line: its outputs and exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "tests/platform/file_test_support.h"
#include "tools/qvasm/qvasm.h"

namespace qv {
namespace {

struct ToolRun {
    int status;
    std::string output;  // standard output and error together
};

ToolRun Qvasm(const std::string& args) {
    const std::string command = std::string(QVASM_PATH) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) output.append(buf, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// A scratch folder per test.
class QvasmCli : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_ / name; }
    std::string Write(const std::string& name, const std::string& text) const {
        return dir_.Write(name, testing::ToBytes(text));
    }
    std::string Read(const std::string& name) const {
        testing::Bytes bytes = testing::ReadBytes(Path(name));
        return std::string(bytes.begin(), bytes.end());
    }

private:
    testing::ScratchDir dir_;
};

const char kListing[] = ".function main\nLOADK r0 \"x\"\nRETURN r0 2\n.end\n";

TEST_F(QvasmCli, AssembleDisassembleAndCheck) {
    const std::string in = Write("a.qvs", kListing);
    EXPECT_EQ(Qvasm("asm " + in + " -o " + Path("a.qvb")).status, 0);
    // The chunk names its listing and carries the listing's lines.
    AssembleOptions named;
    named.sourceName = "@" + in;
    named.listingLines = true;
    const AssembleResult expected = Assemble(kListing, named);
    const std::string bytes = Read("a.qvb");
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected.bytes);

    const ToolRun dis = Qvasm("dis " + Path("a.qvb"));
    EXPECT_EQ(dis.status, 0);
    EXPECT_EQ(dis.output, Disassemble(expected.bytes).text);

    EXPECT_EQ(Qvasm("asm " + in + " -o " + Path("le.qvb") + " --le").status, 0);
    const ToolRun check = Qvasm("check " + Path("le.qvb") + " -o " + Path("re.qvb"));
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.output, "status 0\n");
    EXPECT_EQ(Read("re.qvb"), bytes);  // the dump is big-endian
}

TEST_F(QvasmCli, FailuresAndStatuses) {
    const std::string bad = Write("bad.qvs", ".function main\nFROB r0\n.end\n");
    const ToolRun asmRun = Qvasm("asm " + bad + " -o " + Path("bad.qvb"));
    EXPECT_EQ(asmRun.status, 1);
    EXPECT_EQ(asmRun.output, bad + ":2: unknown instruction FROB\n");
    EXPECT_FALSE(std::filesystem::exists(Path("bad.qvb")));

    // A chunk the loader refuses is still a run of the tool.
    const ToolRun check = Qvasm("check " + Write("text.qvb", "print(1)"));
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.output, "status 1204\n");

    EXPECT_EQ(Qvasm("").status, 1);
    EXPECT_EQ(Qvasm("frob x").status, 1);
    EXPECT_EQ(Qvasm("asm " + bad).status, 1);  // no -o
    EXPECT_EQ(Qvasm("dis " + Path("missing.qvb")).status, 1);
}

// What the player's loader refuses is refused here, at the listing's line, with the verifier's
// reason; the listing's own .line numbers do not hide where it is.
TEST_F(QvasmCli, AssemblyRefusesWhatThePlayerRefuses) {
    const struct {
        const char* listing;
        std::string message;
    } cases[] = {
        {".function main\n    LOADK r0 1\n    ADD r0 r0 1\n.end\n",
         ":3: the function does not end in RETURN"},
        {".function main\n.line 40\n    RETURN r0 1\n.function inner\n.line 50\n"
         "    GETUPVAL r0 u0\n    RETURN r0 1\n.end\n.end\n",
         ":6: an upvalue the function does not have"},
        {".function main\n.function empty\n.end\n    RETURN r0 1\n.end\n",
         ":2: the function has no code"},
    };
    for (const auto& c : cases) {
        const std::string in = Write("bad.qvs", c.listing);
        const ToolRun run = Qvasm("asm " + in + " -o " + Path("bad.qvb"));
        EXPECT_EQ(run.status, 1) << c.listing;
        EXPECT_EQ(run.output, in + c.message + " (the player refuses the chunk: status 1203)\n");
        EXPECT_FALSE(std::filesystem::exists(Path("bad.qvb")));
    }
    // Faulty chunks on purpose (the fuzzers' seeds) are written without the check.
    const std::string in = Write("bad.qvs", cases[0].listing);
    EXPECT_EQ(Qvasm("asm " + in + " -o " + Path("bad.qvb") + " --no-verify").status, 0);
    EXPECT_EQ(Qvasm("check " + Path("bad.qvb")).output.rfind("status 1203 (", 0), 0u);
}

TEST_F(QvasmCli, CheckGivesTheVerifiersReasonBesideItsCode) {
    const AssembleResult noReturn = Assemble(".function main\nLOADK r0 1\n.end\n");
    ASSERT_TRUE(noReturn.ok());
    const std::string chunk =
        Write("noreturn.qvb", std::string(noReturn.bytes.begin(), noReturn.bytes.end()));
    const ToolRun check = Qvasm("check " + chunk);
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.output,
              "status 1203 (the function does not end in RETURN; function 0, pc 0)\n");
}

TEST_F(QvasmCli, HelpGoesToStandardOutput) {
    const std::string command = std::string(QVASM_PATH) + " --help 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(out.rfind("usage:\n  qvasm asm ", 0), 0u) << out;
    EXPECT_NE(out.find("qvasm check"), std::string::npos);
}

}  // namespace
}  // namespace qv

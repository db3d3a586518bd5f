// The qvasm command line: its outputs and exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/qvasm/qvasm.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

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

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class QvasmCli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qvasm_cli_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }

private:
    fs::path dir_;
};

const char kListing[] = ".function main\nLOADK r0 \"x\"\nRETURN r0 2\n.end\n";

TEST_F(QvasmCli, AssembleDisassembleAndCheck) {
    const std::string in = Write("a.qvs", kListing);
    EXPECT_EQ(Qvasm("asm " + in + " -o " + Path("a.qvb")).status, 0);
    const AssembleResult expected = Assemble(kListing);
    const std::string bytes = ReadFile(Path("a.qvb"));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected.bytes);

    const ToolRun dis = Qvasm("dis " + Path("a.qvb"));
    EXPECT_EQ(dis.status, 0);
    EXPECT_EQ(dis.output, Disassemble(expected.bytes).text);

    EXPECT_EQ(Qvasm("asm " + in + " -o " + Path("le.qvb") + " --le").status, 0);
    const ToolRun check = Qvasm("check " + Path("le.qvb") + " -o " + Path("re.qvb"));
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.output, "status 0\n");
    EXPECT_EQ(ReadFile(Path("re.qvb")), bytes);  // the dump is big-endian
}

TEST_F(QvasmCli, FailuresAndStatuses) {
    const std::string bad = Write("bad.qvs", ".function main\nFROB r0\n.end\n");
    const ToolRun asmRun = Qvasm("asm " + bad + " -o " + Path("bad.qvb"));
    EXPECT_EQ(asmRun.status, 1);
    EXPECT_EQ(asmRun.output, bad + ":2: unknown instruction FROB\n");
    EXPECT_FALSE(fs::exists(Path("bad.qvb")));

    // A chunk the loader refuses is still a run of the tool.
    const ToolRun check = Qvasm("check " + Write("text.qvb", "print(1)"));
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.output, "status 1204\n");

    EXPECT_EQ(Qvasm("").status, 1);
    EXPECT_EQ(Qvasm("frob x").status, 1);
    EXPECT_EQ(Qvasm("asm " + bad).status, 1);  // no -o
    EXPECT_EQ(Qvasm("dis " + Path("missing.qvb")).status, 1);
}

}  // namespace
}  // namespace qv

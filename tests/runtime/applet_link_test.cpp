// Applets appended to a program that links the run-time, which finds them through its own
// link record.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "tests/platform/file_test_support.h"

namespace qv {
namespace {

using testing::ScratchDir;
using testing::ToBytes;

std::string Shell(const std::string& command) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string output;
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    pclose(pipe);
    return output;
}

TEST(AppletLink, ProgramLoadsTheAppletAppendedToIt) {
    EXPECT_EQ(Shell(QV_SELF_LOADER), "no applet linked\n");
    ScratchDir dir;
    std::string chunk = dir.Write("chunk", ToBytes("CHUNK"));
    std::string data = dir.Write("data", ToBytes("linked data"));
    for (const char* form : {"", " --qvz"}) {
        std::string linked = dir / "linked";
        std::string make = std::string(QVMKAPPLET_PATH) + " -o " + linked + " --chunk " + chunk +
                           " --link data.txt=" + data + " --link-external more.txt=" + chunk +
                           " --append-to " + QV_SELF_LOADER + form;
        ASSERT_EQ(Shell(make), "") << form;
        EXPECT_EQ(Shell(linked),
                  "result 0\nchunk CHUNK\nfile data.txt:linked data\nfile more.txt:CHUNK\n")
            << form;
    }
}

TEST(AppletLink, ToolRefusesAProgramWithTheMarkerTwice) {
    ScratchDir dir;
    std::string chunk = dir.Write("chunk", ToBytes("C"));
    std::string once = dir / "once";
    ASSERT_EQ(Shell(std::string(QVMKAPPLET_PATH) + " -o " + once + " --chunk " + chunk +
                    " --append-to " + QV_SELF_LOADER),
              "");
    // The linked program still holds its record: appending again would need a second one.
    testing::Bytes twice = testing::ReadBytes(once);
    testing::Bytes self = testing::ReadBytes(QV_SELF_LOADER);
    twice.insert(twice.end(), self.begin(), self.end());
    std::string doubled = dir.Write("doubled", twice);
    EXPECT_NE(Shell(std::string(QVMKAPPLET_PATH) + " -o " + (dir / "x") + " --chunk " + chunk +
                    " --append-to " + doubled)
                  .find("more than one"),
              std::string::npos);
}

}  // namespace
}  // namespace qv

// MD5 and CRC32 of files against coreutils md5sum and Python's zlib.crc32, around the size of
// one direct read and well beyond it.
#include <random>
#include <string>

#include "tests/libs/string/checksum_test_support.h"

namespace qv::testing {
namespace {

using FileChecksums = ChecksumLib;

TEST_F(FileChecksums, AgreeWithMd5sumAndZlib) {
    QV_REQUIRE_TOOL("md5sum");
    QV_REQUIRE_TOOL("python3");
    std::mt19937 random(7);
    for (size_t size : {0, 1, 65535, 65536, 65537, 3 * 1024 * 1024 + 7}) {
        Bytes bytes(size);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        const std::string path = TempDir() + "/data";
        WriteBytes(path, bytes);
        const ToolRun md5sum = RunTool("md5sum '" + path + "'");
        ASSERT_EQ(md5sum.status, 0);
        EXPECT_EQ(Call("MD5", {Str(path)}).Text(), md5sum.output.substr(0, 32)) << size;
        const ToolRun crc = RunPython(
            "import sys, zlib\nprint(zlib.crc32(open(sys.stdin.readline().strip(), 'rb').read()))",
            path + "\n");
        ASSERT_EQ(crc.status, 0);
        EXPECT_EQ(Call("CRC32", {Str(path)}).Number(), std::stod(crc.output)) << size;
    }
}

}  // namespace
}  // namespace qv::testing

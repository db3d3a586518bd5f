// Packed files against Python's zlib module, both ways.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "libs/dos/pack.h"
#include "runtime/runtime_state.h"
#include "tests/platform/file_test_support.h"

namespace qv {
namespace {

using testing::Bytes;
using testing::ReadBytes;
using testing::ScratchDir;

bool HavePython() {
    static const bool present = std::system("python3 -c 'import zlib' >/dev/null 2>&1") == 0;
    return present;
}

#define REQUIRE_PYTHON()                                                             \
    do {                                                                             \
        if (!HavePython()) {                                                         \
            if (std::getenv("CI") != nullptr) FAIL() << "python3 with zlib missing"; \
            GTEST_SKIP() << "python3 with zlib missing";                             \
        }                                                                            \
    } while (0)

int Python(const std::string& code) {
    int status = std::system(("python3 -c '" + code + "'").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Bytes Sample(size_t n) {
    Bytes b(n);
    uint32_t x = 12345;
    for (auto& byte : b) {
        x = x * 1103515245 + 12345;
        byte = static_cast<uint8_t>((x >> 16) % 13 == 0 ? x >> 24 : 'a' + (x >> 20) % 4);
    }
    return b;
}

TEST(PackOracle, PythonReadsWhatWePack) {
    REQUIRE_PYTHON();
    ScratchDir dir;
    for (size_t n : {0, 10, 70000}) {
        std::string source = dir.Write("src", Sample(n));
        std::string packed = dir / "packed";
        ASSERT_EQ(PackFile("QVPK", source.c_str(), packed.c_str(), nullptr), 0);
        EXPECT_EQ(Python("import sys,zlib; d=open(\"" + packed +
                         "\",\"rb\").read(); "
                         "s=open(\"" +
                         source +
                         "\",\"rb\").read(); "
                         "sys.exit(0 if d[:8]==b\"QVPK\\0\\0\\0\\0\" and "
                         "zlib.decompress(d[8:])==s else 1)"),
                  0)
            << n;
    }
    ResetRuntimeState();
}

TEST(PackOracle, WeUnpackWhatPythonPacks) {
    REQUIRE_PYTHON();
    ScratchDir dir;
    for (int level : {0, 1, 9}) {
        std::string source = dir.Write("src", Sample(50000));
        std::string packed = dir / "packed";
        ASSERT_EQ(Python("import zlib; s=open(\"" + source +
                         "\",\"rb\").read(); "
                         "open(\"" +
                         packed +
                         "\",\"wb\").write(b\"QVPK\\1\\2\\3\\4\"+"
                         "zlib.compress(s," +
                         std::to_string(level) + "))"),
                  0);
        uint32_t size = 0;
        ASSERT_EQ(UnpackFile("QVPK", packed.c_str(), (dir / "out").c_str(), 0, &size), 0) << level;
        EXPECT_EQ(size, 50000u);
        EXPECT_EQ(ReadBytes(dir / "out"), ReadBytes(source)) << level;
    }
    ResetRuntimeState();
}

}  // namespace
}  // namespace qv

#include "libs/dos/pack.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/linux/memory.h"
#include "runtime/runtime_state.h"
#include "tests/platform/file_test_support.h"

namespace qv {
namespace {

using testing::Bytes;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::ToBytes;

constexpr char kPack[] = "QVPK";
constexpr char kApplet[4] = {'Q', 'V', 'Z', 0};

Bytes Mixed(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i % 7 == 0 ? rng() : i / 100);
    return b;
}

class Packer : public ::testing::Test {
protected:
    void TearDown() override { ResetRuntimeState(); }
    std::string ErrorText() const { return Runtime().error.text; }
    ScratchDir dir_;
};

TEST_F(Packer, RoundTripsAcrossWindowBoundaries) {
    for (size_t n : {0, 1, 16383, 16384, 16385, 100000}) {
        Bytes data = Mixed(n, static_cast<uint32_t>(n));
        std::string source = dir_.Write("src", data);
        uint32_t packed = 1, unpacked = 1;
        ASSERT_EQ(PackFile(kPack, source.c_str(), (dir_ / "packed").c_str(), &packed), 0) << n;
        Bytes file = ReadBytes(dir_ / "packed");
        EXPECT_EQ(packed, file.size());
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), ToBytes(std::string("QVPK\0\0\0\0", 8)));
        ASSERT_EQ(
            UnpackFile(kPack, (dir_ / "packed").c_str(), (dir_ / "out").c_str(), 0, &unpacked), 0);
        EXPECT_EQ(unpacked, n);
        EXPECT_EQ(ReadBytes(dir_ / "out"), data) << n;
    }
}

TEST_F(Packer, UnpacksFromAnOffsetInsideALargerFile) {
    Bytes data = Mixed(5000, 1);
    std::string source = dir_.Write("src", data);
    ASSERT_EQ(PackFile(kApplet, source.c_str(), (dir_ / "packed").c_str(), nullptr), 0);
    Bytes program = ToBytes("a program image of some length");
    Bytes packed = ReadBytes(dir_ / "packed");
    program.insert(program.end(), packed.begin(), packed.end());
    program.insert(program.end(), {'t', 'a', 'i', 'l'});  // bytes after the stream are ignored
    std::string linked = dir_.Write("linked", program);
    uint32_t size = 0;
    EXPECT_EQ(UnpackFile(kApplet, linked.c_str(), (dir_ / "out").c_str(), 30, &size), 0);
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(ReadBytes(dir_ / "out"), data);
    EXPECT_EQ(UnpackFile(kApplet, linked.c_str(), (dir_ / "out").c_str(), 29, &size),
              ERR_PAKFORMAT);
    EXPECT_EQ(UnpackFile(kPack, linked.c_str(), (dir_ / "out").c_str(), 30, &size), ERR_PAKFORMAT);
}

TEST_F(Packer, BrokenInputAndOutput) {
    Bytes data = Mixed(40000, 2);
    std::string source = dir_.Write("src", data);
    std::string packed = dir_ / "packed";
    ASSERT_EQ(PackFile(kPack, source.c_str(), packed.c_str(), nullptr), 0);
    Bytes whole = ReadBytes(packed);
    Bytes corrupt = whole;
    corrupt[10] ^= 0xFF;
    struct Case {
        const char* label;
        Bytes file;
        int expected;
    } cases[] = {
        {"cut in the stream", Bytes(whole.begin(), whole.end() - 100), ERR_ZLIBDATA},
        {"cut after the header", Bytes(whole.begin(), whole.begin() + 8), ERR_ZLIBDATA},
        {"cut in the magic", Bytes(whole.begin(), whole.begin() + 3), ERR_PAKFORMAT},
        {"empty", {}, ERR_PAKFORMAT},
        {"other magic", ToBytes("QVPX0000"), ERR_PAKFORMAT},
        {"corrupt stream", corrupt, ERR_ZLIBDATA},
    };
    for (const Case& c : cases) {
        std::string path = dir_.Write("case", c.file);
        EXPECT_EQ(UnpackFile(kPack, path.c_str(), (dir_ / "out").c_str(), 0, nullptr), c.expected)
            << c.label;
    }

    EXPECT_EQ(PackFile(kPack, (dir_ / "missing").c_str(), packed.c_str(), nullptr), ERR_READFILE);
    EXPECT_EQ(ErrorText(), dir_ / "missing");
    EXPECT_EQ(UnpackFile(kPack, (dir_ / "missing").c_str(), packed.c_str(), 0, nullptr),
              ERR_READFILE);
    std::string noDir = dir_ / "no/such/dir";
    EXPECT_EQ(PackFile(kPack, source.c_str(), noDir.c_str(), nullptr), ERR_WRITEFILE);
    EXPECT_EQ(ErrorText(), noDir);
    EXPECT_EQ(UnpackFile(kPack, packed.c_str(), noDir.c_str(), 0, nullptr), ERR_WRITEFILE);
    // A full disk is reported, not a short file passed off as packed.
    EXPECT_EQ(PackFile(kPack, source.c_str(), "/dev/full", nullptr), ERR_WRITE);
    EXPECT_EQ(UnpackFile(kPack, packed.c_str(), "/dev/full", 0, nullptr), ERR_WRITE);
    std::string tiny = dir_.Write("tiny", {1});
    EXPECT_EQ(PackFile(kPack, tiny.c_str(), "/dev/full", nullptr), ERR_WRITE);
}

TEST_F(Packer, AllocationFailureGivesErrMem) {
    std::string source = dir_.Write("src", Mixed(100, 3));
    for (uint64_t n : {1, 2}) {
        {
            AllocationFault fault(n, false);
            EXPECT_EQ(PackFile(kPack, source.c_str(), (dir_ / "p").c_str(), nullptr), ERR_MEM);
        }
        AllocationFault fault(n, false);
        EXPECT_EQ(UnpackFile(kPack, source.c_str(), (dir_ / "p").c_str(), 0, nullptr), ERR_MEM);
    }
}

// The handlers as a script reaches them, through a test registration.
TEST_F(Packer, CommandHandlersReturnTheSizes) {
    qvVmState* L = VmOpen();
    ASSERT_NE(L, nullptr);
    const qvCommandEntry rows[] = {
        {"CompressFile", CompressFile}, {"DecompressFile", DecompressFile}, {nullptr, nullptr}};
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, rows, 0);
    VmSetTop(L, 0);
    std::string source = dir_.Write("src", Mixed(3000, 4));
    auto call = [&](const char* command, const std::string& from, const std::string& to) {
        VmPushString(L, command);
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushString(L, from.c_str());
        VmPushString(L, to.c_str());
        int status = VmPCall(L, 2, 1, 0);
        double result = status == 0 ? VmToNumber(L, -1) : -1;
        VmSetTop(L, 0);
        return std::make_pair(status, result);
    };
    auto packed = call("compressfile", source, dir_ / "packed");
    EXPECT_EQ(packed.first, 0);
    EXPECT_EQ(packed.second, static_cast<double>(ReadBytes(dir_ / "packed").size()));
    auto unpacked = call("decompressfile", dir_ / "packed", dir_ / "out");
    EXPECT_EQ(unpacked, std::make_pair(0, 3000.0));
    EXPECT_EQ(ReadBytes(dir_ / "out"), ReadBytes(source));
    EXPECT_EQ(call("decompressfile", source, dir_ / "out").first, ERR_PAKFORMAT);

    std::string empty = dir_.Write("empty", {});
    EXPECT_EQ(call("compressfile", empty, dir_ / "packed").first, 0);
    EXPECT_EQ(call("decompressfile", dir_ / "packed", dir_ / "out"), std::make_pair(0, 0.0));
    VmClose(L);
}

}  // namespace
}  // namespace qv

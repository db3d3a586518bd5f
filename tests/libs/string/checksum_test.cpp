// MD5 and CRC-32 of strings and files: the RFC 1321 suite, the CRC check value, feeding in
// pieces, and files that cannot be read.
#include <string>
#include <vector>

#include "tests/libs/string/checksum_test_support.h"

namespace qv::testing {
namespace {

// RFC 1321, appendix A.5.
struct Vector {
    const char* message;
    const char* digest;
};
const Vector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
     "0",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

std::string Digest(const std::string& message, size_t piece) {
    qvMD5Context context;
    MD5Init(&context);
    for (size_t at = 0; at < message.size(); at += piece) {
        const size_t n = std::min(piece, message.size() - at);
        MD5Update(&context, reinterpret_cast<const uint8_t*>(message.data() + at),
                  static_cast<int64_t>(n));
    }
    MD5Update(&context, nullptr, 0);
    MD5Update(&context, nullptr, -5);
    uint8_t digest[16];
    MD5Final(&context, digest);
    char text[kMD5TextSize];
    MD5ToText(digest, text);
    return text;
}

TEST(Checksum, Rfc1321InAnyPieces) {
    for (const Vector& v : kRfc1321) {
        for (size_t piece : {1, 3, 63, 64, 65, 1000}) {
            EXPECT_EQ(Digest(v.message, piece), v.digest) << v.message << " by " << piece;
        }
    }
}

TEST(Checksum, Crc32Chains) {
    const std::string check = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*>(check.data());
    EXPECT_EQ(Crc32Update(0, bytes, check.size()), 0xCBF43926u);
    EXPECT_EQ(Crc32Update(Crc32Update(0, bytes, 4), bytes + 4, 5), 0xCBF43926u);
    EXPECT_EQ(Crc32Update(0, bytes, 0), 0u);
}

TEST_F(ChecksumLib, ChecksumsOfStrings) {
    for (const Vector& v : kRfc1321) {
        const CallResult r = Call("MD5Str", {Str(v.message)});
        if (v.message[0] == '\0') {
            EXPECT_EQ(r.code, ERR_WRONGUSAGE);
            continue;
        }
        EXPECT_EQ(r.Text(), v.digest) << v.message;
    }
    EXPECT_EQ(Call("CRC32Str", {Str("123456789")}).Number(), 3421780262.0);
    EXPECT_EQ(Call("CRC32Str", {Str(std::string("\0", 1))}).Number(), 3523407757.0);
    EXPECT_EQ(Call("MD5Str", {Num(1)}).Text(), "c4ca4238a0b923820dcc509a6f75849b");
}

TEST_F(ChecksumLib, ChecksumsOfFiles) {
    const std::string& dir = TempDir();
    for (const Vector& v : kRfc1321) {
        WriteBytes(dir + "/message", ToBytes(v.message));
        EXPECT_EQ(Call("MD5", {Str("T:message")}).Text(), v.digest) << v.message;
    }
    WriteBytes(dir + "/check", ToBytes("123456789"));
    EXPECT_EQ(Call("CRC32", {Str("T:check")}).Number(), 3421780262.0);
    WriteBytes(dir + "/empty", {});
    EXPECT_EQ(Call("CRC32", {Str(dir + "/empty")}).Number(), 0);
}

// A directory, a missing file, an empty name or a name with a zero byte fail with a code;
// none hangs.
TEST_F(ChecksumLib, ChecksumFileErrors) {
    const std::string& dir = TempDir();
    for (const char* command : {"MD5", "CRC32"}) {
        const CallResult directory = Call(command, {Str(dir)});
        EXPECT_TRUE(directory.code == ERR_READ || directory.code == ERR_READFILE) << command;
        const CallResult missing = Call(command, {Str(dir + "/missing")});
        EXPECT_EQ(missing.code, ERR_READFILE) << command;
        EXPECT_EQ(missing.errorText, dir + "/missing");
        EXPECT_EQ(Call(command, {Str("")}).code, ERR_WRONGUSAGE) << command;
        // A file that opens but cannot be read (the process's memory at address 0).
        EXPECT_EQ(Call(command, {Str("/proc/self/mem")}).code, ERR_READ) << command;
        WriteBytes(dir + "/a", ToBytes("x"));
        EXPECT_EQ(Call(command, {Str(dir + std::string("/a\0b", 4))}).code, ERR_READFILE);
    }
}

}  // namespace
}  // namespace qv::testing

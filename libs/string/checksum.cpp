#include "libs/string/checksum.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "platform/linux/blocks.h"
#include "platform/linux/files.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"

namespace qv {
namespace {

constexpr uint32_t Rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

constexpr uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
    return z ^ (x & (y ^ z));
}
constexpr uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
    return y ^ (z & (x ^ y));
}
constexpr uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}
constexpr uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
    return y ^ (x | ~z);
}

template <uint32_t (*Fn)(uint32_t, uint32_t, uint32_t)>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t) {
    a = Rotl(a + Fn(b, c, d) + x + t, s) + b;
}

// Message words are little-endian whatever the host.
inline uint32_t LoadLE32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

void MD5Transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLE32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    Step<F>(a, b, c, d, x[0], 7, 0xd76aa478);
    Step<F>(d, a, b, c, x[1], 12, 0xe8c7b756);
    Step<F>(c, d, a, b, x[2], 17, 0x242070db);
    Step<F>(b, c, d, a, x[3], 22, 0xc1bdceee);
    Step<F>(a, b, c, d, x[4], 7, 0xf57c0faf);
    Step<F>(d, a, b, c, x[5], 12, 0x4787c62a);
    Step<F>(c, d, a, b, x[6], 17, 0xa8304613);
    Step<F>(b, c, d, a, x[7], 22, 0xfd469501);
    Step<F>(a, b, c, d, x[8], 7, 0x698098d8);
    Step<F>(d, a, b, c, x[9], 12, 0x8b44f7af);
    Step<F>(c, d, a, b, x[10], 17, 0xffff5bb1);
    Step<F>(b, c, d, a, x[11], 22, 0x895cd7be);
    Step<F>(a, b, c, d, x[12], 7, 0x6b901122);
    Step<F>(d, a, b, c, x[13], 12, 0xfd987193);
    Step<F>(c, d, a, b, x[14], 17, 0xa679438e);
    Step<F>(b, c, d, a, x[15], 22, 0x49b40821);

    Step<G>(a, b, c, d, x[1], 5, 0xf61e2562);
    Step<G>(d, a, b, c, x[6], 9, 0xc040b340);
    Step<G>(c, d, a, b, x[11], 14, 0x265e5a51);
    Step<G>(b, c, d, a, x[0], 20, 0xe9b6c7aa);
    Step<G>(a, b, c, d, x[5], 5, 0xd62f105d);
    Step<G>(d, a, b, c, x[10], 9, 0x02441453);
    Step<G>(c, d, a, b, x[15], 14, 0xd8a1e681);
    Step<G>(b, c, d, a, x[4], 20, 0xe7d3fbc8);
    Step<G>(a, b, c, d, x[9], 5, 0x21e1cde6);
    Step<G>(d, a, b, c, x[14], 9, 0xc33707d6);
    Step<G>(c, d, a, b, x[3], 14, 0xf4d50d87);
    Step<G>(b, c, d, a, x[8], 20, 0x455a14ed);
    Step<G>(a, b, c, d, x[13], 5, 0xa9e3e905);
    Step<G>(d, a, b, c, x[2], 9, 0xfcefa3f8);
    Step<G>(c, d, a, b, x[7], 14, 0x676f02d9);
    Step<G>(b, c, d, a, x[12], 20, 0x8d2a4c8a);

    Step<H>(a, b, c, d, x[5], 4, 0xfffa3942);
    Step<H>(d, a, b, c, x[8], 11, 0x8771f681);
    Step<H>(c, d, a, b, x[11], 16, 0x6d9d6122);
    Step<H>(b, c, d, a, x[14], 23, 0xfde5380c);
    Step<H>(a, b, c, d, x[1], 4, 0xa4beea44);
    Step<H>(d, a, b, c, x[4], 11, 0x4bdecfa9);
    Step<H>(c, d, a, b, x[7], 16, 0xf6bb4b60);
    Step<H>(b, c, d, a, x[10], 23, 0xbebfbc70);
    Step<H>(a, b, c, d, x[13], 4, 0x289b7ec6);
    Step<H>(d, a, b, c, x[0], 11, 0xeaa127fa);
    Step<H>(c, d, a, b, x[3], 16, 0xd4ef3085);
    Step<H>(b, c, d, a, x[6], 23, 0x04881d05);
    Step<H>(a, b, c, d, x[9], 4, 0xd9d4d039);
    Step<H>(d, a, b, c, x[12], 11, 0xe6db99e5);
    Step<H>(c, d, a, b, x[15], 16, 0x1fa27cf8);
    Step<H>(b, c, d, a, x[2], 23, 0xc4ac5665);

    Step<I>(a, b, c, d, x[0], 6, 0xf4292244);
    Step<I>(d, a, b, c, x[7], 10, 0x432aff97);
    Step<I>(c, d, a, b, x[14], 15, 0xab9423a7);
    Step<I>(b, c, d, a, x[5], 21, 0xfc93a039);
    Step<I>(a, b, c, d, x[12], 6, 0x655b59c3);
    Step<I>(d, a, b, c, x[3], 10, 0x8f0ccc92);
    Step<I>(c, d, a, b, x[10], 15, 0xffeff47d);
    Step<I>(b, c, d, a, x[1], 21, 0x85845dd1);
    Step<I>(a, b, c, d, x[8], 6, 0x6fa87e4f);
    Step<I>(d, a, b, c, x[15], 10, 0xfe2ce6e0);
    Step<I>(c, d, a, b, x[6], 15, 0xa3014314);
    Step<I>(b, c, d, a, x[13], 21, 0x4e0811a1);
    Step<I>(a, b, c, d, x[4], 6, 0xf7537e82);
    Step<I>(d, a, b, c, x[11], 10, 0xbd3af235);
    Step<I>(c, d, a, b, x[2], 15, 0x2ad7d2bb);
    Step<I>(b, c, d, a, x[9], 21, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// The bytes of a file in direct reads of this size.
constexpr int64_t kFileChunk = 65536;

// Feeds every byte of the named file to consume(bytes, n). Returns 0, or ERR_WRONGUSAGE for
// an empty name, ERR_READFILE (with the name) when the file cannot be opened, ERR_MEM, or
// ERR_READ when a read fails (a directory on some systems opens and then fails every read).
template <typename Consume>
int ReadWholeFile(const char* name, size_t length, Consume consume) {
    if (length == 0) return ERR_WRONGUSAGE;
    FilePtr file(std::strlen(name) == length ? FileOpen(name, QV_FILE_READ) : nullptr);
    if (!file) return ErrorWithText(ERR_READFILE, name);
    BlockPtr<uint8_t> buffer(static_cast<uint8_t*>(AllocMemBlock(kFileChunk, 0)));
    if (!buffer) return ERR_MEM;
    for (;;) {
        const int64_t n = FileRead(file.get(), buffer.get(), kFileChunk);
        if (n == 0) return 0;
        if (n < 0) return ERR_READ;
        consume(buffer.get(), static_cast<size_t>(n));
    }
}

}  // namespace

void MD5ToText(const uint8_t digest[16], char (&out)[kMD5TextSize]) {
    constexpr char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = kDigits[digest[i] >> 4];
        out[2 * i + 1] = kDigits[digest[i] & 15];
    }
    out[32] = '\0';
}

uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, size_t n) {
    while (n > 0) {
        const auto step = static_cast<uInt>(std::min<size_t>(n, UINT_MAX));
        crc = static_cast<uint32_t>(crc32(crc, bytes, step));
        bytes += step;
        n -= step;
    }
    return crc;
}

}  // namespace qv

void MD5Init(qvMD5Context* context) {
    context->countLow = 0;
    context->countHigh = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xEFCDAB89;
    context->state[2] = 0x98BADCFE;
    context->state[3] = 0x10325476;
}

void MD5Update(qvMD5Context* context, const uint8_t* bytes, int64_t length) {
    if (length <= 0) return;
    size_t n = static_cast<size_t>(length);
    size_t used = (context->countLow >> 3) & 63;
    const uint64_t bits =
        (uint64_t{context->countHigh} << 32 | context->countLow) + (uint64_t{n} << 3);
    context->countLow = static_cast<uint32_t>(bits);
    context->countHigh = static_cast<uint32_t>(bits >> 32);
    if (used > 0) {
        const size_t take = std::min(n, 64 - used);
        std::memcpy(context->buffer + used, bytes, take);
        used += take;
        bytes += take;
        n -= take;
        if (used < 64) return;
        qv::MD5Transform(context->state, context->buffer);
    }
    for (; n >= 64; n -= 64, bytes += 64) qv::MD5Transform(context->state, bytes);
    if (n > 0) std::memcpy(context->buffer, bytes, n);
}

void MD5Final(qvMD5Context* context, uint8_t digest[16]) {
    uint8_t length[8];
    qv::StoreLE32(length, context->countLow);
    qv::StoreLE32(length + 4, context->countHigh);
    const size_t used = (context->countLow >> 3) & 63;
    static constexpr uint8_t kPadding[64] = {0x80};
    MD5Update(context, kPadding, static_cast<int64_t>(used < 56 ? 56 - used : 120 - used));
    MD5Update(context, length, 8);
    for (int i = 0; i < 4; ++i) qv::StoreLE32(digest + 4 * i, context->state[i]);
}

int MD5(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    size_t length;
    const char* name = GetArgString(L, 1, &length);
    qvMD5Context context;
    MD5Init(&context);
    const int code = qv::ReadWholeFile(name, length, [&](const uint8_t* bytes, size_t n) {
        MD5Update(&context, bytes, static_cast<int64_t>(n));
    });
    if (code != 0) return code;
    uint8_t digest[16];
    MD5Final(&context, digest);
    char text[qv::kMD5TextSize];
    qv::MD5ToText(digest, text);
    VmPushLString(L, text, 32);
    return 1;
}

int CRC32(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    size_t length;
    const char* name = GetArgString(L, 1, &length);
    uint32_t crc = 0;
    const int code = qv::ReadWholeFile(name, length, [&](const uint8_t* bytes, size_t n) {
        crc = qv::Crc32Update(crc, bytes, n);
    });
    if (code != 0) return code;
    VmPushNumber(L, crc);
    return 1;
}

// MD5 (RFC 1321) and CRC-32 (ISO 3309 / IEEE 802.3) of strings and files: the string
// library's MD5Str and CRC32Str and the dos library's MD5 and CRC32 share these engines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vm.h"

struct qvMD5Context {
    uint32_t countLow;  // message length in bits, low word
    uint32_t countHigh;
    uint32_t state[4];  // A, B, C, D
    uint8_t buffer[64];
};

void MD5Init(qvMD5Context* context);
// Feeds length bytes; a length of 0 or less does nothing.
void MD5Update(qvMD5Context* context, const uint8_t* bytes, int64_t length);
// Pads, appends the bit count and writes A, B, C, D as 16 bytes, low byte of A first.
void MD5Final(qvMD5Context* context, uint8_t digest[16]);

// Command handlers: MD5(name) returns the file's digest as 32 lower-case hexadecimal digits,
// CRC32(name) its CRC-32 as an unsigned number.
int MD5(qvVmState* L);
int CRC32(qvVmState* L);

namespace qv {

constexpr size_t kMD5TextSize = 33;  // 32 digits and a NUL

// The digest as 32 lower-case hexadecimal digits and a NUL.
void MD5ToText(const uint8_t digest[16], char (&out)[kMD5TextSize]);

// Continues a CRC-32 (0 to start) over n bytes: Crc32Update(Crc32Update(0, a), b) is the CRC
// of a followed by b. Results equal the byte-wise rule over the reflected table of polynomial
// 0xEDB88320 with initial value 0xFFFFFFFF and a final complement; zlib computes it with
// several bytes per step.
uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, size_t n);

}  // namespace qv

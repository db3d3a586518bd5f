// Conversions between numbers, 32-bit integers and text, shared by the generic operations, the
// stack interface, the argument getters and the interpreter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// x truncated toward zero to a signed 32-bit integer, saturating; NaN gives -2147483648.
int32_t Trunc32(double x);
// The 32-bit pattern of x: from 2^31 up, trunc32(x - 2^31) + 2^31 (so 2^32 and above give
// 4294967295); below, the two's complement of trunc32(x). NaN gives 0x80000000.
uint32_t Bits32(double x);

// Room for the longest "%.14g" text ("-1.2345678901235e-308") and its NUL.
constexpr size_t kNumberTextSize = 32;
// Writes n as "%.14g" in the C locale and a NUL; returns the length.
size_t FormatNumber(double n, char (&out)[kNumberTextSize]);
// FormatNumber that also hashes the text (engine/string_table.h): hashes[0] is its string hash,
// hashes[1] the hash of a short join of a prefix of prefixLength bytes and the text, over the
// text's bytes (the prefix's bytes are still to be mixed in). A counter is hashed as its digits
// come, so that the chains of work overlap.
size_t FormatNumberHashed(double n, char (&out)[kNumberTextSize], uint32_t prefixLength,
                          uint32_t hashes[2]);

}  // namespace qv

// Constants of the compiled-chunk format, shared by the engine's reader and writer and by the
// assembler. Every multi-byte field is in the byte order that the header declares.
#pragma once

#include <array>
#include <cstdint>

#include "engine/opcodes.h"

namespace qv::chunk {

inline constexpr std::array<uint8_t, 4> kSignature = {0x1B, 'Q', 'V', 'B'};

// The byte after the signature.
inline constexpr uint8_t kOrderBig = 0;
inline constexpr uint8_t kOrderLittle = 1;

// The eight size bytes after the byte order, in header order: int, size field, instruction,
// opcode bits, A bits, B bits, C bits, number.
inline constexpr std::array<uint8_t, 8> kSizes = {4, 4, 4, kOpBits, kABits, kBBits, kCBits, 8};

// Written after the sizes; its value truncated to 32 bits must read back as kTestInteger.
inline constexpr double kTestNumber = 31415926.535897933;
inline constexpr int32_t kTestInteger = 31415926;

// Constant tags.
inline constexpr uint8_t kTagNil = 0;
inline constexpr uint8_t kTagNumber = 3;
inline constexpr uint8_t kTagString = 4;

// The deepest nesting of function records a chunk may have (the main function is level 0).
inline constexpr int kMaxNesting = 200;

}  // namespace qv::chunk

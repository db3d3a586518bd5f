// A compiled chunk as plain data, without an engine: what the assembler builds and the
// disassembler prints. Reading follows the engine loader's structure but checks nothing that
// the loader checks by value (sizes, counts against upvalues, code), so that chunks which the
// loader refuses can still be written and shown.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/chunk_format.h"

namespace qv {

// A string field; no value is the size-0 "no string".
using ChunkString = std::optional<std::string>;

struct ChunkConstant {
    uint8_t tag = chunk::kTagNil;
    bool payload = false;  // tag 3 or 4 followed by its value; otherwise the tag byte alone
    double number = 0;
    std::string text;
};

struct ChunkLocal {
    ChunkString name;
    uint32_t startpc = 0;  // int fields keep their 32-bit pattern, negative ones included
    uint32_t endpc = 0;
};

struct ChunkFunction {
    ChunkString source;
    uint32_t lineDefined = 0;
    uint8_t nups = 0;
    uint8_t numparams = 0;
    uint8_t isVararg = 0;
    uint8_t maxstack = 0;
    std::vector<uint32_t> lineinfo;
    std::vector<ChunkLocal> locals;
    std::vector<ChunkString> upvalueNames;
    std::vector<ChunkConstant> constants;
    std::vector<ChunkFunction> protos;
    std::vector<uint32_t> code;
};

struct ChunkHeader {
    uint8_t order = chunk::kOrderBig;
    std::array<uint8_t, 8> sizes = chunk::kSizes;  // header bytes only: fields keep their width
    double testNumber = chunk::kTestNumber;
};

struct ChunkImage {
    ChunkHeader header;
    ChunkFunction main;
};

std::vector<uint8_t> WriteChunkImage(const ChunkImage& image);

// Parses bytes into an image; on failure returns nothing and sets *error.
std::optional<ChunkImage> ReadChunkImage(std::span<const uint8_t> bytes, std::string* error);

}  // namespace qv

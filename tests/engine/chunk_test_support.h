// Helpers for the compiled-chunk tests: assembling, loading and dumping, hand-made chunk
// bytes, and the listings of the repository.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/chunk_format.h"
#include "engine/internal.h"
#include "tools/qvasm/qvasm.h"

namespace qv::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes AssembleOrFail(const std::string& text, bool littleEndian = false) {
    const AssembleResult r = Assemble(text, {.littleEndian = littleEndian});
    for (const AsmDiagnostic& d : r.diagnostics) {
        ADD_FAILURE() << d.line << ": " << d.message << "\n" << text;
    }
    return r.bytes;
}

// Loads bytes; a loaded function is left on the stack.
inline int Load(qvVmState* L, const Bytes& bytes) {
    return LoadChunk(L, bytes, "=test");
}

// Loads bytes and dumps the loaded function again; the function is popped.
inline Bytes LoadAndDump(qvVmState* L, const Bytes& bytes) {
    Bytes out;
    EXPECT_EQ(Load(L, bytes), 0);
    EXPECT_EQ(DumpFunction(L, -1, &out), 0);
    --L->top;
    return out;
}

// Chunk bytes written field by field, big-endian.
class ChunkBytes {
public:
    // The standard header.
    ChunkBytes& Header() {
        for (uint8_t b : chunk::kSignature) U8(b);
        U8(chunk::kOrderBig);
        for (uint8_t b : chunk::kSizes) U8(b);
        return U64(std::bit_cast<uint64_t>(chunk::kTestNumber));
    }
    // A function record's fields up to its line info: no source, line 0, no upvalues,
    // no parameters, maxstack 2.
    ChunkBytes& FunctionStart() { return U32(0).U32(0).U8(0).U8(0).U8(0).U8(2); }
    ChunkBytes& U8(uint8_t v) {
        bytes.push_back(v);
        return *this;
    }
    ChunkBytes& U32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) U8(static_cast<uint8_t>(v >> shift));
        return *this;
    }
    ChunkBytes& U64(uint64_t v) {
        for (int shift = 56; shift >= 0; shift -= 8) U8(static_cast<uint8_t>(v >> shift));
        return *this;
    }
    Bytes bytes;
};

// Every listing of the repository (tests/**/listings/*.qvs), sorted.
inline std::vector<std::filesystem::path> RepositoryListings() {
    std::vector<std::filesystem::path> found;
    const std::filesystem::path root = std::filesystem::path(QV_SOURCE_DIR) / "tests";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const auto& path = entry.path();
        if (path.extension() == ".qvs" && path.parent_path().filename() == "listings") {
            found.push_back(path);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Listings that override the header are loader tests of their own; the others load.
inline bool OverridesHeader(const std::string& text) {
    return text.find(".header") != std::string::npos;
}

}  // namespace qv::testing

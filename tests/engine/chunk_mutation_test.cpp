// Mutated chunks of every listing must load or fail cleanly: no out-of-bounds access (the
// sanitizers watch), and whatever loads dumps to bytes that load again to the same dump.
#include <gtest/gtest.h>

#include <random>

#include "tests/engine/chunk_test_support.h"
#include "tests/engine/engine_test_support.h"

namespace qv::testing {
namespace {

using ChunkMutation = EngineTest;

constexpr int kTotalMutations = 20000;

// Values that sit on the edges of counts, sizes, lines and instruction fields.
constexpr uint32_t kInterestingWords[] = {
    0,          1,          2,          0x7F,       0xFF,       0x100,      0x7FFF,
    0xFFFF,     0x10000,    0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0x00008022,
    0x0000001B, 0x000000A3, 0x3FFFFFDB, 0xFFFFFFA3, 0x00000029, 0x01FFFFE3, 0x00FF8004,
};

void Mutate(std::mt19937& rng, Bytes& bytes) {
    const auto pick = [&](size_t n) {
        return std::uniform_int_distribution<size_t>(0, n - 1)(rng);
    };
    switch (pick(4)) {
        case 0:  // one byte
            bytes[pick(bytes.size())] = static_cast<uint8_t>(rng());
            break;
        case 1:  // one bit
            bytes[pick(bytes.size())] ^= static_cast<uint8_t>(1u << pick(8));
            break;
        case 2: {  // one 32-bit word, written big-endian at any offset
            const size_t at = pick(bytes.size() - 3);
            const uint32_t word =
                pick(2) ? kInterestingWords[pick(std::size(kInterestingWords))] : rng();
            for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(word >> (24 - 8 * i));
            break;
        }
        default:  // the end cut off
            bytes.resize(pick(bytes.size()));
    }
}

TEST_F(ChunkMutation, MutatedListingsLoadOrFailCleanly) {
    std::vector<Bytes> chunks;
    for (const auto& path : RepositoryListings()) {
        const AssembleResult r = Assemble(ReadText(path));
        if (r.ok() && r.bytes.size() >= 4) chunks.push_back(r.bytes);
    }
    ASSERT_FALSE(chunks.empty());
    std::mt19937 rng(20240601);
    const int perChunk = std::max<int>(1, kTotalMutations / static_cast<int>(chunks.size()));
    int loaded = 0;
    for (const Bytes& original : chunks) {
        for (int i = 0; i < perChunk; ++i) {
            Bytes bytes = original;
            for (int n = 1 + static_cast<int>(rng() % 3); n > 0 && bytes.size() >= 4; --n) {
                Mutate(rng, bytes);
            }
            if (Load(L, bytes) != 0) continue;
            ++loaded;
            Bytes dump;
            ASSERT_EQ(DumpFunction(L, -1, &dump), 0);
            --L->top;
            EXPECT_EQ(LoadAndDump(L, dump), dump);
        }
    }
    EXPECT_GT(loaded, 0);
}

}  // namespace
}  // namespace qv::testing

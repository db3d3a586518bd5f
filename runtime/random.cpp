#include "runtime/random.h"

#include "runtime/runtime_state.h"

namespace {

uint64_t Join48(const uint16_t words[3]) {
    return static_cast<uint64_t>(words[0]) | static_cast<uint64_t>(words[1]) << 16 |
           static_cast<uint64_t>(words[2]) << 32;
}

}  // namespace

void SeedRandom48(uint32_t seed) {
    qv::Runtime().random = qv::SeededRandom48(seed);
}

double GetRandom48() {
    qvRandom48& r = qv::Runtime().random;
    uint64_t x = (Join48(r.state) * Join48(r.multiplier) + r.addend) & ((uint64_t{1} << 48) - 1);
    for (auto& word : r.state) {
        word = static_cast<uint16_t>(x);
        x >>= 16;
    }
    // Each word is exact in a double, and so is their sum: 48 bits fit the mantissa.
    return r.state[0] * 0x1p-48 + r.state[1] * 0x1p-32 + r.state[2] * 0x1p-16;
}

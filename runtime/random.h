// The run-time's shared random numbers: the 48-bit linear congruential generator of drand48,
// so that a seed gives the same sequence as the C library's.
#pragma once

#include <cstdint>

struct qvRandom48 {
    uint16_t state[3];  // least significant word first
    uint16_t multiplier[3];
    uint16_t addend;
};

namespace qv {

// The generator as seeding leaves it: state (seed << 16) + 0x330E, multiplier 0x5DEECE66D,
// addend 0xB.
constexpr qvRandom48 SeededRandom48(uint32_t seed) {
    return {{0x330E, static_cast<uint16_t>(seed & 0xFFFF), static_cast<uint16_t>(seed >> 16)},
            {0xE66D, 0xDEEC, 0x0005},
            0x000B};
}

}  // namespace qv

void SeedRandom48(uint32_t seed);
// The next value in [0, 1).
double GetRandom48();

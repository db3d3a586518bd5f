// The fuzzer's bytes as the numbers of a graphics call: small ranges and, now and then, a
// real number that breaks arithmetic (0, tiny, huge, infinite, NaN).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace qv::fuzz {

class GfxInput {
public:
    GfxInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // As many bytes as the range needs; 0 once the input is used up.
    uint32_t Pick(uint32_t n) {
        uint32_t value = 0;
        for (uint32_t range = n - 1; range != 0 && at_ < size_; range >>= 8) {
            value = value << 8 | data_[at_++];
        }
        return value % n;
    }
    int32_t Between(int32_t lo, int32_t hi) { return lo + int32_t(Pick(uint32_t(hi - lo + 1))); }

    // Values around -scale..scale mostly, and one in four an odd one.
    double Real(double scale) {
        static constexpr double kOdd[] = {0,
                                          -0.0,
                                          1e-7,
                                          -1,
                                          1e6,
                                          1e300,
                                          -1e300,
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          std::numeric_limits<double>::quiet_NaN()};
        if (Pick(4) == 0) return kOdd[Pick(10)];
        return (int32_t(Pick(4001)) - 2000) / 2000.0 * scale;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace qv::fuzz

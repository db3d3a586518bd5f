// Files the command fuzzers hand their loaders: a small picture to load and cut short.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"

namespace qv::fuzz {

// A 5 x 3 24-bit BMP, bottom-up rows padded to four bytes.
inline std::vector<uint8_t> SmallBmp() {
    constexpr int kWidth = 5, kHeight = 3, kRow = (kWidth * 3 + 3) & ~3;
    std::vector<uint8_t> bytes(54 + size_t(kRow) * kHeight, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (8 * i));
    };
    bytes[0] = 'B', bytes[1] = 'M';
    put32(2, uint32_t(bytes.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, kWidth);
    put32(22, kHeight);
    bytes[26] = 1, bytes[28] = 24;
    put32(34, uint32_t(kRow) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = &bytes[54 + size_t(y) * kRow + size_t(x) * 3];
            p[0] = uint8_t(x * 50), p[1] = uint8_t(y * 90), p[2] = uint8_t(255 - x * 40);
        }
    }
    return bytes;
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr);
    Check(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    std::fclose(f);
}

}  // namespace qv::fuzz

// Generated 8-bit RGB test pictures, shared by the tests against outside tools and the
// benchmarks. Header-only and free of GoogleTest.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace qv::test {

struct RgbPicture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;  // width x height x 3 bytes

    uint32_t At(int32_t x, int32_t y) const {
        const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
};

// Test pictures of 8-bit RGB: smooth ramps, rings and noise.
inline RgbPicture TestPicture(int kind, int32_t width, int32_t height) {
    RgbPicture p{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    std::mt19937 random{uint32_t(kind)};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* out = &p.rgb[(size_t(y) * width + x) * 3];
            const double u = double(x) / width, v = double(y) / height;
            const double ring = 0.5 + 0.5 * std::sin(40 * std::hypot(u - 0.4, v - 0.6));
            switch (kind) {
                case 0:
                    out[0] = uint8_t(255 * u), out[1] = uint8_t(255 * v);
                    out[2] = uint8_t(255 * ring);
                    break;
                case 1:
                    out[0] = uint8_t(200 * ring + random() % 56);
                    out[1] = uint8_t(128 + 100 * std::sin(9 * u) * std::cos(7 * v));
                    out[2] = uint8_t(random() % 256 * u);
                    break;
                default:
                    out[0] = uint8_t(255 * std::pow(u, 2.2));
                    out[1] = uint8_t(ring > 0.8 ? 250 : 40 + 150 * v);
                    out[2] = uint8_t((x / 16 + y / 16) % 2 ? 220 : 30);
                    break;
            }
        }
    }
    return p;
}

}  // namespace qv::test

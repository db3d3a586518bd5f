// 8-bit RGB pictures as files for the tests against outside tools: binary PPM written and
// read, generated test pictures, a scratch directory per test and the command runner.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
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

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline bool WritePpm(const RgbPicture& p, const std::string& path) {
    std::ofstream file(path, std::ios::binary);
    file << "P6\n" << p.width << " " << p.height << "\n255\n";
    file.write(reinterpret_cast<const char*>(p.rgb.data()), std::streamsize(p.rgb.size()));
    return bool(file);
}

// A binary PPM with maxval 255; an empty picture when the file is not one.
inline RgbPicture ReadPpm(const std::string& path) {
    const std::vector<uint8_t> data = ReadBytes(path);
    RgbPicture p;
    size_t at = 2;
    int32_t fields[3] = {};
    if (data.size() < 2 || data[0] != 'P' || data[1] != '6') return {};
    for (int32_t& field : fields) {
        while (at < data.size() && std::isspace(data[at])) ++at;
        while (at < data.size() && std::isdigit(data[at])) field = field * 10 + (data[at++] - '0');
    }
    ++at;  // the one white-space byte before the pixels
    const size_t bytes = size_t(fields[0]) * fields[1] * 3;
    if (fields[2] != 255 || data.size() < at + bytes) return {};
    p.width = fields[0], p.height = fields[1];
    p.rgb.assign(data.begin() + ptrdiff_t(at), data.begin() + ptrdiff_t(at + bytes));
    return p;
}

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

// A fresh scratch directory named after the running test.
inline std::string ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) /
                                (std::string("qv_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

// Runs a shell command; true when it exits with 0.
inline bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// A file beside the test sources (tests/gfx/...).
inline std::string GfxTestFile(const std::string& relative) {
    return (std::filesystem::path(__FILE__).parent_path().parent_path() / relative).string();
}

}  // namespace qv::test

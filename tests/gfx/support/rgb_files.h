// 8-bit RGB pictures as files for the tests against outside tools: binary PPM written and
// read, a scratch directory per test and the command runner.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/gfx/support/test_pictures.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qv::test {

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

// A fresh scratch directory named after the running test and its process: the baseline
// copy of a test runs under the same name at the same time.
inline std::string ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) /
                                (std::string("qv_") + info->test_suite_name() + "_" + info->name() +
                                 "_" + std::to_string(getpid()));
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
    return (std::filesystem::path(QV_SOURCE_DIR) / "tests" / "gfx" / relative).string();
}

}  // namespace qv::test

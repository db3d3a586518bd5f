// HAM6 decoding against netpbm: ppmtoilbm encodes a picture as HAM6, ilbmtoppm decodes it;
// our decoder must turn the same bit planes into the same pixels.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/kernels/kernels.h"
#include "tests/gfx/support.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

uint32_t Big(const std::vector<uint8_t>& data, size_t at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | data.at(at + i);
    return value;
}

// An uncompressed ILBM turned into chunky bytes (pixel = its bits from every plane).
struct Ilbm {
    int width = 0, height = 0, planes = 0, compression = -1;
    std::vector<qvARGB> palette;
    std::vector<uint8_t> chunky;
};

Ilbm ParseIlbm(const std::vector<uint8_t>& data) {
    Ilbm ilbm;
    std::vector<uint8_t> body;
    for (size_t at = 12; at + 8 <= data.size();) {
        std::string id(data.begin() + at, data.begin() + at + 4);
        uint32_t size = Big(data, at + 4, 4);
        size_t start = at + 8;
        if (id == "BMHD") {
            ilbm.width = int(Big(data, start, 2)), ilbm.height = int(Big(data, start + 2, 2));
            ilbm.planes = data.at(start + 8), ilbm.compression = data.at(start + 10);
        } else if (id == "CMAP") {
            for (uint32_t i = 0; i + 3 <= size; i += 3)
                ilbm.palette.push_back(Big(data, start + i, 3));
        } else if (id == "BODY") {
            body.assign(data.begin() + start, data.begin() + start + size);
        }
        at = start + size + (size & 1);
    }
    const size_t rowBytes = size_t((ilbm.width + 15) / 16) * 2;
    ilbm.chunky.assign(size_t(ilbm.width) * ilbm.height, 0);
    for (int y = 0; y < ilbm.height; ++y) {
        for (int p = 0; p < ilbm.planes; ++p) {
            const size_t row = (size_t(y) * ilbm.planes + p) * rowBytes;
            for (int x = 0; x < ilbm.width; ++x) {
                if (body.at(row + x / 8) & (0x80 >> (x % 8))) {
                    ilbm.chunky[size_t(y) * ilbm.width + x] |= uint8_t(1 << p);
                }
            }
        }
    }
    return ilbm;
}

// A binary PPM with maxval 255 as 0x00RRGGBB pixels.
std::vector<qvARGB> ParsePpm(const std::vector<uint8_t>& data, int* width, int* height) {
    std::string text(data.begin(), data.end());
    std::istringstream header(text);
    std::string magic;
    int maxval;
    header >> magic >> *width >> *height >> maxval;
    EXPECT_EQ(magic, "P6");
    EXPECT_EQ(maxval, 255);
    size_t at = size_t(header.tellg()) + 1;
    std::vector<qvARGB> pixels;
    for (int i = 0; i < *width * *height; ++i, at += 3) pixels.push_back(Big(data, at, 3));
    return pixels;
}

TEST(HamOracle, HAM6MatchesNetpbm) {
    QV_REQUIRE_TOOL("ppmtoilbm");
    QV_REQUIRE_TOOL("ilbmtoppm");
    const int width = 53, height = 17;
    const std::string base = ::testing::TempDir() + "qv_ham6";
    {
        // Smooth runs (modify controls) broken by random colours (palette controls).
        std::ofstream ppm(base + ".ppm", std::ios::binary);
        ppm << "P6\n" << width << " " << height << "\n255\n";
        std::mt19937 random(6);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                bool noise = random() % 5 == 0;
                ppm.put(char(noise ? random() : x * 4));
                ppm.put(char(noise ? random() : y * 15));
                ppm.put(char(noise ? random() : (x + y) * 3));
            }
        }
    }
    ASSERT_EQ(std::system(("ppmtoilbm -ham6 -nocompress " + base + ".ppm > " + base +
                           ".ilbm 2>/dev/null && ilbmtoppm " + base + ".ilbm > " + base +
                           ".out.ppm 2>/dev/null")
                              .c_str()),
              0);
    const Ilbm ilbm = ParseIlbm(ReadFile(base + ".ilbm"));
    ASSERT_EQ(ilbm.compression, 0);
    ASSERT_EQ(ilbm.planes, 6);
    ASSERT_EQ(ilbm.width, width);
    int decodedWidth, decodedHeight;
    const std::vector<qvARGB> expected =
        ParsePpm(ReadFile(base + ".out.ppm"), &decodedWidth, &decodedHeight);
    ASSERT_EQ(decodedWidth, width);
    ASSERT_EQ(decodedHeight, height);

    std::vector<qvARGB> ours(size_t(width) * height);
    HAMToARGB(ilbm.chunky.data(), ours.data(), ilbm.palette.data(), int32_t(ilbm.palette.size()),
              width, height, width, 6);
    // netpbm widens a 4-bit channel v to v << 4 where we repeat the nibble (v x 17); the
    // top nibbles must agree everywhere.
    for (size_t i = 0; i < ours.size(); ++i) {
        ASSERT_EQ(ours[i], ((expected[i] >> 4) & 0x0F0F0F) * 17)
            << "pixel " << i % width << "," << i / width;
    }
    for (const char* suffix : {".ppm", ".ilbm", ".out.ppm"}) std::remove((base + suffix).c_str());
}

}  // namespace

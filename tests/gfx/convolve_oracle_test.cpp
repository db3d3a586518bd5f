// The convolutions against OpenCV: the test builds each kernel from the formulas (blur as two
// 1-D passes, emboss, edge and sharpen as n x n windows) and runs cv::filter2D in doubles with
// replicated edges through tests/gfx/scripts/filter2d_cv.py, truncating after each pass as
// the player does. Every depth and the alpha plane agree within one level (the sums run in
// another order); for 5- and 6-bit channels within one level before the narrowing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "gfx/spatial_filters.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/rgb_files.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::PlanePtr;
using qv::test::RgbPicture;

constexpr const char* kPython = "/usr/bin/python3";

// The blur kernel as written: 3n samples binned by three, then normalised.
std::vector<double> BlurKernel(int64_t n, double sigma) {
    std::vector<double> k(size_t(n), 0.0);
    const int64_t bias = 3 * n / 2;
    for (int64_t i = -bias; i <= bias; ++i) {
        k[size_t((i + bias) / 3)] += std::exp(-double(i * i) / (18 * sigma * sigma)) /
                                     (sigma * std::sqrt(2 * std::numbers::pi));
    }
    double sum = 0;
    for (double v : k) sum += v;
    for (double& v : k) v /= sum;
    return k;
}

// The n x n kernels of emboss (101), edge (103) and sharpen (115).
std::vector<double> WindowKernel(int32_t type, int32_t n, double sigma) {
    const int32_t j = n / 2;
    std::vector<double> k(size_t(n) * n);
    auto at = [&](int32_t u, int32_t v) -> double& { return k[size_t(v + j) * n + u + j]; };
    const double norm = 2 * std::numbers::pi * sigma * sigma;
    for (int32_t v = -j; v <= j; ++v) {
        for (int32_t u = -j; u <= j; ++u) {
            const double g = std::exp(-double(u * u + v * v) / (2 * sigma * sigma)) / norm;
            if (type == 103) at(u, v) = -1;
            if (type == 101) at(u, v) = u == -v ? (u < 0 || v < 0 ? -8 : 8) * g : 0;
            if (type == 115) at(u, v) = -g;
        }
    }
    double sum = 0;
    for (double v : k) sum += v;
    if (type == 103) at(0, 0) = double(n) * n - 1;
    if (type == 115) at(0, 0) = -2 * sum;
    sum = 0;
    for (double v : k) sum += v;
    if (std::fabs(sum) > 1e-10) {
        for (double& v : k) v *= 1 / sum;
    }
    return k;
}

void WriteKernel(const std::string& path, const std::vector<double>& k, int32_t columns) {
    std::ofstream file(path);
    char number[40];
    for (size_t i = 0; i < k.size(); ++i) {
        std::snprintf(number, sizeof number, "%.17g", k[i]);
        file << number << ((i + 1) % size_t(columns) == 0 ? "\n" : " ");
    }
}

struct Case {
    const char* name;
    int32_t type;
    double radius, sigma;
};

// The kernel files of a case, as the formulas give them.
std::string Kernels(const Case& c, const std::string& stem) {
    const double radius = c.radius > 0 ? c.radius : 0, sigma = radius == 0 ? 1 : c.sigma;
    if (c.type == 98) {
        const std::vector<double> k = BlurKernel(KernelWidth1D(radius, sigma), sigma);
        WriteKernel(stem + ".row", k, int32_t(k.size()));
        WriteKernel(stem + ".column", k, 1);
        return stem + ".row " + stem + ".column";
    }
    const auto n =
        int32_t(c.type == 103 ? KernelWidth1D(radius, 0.5) : KernelWidth2D(radius, sigma));
    WriteKernel(stem + ".window", WindowKernel(c.type, n, sigma), n);
    return stem + ".window";
}

// A channel of ours against the reference: within one level, or, for a narrow channel,
// equal to the narrowing of a value within one level.
bool Agrees(uint32_t format, int shift, uint32_t ours, uint32_t theirs) {
    for (const int delta : {-1, 0, 1}) {
        const int v = std::clamp(int(theirs >> shift & 255) + delta, 0, 255);
        const uint32_t stored = qv::test::AsStored(format, uint32_t(v) * 0x010101u);
        if ((ours >> shift & 255) == (stored >> shift & 255)) return true;
    }
    return false;
}

BitMapPtr ToBitMap(const RgbPicture& p, uint32_t format) {
    BitMapPtr b(qv::AllocBitMapInFormat(p.width, p.height, format, false));
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) PlotPixel(b.get(), x, y, p.At(x, y));
    }
    return b;
}

RgbPicture FromBitMap(const qvDisplayBitMap* b) {
    RgbPicture p{b->width, b->height, std::vector<uint8_t>(size_t(b->width) * b->height * 3)};
    for (int32_t y = 0; y < b->height; ++y) {
        for (int32_t x = 0; x < b->width; ++x) {
            const uint32_t v = ReadBitMapPixel(b, x, y);
            uint8_t* out = &p.rgb[(size_t(y) * b->width + x) * 3];
            out[0] = uint8_t(v >> 16), out[1] = uint8_t(v >> 8), out[2] = uint8_t(v);
        }
    }
    return p;
}

// One comparison: a case in a format, or on the alpha plane (format QV_FMT_COUNT), whose
// plane is the picture's green channel and whose reference input is a grey picture of it.
struct Job {
    Case c;
    uint32_t format;
    RgbPicture input;
    std::string out;
};

RgbPicture Ours(const Job& j) {
    if (j.format != QV_FMT_COUNT) {
        BitMapPtr b = ToBitMap(j.input, j.format);
        ConvolveBitmap(j.c.type, b.get(), nullptr, j.input.width, j.input.height, nullptr,
                       j.c.radius, j.c.sigma);
        return FromBitMap(b.get());
    }
    PlanePtr alpha(AllocAlphaBitMap(j.input.width, j.input.height, 1));
    for (int32_t y = 0; y < j.input.height; ++y) {
        for (int32_t x = 0; x < j.input.width; ++x) {
            alpha->plane[y * alpha->bytesPerRow + x] = uint8_t(j.input.At(x, y) >> 8);
        }
    }
    ConvolveBitmap(j.c.type, nullptr, alpha.get(), j.input.width, j.input.height, nullptr,
                   j.c.radius, j.c.sigma);
    RgbPicture p = j.input;
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            const uint8_t v = alpha->plane[y * alpha->bytesPerRow + x];
            std::fill_n(&p.rgb[(size_t(y) * p.width + x) * 3], 3, v);
        }
    }
    return p;
}

// Every case in every depth and on the alpha plane, the references in one run of OpenCV.
void Check(const std::vector<Case>& cases, const RgbPicture& picture) {
    const std::string dir = qv::test::ScratchDir();
    std::vector<Job> jobs;
    std::ofstream list(dir + "/jobs.txt");
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string kernels = Kernels(cases[i], dir + "/k" + std::to_string(i));
        for (const uint32_t format :
             {QV_FMT_R5G6B5, QV_FMT_B8G8R8, QV_FMT_A8R8G8B8, QV_FMT_COUNT}) {
            RgbPicture input = picture;
            if (format == QV_FMT_COUNT) {
                for (size_t p = 0; p < input.rgb.size(); p += 3) {
                    input.rgb[p] = input.rgb[p + 2] = input.rgb[p + 1];
                }
            } else {
                input = FromBitMap(ToBitMap(picture, format).get());  // as the format stores it
            }
            const std::string stem = dir + "/p" + std::to_string(jobs.size());
            qv::test::WritePpm(input, stem + ".in.ppm");
            list << stem << ".in.ppm " << stem << ".out.ppm " << kernels << "\n";
            jobs.push_back({cases[i], format, input, stem + ".out.ppm"});
        }
    }
    list.close();
    ASSERT_TRUE(qv::test::Run(std::string(kPython) + " " +
                              qv::test::GfxTestFile("scripts/filter2d_cv.py") + " " + dir +
                              "/jobs.txt"));
    for (const Job& j : jobs) {
        const RgbPicture expected = qv::test::ReadPpm(j.out), ours = Ours(j);
        ASSERT_EQ(expected.width, picture.width) << j.c.name << ": no reference";
        const uint32_t format = j.format == QV_FMT_COUNT ? QV_FMT_A8R8G8B8 : j.format;
        int wrong = 0;
        for (int32_t y = 0; y < picture.height; ++y) {
            for (int32_t x = 0; x < picture.width; ++x) {
                for (int shift = 0; shift < 24; shift += 8) {
                    wrong += !Agrees(format, shift, ours.At(x, y), expected.At(x, y));
                }
            }
        }
        EXPECT_EQ(wrong, 0) << j.c.name << (j.format == QV_FMT_COUNT ? " alpha" : " format ")
                            << (j.format == QV_FMT_COUNT ? "" : std::to_string(j.format));
    }
}

TEST(ConvolveOracle, BlurAgreesWithFilter2D) {
    QV_REQUIRE_TOOL(kPython);
    const Case cases[] = {
        {"sigma 0.5", 98, 1.5, 0.5},  {"sigma 1", 98, 3, 1},  {"sigma 2", 98, 6, 2},
        {"sigma 8", 98, 24, 8},       {"radius 0", 98, 0, 5}, {"radius 2 sigma 5", 98, 2, 5},
        {"radius 1.2", 98, 1.2, 0.4},
    };
    const RgbPicture picture = qv::test::TestPicture(1, 61, 43);
    Check({std::begin(cases), std::end(cases)}, picture);
    // Wider than one strip of the column pass.
    Check({{"sigma 2 wide", 98, 6, 2}, {"sigma 8 wide", 98, 24, 8}},
          qv::test::TestPicture(0, 600, 9));
}

TEST(ConvolveOracle, WindowFiltersAgreeWithFilter2D) {
    QV_REQUIRE_TOOL(kPython);
    const Case cases[] = {
        {"emboss", 101, 0, 1},
        {"emboss radius 2", 101, 2, 1},
        {"edge", 103, 0, 0},
        {"edge radius 2", 103, 2, 0},
        {"sharpen", 115, 0, 1},
        {"sharpen radius 2", 115, 2, 1.5},
        {"sharpen radius 1", 115, 1, 0.7},
    };
    for (const int kind : {1, 2}) {
        const RgbPicture picture = qv::test::TestPicture(kind, 37, 29);
        Check({std::begin(cases), std::end(cases)}, picture);
    }
}

// Radii beyond the picture: the folded kernel against the formula's full width.
TEST(ConvolveOracle, BlurRadiiBeyondThePictureAgreeWithTheFullKernel) {
    QV_REQUIRE_TOOL(kPython);
    const Case cases[] = {{"radius 20", 98, 20, 4},
                          {"radius 40 sigma 30", 98, 40, 30},
                          {"radius 60 sigma 2", 98, 60, 2}};
    const RgbPicture picture = qv::test::TestPicture(2, 9, 7);
    Check({std::begin(cases), std::end(cases)}, picture);
}

}  // namespace

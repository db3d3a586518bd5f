// Flood fill against PIL's ImageDraw.floodfill with a border colour and OpenCV's 4-connected
// cv::floodFill on the mask of non-border pixels, on random pictures that hold no pixel of
// the fill colour beforehand (where a boundary fill is the connected region of non-border
// pixels around the seed).
#include <gtest/gtest.h>

#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "gfx/kernels/filters.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/rgb_files.h"

namespace {

using qv::test::RgbPicture;

constexpr uint32_t kBorder = 0x202020, kFill = 0xFF0080;

struct Case {
    RgbPicture picture;
    int32_t x, y;
};

// Border pixels in a share of 20 to 60 %, other pixels in three colours; the seed is not a
// border pixel.
Case RandomCase(std::mt19937& random) {
    Case c;
    RgbPicture& p = c.picture;
    p.width = int32_t(8 + random() % 90), p.height = int32_t(8 + random() % 70);
    p.rgb.resize(size_t(p.width) * p.height * 3);
    const uint32_t share = 20 + random() % 41;
    const uint32_t colours[] = {kBorder, 0x406080, 0x80FF00, 0x0000FF};
    for (size_t i = 0; i < p.rgb.size(); i += 3) {
        const uint32_t rgb = colours[random() % 100 < share ? 0 : 1 + random() % 3];
        p.rgb[i] = uint8_t(rgb >> 16), p.rgb[i + 1] = uint8_t(rgb >> 8),
        p.rgb[i + 2] = uint8_t(rgb);
    }
    do {
        c.x = int32_t(random() % uint32_t(p.width)), c.y = int32_t(random() % uint32_t(p.height));
    } while (p.At(c.x, c.y) == kBorder);
    return c;
}

RgbPicture OurFill(const Case& c) {
    RgbPicture p = c.picture;
    const qvFloodFillContext context{p.rgb.data(), p.width, p.height, p.width,
                                     kBorder,      kFill,   0,        0};
    EXPECT_EQ(FloodFillPixels24(context, c.x, c.y), 0);
    return p;
}

TEST(FloodFillOracle, MatchesPil) {
    QV_REQUIRE_TOOL("/usr/bin/python3");
    const std::string dir = qv::test::ScratchDir();
    std::mt19937 random(11);
    std::vector<Case> cases;
    std::string specs;
    char colours[32];
    std::snprintf(colours, sizeof colours, "%06X:%06X", kFill, kBorder);
    for (int i = 0; i < 40; ++i) {
        cases.push_back(RandomCase(random));
        const std::string base = dir + "/" + std::to_string(i);
        ASSERT_TRUE(qv::test::WritePpm(cases.back().picture, base + ".ppm"));
        specs += " " + base + ".ppm:" + base + ".out.ppm:" + std::to_string(cases.back().x) + ":" +
                 std::to_string(cases.back().y) + ":" + colours;
    }
    ASSERT_TRUE(qv::test::Run("/usr/bin/python3 " +
                              qv::test::GfxTestFile("scripts/flood_fill_pil.py") + specs));
    for (size_t i = 0; i < cases.size(); ++i) {
        const RgbPicture theirs = qv::test::ReadPpm(dir + "/" + std::to_string(i) + ".out.ppm");
        EXPECT_EQ(OurFill(cases[i]).rgb, theirs.rgb) << "case " << i;
    }
    std::filesystem::remove_all(dir);
}

TEST(FloodFillOracle, MatchesOpenCv) {
    std::mt19937 random(12);
    for (int i = 0; i < 200; ++i) {
        const Case c = RandomCase(random);
        const RgbPicture& p = c.picture;
        cv::Mat open(p.height, p.width, CV_8UC1);
        for (int32_t y = 0; y < p.height; ++y) {
            for (int32_t x = 0; x < p.width; ++x) open.at<uint8_t>(y, x) = p.At(x, y) != kBorder;
        }
        cv::floodFill(open, cv::Point(c.x, c.y), cv::Scalar(2), nullptr, cv::Scalar(0),
                      cv::Scalar(0), 4);
        const RgbPicture ours = OurFill(c);
        for (int32_t y = 0; y < p.height; ++y) {
            for (int32_t x = 0; x < p.width; ++x) {
                const bool filled = open.at<uint8_t>(y, x) == 2;
                ASSERT_EQ(ours.At(x, y), filled ? kFill : p.At(x, y))
                    << "case " << i << " at " << x << "," << y;
            }
        }
    }
}

}  // namespace

// Colour filters against ImageMagick 6 and PIL on 8-bit RGB test pictures.
//
// Tolerances, fixed by a spike over these pictures and kept at the measured maxima:
// - ±1 level for negate, solarize, gamma, modulate and contrast: ImageMagick computes in
//   16-bit quanta and rounds to 8 bits where the filters truncate.
// - ±2 for normalize (run with ImageMagick's intensity set to Rec. 601 luma): its weights
//   (0.298839, 0.586811, 0.114350) can move a pixel across a histogram bin, and the stretch
//   multiplies a one-level difference.
// - ±3 for sepia and for normalize at ImageMagick's own points (0.15 % and 0.05 %): sepia is
//   three passes (tone, normalize, contrast) that each truncate to 8 bits where ImageMagick
//   keeps 16-bit quanta; at 0.15 % the black point sits in sparse bins that the weights move.
//   Sepia runs on pictures with black and white bands, so that its stretch (2 % and 1 % here,
//   ImageMagick's points there) finds the same range.
// - ±1 for grey against PIL's convert("L"), which rounds the Rec. 601 luma in integers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "gfx/colour_filters.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/rgb_files.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::RgbPicture;

constexpr const char* kConvert = "/usr/bin/convert-im6.q16";

BitMapPtr ToBitMap(const RgbPicture& p) {
    BitMapPtr b(qv::AllocBitMapInFormat(p.width, p.height, QV_FMT_R8G8B8, false));
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) PlotPixel(b.get(), x, y, p.At(x, y));
    }
    return b;
}

// The largest channel difference between the bitmap and the picture.
int MaxDifference(const qvDisplayBitMap* b, const RgbPicture& p) {
    int most = 0;
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            const uint32_t ours = ReadBitMapPixel(b, x, y), theirs = p.At(x, y);
            for (int shift = 0; shift < 24; shift += 8) {
                most =
                    std::max(most, std::abs(int(ours >> shift & 255) - int(theirs >> shift & 255)));
            }
        }
    }
    return most;
}

struct OracleCase {
    const char* name;
    const char* arguments;  // of convert
    std::function<int(qvDisplayBitMap*, int32_t, int32_t)> run;
    int tolerance;
    // Black rows at the top and white ones at the bottom (7.8 % each), so that the stretch
    // after the sepia pass finds the same points at ImageMagick's 0.15 % as at our 2 %.
    bool banded = false;
};

RgbPicture Banded(RgbPicture p) {
    for (int32_t y = 0; y < 5; ++y) {
        std::fill_n(p.rgb.begin() + ptrdiff_t(y) * p.width * 3, p.width * 3, 0);
        std::fill_n(p.rgb.end() - ptrdiff_t(y + 1) * p.width * 3, p.width * 3, 255);
    }
    return p;
}

TEST(ColourFiltersOracle, AgainstImageMagick) {
    QV_REQUIRE_TOOL(kConvert);
    const OracleCase cases[] = {
        {"negate", "-negate", [](auto b, auto w, auto h) { return InvertBitmap(b, w, h, nullptr); },
         0},
        // 100 x 257 + 128: above it lie exactly the 8-bit levels above 100.
        {"solarize", "-solarize 25828",
         [](auto b, auto w, auto h) { return SolarizeBitmap(b, w, h, 100); }, 0},
        {"gamma", "-gamma 0.5,1.0,2.2",
         [](auto b, auto w, auto h) { return GammaBitmap(b, w, h, 0.5, 1.0, 2.2); }, 1},
        {"modulate", "-modulate 120,60,140",
         [](auto b, auto w, auto h) { return ModulateBitmap(b, w, h, 1.2, 0.6, 1.4); }, 1},
        {"modulate hue", "-modulate 100,100,30",
         [](auto b, auto w, auto h) { return ModulateBitmap(b, w, h, 1, 1, 0.3); }, 1},
        {"contrast", "-contrast",
         [](auto b, auto w, auto h) { return ContrastBitmap(b, w, h, 1, 1, nullptr); }, 1},
        {"contrast down", "+contrast",
         [](auto b, auto w, auto h) { return ContrastBitmap(b, w, h, 0, 1, nullptr); }, 1},
        {"sepia", "-intensity Rec601Luma -sepia-tone 80%",
         [](auto b, auto w, auto h) { return SepiaBitmap(b, w, h, 204); }, 3, true},
        {"normalize", "-intensity Rec601Luma -contrast-stretch 2%x1%",
         [](auto b, auto w, auto h) { return NormalizeBitmap(b, w, h, nullptr); }, 2},
        {"normalize ImageMagick's points", "-intensity Rec601Luma -normalize",
         [](auto b, auto w, auto h) {
             const double n = double(w) * h;
             return NormalizeBitmapEx(b, w, h, int64_t(0.0015 * n), int64_t(0.9995 * n), nullptr);
         },
         3},
    };
    const std::string dir = qv::test::ScratchDir();
    for (int kind = 0; kind < 3; ++kind) {
        for (const OracleCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " on picture " + std::to_string(kind));
            const RgbPicture plain = qv::test::TestPicture(kind, 96, 64);
            const RgbPicture picture = c.banded ? Banded(plain) : plain;
            const std::string input = dir + "/in.ppm";
            ASSERT_TRUE(qv::test::WritePpm(picture, input));
            const std::string output = dir + "/out.ppm";
            ASSERT_TRUE(qv::test::Run(std::string(kConvert) + " " + input + " " + c.arguments +
                                      " -depth 8 " + output));
            const RgbPicture theirs = qv::test::ReadPpm(output);
            ASSERT_EQ(theirs.width, picture.width);
            BitMapPtr ours = ToBitMap(picture);
            ASSERT_EQ(c.run(ours.get(), picture.width, picture.height), 0);
            const int difference = MaxDifference(ours.get(), theirs);
            RecordProperty(std::string(c.name) + std::to_string(kind), difference);
            EXPECT_LE(difference, c.tolerance);
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(ColourFiltersOracle, GreyAgainstPil) {
    QV_REQUIRE_TOOL("/usr/bin/python3");
    const std::string dir = qv::test::ScratchDir();
    for (int kind = 0; kind < 3; ++kind) {
        const RgbPicture picture = qv::test::TestPicture(kind, 96, 64);
        ASSERT_TRUE(qv::test::WritePpm(picture, dir + "/in.ppm"));
        ASSERT_TRUE(
            qv::test::Run("/usr/bin/python3 -c \"from PIL import Image; "
                          "Image.open('" +
                          dir +
                          "/in.ppm').convert('L').convert('RGB')"
                          ".save('" +
                          dir + "/out.ppm')\""));
        BitMapPtr ours = ToBitMap(picture);
        ASSERT_EQ(GrayBitmap(ours.get(), picture.width, picture.height, 0, nullptr), 0);
        EXPECT_LE(MaxDifference(ours.get(), qv::test::ReadPpm(dir + "/out.ppm")), 1) << kind;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace

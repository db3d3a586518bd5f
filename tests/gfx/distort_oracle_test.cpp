// The distortion engine against ImageMagick 6 (convert-im6.q16 with transparent virtual
// pixels): point sampling against "-filter point +distort" (Barrel with "-distort", which
// keeps the size), the output offset read from the result's page geometry. At least 99 % of
// the interior pixels (those whose 3 x 3 neighbourhood is all opaque or all transparent in
// ImageMagick's result) agree exactly; the rest sit on sampling boundaries that the two
// compute in different floating-point order. The elliptical weighted average is compared
// with "-filter Gaussian" as a regression smoke: PSNR of at least 30 dB.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/distort.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/rgb_files.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::RgbPicture;

constexpr const char* kConvert = "/usr/bin/convert-im6.q16";

// An RGBA picture placed at an output offset.
struct Placed {
    int32_t width = 0, height = 0, x = 0, y = 0;
    std::vector<uint8_t> rgba;
    // Colour and alpha at output coordinate (u, v); transparent outside.
    uint32_t At(int32_t u, int32_t v) const {
        u -= x, v -= y;
        if (u < 0 || v < 0 || u >= width || v >= height) return 0;
        const uint8_t* p = &rgba[(size_t(v) * width + u) * 4];
        return uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
};

// A P7 RGB_ALPHA file and the page offset ImageMagick printed beside it.
Placed ReadResult(const std::string& pam, const std::string& geometry) {
    Placed r;
    std::ifstream g(geometry);
    g >> r.width >> r.height >> r.x >> r.y;
    const std::vector<uint8_t> data = qv::test::ReadBytes(pam);
    const std::string text(data.begin(), data.end());
    const size_t end = text.find("ENDHDR\n");
    if (end == std::string::npos || text.find("DEPTH 4") == std::string::npos) return {};
    const size_t bytes = size_t(r.width) * r.height * 4;
    if (data.size() < end + 7 + bytes) return {};
    r.rgba.assign(data.begin() + ptrdiff_t(end + 7), data.begin() + ptrdiff_t(end + 7 + bytes));
    return r;
}

Placed Theirs(const std::string& dir, const std::string& options) {
    const std::string command = std::string(kConvert) + " " + dir +
                                "/in.ppm -alpha set -virtual-pixel transparent " + options +
                                " -write " + dir + "/out.pam -format '%w %h %X %Y' info: > " + dir +
                                "/geometry.txt";
    if (!qv::test::Run(command)) return {};
    return ReadResult(dir + "/out.pam", dir + "/geometry.txt");
}

Placed Ours(const RgbPicture& picture, int32_t method, const std::vector<double>& args,
            int smooth) {
    BitMapPtr source(
        qv::AllocBitMapInFormat(picture.width, picture.height, QV_FMT_A8R8G8B8, false));
    for (int32_t y = 0; y < picture.height; ++y) {
        for (int32_t x = 0; x < picture.width; ++x) PlotPixel(source.get(), x, y, picture.At(x, y));
    }
    qvDistortRequest r{};
    r.method = method, r.argumentCount = int32_t(args.size()), r.arguments = args.data();
    r.sourceWidth = picture.width, r.sourceHeight = picture.height;
    if (GenerateDistortCoefficients(&r) != 0) return {};
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    Placed p;
    if (DistortBitmap(source.get(), nullptr, nullptr, picture.width, picture.height, method,
                      int32_t(args.size()), args.data(), smooth, &bitmap, &mask, &alpha, &p.width,
                      &p.height) != 0) {
        return {};
    }
    p.x = int32_t(r.outX), p.y = int32_t(r.outY);
    p.rgba.resize(size_t(p.width) * p.height * 4);
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            const uint32_t rgb = ReadBitMapPixel(bitmap, x, y);
            uint8_t* out = &p.rgba[(size_t(y) * p.width + x) * 4];
            out[0] = uint8_t(rgb >> 16), out[1] = uint8_t(rgb >> 8), out[2] = uint8_t(rgb);
            out[3] = mask != nullptr ? uint8_t(ReadBitMapPixel(mask, x, y) * 255)
                                     : alpha->plane[y * alpha->bytesPerRow + x];
        }
    }
    FreeDisplayBitMap(bitmap);
    FreePlaneBitMap(mask);
    FreePlaneBitMap(alpha);
    return p;
}

std::string Joined(const std::vector<double>& args) {
    std::ostringstream s;
    for (size_t i = 0; i < args.size(); ++i) s << (i ? "," : "") << args[i];
    return s.str();
}

struct Case {
    const char* name;
    int32_t method;
    std::vector<double> args;
};

const char* MethodName(int32_t method) {
    switch (method) {
        case QV_DISTORT_PERSPECTIVE:
            return "Perspective";
        case QV_DISTORT_ARC:
            return "Arc";
        case QV_DISTORT_POLAR:
            return "Polar";
        default:
            return "Barrel";
    }
}

std::vector<Case> Cases() {
    return {
        {"gentle perspective", 4, {0, 0, 3, 2, 48, 0, 44, 5, 48, 36, 40, 33, 0, 36, 2, 30}},
        {"steep perspective", 4, {0, 0, 10, 10, 48, 0, 38, 4, 48, 36, 46, 36, 0, 36, 0, 30}},
        {"shifted perspective",
         4,
         {0, 0, 0.3, 0.2, 48, 0, 48.3, 0.2, 48, 36, 48.3, 36.2, 0, 36, 0.3, 36.2}},
        {"arc 60", 9, {60}},
        {"arc 120 rotated", 9, {120, 30}},
        {"arc with a top radius", 9, {90, 0, 40}},
        {"arc with both radii", 9, {200, 10, 50, 20}},
        {"polar radius", 10, {20}},
        {"polar with inner radius", 10, {20, 5}},
        {"polar to the corners", 10, {-1}},
        {"polar half", 10, {25, 5, 24, 18, 0, 180}},
        {"barrel", 12, {0.1, 0, 0, 0.9}},
        {"barrel centred", 12, {0, 0.2, 0, 0.8, 20, 15}},
        {"barrel per axis", 12, {0.05, 0, 0, 0.95, 0, 0.1, 0, 0.9}},
    };
}

// ImageMagick's arguments for a case on a w x h picture: a barrel without a centre gets ours,
// ((w - 1) / 2, (h - 1) / 2), since ImageMagick's own default is the middle (w / 2, h / 2).
std::string Options(const Case& c, const char* filter, int32_t w, int32_t h) {
    std::vector<double> args = c.args;
    const bool barrel = c.method == QV_DISTORT_BARREL;
    if (barrel && (args.size() == 4 || args.size() == 8)) {
        args.push_back((w - 1) / 2.0);
        args.push_back((h - 1) / 2.0);
    }
    const std::string distort = barrel ? " -distort " : " +distort ";
    return std::string("-filter ") + filter + distort + MethodName(c.method) + " '" + Joined(args) +
           "'";
}

// Whether ImageMagick's pixel and its eight neighbours are all opaque or all transparent.
bool Interior(const Placed& theirs, int32_t u, int32_t v) {
    const bool opaque = theirs.At(u, v) >> 24 >= 128;
    for (int32_t dy = -1; dy <= 1; ++dy) {
        for (int32_t dx = -1; dx <= 1; ++dx) {
            if ((theirs.At(u + dx, v + dy) >> 24 >= 128) != opaque) return false;
        }
    }
    return true;
}

TEST(DistortOracle, PointSamplingAgreesWithImageMagick) {
    QV_REQUIRE_TOOL(kConvert);
    const RgbPicture picture = qv::test::TestPicture(1, 48, 36);
    const std::string dir = qv::test::ScratchDir();
    ASSERT_TRUE(qv::test::WritePpm(picture, dir + "/in.ppm"));
    for (const Case& c : Cases()) {
        const Placed theirs = Theirs(dir, Options(c, "point -interpolate Integer", picture.width,
                                                  picture.height)),
                     ours = Ours(picture, c.method, c.args, 0);
        ASSERT_GT(theirs.width, 0) << c.name << ": ImageMagick failed";
        ASSERT_GT(ours.width, 0) << c.name << ": we failed";
        EXPECT_EQ(ours.width, theirs.width) << c.name;
        EXPECT_EQ(ours.height, theirs.height) << c.name;
        EXPECT_EQ(ours.x, theirs.x) << c.name;
        EXPECT_EQ(ours.y, theirs.y) << c.name;
        int64_t interior = 0, equal = 0;
        for (int32_t v = theirs.y; v < theirs.y + theirs.height; ++v) {
            for (int32_t u = theirs.x; u < theirs.x + theirs.width; ++u) {
                if (!Interior(theirs, u, v)) continue;
                ++interior;
                const uint32_t a = ours.At(u, v), b = theirs.At(u, v);
                const bool visible = b >> 24 >= 128;
                equal +=
                    (a >> 24 >= 128) == visible && (!visible || (a & 0xFFFFFF) == (b & 0xFFFFFF));
            }
        }
        ASSERT_GT(interior, 0) << c.name;
        EXPECT_GE(double(equal) / double(interior), 0.99)
            << c.name << ": " << equal << " of " << interior;
    }
}

// Colour and alpha over the union of both results. Our average counts transparent
// neighbours as black, so its colour is already weighted by coverage; ImageMagick's is
// weighted here.
double Psnr(const Placed& ours, const Placed& theirs) {
    double error = 0;
    int64_t count = 0;
    const int32_t left = std::min(ours.x, theirs.x), top = std::min(ours.y, theirs.y);
    const int32_t right = std::max(ours.x + ours.width, theirs.x + theirs.width);
    const int32_t bottom = std::max(ours.y + ours.height, theirs.y + theirs.height);
    for (int32_t v = top; v < bottom; ++v) {
        for (int32_t u = left; u < right; ++u) {
            const uint32_t a = ours.At(u, v), b = theirs.At(u, v);
            const double coverage = (b >> 24) / 255.0;
            for (int shift = 0; shift < 24; shift += 8) {
                const double d = double(a >> shift & 255) - coverage * (b >> shift & 255);
                error += d * d;
            }
            const double d = double(a >> 24) - double(b >> 24);
            error += d * d;
            count += 4;
        }
    }
    return 10 * std::log10(255.0 * 255.0 / (error / double(count) + 1e-12));
}

TEST(DistortOracle, EllipticalAverageStaysCloseToImageMagick) {
    QV_REQUIRE_TOOL(kConvert);
    const RgbPicture picture = qv::test::TestPicture(0, 48, 36);
    const std::string dir = qv::test::ScratchDir();
    ASSERT_TRUE(qv::test::WritePpm(picture, dir + "/in.ppm"));
    for (const Case& c : Cases()) {
        const Placed theirs = Theirs(dir, Options(c, "Gaussian", picture.width, picture.height)),
                     ours = Ours(picture, c.method, c.args, 1);
        ASSERT_GT(theirs.width, 0) << c.name << ": ImageMagick failed";
        ASSERT_GT(ours.width, 0) << c.name << ": we failed";
        EXPECT_GE(Psnr(ours, theirs), 30) << c.name;
    }
}

}  // namespace

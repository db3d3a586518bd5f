// Brushes against outside references: DisplayBrush against pixman's OVER through a1 and a8
// masks, ScaleBrush and RotateBrush against OpenCV, FloodFill against OpenCV's floodFill, the
// pixel tables against pixman's conversions in all 14 formats, pictures saved and loaded
// against PIL, and the quality of saved JPEG files against ImageMagick.
#include <pixman.h>

#include <cstdio>
#include <cstring>

#include <memory>
#include <opencv2/imgproc.hpp>
#include <random>
#include <sstream>

#include "gfx/gfx_cache.h"
#include "gfx/library/object_types.h"
#include "platform/linux/testing.h"
#include "runtime/attributes.h"
#include "tests/gfx/support/cv_images.h"
#include "tests/objects/support/brush_display_fixture.h"

namespace qv::testing {
namespace {

struct ImageFree {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, ImageFree>;

// An a8r8g8b8 copy of a bitmap's pixels as read back.
std::vector<uint32_t> Argb(const qvDisplayBitMap* bitmap, int32_t width, int32_t height) {
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            out.push_back(0xFF000000u | ReadBitMapPixel(bitmap, x, y));
        }
    }
    return out;
}

PixmanImage Wrap(pixman_format_code_t format, int32_t width, int32_t height, uint32_t* data,
                 int stride) {
    return PixmanImage(pixman_image_create_bits(format, width, height, data, stride));
}

class BrushOracle : public BrushDisplayFixture {
protected:
    // Display of 40 x 30 showing random colours, and a random 16 x 12 brush with a random
    // mask or alpha plane; the brush is displayed at (x, y) and the window compared with
    // pixman's composite of the same pictures. Returns the largest channel difference.
    int CompareWithPixman(bool alpha, int32_t x, int32_t y) {
        constexpr int32_t kW = 40, kH = 30, kBW = 16, kBH = 12;
        std::mt19937 random(uint32_t(x * 31 + y + (alpha ? 7 : 0)));
        if (display == nullptr) Open(kW, kH);
        qvBrush* background = Plain(9, kW, kH, 0);
        for (int32_t py = 0; py < kH; ++py) {
            for (int32_t px = 0; px < kW; ++px) {
                PlotPixel(background->bitmap, px, py, random() & 0xFFFFFF);
            }
        }
        EXPECT_EQ(Call("DisplayBrush", {Num(9), Num(0), Num(0)}).code, 0);
        std::vector<uint32_t> pixels, planeValues;
        std::vector<uint8_t> bits, bytes;
        for (int i = 0; i < kBW * kBH; ++i) {
            pixels.push_back(random() & 0xFFFFFF);
            const uint8_t a = uint8_t(random());
            bits.push_back(a & 1);
            bytes.push_back(a);
        }
        MakeBrush(1, kBW, kBH, pixels, alpha ? std::vector<uint8_t>{} : bits,
                  alpha ? bytes : std::vector<uint8_t>{});
        std::vector<uint32_t> dest = Argb(display->window->framebuffer, kW, kH);
        EXPECT_EQ(Call("DisplayBrush", {Num(1), Num(x), Num(y)}).code, 0);
        // pixman: the brush (as stored) OVER the old window through the plane.
        qvBrush* b = nullptr;
        EXPECT_EQ(GetBrush(L, {1, nullptr}, &b, 0), 0);
        std::vector<uint32_t> source = Argb(b->bitmap, kBW, kBH);
        std::vector<uint32_t> maskData(size_t(kBW) * kBH, 0);
        const int maskStride = alpha ? ((kBW + 3) & ~3) : 4 * ((kBW + 31) / 32);
        auto* maskBytes = reinterpret_cast<uint8_t*>(maskData.data());
        for (int32_t py = 0; py < kBH; ++py) {
            for (int32_t px = 0; px < kBW; ++px) {
                const size_t i = size_t(py) * kBW + px;
                if (alpha) {
                    maskBytes[py * maskStride + px] = bytes[i];
                } else if (bits[i] != 0) {
                    // a1 on a little-endian host: bit 0 of each 32-bit word is its first pixel.
                    maskData[size_t(py) * (maskStride / 4) + px / 32] |= 1u << (px % 32);
                }
            }
        }
        PixmanImage src = Wrap(PIXMAN_a8r8g8b8, kBW, kBH, source.data(), kBW * 4);
        PixmanImage mask =
            Wrap(alpha ? PIXMAN_a8 : PIXMAN_a1, kBW, kBH, maskData.data(), maskStride);
        PixmanImage dst = Wrap(PIXMAN_x8r8g8b8, kW, kH, dest.data(), kW * 4);
        pixman_image_composite32(PIXMAN_OP_OVER, src.get(), mask.get(), dst.get(), 0, 0, 0, 0, x, y,
                                 kBW, kBH);
        int worst = 0;
        for (int32_t py = 0; py < kH; ++py) {
            for (int32_t px = 0; px < kW; ++px) {
                const uint32_t ours = At(px, py), theirs = dest[size_t(py) * kW + px];
                for (int shift : {16, 8, 0}) {
                    worst = std::max(
                        worst, std::abs(int(ours >> shift & 255) - int(theirs >> shift & 255)));
                }
            }
        }
        return worst;
    }
};

TEST_F(BrushOracle, MaskedBrushIsPixmanOverAnA1Mask) {
    const std::pair<int32_t, int32_t> places[] = {{5, 4}, {-3, -2}, {30, 25}};
    for (const auto& [x, y] : places) {
        EXPECT_EQ(CompareWithPixman(false, x, y), 0) << x << "," << y;
    }
}

// The blend shifts by 8 where pixman divides by 255 and rounds: partial alphas differ by up to
// two levels, as the graphics engine's own blend oracle finds.
TEST_F(BrushOracle, AlphaBrushIsPixmanOverAnA8MaskWithinTwo) {
    const std::pair<int32_t, int32_t> places[] = {{5, 4}, {-3, -2}, {30, 25}};
    for (const auto& [x, y] : places) {
        EXPECT_LE(CompareWithPixman(true, x, y), 2) << x << "," << y;
    }
}

class BrushGeometryOracle : public BrushDisplayFixture {
protected:
    // Runs a Python script with PIL (the system's Python, which has it) on the input text.
    ToolRun RunPil(const std::string& script, const std::string& input) {
        const std::string path = TempDir() + "/pil.py";
        if (FILE* f = std::fopen(path.c_str(), "w")) {
            std::fputs(script.c_str(), f);
            std::fclose(f);
        }
        return RunTool("echo '" + input + "' | /usr/bin/python3 '" + path + "'");
    }

    // A brush of random colours, as an OpenCV image.
    cv::Mat RandomBrush(uint32_t id, int32_t width, int32_t height) {
        std::mt19937 random(id);
        std::vector<uint32_t> pixels;
        for (int i = 0; i < width * height; ++i) pixels.push_back(random() & 0xFFFFFF);
        return test::Channels(MakeBrush(id, width, height, pixels)->bitmap);
    }
};

TEST_F(BrushGeometryOracle, ScaleAndRotateAgreeWithOpenCV) {
    const cv::Mat source = RandomBrush(1, 12, 7);
    ASSERT_EQ(Call("ScaleBrush", {Num(1), Num(48), Num(14)}).code, 0);
    cv::Mat scaled;
    cv::resize(source, scaled, cv::Size(48, 14), 0, 0, cv::INTER_NEAREST);
    qvBrush* b = nullptr;
    ASSERT_EQ(GetBrush(L, {1, nullptr}, &b, 0), 0);
    EXPECT_EQ(cv::norm(test::Channels(b->bitmap), scaled, cv::NORM_INF), 0);
    const cv::Mat second = RandomBrush(2, 9, 5);
    for (const auto& [angle, code] :
         {std::pair{90, cv::ROTATE_90_COUNTERCLOCKWISE}, std::pair{180, cv::ROTATE_180},
          std::pair{270, cv::ROTATE_90_CLOCKWISE}}) {
        ASSERT_EQ(Call("CopyBrush", {Num(2), Num(3)}).code, 0);
        ASSERT_EQ(Call("RotateBrush", {Num(3), Num(angle)}).code, 0);
        ASSERT_EQ(GetBrush(L, {3, nullptr}, &b, 0), 0);
        cv::Mat turned;
        cv::rotate(second, turned, code);
        EXPECT_EQ(cv::norm(test::Channels(b->bitmap), turned, cv::NORM_INF), 0) << angle;
    }
}

TEST_F(BrushGeometryOracle, FloodFillIsOpenCVsFourConnectedFill) {
    constexpr int32_t kW = 61, kH = 47;
    constexpr uint32_t kBorder = 0x0000F8, kInside = 0xF80000, kFill = 0x00FC00;
    std::mt19937 random(5);
    std::vector<uint32_t> pixels;
    for (int i = 0; i < kW * kH; ++i) pixels.push_back(random() % 3 == 0 ? kBorder : kInside);
    pixels[size_t(20) * kW + 30] = kInside;
    qvBrush* b = MakeBrush(1, kW, kH, pixels);
    cv::Mat image = test::Channels(b->bitmap);
    ASSERT_EQ(Call("FloodFill", {Num(1), Num(30), Num(20), Num(kFill), Num(kBorder)}).code, 0);
    const uint32_t fill = Stored(kFill);
    cv::floodFill(image, cv::Point(30, 20),
                  cv::Scalar(fill >> 16 & 255, fill >> 8 & 255, fill & 255), nullptr,
                  cv::Scalar(0, 0, 0), cv::Scalar(0, 0, 0), 4);
    EXPECT_EQ(cv::norm(test::Channels(b->bitmap), image, cv::NORM_INF), 0);
}

// The pixman twin of each format; the byte-swapped 16-bit codes are their twin's swapped.
struct Twin {
    uint32_t code;
    pixman_format_code_t pixman;
    bool swapped;
};
constexpr Twin kTwins[] = {
    {0, PIXMAN_x1r5g5b5, false},  {1, PIXMAN_x1b5g5r5, false},  {2, PIXMAN_x1r5g5b5, true},
    {3, PIXMAN_x1b5g5r5, true},   {4, PIXMAN_r5g6b5, false},    {5, PIXMAN_b5g6r5, false},
    {6, PIXMAN_r5g6b5, true},     {7, PIXMAN_b5g6r5, true},     {8, PIXMAN_b8g8r8, false},
    {9, PIXMAN_r8g8b8, false},    {10, PIXMAN_x8r8g8b8, false}, {11, PIXMAN_b8g8r8x8, false},
    {12, PIXMAN_r8g8b8x8, false}, {13, PIXMAN_x8b8g8r8, false}};

TEST_F(BrushGeometryOracle, PixelTablesRoundTripInEveryFormatAsPixmanConvertsThem) {
    std::mt19937 random(9);
    std::vector<uint32_t> argb;
    std::vector<Arg> table;
    for (int i = 0; i < 64; ++i) {
        argb.push_back(random());
        table.push_back(Num(argb.back()));
    }
    for (const Twin& twin : kTwins) {
        SCOPED_TRACE(twin.code);
        platform::testing::ScopedScreenFormat format(twin.code);
        ASSERT_EQ(Call("RGBArrayToBrush", {Num(1), List(table), Num(16), Num(4), Num(30)}).code, 0);
        qvBrush* b = nullptr;
        ASSERT_EQ(GetBrush(L, {1, nullptr}, &b, 0), 0);
        ASSERT_EQ(b->bitmap->format, twin.code);
        // pixman's conversion of the same colours, byte for byte.
        const int bytes = b->bitmap->bytesPerPixel;
        std::vector<uint32_t> theirs(size_t(16) * 4 * 4 / 4 + 16, 0);
        std::vector<uint32_t> source(argb);
        PixmanImage src = Wrap(PIXMAN_a8r8g8b8, 16, 4, source.data(), 64);
        PixmanImage dst = Wrap(twin.pixman, 16, 4, theirs.data(), 16 * 4);
        pixman_image_composite32(PIXMAN_OP_SRC, src.get(), nullptr, dst.get(), 0, 0, 0, 0, 0, 0, 16,
                                 4);
        const CallResult back = Call("BrushToRGBArray", {Num(1)});
        ASSERT_EQ(back.code, 0);
        for (int i = 0; i < 64; ++i) {
            const uint8_t* ours = b->bitmap->pixels +
                                  size_t(i / 16) * b->bitmap->rowLength * bytes +
                                  size_t(i % 16) * bytes;
            const uint8_t* peer = reinterpret_cast<const uint8_t*>(theirs.data()) +
                                  size_t(i / 16) * 64 + size_t(i % 16) * bytes;
            uint32_t a = 0, p = 0;
            std::memcpy(&a, ours, bytes), std::memcpy(&p, peer, bytes);
            if (twin.swapped) p = Swap16(p);
            // The x bits of pixman's formats and the alpha byte ours leaves 0 are no colour.
            const uint32_t colour = bytes == 4   ? ARGBToPixel32(twin.code, 0x00FFFFFF)
                                    : bytes == 2 ? RGB565ToPixel16(twin.code, 0xFFFF) & 0x7FFF
                                                 : 0xFFFFFF;
            const uint32_t keep = bytes == 2 && (twin.code & 4) != 0 ? 0xFFFF : colour;
            EXPECT_EQ(a & keep, p & keep) << i;
            // Read back: narrow channels shifted up with low bits 0; A from the alpha plane.
            uint8_t rgb[3];
            ReadPixelRGB(ours, twin.code, rgb);
            const uint32_t expected =
                (argb[i] & 0xFF000000u) | uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
            EXPECT_EQ(uint32_t(back.results[0].At(i)->number), expected) << i;
        }
    }
}

TEST_F(BrushGeometryOracle, SavedPngReadsBackInPil) {
    QV_REQUIRE_TOOL("/usr/bin/python3");
    MakeBrush(1, 5, 3,
              {0xF80000, 0x00FC00, 0x0000F8, 0x808080, 0x102030, 0x405060, 0x708090, 0xA0B0C0,
               0xD0E0F0, 0xFFFFFF, 0, 0x123456, 0x654321, 0xABCDEF, 0xFEDCBA},
              {}, {0, 1, 2, 64, 128, 200, 254, 255, 3, 4, 5, 6, 7, 8, 9});
    const std::string file = TempDir() + "/saved.png";
    // Hidden pixels (alpha 0) keep their colour with the colour argument OR-ed in.
    ASSERT_EQ(Call("SaveBrush", {Num(1), Str(file), Num(0x123456), Num(1)}).code, 0);
    const ToolRun py = RunPil(R"(
import sys
from PIL import Image
im = Image.open(sys.stdin.read().strip()).convert("RGBA")
print(" ".join("%02x%02x%02x%02x" % (a, r, g, b) for (r, g, b, a) in im.getdata()))
)",
                              file);
    ASSERT_EQ(py.status, 0);
    std::ostringstream expected;
    qvBrush* b = nullptr;
    ASSERT_EQ(GetBrush(L, {1, nullptr}, &b, 0), 0);
    for (int i = 0; i < 15; ++i) {
        const uint32_t a = b->alpha->plane[size_t(i / 5) * b->alpha->bytesPerRow + i % 5];
        const uint32_t rgb = ReadBitMapPixel(b->bitmap, i % 5, i / 5) | (a == 0 ? 0x123456 : 0);
        char word[9];
        std::snprintf(word, sizeof word, "%08x", (a << 24) | rgb);
        expected << (i ? " " : "") << word;
    }
    EXPECT_EQ(py.output, expected.str() + "\n");
}

// The JPEG quality that ImageMagick estimates from the saved tables: a Nil options argument is
// no argument (90), as the quality alone or in a table is that quality.
TEST_F(BrushGeometryOracle, SavedJpegKeepsTheQualityOfItsOptions) {
    QV_REQUIRE_TOOL("/usr/bin/identify-im6.q16");
    std::vector<uint32_t> pixels;
    for (uint32_t i = 0; i < 16 * 16; ++i) pixels.push_back(i * 0x010305);
    MakeBrush(1, 16, 16, pixels);
    const std::string file = TempDir() + "/q.jpg";
    const struct {
        const char* what;
        std::vector<Arg> options;
        const char* quality;
    } cases[] = {{"left out", {}, "90"},
                 {"Nil", {Nil()}, "90"},
                 {"a number", {Num(55)}, "55"},
                 {"a table", {Table({{Str("quality"), Num(70)}})}, "70"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Arg> args = {Num(1), Str(file), Num(0), Num(2)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(Call("SaveBrush", args).code, 0);
        const ToolRun run = RunTool("/usr/bin/identify-im6.q16 -format %Q '" + file + "'");
        ASSERT_EQ(run.status, 0);
        EXPECT_EQ(run.output, c.quality);
    }
}

TEST_F(BrushGeometryOracle, LoadBrushHonoursItsOptionsOnPilPictures) {
    QV_REQUIRE_TOOL("/usr/bin/python3");
    const std::string file = TempDir() + "/made.png";
    const ToolRun made = RunPil(R"(
import sys
from PIL import Image
im = Image.new("RGBA", (6, 4))
im.putdata([((x * 40) % 256, (y * 60) % 256, 0x80, (x * 50 + y * 10) % 256)
            for y in range(4) for x in range(6)])
im.putpixel((2, 1), (255, 0, 255, 255))
im.save(sys.stdin.read().strip())
)",
                                file);
    ASSERT_EQ(made.status, 0);
    auto alphaOf = [](int x, int y) { return (x * 50 + y * 10) % 256; };
    ASSERT_EQ(Call("LoadBrush", {Num(1), Str(file), Table({{Str("loadalpha"), Num(1)}})}).code, 0);
    qvBrush* b = nullptr;
    ASSERT_EQ(GetBrush(L, {1, nullptr}, &b, 0), 0);
    ASSERT_NE(b->alpha, nullptr);
    EXPECT_EQ(b->alpha->plane[size_t(3) * b->alpha->bytesPerRow + 5], alphaOf(5, 3));
    EXPECT_EQ(ReadBitMapPixel(b->bitmap, 3, 2), Stored((120u << 16) | (120u << 8) | 0x80));
    // A colour key masks that colour out.
    ASSERT_EQ(
        Call("LoadBrush", {Num(2), Str(file), Table({{Str("transparency"), Num(0xFF00FF)}})}).code,
        0);
    ASSERT_EQ(GetBrush(L, {2, nullptr}, &b, 0), 0);
    EXPECT_EQ(ReadBitMapPixel(b->mask, 2, 1), 0u);
    EXPECT_EQ(ReadBitMapPixel(b->mask, 3, 1), 1u);
    EXPECT_EQ(b->transparentColour, 0xFF00FFu);
    // globalalpha scales the loaded alpha; a rectangle is cut out.
    ASSERT_EQ(Call("LoadBrush", {Num(3), Str(file),
                                 Table({{Str("loadalpha"), Num(1)},
                                        {Str("globalalpha"), Num(128)},
                                        {Str("x"), Num(4)},
                                        {Str("y"), Num(1)},
                                        {Str("width"), Num(9)}})})
                  .code,
              0);
    ASSERT_EQ(GetBrush(L, {3, nullptr}, &b, 0), 0);
    EXPECT_EQ(b->width, 2);
    EXPECT_EQ(b->height, 3);
    EXPECT_EQ(b->alpha->plane[0], alphaOf(4, 1) * 128 / 255);
    // While preloading, "cache" keeps the picture and "cachedload" takes it back, even when
    // the file has gone; the first display makes the bitmaps.
    const qvAttrSet on[] = {{QV_ATTR_PRELOADING, 1}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, on);
    ASSERT_EQ(Call("LoadBrush", {Num(4), Str(file), Table({{Str("cache"), Num(1)}})}).code, 0);
    std::remove(file.c_str());
    ASSERT_EQ(Call("LoadBrush",
                   {Num(5), Str(file), Table({{Str("cachedload"), Num(1)}, {Str("x"), Num(1)}})})
                  .code,
              0);
    EXPECT_EQ(
        Call("LoadBrush", {Num(6), Str(file + "x"), Table({{Str("cachedload"), Num(1)}})}).code,
        ERR_CACHEERROR);
    const qvAttrSet off[] = {{QV_ATTR_PRELOADING, 0}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, off);
    ASSERT_EQ(RebuildBrushes(L, true), 0);
    ASSERT_EQ(GetBrush(L, {5, nullptr}, &b, 0), 0);
    EXPECT_EQ(b->width, 5);
    EXPECT_EQ(ReadBitMapPixel(b->bitmap, 1, 2), Stored((80u << 16) | (120u << 8) | 0x80));
    FlushGfxCache();
}

}  // namespace
}  // namespace qv::testing

// Saved pictures against independent decoders: PIL, netpbm, giflib's tools, libjpeg's tools,
// pngcheck, jpeginfo and ImageMagick. Also the failure paths: unknown formats, unwritable
// paths, full devices and failed allocations, with nothing left behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/quantiser.h"
#include "gfx/save_picture.h"
#include "platform/linux/memory.h"
#include "runtime/errors.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/rgb_files.h"

namespace {

using qv::test::ReadBytes;

constexpr const char* kPython = "/usr/bin/python3";

std::vector<qvARGB> RandomPixels(int32_t width, int32_t height, uint32_t seed, bool alpha) {
    std::mt19937 random(seed);
    std::vector<qvARGB> pixels(size_t(width) * size_t(height));
    for (qvARGB& p : pixels)
        p = (random() & 0xFFFFFF) | (alpha && random() % 3 == 0 ? 0 : 0xFF000000);
    return pixels;
}

// Colours the quantiser keeps exactly: the centres of its 5-6-5 histogram cells.
qvARGB CellCentre(qvARGB p) {
    return (p & 0xFF000000) | (p & 0xF8FCF8) | 0x040204;
}

// Random pixels of at most count cell-centred colours (and alpha 0 on a third with alpha).
std::vector<qvARGB> FewColours(int32_t width, int32_t height, uint32_t seed, size_t count,
                               bool alpha) {
    const auto palette = RandomPixels(int32_t(count), 1, seed, false);
    auto pixels = RandomPixels(width, height, seed + 1, alpha);
    std::mt19937 random(seed);
    for (qvARGB& p : pixels)
        p = (p & 0xFF000000) | (CellCentre(palette[random() % count]) & 0xFFFFFF);
    return pixels;
}

std::vector<qvARGB> FromRgb(const qv::test::RgbPicture& picture) {
    std::vector<qvARGB> pixels;
    for (int32_t y = 0; y < picture.height; ++y)
        for (int32_t x = 0; x < picture.width; ++x) pixels.push_back(0xFF000000 | picture.At(x, y));
    return pixels;
}

qv::test::RgbPicture ToRgb(const std::vector<qvARGB>& pixels, int32_t width, int32_t height) {
    qv::test::RgbPicture p{width, height, {}};
    for (qvARGB v : pixels) {
        p.rgb.push_back(uint8_t(v >> 16));
        p.rgb.push_back(uint8_t(v >> 8));
        p.rgb.push_back(uint8_t(v));
    }
    return p;
}

// What picture_dump.py made of a file.
struct Dump {
    std::string mode;
    int32_t width = 0, height = 0, transparency = -1;
    std::vector<uint32_t> palette;  // 0xRRGGBB
    std::vector<uint8_t> indices;
    std::vector<qvARGB> argb;
};

Dump ReadWithPil(const std::string& path) {
    Dump d;
    if (!qv::test::Run(std::string(kPython) + " " +
                       qv::test::GfxTestFile("scripts/picture_dump.py") + " " + path))
        return d;
    const std::vector<uint8_t> data = ReadBytes(path + ".dump");
    const auto eol = std::find(data.begin(), data.end(), '\n');
    std::istringstream head(std::string(data.begin(), eol));
    size_t paletteSize = 0;
    head >> d.mode >> d.width >> d.height >> d.transparency >> paletteSize;
    const uint8_t* at = data.data() + (eol - data.begin()) + 1;
    for (size_t i = 0; i < paletteSize; ++i, at += 3)
        d.palette.push_back(uint32_t(at[0]) << 16 | uint32_t(at[1]) << 8 | at[2]);
    const size_t count = size_t(d.width) * size_t(d.height);
    if (d.mode == "P") {
        d.indices.assign(at, at + count);
        at += count;
    }
    for (size_t i = 0; i < count; ++i, at += 4)
        d.argb.push_back(uint32_t(at[3]) << 24 | uint32_t(at[0]) << 16 | uint32_t(at[1]) << 8 |
                         at[2]);
    return d;
}

// The RGB of a netpbm converter's output.
qv::test::RgbPicture ReadWithNetpbm(const std::string& tool, const std::string& path) {
    if (!qv::test::Run(tool + " " + path + " > " + path + ".ppm 2>/dev/null")) return {};
    return qv::test::ReadPpm(path + ".ppm");
}

std::vector<qvARGB> Opaque(std::vector<qvARGB> pixels) {
    for (qvARGB& p : pixels) p |= 0xFF000000;
    return pixels;
}

int Save(int32_t format, const std::vector<qvARGB>& pixels, int32_t width, int32_t height,
         const std::string& file, int alpha = 0, uint32_t colour = QV_NOCOLOR,
         int32_t colours = 256, int32_t quality = 90) {
    return SavePicture(format, pixels.data(), width, height, file.c_str(), colour, alpha, quality,
                       colours, 0);
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

TEST(SavePictureOracle, BmpLayoutPaddingAndOrder) {
    QV_REQUIRE_TOOL("/usr/bin/bmptopnm");
    QV_REQUIRE_TOOL(kPython);
    const std::string dir = qv::test::ScratchDir();
    const struct {
        int32_t width, height;
        size_t rowSize;
    } cases[] = {{1, 1, 4}, {3, 2, 12}, {4, 3, 12}, {5, 4, 16}, {7, 9, 24}, {2, 0, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const std::string file = dir + "/p" + std::to_string(c.width) + ".bmp";
        const auto pixels = RandomPixels(c.width, c.height, uint32_t(c.width), false);
        ASSERT_EQ(Save(IMGFMT_BMP, pixels, c.width, c.height, file), 0);
        const std::vector<uint8_t> b = ReadBytes(file);
        const size_t size = 54 + c.rowSize * size_t(c.height);
        ASSERT_EQ(b.size(), size);
        const uint8_t head[] = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0};
        EXPECT_EQ(std::memcmp(b.data(), head, 2), 0);
        EXPECT_EQ(Le32(b, 2), size);
        EXPECT_EQ(std::memcmp(b.data() + 6, head + 6, 12), 0);
        EXPECT_EQ(Le32(b, 18), uint32_t(c.width));
        EXPECT_EQ(Le32(b, 22), uint32_t(c.height));
        EXPECT_EQ(b[26] | b[27] << 8, 1);
        EXPECT_EQ(b[28] | b[29] << 8, 24);
        EXPECT_TRUE(std::all_of(b.begin() + 30, b.begin() + 54, [](uint8_t v) { return v == 0; }));
        for (int32_t y = 0; y < c.height; ++y) {
            // The last picture row comes first; B, G, R; the padding is 0.
            const uint8_t* row = b.data() + 54 + size_t(c.height - 1 - y) * c.rowSize;
            for (int32_t x = 0; x < c.width; ++x) {
                const qvARGB p = pixels[size_t(y) * c.width + x];
                EXPECT_EQ(
                    uint32_t(row[3 * x + 2]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x],
                    p & 0xFFFFFF);
            }
            for (size_t i = 3 * size_t(c.width); i < c.rowSize; ++i) EXPECT_EQ(row[i], 0);
        }
        if (c.height == 0) continue;
        EXPECT_EQ(ReadWithPil(file).argb, Opaque(pixels));
        const auto netpbm = ReadWithNetpbm("/usr/bin/bmptopnm", file);
        EXPECT_EQ(netpbm.rgb, ToRgb(pixels, c.width, c.height).rgb);
    }
}

TEST(SavePictureOracle, PngWithAndWithoutAlpha) {
    QV_REQUIRE_TOOL("/usr/bin/pngcheck");
    QV_REQUIRE_TOOL(kPython);
    const std::string dir = qv::test::ScratchDir();
    for (int alpha : {0, 1}) {
        SCOPED_TRACE(alpha);
        const std::string file = dir + "/p" + std::to_string(alpha) + ".png";
        const auto pixels = RandomPixels(61, 17, 7, true);
        ASSERT_EQ(Save(IMGFMT_PNG, pixels, 61, 17, file, alpha), 0);
        EXPECT_TRUE(qv::test::Run("/usr/bin/pngcheck -v " + file + " > /dev/null"));
        const Dump d = ReadWithPil(file);
        EXPECT_EQ(d.mode, alpha ? "RGBA" : "RGB");
        EXPECT_EQ(d.argb, alpha ? pixels : Opaque(pixels));
    }
}

// Slow waves of colour, the kind of picture JPEG is made for.
qv::test::RgbPicture SmoothPicture(int32_t width, int32_t height) {
    qv::test::RgbPicture p{width, height, {}};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            p.rgb.push_back(uint8_t(128 + 100 * std::sin(3 * u + 2 * v)));
            p.rgb.push_back(uint8_t(128 + 90 * std::cos(4 * v - u)));
            p.rgb.push_back(uint8_t(40 + 200 * u * v));
        }
    }
    return p;
}

double Psnr(const qv::test::RgbPicture& a, const qv::test::RgbPicture& b) {
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::pow(double(a.rgb[i]) - b.rgb[i], 2);
    return 10 * std::log10(255.0 * 255.0 * double(a.rgb.size()) / std::max(sum, 1e-9));
}

TEST(SavePictureOracle, JpegDecodesWithinPsnrAndKeepsItsQuality) {
    for (const char* tool : {"/usr/bin/djpeg", "/usr/bin/jpeginfo", "/usr/bin/compare-im6.q16",
                             "/usr/bin/identify-im6.q16"})
        QV_REQUIRE_TOOL(tool);
    const std::string dir = qv::test::ScratchDir();
    for (int kind : {0, 1}) {
        // Qualities outside 1..100 are clamped.
        for (int32_t quality : {50, 75, 90, 0, 150}) {
            const int32_t kept = std::clamp(quality, 1, 100);
            SCOPED_TRACE(std::to_string(kind) + " q" + std::to_string(quality));
            const auto picture =
                kind == 0 ? qv::test::TestPicture(0, 160, 97) : SmoothPicture(160, 97);
            const std::string base = dir + "/p" + std::to_string(kind) + std::to_string(quality);
            ASSERT_EQ(Save(IMGFMT_JPEG, FromRgb(picture), 160, 97, base + ".jpg", 0, QV_NOCOLOR,
                           256, quality),
                      0);
            EXPECT_TRUE(qv::test::Run("/usr/bin/jpeginfo -c " + base + ".jpg > /dev/null"));
            ASSERT_TRUE(qv::test::Run("/usr/bin/djpeg -ppm " + base + ".jpg > " + base + ".ppm"));
            const auto decoded = qv::test::ReadPpm(base + ".ppm");
            ASSERT_EQ(decoded.rgb.size(), picture.rgb.size());
            if (quality == 90) {
                EXPECT_GE(Psnr(picture, decoded), 35.0);
                ASSERT_TRUE(qv::test::WritePpm(picture, base + ".orig.ppm"));
                // ImageMagick's own measure; it prints the figure on standard error.
                EXPECT_TRUE(qv::test::Run("/usr/bin/compare-im6.q16 -metric PSNR " + base +
                                          ".orig.ppm " + base + ".jpg null: 2> " + base +
                                          ".psnr; awk '$1 < 35 {exit 1}' " + base + ".psnr"));
            }
            EXPECT_TRUE(qv::test::Run("q=$(/usr/bin/identify-im6.q16 -format %Q " + base +
                                      ".jpg); [ $((q - " + std::to_string(kept) +
                                      ")) -le 2 ] && [ $((" + std::to_string(kept) +
                                      " - q)) -le 2 ]"));
        }
    }
}

// The palette and indices QuantizeBitmap gives the same pixels.
struct Expected {
    std::vector<uint32_t> palette;
    std::vector<uint8_t> indices;
};

Expected Quantise(const std::vector<qvARGB>& pixels, int32_t width, int32_t height,
                  int32_t colours) {
    Expected e{std::vector<uint32_t>(256), std::vector<uint8_t>(pixels.size())};
    qvQuantizeRequest request{pixels.data(),
                              QV_FMT_A8R8G8B8,
                              4,
                              width,
                              height,
                              width,
                              e.indices.data(),
                              e.palette.data(),
                              colours,
                              QV_NO_TRANSPARENT,
                              0,
                              0};
    EXPECT_EQ(QuantizeBitmap(&request), 1);
    e.palette.resize(size_t(request.colourCount));
    return e;
}

size_t PowerOfTwoAtLeast(size_t n) {
    size_t size = 2;
    while (size < n) size *= 2;
    return size;
}

TEST(SavePictureOracle, GifMatchesTheQuantiserThroughThreeDecoders) {
    for (const char* tool : {"/usr/bin/giftext", "/usr/bin/gif2rgb", "/usr/bin/giftopnm", kPython})
        QV_REQUIRE_TOOL(tool);
    const std::string dir = qv::test::ScratchDir();
    const struct {
        int32_t width, height, colours;
        bool noise;
    } cases[] = {{1, 1, 256, true},   {40, 30, 2, true},       {1, 301, 16, true},
                 {100, 60, 7, false}, {1000, 1000, 256, true}, {33, 17, 300, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " colours " +
                     std::to_string(c.colours));
        const std::string file =
            dir + "/g" + std::to_string(c.width) + "x" + std::to_string(c.height) + ".gif";
        const auto pixels = c.noise ? RandomPixels(c.width, c.height, 5, false)
                                    : FromRgb(qv::test::TestPicture(1, c.width, c.height));
        ASSERT_EQ(Save(IMGFMT_GIF, pixels, c.width, c.height, file, 0, QV_NOCOLOR, c.colours), 0);
        const Expected e = Quantise(pixels, c.width, c.height, std::min(c.colours, 256));
        const Dump d = ReadWithPil(file);
        ASSERT_EQ(d.mode, "P");
        EXPECT_EQ(d.transparency, -1);
        EXPECT_EQ(d.indices, e.indices);
        ASSERT_GE(d.palette.size(), e.palette.size());
        EXPECT_LE(d.palette.size(), PowerOfTwoAtLeast(e.palette.size()));
        EXPECT_TRUE(std::equal(e.palette.begin(), e.palette.end(), d.palette.begin()));
        std::vector<qvARGB> mapped;
        for (uint8_t i : e.indices) mapped.push_back(0xFF000000 | e.palette[i]);
        EXPECT_EQ(d.argb, mapped);
        EXPECT_EQ(ReadWithNetpbm("/usr/bin/giftopnm", file).rgb,
                  ToRgb(mapped, c.width, c.height).rgb);
        // gif2rgb writes the three colour planes one after another.
        ASSERT_TRUE(qv::test::Run("/usr/bin/gif2rgb -1 -o " + file + ".rgb " + file));
        const auto rgb = ReadBytes(file + ".rgb");
        ASSERT_EQ(rgb.size(), mapped.size() * 3);
        for (size_t i = 0; i < mapped.size(); ++i)
            ASSERT_EQ(uint32_t(rgb[i * 3]) << 16 | uint32_t(rgb[i * 3 + 1]) << 8 | rgb[i * 3 + 2],
                      mapped[i] & 0xFFFFFF);
        EXPECT_TRUE(qv::test::Run("/usr/bin/giftext " + file + " | grep -q GIF89a || head -c6 " +
                                  file + " | grep -q GIF89a"));
        EXPECT_FALSE(qv::test::Run("/usr/bin/giftext " + file + " | grep -q 'graphics control'"));
    }
}

// Alpha makes the reserved last entry transparent; without alpha a colour given as
// transparent keeps every pixel (a black-containing picture saved with colour 0).
TEST(SavePictureOracle, GifTransparencyOnlyFromAlpha) {
    QV_REQUIRE_TOOL(kPython);
    QV_REQUIRE_TOOL("/usr/bin/giftext");
    const std::string dir = qv::test::ScratchDir();
    auto pixels = FewColours(30, 20, 11, 100, true);
    for (size_t i = 0; i < pixels.size(); i += 7) pixels[i] = 0xFF000000;  // opaque black
    ASSERT_EQ(Save(IMGFMT_GIF, pixels, 30, 20, dir + "/a.gif", 1, 0, 16), 0);
    const Dump masked = ReadWithPil(dir + "/a.gif");
    ASSERT_GE(masked.transparency, 0);
    EXPECT_LE(masked.palette.size(), 16u);
    for (size_t i = 0; i < pixels.size(); ++i)
        EXPECT_EQ(masked.indices[i] == masked.transparency, (pixels[i] >> 24) == 0) << i;
    EXPECT_TRUE(qv::test::Run("/usr/bin/giftext " + dir + "/a.gif | grep -q 'Transparency'"));

    const auto opaque = Opaque(pixels);
    ASSERT_EQ(Save(IMGFMT_GIF, opaque, 30, 20, dir + "/o.gif", 0, 0, 256), 0);
    const Dump kept = ReadWithPil(dir + "/o.gif");
    EXPECT_EQ(kept.transparency, -1);
    EXPECT_EQ(kept.argb, opaque);
}

// A masked brush keeps its transparency as GIF and PNG; with NOCOLOR or black the hidden
// pixels carry exactly that colour in formats without alpha.
TEST(SavePictureOracle, MaskedBitmapKeepsTransparency) {
    QV_REQUIRE_TOOL(kPython);
    const std::string dir = qv::test::ScratchDir();
    qv::test::BitMapPtr bitmap(AllocDisplayBitMap(9, 4));
    qv::test::PlanePtr mask(AllocMaskBitMap(nullptr, 9, 4, 1));
    ASSERT_TRUE(bitmap && mask);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 9; ++x) {
            PlotPixel(bitmap.get(), x, y, x == 0 ? 0 : 0x10 * uint32_t(x) << 8);
            if (x % 2 == 0) mask->plane[y * mask->bytesPerRow + x / 8] |= 0x80 >> (x & 7);
        }
    }
    for (uint32_t colour : {QV_NOCOLOR, 0u}) {
        SCOPED_TRACE(colour);
        for (int32_t format : {IMGFMT_GIF, IMGFMT_PNG, IMGFMT_BMP}) {
            const std::string file = dir + "/m" + std::to_string(format) + std::to_string(colour);
            ASSERT_EQ(SaveBitmap(format, bitmap.get(), 9, 4, file.c_str(), mask.get(), colour,
                                 nullptr, 90, 256, 0),
                      0);
            const Dump d = ReadWithPil(file);
            ASSERT_EQ(d.argb.size(), 36u) << format;
            for (int32_t i = 0; i < 36; ++i) {
                const int32_t x = i % 9;
                const bool shown = x % 2 == 0;
                if (format == IMGFMT_BMP)
                    EXPECT_EQ(d.argb[i], 0xFF000000 | (shown ? ReadBitMapPixel(bitmap.get(), x, 0)
                                                             : colour & 0xFFFFFF));
                else
                    EXPECT_EQ(d.argb[i] >> 24, shown ? 0xFFu : 0u) << format << " " << i;
            }
        }
    }
}

TEST(SavePictureOracle, IlbmOddWidthsAndLongRuns) {
    QV_REQUIRE_TOOL("/usr/bin/ilbmtoppm");
    const std::string dir = qv::test::ScratchDir();
    const struct {
        int32_t width, height;
        bool runs;
    } cases[] = {{1, 1, false}, {17, 5, false}, {333, 4, true}, {300, 3, false}, {15, 2, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        auto pixels = RandomPixels(c.width, c.height, uint32_t(c.width), true);
        // Rows with runs longer than 128 bytes in every plane, broken by one other pixel.
        if (c.runs)
            for (size_t i = 0; i < pixels.size(); ++i)
                pixels[i] = i % 301 == 300 ? 0x123456 : 0xA5C3E1;
        const std::string file = dir + "/p" + std::to_string(c.width) + ".iff";
        ASSERT_EQ(Save(IMGFMT_ILBM, pixels, c.width, c.height, file), 0);
        const auto bytes = ReadBytes(file);
        ASSERT_GE(bytes.size(), 48u);
        EXPECT_EQ(bytes.size() % 2, 0u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "FORM");
        EXPECT_EQ(
            size_t(bytes[4]) << 24 | size_t(bytes[5]) << 16 | size_t(bytes[6]) << 8 | bytes[7],
            bytes.size() - 8);
        EXPECT_EQ(ReadWithNetpbm("/usr/bin/ilbmtoppm", file).rgb,
                  ToRgb(pixels, c.width, c.height).rgb);
    }
}

TEST(SavePictureOracle, RandomRoundTrips) {
    QV_REQUIRE_TOOL(kPython);
    QV_REQUIRE_TOOL("/usr/bin/ilbmtoppm");
    const std::string dir = qv::test::ScratchDir();
    std::mt19937 random(2024);
    std::vector<std::string> files;
    std::vector<std::vector<qvARGB>> expected;
    for (int i = 0; i < 6; ++i) {
        const int32_t width = int32_t(random() % 300) + 1, height = int32_t(random() % 300) + 1;
        const int alpha = int(random() % 2);
        // Colours the quantiser keeps, so that GIF is exact too.
        const auto pixels = FewColours(width, height, random(), 1 + random() % 256, alpha != 0);
        for (int32_t format : {IMGFMT_BMP, IMGFMT_PNG, IMGFMT_GIF}) {
            const std::string file = dir + "/r" + std::to_string(i) + "." + std::to_string(format);
            ASSERT_EQ(Save(format, pixels, width, height, file, format == IMGFMT_PNG ? alpha : 0),
                      0)
                << file;
            files.push_back(file);
            expected.push_back(format == IMGFMT_PNG && alpha ? pixels : Opaque(pixels));
        }
        // PIL has no reader of 24-plane ILBM.
        const std::string ilbm = dir + "/r" + std::to_string(i) + ".iff";
        ASSERT_EQ(Save(IMGFMT_ILBM, pixels, width, height, ilbm), 0);
        EXPECT_EQ(ReadWithNetpbm("/usr/bin/ilbmtoppm", ilbm).rgb, ToRgb(pixels, width, height).rgb);
    }
    std::string list;
    for (const auto& f : files) list += " " + f;
    ASSERT_TRUE(qv::test::Run(std::string(kPython) + " " +
                              qv::test::GfxTestFile("scripts/picture_dump.py") + list));
    for (size_t i = 0; i < files.size(); ++i) {
        Dump d = ReadWithPil(files[i]);
        EXPECT_EQ(d.argb, expected[i]) << files[i];
    }
}

TEST(SavePictureOracle, FailuresLeaveNoFile) {
    const std::string dir = qv::test::ScratchDir();
    const auto pixels = RandomPixels(8, 8, 3, false);
    const std::string file = dir + "/x";
    EXPECT_EQ(Save(7, pixels, 8, 8, file), ERR_UNKNOWNIMGOUT);
    EXPECT_FALSE(std::filesystem::exists(file));
    // A BMP above 4 GiB is refused before anything is opened (or read).
    EXPECT_EQ(SavePicture(IMGFMT_BMP, pixels.data(), 0x40000000, 2, file.c_str(), QV_NOCOLOR, 0, 90,
                          256, 0),
              ERR_WRONGUSAGE);
    EXPECT_FALSE(std::filesystem::exists(file));
    for (int32_t format : {IMGFMT_BMP, IMGFMT_PNG, IMGFMT_JPEG, IMGFMT_GIF, IMGFMT_ILBM}) {
        SCOPED_TRACE(format);
        const std::string missing = dir + "/no/such/dir/p.pic";
        EXPECT_EQ(Save(format, pixels, 8, 8, missing), ERR_WRITEFILE);
        char message[1024];
        FormatErrorMessage(ERR_WRITEFILE, message, sizeof message);
        EXPECT_NE(std::string(message).find(missing), std::string::npos) << message;
        if (!std::filesystem::exists("/dev/full")) continue;
        // A 300 x 300 picture outgrows the file layer's buffer, so writes fail before the close.
        const auto big = RandomPixels(300, 300, 4, false);
        EXPECT_EQ(Save(format, big, 300, 300, "/dev/full"), ERR_WRITEFILE);
        EXPECT_EQ(Save(format, pixels, 8, 8, "/dev/full"), ERR_WRITEFILE);
        struct stat info;
        ASSERT_EQ(stat("/dev/full", &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
}

// Every allocation of a save fails in turn: the save reports it, no file
// is left behind after a failure, and LeakSanitizer finds nothing.
TEST(SavePictureOracle, AllocationFailuresAreReported) {
    const std::string dir = qv::test::ScratchDir();
    const auto pixels = RandomPixels(40, 30, 9, true);
    for (int32_t format : {IMGFMT_BMP, IMGFMT_PNG, IMGFMT_JPEG, IMGFMT_GIF, IMGFMT_ILBM}) {
        const std::string file = dir + "/f" + std::to_string(format);
        for (uint64_t n = 1;; ++n) {
            int error = 0;
            {
                qv::AllocationFault fault(n, false);
                error = Save(format, pixels, 40, 30, file, 1, QV_NOCOLOR, 16);
            }
            if (error == 0) break;
            // The file layer cannot tell a failed allocation from a failed open.
            ASSERT_TRUE(error == ERR_MEM || error == ERR_WRITEFILE)
                << "format " << format << " fault " << n << " error " << error;
            EXPECT_FALSE(std::filesystem::exists(file)) << "format " << format << " fault " << n;
            ASSERT_LT(n, 10000u);
        }
    }
}

class SavePicTool : public ::testing::TestWithParam<int> {};

// The tool end to end, as a user would run it, on a PAM with alpha.
TEST_P(SavePicTool, SavesAPamPicture) {
    QV_REQUIRE_TOOL(kPython);
    const std::string dir = qv::test::ScratchDir();
    const int format = GetParam();
    const std::string pam = dir + "/in.pam", out = dir + "/out";
    const auto pixels = FewColours(23, 11, 8, 200, true);
    std::string samples;
    for (qvARGB p : pixels)
        for (int shift : {16, 8, 0, 24}) samples += char(p >> shift);
    std::ofstream(pam, std::ios::binary)
        << "P7\nWIDTH 23\nHEIGHT 11\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
        << samples;
    ASSERT_TRUE(qv::test::Run(std::string(QVSAVEPIC_PATH) + " --format " + std::to_string(format) +
                              " --colour none --quality 95 --colors 256 --dither 0 " + pam + " " +
                              out))
        << format;
    if (format == IMGFMT_ILBM) {
        EXPECT_EQ(ReadWithNetpbm("/usr/bin/ilbmtoppm", out).rgb, ToRgb(pixels, 23, 11).rgb);
        return;
    }
    const Dump d = ReadWithPil(out);
    ASSERT_EQ(d.width, 23);
    if (format == IMGFMT_JPEG) return;
    for (size_t i = 0; i < pixels.size(); ++i) {
        const bool hidden = (pixels[i] >> 24) == 0;
        if (format == IMGFMT_PNG)
            EXPECT_EQ(d.argb[i], pixels[i]);
        else if (format == IMGFMT_GIF && hidden)
            EXPECT_EQ(d.argb[i] >> 24, 0u);
        else
            EXPECT_EQ(d.argb[i] & 0xFFFFFF, pixels[i] & 0xFFFFFF);
    }
}

std::string FormatName(const ::testing::TestParamInfo<int>& info) {
    constexpr const char* kNames[] = {"bmp", "png", "jpeg", "gif", "ilbm"};
    return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Formats, SavePicTool, ::testing::Values(0, 1, 2, 3, 4), FormatName);

TEST(SavePicToolErrors, ReportsTheErrorCode) {
    const std::string dir = qv::test::ScratchDir();
    std::ofstream(dir + "/in.ppm", std::ios::binary) << "P6\n1 1\n255\n\x10\x20\x30";
    EXPECT_TRUE(qv::test::Run(std::string(QVSAVEPIC_PATH) + " --format 7 " + dir + "/in.ppm " +
                              dir + "/o | grep -q 1486"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/o"));
}

}  // namespace

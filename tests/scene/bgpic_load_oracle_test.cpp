// Loading pictures made by netpbm from plain PPM text written here: PNG (pnmtopng, and RGBA
// through pamrgbatopng) and BMP at every depth ppmtobmp writes (Windows and OS/2 headers),
// pixel for pixel in screen formats 10, 4 and 8; transparent colours and alpha channels; the
// console lines. Textured pictures against numpy's tiling of the brush.
#include <fstream>
#include <sstream>

#include "platform/linux/testing.h"
#include "runtime/runtime_state.h"
#include "tests/scene/scene_fixture.h"

namespace qv::testing {
namespace {

using platform::testing::ScopedScreenFormat;

constexpr uint32_t kScreenFormats[] = {QV_FMT_A8R8G8B8, QV_FMT_R5G6B5, QV_FMT_R8G8B8};

// A picture as rows of 0xRRGGBB.
struct Picture {
    int width, height;
    std::vector<uint32_t> rgb;
};

// colours distinct values spread over a width x height picture.
Picture MakePicture(int width, int height, int colours) {
    Picture p{width, height, {}};
    for (int i = 0; i < width * height; ++i) {
        const uint32_t k = uint32_t(i % colours);
        p.rgb.push_back((k * 37 + 11) % 256 << 16 | (k * 91 + 5) % 256 << 8 | (k * 53) % 256);
    }
    return p;
}

// Shades of grey, written as PPM with equal channels.
Picture GreyPicture(int width, int height) {
    Picture p{width, height, {}};
    for (int i = 0; i < width * height; ++i) p.rgb.push_back(uint32_t(i * 29 % 256) * 0x010101);
    return p;
}

std::string PlainPpm(const Picture& p) {
    std::ostringstream out;
    out << "P3\n" << p.width << " " << p.height << "\n255\n";
    for (uint32_t c : p.rgb) out << (c >> 16) << " " << (c >> 8 & 255) << " " << (c & 255) << "\n";
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs a netpbm tool over a file into another; false when it failed.
bool Convert(const std::string& command, const std::string& in, const std::string& out) {
    return RunTool(command + " < '" + in + "' > '" + out + "' 2>/dev/null").status == 0;
}

std::vector<uint32_t> StoredAll(const std::vector<uint32_t>& rgb) {
    std::vector<uint32_t> out;
    for (uint32_t c : rgb) out.push_back(Stored(c));
    return out;
}

class LoadOracle : public SceneFixture {
protected:
    void SetUp() override {
        QV_REQUIRE_TOOL("pnmtopng");
        QV_REQUIRE_TOOL("ppmtobmp");
        QV_REQUIRE_TOOL("pamrgbatopng");
    }

    // The picture as PPM text in the temporary folder, converted by command into name.
    std::string Made(const Picture& p, const std::string& command, const std::string& name) {
        const std::string ppm = TempDir() + "/" + name + ".ppm", out = TempDir() + "/" + name;
        WriteFile(ppm, PlainPpm(p));
        EXPECT_TRUE(Convert(command, ppm, out)) << command;
        return out;
    }
};

TEST_F(LoadOracle, PngAndBmpPicturesLoadPixelForPixel) {
    const struct {
        const char* name;
        const char* command;
        Picture picture;
    } cases[] = {
        {"rgb.png", "pnmtopng", MakePicture(13, 7, 91)},
        {"grey.png", "(ppmtopgm | pnmtopng)", GreyPicture(5, 9)},
        {"1.bmp", "ppmtobmp -bpp=1", MakePicture(19, 3, 2)},
        {"4.bmp", "ppmtobmp -bpp=4", MakePicture(9, 4, 16)},
        {"8.bmp", "ppmtobmp -bpp=8", MakePicture(7, 6, 200)},
        {"24.bmp", "ppmtobmp -bpp=24", MakePicture(11, 5, 55)},
        {"os2.bmp", "ppmtobmp -os2 -bpp=8", MakePicture(6, 6, 30)},
        {"os2-24.bmp", "ppmtobmp -os2 -bpp=24", MakePicture(3, 2, 6)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = Made(c.picture, c.command, c.name);
        for (uint32_t format : kScreenFormats) {
            SCOPED_TRACE(format);
            ScopedScreenFormat screen(format);
            ASSERT_EQ(Call("LoadBGPic", {Num(1), Str(file)}).code, 0);
            const qvBGPic* picture = Find(1u);
            ASSERT_NE(picture, nullptr);
            EXPECT_EQ(picture->width, c.picture.width);
            EXPECT_EQ(picture->height, c.picture.height);
            EXPECT_EQ(picture->shown.bitmap->format, format);
            EXPECT_EQ(picture->shown.mask, nullptr);
            EXPECT_EQ(Pixels(picture->shown.bitmap), StoredAll(c.picture.rgb));
        }
    }
}

TEST_F(LoadOracle, ATransparentColourMasksItsPixels) {
    const Picture p = MakePicture(10, 3, 4);
    const uint32_t key = p.rgb[1];
    for (const char* command : {"pnmtopng", "ppmtobmp"}) {
        SCOPED_TRACE(command);
        const std::string file = Made(p, command, "keyed");
        for (const Arg& option : {Num(key), Table({{Str("transparency"), Num(key)}})}) {
            ASSERT_EQ(Call("LoadBGPic", {Num(1), Str(file), option}).code, 0);
            const qvBGPic* picture = Find(1u);
            ASSERT_NE(picture->shown.mask, nullptr);
            EXPECT_EQ(picture->transparentColour, int32_t(key));
            for (int i = 0; i < 30; ++i) {
                EXPECT_EQ(ReadBitMapPixel(picture->shown.mask, i % 10, i / 10),
                          p.rgb[i] == key ? 0u : 1u)
                    << i;
            }
        }
    }
    // NOTRANSPARENCY is no transparent colour.
    ASSERT_EQ(Call("LoadBGPic", {Num(1), Str(TempDir() + "/keyed"), Num(4294967295.0)}).code, 0);
    EXPECT_EQ(Find(1u)->shown.mask, nullptr);
}

TEST_F(LoadOracle, AnAlphaChannelLoadsExactly) {
    constexpr int kWidth = 6, kHeight = 4;
    std::string pam = "P7\nWIDTH 6\nHEIGHT 4\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    std::vector<uint8_t> alphas;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        alphas.push_back(uint8_t(i * 11));
        pam += {char(i * 9), char(200 - i), char(i * 3), char(alphas.back())};
    }
    WriteFile(TempDir() + "/a.pam", pam);
    ASSERT_TRUE(Convert("pamrgbatopng", TempDir() + "/a.pam", TempDir() + "/a.png"));
    const std::string file = TempDir() + "/a.png";
    ASSERT_EQ(Call("LoadBGPic", {Num(1), Str(file), Table({{Str("loadalpha"), Bool(true)}})}).code,
              0);
    const qvBGPic* picture = Find(1u);
    ASSERT_NE(picture->shown.alpha, nullptr);
    EXPECT_EQ(picture->alphaMode, 1);
    for (int i = 0; i < kWidth * kHeight; ++i) {
        EXPECT_EQ(picture->shown.alpha
                      ->plane[(i / kWidth) * picture->shown.alpha->bytesPerRow + i % kWidth],
                  alphas[i])
            << i;
    }
    // Without "loadalpha" the channel is not kept.
    ASSERT_EQ(Call("LoadBGPic", {Num(1), Str(file)}).code, 0);
    EXPECT_EQ(Find(1u)->shown.alpha, nullptr);
    // Alpha and a transparent colour exclude each other.
    EXPECT_EQ(
        Call("LoadBGPic", {Num(2), Str(file),
                           Table({{Str("loadalpha"), Num(1)}, {Str("transparency"), Num(0)}})})
            .code,
        ERR_MASKNALPHA);
    EXPECT_EQ(Find(2u), nullptr);
}

TEST_F(LoadOracle, LoadingIsShownOnTheConsoleUnlessQuiet) {
    const std::string file = Made(MakePicture(2, 2, 4), "pnmtopng", "shown.png");
    ASSERT_EQ(Call("LoadBGPic", {Num(1), Str(file)}).code, 0);
    EXPECT_EQ(DebugText(), "Loading background picture shown.png... done\n");
    Runtime().quiet = 1;
    ASSERT_EQ(Call("LoadBGPic", {Num(2), Str(file)}).code, 0);
    EXPECT_EQ(DebugText(), "Loading background picture shown.png... done\n");
}

TEST_F(LoadOracle, ATexturedPictureIsTheBrushTiledFromItsOffsets) {
    QV_REQUIRE_TOOL("/usr/bin/python3");
    const Picture brush = MakePicture(3, 2, 6);
    brushes.Add(9, brush.width, brush.height, brush.rgb);
    std::ostringstream script;
    script << "import numpy as np\n"
           << "b = np.array([";
    for (uint32_t c : brush.rgb) script << c << ",";
    script << "], dtype=np.uint32).reshape(2, 3)\n"
           << "w, h, ox, oy = 11, 7, 4, -3\n"
           << "t = np.tile(b, (h // 2 + 2, w // 3 + 2))[oy % 2:oy % 2 + h, ox % 3:ox % 3 + w]\n"
           << "print(' '.join(str(v) for v in t.flatten()))\n";
    WriteFile(TempDir() + "/tile.py", script.str());
    const ToolRun numpy = RunTool("/usr/bin/python3 '" + TempDir() + "/tile.py'");
    ASSERT_EQ(numpy.status, 0) << numpy.output;
    std::vector<uint32_t> want;
    std::istringstream values(numpy.output);
    for (uint32_t v; values >> v;) want.push_back(v);
    ASSERT_EQ(want.size(), 77u);
    for (uint32_t format : kScreenFormats) {
        SCOPED_TRACE(format);
        ScopedScreenFormat screen(format);
        brushes.Add(9, brush.width, brush.height, brush.rgb);
        ASSERT_EQ(
            Call("CreateTexturedBGPic", {Num(1), Num(9), Num(11), Num(7), Num(4), Num(-3)}).code,
            0);
        EXPECT_EQ(Pixels(Find(1u)->shown.bitmap), StoredAll(want));
    }
}

}  // namespace
}  // namespace qv::testing

// The platform's picture loader against Python PIL (Debian python3-pil): PIL writes the
// pictures and decodes them too; our pixels must equal its pixels exactly. netpbm's ppmtoilbm
// writes ILBM pictures with a mask plane, which PIL does not read.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/picture_loader.h"
#include "tests/platform/file_test_support.h"
#include "tests/support/tool_check.h"

namespace {

using qv::testing::Bytes;
using qv::testing::ReadBytes;
using qv::testing::ScratchDir;

constexpr char kPython[] = "/usr/bin/python3";

bool HavePil() {
    static const bool present =
        std::system((std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1").c_str()) == 0;
    return present;
}

#define REQUIRE_PIL()                                                                \
    do {                                                                             \
        if (!HavePil()) {                                                            \
            const char* ci = std::getenv("CI");                                      \
            if (ci != nullptr && std::string(ci) == "true") FAIL() << "PIL missing"; \
            GTEST_SKIP() << "python3-pil missing";                                   \
        }                                                                            \
    } while (0)

// Writes the pictures into dir and, beside each, PIL's decoding as raw RGBA bytes.
constexpr char kMakePictures[] = R"(
import sys
from PIL import Image
d = sys.argv[1]
w, h = 23, 17
rgba = Image.new("RGBA", (w, h))
rgba.putdata([(x * 11 % 256, y * 15 % 256, (x * y) % 256, (x * 13 + y * 29) % 256)
              for y in range(h) for x in range(w)])
rgba.save(d + "/alpha.png")
colour = Image.new("RGB", (29, 19))
colour.putdata([((x * 37 + y * 3) % 256, (y * 41) % 256, (x * y * 7) % 256)
                for y in range(19) for x in range(29)])
colour.save(d + "/colour.jpg", quality=85)
colour.convert("L").save(d + "/grey.jpg", quality=90)
palette = colour.convert("P", palette=Image.ADAPTIVE, colors=16)
palette.save(d + "/palette.png", transparency=3)
second = Image.new("P", (29, 19), 5)
second.putpalette(palette.getpalette())
palette.save(d + "/clear.gif", transparency=3, save_all=True, append_images=[second], loop=0)
for name in ["alpha.png", "colour.jpg", "grey.jpg", "palette.png", "clear.gif"]:
    with open(d + "/" + name + ".raw", "wb") as out:
        out.write(Image.open(d + "/" + name).convert("RGBA").tobytes())
)";

TEST(PictureLoaderOracle, PixelsEqualPils) {
    REQUIRE_PIL();
    ScratchDir dir;
    std::string script = dir / "make.py";
    std::ofstream(script) << kMakePictures;
    int status = std::system((std::string(kPython) + " " + script + " " + dir.path()).c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // A GIF's clear pixels carry no colour of their own; its first image is the picture.
    struct Case {
        const char* name;
        uint32_t hasAlpha;
        bool clearHasColour = true;
    };
    for (const Case& c : {Case{"alpha.png", 1}, Case{"colour.jpg", 0}, Case{"grey.jpg", 0},
                          Case{"palette.png", 1}, Case{"clear.gif", 1, false}}) {
        SCOPED_TRACE(c.name);
        Bytes raw = ReadBytes(dir / (std::string(c.name) + ".raw"));
        qvPicture* picture = nullptr;
        ASSERT_EQ(LoadPictureDT((dir / c.name).c_str(), &picture), 0);
        EXPECT_EQ(picture->hasAlpha, c.hasAlpha);
        size_t count = size_t(picture->width) * size_t(picture->height);
        ASSERT_EQ(raw.size(), count * 4);
        size_t differing = 0;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* p = &raw[i * 4];
            uint32_t expected =
                uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
            const bool colourless = !c.clearHasColour && p[3] == 0;
            if (picture->pixels[i] != (colourless ? 0 : expected)) ++differing;
        }
        EXPECT_EQ(differing, 0u);
        FreePictureDT(picture);
    }
}

// A picture of 13 x 5 random colours through ppmtoilbm with a mask (PBM: 1 opaque), as 24 planes
// and through a colour map: every colour as written, alpha 0 where the mask hides.
TEST(PictureLoaderOracle, IlbmOfNetpbmWithItsMask) {
    QV_REQUIRE_TOOL("ppmtoilbm");
    ScratchDir dir;
    constexpr int kWidth = 13, kHeight = 5;
    std::string ppm = "P6\n13 5\n255\n", pbm = "P1\n13 5\n";
    std::vector<uint32_t> expected;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t rgb = (uint32_t(x) * 0x1F3D59 + uint32_t(y) * 0x6B2A11) & 0xFFFFFF;
            const bool shown = (x + y) % 3 == 0;
            ppm += {char(rgb >> 16), char(rgb >> 8), char(rgb)};
            pbm += shown ? "1 " : "0 ";
            expected.push_back((shown ? 0xFF000000u : 0u) | rgb);
        }
    }
    dir.Write("c.ppm", qv::testing::ToBytes(ppm));
    dir.Write("m.pbm", qv::testing::ToBytes(pbm));
    for (const char* planes : {"-24force", "-maxplanes 8"}) {
        SCOPED_TRACE(planes);
        const std::string iff = dir / "c.iff";
        const std::string command = std::string("ppmtoilbm ") + planes + " -maskfile " +
                                    (dir / "m.pbm") + " " + (dir / "c.ppm") + " > " + iff +
                                    " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        qvPicture* picture = nullptr;
        ASSERT_EQ(LoadPictureDT(iff.c_str(), &picture), 0);
        EXPECT_EQ(picture->hasAlpha, 1u);
        EXPECT_EQ(std::vector<uint32_t>(picture->pixels, picture->pixels + expected.size()),
                  expected);
        FreePictureDT(picture);
    }
}

}  // namespace

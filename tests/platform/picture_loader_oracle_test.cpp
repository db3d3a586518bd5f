// The platform's picture loader against Python PIL (Debian python3-pil): PIL writes the
// pictures and decodes them too; our pixels must equal its pixels exactly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/linux/picture_loader.h"
#include "tests/platform/file_test_support.h"

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
for name in ["alpha.png", "colour.jpg", "grey.jpg", "palette.png"]:
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
    struct Case {
        const char* name;
        uint32_t hasAlpha;
    };
    for (const Case& c : {Case{"alpha.png", 1}, Case{"colour.jpg", 0}, Case{"grey.jpg", 0},
                          Case{"palette.png", 1}}) {
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
            if (picture->pixels[i] != expected) ++differing;
        }
        EXPECT_EQ(differing, 0u);
        FreePictureDT(picture);
    }
}

}  // namespace

// BMP files written by Python PIL (Debian python3-pil) in every mode it writes as BMP (1, L,
// P, RGB, RGBA): the platform loader's pixels must equal PIL's own reading of them.
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

constexpr char kMakeBitmaps[] = R"(
import sys
from PIL import Image
d = sys.argv[1]
w, h = 29, 13
rgba = Image.new("RGBA", (w, h))
rgba.putdata([((x * 37 + y) % 256, (y * 19) % 256, (x * y * 5) % 256, (x * 7) % 256)
              for y in range(h) for x in range(w)])
pictures = {"rgba": rgba, "rgb": rgba.convert("RGB"), "grey": rgba.convert("L"),
            "mono": rgba.convert("1"),
            "palette": rgba.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=40)}
for name, picture in pictures.items():
    picture.save(d + "/" + name + ".bmp")
    with open(d + "/" + name + ".raw", "wb") as out:
        out.write(Image.open(d + "/" + name + ".bmp").convert("RGBA").tobytes())
)";

TEST(BmpDecoderOracle, PixelsEqualPils) {
    if (std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "PIL missing";
        GTEST_SKIP() << "python3-pil missing";
    }
    ScratchDir dir;
    const std::string script = dir / "make.py";
    std::ofstream(script) << kMakeBitmaps;
    const int status = std::system(("/usr/bin/python3 " + script + " " + dir.path()).c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const char* name : {"rgba", "rgb", "grey", "mono", "palette"}) {
        SCOPED_TRACE(name);
        const Bytes raw = ReadBytes(dir / (std::string(name) + ".raw"));
        qvPicture* picture = nullptr;
        ASSERT_EQ(LoadPictureDT((dir / (std::string(name) + ".bmp")).c_str(), &picture), 0);
        const size_t count = size_t(picture->width) * size_t(picture->height);
        ASSERT_EQ(raw.size(), count * 4);
        size_t differing = 0;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* p = &raw[i * 4];
            const uint32_t expected =
                uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
            if (picture->pixels[i] != expected) ++differing;
        }
        EXPECT_EQ(differing, 0u);
        FreePictureDT(picture);
    }
}

}  // namespace

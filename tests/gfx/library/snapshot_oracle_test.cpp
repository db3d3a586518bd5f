// SaveSnapshot of a headless window read back by independent decoders: PIL for BMP and
// PNG, pngcheck for the PNG file's structure.
#include <fstream>
#include <string>

#include "tests/gfx/library/graphics_test_support.h"

namespace qv::testing {
namespace {

// Prints the picture (its name the argument)'s size and every pixel as "r,g,b" in row order.
constexpr char kDumpPixels[] = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
print(im.size[0], im.size[1])
print(" ".join("%d,%d,%d" % p for p in im.getdata()))
)";

class Snapshots : public GraphicsLib {
protected:
    // The picture as Debian's Python with PIL decodes it.
    ToolRun Decode(const std::string& file) {
        const std::string script = TempDir() + "/dump.py";
        std::ofstream(script) << kDumpPixels;
        return RunTool("/usr/bin/python3 " + script + " " + file);
    }

    Snapshots() {
        qvPlatformDisplay* window = scene.OpenWindow(37, 23);
        for (int32_t y = 0; y < 23; ++y) {
            for (int32_t x = 0; x < 37; ++x) {
                PlotPixel(window->framebuffer, x, y, Pattern(x, y));
            }
        }
    }
    static uint32_t Pattern(int32_t x, int32_t y) {
        return uint32_t(x * 7) << 16 | uint32_t(y * 11) << 8 | uint32_t((x ^ y) * 5);
    }
    // The pattern as the decoder should print it.
    static std::string Expected() {
        std::string text = "37 23\n";
        for (int32_t y = 0; y < 23; ++y) {
            for (int32_t x = 0; x < 37; ++x) {
                const uint32_t c = Pattern(x, y);
                text += std::to_string(c >> 16) + "," + std::to_string((c >> 8) & 255) + "," +
                        std::to_string(c & 255) + (x == 36 && y == 22 ? "\n" : " ");
            }
        }
        return text;
    }
};

TEST_F(Snapshots, TheWindowSavedAsBmpReadsBackExactly) {
    QV_REQUIRE_TOOL("/usr/bin/python3");
    const std::string file = TempDir() + "/window.bmp";
    ASSERT_EQ(Call("SaveSnapshot", {Str(file)}).code, 0);
    const ToolRun run = Decode(file);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.output, Expected());
}

TEST_F(Snapshots, ThePngWithAnOptionsTablePassesPngcheckAndReadsBackExactly) {
    QV_REQUIRE_TOOL("/usr/bin/python3");
    QV_REQUIRE_TOOL("pngcheck");
    const std::string file = TempDir() + "/window.png";
    ASSERT_EQ(Call("SaveSnapshot", {Str(file), Num(0), Num(1),
                                    Table({{Str("quality"), Num(40)}, {Str("colors"), Num(16)}})})
                  .code,
              0);
    EXPECT_EQ(RunTool("pngcheck -q " + file).status, 0);
    const ToolRun run = Decode(file);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.output, Expected());
}

TEST_F(Snapshots, WhatCannotBeGrabbed) {
    // A closed display keeps its window record without a frame buffer.
    qvPlatformDisplay closed{};
    scene.view.window = &closed;
    EXPECT_EQ(Call("SaveSnapshot", {Str(TempDir() + "/c.bmp")}).code, ERR_WINDOW);
    scene.view.window = nullptr;
    EXPECT_EQ(Call("SaveSnapshot", {Str(TempDir() + "/w.bmp")}).code, ERR_WINDOW);
    EXPECT_EQ(Call("SaveSnapshot", {Str(TempDir() + "/d.bmp"), Num(1)}).code, ERR_FINDBGPIC)
        << "no background picture to render";
    EXPECT_EQ(Call("SaveSnapshot", {Str(TempDir() + "/x.bmp"), Num(3)}).code, ERR_WRONGUSAGE);
}

}  // namespace
}  // namespace qv::testing

// qvtext and qvmkfont from the command line: the lines qvtext prints, its pictures, its error
// status, and an outline font turned into a bitmap font.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/objects/fonts/font_test_support.h"

namespace qv::testing {
namespace {

using FontToolsTest = FontTest;

TEST_F(FontToolsTest, QvTextPrintsInfoAndExtents) {
    struct Case {
        std::string arguments;
        std::string output;
    } cases[] = {
        {"--bitmap-font topaz --info", "topaz|8|6|0\n"},
        {"--bitmap-font topaz --extent ABC", "24 8 0 -6 23 1\n"},
        {"--bitmap-font topaz --scale 2,2 --extent AB", "16 8 0 -6 15 1\n"},
        {"--font 'Bitstream Vera Sans' --size 0 --info", "qvtext: error 1064\n"},
        {"--font 'No Such Face' --size 12 --info", "qvtext: error 1064\n"},
        {"--bitmap-font " + scratch_ / "none.font" + " --size 8 --info", "qvtext: error 1064\n"},
    };
    for (const Case& c : cases) {
        const ToolRun run = QvText(c.arguments);
        EXPECT_EQ(run.output, c.output) << c.arguments;
        EXPECT_EQ(run.status, c.output.rfind("qvtext: error", 0) == 0 ? 1 : 0) << c.arguments;
    }
    // TrueType info: the display name, the size as height, the calibrated pixel size.
    FontPtr sans = OpenTrueType("Bitstream Vera Sans", 20);
    const ToolRun info = QvText("--font 'Bitstream Vera Sans' --size 20 --info");
    EXPECT_EQ(info.output, "Bitstream Vera Sans|20|" + std::to_string(sans->baseline) + "|" +
                               std::to_string(TrueTypeRecord(sans)->pixelSize) + "\n");
    EXPECT_NE(QvText("--info").status, 0);
}

TEST_F(FontToolsTest, QvTextWritesPictures) {
    struct Case {
        std::string options;
        std::string magic;
        int channels;
    } cases[] = {{"--plane 8", "P5", 1}, {"--plane 1", "P5", 1}, {"--colour 0xFF8800", "P6", 3}};
    for (const Case& c : cases) {
        const std::string out = scratch_ / "text.pnm";
        const ToolRun run =
            QvText("--bitmap-font topaz --render Hi " + c.options + " --out " + out);
        ASSERT_EQ(run.status, 0) << run.output;
        const Bytes picture = ReadBytes(out);
        const std::string header = c.magic + "\n16 8\n255\n";
        ASSERT_EQ(picture.size(), header.size() + size_t(16 * 8 * c.channels)) << c.options;
        EXPECT_EQ(std::string(picture.begin(), picture.begin() + long(header.size())), header);
        int lit = 0;
        for (size_t i = header.size(); i < picture.size(); ++i) lit += picture[i] != 0;
        EXPECT_GT(lit, 10) << c.options;
    }
}

TEST_F(FontToolsTest, OutlineFontBecomesABitmapFont) {
    for (bool proportional : {false, true}) {
        const std::string dir = scratch_ / (proportional ? "prop" : "fixed");
        const std::string command = std::string(QVMKFONT_PATH) + " --outline " + kVeraDir +
                                    "VeraMono.ttf --size 12 --name mono" +
                                    (proportional ? " --proportional " : " ") + dir;
        ASSERT_EQ(std::system(command.c_str()), 0);
        FontPtr font = LoadBitmap(dir + "/mono.font", 12);
        ASSERT_NE(font, nullptr);
        EXPECT_GE(font->height, 12);
        // A monospaced face: every character advances the same in both forms.
        EXPECT_EQ(Extent(font.get(), "iiii").width, Extent(font.get(), "WWWW").width);
        EXPECT_GT(Extent(font.get(), "W").width, 5);
    }
}

}  // namespace
}  // namespace qv::testing

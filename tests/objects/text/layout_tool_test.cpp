// qvtext --layout from the command line: the runs it prints for tags, widths, alignments and
// replayed breaks, its error status, and the rendered block as PAM with alpha, whose alpha
// channel netpbm reads back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/objects/fonts/font_test_support.h"

namespace qv::testing {
namespace {

TEST(LayoutToolTest, PrintsTheRunsOfATaggedText) {
    struct Case {
        std::string arguments;
        std::string output;
    } cases[] = {
        {"--layout 'aaa bbb ccc' --wrap 40",
         "0 0 4 16 0x00FFFFFF aaa \n0 8 4 16 0x00FFFFFF bbb \n0 16 3 16 0x00FFFFFF ccc\n"},
        {"--layout 'aaa bbb ccc' --replay 2",
         "0 0 8 16 0x00FFFFFF aaa bbb \n0 8 3 16 0x00FFFFFF ccc\n"},
        {"--layout 'a [b]b[/b] ' --align center --colour 0x80FF0000",
         "0 0 2 16 0x80FF0000 a \n16 0 1 18 0x80FF0000 b\n"},
        {"--layout '[color=#RED]x' --edge --shadow --style 1", "0 0 1 97 0x00FF0000 x\n"},
        {"--layout '[b]x' --tags 0", "0 0 4 16 0x00FFFFFF [b]x\n"},
        {"--layout 'a]b'", "qvtext: error 1252\n"},
        {"--layout '[bold]'", "qvtext: error 1251\n"},
    };
    for (const Case& c : cases) {
        const ToolRun run = QvText("--bitmap-font topaz " + c.arguments);
        EXPECT_EQ(run.output, c.output) << c.arguments;
        EXPECT_EQ(run.status, c.output.rfind("qvtext: error", 0) == 0 ? 1 : 0) << c.arguments;
    }
}

TEST(LayoutToolTest, WritesTheBlockWithItsAlpha) {
    if (std::system("command -v pamchannel >/dev/null") != 0) {
        if (std::getenv("CI") != nullptr) FAIL() << "netpbm is missing";
        GTEST_SKIP() << "netpbm is missing";
    }
    ScratchDir scratch;
    const std::string pam = scratch / "block.pam", alpha = scratch / "alpha.pgm";
    ASSERT_EQ(QvText("--bitmap-font topaz --layout '[u]ab' --out " + pam).status, 0);
    const std::string command = "pamchannel -infile " + pam + " 3 | pamtopnm -assume > " + alpha;
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(alpha, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.rfind("P5\n16 9\n255\n", 0), 0u) << bytes.substr(0, 16);
    const std::string pixels = bytes.substr(12);
    ASSERT_EQ(pixels.size(), 16u * 9u);
    // The underline fills row 7 under both characters; the extra row below stays clear.
    EXPECT_EQ(pixels.substr(7 * 16, 16), std::string(16, '\xFF'));
    EXPECT_EQ(pixels.substr(8 * 16, 16), std::string(16, '\0'));
}

}  // namespace
}  // namespace qv::testing

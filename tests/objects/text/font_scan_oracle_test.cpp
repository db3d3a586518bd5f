// The scan of the test font folder against fontTools: GetAvailableFonts and qvtext --list give
// exactly the faces, names, weights, slants and sizes that fontTools reads from the files, and
// no damaged file gives a face.
#include <string>
#include <vector>

#include "objects/fonts/font_scan.h"
#include "tests/objects/text/text_test_support.h"

namespace qv::testing {
namespace {

class FontScanOracle : public TextLibTest {
protected:
    void SetUp() override {
        TextLibTest::SetUp();
        QV_REQUIRE_TOOL(kPython);
        const ToolRun check = RunTool(std::string(kPython) + " -c 'import fontTools'");
        if (check.status != 0) GTEST_SKIP() << "python3-fonttools is missing";
    }

    // The oracle's lines, the damaged files' folder left out.
    std::vector<std::string> Expected() {
        const ToolRun run = RunTool(std::string(kPython) + " " +
                                    (TextTestDir() / "fixtures/scan_oracle.py").string() + " " +
                                    FontFolder() + " damaged");
        EXPECT_EQ(run.status, 0);
        return SplitLines(run.output);
    }
};

std::string SizesText(const Value& sizes) {
    std::string text;
    for (int i = 0; const Value* size = sizes.At(i); ++i)
        text += (i > 0 ? "," : "") + std::to_string(int(size->number));
    return text;
}

TEST_F(FontScanOracle, GetAvailableFontsListsWhatFontToolsReads) {
    const CallResult result = Call("GetAvailableFonts");
    ASSERT_EQ(result.code, 0);
    std::vector<std::string> listed;
    const Value& table = result.results.at(0);
    for (int i = 0; const Value* font = table.At(i); ++i) {
        listed.push_back(font->Field("name")->text + "|" + font->Field("family")->text + "|" +
                         std::to_string(int(font->Field("weight")->number)) + "|" +
                         std::to_string(int(font->Field("slant")->number)) + "|" +
                         std::to_string(int(font->Field("bitmap")->number)) + "|" +
                         SizesText(*font->Field("sizes")));
    }
    EXPECT_EQ(listed, Expected());
    EXPECT_EQ(table.entries.size(), listed.size()) << "indexed from 0 without gaps";
    EXPECT_EQ(ScannedFonts(), nullptr) << "the list is dropped again";
}

TEST_F(FontScanOracle, QvtextListsTheSame) {
    const ToolRun run =
        RunTool(std::string(QVTEXT_PATH) + " --fonts-dir " + FontFolder() + " --list");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(SplitLines(run.output), Expected());
}

TEST_F(FontScanOracle, DamagedFilesGiveNoFace) {
    ASSERT_EQ(ScanTrueTypeFonts(0), 0);
    int nodes = 0;
    for (const qvScannedFont* node = ScannedFonts(); node != nullptr; node = node->next, ++nodes)
        EXPECT_EQ(std::string(node->file).find("damaged"), std::string::npos) << node->file;
    EXPECT_GT(nodes, 10);
    FreeTrueTypeFontList();
}

}  // namespace
}  // namespace qv::testing

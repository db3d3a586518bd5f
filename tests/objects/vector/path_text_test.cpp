// Outline text in paths through the neighbours the player uses: the text library's current
// font, its vector-font handle made once and given back when the paths are freed.
#include "objects/fonts/font.h"
#include "objects/text/text_library.h"
#include "plugins/vectorgraphics/outline_text.h"
#include "runtime/plugin_api/service_table.h"
#include "tests/objects/vector/vector_test_support.h"

namespace qv::testing {
namespace {

void OpenTextAndPaths(qvVmState* L) {
    OpenLibraries<RegisterTextLibrary, RegisterVectorGraphicsLibrary>(L);
}

class PathText : public LibFixture {
protected:
    // The back end as the plugin starts it, with the player's FreeType.
    PathText() : LibFixture(OpenTextAndPaths) {
        UseVectorBackend(&kCairoBackend);
        vectorgraphics::UseFreeType(PluginAPI()->freetype);
    }
    ~PathText() override {
        FreeAllPaths(L);
        vectorgraphics::UseFreeType(nullptr);
        vectorgraphics::FreeAllVectorFonts();
        FreeAllTextObjects(L);
    }
    int AddText() { return Call("AddTextToPath", {Num(1), Str("Ab")}).code; }
};

TEST_F(PathText, TheCurrentTrueTypeFontKeepsOneHandleUntilThePathsAreFreed) {
    ASSERT_EQ(Call("StartPath", {Num(1)}).code, 0);
    ASSERT_EQ(Call("SetFont", {Str(":::default_sans"), Num(20)}).code, 0);
    qvFont* font = GetDefaultFont();
    ASSERT_EQ(font->engine, QV_FONTENGINE_TRUETYPE);
    ASSERT_EQ(AddText(), 0);
    const uint32_t handle = font->vectorFont;
    EXPECT_NE(handle, 0u);
    ASSERT_EQ(AddText(), 0);
    EXPECT_EQ(font->vectorFont, handle);

    // A bitmap font has no outlines; the TrueType font keeps its handle meanwhile.
    ASSERT_EQ(Call("SetFont", {Str(":::default_bitmap"), Num(8)}).code, 0);
    EXPECT_EQ(AddText(), ERR_VFONTTYPE);

    FreeAllPaths(L);
    EXPECT_EQ(font->vectorFont, 0u);
}

}  // namespace
}  // namespace qv::testing

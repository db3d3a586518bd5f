// Resources that an applet made by qvmkapplet declares are loaded before its program runs,
// with the sizes and options the declaration gives.
#include "tests/platform/picture_test_support.h"
#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class PreloadEndToEnd : public EndToEndTest {
protected:
    void Picture(const std::string& name, int width, int height) {
        ASSERT_TRUE(
            WritePng(scratch / name, width, height, PatternPixels(width, height, false), false));
    }
};

// A brush declared without a transparent colour or a global alpha gets neither: the two
// together would be refused.
TEST_F(PreloadEndToEnd, ABrushDeclaredWithDefaultsStarts) {
    Picture("pic.png", 12, 7);
    Applet("brush.qva", "brush_size", {"--preload", "1:1:pic.png", "--display", "1:16:16:B"});
    Expect(Player({"brush.qva", "-QUIET"}), "12 7\n", "", 0);
}

}  // namespace
}  // namespace qv::testing
